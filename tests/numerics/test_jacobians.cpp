// Jacobians checked against the motion they describe: central finite differences of the
// simulated host's flange pose, and each other.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
#include "simhost/kxsimhost.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPoses = 1000;
constexpr double kFdStep = 1e-5;  // [rad]

using Mat6 = std::array<double, 36>;

struct Chain {
    double alpha[6];
    double a[6];  // [m]
    double d[6];  // [m]
};

// Standard chain of the arm families: d1, a2, a3, d4, d5, d6 [m].
Chain standard_chain(double d1, double a2, double a3, double d4, double d5, double d6) {
    return Chain{
        {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0}, {0, a2, a3, 0, 0, 0}, {d1, 0, 0, d4, d5, d6}};
}

Mat6 jacobian_com(const Chain &c, const double q[6]) {
    Mat6 J;
    Jacobian_com(c.alpha, c.a, c.d, q, J.data());
    return J;
}

double max_abs_diff(const Mat6 &x, const Mat6 &y) {
    double m = 0.0;
    for (int i = 0; i < 36; ++i) m = std::fmax(m, std::fabs(x[i] - y[i]));
    return m;
}

void random_joints(std::mt19937 &rng, double q[6]) {
    std::uniform_real_distribution<double> u(-kPi, kPi);
    for (int i = 0; i < 6; ++i) q[i] = u(rng);
}

// Central differences of the host's flange pose at joints q [rad]: linear rows from the
// position [m], angular rows from R(q+h) R(q-h)^T = exp(2h [w]x) in the base frame.
Mat6 finite_difference_jacobian(const double q[6]) {
    Mat6 J{};
    for (int i = 0; i < 6; ++i) {
        double qp[6], qm[6];
        for (int k = 0; k < 6; ++k) {
            qp[k] = (q[k] + (k == i ? kFdStep : 0.0)) * 180.0 / kPi;
            qm[k] = (q[k] - (k == i ? kFdStep : 0.0)) * 180.0 / kPi;
        }
        const Trsf P = kxsim::flange_transform(qp), M = kxsim::flange_transform(qm);
        double D[3][3] = {};
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < 3; ++j) D[r][k] += P.rot.r[3 * r + j] * M.rot.r[3 * k + j];
        for (int r = 0; r < 3; ++r)
            J[r * 6 + i] = (P.pos.v[r] - M.pos.v[r]) / 1000.0 / (2 * kFdStep);
        J[3 * 6 + i] = (D[2][1] - D[1][2]) / (4 * kFdStep);
        J[4 * 6 + i] = (D[0][2] - D[2][0]) / (4 * kFdStep);
        J[5 * 6 + i] = (D[1][0] - D[0][1]) / (4 * kFdStep);
    }
    return J;
}

class JacobianOfHostArm : public ::testing::TestWithParam<uint32_t> {};

TEST_P(JacobianOfHostArm, MatchesFiniteDifferencesOfFlangePose) {
    const uint32_t code = GetParam();
    mcb.robotModelCode = code;
    const kxsim::ArmGeometry g = kxsim::arm_geometry(code);
    Chain c;
    for (int i = 0; i < 6; ++i) c.alpha[i] = g.alpha[i], c.a[i] = g.a[i], c.d[i] = g.d[i];
    std::mt19937 rng(1000 + code);
    for (int n = 0; n < kPoses; ++n) {
        double q[6], qdh[6];
        random_joints(rng, q);
        for (int i = 0; i < 6; ++i) qdh[i] = q[i] + g.theta_offset[i];
        ASSERT_LT(max_abs_diff(jacobian_com(c, qdh), finite_difference_jacobian(q)), 1e-6)
            << "model " << code << " pose " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(ArmFamilies, JacobianOfHostArm,
                         ::testing::Values(1u, 101u, 201u, 202u, 301u, 302u, 401u, 701u, 902u, 903u,
                                           1001u),
                         [](const ::testing::TestParamInfo<uint32_t> &p) {
                             return "model" + std::to_string(p.param);
                         });

// Each family's closed form, and the single-precision Jacobian given the family's lengths
// [mm], against the general Jacobian of its chain.
TEST(ClosedFormJacobian, EqualsGeneralJacobianAndRefusesMissingRows) {
    using ClosedForm = int (*)(const double *, const double *, const double *, double **);
    const struct {
        ClosedForm fn;
        Chain chain;
    } cases[] = {
        {kx3_jacob, standard_chain(0.14, -0.28, -0.24, 0.102, 0.102, 0.1)},
        {kx5_jacob, standard_chain(0.152, -0.425, -0.395, 0.102, 0.102, 0.1)},
        {kx10_jacob, standard_chain(0.18, -0.7, -0.586, 0.195, 0.114, 0.106)},
        {kx16_jacob, standard_chain(0.18, -0.52, -0.4, 0.195, 0.114, 0.106)},
    };
    std::mt19937 rng(3);
    for (int f = 0; f < 4; ++f) {
        const auto &tc = cases[f];
        // a2 and a3 are taken by magnitude: alternate their signs.
        const float sign = f % 2 == 0 ? 1.0f : -1.0f;
        const float mm[6] = {float(tc.chain.d[0] * 1000),        float(sign * tc.chain.a[1] * 1000),
                             float(sign * tc.chain.a[2] * 1000), float(tc.chain.d[3] * 1000),
                             float(tc.chain.d[4] * 1000),        float(tc.chain.d[5] * 1000)};
        Mat6 J;
        double *rows[6];
        for (int r = 0; r < 6; ++r) rows[r] = J.data() + 6 * r;
        for (int n = 0; n < kPoses; ++n) {
            double q[6], qd[6];
            float qf[6], Jf[36];
            random_joints(rng, q);
            ASSERT_EQ(tc.fn(q, nullptr, nullptr, rows), 0);
            ASSERT_LT(max_abs_diff(J, jacobian_com(tc.chain, q)), 1e-9) << "family " << f;
            for (int i = 0; i < 6; ++i) qd[i] = qf[i] = static_cast<float>(q[i]);
            ASSERT_EQ(velocityJacob(mm, qf, Jf), 0);
            const Mat6 Jd = jacobian_com(tc.chain, qd);
            for (int i = 0; i < 36; ++i) ASSERT_NEAR(Jf[i], Jd[i], 2e-5) << "family " << f;
        }
        // A missing row is refused before anything is written.
        const double q[6] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
        EXPECT_EQ(tc.fn(q, nullptr, nullptr, nullptr), -1);
        J.fill(7.0);
        rows[4] = nullptr;
        EXPECT_EQ(tc.fn(q, nullptr, nullptr, rows), -1);
        for (double v : J) ASSERT_EQ(v, 7.0);
    }
}

TEST(EndvelToJointvel, RoundTripsFlangeVelocityOfEachModelBand) {
    // The chain each model code's conversion uses [m]; a code outside every band takes the
    // 5-kg arm.
    const struct {
        uint32_t code;
        Chain chain;
    } arms[] = {
        {1, standard_chain(0.14, -0.28, -0.24, 0.102, 0.102, 0.1)},
        {250, standard_chain(0.18, -0.7, -0.586, 0.159, 0.114, 0.106)},
        {400, standard_chain(0.18, -0.52, -0.4, 0.159, 0.114, 0.106)},
        {401, standard_chain(0.215, -1.0, -0.716, 0.166, 0.138, 0.12)},
        {5000, standard_chain(0.152, -0.425, -0.395, 0.102, 0.102, 0.1)},
    };
    std::uniform_real_distribution<double> rate(-1.0, 1.0);
    for (const auto &arm : arms) {
        mcb.robotModelCode = arm.code;
        mcb.errorCode = 0;
        std::mt19937 rng(17 + arm.code);
        int checked = 0;
        for (int n = 0; n < 200; ++n) {
            double q[6], qdot_true[6], v[6] = {}, q_deg[6], qdot[6];
            random_joints(rng, q);
            for (double &w : qdot_true) w = rate(rng);
            const Mat6 J = jacobian_com(arm.chain, q);
            if (std::fabs(determinant(J.data(), 6)) < 1e-4) continue;  // clear of singularity
            for (int i = 0; i < 36; ++i) v[i / 6] += J[i] * qdot_true[i % 6];
            for (int i = 0; i < 6; ++i) q_deg[i] = q[i] * 180.0 / kPi;
            ASSERT_EQ(EndvelToJointvel(q_deg, v, qdot), 0);
            for (int i = 0; i < 6; ++i) {
                ASSERT_NEAR(q_deg[i], q[i], 1e-12) << "the caller's angles now hold radians";
                ASSERT_NEAR(qdot[i], qdot_true[i], 1e-7) << "model " << arm.code << " joint " << i;
            }
            ++checked;
        }
        EXPECT_GT(checked, 150);
        EXPECT_EQ(mcb.errorCode, 0u);
    }
}

TEST(EndvelToJointvel, RejectsSingularAndNonFinitePoses) {
    mcb.robotModelCode = 101;
    const double v[6] = {0.1, 0.0, 0.0, 0.0, 0.0, 0.0};
    double zero[6] = {0, 0, 0, 0, 0, 0},
           nan_q[6] = {0, NAN, 0, 0, 0, 0};  // zero: elbow and wrist stretched
    for (double *q : {zero, nan_q}) {
        mcb.errorCode = 0;
        double qdot[6] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(EndvelToJointvel(q, v, qdot), -1);
        EXPECT_EQ(mcb.errorCode, 0x16000002u);
        EXPECT_EQ(std::vector<double>(qdot, qdot + 6), std::vector<double>(6, 9.0));
    }
}

}  // namespace
