// The momentum observer and the excitation-trajectory identification closing the loop around the
// simulated 5-kg arm: the observer detecting a push on the flange and halting the program, the
// identification against the payload the plant really carries.
#include <gtest/gtest.h>

#include <algorithm>

#include "host_fixture.hpp"
#include "sim/scenarios.hpp"

namespace {

using namespace kxsim;

CommonOptions common_options(double model_error) {
    CommonOptions c;
    c.model_error = model_error;
    c.config_root = kxsim_test::make_temp_dir("kxsim-test");
    return c;
}

// At the most sensitive level a push held on the flange is a collision: reported on a main axis
// within a few tens of cycles, the program paused (reaction 0) or stopped (2). The program without
// it raises nothing and stays well inside the thresholds, also with the arm's default model error.
class ObserverOnThePlantReacts : public ::testing::TestWithParam<int> {};

TEST_P(ObserverOnThePlantReacts, DetectsTheContactAndHaltsNoAlarmWithout) {
    const bool pause = GetParam() == 0;
    CollisionOptions o;
    o.common = common_options(1.0);
    o.obstacle = kScripted;
    o.link = 6;
    o.force = 200.0;
    o.rise = kCycle;
    o.hold = 0.6;
    o.duration = 1.5;
    o.level = 1.0f;
    o.observer = true;
    o.reaction = static_cast<uint8_t>(GetParam());
    const ObserverResult r = run_observer(o);
    ASSERT_TRUE(r.detection.detected);
    EXPECT_GE(r.detection.joint, 1);
    EXPECT_LE(r.detection.joint, 3);
    EXPECT_LT(r.detection.delay_ms, 60.0);
    ASSERT_FALSE(r.reactions.empty());
    EXPECT_EQ(r.reactions.front().what, pause ? "qmcPause" : "qmcStop");
    EXPECT_NEAR(r.halt_ms, r.detection.delay_ms, 6.0);  // same detection, joints compared in turn
    EXPECT_EQ(r.live.trace.back().state, pause ? 3 : 1);
    EXPECT_EQ(r.false_alarms, 0);
    EXPECT_GT(r.clean_share, 0.0);
    EXPECT_LT(r.clean_share, 0.3);
}

INSTANTIATE_TEST_SUITE_P(PauseAndStop, ObserverOnThePlantReacts, ::testing::Values(0, 2));

// ---- Excitation identification ----------------------------------------------------------------

// One period of the trajectory played in 10 s: against a no-load run of the same arm the payload
// comes out within 5 % and 5 mm, whatever the arm's own model error.
class ExcitationOnThePlant : public ::testing::TestWithParam<int> {};

TEST_P(ExcitationOnThePlant, RecoversThePayloadAgainstANoLoadRun) {
    struct PayloadCase {
        double mass, centre[3], model_error;
    };
    const PayloadCase cases[] = {{2.0, {30, -20, 60}, 0.0},    // off the axis, exact arm
                                 {4.0, {-40, 25, 110}, 1.0}};  // far out, default model error
    const PayloadCase &c = cases[GetParam()];
    ExcitationOptions o;
    o.common = common_options(c.model_error);
    o.payload = c.mass;
    o.play = 10.0;
    o.lead_in = 1.0;
    o.model_errors = {c.model_error};
    std::copy(c.centre, c.centre + 3, o.payload_centre);
    const ExcitationResult r = run_excitation(o);
    ASSERT_EQ(r.rows.size(), 1u);
    const ExcitationRow &row = r.rows[0];
    ASSERT_EQ(row.measured.status, 0);
    EXPECT_NEAR(row.measured.mass, row.truth.mass, 0.05 * row.truth.mass);
    EXPECT_LT(row.measured.centre_error, 5.0);
    EXPECT_GT(row.peak_rate, 60.0);  // [deg/s] the arm really went along the trajectory
    EXPECT_FALSE(r.trace.empty());
}

INSTANTIATE_TEST_SUITE_P(Payloads, ExcitationOnThePlant, ::testing::Values(0, 1));

}  // namespace
