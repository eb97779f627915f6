// The momentum observer closing the loop around the simulated 5-kg arm: a push on the flange is
// detected and pauses the program; the program without it raises nothing.
#include <gtest/gtest.h>

#include "host_fixture.hpp"
#include "sim/scenarios.hpp"

namespace {

using namespace kxsim;

// At the most sensitive level a push held on the flange is a collision: reported on a main axis
// within a few tens of cycles, the program paused. The program without it raises nothing and
// stays well inside the thresholds, also with the arm's default model error.
TEST(ObserverOnThePlant, DetectsTheContactAndPausesNoAlarmWithout) {
    CollisionOptions o;
    o.common.config_root = kxsim_test::make_temp_dir("kxsim-test");
    o.obstacle = kScripted;
    o.link = 6;
    o.force = 200.0;
    o.rise = kCycle;
    o.hold = 0.6;
    o.duration = 1.5;
    o.level = 1.0f;
    const ObserverResult r = run_observer(o);
    ASSERT_TRUE(r.detection.detected);
    EXPECT_GE(r.detection.joint, 1);
    EXPECT_LE(r.detection.joint, 3);
    EXPECT_LT(r.detection.delay_ms, 60.0);
    ASSERT_FALSE(r.reactions.empty());
    EXPECT_EQ(r.reactions.front().what, "qmcPause");
    EXPECT_NEAR(r.halt_ms, r.detection.delay_ms, 6.0);  // same detection, joints compared in turn
    EXPECT_EQ(r.live.trace.back().state, 3);
    EXPECT_EQ(r.false_alarms, 0);
    EXPECT_GT(r.clean_share, 0.0);
    EXPECT_LT(r.clean_share, 0.3);
}

}  // namespace
