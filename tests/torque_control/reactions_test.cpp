// After-collision and after-over-speed reactions in drag: hold (4) and rebound (5) torques
// computed here from the reaction laws, the time-out-only reaction (3), and the start of the
// after-over-speed reaction with its captured torque error.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "torque_fixture.hpp"

namespace torque_test {
namespace {

constexpr double kKd[6] = {0.5, 0.5, 0.5, 0.1, 0.1, 0.0};  // [N m s/deg]
constexpr double kKp[6] = {5, 5, 5, 5, 5, 5};              // [N m/deg]

class Reactions : public TorqueFixture {
   protected:
    // A collision reaction armed by the collision check, the arm in drag, no model torque.
    void arm(uint8_t reaction, int32_t cycles_left) {
        start(101, 7);
        mcb.collisionPauseFlag = reaction;
        mcb.collisionState = 1;
        CollisionStartFlag = 1;
        CollisionAfterTime = cycles_left;
        mpb.robotState = 4;
    }
};

TEST_F(Reactions, HoldPullsTheJointsBackToWhereTheReactionStartedWithDamping) {
    arm(4, 5000);
    cycle();  // captures the joints
    const double zero[6] = {};
    expect_commands(zero);

    const double moved[6] = {1.0, -2.0, 0.5, 3.0, -1.0, 2.0};      // [deg]
    const double vel[6] = {0.01, -0.02, 0.03, 0.04, -0.05, 0.06};  // [deg/cycle]
    for (int j = 0; j < 6; ++j) {
        mpb.targetJointPos[j] = kPose[j] + moved[j];
        mpb.actualJointVel[j] = vel[j];
    }
    cycle();
    double expected[6];
    for (int j = 0; j < 6; ++j) {
        expected[j] = -moved[j] * kKp[j] - 1000.0 * vel[j] * kKd[j];
    }
    expect_commands(expected);
    EXPECT_EQ(CollisionAfterTime, 4998);
}

struct ReboundCase {
    const char *name;
    int32_t cyclesLeft;  // before the cycle
    double tcpSpeed;     // [mm/s]
};

class Rebound : public Reactions, public ::testing::WithParamInterface<ReboundCase> {};

// The rebound pushes joints 1 to 3 against the captured error, decaying with the time the
// reaction has run (the safe time is unsigned; the decay must still be an exponential of a
// negative number), and is scaled down while the TCP is faster than the safe speed.
TEST_P(Rebound, PushesTheFirstThreeJointsAgainstTheCapturedError) {
    const ReboundCase &c = GetParam();
    arm(5, c.cyclesLeft);
    mcb.collisionSafeTime = 500;   // [cycles]
    mcb.collisionSafeSpeed = 100;  // [mm/s]
    const int32_t margin[6] = {5, 3, 8, 1, 1, 1};
    const double error[6] = {2.0, -1.0, 0.5, 4.0, 4.0, 4.0};  // [N m]
    for (int j = 0; j < 6; ++j) {
        mcb.collisionSafeMargin[j] = margin[j];
        forceCollisionError[j] = error[j];
    }
    mpb.tcpSpeed = c.tcpSpeed;
    cycle();

    const double left = c.cyclesLeft - 1.0;
    const double scale = c.tcpSpeed >= 100.0 ? 100.0 / c.tcpSpeed : 1.0;
    double expected[6] = {};
    for (int j = 0; j < 3; ++j) {
        const double x = (left - 500.0) * 0.001 * margin[j];
        expected[j] = std::exp(x) * 100.0 * error[j] * -0.5 * scale;
    }
    expect_commands(expected);
    EXPECT_NE(how.jointTorqueCmd[0], 0);
    for (int j = 3; j < 6; ++j) {
        EXPECT_EQ(how.jointTorqueCmd[j], 0) << "joint " << j + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Decay, Rebound,
                         ::testing::Values(ReboundCase{"AtTheStart", 501, 0.0},
                                           ReboundCase{"LaterInTheReaction", 301, 50.0},
                                           ReboundCase{"AtTheSafeSpeed", 401, 100.0},
                                           ReboundCase{"FasterThanSafe", 401, 250.0}),
                         [](const ::testing::TestParamInfo<ReboundCase> &p) {
                             return std::string(p.param.name);
                         });

TEST_F(Reactions, ReboundWithASafeSpeedOfZeroAllowsNoPush) {
    arm(5, 400);
    mcb.collisionSafeSpeed = 0;
    forceCollisionError[0] = 3.0;
    for (const double speed : {0.0, 20.0}) {
        mpb.tcpSpeed = speed;
        cycle();
        EXPECT_EQ(how.jointTorqueCmd[0], 0) << "speed " << speed;
    }
}

TEST_F(Reactions, TimeOutReactionAddsNoTorque) {
    arm(3, 50);
    forceCollisionError[0] = 3.0;
    for (int i = 0; i < 10; ++i) {
        mpb.targetJointPos[1] = kPose[1] + i;
        mpb.actualJointVel[1] = 0.05;
        cycle();
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(how.jointTorqueCmd[j], 0);
        }
    }
    EXPECT_EQ(CollisionAfterTime, 40);
}

// Start of the after-over-speed reaction: the reaction time, and five times the measured minus
// the expected motor torque (recorded or commanded current plus velocity feed-forward) captured
// for the rebound.
TEST_F(Reactions, OverSpeedReactionStartCapturesTheTorqueError) {
    start(101, 7);
    mcb.frictionCompOn = 1;  // friction stays out of the expected torque
    mcb.tcpSpeedOverDragState = 1;
    mcb.tcpSpeedOverDragTime = 300.7f;                         // [cycles]
    const int16_t current[6] = {100, -200, 300, 50, -60, 70};  // [per mille]
    const float feed_forward[6] = {10, 20, -30, 5, 0, -5};     // [per mille]
    const int16_t command[6] = {40, -80, 0, 10, 0, 0};         // last cycle's words
    kxsim::set_velocity_feedforward(feed_forward);
    for (int j = 0; j < 6; ++j) {
        how.jointCurrent[j] = current[j];
        how.jointTorqueCmd[j] = command[j];
        mpb.torqueCmdGain[j] = 1.0;  // expected current = 0.7 x command word
    }
    mpb.jointMoveVel = 0.0;  // joint 2's command undelayed
    cycle();

    EXPECT_EQ(mcb.tcpSpeedOverDragState, 2);
    EXPECT_EQ(CollisionStartFlag, 1);
    EXPECT_EQ(CollisionAfterTime, 300);
    for (int j = 0; j < 6; ++j) {
        const double measured = current[j] * 0.001 * rated[j];
        const double recorded = std::trunc(command[j] * 0.7 * 1.0);  // [per mille]
        const double expected = (recorded + feed_forward[j]) * 0.001 * rated[j];
        EXPECT_NEAR(forceCollisionError[j], 5.0 * (measured - expected), 1e-3 * rated[j])
            << "joint " << j + 1;
    }
}

}  // namespace
}  // namespace torque_test
