// Joint-space matrices of the 5-kg arm against Orocos KDL's inverse dynamics of the same rigid
// links: the torque M qdd + V qd + G, the mass matrix's symmetry and definiteness, the invariance
// to the first joint, the flange link's constants and the layout of the output headers. (The
// shared chain routine behind them, its Christoffel form of V included, is compared with KDL
// element by element in the dynamics-model tests.)
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <random>

#include "kxmc/kxmc_joint_space_dynamics.h"
#include "tests/excitation/excitation_plant.hpp"

namespace excitation_test {
namespace {

Vec6 vec(const Joints &x) { return Eigen::Map<const Vec6>(x.data()); }

// The flange link shows in the model with its constants (the plant shares the parameter set):
// inertia about its own axis 0.0003593 kg m^2 plus its 0.36 kg off the axis by (0.93, 0.81) mm.
TEST(JointSpaceMatrices, MatchKdlTheirIdentitiesAndTheFlangeConstants) {
    const Plant plant(102.0, Payload{0, 0, 0, 0}, 9.8, false);
    std::mt19937_64 rng(45);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int s = 0; s < 400; ++s) {
        SCOPED_TRACE(s);
        Joints q, qd, qdd, zero{};
        for (int i = 0; i < 6; ++i) q[i] = 3.2 * u(rng), qd[i] = 2.5 * u(rng), qdd[i] = 10 * u(rng);
        const Matrices d = matrices(q, qd);
        const Vec6 want = vec(plant.torque(q, qd, qdd));
        EXPECT_LT((d.M * vec(qdd) + d.V * vec(qd) + d.G - want).cwiseAbs().maxCoeff(),
                  1e-9 * (1 + want.norm()));
        EXPECT_LT((d.G - vec(plant.torque(q, zero, zero))).cwiseAbs().maxCoeff(), 1e-9);
        EXPECT_EQ(d.G(0), 0.0);
        EXPECT_LT((d.M - d.M.transpose()).cwiseAbs().maxCoeff(), 1e-15);
        EXPECT_EQ(Eigen::LLT<Mat6>(d.M).info(), Eigen::Success);
        EXPECT_NEAR(d.M(5, 5), 0.0003593 + 0.36 * (0.93 * 0.93 + 0.81 * 0.81) * 1e-6,
                    1e-10);  // float tables
        EXPECT_NEAR(d.V(5, 5), 0.0, 1e-15);
        Joints turned = q;  // the first joint turns the arm about the vertical: nothing changes
        turned[0] += 2.0 * u(rng);
        const Matrices t = matrices(turned, qd);
        EXPECT_LT((t.M - d.M).cwiseAbs().maxCoeff() + (t.V - d.V).cwiseAbs().maxCoeff() +
                      (t.G - d.G).cwiseAbs().maxCoeff(),
                  1e-12);
        if (HasFailure()) return;
    }
}

// Element (i, k) goes to rows[firstRow + i][firstCol + k]; a header of another size or placed
// outside the matrix or an input that is not finite writes nothing (a missing row pointer: the
// regressor's argument check, which shares the header check).
TEST(JointSpaceMatrices, WriteTheDesignatedBlockOrNothing) {
    const Joints q{0.3, -1.2, 0.9, -0.7, 0.5, 0.2}, qd{0.4, -0.3, 0.8, 1.1, -0.9, 2.0},
        nan{NAN, 0, 0, 0, 0, 0}, inf{0, 0, 0, 0, 0, HUGE_VAL};
    const Matrices want = matrices(q, qd);
    double big[8][9], *rows[8];
    for (int i = 0; i < 8; ++i) rows[i] = big[i], std::fill(big[i], big[i] + 9, -7.0);
    ASSERT_EQ(com_M_matrix(q.data(), MatHead{2, 7, 1, 6, 0, rows}) +
                  com_G_matrix(q.data(), MatHead{2, 7, 8, 8, 0, rows}),
              0);
    for (int i = 0; i < 8; ++i) {
        for (int k = 0; k < 9; ++k) {
            const double x = i < 2 || k == 0 || k == 7 ? -7.0
                             : k == 8                  ? want.G(i - 2)
                                                       : want.M(i - 2, k - 1);
            EXPECT_EQ(big[i][k], x) << i << " " << k;
        }
    }
    for (const MatHead &h : {MatHead{0, 4, 0, 5, 0, rows}, MatHead{-1, 4, 0, 5, 0, rows},
                             MatHead{5, 0, 0, 5, 0, rows}, MatHead{0, INT32_MAX, 0, 5, 0, rows}}) {
        EXPECT_EQ(com_M_matrix(q.data(), h) + com_C_matrix(q.data(), qd.data(), h), -2);
    }
    const MatHead square{0, 5, 0, 5, 0, rows};
    EXPECT_EQ(com_G_matrix(q.data(), square) + com_M_matrix(nan.data(), square) +
                  com_C_matrix(q.data(), inf.data(), square) +
                  com_G_matrix(nan.data(), MatHead{0, 5, 0, 0, 0, rows}),
              -4);
    for (auto &r : big) EXPECT_EQ(r[0], -7.0);  // every refused header starts at column 0
}

}  // namespace
}  // namespace excitation_test
