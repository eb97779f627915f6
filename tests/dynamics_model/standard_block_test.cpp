// The standard arms' single-precision dynamics block and output_MCG against Orocos KDL and
// against the structure of Lagrange's equations: tau = tauStatic + C qd + M qdd, M symmetric
// positive definite with the rotors on its diagonal, C the Christoffel factorisation (Mdot - 2C
// skew-symmetric), tauStatic the any-angle gravity torque of kxmcInvGravity.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <vector>

#include "kxmc/kxmc_dynamics_model.h"
#include "kxmc/kxmc_gravity.h"
#include "oracle.hpp"

namespace {

using namespace kxtest;

// Band edges and single codes with a code of the same set; codes without a set of their own
// take the 5-kg arm (0).
TEST(StandardArmParameters, ModelCodesSelectTheirSet) {
    const uint32_t same[][2] = {{4, 2},     {100, 2},     {101, 0},  {200, 0},        {300, 202},
                                {400, 302}, {500, 401},   {501, 0},  {701, 0},        {704, 0},
                                {902, 0},   {1100, 1001}, {1101, 0}, {0xFFFFFFFFu, 0}};
    for (const auto &c : same) {
        const auto &p = kxmc::standard_arm_parameters(c[0]);
        const auto &q = kxmc::standard_arm_parameters(c[1]);
        EXPECT_TRUE(std::equal(p.lengths, p.lengths + 6, q.lengths)) << c[0];
        EXPECT_TRUE(std::equal(p.masses, p.masses + 6, q.masses)) << c[0];
    }
}

constexpr int kStates = 1000;
constexpr double kFloatRelative = 2e-5;  // single precision over a few hundred operations

struct BlockOutput {
    float tau[6], tau_static[6], M[36], C[36];
};

// The float block at a state, its joints moved by step x the joint rates.
BlockOutput run_block(const kxmc::StandardArmParameters &p, const State &s, double step = 0) {
    float q[6], qd[6], qdd[6], payload[10], g[3];
    for (int i = 0; i < 6; ++i) {
        q[i] = float(s.q[i] + step * s.qd[i]);
        qd[i] = float(s.qd[i]);
        qdd[i] = float(s.qdd[i]);
    }
    std::copy(s.payload, s.payload + 10, payload);
    std::copy(s.gravity, s.gravity + 3, g);
    BlockOutput o;
    EXPECT_EQ(qmckxdynamicblock(p.lengths, q, qd, qdd, payload, p.masses, p.centres, p.inertias,
                                p.rotor, g, o.tau, o.tau_static, o.M, o.C),
              0);
    return o;
}

// Cholesky factorisation of the n x n matrix A succeeds: positive definite.
template <class T>
bool positive_definite(const T *A, int n = 6) {
    double L[36] = {};
    for (int j = 0; j < n; ++j)
        for (int i = j; i < n; ++i) {
            double t = A[n * i + j];
            for (int k = 0; k < j; ++k) t -= L[n * i + k] * L[n * j + k];
            if (i == j && !(t > 0)) return false;
            L[n * i + j] = i == j ? std::sqrt(t) : t / L[(n + 1) * j];
        }
    return true;
}

class StandardBlock : public ::testing::TestWithParam<SetCase> {};

// Every set's bodies are the 5-kg arm's measured bodies stretched along the axes of their own
// frames by the ratios of the arm's lengths to the 5-kg arm's (across, by the wrist size d5),
// with the arm's own masses: here each measured body is replaced by six equal point masses with
// its centre and second moment, the points are stretched, and their inertia is summed.
TEST_P(StandardBlock, BodiesAreTheMeasuredArmStretchedToItsLengths) {
    const SetCase &c = GetParam();
    const SetCase &arm5 = kStandardSets[0];
    const auto &p = kxmc::standard_arm_parameters(c.code);
    const auto ratio = [&](int k) { return std::fabs(double(c.lengths[k]) / arm5.lengths[k]); };
    const double across = ratio(4);
    const double stretch[6][3] = {{across, ratio(0), across},   {ratio(1), across, ratio(3)},
                                  {ratio(2), across, across},   {across, ratio(3), ratio(4)},
                                  {across, ratio(4), ratio(5)}, {across, across, ratio(5)}};
    for (int i = 0; i < 6; ++i) {
        const float *t = &kArm5Inertias[6 * i];
        Eigen::Matrix3d I0;
        I0 << t[0], t[1], t[2], t[1], t[3], t[4], t[2], t[4], t[5];
        const Eigen::Matrix3d second = 0.5 * I0.trace() * Eigen::Matrix3d::Identity() - I0;
        const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> axes(second);
        ASSERT_GT(axes.eigenvalues().minCoeff(), 0.0) << "a real mass distribution, link " << i + 1;
        const Eigen::Vector3d s(stretch[i][0], stretch[i][1], stretch[i][2]);
        Eigen::Matrix3d I = Eigen::Matrix3d::Zero();
        for (int k = 0; k < 3; ++k) {
            const double reach = std::sqrt(3.0 * axes.eigenvalues()[k] / arm5.masses[i]);
            const Eigen::Vector3d r = s.cwiseProduct(reach * axes.eigenvectors().col(k));
            I += 2.0 * c.masses[i] / 6.0 *
                 (r.squaredNorm() * Eigen::Matrix3d::Identity() - r * r.transpose());
        }
        const double tensor[6] = {I(0, 0), I(0, 1), I(0, 2), I(1, 1), I(1, 2), I(2, 2)};
        for (int k = 0; k < 3; ++k) {
            const double centre = stretch[i][k] * kArm5Centres[3 * i + k];
            EXPECT_NEAR(p.centres[3 * i + k], centre, 1e-5 * std::fabs(centre) + 1e-5)
                << "link " << i + 1 << " axis " << k;
        }
        for (int k = 0; k < 6; ++k) {
            EXPECT_NEAR(p.inertias[6 * i + k], tensor[k], 2e-6 * I.norm())
                << "link " << i + 1 << " element " << k;
        }
    }
}

TEST_P(StandardBlock, AgreesWithKdlAndLagrangesEquations) {
    const auto &p = kxmc::standard_arm_parameters(GetParam().code);
    const std::vector<double> L(p.lengths, p.lengths + 6), m(p.masses, p.masses + 6),
        c(p.centres, p.centres + 18);
    Random rng(100 + GetParam().code);
    const double h = 2e-3;  // [s] step of the central difference of M along the motion
    for (int n = 0; n < kStates; ++n) {
        SCOPED_TRACE("state " + std::to_string(n));
        const State s = random_state(rng, GetParam().max_payload, n % 2 == 1);
        const BlockOutput o = run_block(p, s), plus = run_block(p, s, h),
                          minus = run_block(p, s, -h);
        const Dynamics k =
            kdl_dynamics(standard_model(GetParam(), p, s.payload), s.q, s.qd, s.qdd, s.gravity);
        double gravity[6], rate[6], accel[6];
        ASSERT_EQ(kxmcInvGravity(L.data(), m.data(), c.data(), s.payload, s.gravity, s.q, gravity),
                  0);
        for (int i = 0; i < 6; ++i) rate[i] = s.qd[i] * kBlockDeg, accel[i] = s.qdd[i] * kBlockDeg;
        const double mscale = max_abs(k.M, 36), rmax = max_abs(rate, 6);
        const double cscale = max_abs(k.C, 36) + mscale * rmax;
        const double gscale = max_abs(k.G, 6) + 1e-3, tscale = max_abs(k.tau, 6) + 1e-3;
        for (int i = 0; i < 6; ++i) {
            ASSERT_NEAR(o.tau[i], k.tau[i], 1e-4 * tscale) << "joint " << i;
            ASSERT_NEAR(gravity[i], k.G[i], 1e-9) << "joint " << i;
            ASSERT_NEAR(o.tau_static[i], gravity[i], kFloatRelative * gscale) << "joint " << i;
            double sum = o.tau_static[i], sum_scale = std::fabs(sum);
            for (int j = 0; j < 6; ++j) {
                const int e = 6 * i + j, t = 6 * j + i;
                sum += o.C[e] * rate[j] + o.M[e] * accel[j];
                sum_scale += std::fabs(o.C[e] * rate[j]) + std::fabs(o.M[e] * accel[j]);
                ASSERT_EQ(o.M[e], o.M[t]);
                ASSERT_NEAR(o.M[e], k.M[e], kFloatRelative * mscale) << i << "," << j;
                ASSERT_NEAR(o.C[e], k.C[e], kFloatRelative * cscale) << i << "," << j;
                const double skew = (plus.M[e] - minus.M[e] + plus.M[t] - minus.M[t]) / (2 * h) -
                                    2 * (o.C[e] + o.C[t]);
                ASSERT_NEAR(skew, 0.0, 2e-3 * mscale * rmax + 1e-5)
                    << "Mdot - 2C at " << i << "," << j;
            }
            ASSERT_NEAR(o.tau[i], sum, 1e-6 * sum_scale + 1e-6) << "joint " << i;
        }
        ASSERT_TRUE(positive_definite(o.M));
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, StandardBlock, ::testing::ValuesIn(kStandardSets),
                         [](const ::testing::TestParamInfo<SetCase> &i) {
                             return "code" + std::to_string(i.param.code);
                         });

// output_MCG: the 5-kg arm in double precision on the floor.
TEST(OutputMCG, MatchesKdlAndTheStandardBlock) {
    const auto &p = kxmc::standard_arm_parameters(0);
    const std::vector<double> centres(p.centres, p.centres + 18);
    Random rng(600);
    for (int n = 0; n < kStates; ++n) {
        SCOPED_TRACE("state " + std::to_string(n));
        State s = random_state(rng, 5, false);
        s.gravity[0] = s.gravity[1] = 0.0, s.gravity[2] = -9.8;  // floor
        std::fill(s.qdd, s.qdd + 6, 0.0);
        double M[36], C[36], G[6];
        ASSERT_EQ(output_MCG(s.q, s.qd, centres.data(), s.payload[0], &s.payload[1], M, C, G), 0);
        const Dynamics k = kdl_dynamics(standard_model(kStandardSets[0], p, s.payload), s.q, s.qd,
                                        s.qdd, s.gravity);
        const BlockOutput o = run_block(p, s);
        const double mscale = max_abs(M, 36), cscale = max_abs(C, 36) + 1e-3;
        // KDL in double precision, the float block to float precision.
        for (int e = 0; e < 36; ++e) {
            ASSERT_NEAR(M[e], k.M[e], 1e-10) << "element " << e;
            ASSERT_NEAR(C[e], k.C[e], 1e-8) << "element " << e;
            ASSERT_NEAR(o.M[e], M[e], kFloatRelative * mscale) << "element " << e;
            ASSERT_NEAR(o.C[e], C[e], kFloatRelative * cscale) << "element " << e;
        }
        for (int j = 0; j < 6; ++j) {
            ASSERT_NEAR(G[j], k.G[j], 1e-9) << "joint " << j;
            ASSERT_NEAR(o.tau_static[j], G[j], kFloatRelative * max_abs(G, 6)) << "joint " << j;
        }
    }
}

}  // namespace
