// The standard arms' single-precision dynamics block against physics: Lagrange's equations of
// an independent reference model, the Christoffel structure of the Coriolis matrix, and the
// any-angle gravity torque. 1000 seeded random states per parameter set.
#include <gtest/gtest.h>

#include <cmath>

#include "cases.hpp"
#include "kxmc/kxmc_dynamics_model.h"
#include "kxmc/kxmc_gravity.h"

namespace {

using namespace kxtest;

constexpr int kStates = 1000;
// Single-precision arithmetic over a few hundred operations: relative to the magnitude of the
// quantities being compared.
constexpr double kFloatRelative = 2e-5;

struct BlockOutput {
    float tau[6], tau_static[6], M[36], C[36];
};

struct BlockInput {
    float lengths[6], masses[6], centres[18], inertias[36], rotor[6];
    float q[6], qd[6], qdd[6], payload[10], gravity[3];
};

BlockInput block_input(const kxmc::StandardArmParameters &p, const State &s) {
    BlockInput in{};
    for (int i = 0; i < 6; ++i) {
        in.lengths[i] = p.lengths[i];
        in.masses[i] = p.masses[i];
        in.rotor[i] = p.rotor[i];
        in.q[i] = float(s.q[i]);
        in.qd[i] = float(s.qd[i]);
        in.qdd[i] = float(s.qdd[i]);
    }
    for (int i = 0; i < 18; ++i) in.centres[i] = p.centres[i];
    for (int i = 0; i < 36; ++i) in.inertias[i] = p.inertias[i];
    for (int i = 0; i < 10; ++i) in.payload[i] = float(s.payload[i]);
    for (int i = 0; i < 3; ++i) in.gravity[i] = float(s.gravity[i]);
    return in;
}

BlockOutput run_block(const BlockInput &in) {
    BlockOutput out{};
    EXPECT_EQ(qmckxdynamicblock(in.lengths, in.q, in.qd, in.qdd, in.payload, in.masses, in.centres,
                                in.inertias, in.rotor, in.gravity, out.tau, out.tau_static, out.M,
                                out.C),
              0);
    return out;
}

// The reference model of exactly the block's (float) inputs.
RefArm reference_of(const BlockInput &in) {
    return standard_arm<float>(in.lengths, in.masses, in.centres, in.inertias, in.rotor, in.payload);
}

void block_radians(const float *deg, double *rad) {
    for (int i = 0; i < 6; ++i) rad[i] = double(deg[i] * 0.017453292f);
}

double max_abs_f(const float *x, int n) {
    double m = 0;
    for (int i = 0; i < n; ++i) m = std::max(m, double(std::fabs(x[i])));
    return m;
}

// Lower-triangular Cholesky factorisation succeeds: symmetric positive definite.
bool cholesky_ok(const double *A, int n) {
    double L[36] = {};
    for (int j = 0; j < n; ++j) {
        double s = A[n * j + j];
        for (int k = 0; k < j; ++k) s -= L[n * j + k] * L[n * j + k];
        if (!(s > 0)) return false;
        L[n * j + j] = std::sqrt(s);
        for (int i = j + 1; i < n; ++i) {
            double t = A[n * i + j];
            for (int k = 0; k < j; ++k) t -= L[n * i + k] * L[n * j + k];
            L[n * i + j] = t / L[n * j + j];
        }
    }
    return true;
}

class StandardBlock : public ::testing::TestWithParam<SetCase> {
protected:
    const kxmc::StandardArmParameters &set() const {
        return kxmc::standard_arm_parameters(GetParam().code);
    }
    State state(Random &rng) const { return random_state(rng, GetParam().max_payload); }
};

TEST_P(StandardBlock, TorqueIsStaticPlusCoriolisPlusInertiaTerms) {
    Random rng(100 + GetParam().code);
    for (int n = 0; n < kStates; ++n) {
        const BlockInput in = block_input(set(), state(rng));
        const BlockOutput out = run_block(in);
        double qd[6], qdd[6];
        block_radians(in.qd, qd);
        block_radians(in.qdd, qdd);
        for (int i = 0; i < 6; ++i) {
            double sum = out.tau_static[i], scale = std::fabs(out.tau_static[i]);
            for (int j = 0; j < 6; ++j) {
                sum += double(out.C[6 * i + j]) * qd[j] + double(out.M[6 * i + j]) * qdd[j];
                scale += std::fabs(out.C[6 * i + j] * qd[j]) + std::fabs(out.M[6 * i + j] * qdd[j]);
            }
            ASSERT_NEAR(out.tau[i], sum, 1e-6 * scale + 1e-6) << "state " << n << " joint " << i;
        }
    }
}

// M minus the rotor inertias equals the rigid-body mass matrix of the body Jacobians; the
// payload's own inertia (which the wrappers leave at zero) is carried as well.
TEST_P(StandardBlock, MassMatrixIsRigidBodyMatrixPlusRotorsAndPositiveDefinite) {
    Random rng(200 + GetParam().code);
    for (int n = 0; n < kStates; ++n) {
        State s = state(rng);
        if (n % 2 == 1) {
            const double payload_inertia[6] = {2000, 150, -80, 3000, 60, 4000};  // [kg mm^2]
            for (int k = 0; k < 6; ++k) s.payload[4 + k] = payload_inertia[k];
        }
        const BlockInput in = block_input(set(), s);
        const BlockOutput out = run_block(in);
        double theta[6];
        block_radians(in.q, theta);
        const Mat6 ref = mass_matrix(reference_of(in), theta);
        double M[36];
        for (int k = 0; k < 36; ++k) M[k] = out.M[k];
        const double scale = max_abs_f(out.M, 36);
        for (int i = 0; i < 6; ++i) {
            for (int j = 0; j < 6; ++j) {
                ASSERT_EQ(out.M[6 * i + j], out.M[6 * j + i]);
                const double rotor = i == j ? in.rotor[i] * 1e-6 : 0.0;
                ASSERT_NEAR(M[6 * i + j] - rotor, ref[6 * i + j], kFloatRelative * scale)
                    << "state " << n << " element " << i << "," << j;
            }
        }
        ASSERT_TRUE(cholesky_ok(M, 6)) << "state " << n;
    }
}

// Mdot by central differences of the block's own mass matrix along the joint velocity;
// Mdot - 2C must be skew-symmetric.
TEST_P(StandardBlock, MdotMinusTwiceCoriolisIsSkewSymmetric) {
    Random rng(300 + GetParam().code);
    const double h = 2e-3;  // [s]
    for (int n = 0; n < kStates; ++n) {
        const State s = state(rng);
        BlockInput in = block_input(set(), s);
        const BlockOutput out = run_block(in);
        BlockInput plus = in, minus = in;
        for (int i = 0; i < 6; ++i) {
            plus.q[i] = float(s.q[i] + h * s.qd[i]);
            minus.q[i] = float(s.q[i] - h * s.qd[i]);
        }
        const BlockOutput mp = run_block(plus), mm = run_block(minus);
        double qd_max = 0;
        for (double v : s.qd) qd_max = std::max(qd_max, std::fabs(v * kBlockDeg));
        const double tol = 2e-3 * max_abs_f(out.M, 36) * qd_max + 1e-5;
        for (int i = 0; i < 6; ++i) {
            for (int j = 0; j <= i; ++j) {
                // The joint rates of plus/minus differ in rounding only; use the exact step.
                const double span_ij = 2 * h;
                const double mdot_ij = (double(mp.M[6 * i + j]) - mm.M[6 * i + j]) / span_ij;
                const double mdot_ji = (double(mp.M[6 * j + i]) - mm.M[6 * j + i]) / span_ij;
                const double n_ij = mdot_ij - 2.0 * out.C[6 * i + j];
                const double n_ji = mdot_ji - 2.0 * out.C[6 * j + i];
                ASSERT_NEAR(n_ij + n_ji, 0.0, tol) << "state " << n << " element " << i << "," << j;
            }
        }
    }
}

// The Christoffel factorisation is unique: C must equal the one built from dM/dq of the
// reference model (which also makes C qd the Coriolis and centrifugal torque).
TEST_P(StandardBlock, CoriolisMatrixIsTheChristoffelFactorisation) {
    Random rng(400 + GetParam().code);
    for (int n = 0; n < kStates; ++n) {
        const BlockInput in = block_input(set(), state(rng));
        const BlockOutput out = run_block(in);
        double theta[6], rate[6];
        block_radians(in.q, theta);
        block_radians(in.qd, rate);
        const Mat6 ref = christoffel_coriolis(reference_of(in), theta, rate);
        const double scale = max_abs(ref.data(), 36) + max_abs_f(out.M, 36) * max_abs(rate, 6);
        for (int k = 0; k < 36; ++k) {
            ASSERT_NEAR(out.C[k], ref[k], kFloatRelative * scale) << "state " << n << " element " << k;
        }
    }
}

TEST_P(StandardBlock, StaticTorqueIsTheAnyAngleGravityTorque) {
    Random rng(500 + GetParam().code);
    const auto &p = set();
    double L[6], m[6], c[18];
    for (int i = 0; i < 6; ++i) {
        L[i] = p.lengths[i];
        m[i] = p.masses[i];
    }
    for (int i = 0; i < 18; ++i) c[i] = p.centres[i];
    for (int n = 0; n < kStates; ++n) {
        State s = state(rng);
        if (n % 4 == 0) {
            for (double &v : s.qd) v = 0;
            for (double &v : s.qdd) v = 0;
        }
        const BlockInput in = block_input(p, s);
        const BlockOutput out = run_block(in);
        double q[6], payload[10], g[3], ref[6];
        for (int i = 0; i < 6; ++i) q[i] = in.q[i];
        for (int i = 0; i < 10; ++i) payload[i] = in.payload[i];
        for (int i = 0; i < 3; ++i) g[i] = in.gravity[i];
        kxmcInvGravity(L, m, c, payload, g, q, ref);
        const double scale = max_abs(ref, 6) + 1e-3;
        for (int i = 0; i < 6; ++i) {
            ASSERT_NEAR(out.tau_static[i], ref[i], kFloatRelative * scale) << "state " << n;
            if (n % 4 == 0) {
                ASSERT_EQ(out.tau[i], out.tau_static[i]) << "at rest, state " << n;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, StandardBlock, ::testing::ValuesIn(kStandardSets),
                         set_test_name);

TEST(StandardBlockInterface, RefusesNullPointersWithoutWriting) {
    const auto &p = kxmc::standard_arm_parameters(0);
    float q[6] = {}, payload[10] = {}, g[3] = {0, 0, -9.8f};
    float tau[6] = {5, 5, 5, 5, 5, 5}, ts[6], M[36];
    EXPECT_EQ(qmckxdynamicblock(p.lengths, q, q, q, payload, p.masses, p.centres, p.inertias,
                                p.rotor, g, tau, ts, M, nullptr),
              -1);
    EXPECT_EQ(tau[0], 5.0f);
}

// output_MCG: the 5-kg arm in double precision, floor mounting.
TEST(OutputMCG, MatchesReferenceModelAndStandardBlock) {
    const auto &p = kxmc::standard_arm_parameters(0);
    Random rng(600);
    for (int n = 0; n < kStates; ++n) {
        State s = random_state(rng, 5);
        installation_gravity(0, 0, s.gravity);
        for (double &v : s.qdd) v = 0;
        double centres[18];
        for (int i = 0; i < 18; ++i) centres[i] = p.centres[i];
        double M[36], C[36], G[6];
        ASSERT_EQ(output_MCG(s.q, s.qd, centres, s.payload[0], &s.payload[1], M, C, G), 0);

        double theta[6], rate[6];
        to_block_radians(s.q, theta);
        to_block_radians(s.qd, rate);
        const RefArm arm = standard_arm<float>(p.lengths, p.masses, p.centres, p.inertias, p.rotor,
                                               nullptr);
        RefArm loaded = arm;
        loaded.bodies.push_back(Body{6, s.payload[0], {s.payload[1] * 1e-3, s.payload[2] * 1e-3,
                                                       s.payload[3] * 1e-3}, {0, 0, 0, 0, 0, 0}});
        const Mat6 Mref = mass_matrix(loaded, theta, true);
        const Mat6 Cref = christoffel_coriolis(loaded, theta, rate);
        const Vec6 Gref = gravity_torque(loaded, theta, s.gravity);
        for (int k = 0; k < 36; ++k) {
            ASSERT_NEAR(M[k], Mref[k], 1e-10) << "state " << n;
            ASSERT_NEAR(C[k], Cref[k], 1e-8) << "state " << n;
        }
        for (int k = 0; k < 6; ++k) ASSERT_NEAR(G[k], Gref[k], 1e-9) << "state " << n;

        // The single-precision block of the same set agrees to float precision.
        const BlockInput in = block_input(p, s);
        const BlockOutput out = run_block(in);
        const double mscale = max_abs(M, 36), gscale = max_abs(G, 6);
        for (int k = 0; k < 36; ++k) ASSERT_NEAR(out.M[k], M[k], kFloatRelative * mscale);
        for (int k = 0; k < 6; ++k) ASSERT_NEAR(out.tau_static[k], G[k], kFloatRelative * gscale);
    }
}

}  // namespace
