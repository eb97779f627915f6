// Jacobians checked against the motion they describe: central finite differences of the
// flange pose (the simulated host's forward kinematics and an independent DH chain written
// here), the Orocos KDL Jacobian solver where installed, and each other.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ostream>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
#include "simhost/kxsimhost.hpp"

#if defined(KXMC_HAVE_KDL)
#include <kdl/chain.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPoses = 1000;
constexpr double kFdStep = 1e-5;          // [rad]
constexpr double kFdTolerance = 1e-6;     // [m/rad], [rad/rad]
constexpr double kClosedFormTolerance = 1e-9;
constexpr double kFloatTolerance = 2e-5;  // single-precision Jacobian

using Mat6 = std::array<double, 36>;

struct Chain {
    double alpha[6];
    double a[6];  // [m]
    double d[6];  // [m]
};

// Standard chain of the arm families: d1, a2, a3, d4, d5, d6 [m].
Chain standard_chain(double d1, double a2, double a3, double d4, double d5, double d6) {
    return Chain{{kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0}, {0, a2, a3, 0, 0, 0},
                 {d1, 0, 0, d4, d5, d6}};
}

// Independent forward kinematics: 4x4 homogeneous products of the classic DH link
// Rz(theta) Tz(d) Tx(a) Rx(alpha).
struct Pose {
    double R[3][3];
    double p[3];
};

Pose dh_forward(const Chain &c, const double q[6]) {
    double T[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    for (int i = 0; i < 6; ++i) {
        const double ct = std::cos(q[i]), st = std::sin(q[i]);
        const double ca = std::cos(c.alpha[i]), sa = std::sin(c.alpha[i]);
        const double A[4][4] = {{ct, -st * ca, st * sa, c.a[i] * ct},
                                {st, ct * ca, -ct * sa, c.a[i] * st},
                                {0, sa, ca, c.d[i]},
                                {0, 0, 0, 1}};
        double N[4][4] = {};
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                for (int j = 0; j < 4; ++j) N[r][k] += T[r][j] * A[j][k];
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k) T[r][k] = N[r][k];
    }
    Pose out;
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) out.R[r][k] = T[r][k];
        out.p[r] = T[r][3];
    }
    return out;
}

// Pose of the simulated host's flange for joints [rad]; position in metres.
Pose host_forward(const double q[6]) {
    double deg[6];
    for (int i = 0; i < 6; ++i) deg[i] = q[i] * 180.0 / kPi;
    const Trsf t = kxsim::flange_transform(deg);
    Pose out;
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) out.R[r][k] = t.rot.r[3 * r + k];
        out.p[r] = t.pos.v[r] / 1000.0;
    }
    return out;
}

// Jacobian by central differences: linear rows from the flange position, angular rows from the
// rotation R(q+h) R(q-h)^T = exp(2h [w]x) (base frame).
template <class Forward>
Mat6 finite_difference_jacobian(Forward fk, const double q[6]) {
    Mat6 J{};
    for (int i = 0; i < 6; ++i) {
        double qp[6], qm[6];
        for (int k = 0; k < 6; ++k) qp[k] = qm[k] = q[k];
        qp[i] += kFdStep;
        qm[i] -= kFdStep;
        const Pose P = fk(qp), M = fk(qm);
        double D[3][3] = {};
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < 3; ++j) D[r][k] += P.R[r][j] * M.R[k][j];
        for (int r = 0; r < 3; ++r) J[r * 6 + i] = (P.p[r] - M.p[r]) / (2 * kFdStep);
        J[3 * 6 + i] = (D[2][1] - D[1][2]) / 2 / (2 * kFdStep);
        J[4 * 6 + i] = (D[0][2] - D[2][0]) / 2 / (2 * kFdStep);
        J[5 * 6 + i] = (D[1][0] - D[0][1]) / 2 / (2 * kFdStep);
    }
    return J;
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

// ---- Jacobian_com against the simulated host's kinematics, every arm family -------------

class JacobianOfHostArm : public ::testing::TestWithParam<uint32_t> {};

TEST_P(JacobianOfHostArm, MatchesFiniteDifferencesOfFlangePose) {
    const uint32_t code = GetParam();
    mcb.robotModelCode = code;
    const kxsim::ArmGeometry g = kxsim::arm_geometry(code);
    Chain c;
    for (int i = 0; i < 6; ++i) {
        c.alpha[i] = g.alpha[i];
        c.a[i] = g.a[i];
        c.d[i] = g.d[i];
    }
    std::mt19937 rng(1000 + code);
    for (int n = 0; n < kPoses; ++n) {
        double q[6], qdh[6];
        random_joints(rng, q);
        for (int i = 0; i < 6; ++i) qdh[i] = q[i] + g.theta_offset[i];
        const double err = max_abs_diff(jacobian_com(c, qdh), finite_difference_jacobian(host_forward, q));
        ASSERT_LT(err, kFdTolerance) << "model " << code << " pose " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(ArmFamilies, JacobianOfHostArm,
                         ::testing::Values(1u, 101u, 201u, 202u, 301u, 302u, 401u, 701u, 902u,
                                           903u, 1001u),
                         [](const ::testing::TestParamInfo<uint32_t> &p) {
                             return "model" + std::to_string(p.param);
                         });

// ---- Jacobian_com on arbitrary DH chains (independent forward kinematics) ---------------

TEST(JacobianCom, MatchesFiniteDifferencesOnRandomChains) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> len(-0.6, 0.6), twist(-kPi, kPi);
    for (int n = 0; n < kPoses; ++n) {
        Chain c;
        for (int i = 0; i < 6; ++i) {
            c.alpha[i] = twist(rng);
            c.a[i] = len(rng);
            c.d[i] = len(rng);
        }
        double q[6];
        random_joints(rng, q);
        const auto fk = [&c](const double *x) { return dh_forward(c, x); };
        ASSERT_LT(max_abs_diff(jacobian_com(c, q), finite_difference_jacobian(fk, q)),
                  kFdTolerance)
            << "chain " << n;
    }
}

#if defined(KXMC_HAVE_KDL)
TEST(JacobianCom, AgreesWithKdlSolver) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> len(-0.6, 0.6), twist(-kPi, kPi);
    for (int n = 0; n < 200; ++n) {
        Chain c;
        for (int i = 0; i < 6; ++i) {
            c.alpha[i] = twist(rng);
            c.a[i] = len(rng);
            c.d[i] = len(rng);
        }
        KDL::Chain chain;
        for (int i = 0; i < 6; ++i) {
            chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                          KDL::Frame::DH(c.a[i], c.alpha[i], c.d[i], 0.0)));
        }
        KDL::ChainJntToJacSolver solver(chain);
        KDL::JntArray jq(6);
        double q[6];
        random_joints(rng, q);
        for (int i = 0; i < 6; ++i) jq(i) = q[i];
        KDL::Jacobian jk(6);
        ASSERT_GE(solver.JntToJac(jq, jk), 0);
        const Mat6 J = jacobian_com(c, q);
        for (int r = 0; r < 6; ++r)
            for (int k = 0; k < 6; ++k)
                ASSERT_NEAR(J[r * 6 + k], jk(r, k), 1e-12) << "chain " << n << " (" << r << "," << k << ")";
    }
}
#endif

// ---- Closed-form Jacobians of the four families ------------------------------------------

using ClosedForm = int (*)(const double *, const double *, const double *, double **);

struct ClosedFormCase {
    const char *name;
    ClosedForm fn;
    Chain chain;
};

// Short names in test listings.
void PrintTo(const ClosedFormCase &p, std::ostream *os) { *os << p.name; }

const ClosedFormCase kClosedFormCases[] = {
    {"kx3", kx3_jacob, standard_chain(0.14, -0.28, -0.24, 0.102, 0.102, 0.1)},
    {"kx5", kx5_jacob, standard_chain(0.152, -0.425, -0.395, 0.102, 0.102, 0.1)},
    {"kx10", kx10_jacob, standard_chain(0.18, -0.7, -0.586, 0.195, 0.114, 0.106)},
    {"kx16", kx16_jacob, standard_chain(0.18, -0.52, -0.4, 0.195, 0.114, 0.106)},
};

class ClosedFormJacobian : public ::testing::TestWithParam<ClosedFormCase> {};

TEST_P(ClosedFormJacobian, EqualsGeneralJacobianOfItsGeometry) {
    const ClosedFormCase &tc = GetParam();
    std::mt19937 rng(3);
    for (int n = 0; n < kPoses; ++n) {
        double q[6];
        random_joints(rng, q);
        Mat6 J;
        double *rows[6];
        for (int r = 0; r < 6; ++r) rows[r] = J.data() + 6 * r;
        ASSERT_EQ(tc.fn(q, nullptr, nullptr, rows), 0);
        ASSERT_LT(max_abs_diff(J, jacobian_com(tc.chain, q)), kClosedFormTolerance)
            << tc.name << " pose " << n;
    }
}

TEST_P(ClosedFormJacobian, RefusesMissingRowsWithoutWriting) {
    const ClosedFormCase &tc = GetParam();
    const double q[6] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
    EXPECT_EQ(tc.fn(q, nullptr, nullptr, nullptr), -1);
    Mat6 J;
    J.fill(7.0);
    double *rows[6];
    for (int r = 0; r < 6; ++r) rows[r] = J.data() + 6 * r;
    rows[4] = nullptr;
    EXPECT_EQ(tc.fn(q, nullptr, nullptr, rows), -1);
    for (double v : J) EXPECT_EQ(v, 7.0);
}

INSTANTIATE_TEST_SUITE_P(Families, ClosedFormJacobian, ::testing::ValuesIn(kClosedFormCases),
                         [](const ::testing::TestParamInfo<ClosedFormCase> &p) {
                             return std::string(p.param.name);
                         });

// ---- Single-precision Jacobian ------------------------------------------------------------

TEST(VelocityJacob, MatchesGeneralJacobianInFloatPrecision) {
    // Lengths d1, a2, a3, d4, d5, d6 [mm] of the families; a2 and a3 taken by magnitude, so
    // both signs must give the chain with negative a2, a3.
    const float families[][6] = {{140, -280, -240, 102, 102, 100},
                                 {152, 425, 395, 102, 102, 100},
                                 {180, -700, -586, 159, 114, 106},
                                 {215, 1000, -716, 166, 138, 120}};
    std::mt19937 rng(5);
    for (const auto &dh : families) {
        const Chain c = standard_chain(dh[0] / 1000.0, -std::fabs(dh[1]) / 1000.0,
                                       -std::fabs(dh[2]) / 1000.0, dh[3] / 1000.0,
                                       dh[4] / 1000.0, dh[5] / 1000.0);
        for (int n = 0; n < kPoses; ++n) {
            double q[6];
            random_joints(rng, q);
            float qf[6];
            for (int i = 0; i < 6; ++i) qf[i] = static_cast<float>(q[i]);
            double qd[6];
            for (int i = 0; i < 6; ++i) qd[i] = qf[i];  // same angles as the float call
            float Jf[36];
            ASSERT_EQ(velocityJacob(dh, qf, Jf), 0);
            const Mat6 J = jacobian_com(c, qd);
            for (int i = 0; i < 36; ++i) {
                ASSERT_NEAR(Jf[i], J[i], kFloatTolerance) << "d1 " << dh[0] << " entry " << i;
            }
        }
    }
}

// ---- Joint velocity from flange velocity ---------------------------------------------------

struct ArmRow {
    uint32_t code;
    Chain chain;
};

// Short names in test listings.
void PrintTo(const ArmRow &p, std::ostream *os) { *os << "model code " << p.code; }

// The chain each model code's velocity conversion uses [m].
const ArmRow kEndvelArms[] = {
    {1, standard_chain(0.14, -0.28, -0.24, 0.102, 0.102, 0.1)},
    {150, standard_chain(0.152, -0.425, -0.395, 0.102, 0.102, 0.1)},
    {250, standard_chain(0.18, -0.7, -0.586, 0.159, 0.114, 0.106)},
    {400, standard_chain(0.18, -0.52, -0.4, 0.159, 0.114, 0.106)},
    {401, standard_chain(0.215, -1.0, -0.716, 0.166, 0.138, 0.12)},
    {0, standard_chain(0.152, -0.425, -0.395, 0.102, 0.102, 0.1)},
    {5000, standard_chain(0.152, -0.425, -0.395, 0.102, 0.102, 0.1)},
};

class EndvelToJointvelArm : public ::testing::TestWithParam<ArmRow> {};

TEST_P(EndvelToJointvelArm, RoundTripsFlangeVelocity) {
    const ArmRow &arm = GetParam();
    mcb.robotModelCode = arm.code;
    mcb.errorCode = 0;
    std::mt19937 rng(17 + arm.code);
    std::uniform_real_distribution<double> rate(-1.0, 1.0);
    int checked = 0;
    for (int n = 0; n < 200; ++n) {
        double q[6], qdot_true[6];
        random_joints(rng, q);
        for (double &w : qdot_true) w = rate(rng);
        const Mat6 J = jacobian_com(arm.chain, q);
        if (std::fabs(determinant(J.data(), 6)) < 1e-4) continue;  // stay clear of singularity
        double v[6] = {};
        for (int r = 0; r < 6; ++r)
            for (int k = 0; k < 6; ++k) v[r] += J[r * 6 + k] * qdot_true[k];
        double q_deg[6];
        for (int i = 0; i < 6; ++i) q_deg[i] = q[i] * 180.0 / kPi;
        double qdot[6];
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

INSTANTIATE_TEST_SUITE_P(ModelCodes, EndvelToJointvelArm, ::testing::ValuesIn(kEndvelArms),
                         [](const ::testing::TestParamInfo<ArmRow> &p) {
                             return "code" + std::to_string(p.param.code);
                         });

TEST(EndvelToJointvel, RejectsSingularAndNonFinitePoses) {
    mcb.robotModelCode = 101;
    const double v[6] = {0.1, 0.0, 0.0, 0.0, 0.0, 0.0};
    // Zero joints: wrist and elbow stretched out, the arm is singular.
    double zero[6] = {0, 0, 0, 0, 0, 0};
    double nan_q[6] = {0, NAN, 0, 0, 0, 0};
    for (double *q : {zero, nan_q}) {
        mcb.errorCode = 0;
        double qdot[6] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(EndvelToJointvel(q, v, qdot), -1);
        EXPECT_EQ(mcb.errorCode, 0x16000002u);
        for (double w : qdot) EXPECT_EQ(w, 9.0) << "qdot untouched";
    }
}

}  // namespace
