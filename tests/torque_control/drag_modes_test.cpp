// Hand-guiding behaviour the torque cycle adds in drag: the gravity-test gains of the drag state,
// the drag lock and interference drag engaging anew in each drag period, and the sensor term of
// force-and-torque drag.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "torque_fixture.hpp"

namespace torque_test {
namespace {

constexpr double kDegToRad = kPi / 180.0;

class DragModes : public TorqueFixture {
   protected:
    std::array<int, 6> words() const {
        std::array<int, 6> w{};
        for (int j = 0; j < 6; ++j) {
            w[j] = how.jointTorqueCmd[j];
        }
        return w;
    }
    void expect_gravity_commands() {
        const double load[4] = {0, 0, 0, 0};
        double g[6];
        kxmcNewGravityTorque(q, load, g);
        expect_commands(g);
    }
    void set_lock_gains(double kp) {
        for (int k = 0; k < 6; ++k) {
            mcb.dragLockKp[k] = kp;
            mcb.dragLockKi[k] = 0.0;
            mcb.dragLockKd[k] = 0.0;
        }
    }
};

// The Kf gains act on the dynamic part of the gravity-test law: the drag set replaces the
// program set on entering drag and is replaced again on leaving it.
TEST_F(DragModes, GravityTestGainsFollowTheDragState) {
    start(150, 1);
    for (int j = 0; j < 6; ++j) {
        mcb.newTeachGain[j] = 1.0;
        mcb.newTeachGainKf[j] = 1.0;
        mcb.newTeachGainKfDrag[j] = 0.0;
    }
    cycle();
    const auto at_rest = words();

    for (int j = 0; j < 6; ++j) {
        mpb.targetJointVel[j] = 0.1;  // [deg/cycle]: Coriolis and centrifugal torques
    }
    cycle();
    const auto moving = words();
    EXPECT_NE(moving, at_rest);

    mpb.robotState = 4;
    cycle();
    EXPECT_EQ(words(), at_rest) << "the drag set (Kf 0) leaves the gravity torque alone";

    mpb.robotState = 1;
    cycle();
    EXPECT_EQ(words(), moving);
}

TEST_F(DragModes, DragLockHoldsThePoseCapturedWhenDragStartsAndRecapturesInTheNextDrag) {
    start(101, 0);
    mcb.dragLockOn = 1;
    set_lock_gains(5.0);
    mpb.robotState = 4;
    cycle();
    expect_gravity_commands();  // the first locked cycle adds nothing

    q[0] += 2.0;  // [deg] the operator turns the base
    cycle();
    double g[6];
    const double load[4] = {0, 0, 0, 0};
    kxmcNewGravityTorque(q, load, g);
    EXPECT_LT(how.jointTorqueCmd[0], expected_word(g[0], 100, rated[0]) - 10)
        << "the lock pulls joint 1 back";

    mpb.robotState = 1;  // drag ends: the next drag period locks where it starts
    cycle();
    mpb.robotState = 4;
    cycle();
    expect_gravity_commands();
}

TEST_F(DragModes, DragLockOfTheFifthFamilyKeepsTheModelTorque) {
    start(450, 0);
    mcb.dragLockOn = 1;
    set_lock_gains(5.0);
    mpb.robotState = 4;
    cycle();
    q[0] += 2.0;
    cycle();
    expect_gravity_commands();
    EXPECT_NE(how.jointTorqueCmd[1], 0);
}

TEST_F(DragModes, InterferenceZoneHoldsTheJointsWithTheJointImpedance) {
    start(101, 0);
    mcb.interfereDragMode = 1;
    set_lock_gains(2.0);
    mpb.interfereZoneState = 1;
    mpb.robotState = 4;
    cycle();
    expect_gravity_commands();

    const double moved[6] = {1.0, -2.0, 0.5, 3.0, -1.0, 2.0};  // [deg]
    for (int j = 0; j < 6; ++j) {
        q[j] += moved[j];
    }
    cycle();
    const double load[4] = {0, 0, 0, 0};
    double expected[6];
    kxmcNewGravityTorque(q, load, expected);
    for (int j = 0; j < 6; ++j) {
        expected[j] += 100.0 * 2.0 * (-moved[j] * kDegToRad);
    }
    expect_commands(expected);
}

// The PX arm has no acceleration bound, so its sensor drag cap is zero: whatever the sensor
// reports, the command stays the block's torque.
TEST_F(DragModes, SensorTermNeverReachesTheTorqueOfAnArmWithoutCap) {
    start(902, 2);
    mcb.forceTorqueDragOn = 1;
    mcb.forceSensorAct = 1;
    const double wrench[6] = {40, -30, 25, 3, -2, 1};  // [N], [N m]
    for (int k = 0; k < 6; ++k) {
        mcb.forceSensorCompWrench[k] = wrench[k];
        mcb.forceTorqueLambda[k] = 0.0;
    }
    const double px_lengths[6] = {180, -700, -586, 211, 114, 106};
    const double px_rotor[6] = {17472660, 17472660, 1615598, 657160, 657160, 657160};
    for (int i = 0; i < 3; ++i) {
        mpb.robotState = 4;
        cycle();
        double tau[6];
        kxPXqmckxdynamicblock(q, 0, 0, 0, 0, tau, px_lengths, px_rotor);
        expect_commands(tau);
    }
}

}  // namespace
}  // namespace torque_test
