// The momentum observer and the excitation-trajectory identification closing the loop around the
// simulated 5-kg arm: the observer detecting a push on the flange and pausing the program, the
// identification against the payload the plant really carries.
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

// One period of the trajectory played in 10 s by the arm with its default model error: against a
// no-load run of the same arm a 4-kg payload far out comes out within 5 % and 5 mm.
TEST(ExcitationOnThePlant, RecoversAFarPayloadAgainstANoLoadRun) {
    ExcitationOptions o;
    o.common.config_root = kxsim_test::make_temp_dir("kxsim-test");
    o.payload = 4.0;
    o.payload_centre[0] = -40.0;
    o.payload_centre[1] = 25.0;
    o.payload_centre[2] = 110.0;
    o.play = 10.0;
    o.lead_in = 1.0;
    o.model_errors = {1.0};
    const ExcitationResult r = run_excitation(o);
    ASSERT_EQ(r.rows.size(), 1u);
    const ExcitationRow &row = r.rows[0];
    ASSERT_EQ(row.measured.status, 0);
    EXPECT_NEAR(row.measured.mass, row.truth.mass, 0.05 * row.truth.mass);
    EXPECT_LT(row.measured.centre_error, 5.0);
    EXPECT_GT(row.peak_rate, 60.0);  // [deg/s] the arm really went along the trajectory
    EXPECT_FALSE(r.trace.empty());
}

}  // namespace
