// Joint-space matrices of the 5-kg arm against Orocos KDL's inverse dynamics of the same rigid
// links: the torque M qdd + V qd + G, the mass matrix's symmetry and definiteness, the Coriolis
// factorisation (M' - 2V skew-symmetric), the invariance to the first joint and the layout of the
// output headers.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <array>
#include <cmath>
#include <limits>
#include <random>

#include "kxmc/kxmc_joint_space_dynamics.h"
#include "tests/excitation/excitation_plant.hpp"

namespace excitation_test {
namespace {

using Mat6 = Eigen::Matrix<double, 6, 6>;
using Vec6 = Eigen::Matrix<double, 6, 1>;

struct Matrices {
    Mat6 M, V;
    Vec6 G;
};

Matrices matrices(const Joints &q, const Joints &qd) {
    Matrices out;
    double m[36], v[36], g[6];
    double *mr[6], *vr[6], *gr[6];
    for (int i = 0; i < 6; ++i) mr[i] = &m[6 * i], vr[i] = &v[6 * i], gr[i] = &g[i];
    EXPECT_EQ(com_M_matrix(q.data(), MatHead{0, 5, 0, 5, 0, mr}), 0);
    EXPECT_EQ(com_C_matrix(q.data(), qd.data(), MatHead{0, 5, 0, 5, 0, vr}), 0);
    EXPECT_EQ(com_G_matrix(q.data(), MatHead{0, 5, 0, 0, 0, gr}), 0);
    for (int i = 0; i < 6; ++i) {
        out.G(i) = g[i];
        for (int k = 0; k < 6; ++k) out.M(i, k) = m[6 * i + k], out.V(i, k) = v[6 * i + k];
    }
    return out;
}

Vec6 vec(const Joints &x) { return Eigen::Map<const Vec6>(x.data()); }

TEST(JointSpaceMatrices, MatchKdlAndTheirIdentities) {
    const Plant plant(102.0, Payload{0, 0, 0, 0}, 9.8, false);
    std::mt19937_64 rng(45);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int s = 0; s < 300; ++s) {
        SCOPED_TRACE(s);
        Joints q, qd, qdd, zero{};
        for (int i = 0; i < 6; ++i) q[i] = 3.2 * u(rng), qd[i] = 2.5 * u(rng), qdd[i] = 10 * u(rng);
        const Matrices d = matrices(q, qd);
        const Vec6 tau = d.M * vec(qdd) + d.V * vec(qd) + d.G;
        const Vec6 want = vec(plant.torque(q, qd, qdd));
        EXPECT_LT((tau - want).cwiseAbs().maxCoeff(), 1e-9 * (1 + want.cwiseAbs().maxCoeff()));
        EXPECT_LT((d.G - vec(plant.torque(q, zero, zero))).cwiseAbs().maxCoeff(), 1e-9);
        EXPECT_EQ(d.G(0), 0.0);
        EXPECT_LT((d.M - d.M.transpose()).cwiseAbs().maxCoeff(), 1e-15);
        EXPECT_EQ(Eigen::LLT<Mat6>(d.M).info(), Eigen::Success);
        // M' along qd by central differences: M' - 2V is skew-symmetric.
        const double h = 1e-6;
        Joints qp = q, qm = q;
        for (int i = 0; i < 6; ++i) qp[i] += h * qd[i], qm[i] -= h * qd[i];
        const Mat6 Mdot = (matrices(qp, qd).M - matrices(qm, qd).M) / (2 * h);
        const Mat6 S = Mdot - 2 * d.V;
        EXPECT_LT((S + S.transpose()).cwiseAbs().maxCoeff(), 1e-7);
        // The first joint turns the whole arm about the vertical: nothing changes.
        Joints turned = q;
        turned[0] += 2.0 * u(rng);
        const Matrices t = matrices(turned, qd);
        EXPECT_LT((t.M - d.M).cwiseAbs().maxCoeff(), 1e-12);
        EXPECT_LT((t.V - d.V).cwiseAbs().maxCoeff(), 1e-12);
        EXPECT_LT((t.G - d.G).cwiseAbs().maxCoeff(), 1e-12);
        if (HasFailure()) return;
    }
}

// The flange link's numbers show in the model: its inertia about its own axis is the constant
// last diagonal entry (0.0003593 kg m^2 plus its mass 0.36 kg off the axis by (0.93, 0.81) mm),
// the last entry of V is 0, and its weight 3.528 N off the axis by those offsets gives joint 6 a
// gravity torque of at most hypot(0.00328104, 0.00285768) N m.
TEST(JointSpaceMatrices, CarryTheFlangeLinksConstants) {
    const double m66 = 0.0003593 + 0.36 * (0.93 * 0.93 + 0.81 * 0.81) * 1e-6;
    const double g6_max = std::hypot(0.00328104, 0.00285768);
    double largest = 0;
    for (double q5 = -kPi; q5 < kPi; q5 += kPi / 8) {
        for (double q6 = -kPi; q6 < kPi; q6 += kPi / 90) {
            const Joints q{0.3, -1.2, 0.9, -0.7, q5, q6}, qd{0.4, -0.3, 0.8, 1.1, -0.9, 2.0};
            const Matrices d = matrices(q, qd);
            EXPECT_NEAR(d.M(5, 5), m66, 1e-9);
            EXPECT_NEAR(d.V(5, 5), 0.0, 1e-15);
            largest = std::max(largest, std::fabs(d.G(5)));
        }
    }
    EXPECT_NEAR(largest, g6_max, 1e-3 * g6_max);
}

// Element (i, k) goes to rows[firstRow + i][firstCol + k]; a header of another size, a missing
// row, or an input that is not finite writes nothing.
TEST(JointSpaceMatrices, WriteTheDesignatedBlockOrNothing) {
    const Joints q{0.3, -1.2, 0.9, -0.7, 0.5, 0.2}, qd{0.4, -0.3, 0.8, 1.1, -0.9, 2.0};
    const Matrices want = matrices(q, qd);
    double big[8][9];
    double *rows[8];
    for (int i = 0; i < 8; ++i) rows[i] = big[i];
    const auto clear = [&] {
        for (auto &r : big) for (double &x : r) x = -7;
    };
    clear();
    ASSERT_EQ(com_M_matrix(q.data(), MatHead{2, 7, 1, 6, 0, rows}), 0);
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 9; ++k) {
            const bool inside = i >= 2 && k >= 1 && k <= 6;
            EXPECT_EQ(big[i][k], inside ? want.M(i - 2, k - 1) : -7) << i << " " << k;
        }
    clear();
    ASSERT_EQ(com_G_matrix(q.data(), MatHead{1, 6, 3, 3, 0, rows}), 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(big[1 + i][3], want.G(i));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Joints bad_q{0, nan, 0, 0, 0, 0}, bad_qd{0, 0, 0, 0, HUGE_VAL, 0};
    const MatHead square{0, 5, 0, 5, 0, rows}, column{0, 5, 0, 0, 0, rows};
    const MatHead bad_square[] = {{0, 4, 0, 5, 0, rows}, {0, 5, 0, 6, 0, rows}, {-1, 4, 0, 5, 0, rows},
                                  {0, 5, -2, 3, 0, rows}, {5, 0, 0, 5, 0, rows},  {0, 5, 0, 5, 0, nullptr},
                                  {0, INT32_MAX, 0, 5, 0, rows}};
    clear();
    for (const MatHead &h : bad_square) {
        EXPECT_EQ(com_M_matrix(q.data(), h), -1);
        EXPECT_EQ(com_C_matrix(q.data(), qd.data(), h), -1);
    }
    EXPECT_EQ(com_G_matrix(q.data(), square), -1);
    EXPECT_EQ(com_G_matrix(q.data(), MatHead{0, 4, 0, 0, 0, rows}), -1);
    EXPECT_EQ(com_M_matrix(bad_q.data(), square), -1);
    EXPECT_EQ(com_M_matrix(nullptr, square), -1);
    EXPECT_EQ(com_C_matrix(bad_q.data(), qd.data(), square), -1);
    EXPECT_EQ(com_C_matrix(q.data(), bad_qd.data(), square), -1);
    EXPECT_EQ(com_C_matrix(q.data(), nullptr, square), -1);
    EXPECT_EQ(com_G_matrix(bad_q.data(), column), -1);
    rows[3] = nullptr;
    EXPECT_EQ(com_G_matrix(q.data(), column), -1);
    rows[3] = big[3];
    for (auto &r : big) for (double x : r) ASSERT_EQ(x, -7);
}

}  // namespace
}  // namespace excitation_test
