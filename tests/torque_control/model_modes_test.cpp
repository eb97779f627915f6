// Model torque of the three modes: which gravity routine, gravity-test law or dynamics block runs
// for each model-code band, checked against independent physics (static gravity of the arm's
// rigid-body set) or against the block's own output for the band's parameter set.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "torque_fixture.hpp"

namespace torque_test {
namespace {

constexpr double kLoadMass = 1.5;                       // [kg]
constexpr double kLoadCentre[3] = {10.0, -20.0, 30.0};  // [mm] flange frame
constexpr double kSelftestG = 9.81;                     // [m/s^2] of the identified model
constexpr double kDynamicsG = 9.8;                      // [m/s^2] of the dynamics and end load
constexpr double kTeachGain[6] = {1.0, 1.1, 1.2, 0.9, 0.8, 1.3};

class ModelModes : public TorqueFixture {
   protected:
    void carry_payload() {
        mpb.loadWeight = kLoadMass;
        for (int k = 0; k < 3; ++k) {
            mpb.loadCoord[k] = kLoadCentre[k];
        }
    }
};

// ---- Mode 0: gravity with payload for the mounting -------------------------------------------

struct MountingCase {
    uint8_t pos;
    double tilt;
    double rot;
};

TEST_F(ModelModes, GravityModeCommandsTheMountingGravityWithPayload) {
    const MountingCase cases[] = {{0, 0, 0}, {1, 90, 0}, {2, 180, 0}, {3, 35, -60}};
    for (const MountingCase &c : cases) {
        SCOPED_TRACE("installPos " + std::to_string(c.pos));
        start(101, 0);
        carry_payload();
        mcb.installPos = c.pos;
        mcb.installTilt = c.tilt;
        mcb.installRot = c.rot;
        cycle();
        const double load[4] = {kLoadCentre[0], kLoadCentre[1], kLoadCentre[2], kLoadMass};
        double g[6] = {};
        ASSERT_EQ(kxmcNewGravityTorque(q, load, g), 0);
        expect_commands(g);
        // The gravity routine itself must hold the arm: compare with the static model.
        double ref[6];
        static_gravity(0, kLoadMass, kLoadCentre, c.tilt, c.rot, kDynamicsG, q, ref);
        for (int j = 0; j < 6; ++j) {
            EXPECT_NEAR(g[j], ref[j], 0.02 * std::fabs(ref[j]) + 0.05) << "joint " << j + 1;
        }
    }
}

// ---- Mode 1: gravity-test laws ---------------------------------------------------------------

struct GravityTestCase {
    uint32_t code;
    uint32_t set;       // rigid-body set the family's identified model stands for
    bool payloadInLaw;  // the 5-kg law carries the payload (at the flange origin) itself
    MountingCase mounting;
};

std::string gravity_test_name(const ::testing::TestParamInfo<GravityTestCase> &info) {
    return "Code" + std::to_string(info.param.code) + "Tilt" +
           std::to_string(static_cast<int>(info.param.mounting.tilt));
}

// Each case in its own process: the gravity-test law loads its family's model once per life.
class GravityTestRows : public ModelModes, public ::testing::WithParamInterface<GravityTestCase> {};

// At rest the gravity-test law is gain x the family's gravity torque (g 9.81); the 3-, 10- and
// 16-kg families add the payload's holding torque (end load, g 9.8) on top.
TEST_P(GravityTestRows, RunTheFamilyLawOfTheBand) {
    const GravityTestCase &c = GetParam();
    const MountingCase &m = c.mounting;
    start(c.code, 1);
    carry_payload();
    mcb.installPos = m.pos;
    mcb.installTilt = m.tilt;
    mcb.installRot = m.rot;
    for (int j = 0; j < 6; ++j) {
        mcb.newTeachGain[j] = kTeachGain[j];
    }
    cycle();

    const double origin[3] = {0, 0, 0};
    double arm[6], expected[6];
    if (c.payloadInLaw) {
        static_gravity(c.set, kLoadMass, origin, m.tilt, m.rot, kSelftestG, q, arm);
        for (int j = 0; j < 6; ++j) {
            expected[j] = kTeachGain[j] * arm[j];
        }
    } else {
        static_gravity(c.set, 0.0, origin, m.tilt, m.rot, kSelftestG, q, arm);
        double with[6], without[6];
        static_gravity(c.set, kLoadMass, kLoadCentre, m.tilt, m.rot, kDynamicsG, q, with);
        static_gravity(c.set, 0.0, origin, m.tilt, m.rot, kDynamicsG, q, without);
        for (int j = 0; j < 6; ++j) {
            expected[j] = kTeachGain[j] * arm[j] + (with[j] - without[j]);
        }
    }
    expect_commands(expected, kNominalGear, 2);
}

constexpr MountingCase kFloor{0, 0, 0};
constexpr MountingCase kTilted{3, 90, 30};
INSTANTIATE_TEST_SUITE_P(
    Bands, GravityTestRows,
    ::testing::Values(
        GravityTestCase{0, 0, true, kFloor}, GravityTestCase{50, 1, false, kFloor},
        GravityTestCase{150, 0, true, kFloor}, GravityTestCase{201, 201, false, kFloor},
        GravityTestCase{250, 201, false, kFloor}, GravityTestCase{302, 301, false, kFloor},
        GravityTestCase{350, 301, false, kFloor}, GravityTestCase{1200, 0, true, kFloor},
        GravityTestCase{0, 0, true, kTilted}, GravityTestCase{50, 1, false, kTilted},
        GravityTestCase{150, 0, true, kTilted}, GravityTestCase{250, 201, false, kTilted},
        GravityTestCase{350, 301, false, kTilted}),
    gravity_test_name);

TEST_F(ModelModes, GravityTestModeOfTheFifthFamilyKeepsTheMountingGravity) {
    start(450, 1);
    carry_payload();
    cycle();
    const double load[4] = {kLoadCentre[0], kLoadCentre[1], kLoadCentre[2], kLoadMass};
    double g[6] = {};
    ASSERT_EQ(kxmcNewGravityTorque(q, load, g), 0);
    expect_commands(g);
    EXPECT_NE(how.jointTorqueCmd[1], 0);
}

// ---- Mode 2: full dynamics ---------------------------------------------------------------------

enum class Block { kStandard, kTz, kPx, kNone };

struct BlockCase {
    uint32_t code;
    Block block;
    const double *gear;
};

// The TZ and PX sets as the arm data sheets give them.
const double kTzLengths[6] = {140, -420, 12, 360, 102, 100};
const double kTzMasses[6] = {2.26, 4.53, 1.56, 1.97, 1.56, 0.35};
const double kTzCentres[36] = {};
const double kTzInertias[30] = {
    3015.96, -11.16,   -9.73,   2293.95,  83.28,   2942.66, 5693.29, 48.54,   -761.36,  173107.64,
    7.08,    171869.7, 1626.46, -2.85,    3.48,    1580.68, -61.22,  1255.31, 14803.69, -2.41,
    3.46,    2246.79,  -890.25, 14362.64, 1626.46, -2.85,   3.48,    1580.68, -61.22,   1255.31};
const double kTzRotor[6] = {657160, 657160, 425520, 425520, 425520, 425520};
const double kPxLengths[6] = {180, -700, -586, 211, 114, 106};
const double kPxRotor[6] = {17472660, 17472660, 1615598, 657160, 657160, 657160};

std::string block_name(const ::testing::TestParamInfo<BlockCase> &info) {
    return "Code" + std::to_string(info.param.code);
}

class BlockRows : public ModelModes, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockRows, RunTheBlockOfTheBandWithItsParameterSet) {
    const BlockCase &c = GetParam();
    start(c.code, 2);
    carry_payload();
    cycle();

    double expected[6] = {};
    double diag[36] = {};
    switch (c.block) {
        case Block::kStandard: {
            const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(c.code);
            ASSERT_EQ(kxqmckxdynamicblock(q, kLoadCentre[0], kLoadCentre[1], kLoadCentre[2],
                                          kLoadMass, expected, p.lengths, p.masses, p.centres,
                                          p.inertias, p.rotor, nullptr, diag),
                      0);
            break;
        }
        case Block::kTz:
            ASSERT_EQ(kxTZqmckxdynamicblock(q, kLoadCentre[0], kLoadCentre[1], kLoadCentre[2],
                                            kLoadMass, expected, kTzLengths, kTzMasses, kTzCentres,
                                            kTzInertias, kTzRotor),
                      0);
            break;
        case Block::kPx:
            ASSERT_EQ(kxPXqmckxdynamicblock(q, kLoadCentre[0], kLoadCentre[1], kLoadCentre[2],
                                            kLoadMass, expected, kPxLengths, kPxRotor),
                      0);
            break;
        case Block::kNone:
            break;
    }
    expect_commands(expected, c.gear);
    if (c.block != Block::kNone) {
        EXPECT_NE(how.jointTorqueCmd[1], 0) << "the shoulder carries the arm";
    }
}

constexpr Block kStd = Block::kStandard, kTzArm = Block::kTz, kPxArm = Block::kPx,
                kNoBlock = Block::kNone;
const BlockCase kBlockCases[] = {
    {0, kStd, kNominalGear},     {1, kStd, kNominalGear},    {2, kStd, kNominalGear},
    {3, kStd, kNominalGear},     {50, kStd, kNominalGear},   {150, kStd, kNominalGear},
    {201, kStd, kNominalGear},   {202, kStd, kNominalGear},  {250, kStd, kNominalGear},
    {301, kStd, kNominalGear},   {302, kStd, kNominalGear},  {350, kStd, kNominalGear},
    {450, kStd, kNominalGear},   {600, kStd, kNominalGear},  {701, kTzArm, kNominalGear},
    {702, kStd, kSplitGear},     {703, kStd, kSplitGear},    {750, kNoBlock, kNominalGear},
    {850, kTzArm, kNominalGear}, {901, kStd, kSplitGear},    {902, kPxArm, kNominalGear},
    {903, kStd, kNominalGear},   {1050, kStd, kNominalGear}, {1200, kStd, kNominalGear},
};
INSTANTIATE_TEST_SUITE_P(Bands, BlockRows, ::testing::ValuesIn(kBlockCases), block_name);

TEST_F(ModelModes, CodeWithoutBlockGivesNoModelTorqueButFrictionStillFlows) {
    start(750, 2);
    mcb.frictionCompOn = 1;
    const double vel[6] = {0.05, -0.04, 0.03, 0.06, -0.05, 0.04};  // [deg/cycle]
    for (int j = 0; j < 6; ++j) {
        mpb.targetJointVel[j] = vel[j];
        mpb.frictionGain[j] = 0.25f * static_cast<float>(j % 4 + 1);
    }
    cycle();
    double fric[6] = {};
    ASSERT_EQ(frictionCompensation(vel, fric), 0);
    double expected[6];
    for (int j = 0; j < 6; ++j) {
        expected[j] = mpb.frictionGain[j] * fric[j];  // the friction model of these arms, if any
    }
    expect_commands(expected);
}

TEST_F(ModelModes, UnknownModeLeavesTheModelTorqueAtZero) {
    start(101, 7);
    cycle();
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(how.jointTorqueCmd[j], 0);
    }
}

TEST_F(ModelModes, MountingWithoutCommandWritesNoWordUnlessThePowerCheckRecomputesIt) {
    for (const uint8_t check : {0, 1}) {
        start(101, 0);
        mcb.installPos = 4;
        mcb.powerCheckOn = check;
        for (int j = 0; j < 6; ++j) {
            how.jointTorqueCmd[j] = 1234;
        }
        cycle();
        if (check == 0) {
            for (int j = 0; j < 6; ++j) {
                EXPECT_EQ(how.jointTorqueCmd[j], 1234);
            }
        } else {
            const double load[4] = {0, 0, 0, 0};
            double g[6] = {};
            kxmcNewGravityTorque(q, load, g);  // mounting 4 has no gravity routine: stays 0
            expect_commands(g);
        }
    }
}

TEST_F(ModelModes, AccelerationsArePublishedPerSecondSquared) {
    start(101, 0);
    for (int j = 0; j < 6; ++j) {
        mpb.actualJointAcc[j] = 0.0001 * (j + 1);
        mpb.feedJointAcc[j] = -0.0002 * (j + 1);
    }
    cycle();
    for (int j = 0; j < 6; ++j) {
        EXPECT_FLOAT_EQ(mpb.actualJointAccF[j], 100.0f * (j + 1));
        EXPECT_FLOAT_EQ(mpb.feedJointAccF[j], -200.0f * (j + 1));
    }
}

TEST_F(ModelModes, CustomCollisionModeEndsWhenAPausedProgramStops) {
    struct Case {
        int32_t last;
        int32_t now;
        uint8_t thresholdMode;
        uint8_t expected;
    };
    const Case cases[] = {{3, 1, 1, 0}, {3, 1, 0, 2}, {2, 1, 1, 2}, {3, 4, 1, 2}};
    for (const Case &c : cases) {
        start(101, 0);
        mcb.customCollisionMode = 2;
        mpb.collisionThresholdMode = c.thresholdMode;
        mpb.robotState = c.last;
        cycle();
        mpb.robotState = c.now;
        cycle();
        EXPECT_EQ(mcb.customCollisionMode, c.expected)
            << c.last << " -> " << c.now << " mode " << int(c.thresholdMode);
    }
}

}  // namespace
}  // namespace torque_test
