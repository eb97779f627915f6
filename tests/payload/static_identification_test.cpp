// Static payload identification from joint torques. The nine-point procedure runs on joint
// torques synthesised by KDL for the simulated host's arms with a known payload; the step-driven
// procedure on currents whose residuals are set exactly (an arm code without a gravity model, so
// the model torque is zero, and size-14 motors of 0.32 N m) and once against the host's gravity
// and the friction model of the 5-kg arm.
#include <algorithm>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "kxmc/kxmc_dynamics_model.h"
#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_payload.h"
#include "payload_oracle.hpp"

namespace {

using kxpayload::Arm;
class Static : public kxsim_test::HostFixture {
protected:
    void exact_residuals() { restart(550), mcb.frictionCompOn = 0, qmcLoadIdentifyStartEnd(1); }
};

constexpr double kPoses[9][6] = {  // [deg], orientations spread over the sphere
    {0, -90, 90, -90, -90, 0},   {30, -80, 100, -60, -90, 45},  {-20, -100, 80, 0, -60, 90},
    {45, -60, 70, -120, 40, -45}, {10, -110, 120, 30, 70, 10},  {-60, -70, 60, -170, -45, 120},
    {90, -120, 100, 60, 100, -90}, {-30, -50, 110, -20, -120, 170}, {0, -90, 60, 90, 50, -150}};
constexpr double kSame[9][6] = {{0, -90, 90, -90, -90, 0}, {0, -90, 90, -90, -90, 0}, {0, -90, 90, -90, -90, 0},
                                {0, -90, 90, -90, -90, 0}, {0, -90, 90, -90, -90, 0}, {0, -90, 90, -90, -90, 0},
                                {0, -90, 90, -90, -90, 0}, {0, -90, 90, -90, -90, 0}, {0, -90, 90, -90, -90, 0}};

void record(const Arm &arm, uint32_t mode, const double (*poses)[6] = kPoses) {
    kxmcSetCurrentLoadIdentifyFlag(mode);
    for (uint32_t p = 0; p < 9; ++p) {
        const auto tau = arm.holding_torque(poses[p]);
        std::copy(tau.begin(), tau.end(), torque), std::copy(poses[p], poses[p] + 6, joint_angle_load);
        mpb.flangePose = arm.flange(poses[p]);
        ASSERT_EQ(kxmcSaveLoadIdentifyPoint(p + 1), 0);
    }
}

TEST_F(Static, NinePointsRecoverMassAndCentreOnEveryArm) {
    struct Case { uint32_t code; double m; kxpayload::Vec3 c; };
    const Case cases[] = {{1, 3, {100, -100, 100}}, {101, 0.5, {-100, 40, 20}}, {201, 10, {50, 100, -100}},
                          {300, 7, {-100, -100, 60}}, {301, 16, {100, 0, -50}}, {302, 16, {-30, 80, 100}},
                          {350, 12, {0, -100, 0}}, {401, 20, {70, -60, 90}}, {902, 10, {-80, 20, 30}},
                          {903, 3, {10, -90, 100}}, {1001, 30, {100, 100, 100}}, {703, 3, {-50, -50, 50}},
                          {901, 5, {100, 10, -40}}};
    for (const Case &c : cases) {
        restart(c.code);
        record(Arm(c.code, 0, {}), 0);
        record(Arm(c.code, c.m, c.c), 0x301);  // the mode's low byte counts
        for (double scale : {1.0, 0.5}) {  // then a new payload without clearing the record
            double m = 0, xyz[3] = {};
            ASSERT_EQ(kxmcComEndLoadMain(&m, xyz), 0);
            EXPECT_NEAR(m, scale * c.m, 1e-4 * c.m) << c.code;
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(xyz[i], scale == 1 ? c.c[i] : 50.0 * (i == 2), 0.01) << c.code << " axis " << i;
            record(Arm(c.code, 0.5 * c.m, {0, 0, 50}), 1);
        }
    }
}

TEST_F(Static, NinePointRefusals) {
    const Arm arm(101, 2, {10, 20, 30});
    const SimplyLoadIdentify before = simply_loadidentify;
    record(arm, 2);  // neither recording mode
    kxmcSetCurrentLoadIdentifyFlag(0);
    EXPECT_EQ(kxmcSaveLoadIdentifyPoint(0) + kxmcSaveLoadIdentifyPoint(10), -2);
    EXPECT_EQ(std::memcmp(&before.noLoadWrench, &simply_loadidentify.noLoadWrench, sizeof before - 4), 0);
    record(arm, 0, kSame), record(arm, 1, kSame);  // the centre is not determined
    double m = -7, xyz[3] = {-7, -7, -7};
    kxsim::clear_log();
    EXPECT_EQ(kxmcComEndLoadMain(&m, xyz) + kxmcComEndLoadMain(nullptr, xyz) + kxmcComEndLoadMain(&m, nullptr), -3);
    EXPECT_TRUE(m == -7 && xyz[0] == -7 && xyz[2] == -7);
    ASSERT_EQ(kxsim::log_lines().size(), 6u);  // from the first call only
    EXPECT_EQ(kxsim::log_lines()[1].text.rfind("POS: error = ", 0), 0u);
    EXPECT_EQ(kxsim::log_lines()[2].text, "loadIdentify: leftsum = 9.000000,0.000000,0.000000,0.000000");
    for (const auto &l : kxsim::log_lines()) EXPECT_EQ(l.level, 4);
}

const double kPerMille = 0.001 * double(0.32f) * 101;  // joint residual of 1 per mille [N m]

void cycles(int n, uint32_t step, int32_t state, int16_t j3, int16_t j5, int16_t j6 = 0, double q6 = 0) {
    mpb.cmdId = step, mpb.robotState = state, mpb.jointPos[5] = q6;
    how.jointCurrent[2] = j3, how.jointCurrent[4] = j5, how.jointCurrent[5] = j6;
    for (int i = 0; i < n; ++i) EXPECT_EQ(kxmcLoadIdentifyControl(), 0);
}

TEST_F(Static, StepWindowsGiveMassSamples) {
    exact_residuals();
    cycles(700, 3, 2, 0, 100);
    EXPECT_TRUE(qmcLoadIdentifyStartEnd(2) == -1 && mcb.loadIdentifyOn == 1 && mcb.loadIdentifyCycle == 700);
    const std::size_t begin = offsetof(MotionControlBlock, loadIdentifyOn), size = offsetof(MotionControlBlock, loadIdentifyDynOn) - begin;
    std::memset(reinterpret_cast<char *>(&mcb) + begin, 0x55, size), mcb.loadIdentifyDynOn = 1;
    ASSERT_EQ(qmcLoadIdentifyStartEnd(0), 0);  // abort: a cleared record and no carry-over
    EXPECT_TRUE(std::all_of(reinterpret_cast<char *>(&mcb) + begin, reinterpret_cast<char *>(&mcb) + begin + size, [](char b) { return b == 0; }));
    EXPECT_TRUE(qmcLoadIdentifyStartEnd(1) == 0 && mcb.loadIdentifyOn == 1 && mcb.loadIdentifyDynOn == 1);
    cycles(2002, 3, 2, 0, 100), cycles(5000, 4, 3, 0, 900), cycles(500, 4, 2, 0, 100);  // paused: nothing counts
    cycles(1001, 6, 2, 200, 0), cycles(1001, 3, 2, 0, 100);  // a fresh window for each new joint
    ASSERT_EQ(mcb.loadIdentifyWeightCount, 4);
    const double want[4] = {100 * kPerMille / 0.9996, 100 * kPerMille / 0.9996, 200 * kPerMille / 2.2736, 100 * kPerMille / 0.9996};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(mcb.loadIdentifyWeightSamples[i], want[i], 1e-9);
    char line[64];
    std::snprintf(line, sizeof line, "weightTotalNum 2 weightTemp %f", want[2]);
    EXPECT_TRUE(kxsim::log_contains(line, 2));
}

TEST_F(Static, StepMassAndCentreFormedWhenTheRobotStops) {
    struct Case { double samples[2]; int32_t count; double mass; };
    const Case cases[] = {{{2.3, 2.5}, 2, 1.9}, {{2.5, 9}, 1, 2.5}, {{0.2, 0.4}, 2, 0}, {{1, 1}, 0, 0}, {{4, 4}, 5000, 4}, {{1.3, 1.3}, 2, 0.8}};
    exact_residuals();
    cycles(1, 9, 3, 0, 0), cycles(5, 10, 2, 0, 0, 3000, 70), qmcLoadIdentifyStartEnd(0);  // an aborted run leaves no extreme
    for (const Case &c : cases) {
        exact_residuals();
        std::fill_n(mcb.loadIdentifyWeightSamples, 1000, c.samples[0]);
        mcb.loadIdentifyWeightSamples[1] = c.samples[1], mcb.loadIdentifyWeightCount = c.count;
        cycles(1, 9, 3, 0, 0);  // the mass is formed on entering, whatever the state
        EXPECT_DOUBLE_EQ(mcb.loadIdentifyWeight, c.mass);
        cycles(1001, 10, 2, 0, 0, 500);  // one full window of 500 per mille
        EXPECT_NEAR(mcb.loadIdentifyCoordSamples[0][2], c.mass > 0 ? 1000 * 500 * kPerMille / (9.8 * c.mass) : 0, 1e-9);
        EXPECT_EQ(mcb.loadIdentifyCoordCount, c.mass > 0 ? 1 : 0);
        // The extreme joint-6 torque is taken by magnitude: -2000 at 30 deg wins.
        cycles(10, 10, 2, 0, 0, 1000, 10), cycles(10, 10, 2, 0, 0, -2000, 30), cycles(10, 10, 2, 0, 0, 1500, 50);
        mcb.loadIdentifyCoordSamples[0][2] = 40, mcb.loadIdentifyCoordSamples[1][2] = 60, mcb.loadIdentifyCoordCount = 2;
        cycles(2, 9, 1, 0, 0);
        const double rho = c.mass > 0 ? 50 - 1000 * 2000 * kPerMille / (9.8 * c.mass) : 0;
        uint8_t finished = 0;
        double m = -1, xyz[3];
        EXPECT_EQ(qmcGetLoadWeightCoord(&finished, &m, xyz), 0);
        EXPECT_TRUE(finished == 1 && m == c.mass && mcb.loadIdentifyOn == 0 && xyz[2] == 50);
        EXPECT_TRUE(std::fabs(xyz[0] - 0.5 * rho) < 1e-9 && std::fabs(xyz[1] - std::sqrt(0.75) * rho) < 1e-9) << xyz[0];
        EXPECT_TRUE(kxsim::log_contains("j6ValueXY 30.000000", 2) && kxsim::log_contains("diffTorqueXY 64.639999", 2));
    }
}

TEST_F(Static, FullSampleArraysDropFurtherWindows) {
    exact_residuals();
    mcb.loadIdentifyWeightCount = 1000, mcb.loadIdentifyCoordCount = 1000;
    cycles(1001, 3, 2, 0, 100);
    mcb.loadIdentifyWeightDone = 1, mcb.loadIdentifyWeight = 2;
    cycles(1001, 9, 2, 0, 0, 100);
    EXPECT_TRUE(mcb.loadIdentifyWeightCount == 1000 && mcb.loadIdentifyCoordCount == 1000);
    EXPECT_TRUE(mcb.loadIdentifyCoordDone == 0 && mcb.loadIdentifyFinished == 0 && mcb.loadIdentifyWeight == 2);
}

TEST_F(Static, StepResidualIsAgainstTheArmWithoutPayload) {
    restart(101);
    const double q[6] = {20, -70, 100, -120, 60, 30}, vel[6] = {0.02, -0.03, 0.05, 0.04, 0.01, -0.02}, none[4] = {};
    double gravity[6], friction[6];
    qmcDynComGravityExload(q, none, gravity, 101);
    frictionCompensation(vel, friction);
    std::copy(q, q + 6, mpb.jointPos), std::copy(vel, vel + 6, mpb.targetJointVel);
    for (int j = 0; j < 6; ++j) {
        const double rated = j < 3 ? mpb.ratedTorque25 : mpb.ratedTorque14;
        how.jointCurrent[j] = int16_t(std::lround(((gravity[j] + friction[j]) / 100 + (j == 4) * 2.0 / 101) / (0.001 * rated)));
    }
    qmcLoadIdentifyStartEnd(1);
    cycles(1001, 3, 2, how.jointCurrent[2], how.jointCurrent[4], how.jointCurrent[5], q[5]);
    EXPECT_NEAR(mcb.loadIdentifyWeightSamples[0], 2 / 0.9996, 0.02);
}

}  // namespace
