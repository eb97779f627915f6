// Custom joint and TCP limits, the TCP wrench estimate against an independent Jacobian, the
// dynamic allowance, and the status getters.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#if KXMC_HAVE_KDL
#include <Eigen/Dense>
#include <kdl/chain.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#endif

#include "collision_fixture.hpp"

namespace collision_test {
namespace {

const float kFar[6] = {1e6f, 1e6f, 1e6f, 1e6f, 1e6f, 1e6f};

using CustomCollision = CollisionFixture;

#if KXMC_HAVE_KDL
// The estimate w solves J^T w = tau: feeding tau = J^T w for a known wrench must return it.
TEST_F(CustomCollision, TcpWrenchInvertsTheJacobianTranspose) {
    const double kPi = 3.14159265358979323846;
    const std::pair<uint32_t, std::array<double, 6>> arms[] = {  // d1, a2, a3, d4, d5, d6 [mm]
        {50, {152, -280, -240, 102, 102, 100}},
        {101, {152, -425, -395, 102, 102, 100}},
        {301, {180, -520, -400, 159, 114, 106}},
        {902, {180, -700, -586, 211, 114, 106}}};
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> angle(-150.0, 150.0), wrench(-50.0, 50.0);
    configure(2, kFar, kFar);
    for (const auto &[code, l] : arms) {
        mcb.robotModelCode = code;
        KDL::Chain chain;
        const double a[6] = {0, l[1], l[2], 0, 0, 0};
        const double alpha[6] = {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0};
        const double d[6] = {l[0], 0, 0, l[3], l[4], l[5]};
        for (int i = 0; i < 6; ++i) {
            chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                          KDL::Frame::DH(a[i] / 1000, alpha[i], d[i] / 1000, 0)));
        }
        KDL::ChainJntToJacSolver solver(chain);
        for (int trial = 0; trial < 20; ++trial) {
            KDL::JntArray q(6);
            for (int j = 0; j < 6; ++j) {
                mpb.targetJointPos[j] = angle(rng);
                q(j) = static_cast<float>(kPi * mpb.targetJointPos[j] / 180.0);
            }
            KDL::Jacobian jac(6);
            solver.JntToJac(q, jac);
            if (std::fabs(jac.data.determinant()) < 1e-3) {
                continue;  // near a singularity the float estimate is ill-conditioned
            }
            using Vec6 = Eigen::Matrix<double, 6, 1>;
            const Vec6 w = Vec6::NullaryExpr([&] { return wrench(rng); });  // [N, N m]
            const Vec6 tau = jac.data.transpose() * w;
            const double r[6] = {};
            ASSERT_EQ(kxmcCustomCollisionDetectionMain(r, tau.data()), 0);
            for (int k = 0; k < 6; ++k) {
                EXPECT_NEAR(mcb.tcpForceEstimate[k], 100.0 * w[k], 0.5 + 0.1 * std::fabs(w[k]))
                    << "model " << code << " component " << k;
            }
        }
    }
}
#endif

// At a singular wrist the TCP part logs the determinant and the rows of J^T and skips the whole
// custom check of the cycle, joint limits included; mode 1 never builds the Jacobian.
TEST_F(CustomCollision, SingularPoseLogsTheJacobianAndSkipsTheCycle) {
    const float joint[6] = {1e6f, 0.05f, 1e6f, 1e6f, 1e6f, 1e6f};
    for (uint8_t mode : {3, 1}) {
        SCOPED_TRACE(static_cast<int>(mode));
        quiet_running_arm();
        configure(mode, joint, kFar);
        const double pose[6] = {0, -90, 90, 0, 0, 0};
        std::copy(pose, pose + 6, mpb.targetJointPos);
        std::fill(mcb.tcpForceEstimate, mcb.tcpForceEstimate + 6, 7.0f);
        how.jointCurrent[1] = current_for(1, 0.1);
        kxsim::clear_journal();
        kxsim::clear_log();
        cycles(kCountLimit);
        const auto &lines = kxsim::log_lines();
        if (mode == 1) {
            EXPECT_EQ(kxsim::action_names(), kPause);
            EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 2);
            EXPECT_EQ(lines.size(), 1u);  // the error code only
            continue;
        }
        EXPECT_TRUE(kxsim::action_names().empty());
        EXPECT_EQ(mcb.tcpForceEstimate[2], 7.0f);
        ASSERT_EQ(lines.size(), 7u * kCountLimit);
        EXPECT_EQ(lines[0].text.rfind("detValue = ", 0), 0u);
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string &t = lines[i].text;
            EXPECT_EQ(lines[i].level, 4);
            if (i % 7 != 0) {
                EXPECT_EQ(t.rfind("TJacob" + std::to_string(i % 7) + ": = ", 0), 0u) << t;
                EXPECT_EQ(std::count(t.begin(), t.end(), ','), 5);
            }
        }
    }
}

// Custom joint limits replace the level counters; their count restarts once every joint is
// back inside.
TEST_F(CustomCollision, JointLimitsCountUntilEveryJointIsInside) {
    const float joint[6] = {1e6f, 1e6f, 1e6f, 1e6f, 0.05f, 1e6f};
    configure(1, joint, kFar);
    drive_residual(2, 1.5);
    for (int round = 0; round < 3; ++round) {
        how.jointCurrent[4] = current_for(4, 0.1);
        cycles(kCountLimit - 1);
        how.jointCurrent[4] = 0;
        cycles(1);
    }
    EXPECT_EQ(mpb.collisionCounter[2], 0);
    EXPECT_TRUE(kxsim::action_names().empty());
    how.jointCurrent[4] = current_for(4, -0.1);
    cycles(kCountLimit);
    EXPECT_EQ(kxsim::action_names(), kPause);
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 5);
}

TEST_F(CustomCollision, SetterRefusesBadModesAndLimits) {
    const float ok[6] = {1, 2, 3, 4, 5, 6};
    const float nan[6] = {1, 2, NAN, 4, 5, 6};
    const float inf[6] = {1, 2, 3, 4, 5, INFINITY};
    EXPECT_EQ(kxmcSetCustomCollisionDetection(4, ok, ok), -1);
    EXPECT_EQ(kxmcSetCustomCollisionDetection(3, nan, ok), -1);
    EXPECT_EQ(kxmcSetCustomCollisionDetection(3, ok, inf), -1);
    EXPECT_EQ(kxmcSetCustomCollisionDetection(3, nullptr, ok), -1);
    EXPECT_EQ(mcb.customCollisionMode, 0);
    EXPECT_EQ(mcb.customJointLimit[0], 1e6f);
    EXPECT_EQ(kxmcSetCustomCollisionDetection(3, ok, ok), 0);
    EXPECT_EQ(mcb.customCollisionMode, 3);
    EXPECT_EQ(mcb.customTcpLimit[5], 6.0f);
}

// ---- Dynamic allowance ---------------------------------------------------------------------

// Allowance = curve(t) x speed factor x ratio to joint 2, x2.5 on the 16-kg shoulder joints,
// each case against the plain curve of joint 1 at the same time.
TEST_F(CollisionFixture, AllowanceScalesTheCurvePerJoint) {
    mpb.collisionCurveRef = 1440;
    double curve[6];
    ASSERT_EQ(dynamicCurrentCollisionLimit(5000, curve), 0);
    ASSERT_NEAR(curve[0], 0.6148, 1e-3);  // [N m] the damped sine long after the jump
    struct Case {
        const char *name;
        uint32_t model;
        uint8_t speed_mode;
        double speed_ratio;
        float level, ratio[6];
        double mult[6];
    } cases[] = {
        {"speed factor 0.4", 101, 0, 2.0, 50, {1, 1, 1, 1, 1, 1}, {.4, .4, .4, .4, .4, .4}},
        {"speed factor 1", 101, 1, 6.0, 50, {1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
        {"ratios to joint 2", 101, 2, 0, 1, {2, 4, 1, 8, 0, 4}, {.5, 1, .25, 2, 0, 1}},
        {"16-kg shoulder", 350, 2, 0, 1, {1, 1, 1, 1, 1, 1}, {2.5, 2.5, 1, 1, 1, 1}},
        {"no joint-2 ratio", 101, 2, 0, 1, {1, 0, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
        {"NaN ratio", 101, 2, 0, 1, {1, NAN, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
        {"level zero", 101, 0, 0.0, 0, {1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        mcb.robotModelCode = c.model;
        mcb.speedMode = c.speed_mode;
        mcb.speedRatioA = mcb.speedRatioB = c.speed_ratio;
        std::fill(mpb.collisionLevel, mpb.collisionLevel + 6, c.level);
        kxsim::set_collision_ratio(c.ratio);
        double allow[6];
        EXPECT_EQ(dynamicCurrentCollisionLimit(5000, allow), 0);
        for (int j = 0; j < 6; ++j) {
            EXPECT_NEAR(allow[j], curve[0] * c.mult[j], 1e-9) << j;
        }
    }
    mpb.collisionCurveRef = NAN;  // no curve: no allowance
    EXPECT_EQ(dynamicCurrentCollisionLimit(10, curve), 0);
    EXPECT_EQ(std::count(curve, curve + 6, 0.0), 6);
}

// ---- Status getters ------------------------------------------------------------------------

TEST_F(CollisionFixture, InterferenceStatusPerZoneType) {
    struct Case {
        uint8_t on, enable, type;
        double pos;
        uint8_t want;
    } cases[] = {{1, 1, 0, 5.0, 1}, {1, 1, 0, 10.0, 0}, {1, 1, 1, -12.0, 1}, {1, 1, 1, 0.0, 0},
                 {1, 1, 2, 5.0, 0}, {1, 0, 0, 5.0, 0},  {0, 1, 0, 5.0, 0}};
    std::fill(mcb.interfereJointMax, mcb.interfereJointMax + 6, 10.0);
    std::fill(mcb.interfereJointMin, mcb.interfereJointMin + 6, -10.0);
    mpb.interfereDragState = 2;
    for (const Case &c : cases) {
        mcb.interfereOn = mcb.interfereDragOn = c.on;
        mcb.interfereType = c.type;
        std::fill(mcb.interfereJointEnable, mcb.interfereJointEnable + 6, c.enable);
        std::fill(mpb.jointPos, mpb.jointPos + 6, c.pos);
        uint8_t in[6], drag = 9, io[8];
        ASSERT_EQ(kxmcGetInterfereStatus(in, &drag, io), 0);
        EXPECT_EQ(std::count(in, in + 6, c.want), 6) << c.pos << " type " << int(c.type);
        EXPECT_EQ(drag, c.on);
    }
}

TEST_F(CollisionFixture, JointStatusReportsTheCheckCycleInHostUnits) {
    how.jointCurrent[3] = 250;
    how.jointTorqueCmd[3] = 100;
    mpb.targetJointVel[0] = 0.05;
    mpb.actualJointAcc[5] = -2e-6;
    kxmcCheckForCollisionError();
    double tv[6], av[6], ta[6], aa[6], model[6], meas[6], tcp[6], cur[6];
    ASSERT_EQ(kxmcGetJointStatus(tv, av, ta, aa, model, meas, tcp), 0);
    ASSERT_EQ(kxmcGetJointCurrent(cur), 0);
    EXPECT_DOUBLE_EQ(tv[0], 50.0);
    EXPECT_DOUBLE_EQ(aa[5], -2.0);
    EXPECT_NEAR(meas[3], 0.25 * rated[3], 1e-6);
    EXPECT_NEAR(model[3], 0.07 * rated[3], 1e-6);
    EXPECT_EQ(cur[3], 250.0);
    EXPECT_EQ(kxmcGetJointStatus(tv, av, ta, aa, model, nullptr, tcp), -1);
}

}  // namespace
}  // namespace collision_test
