// Model torque of the three modes for every model-code band, checked against the static gravity
// of the arm's rigid-body set or against the block run with the band's parameter set; the
// hand-guiding terms the cycle adds in drag; the housekeeping of every cycle.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "torque_fixture.hpp"

namespace torque_test {
namespace {

constexpr double kLoad[4] = {10.0, -20.0, 30.0, 1.5};  // centre [mm] flange frame, mass [kg]
constexpr double kTeachGain[6] = {1.0, 1.1, 1.2, 0.9, 0.8, 1.3};

class ModelModes : public TorqueFixture {
   protected:
    void start_loaded(uint32_t code, uint8_t mode, uint8_t pos = 0, double tilt = 0,
                      double rot = 0) {
        start(code, mode);
        mpb.loadWeight = kLoad[3];
        for (int k = 0; k < 3; ++k) mpb.loadCoord[k] = kLoad[k];
        mcb.installPos = pos;
        mcb.installTilt = tilt;
        mcb.installRot = rot;
    }
    std::vector<int> words() const { return {how.jointTorqueCmd, how.jointTorqueCmd + 6}; }
};

// Mode 0 commands the mounting's gravity torque with payload; mounting 4 has no routine and
// writes no word, unless the power check recomputes the words (from zero torque).
TEST_F(ModelModes, GravityModeCommandsTheMountingGravityWithPayload) {
    for (const uint8_t pos : {0, 1, 2, 3, 4}) {
        for (const uint8_t check : {0, 1}) {
            SCOPED_TRACE("installPos " + std::to_string(pos) + " check " + std::to_string(check));
            start_loaded(101, 0, pos, 35, -60);
            mcb.powerCheckOn = check;
            for (int16_t &w : how.jointTorqueCmd) w = 1234;
            cycle();
            if (pos < 4) expect_gravity(kLoad);
            const int untouched = check ? 0 : 1234;  // mounting 4: no routine
            for (int j = 0; pos == 4 && j < 6; ++j) EXPECT_EQ(how.jointTorqueCmd[j], untouched);
        }
    }
}

// Mode 1. kind: 0 the 5-kg law carries the payload (at the flange origin) itself, 1 the family's
// law plus the payload's holding torque (end load, g 9.8), 2 no law: the mounting gravity.
struct GravityTestCase {
    uint32_t code, set;
    int kind;
    uint8_t pos;
    double tilt, rot;  // [deg]
};

// Each case in its own process: the gravity-test law loads its family's model once per life.
class GravityTestRows : public ModelModes, public ::testing::WithParamInterface<GravityTestCase> {};

// At rest the law is gain x the family's gravity torque (g 9.81).
TEST_P(GravityTestRows, RunTheFamilyLawOfTheBand) {
    const GravityTestCase &c = GetParam();
    start_loaded(c.code, 1, c.pos, c.tilt, c.rot);
    for (int j = 0; j < 6; ++j) mcb.newTeachGain[j] = kTeachGain[j];
    cycle();
    if (c.kind == 2) return expect_gravity(kLoad);
    double arm[6], with[6], without[6], expected[6];
    static_gravity(c.set, c.kind == 0 ? kLoad[3] : 0.0, kNoLoad, c.tilt, c.rot, 9.81, q, arm);
    static_gravity(c.set, kLoad[3], kLoad, c.tilt, c.rot, 9.8, q, with);
    static_gravity(c.set, 0.0, kNoLoad, c.tilt, c.rot, 9.8, q, without);
    for (int j = 0; j < 6; ++j) {
        expected[j] = kTeachGain[j] * arm[j] + (c.kind == 1 ? with[j] - without[j] : 0.0);
    }
    expect_commands(expected, kNominalGear, 2);
}

const GravityTestCase kGravityTestCases[] = {
    {0, 0, 0, 0, 0, 0},     {50, 1, 1, 0, 0, 0},  {150, 0, 0, 3, 90, 30}, {250, 201, 1, 3, 90, 30},
    {350, 301, 1, 0, 0, 0}, {450, 0, 2, 0, 0, 0}, {1200, 0, 0, 0, 0, 0}};
INSTANTIATE_TEST_SUITE_P(Bands, GravityTestRows, ::testing::ValuesIn(kGravityTestCases),
                         [](const auto &i) { return "Row" + std::to_string(i.index); });

// Mode 2: the block of the band with the arm's parameters, the joints moving (the standard
// block takes the feed-forward acceleration, the TZ and PX blocks the target acceleration);
// power check on, every arm commands through gear 100.
enum Block { kStandard, kTz, kPx, kNone };
struct BlockCase {
    uint32_t code;
    Block block;
    bool splitGear, powerCheck;
};

class BlockRows : public ModelModes, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockRows, RunTheBlockOfTheBandWithItsParameterSet) {
    const BlockCase &c = GetParam();
    start_loaded(c.code, 2);
    mcb.powerCheckOn = c.powerCheck;
    for (int j = 0; j < 6; ++j) {
        mpb.targetJointVel[j] = 0.02 * (j % 2 ? -1 : 1);            // [deg/cycle]
        mpb.targetJointAcc[j] = 4e-3 * (j + 1) * (j % 2 ? -1 : 1);  // [deg/cycle^2]
        mpb.feedJointAcc[j] = -1.5e-3 * (j + 1);
    }
    cycle();
    const double x = kLoad[0], y = kLoad[1], z = kLoad[2], m = kLoad[3], none[36] = {};
    double expected[6] = {}, diag[36] = {};
    const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(c.code);
    using namespace kxtest;
    int32_t rc = 0;
    if (c.block == kStandard) {
        rc = kxqmckxdynamicblock(q, x, y, z, m, expected, p.lengths, p.masses, p.centres,
                                 p.inertias, p.rotor, nullptr, diag);
    } else if (c.block == kTz) {
        rc = kxTZqmckxdynamicblock(q, x, y, z, m, expected, kTzLengths, kTzMasses, none,
                                   kTzInertias, kTzRotor);
    } else if (c.block == kPx) {
        rc = kxPXqmckxdynamicblock(q, x, y, z, m, expected, kPxLengths, kPxRotor);
    }
    ASSERT_EQ(rc, 0);
    expect_commands(expected, c.splitGear ? kSplitGear : kNominalGear);
    EXPECT_TRUE(c.block == kNone || how.jointTorqueCmd[1] != 0) << "shoulder load";
}

const BlockCase kBlockCases[] = {
    {150, kStandard, 0, 0}, {250, kStandard, 0, 0},  {450, kStandard, 0, 0}, {701, kTz, 0, 0},
    {702, kStandard, 1, 0}, {703, kStandard, 1, 0},  {702, kStandard, 0, 1}, {750, kNone, 0, 0},
    {850, kTz, 0, 0},       {901, kStandard, 1, 0},  {901, kStandard, 0, 1}, {902, kPx, 0, 0},
    {903, kStandard, 0, 0}, {1050, kStandard, 0, 0}, {1200, kStandard, 0, 0}};
INSTANTIATE_TEST_SUITE_P(Bands, BlockRows, ::testing::ValuesIn(kBlockCases), [](const auto &i) {
    return "Code" + std::to_string(i.param.code) + (i.param.powerCheck ? "PowerCheck" : "");
});

// ---- Hand guiding -------------------------------------------------------------------------------

// The Kf gains act on the dynamic part of the gravity-test law: the drag set replaces the program
// set on entering drag and is replaced again on leaving it.
TEST_F(ModelModes, GravityTestGainsFollowTheDragState) {
    start(150, 1);
    for (int j = 0; j < 6; ++j) {
        mcb.newTeachGain[j] = mcb.newTeachGainKf[j] = 1.0;
        mcb.newTeachGainKfDrag[j] = 0.0;
    }
    cycle();
    const auto at_rest = words();
    for (double &v : mpb.targetJointVel) v = 0.1;  // [deg/cycle]: Coriolis and centrifugal
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

// Drag lock (the family's Cartesian spring; the fifth family has none) and the interference
// zone's joint springs hold the pose where a drag period starts and recapture it in the next.
TEST_F(ModelModes, DragHoldsThePoseWhereDragStartsAndRecapturesInTheNextDrag) {
    const double moved[6] = {1.0, -2.0, 0.5, 3.0, -1.0, 2.0};  // [deg]
    for (const uint32_t code : {101u, 450u, 0u}) {             // 0: arm 101 in an interference zone
        SCOPED_TRACE(code);
        start(code == 0 ? 101 : code, 0);
        mcb.dragLockOn = code != 0;
        mcb.interfereDragMode = code == 0;
        mpb.interfereZoneState = 1;
        for (double &kp : mcb.dragLockKp) kp = 2.0;
        mpb.robotState = 4;
        cycle();
        expect_gravity();  // the first held cycle adds nothing
        for (int j = 0; j < 6; ++j) q[j] += moved[j];
        cycle();
        double tau[6], work = 0.0;  // of the hold on the displacement
        kxmcNewGravityTorque(q, kNoLoad, tau);
        for (int j = 0; j < 6; ++j) {
            const int added = how.jointTorqueCmd[j] - torque_command_word(tau[j], 100, rated[j]);
            work += added * rated[j] * moved[j];
            tau[j] += 200.0 * (-moved[j] * kPi / 180.0);  // joint springs Kp 2, gain 100
        }
        EXPECT_EQ(work < 0.0, code != 450) << "the hold opposes the displacement";
        if (code == 0) expect_commands(tau);
        mpb.robotState = 1;
        cycle();
        mpb.robotState = 4;
        cycle();
        expect_gravity();
    }
}

// ---- Housekeeping -------------------------------------------------------------------------------

// The custom collision mode 2 ends when a paused program stops with custom thresholds.
TEST_F(ModelModes, HousekeepingEndsCustomCollisionModeWhenAPausedProgramStops) {
    // robot state before and after, threshold mode, custom mode after
    const int cases[][4] = {{3, 1, 1, 0}, {3, 1, 0, 2}, {2, 1, 1, 2}, {3, 4, 1, 2}};
    for (const auto &c : cases) {
        start(101, 0);
        mcb.customCollisionMode = 2;
        mpb.collisionThresholdMode = static_cast<uint8_t>(c[2]);
        mpb.robotState = c[0];
        cycle();
        mpb.robotState = c[1];
        cycle();
        EXPECT_EQ(mcb.customCollisionMode, c[3]) << c[0] << " -> " << c[1] << " mode " << c[2];
    }
}

}  // namespace
}  // namespace torque_test
