// Host services of the simulated host: defaults per model, the call journal and robot state,
// the log, hardware-layer fakes, the Kalman filter and the fit of recorded samples.
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_fixture.hpp"

namespace {

// ---- Defaults of a configured arm ------------------------------------------------------------

struct ModelCase {
    uint32_t model;
    int motor[6];       // motor size of each joint
    double speed[6];    // [deg/s]
};

void PrintTo(const ModelCase &c, std::ostream *os) { *os << "model " << c.model; }

class Defaults : public kxsim_test::HostFixture, public ::testing::WithParamInterface<ModelCase> {
protected:
    uint32_t model_code() const override { return GetParam().model; }
};

float rated(int size) {
    switch (size) {
        case 14: return mpb.ratedTorque14;
        case 17: return mpb.ratedTorque17;
        case 25: return mpb.ratedTorque25;
        case 32: return mpb.ratedTorque32;
        default: return mpb.ratedTorque40;
    }
}

TEST_P(Defaults, ConfiguredArmOfTheModel) {
    const ModelCase &c = GetParam();
    EXPECT_EQ(mcb.robotModelCode, c.model);
    EXPECT_EQ(mpb.jointNum, 6);
    EXPECT_EQ(mpb.robotState, 1);
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE);
    // Bigger motors, bigger rated torque.
    EXPECT_LT(mpb.ratedTorque14, mpb.ratedTorque17);
    EXPECT_LT(mpb.ratedTorque17, mpb.ratedTorque25);
    EXPECT_LT(mpb.ratedTorque25, mpb.ratedTorque32);
    EXPECT_LT(mpb.ratedTorque32, mpb.ratedTorque40);
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(mpb.jointMaxSpeed[j], c.speed[j]) << "joint " << j + 1;
        // Level-1 threshold: a realistic share of the joint motor's rated torque.
        const double share = mpb.collisionThreshold[j] / rated(c.motor[j]);
        EXPECT_GE(share, 0.15) << "joint " << j + 1;
        EXPECT_LE(share, 0.30) << "joint " << j + 1;
        EXPECT_EQ(mpb.collisionLevel[j], 1.0f);
        EXPECT_EQ(mpb.collisionLevelSaved[j], 1.0f);
        EXPECT_EQ(mpb.frictionGain[j], 0.5f);
        EXPECT_EQ(mpb.fricForDeadGain[j], 1.0);
        EXPECT_EQ(mpb.torqueCmdGain[j], 1.0);
        EXPECT_EQ(mcb.newTeachGainBase[j], 1.0);
    }
    EXPECT_EQ(mpb.collisionCountLimit, 5);
    EXPECT_EQ(mpb.collisionCurveRef, 1440.0);
    EXPECT_EQ(mcb.frictionCompOn, 1);
    EXPECT_EQ(mcb.speedRatioA, 1.0);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(mpb.toolTrsf.rot.r[i], (i % 4 == 0) ? 1.0 : 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, Defaults,
    ::testing::Values(
        ModelCase{0, {25, 25, 25, 14, 14, 14}, {180, 180, 180, 180, 180, 180}},
        ModelCase{50, {17, 17, 17, 14, 14, 14}, {180, 180, 180, 180, 180, 180}},
        ModelCase{150, {25, 25, 25, 14, 14, 14}, {180, 180, 180, 180, 180, 180}},
        ModelCase{250, {32, 32, 25, 17, 17, 17}, {120, 120, 180, 180, 180, 180}},
        ModelCase{301, {32, 32, 25, 17, 17, 17}, {120, 120, 180, 180, 180, 180}},
        ModelCase{450, {40, 40, 32, 25, 25, 25}, {120, 120, 120, 180, 180, 180}},
        ModelCase{701, {17, 17, 14, 14, 14, 14}, {180, 180, 180, 180, 180, 180}},
        ModelCase{901, {17, 17, 17, 14, 14, 14}, {180, 180, 180, 180, 180, 180}},
        ModelCase{902, {32, 32, 25, 17, 17, 17}, {180, 180, 180, 180, 180, 180}},
        ModelCase{1001, {40, 40, 32, 25, 25, 25}, {120, 120, 120, 180, 180, 180}}),
    [](const ::testing::TestParamInfo<ModelCase> &i) { return "model" + std::to_string(i.param.model); });

// ---- Journal, robot state and log ----------------------------------------------------------

using Host = kxsim_test::HostFixture;

TEST_F(Host, ActionsAreJournalledInOrderAndMoveTheRobotState) {
    struct Step {
        int (*call)();
        const char *name;
        int state_after;
    };
    const Step steps[] = {
        {[] { return qmcPause(); }, "qmcPause", 3},
        {[] { return doConfigHandle(1, 1); }, "doConfigHandle", 3},
        {[] { return resetWeldControlPara(); }, "resetWeldControlPara", 3},
        {[] { return qmcDragSwitch(1); }, "qmcDragSwitch", 4},
        {[] { return qmcDragSwitch(0); }, "qmcDragSwitch", 1},
        {[] {
             mpb.robotState = 2;
             return qmcStop();
         },
         "qmcStop", 1},
    };
    std::vector<std::string> names;
    for (const Step &s : steps) {
        EXPECT_EQ(s.call(), 0);
        EXPECT_EQ(mpb.robotState, s.state_after) << s.name;
        names.push_back(s.name);
    }
    EXPECT_EQ(kxsim::action_names(), names);
    const auto drag = kxsim::calls("qmcDragSwitch");
    ASSERT_EQ(drag.size(), 2u);
    EXPECT_EQ(drag[0].args, std::vector<double>{1});
    EXPECT_EQ(drag[1].args, std::vector<double>{0});
    EXPECT_EQ(kxsim::calls("doConfigHandle")[0].args, (std::vector<double>{1, 1}));

    const double goal[6] = {1, 2, 3, 4, 5, 6};
    qmcUpdateJointCartGoalPos(goal);
    EXPECT_EQ(kxsim::calls("qmcUpdateJointCartGoalPos")[0].args,
              (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(mpb.targetJointPos[5], 6.0);
    kxsim::clear_journal();
    EXPECT_TRUE(kxsim::journal().empty());
}

TEST_F(Host, RecordingOffKeepsEffectsButRecordsNothing) {
    kxsim::set_recording(false);
    const int32_t flags[6] = {1, 1, 1, 1, 1, 1};
    kxHalSetVarGainFactor(flags);
    qmcDragSwitch(1);
    Write_Log(2, "not captured");
    EXPECT_EQ(mpb.robotState, 4);
    EXPECT_TRUE(kxsim::journal().empty());
    EXPECT_TRUE(kxsim::log_lines().empty());
    kxsim::startup(0);
    qmcPause();
    EXPECT_EQ(kxsim::action_names(), std::vector<std::string>{"qmcPause"});
}

TEST_F(Host, HardwareOutputsAreJournalledAndInputsCanBeSet) {
    const int32_t flags[6] = {1, 0, 1, 1, 0, 1};
    kxHalSetVarGainFactor(flags);
    kxHalEnableAxleDeviceType(3);
    kxHalSetAxleSensorData(1, 2, 3, 4, 500, 65535);
    kxHalSetJointIdentifyType(2);
    kxHalSetJointIdentifyEnable(4, 1);
    EXPECT_EQ(kxsim::action_names(),
              (std::vector<std::string>{"kxHalSetVarGainFactor", "kxHalEnableAxleDeviceType",
                                        "kxHalSetAxleSensorData", "kxHalSetJointIdentifyType",
                                        "kxHalSetJointIdentifyEnable"}));
    EXPECT_EQ(kxsim::calls("kxHalSetVarGainFactor")[0].args,
              (std::vector<double>{1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(kxsim::calls("kxHalSetAxleSensorData")[0].args,
              (std::vector<double>{1, 2, 3, 4, 500, 65535}));

    uint16_t din = 1;
    kxHalGetAxleDin(&din);
    EXPECT_EQ(din, 0);
    kxsim::set_axle_din(0x0a05);
    kxHalGetAxleDin(&din);
    EXPECT_EQ(din, 0x0a05);
    const int32_t ident[6] = {10, -20, 30, -40, 50, -60};
    kxsim::set_joint_identification_data(ident);
    int32_t got[6] = {};
    kxHalGetJointIdentificationData(got);
    EXPECT_EQ(got[5], -60);
    kxsim::set_single_joint_identify(7, 8, 9);
    int32_t a = 0, b = 0, c = 0;
    kxHalGetSingleJointIdentify(2, &a, &b, &c);
    EXPECT_EQ(a + b + c, 24);
}

TEST_F(Host, FeedForwardAndCollisionRatioProviders) {
    float ff[6] = {9, 9, 9, 9, 9, 9};
    newJointVelFFTorque(ff);
    for (float v : ff) {
        EXPECT_EQ(v, 0.0f);
    }
    const float set_ff[6] = {1, -2, 3, -4, 5, -6};
    kxsim::set_velocity_feedforward(set_ff);
    newJointVelFFTorque(ff);
    EXPECT_EQ(ff[3], -4.0f);

    float ratio[6] = {1, 0, 0, 0, 0, 0};
    newCollisionRatio(ratio);
    EXPECT_EQ(ratio[0], 1.0f);  // preset left alone
    EXPECT_EQ(ratio[1], 0.0f);
    const float set_ratio[6] = {1, 1.5f, 1, 1, 1, 1};
    kxsim::set_collision_ratio(set_ratio);
    newCollisionRatio(ratio);
    EXPECT_EQ(ratio[1], 1.5f);
    kxsim::clear_collision_ratio();
    float preset[6] = {1, 0, 0, 0, 0, 0};
    newCollisionRatio(preset);
    EXPECT_EQ(preset[1], 0.0f);
}

TEST_F(Host, LogLinesGoToCaptureAndFileWithCycleAndLevel) {
    kxsim::set_cycle(1234);
    EXPECT_EQ(Write_Log(2, "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : %d", 5), 0);
    Write_Log(1, "loadWeight:%f", 2.5);
    ASSERT_EQ(kxsim::log_lines().size(), 2u);
    EXPECT_TRUE(kxsim::log_contains("kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : 5", 2));
    EXPECT_FALSE(kxsim::log_contains("loadWeight:2.500000", 2));
    EXPECT_TRUE(kxsim::log_contains("loadWeight:2.500000"));

    std::ifstream in(kxsim::log_file());
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_EQ(s.str(),
              "[1234][2] kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : 5\n"
              "[1234][1] loadWeight:2.500000\n");

    // An over-long message is cut to the bounded buffer, not written past it.
    const std::string longer(5000, 'x');
    Write_Log(4, "%s", longer.c_str());
    EXPECT_LT(kxsim::log_lines().back().text.size(), 1000u);
    EXPECT_EQ(kxsim::log_lines().back().text.substr(0, 10), "xxxxxxxxxx");
    EXPECT_TRUE(kxsim::action_names().empty());
    kxsim::clear_log();
    EXPECT_TRUE(kxsim::log_lines().empty());
}

// ---- Kalman filter -----------------------------------------------------------------------

TEST(KalmanFilter, WithoutProcessNoiseItIsTheRunningMean) {
    KalmanInfo k;
    ASSERT_EQ(Init_KalmanInfo(&k, 0.0, 4.0, 10.0), 0);
    std::mt19937_64 rng(5);
    std::normal_distribution<double> noise(0.0, 2.0);
    double sum = 10.0;
    for (int n = 1; n <= 1000; ++n) {
        const double z = 3.0 + noise(rng);
        sum += z;
        const double x = KalmanFilter(&k, z);
        ASSERT_NEAR(x, sum / (n + 1), 1e-9) << n;
    }
    EXPECT_NEAR(k.x, 3.0, 0.2);
}

TEST(KalmanFilter, ConvergesOnAConstantAndFollowsAStep) {
    KalmanInfo k;
    ASSERT_EQ(Init_KalmanInfo(&k, 1.0, 1.0, 0.0), 0);
    for (int n = 0; n < 50; ++n) {
        KalmanFilter(&k, 5.0);
    }
    EXPECT_NEAR(k.x, 5.0, 1e-9);
    // Steady-state gain of the random walk with Q = R: (sqrt(5) - 1) / 2.
    EXPECT_NEAR(k.K, (std::sqrt(5.0) - 1.0) / 2.0, 1e-9);
    // A non-finite sample is skipped.
    EXPECT_EQ(KalmanFilter(&k, std::nan("")), k.x);
    EXPECT_NEAR(k.x, 5.0, 1e-9);
    EXPECT_EQ(Init_KalmanInfo(&k, -1.0, 1.0, 0.0), -1);
}

// ---- Fit of recorded samples -----------------------------------------------------------

constexpr double kParams[4] = {0, 0.05, 0.1, 0.15};

struct FitCase {
    const char *name;
    double (*sample)(int n);
};

TEST(SampleFit, ReproducesConstantRampAndCubicOneSampleBehind) {
    const FitCase cases[] = {
        {"constant", [](int) { return -42.0; }},
        {"ramp", [](int n) { return 100.0 - 7.5 * n; }},
        {"cubic", [](int n) { return 0.01 * n * n * n - 0.5 * n * n + 3.0 * n; }},
    };
    for (const FitCase &c : cases) {
        BsplineFit fit;
        ASSERT_EQ(kxmcinitBtraj(&fit), 0);
        for (int n = 0; n < 30; ++n) {
            kxmcaddpointBfitting(&fit, c.sample(n), n == 29 ? 0 : 1);
            if (n == 0) {
                EXPECT_EQ(kxmccomBfitting(&fit, 17, 4, kParams), c.sample(0));
                continue;
            }
            const bool exact_order = n >= 3 || c.sample(1) - c.sample(0) == c.sample(2) - c.sample(1);
            for (int s = 0; s < 50; ++s) {
                const double got = kxmccomBfitting(&fit, s, 4, kParams);
                // The value between the previous and the newest sample.
                const double u = s / 50.0;
                const double m = n - 1 + u;
                double expect;
                if (std::string(c.name) == "cubic") {
                    expect = 0.01 * m * m * m - 0.5 * m * m + 3.0 * m;
                } else {
                    expect = c.sample(n - 1) + u * (c.sample(n) - c.sample(n - 1));
                }
                if (exact_order) {
                    ASSERT_NEAR(got, expect, 1e-9) << c.name << " n " << n << " s " << s;
                }
            }
        }
        EXPECT_EQ(fit.lastFlag, 0);
        EXPECT_EQ(fit.count, 30);
    }
}

TEST(SampleFit, PassesThroughTheSamplesAndRefusesNonFiniteOnes) {
    BsplineFit fit;
    kxmcinitBtraj(&fit);
    EXPECT_EQ(kxmccomBfitting(&fit, 0, 4, kParams), 0.0);  // nothing recorded yet
    const double v[] = {3, -8, 20, 1, 7};
    for (double x : v) {
        kxmcaddpointBfitting(&fit, x, 1);
    }
    EXPECT_NEAR(kxmccomBfitting(&fit, 0, 4, kParams), 1.0, 1e-12);  // previous sample
    EXPECT_NEAR(kxmccomBfitting(&fit, 50, 4, kParams), 7.0, 1e-12);  // newest
    EXPECT_EQ(kxmcaddpointBfitting(&fit, std::nan(""), 1), -1);
    EXPECT_EQ(fit.points[3], 7.0);
    // Without a usable parameter table the samples count as evenly spaced.
    const double bad[4] = {0, 0, 0, 0};
    EXPECT_NEAR(kxmccomBfitting(&fit, 25, 4, bad), kxmccomBfitting(&fit, 25, 4, kParams), 1e-12);
    EXPECT_NEAR(kxmccomBfitting(&fit, 25, 4, nullptr), kxmccomBfitting(&fit, 25, 4, kParams), 1e-12);
    // Order 2 is the straight line between the last two samples.
    EXPECT_NEAR(kxmccomBfitting(&fit, 25, 2, kParams), 4.0, 1e-12);
}

}  // namespace
