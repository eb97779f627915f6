// The three servo-cycle services of the dynamics settings: the drag power window, the vibration
// abatement flags handed to the drives, and the filter reset. Library statics start from zero
// because CTest runs every test in its own process.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "dynamics/arm_parameters.hpp"
#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "kxmc/kxmc_dynamics_settings.h"
#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace {

class Services : public kxsim_test::HostFixture {
   protected:
    uint32_t model_code() const override { return 101; }  // the 5-kg arm
};

// ---- Drag power window: sum of |tau omega| over the joints, mean of the last 100 cycles ----

// One cycle of random measured currents [per mille] and speeds [deg/cycle]; returns the power [W]
// of the 5-kg arm (the host's rated torques 1.27 and 0.32 N m, gear ratio 101).
double random_cycle(std::mt19937 &rng) {
    const float rated[6] = {1.27f, 1.27f, 1.27f, 0.32f, 0.32f, 0.32f};
    double sample = 0.0;
    for (int j = 0; j < 6; ++j) {
        how.jointCurrent[j] =
            static_cast<int16_t>(std::uniform_int_distribution<int>(-800, 800)(rng));
        mpb.actualJointVel[j] = std::uniform_real_distribution<double>(-0.15, 0.15)(rng);
        sample += std::fabs(how.jointCurrent[j] * rated[j] * 101.0 * mpb.actualJointVel[j] *
                            3.14159265358979323846 / 180.0);
    }
    return sample;
}

TEST_F(Services, PowerIsZeroUntilTheWindowIsFullThenTheMeanOfTheLastHundred) {
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
    struct Case {
        const char *name;
        uint32_t model;
        double speedRatio;
        std::array<double, 6> acc;  // smoothed feed [deg/s^2]
        std::array<float, 6> out;   // expected ratios
        std::array<double, 6> flag;
    };
    using D = std::array<double, 6>;
    using F = std::array<float, 6>;
    const Case cases[] = {
        // Exactly zero reads as "at rest": 1000, flag 1.
        Case{"AtRest", 101, 1.0, D{}, F{1000, 1000, 1000, 1000, 1000, 1000}, D{1, 1, 1, 1, 1, 1}},
        // Limit 360: above it saturates at 1; a ratio between -1 and 1 truncates to flag 0; below
        // -1 the ratio is not clipped and gives flag 1.
        Case{"FiveKgArm", 101, 1.0, D{0.37, 360, 0.1, -0.1, -0.37, -720},
             F{1, 1, 0.1f / 0.36f, -0.1f / 0.36f, -0.37f / 0.36f, -2000}, D{1, 1, 0, 0, 1, 1}},
        // 10-kg arm (limits 240, 240, 360, ...) at half speed: 120, 120, 180, 180, 180, 180.
        Case{"TenKgArmHalfSpeed", 201, 0.5, D{0.1, 0.13, 0.1, 0.2, 0.179, 0.0},
             F{0.1f / 0.12f, 1, 0.1f / 0.18f, 1, 0.179f / 0.18f, 1000}, D{0, 1, 0, 1, 0, 1}},
        // No usable limit: the acceleration counts as saturated.
        Case{"SpeedRatioNaN", 101, kNaN, D{0.1, 0.1, 0.1, 0.1, 0.1, 0}, F{1, 1, 1, 1, 1, 1000},
             D{1, 1, 1, 1, 1, 1}},
        // A NaN feed is not taken into the smoother: the previous output (rest) repeats.
        Case{"NaNFeed", 101, 1.0, D{kNaN, 0.1, kNaN, 0.1, 0.1, 0.1},
             F{1000, 0.1f / 0.36f, 1000, 0.1f / 0.36f, 0.1f / 0.36f, 0.1f / 0.36f},
             D{1, 0, 1, 0, 0, 0}},
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
        for (int j = 0; j < 6; ++j)
            EXPECT_NEAR(out[j], c.out[j], 1e-4 * std::fabs(c.out[j]) + 1e-6) << j;
        ASSERT_EQ(kxsim::calls("kxHalSetVarGainFactor").size(), 1u);
        EXPECT_EQ(last_gain_flags(), std::vector<double>(c.flag.begin(), c.flag.end()));
    }
}

// ---- Filter reset ----------------------------------------------------------------------------

// The reset restarts the gravity-test law's filter from the pose of the next sample and, in full
// dynamics only, the dual-encoder detector's warm-up; the load filters of the dynamics block run
// on.
TEST_F(Services, FilterResetRestartsWhatTheModeUses) {
    const auto &set = kxmc::standard_arm_parameters(101);
    const double a[6] = {0, -80, 70, -60, 80, 10}, b[6] = {30, -40, 20, 10, 50, -30};
    const double gain[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    for (const uint8_t mode : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << "torque mode " << int{mode});
        restart(101);
        mcb.newTeachEnable = mode;
        ASSERT_EQ(kxmcdynfiltresert(), 0);
        double first[6], after[6], tau[6], diag[36];
        ASSERT_EQ(kxmcteachcontrol10_gravitytest(0, 0, gain, b, first, 201), 0);
        for (int n = 0; n < 20; ++n) kxmcteachcontrol10_gravitytest(0, 0, gain, a, tau, 201);
        std::fill_n(how.jointCurrent, 6, 300);  // [per mille]
        for (int n = 0; n < 3000; ++n) {
            kxqmckxdynamicblock(a, 0, 0, 0, 0, tau, set.lengths, set.masses, set.centres,
                                set.inertias, set.rotor, nullptr, diag);
        }
        const double settled = torque[0];
        for (int n = 0; n < 120; ++n) kxmcCollisionDetection(0, nullptr);
        mpb.collisionThrDisplay[0] = -1.0;

        ASSERT_EQ(kxmcdynfiltresert(), 0);
        ASSERT_EQ(kxmcteachcontrol10_gravitytest(0, 0, gain, b, after, 201), 0);
        for (int j = 0; j < 6; ++j) EXPECT_EQ(after[j], first[j]) << "joint " << j + 1;
        kxmcCollisionDetection(0, nullptr);
        EXPECT_EQ(mpb.collisionThrDisplay[0] == -1.0, mode == 2) << "warm-up restarted";
        kxqmckxdynamicblock(a, 0, 0, 0, 0, tau, set.lengths, set.masses, set.centres, set.inertias,
                            set.rotor, nullptr, diag);
        EXPECT_NEAR(torque[0], settled, 1e-6 * std::fabs(settled)) << "load filter runs on";
    }
}

}  // namespace
