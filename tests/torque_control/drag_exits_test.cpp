// The six ways the torque cycle ends hand guiding: each calls qmcDragSwitch(0) once, logs its own
// level-2 line and has its own side effects; nothing else may end drag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "torque_fixture.hpp"

namespace torque_test {
namespace {

using Names = std::vector<std::string>;

class DragExits : public TorqueFixture {
   protected:
    // Cycles while re-entering drag before each one (the simulated host leaves drag on the
    // switch); returns the 1-based cycles on which drag was switched off.
    std::vector<int> run_in_drag(int n) {
        std::vector<int> exits;
        for (int i = 1; i <= n; ++i) {
            mpb.robotState = 4;
            const std::size_t before = kxsim::calls("qmcDragSwitch").size();
            cycle();
            if (kxsim::calls("qmcDragSwitch").size() > before) {
                exits.push_back(i);
            }
        }
        return exits;
    }
};

// ---- ": 0" force-and-torque drag over speed ----------------------------------------------------

struct SpeedCase {
    const char *name;
    double tcpSpeed;     // [mm/s]
    double tcpRotSpeed;  // [deg/s]
};

class OverSpeed : public DragExits, public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(OverSpeed, InForceTorqueDragEndsDragOnTheSixthCycleAndEveryOneAfter) {
    const SpeedCase &c = GetParam();
    start(101, 2);
    mcb.forceTorqueDragOn = 1;  // limits 250 mm/s and 90 deg/s from the host's defaults
    mpb.tcpSpeed = c.tcpSpeed;
    mpb.tcpRotSpeed = c.tcpRotSpeed;
    EXPECT_EQ(run_in_drag(5), std::vector<int>{});
    EXPECT_EQ(mcb.warningCode, 0u);
    EXPECT_EQ(run_in_drag(2), (std::vector<int>{1, 2}));
    EXPECT_EQ(mcb.warningCode, KXMC_WARN_DRAG_OVERSPEED);
    EXPECT_EQ(exit_lines(), Names(2, exit_message(0)));
}

INSTANTIATE_TEST_SUITE_P(Limits, OverSpeed,
                         ::testing::Values(SpeedCase{"Linear", 250.5, 0.0},
                                           SpeedCase{"LinearReversed", -251.0, 0.0},
                                           SpeedCase{"Rotational", 0.0, 90.5},
                                           SpeedCase{"RotationalReversed", 0.0, -95.0}),
                         [](const ::testing::TestParamInfo<SpeedCase> &p) {
                             return std::string(p.param.name);
                         });

TEST_F(DragExits, OverSpeedCountRestartsAndActsOnlyInSensorDrag) {
    start(101, 2);
    mcb.forceTorqueDragOn = 1;
    mpb.tcpSpeed = 300.0;
    EXPECT_EQ(run_in_drag(5), std::vector<int>{});
    mpb.tcpSpeed = 250.0;  // exactly at the limit is not over it
    EXPECT_EQ(run_in_drag(1), std::vector<int>{});
    mpb.tcpSpeed = 300.0;
    EXPECT_EQ(run_in_drag(5), std::vector<int>{});
    EXPECT_EQ(run_in_drag(1), std::vector<int>{1});

    mcb.forceTorqueDragOn = 0;  // only the sensor drag has the speed guard
    EXPECT_EQ(run_in_drag(10), std::vector<int>{});
    mcb.forceTorqueDragOn = 1;
    mpb.robotState = 1;  // nor does it act outside drag
    cycles(10);
    EXPECT_EQ(kxsim::calls("qmcDragSwitch").size(), 1u);
}

// ---- ": 1" interference zone with mode 2 ----------------------------------------------------------

TEST_F(DragExits, InterferenceZoneEndsDragInModeTwo) {
    struct Case {
        uint8_t zone;
        int32_t state;
        bool exits;
    };
    const Case cases[] = {{1, 4, true}, {2, 4, true}, {0, 4, false}, {3, 4, false}, {1, 1, false}};
    for (const Case &c : cases) {
        start(101, 0);
        mcb.interfereDragMode = 2;
        mpb.interfereZoneState = c.zone;
        mpb.robotState = c.state;
        cycle();
        EXPECT_EQ(actions(), c.exits ? Names{"qmcDragSwitch"} : Names{})
            << "zone " << int(c.zone) << " state " << c.state;
        EXPECT_EQ(exit_lines(), c.exits ? Names{exit_message(1)} : Names{});
    }
}

// ---- ": 2" and ": 3" after-collision and after-over-speed reactions --------------------------------

struct ReactionCase {
    uint8_t reaction;
    bool afterCollision;  // armed by a collision, else by the over-speed reaction
};

TEST_F(DragExits, ReactionsEndWhenTheirTimeRunsOut) {
    const ReactionCase cases[] = {{3, true}, {4, true}, {5, true}, {3, false}, {5, false}};
    for (const ReactionCase &c : cases) {
        SCOPED_TRACE("reaction " + std::to_string(c.reaction));
        start(101, 0);
        mcb.collisionPauseFlag = c.reaction;
        mcb.collisionState = c.afterCollision ? 1 : 0;
        mcb.tcpSpeedOverDragState = c.afterCollision ? 0 : 2;
        CollisionStartFlag = 1;
        CollisionAfterTime = 3;
        EXPECT_EQ(run_in_drag(3), std::vector<int>{});  // 2, 1, 0 cycles left
        EXPECT_EQ(CollisionStartFlag, 0);
        EXPECT_EQ(run_in_drag(1), std::vector<int>{1});
        EXPECT_EQ(CollisionAfterTime, 0);
        EXPECT_EQ(mcb.collisionState, 0);
        EXPECT_EQ(mcb.tcpSpeedOverDragState, 0);
        EXPECT_EQ(exit_lines(), Names{exit_message(2)});
        EXPECT_EQ(run_in_drag(5), std::vector<int>{});  // the reaction is over
    }
}

TEST_F(DragExits, ReactionsRunOnlyInDragForTheDragReactions) {
    struct Case {
        uint8_t reaction;
        int32_t state;
    };
    const Case cases[] = {{0, 4}, {1, 4}, {2, 4}, {6, 4}, {4, 1}, {5, 3}};
    for (const Case &c : cases) {
        start(101, 0);
        mcb.collisionPauseFlag = c.reaction;
        mcb.collisionState = 1;
        CollisionStartFlag = 1;
        CollisionAfterTime = 1;
        for (int i = 0; i < 3; ++i) {
            mpb.robotState = c.state;
            cycle();
        }
        EXPECT_EQ(CollisionAfterTime, 1) << "reaction " << int(c.reaction) << " state " << c.state;
        EXPECT_EQ(mcb.collisionState, 1);
        EXPECT_TRUE(exit_lines().empty());
    }
}

TEST_F(DragExits, ReboundEndsWhenTheTcpMovesFartherThanTheSafeDistance) {
    struct Case {
        uint8_t reaction;
        double moved;  // [mm] along a diagonal
        bool exits;
    };
    // Safe distance 50 mm from the host's defaults.
    const Case cases[] = {
        {5, 30.0, false}, {5, 50.0, false}, {5, 50.5, true}, {4, 400.0, false}, {3, 400.0, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE("reaction " + std::to_string(c.reaction) + " moved " +
                     std::to_string(c.moved));
        start(101, 0);
        mcb.collisionPauseFlag = c.reaction;
        mcb.collisionState = 1;
        CollisionStartFlag = 1;
        CollisionAfterTime = 100;
        const double start_pos[3] = {400.0, -100.0, 300.0};
        for (int k = 0; k < 3; ++k) {
            mpb.tcpPos[k] = start_pos[k];
        }
        EXPECT_EQ(run_in_drag(1), std::vector<int>{});
        const double step = c.moved / std::sqrt(3.0);
        for (int k = 0; k < 3; ++k) {
            mpb.tcpPos[k] = start_pos[k] + (k == 1 ? -step : step);
        }
        EXPECT_EQ(run_in_drag(1), c.exits ? std::vector<int>{1} : std::vector<int>{});
        EXPECT_EQ(exit_lines(), c.exits ? Names{exit_message(3)} : Names{});
        EXPECT_EQ(mcb.collisionState, c.exits ? 0 : 1);
        EXPECT_EQ(CollisionAfterTime, c.exits ? 0 : 98);
    }
}

// ---- ": 4" static collision check ----------------------------------------------------------------

class StaticCheck : public DragExits {
   protected:
    void arm_check() {
        start(101, 7);  // no model torque: the expected current is zero
        mcb.staticCollisionOn = 1;
        const float no_feed_forward[6] = {};
        kxsim::set_velocity_feedforward(no_feed_forward);
    }
};

TEST_F(StaticCheck, ArmsOnlyWhileTheTcpIsAtRestOutsideProgramsWithoutACollision) {
    struct Case {
        double tcpSpeed;
        int32_t state;
        uint8_t collisionState;
        bool arms;
    };
    const Case cases[] = {{0.0, 1, 0, true},  {1.99, 1, 0, true},  {-1.99, 3, 0, true},
                          {2.0, 1, 0, false}, {-2.0, 1, 0, false}, {0.0, 2, 0, false},
                          {0.0, 1, 1, false}};
    for (const Case &c : cases) {
        arm_check();
        mpb.tcpSpeed = c.tcpSpeed;
        mpb.robotState = c.state;
        mcb.collisionState = c.collisionState;
        how.jointCurrent[0] = 900;  // 0.9 of the rated torque, limit 0.3
        cycle();
        EXPECT_EQ(CollisionStartFlag, c.arms ? 1 : 0)
            << "speed " << c.tcpSpeed << " state " << c.state << " collision "
            << int(c.collisionState);
        EXPECT_EQ(actions(), c.arms ? Names{"qmcDragSwitch"} : Names{});
        EXPECT_EQ(count_log("Static Collision After to DragMode"), c.arms ? 1 : 0);
    }
}

TEST_F(StaticCheck, ReactionDampsTheJointsAndEndsDragAfterItsTime) {
    arm_check();
    mcb.frictionCompOn = 1;
    how.jointCurrent[0] = 900;
    cycle();  // arms: 1000 cycles, the first counted in this cycle
    ASSERT_EQ(CollisionStartFlag, 1);
    EXPECT_EQ(CollisionAfterTime, 999);
    EXPECT_EQ(mcb.frictionCompOn, 0);
    how.jointCurrent[0] = 0;

    // The reaction damps the joints with the collision damping gains.
    const double vel[6] = {0.02, -0.04, 0.01, 0.05, -0.03, 0.06};  // [deg/cycle]
    const double kd[6] = {0.5, 0.5, 0.5, 0.1, 0.1, 0.0};
    for (int j = 0; j < 6; ++j) {
        mpb.actualJointVel[j] = vel[j];
    }
    cycle();
    double expected[6];
    for (int j = 0; j < 6; ++j) {
        expected[j] = -1000.0 * vel[j] * kd[j];
    }
    expect_commands(expected);
    for (int j = 0; j < 6; ++j) {
        mpb.actualJointVel[j] = 0.0;
    }

    cycles(998);  // 0 cycles left
    EXPECT_EQ(CollisionStartFlag, 1);
    EXPECT_TRUE(exit_lines().empty());
    cycle();
    EXPECT_EQ(CollisionStartFlag, 0);
    EXPECT_EQ(CollisionAfterTime, 0);
    EXPECT_EQ(actions(), (Names{"qmcDragSwitch", "qmcDragSwitch"}));
    EXPECT_EQ(kxsim::calls("qmcDragSwitch").back().args, std::vector<double>{0.0});
    EXPECT_EQ(exit_lines(), Names{exit_message(4)});
}

// ---- ": 5" drag power ----------------------------------------------------------------------------

TEST_F(DragExits, MeanDragPowerOverTheLimitEndsDragAndEmptiesTheWindow) {
    start(101, 0);
    mcb.powerCheckOn = 1;
    mcb.powerFlag = 1;
    mcb.powerLimit = 10.0;  // [W]
    for (int j = 0; j < 6; ++j) {
        how.jointCurrent[j] = 500;
        mpb.actualJointVel[j] = 0.1;  // [deg/cycle]
    }
    // The mean exists from the 101st measurement on; after the trip the window starts again.
    EXPECT_EQ(run_in_drag(202), (std::vector<int>{101, 202}));
    EXPECT_EQ(mcb.faultCode, KXMC_FAULT_DRAG_POWER);
    EXPECT_EQ(exit_lines(), Names(2, exit_message(5)));
}

TEST_F(DragExits, PowerWithinTheLimitOrWithoutTheFlagIsNoExit) {
    struct Case {
        uint8_t check;
        uint8_t flag;
        double limit;
    };
    const Case cases[] = {{1, 1, 1e6}, {1, 0, 10.0}, {0, 1, 10.0}};
    for (const Case &c : cases) {
        start(101, 0);
        mcb.powerCheckOn = c.check;
        mcb.powerFlag = c.flag;
        mcb.powerLimit = c.limit;
        for (int j = 0; j < 6; ++j) {
            how.jointCurrent[j] = 500;
            mpb.actualJointVel[j] = 0.1;
        }
        EXPECT_EQ(run_in_drag(150), std::vector<int>{});
        EXPECT_EQ(mcb.faultCode, 0u);
    }
}

}  // namespace
}  // namespace torque_test
