// Host services of the simulated host: defaults per model, the call journal and robot state,
// the log, hardware-layer fakes, the Kalman filter and the fit of recorded samples.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_fixture.hpp"

namespace {

using Host = kxsim_test::HostFixture;

TEST_F(Host, ConfiguredArmOfEachModel) {
    const struct {
        uint32_t model;
        int motor[6];     // motor size of each joint
        double speed[6];  // [deg/s]
    } cases[] = {
        {0, {25, 25, 25, 14, 14, 14}, {180, 180, 180, 180, 180, 180}},
        {50, {17, 17, 17, 14, 14, 14}, {180, 180, 180, 180, 180, 180}},
        {450, {40, 40, 32, 25, 25, 25}, {120, 120, 120, 180, 180, 180}},
        {701, {17, 17, 14, 14, 14, 14}, {180, 180, 180, 180, 180, 180}},
        {902, {32, 32, 25, 17, 17, 17}, {180, 180, 180, 180, 180, 180}},
    };
    for (const auto &c : cases) {
        restart(c.model);
        EXPECT_EQ(mcb.robotModelCode, c.model);
        EXPECT_EQ(mpb.jointNum, 6);
        EXPECT_EQ(mpb.robotState, 1);
        const int kSizes[] = {14, 17, 25, 32, 40};
        const float rated[] = {mpb.ratedTorque14, mpb.ratedTorque17, mpb.ratedTorque25,
                               mpb.ratedTorque32, mpb.ratedTorque40};
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(mpb.jointMaxSpeed[j], c.speed[j]) << c.model << " joint " << j + 1;
            EXPECT_EQ(mpb.collisionLevel[j], 1.0f);
            // Level-1 threshold: a realistic share of the joint motor's rated torque.
            const double share = mpb.collisionThreshold[j] / rated[std::find(kSizes, kSizes + 5, c.motor[j]) - kSizes];
            EXPECT_TRUE(share >= 0.15 && share <= 0.30) << c.model << " joint " << j + 1 << ": " << share;
        }
        for (int k = 0; k < 4; ++k) EXPECT_LT(rated[k], rated[k + 1]) << "bigger motors, bigger torque";
    }
}

TEST_F(Host, ActionsAreJournalledInOrderAndMoveTheRobotState) {
    const struct {
        int (*call)();
        const char *name;
        int state_after;
    } steps[] = {
        {[] { return qmcPause(); }, "qmcPause", 3},
        {[] { return doConfigHandle(1, 1); }, "doConfigHandle", 3},
        {[] { return resetWeldControlPara(); }, "resetWeldControlPara", 3},
        {[] { return qmcDragSwitch(1); }, "qmcDragSwitch", 4},
        {[] { return qmcDragSwitch(0); }, "qmcDragSwitch", 1},
        {[] { return mpb.robotState = 2, qmcStop(); }, "qmcStop", 1},
    };
    std::vector<std::string> names;
    for (const auto &s : steps) {
        EXPECT_EQ(s.call(), 0);
        EXPECT_EQ(mpb.robotState, s.state_after) << s.name;
        names.push_back(s.name);
    }
    const double goal[6] = {1, 2, 3, 4, 5, 6};
    qmcUpdateJointCartGoalPos(goal);
    EXPECT_EQ(mpb.targetJointPos[5], 6.0);
    const int32_t flags[6] = {1, 0, 1, 1, 0, 1};
    kxHalSetVarGainFactor(flags);
    kxHalSetAxleSensorData(1, 2, 3, 4, 500, 65535);
    names.insert(names.end(), {"qmcUpdateJointCartGoalPos", "kxHalSetVarGainFactor", "kxHalSetAxleSensorData"});
    EXPECT_EQ(kxsim::action_names(), names);
    EXPECT_EQ(kxsim::calls("qmcDragSwitch")[1].args, std::vector<double>{0});
    EXPECT_EQ(kxsim::calls("doConfigHandle")[0].args, (std::vector<double>{1, 1}));
    EXPECT_EQ(kxsim::calls("qmcUpdateJointCartGoalPos")[0].args, (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(kxsim::calls("kxHalSetVarGainFactor")[0].args, (std::vector<double>{1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(kxsim::calls("kxHalSetAxleSensorData")[0].args, (std::vector<double>{1, 2, 3, 4, 500, 65535}));

    // Recording off keeps the effects but records nothing; a start-up turns it back on.
    kxsim::clear_journal();
    kxsim::set_recording(false);
    qmcDragSwitch(1);
    Write_Log(2, "not captured");
    EXPECT_EQ(mpb.robotState, 4);
    EXPECT_TRUE(kxsim::journal().empty());
    EXPECT_TRUE(kxsim::log_lines().empty());
    kxsim::startup(0);
    qmcPause();
    EXPECT_EQ(kxsim::action_names(), std::vector<std::string>{"qmcPause"});
}

TEST_F(Host, HardwareInputsSetByTestsReachTheLibrary) {
    uint16_t din = 1;
    kxHalGetAxleDin(&din);
    EXPECT_EQ(din, 0);
    kxsim::set_axle_din(0x0a05);
    kxHalGetAxleDin(&din);
    EXPECT_EQ(din, 0x0a05);
    const int32_t ident[6] = {10, -20, 30, -40, 50, -60};
    int32_t got[6] = {};
    kxsim::set_joint_identification_data(ident);
    kxHalGetJointIdentificationData(got);
    EXPECT_EQ(got[5], -60);
}

TEST_F(Host, LogLinesGoToCaptureAndFileWithCycleAndLevel) {
    kxsim::set_cycle(1234);
    EXPECT_EQ(Write_Log(2, "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : %d", 5), 0);
    Write_Log(1, "loadWeight:%f", 2.5);
    EXPECT_TRUE(kxsim::log_contains("kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : 5", 2));
    EXPECT_FALSE(kxsim::log_contains("loadWeight:2.500000", 2));
    std::stringstream s;
    s << std::ifstream(kxsim::log_file()).rdbuf();
    EXPECT_EQ(s.str(), "[1234][2] kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : 5\n"
                       "[1234][1] loadWeight:2.500000\n");
    // An over-long message is cut to the bounded buffer, not written past it.
    Write_Log(4, "%s", std::string(5000, 'x').c_str());
    EXPECT_LT(kxsim::log_lines().back().text.size(), 1000u);
    EXPECT_EQ(kxsim::log_lines().back().text.substr(0, 10), "xxxxxxxxxx");
    EXPECT_TRUE(kxsim::action_names().empty());
}

TEST(KalmanFilter, RunningMeanWithoutProcessNoiseAndGoldenGainWithIt) {
    KalmanInfo k;
    ASSERT_EQ(Init_KalmanInfo(&k, 0.0, 4.0, 10.0), 0);
    std::mt19937_64 rng(5);
    std::normal_distribution<double> noise(0.0, 2.0);
    double sum = 10.0;
    for (int n = 1; n <= 1000; ++n) {
        const double z = 3.0 + noise(rng);
        sum += z;
        ASSERT_NEAR(KalmanFilter(&k, z), sum / (n + 1), 1e-9) << n;
    }
    // Random walk with Q = R: steady-state gain (sqrt(5) - 1) / 2.
    ASSERT_EQ(Init_KalmanInfo(&k, 1.0, 1.0, 0.0), 0);
    for (int n = 0; n < 50; ++n) KalmanFilter(&k, 5.0);
    EXPECT_NEAR(k.x, 5.0, 1e-9);
    EXPECT_NEAR(k.K, (std::sqrt(5.0) - 1.0) / 2.0, 1e-9);
    EXPECT_EQ(KalmanFilter(&k, std::nan("")), k.x);  // a non-finite sample is skipped
    EXPECT_NEAR(k.x, 5.0, 1e-9);
    EXPECT_EQ(Init_KalmanInfo(&k, -1.0, 1.0, 0.0), -1);
}

constexpr double kParams[4] = {0, 0.05, 0.1, 0.15};

TEST(SampleFit, ReproducesRampAndCubicOneSampleBehind) {
    const struct {
        bool cubic;
        double (*f)(double m);
    } cases[] = {{false, [](double m) { return 100.0 - 7.5 * m; }},
                 {true, [](double m) { return 0.01 * m * m * m - 0.5 * m * m + 3.0 * m; }}};
    for (const auto &c : cases) {
        BsplineFit fit;
        ASSERT_EQ(kxmcinitBtraj(&fit), 0);
        for (int n = 0; n < 30; ++n) {
            kxmcaddpointBfitting(&fit, c.f(n), n == 29 ? 0 : 1);
            if (n == 0) {
                EXPECT_EQ(kxmccomBfitting(&fit, 17, 4, kParams), c.f(0));
            }
            // From the fourth sample on (the ramp from the second), the value between the
            // previous and the newest sample.
            for (int s = 0; n >= (c.cubic ? 3 : 1) && s < 50; ++s) {
                ASSERT_NEAR(kxmccomBfitting(&fit, s, 4, kParams), c.f(n - 1 + s / 50.0), 1e-9)
                    << (c.cubic ? "cubic" : "ramp") << " n " << n << " s " << s;
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
    for (double x : {3, -8, 20, 1, 7}) kxmcaddpointBfitting(&fit, x, 1);
    EXPECT_NEAR(kxmccomBfitting(&fit, 0, 4, kParams), 1.0, 1e-12);   // previous sample
    EXPECT_NEAR(kxmccomBfitting(&fit, 50, 4, kParams), 7.0, 1e-12);  // newest
    EXPECT_EQ(kxmcaddpointBfitting(&fit, std::nan(""), 1), -1);
    EXPECT_EQ(fit.points[3], 7.0);
    // Without a usable parameter table the samples count as evenly spaced.
    const double bad[4] = {0, 0, 0, 0};
    EXPECT_NEAR(kxmccomBfitting(&fit, 25, 4, bad), kxmccomBfitting(&fit, 25, 4, kParams), 1e-12);
    EXPECT_NEAR(kxmccomBfitting(&fit, 25, 4, nullptr), kxmccomBfitting(&fit, 25, 4, kParams), 1e-12);
    EXPECT_NEAR(kxmccomBfitting(&fit, 25, 2, kParams), 4.0, 1e-12);  // order 2: straight line
}

}  // namespace
