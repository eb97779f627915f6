// Drive command words: the conversion of torque to per mille of the rated torque (saturation,
// non-finite values, joints without a rated torque), the gear factors, the friction term and its
// gain, and the motor-side torque override of the power check.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "dynamics/torque_command.hpp"
#include "torque_fixture.hpp"

namespace torque_test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- The conversion on plain values ------------------------------------------------------------

TEST(CommandWord, TruncatesTowardZeroAndSaturatesWithoutUndefinedBehaviour) {
    struct Case {
        double torque, gear, rated;
        int16_t word;
    };
    const Case cases[] = {
        {25.0, 100, 0.5, 500},      {-25.0, 100, 0.5, -500},    {0.0499, 100, 0.5, 0},
        {-0.0499, 100, 0.5, 0},     {1.0, 0.7, 1.0, 1428},      {1e9, 100, 1.27, 32767},
        {-1e9, 100, 1.27, -32768},  {kInf, 100, 1.27, 32767},   {-kInf, 100, 1.27, -32768},
        {kNaN, 100, 1.27, 0},       {5.0, 100, 0.0, 0},         {5.0, 100, kNaN, 0},
        {416.0, 100, 0.127, 32755}, {417.0, 100, 0.127, 32767},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(kxmc::detail::torque_command_word(c.torque, c.gear, c.rated), c.word)
            << c.torque << " / (" << c.gear << " x " << c.rated << ")";
    }
}

TEST(SensorDragTorque, SensorTermIsTakenOffWithinTheCapAndLimitedBeyondIt) {
    struct Case {
        double model, t, cap, tau;
    };
    const Case cases[] = {
        {10, 2, 3, 8},  {10, -2, 3, 12}, {10, 3, 3, 7},  {10, 5, 3, 7},     {10, -5, 3, 13},
        {10, 5, -3, 7}, {10, 5, 0, 10},  {10, 0, 0, 10}, {10, kNaN, 3, 10}, {10, kInf, 3, 7},
    };
    for (const Case &c : cases) {
        EXPECT_DOUBLE_EQ(kxmc::detail::sensor_drag_torque(c.model, c.t, c.cap), c.tau)
            << "t " << c.t << " cap " << c.cap;
    }
}

// ---- Through the cycle -------------------------------------------------------------------------

class Commands : public TorqueFixture {};

TEST_F(Commands, FrictionGainOutsideItsRangeIsRepairedBeforeUse) {
    struct Case {
        float gain;
        float used;
    };
    const Case cases[] = {{1.5f, 0.5f},       {-0.5f, 0.5f}, {std::nanf(""), 0.5f},
                          {1.0f, 1.0f},       {0.3f, 0.3f},  {-0.000001f, -0.000001f},
                          {-0.0000011f, 0.5f}};
    const double vel[6] = {0.05, -0.05, 0.05, -0.05, 0.05, -0.05};  // [deg/cycle]
    for (const Case &c : cases) {
        start(101, 7);
        mcb.frictionCompOn = 1;
        for (int j = 0; j < 6; ++j) {
            mpb.targetJointVel[j] = vel[j];
            mpb.frictionGain[j] = c.gain;
        }
        cycle();
        double fric[6];
        frictionCompensation(vel, fric);
        double expected[6];
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(mpb.frictionGain[j], c.used) << "gain " << c.gain;
            expected[j] = static_cast<double>(c.used) * fric[j];
        }
        expect_commands(expected);
    }
}

TEST_F(Commands, FrictionFollowsTheCommandedMotionOutsideDragAndTheActualOneInDrag) {
    struct Case {
        const char *name;
        uint8_t compensation;
        int32_t state;
        int32_t sensorDrag;
        int source;  // 0 none, 1 target velocities, 2 actual velocities
    };
    const Case cases[] = {{"off", 0, 1, 0, 0},
                          {"program", 1, 2, 0, 1},
                          {"stopped", 1, 1, 0, 1},
                          {"drag", 1, 4, 0, 2},
                          {"sensor drag", 1, 4, 1, 0}};
    const double target[6] = {0.05, 0.05, 0.05, 0.05, 0.05, 0.05};        // [deg/cycle]
    const double actual[6] = {-0.02, -0.03, -0.04, -0.02, -0.03, -0.04};  // [deg/cycle]
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        start(101, 7);
        mcb.frictionCompOn = c.compensation;
        mcb.forceTorqueDragOn = c.sensorDrag;
        mpb.robotState = c.state;
        for (int j = 0; j < 6; ++j) {
            mpb.targetJointVel[j] = target[j];
            mpb.actualJointVel[j] = actual[j];
            mpb.frictionGain[j] = 1.0f;
        }
        cycle();
        double expected[6] = {};
        if (c.source != 0) {
            frictionCompensation(c.source == 1 ? target : actual, expected);
            EXPECT_NE(expected[0], 0.0);
        }
        expect_commands(expected);
    }
}

struct GearCase {
    uint32_t code;
    uint8_t powerCheck;
    const double *gear;
};

class Gears : public TorqueFixture, public ::testing::WithParamInterface<GearCase> {};

// Codes 901, 702 and 703 command joints 1-3 through 121 and 4-6 through 101; the power check's
// recomputation uses 100 for every model.
TEST_P(Gears, CommandWordsUseTheArmsGearFactors) {
    const GearCase &c = GetParam();
    start(c.code, 2);
    mcb.powerCheckOn = c.powerCheck;
    cycle();
    const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(c.code);
    double tau[6];
    double diag[36];
    kxqmckxdynamicblock(q, 0, 0, 0, 0, tau, p.lengths, p.masses, p.centres, p.inertias, p.rotor,
                        nullptr, diag);
    expect_commands(tau, c.gear);
    EXPECT_NE(how.jointTorqueCmd[1], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Arms, Gears,
    ::testing::Values(GearCase{901, 0, kSplitGear}, GearCase{702, 0, kSplitGear},
                      GearCase{703, 0, kSplitGear}, GearCase{901, 1, kNominalGear},
                      GearCase{702, 1, kNominalGear}, GearCase{703, 1, kNominalGear},
                      GearCase{101, 0, kNominalGear}, GearCase{903, 0, kNominalGear}),
    [](const ::testing::TestParamInfo<GearCase> &p) {
        return "Code" + std::to_string(p.param.code) + "Check" + std::to_string(p.param.powerCheck);
    });

TEST_F(Commands, TorqueOverrideReplacesTheCommandOnlyFromAMicroNewtonMetreWithThePowerCheck) {
    struct Case {
        double override_torque;  // [N m] motor side
        bool overrides;
    };
    const Case cases[] = {{0.0000005, false}, {-0.0000005, false}, {0.0, false}, {0.000001, true},
                          {-2.0, true},       {0.3, true},         {1e9, true},  {-1e9, true}};
    for (const Case &c : cases) {
        for (const uint8_t check : {0, 1}) {
            start(101, 0);
            mcb.powerCheckOn = check;
            for (int j = 0; j < 6; ++j) {
                mpb.jointTorqueOverride[j] = c.override_torque;
            }
            cycle();
            const double load[4] = {0, 0, 0, 0};
            double g[6];
            kxmcNewGravityTorque(q, load, g);
            for (int j = 0; j < 6; ++j) {
                const int expected = check == 1 && c.overrides
                                         ? expected_word(c.override_torque, 0.7, rated[j])
                                         : expected_word(g[j], 100.0, rated[j]);
                EXPECT_NEAR(how.jointTorqueCmd[j], expected, 1)
                    << "override " << c.override_torque << " check " << int(check);
            }
        }
    }
}

TEST_F(Commands, JointWithoutRatedTorqueGetsNoCommand) {
    start(101, 0);
    mpb.ratedTorque25 = 0.0f;  // joints 1-3 of the 5-kg arm
    cycle();
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(how.jointTorqueCmd[j], 0) << "joint " << j + 1;
    }
    EXPECT_NE(how.jointTorqueCmd[4], 0);
}

TEST_F(Commands, NonFiniteTorqueGivesNoCommand) {
    start(101, 2);
    q[1] = std::numeric_limits<double>::quiet_NaN();
    cycle();
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(how.jointTorqueCmd[j], 0) << "joint " << j + 1;
    }
}

TEST_F(Commands, NullJointPositionsFallBackToTheHostsJoints) {
    start(101, 0);
    ASSERT_EQ(gravityTorqueControl(nullptr), 0);
    const double load[4] = {0, 0, 0, 0};
    double g[6];
    kxmcNewGravityTorque(mpb.jointPos, load, g);
    expect_commands(g);
}

TEST_F(Commands, OnlyTheArmsJointsAreCommanded) {
    start(101, 0);
    mpb.jointNum = 4;
    how.jointTorqueCmd[4] = 77;
    how.jointTorqueCmd[5] = 77;
    cycle();
    EXPECT_NE(how.jointTorqueCmd[1], 0);
    EXPECT_EQ(how.jointTorqueCmd[4], 77);
    EXPECT_EQ(how.jointTorqueCmd[5], 77);
}

}  // namespace
}  // namespace torque_test
