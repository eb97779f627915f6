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

struct PathCase {
    const char *name;
    bool wall;
    double joint_speed_limit;  // [deg/s]
};

class FtguidePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(FtguidePath, ToolFollowsThePushWithinWallAndJointSpeedLimit) {
    const PathCase c = GetParam();
    FtguideOptions o = options();
    o.wall = c.wall;
    o.joint_speed_limit = c.joint_speed_limit;
    const FtguideRun r = run_ftguide_path(o);
    // The weight of the tool is compensated at rest (sensor sign, mounting and lever).
    EXPECT_LT(r.rest_residual, 0.3);
    EXPECT_LT(r.peak_commanded, c.joint_speed_limit);
    if (c.joint_speed_limit < 20.0) {  // the push asks for more: guiding stops, warned
        EXPECT_FALSE(r.guiding_on);
        EXPECT_GE(r.warning, 0x22000004u);
        EXPECT_LE(r.warning, 0x22000009u);
        EXPECT_LT(r.travel, 20.0);
        return;
    }
    EXPECT_TRUE(r.guiding_on);
    EXPECT_EQ(r.warning, 0u);
    EXPECT_NEAR(r.steady_speed, r.expected_speed, 0.05 * r.expected_speed);
    EXPECT_LT(off_line(r), 5.0);
    EXPECT_GT(r.travel, 150.0);
    if (c.wall) {
        // Held short of the box: no contact, the tool's surface at least the clearance away,
        // slowed in the wall's band and at rest soon after the push ends.
        EXPECT_EQ(r.peak_contact, 0.0);
        EXPECT_GE(r.min_box_gap, o.clearance);
        EXPECT_LT(r.band_speed, 0.5 * r.expected_speed);
        EXPECT_GE(r.stop_time, 0.0);
        EXPECT_LT(r.stop_time, 1.5);
    } else {
        EXPECT_GT(r.peak_contact, 5.0);  // the same push without the wall reaches the box
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, FtguidePath,
                         ::testing::Values(PathCase{"Wall", true, 90.0},
                                           PathCase{"NoWall", false, 90.0},
                                           PathCase{"JointSpeedLimit", true, 8.0}),
                         [](const ::testing::TestParamInfo<PathCase> &p) {
                             return std::string(p.param.name);
                         });

// Toward the wrist singularity: with the flag the guard damps the tool, hands the arm to joint
// drag while the operator carries it through and takes it back beyond; without it the
// constraint wrench holds the wrist at the edge of its safe band. Joint speeds stay below the
// limit either way and guiding goes on.
TEST(FtguideSingularity, GuardHandsOverOrHoldsTheWristBack) {
    for (const int flag : {1, 0}) {
        FtguideOptions o = options();
        o.singularity_flag = flag;
        const FtguideRun r = run_ftguide_singular(o);
        EXPECT_TRUE(r.guiding_on) << flag;
        EXPECT_EQ(r.warning, 0u) << flag;
        EXPECT_LT(r.peak_commanded, o.joint_speed_limit) << flag;
        EXPECT_LT(r.wrist_start, -30.0) << flag;
        if (flag == 1) {
            EXPECT_GE(r.handovers, 1) << flag;
            EXPECT_GE(r.returns, 1) << flag;
            EXPECT_GT(r.wrist_end, 15.0) << flag;  // through to the other side
        } else {
            EXPECT_EQ(r.handovers, 0) << flag;
            EXPECT_GT(r.wrist_min, 15.0) << flag;
        }
    }
}

}  // namespace
