// Double-precision TZ and PX blocks against Lagrange's equations of the reference model of
// their geometry, and parameter-free identities of inverse dynamics.
#include <gtest/gtest.h>

#include <cmath>

#include "cases.hpp"
#include "family_sets.hpp"
#include "kxmc/kxmc_dynamics_model.h"

namespace {

using namespace kxtest;

constexpr int kStates = 1000;
constexpr double kDoubleRelative = 1e-8;  // reference built from finite differences

Vec6 tz_block(const double *centres, const double *q, const double *qd, const double *qdd,
              const double *payload, const double *gravity) {
    Vec6 tau{};
    EXPECT_EQ(qmckxTZdynamicblock(kTzLengths, q, qd, qdd, payload, kTzMasses, centres, kTzInertias,
                                  kTzRotor, gravity, tau.data()),
              0);
    return tau;
}

Vec6 px_block(const double *q, const double *qd, const double *qdd, const double *payload,
              const double *gravity) {
    Vec6 tau{};
    EXPECT_EQ(qmcPXkx10dynamicblock(kPxLengths, q, qd, qdd, payload, kPxRotor, gravity, tau.data()),
              0);
    return tau;
}

struct FamilyCase {
    const char *name;
    double max_payload;
    bool zero_centres;
};

const FamilyCase kFamilies[] = {
    {"TZ_zero_centres", 3, true}, {"TZ_centres", 3, false}, {"PX", 10, false}};

class FamilyBlock : public ::testing::TestWithParam<FamilyCase> {
protected:
    bool is_px() const { return std::string(GetParam().name) == "PX"; }
    const double *centres() const {
        static const double zeros[36] = {};
        return GetParam().zero_centres ? zeros : kTzCentres;
    }
    Vec6 block(const double *q, const double *qd, const double *qdd, const double *payload,
               const double *g) const {
        return is_px() ? px_block(q, qd, qdd, payload, g) : tz_block(centres(), q, qd, qdd, payload, g);
    }
    RefArm reference(const double *payload) const {
        return is_px() ? px_reference(payload) : tz_reference(centres(), payload);
    }
};

TEST_P(FamilyBlock, TorqueFollowsLagrangesEquations) {
    Random rng(700);
    for (int n = 0; n < kStates; ++n) {
        State s = random_state(rng, GetParam().max_payload);
        const double payload_inertia[6] = {1500, 20, -30, 2500, 40, 3000};
        if (n % 2 == 1) {
            for (int k = 0; k < 6; ++k) s.payload[4 + k] = payload_inertia[k];
        }
        const Vec6 tau = block(s.q, s.qd, s.qdd, s.payload, s.gravity);
        double theta[6], rate[6], accel[6];
        to_block_radians(s.q, theta);
        to_block_radians(s.qd, rate);
        to_block_radians(s.qdd, accel);
        const Vec6 ref = lagrange_torque(reference(s.payload), theta, rate, accel, s.gravity);
        const double scale = max_abs(ref.data(), 6) + 1.0;
        for (int i = 0; i < 6; ++i) {
            ASSERT_NEAR(tau[i], ref[i], kDoubleRelative * scale) << "state " << n << " joint " << i;
        }
    }
}

// Without the reference: the mass matrix from unit accelerations (no velocity, no gravity) is
// symmetric positive definite.
TEST_P(FamilyBlock, UnitAccelerationMassMatrixIsSymmetricPositiveDefinite) {
    Random rng(800);
    const double zero[6] = {};
    const double no_gravity[3] = {};
    for (int n = 0; n < kStates; ++n) {
        const State s = random_state(rng, GetParam().max_payload);
        Mat6 M{};
        for (int k = 0; k < 6; ++k) {
            double e[6] = {};
            e[k] = 1.0 / kBlockDeg;  // 1 rad/s^2 in deg/s^2
            const Vec6 col = block(s.q, zero, e, s.payload, no_gravity);
            for (int i = 0; i < 6; ++i) M[6 * i + k] = col[i];
        }
        double L[36] = {};
        for (int j = 0; j < 6; ++j) {
            for (int i = 0; i < j; ++i) ASSERT_NEAR(M[6 * i + j], M[6 * j + i], 1e-12);
            double d = M[7 * j];
            for (int k = 0; k < j; ++k) d -= L[6 * j + k] * L[6 * j + k];
            ASSERT_GT(d, 0.0) << "state " << n;
            L[7 * j] = std::sqrt(d);
            for (int i = j + 1; i < 6; ++i) {
                double t = M[6 * i + j];
                for (int k = 0; k < j; ++k) t -= L[6 * i + k] * L[6 * j + k];
                L[6 * i + j] = t / L[7 * j];
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, FamilyBlock, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<FamilyCase> &i) { return std::string(i.param.name); });

TEST(FamilyBlocks, RefuseNullPointers) {
    const double q[6] = {}, payload[10] = {}, g[3] = {0, 0, -9.8};
    double tau[6] = {3, 3, 3, 3, 3, 3};
    EXPECT_EQ(qmckxTZdynamicblock(kTzLengths, q, q, q, payload, kTzMasses, nullptr, kTzInertias,
                                  kTzRotor, g, tau),
              -1);
    EXPECT_EQ(qmcPXkx10dynamicblock(kPxLengths, q, q, nullptr, payload, kPxRotor, g, tau), -1);
    EXPECT_EQ(tau[0], 3.0);
}

}  // namespace
