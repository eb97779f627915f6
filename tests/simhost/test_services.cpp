// Host services of the simulated host: the call journal and robot state, the log and the fit
// of recorded samples the replay uses.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host_fixture.hpp"

namespace {

using Host = kxsim_test::HostFixture;

TEST_F(Host, ActionsAreJournalledInOrderAndMoveTheRobotState) {
    const struct {
        int (*call)();
        const char *name;
        int state_after;
    } steps[] = {
        {[] { return qmcPause(); }, "qmcPause", 3},
        {[] { return doConfigHandle(1, 1); }, "doConfigHandle", 3},
        {[] { return qmcDragSwitch(1); }, "qmcDragSwitch", 4},
        {[] { return qmcDragSwitch(0); }, "qmcDragSwitch", 1},
        {[] { return mpb.robotState = 2, qmcStop(); }, "qmcStop", 1},
    };
    std::vector<std::string> names;
    for (const auto &s : steps) {
        EXPECT_TRUE(s.call() == 0 && mpb.robotState == s.state_after) << s.name;
        names.push_back(s.name);
    }
    EXPECT_EQ(kxsim::action_names(), names);
    EXPECT_EQ(kxsim::calls("doConfigHandle")[0].args, (std::vector<double>{1, 1}));
}

TEST_F(Host, LogLinesGoToCaptureAndFileWithCycleAndLevel) {
    kxsim::set_cycle(1234);
    EXPECT_EQ(Write_Log(2, "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : %d", 5),
              0);
    Write_Log(1, "loadWeight:%f", 2.5);
    EXPECT_FALSE(kxsim::log_contains("loadWeight:2.500000", 2)) << "capture keeps the level";
    std::stringstream s;
    s << std::ifstream(kxsim::log_file()).rdbuf();
    EXPECT_EQ(s.str(),
              "[1234][2] kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : 5\n"
              "[1234][1] loadWeight:2.500000\n");
    // An over-long message is cut to the bounded buffer, not written past it.
    Write_Log(4, "%s", std::string(5000, 'x').c_str());
    const std::string &last = kxsim::log_lines().back().text;
    EXPECT_TRUE(last.size() < 1000u && last.substr(0, 10) == "xxxxxxxxxx");
    EXPECT_TRUE(kxsim::action_names().empty());
}

constexpr double kParams[4] = {0, 0.05, 0.1, 0.15};

TEST(SampleFit, ReproducesRampAndCubicOneSampleBehindAndRefusesNonFiniteSamples) {
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
            EXPECT_TRUE(n > 0 || kxmccomBfitting(&fit, 17, 4, kParams) == c.f(0)) << "first sample";
            // From the fourth sample on (the ramp from the second), the value between the
            // previous and the newest sample.
            for (int s = 0; n >= (c.cubic ? 3 : 1) && s < 50; ++s) {
                ASSERT_NEAR(kxmccomBfitting(&fit, s, 4, kParams), c.f(n - 1 + s / 50.0), 1e-9)
                    << (c.cubic ? "cubic" : "ramp") << " n " << n << " s " << s;
            }
        }
        EXPECT_TRUE(fit.lastFlag == 0 && fit.count == 30);
        // A non-finite sample is refused; without a parameter table the samples count as evenly spaced.
        EXPECT_TRUE(kxmcaddpointBfitting(&fit, std::nan(""), 1) == -1 && fit.count == 30);
        EXPECT_NEAR(kxmccomBfitting(&fit, 25, 4, nullptr), kxmccomBfitting(&fit, 25, 4, kParams),
                    1e-12);
    }
    BsplineFit empty;
    EXPECT_TRUE(kxmcinitBtraj(&empty) == 0 &&
                kxmccomBfitting(&empty, 0, 4, kParams) == 0.0);  // nothing recorded yet
}

}  // namespace
