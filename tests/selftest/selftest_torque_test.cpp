// Self-test torque of the four arm families against Orocos KDL's inverse dynamics of the same
// rigid-body sets (rotor inertias excluded): full dynamics and gravity alone at random states
// and mountings, the flange point-mass terms, zero parameters and the absence of heap
// allocation in the call.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "allocation_counter.hpp"
#include "host_fixture.hpp"
#include "jointid/selftest_parameters.hpp"
#include "kxmc/kxmc_selftest.h"
#include "tests/dynamics_model/oracle.hpp"

namespace {

using SelftestFn = int32_t (*)(const double *, const double *, const double *, MatHead);
using Joints = std::array<double, 6>;
using kxtest::kPi;

// Name, family, rigid-body set of the family (the simulated host runs this arm), function.
struct FamilyCase {
    const char *name;
    int family;
    uint32_t model;
    SelftestFn fn;
};
const FamilyCase kFamilies[] = {{"kx3", 3, 1u, computeKx3_selftautest},
                                {"kx5", 5, 0u, computeKx5_selftautest},
                                {"kx10", 10, 201u, computeKx10_selftautest},
                                {"kx16", 16, 301u, computeKx16_selftautest}};

// The call through a 6 x 1 output header; the input carries the mounting as (0, -tilt, rot).
Joints call(SelftestFn fn, double tilt, double rot, const Joints &q, const Joints &qd,
            const Joints &qdd, int32_t *status = nullptr) {
    const double input[9] = {0.0, -tilt, rot, q[0], q[1], q[2], q[3], q[4], q[5]};
    Joints tau{};
    double *rows[6] = {&tau[0], &tau[1], &tau[2], &tau[3], &tau[4], &tau[5]};
    const int32_t rc = fn(input, qd.data(), qdd.data(), MatHead{0, 5, 0, 0, 0, rows});
    if (status != nullptr) *status = rc;
    return tau;
}

void load_parameters(const double *theta) { std::copy(theta, theta + 54, gtau); }

class SelftestFamily : public kxsim_test::HostFixture,
                       public ::testing::WithParamInterface<FamilyCase> {
   protected:
    uint32_t model_code() const override { return GetParam().model; }
};

// KDL's torque and gravity torque of the family's set with a point payload on the flange
// origin, joints in rad, gravity of the mounting (tilt, rot [rad]) with g = 9.81 m/s^2.
kxtest::Dynamics oracle(uint32_t model, double payload_kg, double tilt, double rot, const Joints &q,
                        const Joints &qd, const Joints &qdd) {
    const double payload[10] = {payload_kg};
    kxtest::Model m = kxtest::standard_model(kxmc::standard_arm_parameters(model), payload);
    std::fill(m.rotor, m.rotor + 6, 0.0);
    const auto deg = [](Joints v) {  // the oracle takes degrees
        for (double &x : v) x /= kxtest::kBlockDeg;
        return v;
    };
    double g[3];
    kxtest::mounting_gravity(tilt, rot, g, 9.81);
    return kxtest::kdl_dynamics(m, deg(q).data(), deg(qd).data(), deg(qdd).data(), g);
}

void expect_near(const Joints &got, const double *want, const char *what) {
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(got[i], want[i], 1e-9 * (1.0 + std::fabs(want[i])))
            << what << ", joint " << i + 1;
}

// Full dynamics and, with the joints at rest, the gravity torque; the first states are the
// floor, ceiling, wall and turned-wall mountings.
TEST_P(SelftestFamily, MatchesKdlInverseDynamicsAndGravity) {
    const FamilyCase &fc = GetParam();
    load_parameters(kxmc::selftest_parameters(fc.family));
    kxtest::Random rng(0x5e1f7e57u + fc.family);
    const double fixed[4][2] = {{0, 0}, {kPi, 0}, {kPi / 2, 0}, {kPi / 2, kPi / 2}};
    const Joints zero{};
    const double zeros[54] = {};
    for (int s = 0; s < 1000; ++s) {
        SCOPED_TRACE("state " + std::to_string(s));
        const double tilt = s < 4 ? fixed[s][0] : rng.uniform(-kPi, kPi);
        const double rot = s < 4 ? fixed[s][1] : rng.uniform(-kPi, kPi);
        const Joints q = rng.joints(kPi), qd = rng.joints(3.0), qdd = rng.joints(10.0);
        const kxtest::Dynamics k = oracle(fc.model, 0.0, tilt, rot, q, qd, qdd);
        int32_t rc = -7;
        expect_near(call(fc.fn, tilt, rot, q, qd, qdd, &rc), k.tau, "full model");
        ASSERT_EQ(rc, 0);
        expect_near(call(fc.fn, tilt, rot, q, zero, zero), k.G, "gravity");
        if (HasFailure()) return;
    }
    load_parameters(zeros);  // all-zero parameters give zero torque
    for (double t : call(fc.fn, 0.3, 0.2, rng.joints(kPi), rng.joints(3.0), rng.joints(10.0)))
        EXPECT_EQ(t, 0.0);
}

// Adding the point-mass terms of m kg to the parameters adds the torque of m kg on the flange.
TEST_P(SelftestFamily, PointMassTermsAddTheTorqueOfAFlangePayload) {
    const FamilyCase &fc = GetParam();
    const double *theta = kxmc::selftest_parameters(fc.family);
    kxtest::Random rng(99u + fc.family);
    for (double m : {0.5, 2.0, double(fc.family)}) {
        double delta[54], loaded[54];
        ASSERT_TRUE(kxmc::selftest_point_mass_terms(fc.family, m, delta));
        for (int k = 0; k < 54; ++k) loaded[k] = theta[k] + delta[k];
        for (int s = 0; s < 100; ++s) {
            SCOPED_TRACE(std::to_string(m) + " kg, state " + std::to_string(s));
            const double tilt = rng.uniform(-kPi, kPi), rot = rng.uniform(-kPi, kPi);
            const Joints q = rng.joints(kPi), qd = rng.joints(3.0), qdd = rng.joints(10.0);
            const kxtest::Dynamics bare = oracle(fc.model, 0.0, tilt, rot, q, qd, qdd);
            const kxtest::Dynamics with = oracle(fc.model, m, tilt, rot, q, qd, qdd);
            load_parameters(loaded);
            const Joints got_with = call(fc.fn, tilt, rot, q, qd, qdd);
            load_parameters(theta);
            const Joints got_bare = call(fc.fn, tilt, rot, q, qd, qdd);
            for (int i = 0; i < 6; ++i)
                EXPECT_NEAR(got_with[i] - got_bare[i], with.tau[i] - bare.tau[i],
                            1e-9 * (1.0 + std::fabs(with.tau[i])))
                    << i + 1;
            if (HasFailure()) return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, SelftestFamily, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<FamilyCase> &p) {
                             return std::string(p.param.name);
                         });

TEST(SelftestParameters, UnknownFamiliesHaveNoModel) {
    double delta[54] = {};
    for (int family : {0, 4, 6, 15, 401, -5}) {
        EXPECT_EQ(kxmc::selftest_parameters(family), nullptr) << family;
        EXPECT_FALSE(kxmc::selftest_point_mass_terms(family, 1.0, delta)) << family;
    }
}

using SelftestInterface = kxsim_test::HostFixture;

// A missing input, output row or a header that is not 6 x 1 is refused; nothing is written.
TEST_F(SelftestInterface, MalformedCallsAreRefused) {
    load_parameters(kxmc::selftest_parameters(10));
    const double input[9] = {}, six[6] = {};
    double tau[6] = {7, 7, 7, 7, 7, 7};
    double *rows[6] = {&tau[0], &tau[1], &tau[2], &tau[3], &tau[4], &tau[5]};
    double *holed[6] = {&tau[0], &tau[1], nullptr, &tau[3], &tau[4], &tau[5]};
    struct Case { const double *q, *qd, *qdd; MatHead out; } cases[] = {
        {nullptr, six, six, {0, 5, 0, 0, 0, rows}}, {input, nullptr, six, {0, 5, 0, 0, 0, rows}},
        {input, six, nullptr, {0, 5, 0, 0, 0, rows}}, {input, six, six, {0, 5, 0, 0, 0, nullptr}},
        {input, six, six, {0, 5, 0, 0, 0, holed}}, {input, six, six, {0, 4, 0, 0, 0, rows}},
        {input, six, six, {0, 5, 0, 1, 0, rows}}};
    for (const Case &c : cases) {
        EXPECT_EQ(computeKx10_selftautest(c.q, c.qd, c.qdd, c.out), -1);
        for (double t : tau) EXPECT_EQ(t, 7.0);
    }
}

TEST_F(SelftestInterface, CallDoesNotAllocate) {
    load_parameters(kxmc::selftest_parameters(10));
    const Joints q{0.1, -0.4, 0.9, 0.2, -1.1, 0.5}, qd{0.3, 0.1, -0.2, 0.5, 0.4, -0.6},
        qdd{1.0, -2.0, 0.5, 3.0, -1.0, 2.0};
    call(computeKx10_selftautest, 0.2, 0.3, q, qd, qdd);  // warm-up
    if (!kxmc_alloc::counting_available()) GTEST_SKIP() << "the sanitizer owns the allocator";
    kxmc_alloc::count_allocations(true);
    for (const FamilyCase &fc : kFamilies) call(fc.fn, 0.2, 0.3, q, qd, qdd);
    kxmc_alloc::count_allocations(false);
    EXPECT_EQ(kxmc_alloc::allocations(), 0);
}

}  // namespace
