// Dual-encoder collision detection driven through the simulated host: encoder counts in, the
// published thresholds, collision code word, host actions and log lines out.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "kxmc/kxmc_dual_encoder.h"
#include "simhost/kxsimhost.hpp"

namespace {

constexpr double kCountsPerDeg = 16384.0 * 101.0 / 360.0;  // motor counts per joint degree
constexpr int kWarmUpSteps = 100;
constexpr double kUnpublished = -1.0;
const uint32_t kNone = KXMC_COLLISION_NONE, kJ1 = kNone + 1;

// Deflection signal: a sine of `amplitude` [deg] and `period` [steps] on 0-based `joint` (and
// optionally a second), the period numbered `spike_period` (-1 none) raised by `extra` [deg],
// whole (half 0), crest only (+1) or trough only (-1).
struct Signal {
    int joint = 0, period = 48, spike_period = -1, half = 0, second_joint = -1;
    double amplitude = 0.5, extra = 0.0;

    double at(int step) const {
        const double s = std::sin(2.0 * 3.14159265358979 * (step + 0.37) / period);
        const bool raised = step / period == spike_period && (half == 0 || (half > 0) == (s > 0.0));
        return (amplitude + (raised ? extra : 0.0)) * s;
    }
};

// Encoder B ahead of encoder A by `deg` of joint deflection, on an arbitrary common offset.
void set_deflection(int joint, double deg) {
    how.encoderPosA[joint] = 1000000 + joint;
    how.encoderPosB[joint] =
        1000000 + joint + static_cast<int32_t>(std::lround(deg * kCountsPerDeg));
}

class DualEncoder : public kxsim_test::HostFixture {
   protected:
    void start(uint32_t model_code) {
        restart(model_code);
        mpb.robotState = 2;
        mcb.collisionPauseFlag = 1;  // warn only: code word, no reaction
        for (int i = 0; i < 6; ++i) {
            mpb.collisionThrSource[i] = 7;
            mpb.collisionThrDisplay[i] = kUnpublished;
            set_deflection(i, 0.0);
        }
        initCollisionDetection();
        kxsim::clear_journal();
    }

    // Runs `steps` detector steps on the signal, publishing joint step % 6. Returns the step at
    // which a collision code first appeared, or -1.
    int run(const Signal &sig, int steps, int first_step = 0) {
        for (int n = first_step; n < first_step + steps; ++n) {
            for (int i = 0; i < 6; ++i)
                set_deflection(i, i == sig.joint || i == sig.second_joint ? sig.at(n) : 0.0);
            kxmcCollisionDetection(n % 6, speed_);
            if (mcb.collisionErrorCode != kNone) return n;
        }
        return -1;
    }

    float speed_[6] = {};
};

// ---- Warm-up ------------------------------------------------------------------------------

// Nothing is evaluated or published during the first 100 steps, again after a restart.
TEST_F(DualEncoder, WarmUpHidesTheFirstHundredSteps) {
    start(0);
    for (int restart = 0; restart < 2; ++restart) {
        for (int n = 0; n < kWarmUpSteps; ++n) {
            set_deflection(0, ((n / 6) % 2 ? 3.0 : -2.0) * (1 + (n / 12) % 3));  // wild swings
            kxmcCollisionDetection(0, speed_);
            ASSERT_EQ(mpb.collisionThrDisplay[0], kUnpublished) << "step " << n;
            ASSERT_EQ(mcb.collisionErrorCode, kNone) << "step " << n;
        }
        kxmcCollisionDetection(0, speed_);  // step 101 evaluates and publishes
        EXPECT_NEAR(mpb.collisionThrDisplay[0], 25.0 / 410.0, 1e-12);
        EXPECT_EQ(mpb.collisionThrSource[0], 0);
        initCollisionDetection();
        mpb.collisionThrDisplay[0] = kUnpublished;
    }
}

// ---- Peak and valley evaluation --------------------------------------------------------------

// A steady sine far above every threshold is no collision (its peaks repeat); one raised crest
// (half +1), trough (-1) or period (0) is reported in that period, shortly after its extremum.
// Model code 0: joints 1-3 threshold 25/410 = 0.061 deg at level 1, 100/410 = 0.244 at level 10;
// joints 4-6 8.5/52 = 0.163 deg at level 1 but never reported.
TEST_F(DualEncoder, RaisedPeakOrValleyAgainstThreshold) {
    struct Case {
        int joint, half;
        double extra;
        float level;
        uint32_t expected_code;
        int second_joint;
    };
    const Case cases[] = {// extra [deg]; with two joints raised the lower one is reported
                          {0, +1, 0.2, 1, kJ1, -1},      {0, -1, 0.2, 1, kJ1, -1},
                          {0, +1, 0.03, 1, kNone, -1},   {0, 0, 0.15, 10, kNone, -1},
                          {1, 0, 0.5, 1, kNone + 2, -1}, {2, 0, 0.5, 1, kNone + 3, -1},
                          {2, 0, 0.5, 1, kNone + 2, 1},  {3, 0, 0.5, 1, kNone, -1},
                          {4, 0, 0.5, 1, kNone, -1},     {5, 0, 0.5, 1, kNone, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "joint " << c.joint + 1 << " extra " << c.extra << " half " << c.half);
        start(0);
        mpb.collisionLevel[c.joint] = c.level;
        Signal sig;
        sig.joint = c.joint;
        sig.second_joint = c.second_joint;
        ASSERT_EQ(run(sig, 600), -1);
        sig.spike_period = 14;
        sig.extra = c.extra;
        sig.half = c.half;
        const int hit = run(sig, 300, 600);
        EXPECT_EQ(mcb.collisionErrorCode, c.expected_code);
        if (c.expected_code != kNone) {
            EXPECT_GE(hit, 14 * sig.period);
            EXPECT_LT(hit, 15 * sig.period + 10);  // filter delay
        }
    }
}

// A slow oscillation whose amplitude grows by `step` every period: the newest peak departs from
// the mean of the four before it by 2.5 steps (from the four oldest it would be 3.5 steps), seen
// through the filter's gain at rest of 0.9916. 3 % below the threshold passes, 3 % above is a
// collision.
TEST_F(DualEncoder, GrowingOscillationIsMeasuredAgainstThePreviousFourPeaks) {
    const double thr = 25.0 / 410.0;  // [deg] joint 1, level 1, no load
    for (const double factor : {0.97, 1.03}) {
        start(0);
        const double step = factor * thr / (2.5 * 0.9916);
        int hit = -1;
        for (int n = 0; n < 12 * 240 && hit < 0; ++n) {
            Signal s;
            s.period = 240;
            s.amplitude = 0.3 + step * (n / s.period);
            hit = run(s, 1, n);
        }
        EXPECT_EQ(hit >= 0, factor > 1.0) << "growth " << step;
    }
}

// ---- Thresholds per model band, joint, level and speed ----------------------------------------

// Only the joint named in the step is published; the others keep their value.
TEST_F(DualEncoder, PublishedThresholdPerModelJointLevelAndSpeed) {
    struct Case {
        uint32_t model;
        int joint;
        float level, speed;
        double expected;
    };  // speed [deg/s], 0: null
    // Model code 0 (speed edges belong to the lower band); 3-kg, 5-kg, 10- and 16-kg arms; large
    // arms, the shoulder divisor with four values over three edges, the band's first code; any
    // other model code; levels 1.0 to 1.99 share the first entry, out of range and NaN stay in the
    // table; a speed that is not a number counts as standstill.
    const Case cases[] = {{0, 1, 1, 40, 25.0 / 410},         {0, 2, 1, 40.5f, 25.0 / 700},
                          {0, 0, 1, 70.5f, 25.0 / 900},      {0, 3, 10, 20, 32.0 / 140},
                          {1, 0, 5, 1, 40.0 / 195},          {100, 1, 5, 7, 40.0 / 308},
                          {50, 3, 2, 12.5f, 10.5 / 170},     {150, 1, 3, 16, 41.0 / 712.5},
                          {200, 4, 1, 100, 8.5 / 85},        {250, 0, 4, 111, 185.0 / 2738},
                          {250, 1, 7, 111, 275.0 / 2738},    {203, 3, 1, 6, 16.0 / 39.6},
                          {450, 0, 1, 50, 170.0 / 5804},     {450, 0, 1, 100, 170.0 / 8360},
                          {450, 1, 1, -300, 170.0 / 7274.7}, {1001, 0, 1, 701, 170.0 / 9274.7},
                          {1100, 2, 1, 30, 55.0 / 1630},     {1100, 2, 1, 108.5f, 55.0 / 2738},
                          {500, 4, 1, 49, 24.0 / 900},
                          {500, 5, 9, 49, 84.0 / 900},       {401, 1, 1, 50, 170.0 / 5804},
                          {600, 0, 1, 16, 25.0 / 700},       {9999, 4, 1, 0, 8.5 / 52},
                          {0, 0, 1.99f, 0, 25.0 / 410},      {0, 0, 2, 0, 33.0 / 410},
                          {0, 0, -4, 0, 25.0 / 410},         {0, 0, NAN, 0, 25.0 / 410},
                          {450, 4, 11, 0, 91.0 / 410},       {450, 0, 1, NAN, 170.0 / 5804}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.model << " joint " << c.joint + 1 << " level " << c.level);
        start(c.model);
        for (int i = 0; i < 6; ++i) {
            mpb.collisionLevel[i] = i == c.joint ? c.level : 5.0f;
            speed_[i] = i == c.joint ? c.speed : 1000.0f;
        }
        for (int n = 0; n <= kWarmUpSteps; ++n)
            kxmcCollisionDetection(n % 2 ? 6 : -1, speed_);  // none published
        kxmcCollisionDetection(c.joint, c.speed == 0.0f ? nullptr : speed_);
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(mpb.collisionThrDisplay[i], i == c.joint ? c.expected : kUnpublished,
                        1e-12 * c.expected)
                << "joint " << i + 1;
        }
        EXPECT_EQ(mpb.collisionThrSource[c.joint], 0);
    }
}

// ---- Reactions ----------------------------------------------------------------------------------

// Pause (0) or stop (2) only while running, a stop in check mode 2 also hands over to drag; 1
// warns only; any other flag ignores the detector.
TEST_F(DualEncoder, ReactionsByCollisionPauseFlag) {
    struct Case {
        uint8_t pause_flag, check_mode;
        int32_t robot_state;
        uint32_t expected_code;
        std::vector<std::string> expected_actions;
    };
    const std::vector<std::string> none, pause{"qmcPause"}, stop{"qmcStop"};
    const std::vector<std::string> drag{"qmcStop", "qmcDragSwitch"};
    const Case cases[] = {{0, 0, 2, kJ1, pause}, {0, 0, 3, kJ1, none}, {1, 2, 2, kJ1, none},
                          {2, 0, 2, kJ1, stop},  {2, 2, 2, kJ1, drag}, {2, 2, 1, kJ1, none},
                          {5, 2, 2, kNone, none}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << int(c.pause_flag) << " " << int(c.check_mode) << " " << c.robot_state);
        start(0);
        mcb.collisionPauseFlag = c.pause_flag;
        mcb.collisionCheckMode = c.check_mode;
        kxsim::clear_log();
        Signal sig;
        sig.spike_period = 14;
        sig.extra = 0.5;
        run(sig, 400);  // a reaction only reads the robot state, so it is set after warm-up
        mpb.robotState = c.robot_state;
        const int hit = run(sig, 400, 400);
        EXPECT_EQ(mcb.collisionErrorCode, c.expected_code);
        EXPECT_EQ(kxsim::action_names(), c.expected_actions);
        for (const kxsim::Call &call : kxsim::calls("qmcDragSwitch"))
            EXPECT_EQ(call.args, std::vector<double>{1.0});
        const bool to_drag = c.expected_actions.size() == 2;
        EXPECT_EQ(mcb.frictionCompOn, to_drag ? 0 : 1);
        EXPECT_EQ(kxsim::log_contains(
                      "dualEncCollision After to DragMode mcb.collisionPauseFlag = :2", 2),
                  to_drag);
        EXPECT_EQ(mcb.collisionState, 0);  // left to the torque-residual check
        if (!c.expected_actions.empty()) {
            // A pause or stop restarts the detector: the same raised signal right after is not
            // seen during the new warm-up.
            mcb.collisionErrorCode = kNone;
            Signal again = sig;
            again.spike_period = (hit + 1) / sig.period + 1;
            EXPECT_EQ(run(again, 200, hit + 1), -1);
        }
    }
}

}  // namespace
