// Wrist-sensor guiding on the simulated arm: an operator's push at the tool moves it with the
// admittance's speed along the push, a virtual wall keeps it off a box, the joint-speed check
// stops guiding, and a push toward the wrist singularity meets the singularity guard.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "host_fixture.hpp"
#include "sim/scenarios.hpp"

namespace {

using namespace kxsim;

FtguideOptions options() {
    FtguideOptions o;
    o.common.config_root = kxsim_test::make_temp_dir("kxsim-ftguide");
    return o;
}

// Largest distance of the tool point from the line of the push through its start [mm].
double off_line(const FtguideRun &r) {
    double worst = 0.0;
    for (const Vec3 &p : r.tool) {
        const Vec3 d = sub(p, r.tool.front());
        worst = std::max(worst, norm(sub(d, scale(r.direction, dot(d, r.direction)))));
    }
    return worst;
}

TEST(FtguidePath, ToolFollowsThePushAndTheWallHoldsItShortOfTheBox) {
    const FtguideOptions o = options();
    const FtguideRun r = run_ftguide_path(o);
    // The weight of the tool is compensated at rest (sensor sign, mounting and lever).
    EXPECT_LT(r.rest_residual, 0.3);
    EXPECT_LT(r.peak_commanded, o.joint_speed_limit);
    EXPECT_TRUE(r.guiding_on);
    EXPECT_EQ(r.warning, 0u);
    EXPECT_NEAR(r.steady_speed, r.expected_speed, 0.05 * r.expected_speed);
    EXPECT_LT(off_line(r), 5.0);
    EXPECT_GT(r.travel, 150.0);
    // Held short of the box: no contact, the tool's surface at least the clearance away, slowed
    // in the wall's band (the push alone would carry it on at the steady speed) and at rest soon
    // after the push ends.
    EXPECT_EQ(r.peak_contact, 0.0);
    EXPECT_GE(r.min_box_gap, o.clearance);
    EXPECT_LT(r.band_speed, 0.5 * r.expected_speed);
    EXPECT_GE(r.stop_time, 0.0);
    EXPECT_LT(r.stop_time, 1.5);
}

// The same push with a joint-speed limit below what it asks for: guiding stops, warned, before
// any joint exceeds the limit.
TEST(FtguidePath, JointSpeedLimitStopsGuidingWithItsWarning) {
    FtguideOptions o = options();
    o.joint_speed_limit = 8.0;
    const FtguideRun r = run_ftguide_path(o);
    EXPECT_LT(r.peak_commanded, o.joint_speed_limit);
    EXPECT_FALSE(r.guiding_on);
    EXPECT_GE(r.warning, 0x22000004u);
    EXPECT_LE(r.warning, 0x22000009u);
    EXPECT_LT(r.travel, 20.0);
}

// Toward the wrist singularity the guard damps the tool, hands the arm to joint drag while the
// operator carries it through and takes it back beyond; joint speeds stay below the limit and
// guiding goes on. (Without the flag the constraint wrench holds the wrist back instead: the
// closed-loop guiding test checks that.)
TEST(FtguideSingularity, GuardHandsTheWristToJointDragAndBack) {
    const FtguideOptions o = options();
    const FtguideRun r = run_ftguide_singular(o);
    EXPECT_TRUE(r.guiding_on);
    EXPECT_EQ(r.warning, 0u);
    EXPECT_LT(r.peak_commanded, o.joint_speed_limit);
    EXPECT_LT(r.wrist_start, -30.0);
    EXPECT_GE(r.handovers, 1);
    EXPECT_GE(r.returns, 1);
    EXPECT_GT(r.wrist_end, 15.0);  // through to the other side
}

}  // namespace
