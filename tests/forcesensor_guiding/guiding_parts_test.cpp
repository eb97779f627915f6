// Pieces of the guiding step on their own: the per-axis admittance, the increment filter, the
// joint-speed and singular-pose check, and the manipulability measures behind the constrained
// admittance, checked against KDL's Jacobian.
#include <gtest/gtest.h>
#include <kdl/chainfksolverpos_recursive.hpp>

#include "guiding_fixture.hpp"

namespace {

using namespace sensor_test;
using Parts = GuidingFixture;

TEST_F(Parts, AdmittanceAxisLawAndSpeedLimits) {
    struct Case { int axis; double M, B, K, F, x, v0, want; };
    const double nan = std::nan("");
    const Case cases[] = {
        {0, 10, 200, 0, 20, 0, 0.01, 0.01 + (20 - 200 * 0.01) / 10 * 0.001},
        {4, 0.5, 10, 2, 0, 30, 0, -(kPi / 180) * 2 * 30 / 0.5 * 0.001},  // spring on degrees
        {2, 10, 20000, 0, 1e7, 0, 0, 0.2 * 0.25},                        // heavy damping: limit x (1/2)^2
        {1, 10, 200, 0, -1e7, 0, 0, -0.2},
        {5, 0.5, 100, 0, 1e6, 0, 0, 0.349 * 0.25},
        {3, 0.5, 10, 0, 1e6, 0, 0, 0.349},
        {0, nan, 200, 0, 20, 0, 0.05, 0.0},  // a parameter that is not a number holds still
    };
    for (const Case &c : cases) {
        double M[6], B[6], K[6], F[6], x[6], v[6], dx[6];
        for (int i = 0; i < 6; ++i) M[i] = c.M, B[i] = c.B, K[i] = c.K, F[i] = c.F, x[i] = c.x, v[i] = c.v0, dx[i] = 7;
        EXPECT_EQ(kxmcAdmittanceControl(c.axis, M, B, K, F, 0.001, x, v, dx), 0);
        EXPECT_NEAR(v[c.axis], c.want, 1e-12) << c.axis << " " << c.B;
        EXPECT_NEAR(dx[c.axis], 0.001 * c.want, 1e-15);
        EXPECT_EQ(dx[(c.axis + 1) % 6], 7);
    }
    double a[6] = {};
    EXPECT_EQ(kxmcAdmittanceControl(6, a, a, a, a, 0.001, a, a, a), -1);
}

TEST_F(Parts, IncrementFilterStartsAtItsFirstSampleAndSettlesOnTheInput) {
    for (int type : {0, 1, 2, 3}) {
        ButterWorthFilter f;
        EXPECT_EQ(kxmcButterWorthFiltInit(&f, type), type < 3 ? 0 : -1);
        double out = 0, raw = 0;
        kxmcButterWorthFiltProcessData(&f, 2.5, &out, 0);
        EXPECT_EQ(out, 2.5) << type;
        for (int i = 0; i < 20000; ++i) kxmcButterWorthFiltProcessData(&f, 2.5, &out, 0);
        EXPECT_NEAR(out, 2.5, 1e-12) << type;  // a constant passes unchanged
        for (int i = 0; i < 20000; ++i) kxmcButterWorthFiltProcessData(&f, 4.5, &raw, i % 2);
        kxmcButterWorthFiltProcessData(&f, 4.5, &out, 0);
        kxmcButterWorthFiltProcessData(&f, 4.5, &raw, 1);
        // Unit gain at rest: a step settles on the new input (the unbiased output on the step).
        EXPECT_NEAR(out, type < 3 ? 4.5 : 2.5, 1e-6) << type;
        EXPECT_NEAR(raw, type < 3 ? 2.0 : 0.0, 1e-6) << type;
    }
}

// Joint-speed check of a goal one cycle away from the commanded joints.
TEST_F(Parts, JointSpeedCheckRefusesFastJointsAndSingularPoses) {
    mcb.endDragVMax = 20;
    struct Case { double q[6]; int joint; double move; int32_t want; };
    const Case cases[] = {
        {{0, -90, 90, -90, -90, 0}, 2, 0.0199, 0}, {{0, -90, 90, -90, -90, 0}, 2, 0.021, -3},
        {{10, -80, 70, -100, -60, 30}, 5, -0.03, -6}, {{0, -90, 90, -90, 3, 0}, 0, 0, -7},
        {{0, -90, 4, -90, -90, 0}, 0, 0, -7}, {{0, -90, 90, -90, -176, 0}, 0, 0, -7},
    };
    for (const Case &c : cases) {
        std::copy(c.q, c.q + 6, mpb.targetJointPos);
        kxsim::ideal_position_loop_step();
        double goal_joints[6];
        std::copy(c.q, c.q + 6, goal_joints);
        goal_joints[c.joint] += c.move;
        kxsim::clear_log();
        EXPECT_EQ(kxmcIsOverJntvel(trsf(kdl(kxsim::flange_transform(goal_joints)) * kdl(mpb.toolTrsf))), c.want) << c.joint;
        const bool logged = !kxsim::log_lines().empty() &&
                            kxsim::log_lines()[0].text.rfind("dv[" + std::to_string(c.joint) + "] = :", 0) == 0;
        EXPECT_EQ(logged, c.want < 0 && c.want > -7) << c.joint;
    }
    Trsf far = mpb.flangePose;
    far.pos.v[0] += 5000;  // out of reach
    EXPECT_EQ(kxmcIsOverJntvel(far), -7);
}

// The shoulder singularity (wrist centre on the cylinder around joint 1 where joints 1 and 4
// couple) found where KDL's Jacobian determinant changes sign, with the flange tilted.
TEST_F(Parts, JointSpeedCheckRefusesTheShoulderSingularity) {
    const KDL::Chain chain = arm_chain();
    KDL::ChainJntToJacSolver jac(chain);
    KDL::JntArray q(6);
    KDL::Jacobian J(6);
    double joints[6] = {30, -100, 70, 10, 60, -40}, previous = 0;
    for (double q2 = -180; q2 < 180; q2 += 0.01) {
        joints[1] = q2;
        for (int j = 0; j < 6; ++j) q(j) = joints[j] * kPi / 180;
        jac.JntToJac(q, J);
        const double det = J.data.determinant();
        if (previous != 0 && (det > 0) != (previous > 0)) break;
        previous = det;
    }
    for (double offset : {0.0, 8.0}) {
        double at[6];
        std::copy(joints, joints + 6, at);
        at[1] += offset;
        std::copy(at, at + 6, mpb.targetJointPos);
        kxsim::ideal_position_loop_step();
        EXPECT_EQ(kxmcIsOverJntvel(trsf(kdl(mpb.flangePose))), offset == 0 ? -7 : 0) << joints[1] + offset;
    }
}

// For J = [T; R] (translation rows T, rotation rows R): det(J)^2 = det(R R^T) det(T (I-P) T^T),
// so each measure is |det J| / sqrt(det of the other block's Gram matrix).
struct Measures { double trans, rot, det; Eigen::Matrix<double, 6, 6> J; };
Measures oracle(const double q_deg[6], const Eigen::Matrix<double, 6, 1> &dq = Eigen::Matrix<double, 6, 1>::Zero()) {
    const KDL::Chain chain = arm_chain();
    KDL::JntArray q(6);
    KDL::Jacobian J(6);
    for (int j = 0; j < 6; ++j) q(j) = q_deg[j] * kPi / 180 + dq(j);
    KDL::ChainJntToJacSolver(chain).JntToJac(q, J);
    const auto T = J.data.topRows(3), R = J.data.bottomRows(3);
    const double det = std::fabs(J.data.determinant());
    return {det / std::sqrt((R * R.transpose()).determinant()), det / std::sqrt((T * T.transpose()).determinant()), det, J.data};
}

TEST_F(Parts, ManipulabilityMeasuresAndTheConstraintWrench) {
    const double poses[][6] = {{0, -90, 90, -90, -40, 0}, {20, -60, 35, -120, -15, 70}, {0, -90, 90, -90, 0, 0}};
    for (const auto &pose : poses) {
        const Measures m = oracle(pose);
        double rows[36];
        Eigen::Map<Eigen::Matrix<double, 6, 6, Eigen::RowMajor>>{rows} = m.J;
        EXPECT_NEAR(kxmcInputJJOutTrans(rows), m.trans, 1e-7);
        EXPECT_NEAR(kxmcInputJJOutROT(rows), m.rot, 1e-7);
        std::copy(pose, pose + 6, mpb.targetJointPos);
        kxsim::ideal_position_loop_step();
        kxsim::clear_log();
        double fc[6] = {9, 9, 9, 9, 9, 9};
        ASSERT_EQ(kxmcConstraintsAdmittance(fc), m.det > 1e-6 ? 0 : -1);
        if (m.det <= 1e-6) {  // singular: diagnostics, nothing written
            EXPECT_EQ(fc[0], 9);
            EXPECT_EQ(kxsim::log_lines().size(), 7u);
            EXPECT_EQ(kxsim::log_lines().at(1).text.rfind("JJ1: = ", 0), 0u);
            continue;
        }
        // A small motion along the constraint force (moment) raises the translational
        // (rotational) measure: the wrench pushes away from the singularities.
        const KDL::Rotation flange = kdl(mpb.flangePose).M;
        const KDL::Vector f = flange * KDL::Vector(fc[0], fc[1], fc[2]), t = flange * KDL::Vector(fc[3], fc[4], fc[5]);
        Eigen::Matrix<double, 6, 1> push, turn;
        push << f.x(), f.y(), f.z(), 0, 0, 0;
        turn << 0, 0, 0, t.x(), t.y(), t.z();
        EXPECT_GT(oracle(pose, m.J.inverse() * (1e-6 * push / f.Norm())).trans, m.trans);
        EXPECT_GT(oracle(pose, m.J.inverse() * (1e-6 * turn / t.Norm())).rot, m.rot);
        for (int i = 0; i < 6; ++i) EXPECT_LE(std::fabs(fc[i]), i < 3 ? 100.0 : 6.0);
    }
}

// Contact model of the adaptive damping: its force state settles on a steady measured force,
// motion drives the deflection state to its bound, and a measurement that is not a number
// leaves the stored (bounded) state untouched.
TEST_F(Parts, ContactModelFollowsTheForceAndStaysBounded) {
    const double q[3] = {0.002, 100, 10}, r[2] = {0.002, 1.0};
    double out[3];
    struct Phase { double velocity, force; int steps; };
    for (const Phase &p : {Phase{0, -10, 1000}, Phase{0.05, 0, 2000}}) {
        const double z[2] = {p.velocity, p.force};
        for (int i = 0; i < p.steps; ++i) kxmcKalmanEnvironmenModelEvaluate(q, r, z, out);
        EXPECT_NEAR(out[2], p.force, 1.0);
    }
    EXPECT_LT(out[0], -0.5);
    EXPECT_GT(out[1], 500);
    const double z[2] = {std::nan(""), 0};
    double held[3];
    kxmcKalmanEnvironmenModelEvaluate(q, r, z, held);
    EXPECT_EQ(held[0], -0.5);
    EXPECT_EQ(held[1], out[1]);
}

TEST_F(Parts, ThreeByThreeInverse) {
    const double m[9] = {2, -1, 0.5, 0.3, 4, -2, 1, 0.2, 3};
    double inv[9], d = 0, d_inv = 0;
    ASSERT_EQ(inverseMatrix3(m, inv), 0);
    det3(m, &d), det3(inv, &d_inv);
    EXPECT_NEAR(d * d_inv, 1.0, 1e-12);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(m[3 * r] * inv[c] + m[3 * r + 1] * inv[3 + c] + m[3 * r + 2] * inv[6 + c], r == c, 1e-12);
    const double singular[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1};
    double out[9] = {5};
    EXPECT_EQ(inverseMatrix3(singular, out), -1);
    EXPECT_EQ(out[0], 5);
    EXPECT_TRUE(kxsim::log_contains("Matrix is not invertible.\n", 2));
}

}  // namespace
