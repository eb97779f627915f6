// Any-angle static gravity torque against the gradient of the potential energy.
#include <gtest/gtest.h>

#include "cases.hpp"
#include "kxmc/kxmc_gravity.h"

namespace {

using namespace kxtest;

constexpr double kGradientTolerance = 1e-9;  // [N m]

struct Mounting {
    const char *name;
    double tilt, rot;  // [deg]
};
const Mounting kMountings[] = {
    {"floor", 0, 0}, {"wall", 90, 0}, {"ceiling", 180, 0}, {"tilted", 37, -120}, {"skew", -75, 210},
};

struct Load {
    double mass;         // [kg]
    double centre[3];    // [mm]
};
const Load kLoads[] = {{0, {0, 0, 0}}, {2, {0, 0, 0}}, {5, {80, -60, 40}}, {3.5, {-100, 100, 90}}};

void set_as_double(const kxmc::StandardArmParameters &p, double L[6], double m[6], double c[18]) {
    for (int i = 0; i < 6; ++i) {
        L[i] = p.lengths[i];
        m[i] = p.masses[i];
    }
    for (int i = 0; i < 18; ++i) c[i] = p.centres[i];
}

// The payload enters the reference as a separate body on the flange, so merging it into link 6
// is checked too.
TEST(InvGravity, EqualsGradientOfPotentialEnergyOfTheDefaultArm) {
    double L[6], m[6], c[18];
    set_as_double(kxmc::standard_arm_parameters(0), L, m, c);
    Random rng(11);
    for (const Mounting &mount : kMountings) {
        for (const Load &load : kLoads) {
            SCOPED_TRACE(std::string(mount.name) + " load " + std::to_string(load.mass));
            double g[3];
            installation_gravity(mount.tilt, mount.rot, g);
            const double payload[10] = {load.mass, load.centre[0], load.centre[1], load.centre[2],
                                        1e4, 0, 0, 1e4, 0, 1e4};  // inertia plays no part
            const RefArm arm = standard_arm<double>(L, m, c, nullptr, nullptr, payload);
            for (int n = 0; n < 200; ++n) {
                double q[6], theta[6];
                for (double &x : q) x = rng.uniform(-360, 360);
                to_block_radians(q, theta);
                double out[6];
                ASSERT_EQ(kxmcInvGravity(L, m, c, payload, g, q, out), 0);
                const Vec6 ref = gravity_torque(arm, theta, g);
                for (int j = 0; j < 6; ++j) EXPECT_NEAR(out[j], ref[j], kGradientTolerance) << j;
            }
        }
    }
}

TEST(InvGravity, EqualsGradientOfPotentialEnergyForEverySet) {
    Random rng(12);
    for (const SetCase &set : kStandardSets) {
        SCOPED_TRACE(set.code);
        double L[6], m[6], c[18];
        set_as_double(kxmc::standard_arm_parameters(set.code), L, m, c);
        for (int n = 0; n < 100; ++n) {
            const State s = random_state(rng, set.max_payload);
            const RefArm arm = standard_arm<double>(L, m, c, nullptr, nullptr, s.payload);
            double theta[6], out[6];
            to_block_radians(s.q, theta);
            kxmcInvGravity(L, m, c, s.payload, s.gravity, s.q, out);
            const Vec6 ref = gravity_torque(arm, theta, s.gravity);
            for (int j = 0; j < 6; ++j) EXPECT_NEAR(out[j], ref[j], kGradientTolerance) << j;
        }
    }
}

TEST(InvGravity, RefusesNullPointers) {
    double L[6], m[6], c[18];
    set_as_double(kxmc::standard_arm_parameters(0), L, m, c);
    const double q[6] = {}, g[3] = {0, 0, -9.8}, load[10] = {};
    double out[6] = {7, 7, 7, 7, 7, 7};
    EXPECT_EQ(kxmcInvGravity(L, m, c, load, g, q, nullptr), -1);
    EXPECT_EQ(kxmcInvGravity(L, m, nullptr, load, g, q, out), -1);
    EXPECT_EQ(out[0], 7.0);
}

}  // namespace
