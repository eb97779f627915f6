// Self-test torque of the four arm families against an independent Newton-Euler model of
// the same rigid-body sets (and Orocos KDL where available): full dynamics at random states
// and mountings, gravity alone, zero parameters, the flange point-mass terms, malformed
// output headers and the absence of heap allocation in the call.
#include <array>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>

#include <gtest/gtest.h>

#include "dynamics/arm_parameters.hpp"
#include "host_fixture.hpp"
#include "jointid/selftest_parameters.hpp"
#include "jointid/selftest_regressor.hpp"
#include "kxmc/kxmc_selftest.h"
#include "tests/selftest/allocation_counter.hpp"
#include "tests/selftest/newton_euler.hpp"

#ifdef KXMC_HAVE_KDL
#include <kdl/chain.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#endif

namespace {

using selftest_oracle::Chain;
using selftest_oracle::Joints;
using selftest_oracle::Vec3;
using Torque = std::array<double, 6>;
using SelftestFn = int32_t (*)(const double *, const double *, const double *, MatHead);

constexpr double kPi = 3.14159265358979323846;
constexpr double kRelTol = 1e-9;  // double-precision agreement, relative to the torque size
constexpr int kRandomStates = 1000;

struct FamilyCase {
    const char *name;
    int family;
    uint32_t model;  // rigid-body set of the family; the simulated host runs this arm
    SelftestFn fn;
};

void PrintTo(const FamilyCase &fc, std::ostream *os) { *os << fc.name; }

const FamilyCase kFamilies[] = {
    {"kx3", 3, 1u, computeKx3_selftautest},
    {"kx5", 5, 0u, computeKx5_selftautest},
    {"kx10", 10, 201u, computeKx10_selftautest},
    {"kx16", 16, 301u, computeKx16_selftautest},
};

struct Mounting {
    double tilt;  // [deg]
    double rot;   // [deg]
};
// Floor, ceiling, wall, wall turned, and an arbitrary slant; random angles are added in the
// random-state loops.
constexpr Mounting kMountings[] = {{0, 0}, {180, 0}, {90, 0}, {90, 90}, {35, -120}};

// Gravity acceleration of a mounting in the base frame [m/s^2].
Vec3 mounting_gravity(double tilt_rad, double rot_rad) {
    return {-9.81 * std::cos(rot_rad) * std::sin(tilt_rad),
            -9.81 * std::sin(rot_rad) * std::sin(tilt_rad), -9.81 * std::cos(tilt_rad)};
}

Chain chain_of(uint32_t model, double payload_kg = 0.0) {
    const kxmc::StandardArmParameters &set = kxmc::standard_arm_parameters(model);
    const double twist[6] = {kPi / 2, 0.0, 0.0, kPi / 2, -kPi / 2, 0.0};
    Chain chain{};
    for (int j = 0; j < 6; ++j) {
        selftest_oracle::Link &l = chain[j];
        const double len = 1e-3 * set.lengths[j];
        l.a = (j == 1 || j == 2) ? len : 0.0;
        l.d = (j == 1 || j == 2) ? 0.0 : len;
        l.alpha = twist[j];
        l.mass = set.masses[j];
        for (int k = 0; k < 3; ++k) {
            l.com[k] = 1e-3 * set.centres[3 * j + k];
        }
        const float *in = &set.inertias[6 * j];
        l.inertia = {{{in[0], in[1], in[2]}, {in[1], in[3], in[4]}, {in[2], in[4], in[5]}}};
        for (auto &row : l.inertia) {
            for (double &v : row) {
                v *= 1e-6;
            }
        }
    }
    // A point payload at the flange origin: merge it into link 6 (centre and parallel axis).
    selftest_oracle::Link &l6 = chain[5];
    const double m = l6.mass + payload_kg;
    if (payload_kg > 0.0) {
        const Vec3 c_old = l6.com;
        const Vec3 c_new = selftest_oracle::scale(c_old, l6.mass / m);
        auto shift = [](double mass, const Vec3 &r, int a, int b) {
            const double r2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
            return mass * ((a == b ? r2 : 0.0) - r[a] * r[b]);
        };
        const Vec3 to_old{c_old[0] - c_new[0], c_old[1] - c_new[1], c_old[2] - c_new[2]};
        const Vec3 to_load{-c_new[0], -c_new[1], -c_new[2]};
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b) {
                l6.inertia[a][b] += shift(l6.mass, to_old, a, b) + shift(payload_kg, to_load, a, b);
            }
        }
        l6.com = c_new;
        l6.mass = m;
    }
    return chain;
}

// One call of the exported function through a 6 x 1 header.
Torque call(SelftestFn fn, double tilt_rad, double rot_rad, const Joints &q, const Joints &qd,
            const Joints &qdd, int32_t *status = nullptr) {
    const double input[9] = {0.0, -tilt_rad, rot_rad, q[0], q[1], q[2], q[3], q[4], q[5]};
    Torque tau{};
    double *rows[6];
    for (int i = 0; i < 6; ++i) {
        rows[i] = &tau[i];
    }
    const int32_t rc = fn(input, qd.data(), qdd.data(), MatHead{0, 5, 0, 0, 0, rows});
    if (status != nullptr) {
        *status = rc;
    }
    return tau;
}

void load_parameters(const double *theta) {
    for (int k = 0; k < 54; ++k) {
        gtau[k] = theta[k];
    }
}

void expect_torque_near(const Torque &got, const Joints &want, const char *what, int state) {
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(got[i], want[i], kRelTol * (1.0 + std::fabs(want[i])))
            << what << ", state " << state << ", joint " << i + 1;
    }
}

struct RandomState {
    explicit RandomState(uint64_t seed) : rng(seed) {}
    Joints uniform(double limit) {
        std::uniform_real_distribution<double> u(-limit, limit);
        Joints v{};
        for (double &x : v) {
            x = u(rng);
        }
        return v;
    }
    double scalar(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    std::mt19937_64 rng;
};

// Each family runs on a simulated host started for its arm, whose matrix product the call uses.
class SelftestFamily : public kxsim_test::HostFixture,
                       public ::testing::WithParamInterface<FamilyCase> {
protected:
    uint32_t model_code() const override { return GetParam().model; }
};
using SelftestInterface = kxsim_test::HostFixture;

TEST_P(SelftestFamily, FullModelMatchesNewtonEulerAtRandomStatesAndMountings) {
    const FamilyCase &fc = GetParam();
    load_parameters(kxmc::selftest_parameters(fc.family));
    const Chain chain = chain_of(fc.model);
    RandomState rs(0x5e1f7e57u + static_cast<uint64_t>(fc.family));
    constexpr int kMountCount = static_cast<int>(sizeof(kMountings) / sizeof(kMountings[0]));
    for (int s = 0; s < kRandomStates; ++s) {
        double tilt = 0.0, rot = 0.0;
        if (s % (kMountCount + 1) < kMountCount) {
            tilt = kMountings[s % (kMountCount + 1)].tilt * kPi / 180.0;
            rot = kMountings[s % (kMountCount + 1)].rot * kPi / 180.0;
        } else {
            tilt = rs.scalar(-kPi, kPi);
            rot = rs.scalar(-kPi, kPi);
        }
        const Joints q = rs.uniform(kPi), qd = rs.uniform(3.0), qdd = rs.uniform(10.0);
        int32_t rc = -7;
        const Torque tau = call(fc.fn, tilt, rot, q, qd, qdd, &rc);
        ASSERT_EQ(rc, 0);
        expect_torque_near(tau, selftest_oracle::inverse_dynamics(chain, q, qd, qdd,
                                                                  mounting_gravity(tilt, rot)),
                           "full model", s);
        if (HasFailure()) {
            return;
        }
    }
}

TEST_P(SelftestFamily, AtRestGivesTheGravityTorqueOfItsSet) {
    const FamilyCase &fc = GetParam();
    load_parameters(kxmc::selftest_parameters(fc.family));
    const Chain chain = chain_of(fc.model);
    RandomState rs(77u + static_cast<uint64_t>(fc.family));
    const Joints zero{};
    for (const Mounting &m : kMountings) {
        const double tilt = m.tilt * kPi / 180.0, rot = m.rot * kPi / 180.0;
        for (int s = 0; s < 100; ++s) {
            const Joints q = rs.uniform(kPi);
            const Torque tau = call(fc.fn, tilt, rot, q, zero, zero);
            expect_torque_near(tau, selftest_oracle::inverse_dynamics(chain, q, zero, zero,
                                                                      mounting_gravity(tilt, rot)),
                               "gravity", s);
        }
    }
    // Stretched out horizontally on the floor the shoulder holds a real load.
    const Joints stretched{0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    const Torque tau = call(fc.fn, 0.0, 0.0, stretched, zero, zero);
    EXPECT_GT(std::fabs(tau[1]), 1.0);
    EXPECT_NEAR(tau[0], 0.0, 1e-12);  // gravity along joint 1's axis
}

TEST_P(SelftestFamily, ZeroParametersGiveZeroTorque) {
    const FamilyCase &fc = GetParam();
    const double zeros[54] = {};
    load_parameters(zeros);
    RandomState rs(5u);
    for (int s = 0; s < 50; ++s) {
        const Torque tau = call(fc.fn, rs.scalar(-kPi, kPi), rs.scalar(-kPi, kPi), rs.uniform(kPi),
                                rs.uniform(3.0), rs.uniform(10.0));
        for (double t : tau) {
            EXPECT_EQ(t, 0.0);
        }
    }
}

TEST_P(SelftestFamily, PointMassTermsAddTheTorqueOfAFlangePayload) {
    const FamilyCase &fc = GetParam();
    const double *theta = kxmc::selftest_parameters(fc.family);
    RandomState rs(99u + static_cast<uint64_t>(fc.family));
    const Chain bare = chain_of(fc.model);
    for (double m : {0.5, 2.0, static_cast<double>(fc.family)}) {
        double delta[54];
        ASSERT_TRUE(kxmc::selftest_point_mass_terms(fc.family, m, delta));
        double loaded[54];
        for (int k = 0; k < 54; ++k) {
            loaded[k] = theta[k] + delta[k];
        }
        const Chain with_load = chain_of(fc.model, m);
        for (int s = 0; s < 100; ++s) {
            const double tilt = rs.scalar(-kPi, kPi), rot = rs.scalar(-kPi, kPi);
            const Joints q = rs.uniform(kPi), qd = rs.uniform(3.0), qdd = rs.uniform(10.0);
            const Vec3 g = mounting_gravity(tilt, rot);
            const Joints want_bare = selftest_oracle::inverse_dynamics(bare, q, qd, qdd, g);
            const Joints want_load = selftest_oracle::inverse_dynamics(with_load, q, qd, qdd, g);
            load_parameters(loaded);
            const Torque with = call(fc.fn, tilt, rot, q, qd, qdd);
            load_parameters(theta);
            const Torque without = call(fc.fn, tilt, rot, q, qd, qdd);
            for (int i = 0; i < 6; ++i) {
                const double want = want_load[i] - want_bare[i];
                EXPECT_NEAR(with[i] - without[i], want, kRelTol * (1.0 + std::fabs(want_load[i])))
                    << "payload " << m << " kg, state " << s << ", joint " << i + 1;
            }
            if (HasFailure()) {
                return;
            }
        }
    }
}

TEST_P(SelftestFamily, ChainLengthsAreThoseOfTheParameterSet) {
    const FamilyCase &fc = GetParam();
    const kxmc::detail::SelftestChain *chain = kxmc::detail::selftest_chain(fc.family);
    ASSERT_NE(chain, nullptr);
    const float *len = kxmc::standard_arm_parameters(fc.model).lengths;
    const double lengths[6] = {chain->d1, chain->a2, chain->a3, chain->d4, chain->d5, chain->d6};
    for (int j = 0; j < 6; ++j) {
        EXPECT_NEAR(lengths[j], 1e-3 * len[j], 1e-12) << "length " << j + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Families, SelftestFamily, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<FamilyCase> &param) {
                             return std::string(param.param.name);
                         });

TEST(SelftestParameters, UnknownFamiliesHaveNoModel) {
    double delta[54] = {};
    for (int family : {0, 4, 6, 15, 401, -5}) {
        EXPECT_EQ(kxmc::selftest_parameters(family), nullptr) << family;
        EXPECT_FALSE(kxmc::selftest_point_mass_terms(family, 1.0, delta)) << family;
    }
}

TEST(SelftestParameters, FiveKgPayloadTermsScaleWithMass) {
    double one[54], three[54];
    kxmc::selftest_point_mass_terms(1.0, one);
    kxmc::selftest_point_mass_terms(3.0, three);
    for (int k = 0; k < 54; ++k) {
        EXPECT_NEAR(three[k], 3.0 * one[k], 1e-15) << k;
    }
    // A point on the flange axis adds nothing to link 6 and nothing to link 1 but its inertia
    // about joint 1 (ZZ1) and its first moment.
    for (int k = 45; k < 54; ++k) {
        EXPECT_EQ(one[k], 0.0) << k;
    }
}

// Malformed output headers and null inputs are refused and nothing is written.
TEST_F(SelftestInterface, RefusesMalformedArgumentsWithoutWriting) {
    load_parameters(kxmc::selftest_parameters(5));
    double store[6];
    double *rows[6];
    for (int i = 0; i < 6; ++i) {
        rows[i] = &store[i];
    }
    double *rows_with_hole[6] = {rows[0], rows[1], nullptr, rows[3], rows[4], rows[5]};
    const double input[9] = {};
    const double rates[6] = {};
    struct Case {
        const char *what;
        MatHead head;
        const double *q;
        const double *qd;
        const double *qdd;
    };
    const Case cases[] = {
        {"rows 0..4", {0, 4, 0, 0, 0, rows}, input, rates, rates},
        {"rows 1..6", {1, 6, 0, 0, 0, rows}, input, rates, rates},
        {"two columns", {0, 5, 0, 1, 0, rows}, input, rates, rates},
        {"column 1", {0, 5, 1, 1, 0, rows}, input, rates, rates},
        {"no row pointers", {0, 5, 0, 0, 0, nullptr}, input, rates, rates},
        {"a null row", {0, 5, 0, 0, 0, rows_with_hole}, input, rates, rates},
        {"null q", {0, 5, 0, 0, 0, rows}, nullptr, rates, rates},
        {"null qd", {0, 5, 0, 0, 0, rows}, input, nullptr, rates},
        {"null qdd", {0, 5, 0, 0, 0, rows}, input, rates, nullptr},
    };
    for (const FamilyCase &fc : kFamilies) {
        for (const Case &c : cases) {
            for (double &v : store) {
                v = 123.0;
            }
            EXPECT_EQ(fc.fn(c.q, c.qd, c.qdd, c.head), -1) << fc.name << ": " << c.what;
            for (double v : store) {
                EXPECT_EQ(v, 123.0) << fc.name << ": " << c.what;
            }
        }
    }
}

TEST_F(SelftestInterface, CallDoesNotAllocate) {
    load_parameters(kxmc::selftest_parameters(10));
    const Joints q{0.1, -0.4, 0.9, 0.2, -1.1, 0.5}, qd{0.3, 0.1, -0.2, 0.5, 0.4, -0.6},
        qdd{1.0, -2.0, 0.5, 3.0, -1.0, 2.0};
    Torque warm = call(computeKx10_selftautest, 0.2, 0.3, q, qd, qdd);
    static_cast<void>(warm);
    const long before = selftest_alloc::allocations();
    for (const FamilyCase &fc : kFamilies) {
        static_cast<void>(call(fc.fn, 0.2, 0.3, q, qd, qdd));
    }
    EXPECT_EQ(selftest_alloc::allocations(), before);
}

#ifdef KXMC_HAVE_KDL
// The plain Newton-Euler oracle and the self-test torque both agree with KDL's solver.
TEST(SelftestKdl, MatchesKdlRecursiveNewtonEuler) {
    for (const FamilyCase &fc : kFamilies) {
        const Chain chain = chain_of(fc.model);
        KDL::Chain kdl;
        for (const selftest_oracle::Link &l : chain) {
            const auto &in = l.inertia;
            kdl.addSegment(KDL::Segment(
                KDL::Joint(KDL::Joint::RotZ), KDL::Frame::DH(l.a, l.alpha, l.d, 0.0),
                KDL::RigidBodyInertia(l.mass, KDL::Vector(l.com[0], l.com[1], l.com[2]),
                                      KDL::RotationalInertia(in[0][0], in[1][1], in[2][2], in[0][1],
                                                             in[0][2], in[1][2]))));
        }
        load_parameters(kxmc::selftest_parameters(fc.family));
        RandomState rs(4242u);
        for (int s = 0; s < 200; ++s) {
            const double tilt = rs.scalar(-kPi, kPi), rot = rs.scalar(-kPi, kPi);
            const Vec3 g = mounting_gravity(tilt, rot);
            KDL::ChainIdSolver_RNE solver(kdl, KDL::Vector(g[0], g[1], g[2]));
            const Joints q = rs.uniform(kPi), qd = rs.uniform(3.0), qdd = rs.uniform(10.0);
            KDL::JntArray kq(6), kqd(6), kqdd(6), ktau(6);
            for (int i = 0; i < 6; ++i) {
                kq(i) = q[i];
                kqd(i) = qd[i];
                kqdd(i) = qdd[i];
            }
            KDL::Wrenches external(6, KDL::Wrench::Zero());
            ASSERT_GE(solver.CartToJnt(kq, kqd, kqdd, external, ktau), 0);
            Joints want{};
            for (int i = 0; i < 6; ++i) {
                want[i] = ktau(i);
            }
            expect_torque_near(call(fc.fn, tilt, rot, q, qd, qdd), want, fc.name, s);
            const Joints oracle = selftest_oracle::inverse_dynamics(chain, q, qd, qdd, g);
            for (int i = 0; i < 6; ++i) {
                EXPECT_NEAR(oracle[i], want[i], kRelTol * (1.0 + std::fabs(want[i])));
            }
            if (HasFailure()) {
                return;
            }
        }
    }
}
#endif

}  // namespace
