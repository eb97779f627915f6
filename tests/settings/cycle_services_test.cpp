// The three servo-cycle services of the dynamics settings: the drag power window, the vibration
// abatement flags handed to the drives, and the filter reset.
//
// Library statics start from zero because CTest runs every test in its own process.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <random>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/drag_lock_state.hpp"
#include "kxmc/kxmc_dynamics_settings.h"
#include "kxmc/kxmc_numerics.h"
#include "library_internals.hpp"
#include "payload/excitation_state.hpp"
#include "settings_fixture.hpp"

namespace {

using settings_test::library_object_as;
using settings_test::SettingsTest;

constexpr double kPi = 3.14159265358979323846;

// ---- Drag power window -------------------------------------------------------------------

// The 5-kg arm (model 101): motor sizes 25, 25, 25, 14, 14, 14.
class PowerWindow : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        mpb.ratedTorque25 = 1.27f;  // [N m]
        mpb.ratedTorque14 = 0.32f;
        rated_ = {1.27f, 1.27f, 1.27f, 0.32f, 0.32f, 0.32f};
    }

    // One cycle of random measured currents [per mille] and speeds [deg/cycle], both signs.
    double random_cycle(std::mt19937 &rng) {
        std::uniform_int_distribution<int> current(-800, 800);
        std::uniform_real_distribution<double> speed(-0.15, 0.15);  // up to 150 deg/s
        double sample = 0.0;  // sum over joints of |tau omega| [W]
        for (int j = 0; j < 6; ++j) {
            how.jointCurrent[j] = static_cast<int16_t>(current(rng));
            mpb.actualJointVel[j] = speed(rng);
            const double tau = how.jointCurrent[j] / 1000.0 * rated_[j] * 101.0;  // [N m]
            const double omega = mpb.actualJointVel[j] * 1000.0 * kPi / 180.0;   // [rad/s]
            sample += std::fabs(tau * omega);
        }
        return sample;
    }

    std::vector<float> rated_;
};

TEST_F(PowerWindow, ReportsZeroUntilFullThenTheMeanOfTheLastHundred) {
    std::mt19937 rng(20240611);
    std::deque<double> window;
    const double tau[6] = {9, 9, 9, 9, 9, 9};  // not used by the measurement
    for (int call = 1; call <= 450; ++call) {
        SCOPED_TRACE("call " + std::to_string(call));
        window.push_back(random_cycle(rng));
        if (window.size() > 100) {
            window.pop_front();
        }
        double power = -1.0;
        ASSERT_EQ(qmcPowerReal(tau, &power), 0);
        if (call <= 100) {
            ASSERT_EQ(power, 0.0);
            continue;
        }
        double sum = 0.0;
        for (double p : window) {
            sum += p;
        }
        ASSERT_NEAR(power, sum / 100.0, 1e-6 * sum / 100.0 + 1e-9);
    }
}

TEST_F(PowerWindow, EmptiedWindowStartsOverAndACorruptCountIsHarmless) {
    auto *count = library_object_as<int32_t>("powerCount");
    auto *slots = library_object_as<float>("powerIntegral");
    ASSERT_NE(count, nullptr);
    ASSERT_NE(slots, nullptr);
    how.jointCurrent[0] = 400;
    mpb.actualJointVel[0] = 0.1;
    double power = 0.0;
    for (int call = 0; call < 150; ++call) {
        qmcPowerReal(nullptr, &power);
    }
    EXPECT_GT(power, 0.0);

    // What the torque control does on a trip.
    *count = 0;
    std::memset(slots, 0, 100 * sizeof(float));
    for (int call = 1; call <= 100; ++call) {
        qmcPowerReal(nullptr, &power);
        ASSERT_EQ(power, 0.0) << "call " << call;
    }
    qmcPowerReal(nullptr, &power);
    EXPECT_GT(power, 0.0);

    // A count outside the window is never used as an index.
    for (int32_t bad : {-5, 101, std::numeric_limits<int32_t>::max()}) {
        *count = bad;
        EXPECT_EQ(qmcPowerReal(nullptr, &power), 0);
        EXPECT_GE(*count, 0);
        EXPECT_LE(*count, 100);
    }
}

// ---- Vibration abatement -----------------------------------------------------------------

std::vector<double> last_gain_flags() {
    const std::vector<kxsim::Call> calls = kxsim::calls("kxHalSetVarGainFactor");
    return calls.empty() ? std::vector<double>{} : calls.back().args;
}

TEST_F(SettingsTest, VibrationSmootherInitialisedOnFirstCallOnly) {
    // A constant feed of 0.72 deg/s^2 on every joint of the 5-kg arm (limit 360 deg/s^2) at full
    // speed ratio: the smoothed value after n calls is 0.72 (1 - (10/11)^n), and the ratio
    // 1000 a / 360 reaches 1 at n = 8. Without initialisation the smoother would stay at 0.
    mcb.speedRatioA = 1.0;
    for (double &a : mpb.feedJointAcc) {
        a = 0.72e-6;  // [deg/cycle^2]
    }
    for (int n = 1; n <= 12; ++n) {
        SCOPED_TRACE("call " + std::to_string(n));
        float out[6] = {};
        ASSERT_EQ(kxmcVibrateAbateControl(out), 0);
        const double smoothed = 0.72 * (1.0 - std::pow(10.0 / 11.0, n));  // [deg/s^2]
        const double ratio = std::min(smoothed / 360.0 * 1000.0, 1.0);
        const double flag = n >= 8 ? 1.0 : 0.0;
        EXPECT_NEAR(out[0], ratio, 1e-5);
        EXPECT_EQ(last_gain_flags(), std::vector<double>(6, flag));
    }
    EXPECT_NEAR(lowpassfilter.alpha, 1.0 / 11.0, 1e-7);
    EXPECT_EQ(kxsim::calls("kxHalSetVarGainFactor").size(), 12u);
}

struct VibrationCase {
    const char *name;
    uint32_t model;
    double speedRatio;
    double acc[6];    // smoothed feed [deg/s^2]
    float out[6];     // expected ratios
    double flag[6];   // expected flags
};

void PrintTo(const VibrationCase &c, std::ostream *os) { *os << c.name; }

class VibrationFlags : public SettingsTest, public ::testing::WithParamInterface<VibrationCase> {};

TEST_P(VibrationFlags, RelateTheFeedToTheJointLimits) {
    const VibrationCase &c = GetParam();
    mcb.robotModelCode = c.model;
    mcb.speedRatioA = c.speedRatio;
    float scratch[6];
    kxmcVibrateAbateControl(scratch);  // first call initialises the smoother
    // Let the smoother pass the feed through unchanged, so each case sets the value directly.
    lowpassfilter.alpha = 1.0f;
    for (float &p : lowpassfilter.prev) {
        p = 0.0f;
    }
    for (int j = 0; j < 6; ++j) {
        mpb.feedJointAcc[j] = c.acc[j] * 1e-6;  // [deg/cycle^2]
    }
    kxsim::clear_journal();

    float out[6] = {};
    EXPECT_EQ(kxmcVibrateAbateControl(out), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_NEAR(out[j], c.out[j], 1e-4 * std::fabs(c.out[j]) + 1e-6) << "joint " << j + 1;
    }
    ASSERT_EQ(kxsim::calls("kxHalSetVarGainFactor").size(), 1u);
    EXPECT_EQ(last_gain_flags(), std::vector<double>(c.flag, c.flag + 6));
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, VibrationFlags,
    ::testing::Values(
        // Exactly zero reads as "at rest": 1000, flag 1.
        VibrationCase{"AtRest", 101, 1.0, {0, 0, 0, 0, 0, 0},
                      {1000, 1000, 1000, 1000, 1000, 1000}, {1, 1, 1, 1, 1, 1}},
        // 5-kg arm, limit 360: above the limit saturates at 1; a ratio between -1 and 1
        // truncates to flag 0; below -1 the ratio is not clipped and gives flag 1.
        VibrationCase{"FiveKgArm", 101, 1.0, {0.37, 360, 0.1, -0.1, -0.37, -720},
                      {1, 1, 0.1f / 0.36f, -0.1f / 0.36f, -0.37f / 0.36f, -2000},
                      {1, 1, 0, 0, 1, 1}},
        // 10-kg arm (limits 240, 240, 360, ...) at half speed: 120, 120, 180, 180, 180, 180.
        VibrationCase{"TenKgArmHalfSpeed", 201, 0.5, {0.1, 0.13, 0.1, 0.2, 0.179, 0.0},
                      {0.1f / 0.12f, 1, 0.1f / 0.18f, 1, 0.179f / 0.18f, 1000},
                      {0, 1, 0, 1, 0, 1}},
        // Heavy arm (limits 120, 120, 120, 360, 360, 360).
        VibrationCase{"HeavyArm", 1001, 1.0, {0.125, 0.119, 0.2, 0.37, 0.35, 1},
                      {1, 0.119f / 0.12f, 1, 1, 0.35f / 0.36f, 1}, {1, 0, 1, 1, 0, 1}},
        // No usable limit (speed ratio 0 or NaN): the acceleration counts as saturated.
        VibrationCase{"SpeedRatioZero", 101, 0.0, {0.1, -0.1, 0, 0.1, 0.1, 0.1},
                      {1, 1, 1000, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
        VibrationCase{"SpeedRatioNaN", 101, kNaN, {0.1, 0.1, 0.1, 0.1, 0.1, 0},
                      {1, 1, 1, 1, 1, 1000}, {1, 1, 1, 1, 1, 1}},
        // A NaN feed is not taken into the smoother: the previous output (rest) repeats.
        VibrationCase{"NaNFeed", 101, 1.0, {kNaN, 0.1, kNaN, 0.1, 0.1, 0.1},
                      {1000, 0.1f / 0.36f, 1000, 0.1f / 0.36f, 0.1f / 0.36f, 0.1f / 0.36f},
                      {1, 0, 1, 0, 0, 0}}),
    settings_test::CaseName());

// ---- Filter reset ------------------------------------------------------------------------

struct ResetCase {
    const char *name;
    int32_t active;         // solveX.active
    uint8_t teachEnable;    // mcb.newTeachEnable
    bool clearsTeach;       // filt, filt1, cpd
    bool clearsDynamics;    // filt2, filt3, filt4
};

void PrintTo(const ResetCase &c, std::ostream *os) { *os << c.name; }

class FilterReset : public SettingsTest, public ::testing::WithParamInterface<ResetCase> {};

bool all_bytes(const void *p, std::size_t n, unsigned char value) {
    const auto *b = static_cast<const unsigned char *>(p);
    for (std::size_t i = 0; i < n; ++i) {
        if (b[i] != value) {
            return false;
        }
    }
    return true;
}

TEST_P(FilterReset, ClearsWhatTheModeUses) {
    const ResetCase &c = GetParam();
    const char *teach[] = {"filt", "filt1"};
    const char *dynamics[] = {"filt2", "filt3", "filt4"};
    const char *others[] = {"filt5", "filt6"};
    auto *cpd_ref = library_object_as<kxmc::DragLockReference>("cpd");
    auto *solution = library_object_as<kxmc::ExcitationSolution>("solveX");
    ASSERT_NE(cpd_ref, nullptr) << "the test needs an unstripped library";
    ASSERT_NE(solution, nullptr);

    constexpr unsigned char kFill = 0x5A;
    for (const char *name : {"filt", "filt1", "filt2", "filt3", "filt4", "filt5", "filt6"}) {
        auto *rec = library_object_as<FilterHistory>(name);
        ASSERT_NE(rec, nullptr) << name;
        std::memset(rec, kFill, sizeof *rec);
    }
    std::memset(cpd_ref, kFill, sizeof *cpd_ref);
    std::memset(solution->theta, kFill, sizeof solution->theta);
    solution->active = c.active;
    mcb.newTeachEnable = c.teachEnable;

    EXPECT_EQ(kxmcdynfiltresert(), 0);

    for (const char *name : teach) {
        EXPECT_TRUE(all_bytes(library_object_as<FilterHistory>(name), sizeof(FilterHistory),
                              c.clearsTeach ? 0 : kFill))
            << name;
    }
    EXPECT_TRUE(all_bytes(cpd_ref, sizeof *cpd_ref, c.clearsTeach ? 0 : kFill));
    for (const char *name : dynamics) {
        EXPECT_TRUE(all_bytes(library_object_as<FilterHistory>(name), sizeof(FilterHistory),
                              c.clearsDynamics ? 0 : kFill))
            << name;
    }
    for (const char *name : others) {
        EXPECT_TRUE(all_bytes(library_object_as<FilterHistory>(name), sizeof(FilterHistory), kFill))
            << name;
    }
    // The identification's own data is never touched.
    EXPECT_EQ(solution->active, c.active);
    EXPECT_TRUE(all_bytes(solution->theta, sizeof solution->theta, kFill));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterReset,
    ::testing::Values(ResetCase{"GravityOnly", 0, 0, true, false},
                      ResetCase{"GravityTest", 0, 1, true, false},
                      ResetCase{"FullDynamics", 0, 2, true, true},
                      ResetCase{"IdentificationRunning", 1, 0, false, false},
                      ResetCase{"IdentificationRunningFullDynamics", 1, 2, false, true},
                      ResetCase{"AnyNonZeroActiveFlag", -1, 1, false, false}),
    settings_test::CaseName());

}  // namespace
