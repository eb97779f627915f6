// Constant force on the simulated arm: the stylus pressed onto a compliant pad while the host
// moves it along; the force the pad feels holds the target and the sensor chain reads what the
// pad feels.
#include <gtest/gtest.h>

#include <cmath>

#include "host_fixture.hpp"
#include "sim/scenarios.hpp"

namespace {

using namespace kxsim;

TEST(Constforce, HoldsTheForceAlongThePath) {
    ConstforceOptions o;
    o.common.config_root = kxsim_test::make_temp_dir("kxsim-constforce");
    o.duration = 3.0;
    const ConstforceResult r = run_constforce(o);
    ASSERT_EQ(r.start_status, 0);
    EXPECT_EQ(r.unreachable, 0);
    EXPECT_EQ(r.faults, 0);
    EXPECT_TRUE(r.control_on);
    // The pad is what was asked for, the stylus really moved along it, and the force held.
    EXPECT_NEAR(r.effective_stiffness, o.stiffness, 0.1 * o.stiffness);
    EXPECT_GT(r.travel, 30.0);
    EXPECT_GT(r.lateral_mean, 0.25 * o.friction * o.target);
    EXPECT_LE(std::fabs(r.mean), 1.0);
    EXPECT_LT(r.sd, 1.0);
    // The library's reading (base axes, tool weight taken off) is the pad's force.
    EXPECT_NEAR(r.reading_mean, r.mean, 0.2);
}

}  // namespace
