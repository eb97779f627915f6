// Force-and-torque guiding through the torque cycle on the simulated arm: an operator's push at
// the tool becomes, each cycle, joint torques equal to the plant's own Jacobian (transposed)
// times the wrench at the flange in base axes before the low-pass, and the arm in joint drag
// follows the push more or less than without the sensor term as the host's lambda says.
#include <gtest/gtest.h>

#include <cmath>

#include "host_fixture.hpp"
#include "sim/scenarios.hpp"

namespace {

using namespace kxsim;

TEST(TorqueGuidingPlant, TorquesAreTheTransposedJacobianAndTheDragFollowsThePush) {
    // Travel along the push as a share of the drag with lambda 1, which takes the sensor term
    // out of the feed-forward: below 1 the term holds the arm back, above 1 it helps.
    struct Row {
        double lambda, lo, hi;
    };
    const Row rows[] = {{1.0, 1.0, 1.0}, {0.0, 0.2, 0.8}, {3.0, 1.2, 3.0}};
    double plain = 0.0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.lambda);
        TorqueGuidingOptions o;
        o.common.config_root = kxsim_test::make_temp_dir("kxsim-torque-guiding");
        o.reduce = row.lambda;
        const TorqueGuidingResult r = run_torque_guiding(o);
        ASSERT_EQ(r.start_status, 0);
        EXPECT_TRUE(r.guiding_on);
        EXPECT_EQ(r.warning, 0u);
        // Every cycle of the push and after it, at every joint.
        EXPECT_GT(r.compared, 1400);
        EXPECT_GT(r.mapping_peak, 1.0);
        EXPECT_LT(r.mapping_error, 1e-6 * r.mapping_peak);
        if (row.lambda == 1.0) plain = r.travel;
        ASSERT_GT(plain, 20.0);
        EXPECT_GE(r.travel, row.lo * plain);
        EXPECT_LE(r.travel, row.hi * plain);
    }
}

}  // namespace
