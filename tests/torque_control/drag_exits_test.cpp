// The reactions in drag - hold (4), rebound (5) and the time-out-only reaction (3) - and the six
// ways the torque cycle ends hand guiding: each calls qmcDragSwitch(0) once, logs its own level-2
// line and has its own side effects; nothing else may end drag.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "torque_fixture.hpp"

namespace torque_test {
namespace {

using Cycles = std::vector<int>;

class DragExits : public TorqueFixture {
   protected:
    // Cycles while re-entering drag (or another state) before each one (the simulated host
    // leaves drag on the switch); returns the 1-based cycles on which drag was switched off.
    Cycles run_in_drag(int n, int32_t state = 4) {
        Cycles exits;
        for (int i = 1; i <= n; ++i) {
            mpb.robotState = state;
            const std::size_t before = drag_switches();
            cycle();
            if (drag_switches() > before) exits.push_back(i);
        }
        return exits;
    }
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

// ---- Reaction torques ---------------------------------------------------------------------------

// Hold (4) pulls the joints back to where the reaction started, with damping; the time-out-only
// reaction (3) adds no torque.
TEST_F(DragExits, HoldPullsTheJointsBackWithDampingAndTimeOutAddsNoTorque) {
    const double moved[6] = {1.0, -2.0, 0.5, 3.0, -1.0, 2.0};      // [deg]
    const double vel[6] = {0.01, -0.02, 0.03, 0.04, -0.05, 0.06};  // [deg/cycle]
    for (const uint8_t reaction : {4, 3}) {
        arm(reaction, 50);
        forceCollisionError[0] = 3.0;
        cycle();  // captures the joints
        double expected[6] = {};
        expect_commands(expected);
        for (int j = 0; j < 6; ++j) {
            mpb.targetJointPos[j] = kPose[j] + moved[j];
            mpb.actualJointVel[j] = vel[j];
            expected[j] = reaction == 4 ? -moved[j] * 5.0 - 1000.0 * vel[j] * kCollisionKd[j] : 0.0;
        }
        cycle();
        expect_commands(expected);
        EXPECT_EQ(CollisionAfterTime, 48);
    }
}

// The rebound pushes joints 1 to 3 against the captured error, decaying with the time the
// reaction has run (the safe time is unsigned; the decay must still be an exponential of a
// negative number), scaled down while the TCP is faster than the safe speed; a safe speed of 0
// allows no push.
TEST_F(DragExits, ReboundPushesTheFirstThreeJointsAgainstTheCapturedError) {
    // cycles left before the cycle, TCP speed [mm/s], safe speed [mm/s]
    const double cases[][3] = {{501, 0, 100},   {301, 50, 100}, {401, 100, 100},
                               {401, 250, 100}, {401, 0, 0},    {401, 20, 0}};
    const int32_t margin[6] = {5, 3, 8, 1, 1, 1};
    const double error[6] = {2.0, -1.0, 0.5, 4.0, 4.0, 4.0};  // [N m]
    for (const auto &c : cases) {
        SCOPED_TRACE(PrintToString(c));
        arm(5, static_cast<int32_t>(c[0]));
        mcb.collisionSafeTime = 500;  // [cycles]
        mcb.collisionSafeSpeed = static_cast<uint32_t>(c[2]);
        std::copy(margin, margin + 6, mcb.collisionSafeMargin);
        std::copy(error, error + 6, forceCollisionError);
        mpb.tcpSpeed = c[1];
        cycle();
        const double scale = c[2] == 0 ? 0.0 : c[1] >= c[2] ? c[2] / c[1] : 1.0;
        double expected[6] = {};
        for (int j = 0; j < 3; ++j) {
            const double x = (c[0] - 1.0 - 500.0) * 0.001 * margin[j];
            expected[j] = std::exp(x) * 100.0 * error[j] * -0.5 * scale;
        }
        expect_commands(expected);
    }
    // With a safe speed of 0 at standstill the first three joints carry no torque but their
    // friction compensation, which follows the reaction's scaling.
    arm(5, 401);
    mcb.collisionSafeSpeed = 0;
    mpb.tcpSpeed = 0.0;
    mcb.frictionCompOn = 1;
    std::fill(mpb.frictionGain, mpb.frictionGain + 6, 1.0f);
    for (double *g :
         {mpb.fricForDeadGain, mpb.fricRevDeadGain, mpb.fricForFastGain, mpb.fricRevFastGain})
        std::fill(g, g + 6, 1.0);
    const double moving[6] = {0.05, -0.05, 0.05, 0, 0, 0};  // [deg/cycle]
    std::copy(moving, moving + 6, mpb.actualJointVel);
    std::copy(error, error + 6, forceCollisionError);
    cycle();
    double friction[6] = {};
    frictionCompensation(moving, friction);
    EXPECT_NE(how.jointTorqueCmd[0], 0);
    expect_commands(friction);
}

// Start of the after-over-speed reaction: the reaction time, and five times the measured minus
// the expected motor torque (recorded or commanded current plus velocity feed-forward) captured
// for the rebound.
TEST_F(DragExits, OverSpeedReactionStartCapturesTheTorqueError) {
    start(101, 7);
    mcb.frictionCompOn = 1;  // friction stays out of the expected torque
    mcb.tcpSpeedOverDragState = 1;
    mcb.tcpSpeedOverDragTime = 300.7f;                         // [cycles]
    const int16_t current[6] = {100, -200, 300, 50, -60, 70};  // [per mille]
    const float feed_forward[6] = {10, 20, -30, 5, 0, -5};     // [per mille]
    const int16_t command[6] = {40, -80, 0, 10, 0, 0};         // last cycle's words
    kxsim::set_velocity_feedforward(feed_forward);
    std::copy(current, current + 6, how.jointCurrent);
    std::copy(command, command + 6, how.jointTorqueCmd);
    cycle();
    EXPECT_EQ(mcb.tcpSpeedOverDragState, 2);
    EXPECT_EQ(CollisionStartFlag, 1);
    EXPECT_EQ(CollisionAfterTime, 300);
    for (int j = 0; j < 6; ++j) {  // expected current: 0.7 x command word (gain 1) + feed-forward
        const double expected = std::trunc(command[j] * 0.7) + feed_forward[j];  // [per mille]
        EXPECT_NEAR(forceCollisionError[j], 5e-3 * rated[j] * (current[j] - expected),
                    1e-3 * rated[j])
            << "joint " << j + 1;
    }
}

// ---- ": 0" force-and-torque drag over speed (limits 250 mm/s and 90 deg/s) ----------------------

// The sixth consecutive cycle over a limit ends drag, and so does every one after it; a cycle at
// the limits restarts the count.
TEST_F(DragExits, OverSpeedInSensorDragEndsDragFromTheSixthCycleOn) {
    const double speeds[][2] = {{-250.5, 0.0}, {0.0, 90.5}};
    for (const auto &s : speeds) {
        SCOPED_TRACE(PrintToString(s));
        start(101, 2);
        mcb.forceTorqueDragOn = 1;
        EXPECT_EQ(run_in_drag(1), Cycles{});                   // at rest: the count starts afresh
        const double *over = s, at_limits[2] = {250.0, 90.0};  // [mm/s], [deg/s]
        for (const double *v : {over, at_limits, over}) {
            mpb.tcpSpeed = v[0];
            mpb.tcpRotSpeed = v[1];
            EXPECT_EQ(run_in_drag(v == over ? 5 : 1), Cycles{});
        }
        EXPECT_EQ(run_in_drag(2), (Cycles{1, 2}));
        EXPECT_EQ(mcb.warningCode, KXMC_WARN_DRAG_OVERSPEED);
        EXPECT_EQ(logged(), Names(2, exit_message(0)));
    }
}

// ---- ": 1" interference zone with mode 2 --------------------------------------------------------

TEST_F(DragExits, InterferenceZoneEndsDragInModeTwo) {
    const int cases[][3] = {
        {1, 4, 1}, {2, 4, 1}, {0, 4, 0}, {3, 4, 0}, {1, 1, 0}};  // zone state exits
    for (const auto &c : cases) {
        SCOPED_TRACE(PrintToString(c));
        start(101, 0);
        mcb.interfereDragMode = 2;
        mpb.interfereZoneState = static_cast<uint8_t>(c[0]);
        mpb.robotState = c[1];
        cycle();
        EXPECT_EQ(drag_switches(), c[2] ? 1u : 0u);
        EXPECT_EQ(logged(), c[2] ? Names{exit_message(1)} : Names{});
    }
}

// ---- ": 2" and ": 3" after-collision and after-over-speed reactions -----------------------------

// The drag reactions, after a collision or after over speed, end in drag when their time runs
// out; the others, or outside drag, neither count down nor end drag.
TEST_F(DragExits, ReactionsEndWhenTheirTimeRunsOut) {
    const int cases[][4] = {// reaction, after collision (else after over speed), robot state, ends
                            {3, 1, 4, 1},
                            {4, 1, 4, 1},
                            {5, 0, 4, 1},
                            {2, 1, 4, 0},
                            {4, 1, 1, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(PrintToString(c));
        arm(static_cast<uint8_t>(c[0]), 3);
        mcb.collisionState = static_cast<uint8_t>(c[1]);
        mcb.tcpSpeedOverDragState = c[1] ? 0 : 2;
        EXPECT_EQ(run_in_drag(3, c[2]), Cycles{});  // 2, 1, 0 cycles left
        EXPECT_EQ(CollisionStartFlag, c[3] ? 0 : 1);
        EXPECT_EQ(run_in_drag(5, c[2]), c[3] ? Cycles{1} : Cycles{});  // then the reaction is over
        EXPECT_EQ(CollisionAfterTime, c[3] ? 0 : 3);
        EXPECT_EQ(mcb.collisionState, c[3] ? 0 : 1);
        EXPECT_EQ(mcb.tcpSpeedOverDragState, 0);
        EXPECT_EQ(logged(), c[3] ? Names{exit_message(2)} : Names{});
    }
}

// Safe distance 50 mm from the host's defaults; only the rebound watches it.
TEST_F(DragExits, ReboundEndsWhenTheTcpMovesFartherThanTheSafeDistance) {
    const double cases[][3] = {{5, 30, 0}, {5, 50, 0}, {5, 50.5, 1}, {4, 400, 0}, {3, 400, 0}};
    for (const auto &c : cases) {  // reaction, distance moved along a diagonal [mm], exits
        SCOPED_TRACE(PrintToString(c));
        arm(static_cast<uint8_t>(c[0]), 100);
        const double start_pos[3] = {400.0, -100.0, 300.0};
        for (int k = 0; k < 3; ++k) mpb.tcpPos[k] = start_pos[k];
        EXPECT_EQ(run_in_drag(1), Cycles{});
        const double step = c[1] / std::sqrt(3.0);
        for (int k = 0; k < 3; ++k) mpb.tcpPos[k] = start_pos[k] + (k == 1 ? -step : step);
        const bool exits = c[2] != 0;
        EXPECT_EQ(run_in_drag(1), exits ? Cycles{1} : Cycles{});
        EXPECT_EQ(logged(), exits ? Names{exit_message(3)} : Names{});
        EXPECT_EQ(mcb.collisionState, exits ? 0 : 1);
        EXPECT_EQ(CollisionAfterTime, exits ? 0 : 98);
    }
}

// ---- ": 4" static collision check (no model torque: the expected current is zero) ---------------

// The check arms only while the TCP is at rest outside programs without a collision; its reaction
// turns friction off and ends drag after its 1000 cycles, the first counted in the arming cycle.
TEST_F(DragExits, StaticCheckArmsAtRestAndEndsDragAfterItsTime) {
    const double cases[][4] = {
        {0.0, 1, 0, 1}, {-1.99, 3, 0, 1}, {2.0, 1, 0, 0}, {0.0, 2, 0, 0}, {0.0, 1, 1, 0}};
    for (const auto &c : cases) {  // TCP speed [mm/s], robot state, collision state, arms
        SCOPED_TRACE(PrintToString(c));
        start(101, 7);
        mcb.staticCollisionOn = mcb.frictionCompOn = 1;
        mpb.tcpSpeed = c[0];
        mpb.robotState = static_cast<int32_t>(c[1]);
        mcb.collisionState = static_cast<uint8_t>(c[2]);
        how.jointCurrent[0] = 900;  // 0.9 of the rated torque, limit 0.3
        cycle();
        EXPECT_EQ(CollisionStartFlag, c[3]);
        EXPECT_EQ(drag_switches(), c[3] != 0 ? 1u : 0u);
        EXPECT_EQ(logged("Static Collision After to DragMode").size(), c[3] != 0 ? 1u : 0u);
        if (c[1] != 1 || c[3] == 0) continue;
        EXPECT_EQ(CollisionAfterTime, 999);
        EXPECT_EQ(mcb.frictionCompOn, 0);
        how.jointCurrent[0] = 0;
        cycles(999);  // 0 cycles left
        EXPECT_EQ(CollisionStartFlag, 1);
        EXPECT_EQ(logged(), Names{});
        cycle();
        EXPECT_EQ(CollisionStartFlag, 0);
        EXPECT_EQ(CollisionAfterTime, 0);
        EXPECT_EQ(drag_switches(), 2u);
        EXPECT_EQ(kxsim::calls("qmcDragSwitch").back().args, std::vector<double>{0.0});
        EXPECT_EQ(logged(), Names{exit_message(4)});
    }
}

// ---- ": 5" drag power ---------------------------------------------------------------------------

// The mean exists from the 101st measurement on; after the trip the window starts again. Within
// the limit, without the flag or without the check there is no exit.
TEST_F(DragExits, MeanDragPowerOverTheLimitEndsDragAndEmptiesTheWindow) {
    const double cases[][4] = {{1, 1, 10, 1}, {1, 1, 1e6, 0}, {1, 0, 10, 0}, {0, 1, 10, 0}};
    for (const auto &c : cases) {  // check, flag, limit [W], trips
        start(101, 0);
        mcb.powerCheckOn = static_cast<uint8_t>(c[0]);
        mcb.powerFlag = static_cast<uint8_t>(c[1]);
        mcb.powerLimit = c[2];
        std::fill(how.jointCurrent, how.jointCurrent + 6, 500);
        std::fill(mpb.actualJointVel, mpb.actualJointVel + 6, 0.1);  // [deg/cycle]
        const bool trips = c[3] != 0;
        SCOPED_TRACE(PrintToString(c));
        EXPECT_EQ(run_in_drag(202), trips ? (Cycles{101, 202}) : Cycles{});
        EXPECT_EQ(mcb.faultCode, trips ? KXMC_FAULT_DRAG_POWER : 0u);
        EXPECT_EQ(logged(), trips ? Names(2, exit_message(5)) : Names{});
    }
}

}  // namespace
}  // namespace torque_test
