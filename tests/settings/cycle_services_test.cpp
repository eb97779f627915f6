// The three servo-cycle services of the dynamics settings: the drag power window, the vibration
// abatement flags handed to the drives, and the filter reset. Library statics start from zero
// because CTest runs every test in its own process.
#include <elf.h>
#include <link.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/drag_lock_state.hpp"
#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "kxmc/kxmc_dynamics_settings.h"
#include "kxmc/kxmc_numerics.h"
#include "payload/excitation_state.hpp"
#include "simhost/kxsimhost.hpp"

namespace {

// Address of a hidden object of the loaded libkxmcforcetorque (global-namespace C++ names are
// not mangled): its value in the file's full symbol table, relocated by the load address.
template <class T>
T *library_object(const std::string &name) {
    std::pair<std::string, ElfW(Addr)> lib;
    dl_iterate_phdr(
        [](dl_phdr_info *info, std::size_t, void *out) {
            if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, "libkxmcforcetorque.so") == nullptr) return 0;
            *static_cast<std::pair<std::string, ElfW(Addr)> *>(out) = {info->dlpi_name, info->dlpi_addr};
            return 1;
        },
        &lib);
    std::ifstream file(lib.first, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < sizeof(ElfW(Ehdr))) return nullptr;
    const auto *header = reinterpret_cast<const ElfW(Ehdr) *>(bytes.data());
    const auto *sections = reinterpret_cast<const ElfW(Shdr) *>(bytes.data() + header->e_shoff);
    for (std::size_t s = 0; s < header->e_shnum; ++s) {
        const auto *syms = reinterpret_cast<const ElfW(Sym) *>(bytes.data() + sections[s].sh_offset);
        const char *names = bytes.data() + sections[sections[s].sh_link].sh_offset;
        for (std::size_t k = 0; sections[s].sh_type == SHT_SYMTAB && k < sections[s].sh_size / sizeof *syms; ++k)
            if (ELF64_ST_TYPE(syms[k].st_info) == STT_OBJECT && name == names + syms[k].st_name)
                return reinterpret_cast<T *>(lib.second + syms[k].st_value);
    }
    return nullptr;
}

class Services : public kxsim_test::HostFixture {
protected:
    uint32_t model_code() const override { return 101; }  // the 5-kg arm
};

// ---- Drag power window: |tau omega| summed over the joints, averaged over the last 100 cycles ----

// One cycle of random measured currents [per mille] and speeds [deg/cycle]; returns the power [W]
// of the 5-kg arm (the host's rated torques 1.27 and 0.32 N m, gear ratio 101).
double random_cycle(std::mt19937 &rng) {
    const float rated[6] = {1.27f, 1.27f, 1.27f, 0.32f, 0.32f, 0.32f};
    double sample = 0.0;
    for (int j = 0; j < 6; ++j) {
        how.jointCurrent[j] = static_cast<int16_t>(std::uniform_int_distribution<int>(-800, 800)(rng));
        mpb.actualJointVel[j] = std::uniform_real_distribution<double>(-0.15, 0.15)(rng);
        sample += std::fabs(how.jointCurrent[j] * rated[j] * 101.0 * mpb.actualJointVel[j] * 3.14159265358979323846 / 180.0);
    }
    return sample;
}

TEST_F(Services, PowerIsZeroUntilTheWindowIsFullThenTheMeanOfTheLastHundredAndSurvivesACorruptCount) {
    std::mt19937 rng(20240611);
    std::deque<double> window;
    for (int call = 1; call <= 450; ++call) {
        window.push_back(random_cycle(rng));
        if (window.size() > 100) window.pop_front();
        double power = -1.0;
        ASSERT_EQ(qmcPowerReal(nullptr, &power), 0);
        const double mean = std::accumulate(window.begin(), window.end(), 0.0) / 100.0;
        ASSERT_NEAR(power, call <= 100 ? 0.0 : mean, 1e-6 * mean + 1e-9) << "call " << call;
    }
    // A window count outside 0..100 (a corrupted static) is never used as an index.
    auto *count = library_object<int32_t>("powerCount");
    ASSERT_NE(count, nullptr) << "the test needs an unstripped library";
    for (int32_t bad : {-5, 101, std::numeric_limits<int32_t>::max()}) {
        *count = bad;
        double power = -1.0;
        EXPECT_TRUE(qmcPowerReal(nullptr, &power) == 0 && std::isfinite(power));
        EXPECT_TRUE(*count >= 0 && *count <= 100) << *count;
    }
}

// ---- Vibration abatement ---------------------------------------------------------------------

std::vector<double> last_gain_flags() {
    const std::vector<kxsim::Call> calls = kxsim::calls("kxHalSetVarGainFactor");
    return calls.empty() ? std::vector<double>{} : calls.back().args;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST_F(Services, VibrationSmootherInitialisedOnFirstCallAndFlagsRelateTheFeedToTheJointLimits) {
    // A constant feed of 0.72 deg/s^2 on every joint (limit 360 deg/s^2) at full speed ratio: the
    // smoothed value after n calls is 0.72 (1 - (10/11)^n), and the ratio 1000 a / 360 reaches 1
    // at n = 8. Without initialisation the smoother would stay at 0.
    mcb.speedRatioA = 1.0;
    for (double &a : mpb.feedJointAcc) a = 0.72e-6;  // [deg/cycle^2]
    for (int n = 1; n <= 12; ++n) {
        float out[6] = {};
        ASSERT_EQ(kxmcVibrateAbateControl(out), 0);
        const double smoothed = 0.72 * (1.0 - std::pow(10.0 / 11.0, n));  // [deg/s^2]
        EXPECT_NEAR(out[0], std::min(smoothed / 360.0 * 1000.0, 1.0), 1e-5) << n;
        EXPECT_EQ(last_gain_flags(), std::vector<double>(6, n >= 8 ? 1.0 : 0.0)) << n;
    }
    EXPECT_EQ(kxsim::calls("kxHalSetVarGainFactor").size(), 12u);
    // acc: smoothed feed [deg/s^2]; out, flag: expected ratios and flags.
    const struct { const char *name; uint32_t model; double speedRatio, acc[6]; float out[6]; double flag[6]; } cases[] = {
        // Exactly zero reads as "at rest": 1000, flag 1.
        {"AtRest", 101, 1.0, {0, 0, 0, 0, 0, 0}, {1000, 1000, 1000, 1000, 1000, 1000}, {1, 1, 1, 1, 1, 1}},
        // Limit 360: above it saturates at 1; a ratio between -1 and 1 truncates to flag 0; below
        // -1 the ratio is not clipped and gives flag 1.
        {"FiveKgArm", 101, 1.0, {0.37, 360, 0.1, -0.1, -0.37, -720},
         {1, 1, 0.1f / 0.36f, -0.1f / 0.36f, -0.37f / 0.36f, -2000}, {1, 1, 0, 0, 1, 1}},
        // 10-kg arm (limits 240, 240, 360, ...) at half speed: 120, 120, 180, 180, 180, 180.
        {"TenKgArmHalfSpeed", 201, 0.5, {0.1, 0.13, 0.1, 0.2, 0.179, 0.0},
         {0.1f / 0.12f, 1, 0.1f / 0.18f, 1, 0.179f / 0.18f, 1000}, {0, 1, 0, 1, 0, 1}},
        // No usable limit: the acceleration counts as saturated.
        {"SpeedRatioNaN", 101, kNaN, {0.1, 0.1, 0.1, 0.1, 0.1, 0}, {1, 1, 1, 1, 1, 1000}, {1, 1, 1, 1, 1, 1}},
        // A NaN feed is not taken into the smoother: the previous output (rest) repeats.
        {"NaNFeed", 101, 1.0, {kNaN, 0.1, kNaN, 0.1, 0.1, 0.1},
         {1000, 0.1f / 0.36f, 1000, 0.1f / 0.36f, 0.1f / 0.36f, 0.1f / 0.36f}, {1, 0, 1, 0, 0, 0}},
    };
    float out[6];
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        mcb.robotModelCode = c.model;
        mcb.speedRatioA = c.speedRatio;
        lowpassfilter.alpha = 1.0f;  // the smoother passes the feed through unchanged
        for (float &p : lowpassfilter.prev) p = 0.0f;
        for (int j = 0; j < 6; ++j) mpb.feedJointAcc[j] = c.acc[j] * 1e-6;  // [deg/cycle^2]
        kxsim::clear_journal();
        EXPECT_EQ(kxmcVibrateAbateControl(out), 0);
        for (int j = 0; j < 6; ++j) EXPECT_NEAR(out[j], c.out[j], 1e-4 * std::fabs(c.out[j]) + 1e-6) << j;
        ASSERT_EQ(kxsim::calls("kxHalSetVarGainFactor").size(), 1u);
        EXPECT_EQ(last_gain_flags(), std::vector<double>(c.flag, c.flag + 6));
    }
}

// ---- Filter reset ----------------------------------------------------------------------------

bool all_bytes(const void *p, std::size_t n, char value) { return std::string(static_cast<const char *>(p), n) == std::string(n, value); }

// The teach filters and drag lock reference are cleared unless an identification runs; the
// dynamics filters only in full dynamics; the identification's own data never.
TEST_F(Services, FilterResetClearsWhatTheModeUses) {
    const struct { int32_t active; uint8_t teachEnable; bool clearsTeach, clearsDynamics; } cases[] = {
        {0, 1, true, false}, {0, 2, true, true}, {1, 2, false, true}, {-1, 1, false, false}};
    auto *cpd_ref = library_object<kxmc::DragLockReference>("cpd");
    auto *solution = library_object<kxmc::ExcitationSolution>("solveX");
    ASSERT_TRUE(cpd_ref != nullptr && solution != nullptr) << "the test needs an unstripped library";
    const char *names[] = {"filt", "filt1", "filt2", "filt3", "filt4", "filt5", "filt6"};
    FilterHistory *filters[7];
    for (int f = 0; f < 7; ++f) ASSERT_NE(filters[f] = library_object<FilterHistory>(names[f]), nullptr) << names[f];
    for (const auto &c : cases) {
        for (FilterHistory *f : filters) std::memset(f, 0x5A, sizeof *f);
        std::memset(cpd_ref, 0x5A, sizeof *cpd_ref);
        std::memset(solution->theta, 0x5A, sizeof solution->theta);
        solution->active = c.active;
        mcb.newTeachEnable = c.teachEnable;
        EXPECT_EQ(kxmcdynfiltresert(), 0);
        for (int f = 0; f < 7; ++f) {
            const bool cleared = f < 2 ? c.clearsTeach : f < 5 ? c.clearsDynamics : false;
            EXPECT_TRUE(all_bytes(filters[f], sizeof(FilterHistory), cleared ? 0 : 0x5A))
                << names[f] << " active " << c.active << " mode " << int{c.teachEnable};
        }
        EXPECT_TRUE(all_bytes(cpd_ref, sizeof *cpd_ref, c.clearsTeach ? 0 : 0x5A));
        EXPECT_EQ(solution->active, c.active);
        EXPECT_TRUE(all_bytes(solution->theta, sizeof solution->theta, 0x5A));
    }
}

}  // namespace
