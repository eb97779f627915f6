// Custom joint and TCP limits, the TCP wrench estimate against an independent Jacobian and the
// dynamic allowance.
#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <kdl/chain.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#include <random>
#include <vector>

#include "collision_fixture.hpp"

namespace collision_test {
namespace {

const float kFar[6] = {1e6f, 1e6f, 1e6f, 1e6f, 1e6f, 1e6f};
constexpr double kPi = 3.14159265358979323846;

using CustomCollision = CollisionFixture;
using Lengths = std::array<double, 6>;  // d1, a2, a3, d4, d5, d6 [mm]
using Pose = std::array<double, 6>;

// The flange Jacobian of KDL's chain of the arm's lengths at q [rad].
KDL::Jacobian kdl_jacobian(const Lengths &l, const KDL::JntArray &q) {
    KDL::Chain chain;
    const double a[6] = {0, l[1], l[2], 0, 0, 0}, d[6] = {l[0], 0, 0, l[3], l[4], l[5]};
    const double alpha[6] = {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0};
    for (int i = 0; i < 6; ++i) {
        chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                      KDL::Frame::DH(a[i] / 1000, alpha[i], d[i] / 1000, 0)));
    }
    KDL::Jacobian jac(6);
    KDL::ChainJntToJacSolver(chain).JntToJac(q, jac);
    return jac;
}

// The estimate w solves J^T w = tau: feeding tau = J^T w for a known wrench must return it, at
// random poses and at two where elimination without row exchange fails: a pose one float step
// off the flange crossing the base xz plane (an entry of J is exactly 0) and a regular pose at
// multiples of 90 degrees.
TEST_F(CustomCollision, TcpWrenchInvertsTheJacobianTranspose) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> angle(-150.0, 150.0), wrench(-50.0, 50.0);
    configure(2, kFar, kFar);
    const Lengths arm3{152, -280, -240, 102, 102, 100}, arm5{152, -425, -395, 102, 102, 100};
    const Lengths arm16{180, -520, -400, 159, 114, 106}, arm902{180, -700, -586, 211, 114, 106};
    const Lengths tz3{140, -280, -240, 102, 102, 100}, tz5{140, -425, -395, 102, 102, 100};
    const Lengths arm903{150, -280, -240, 102, 102, 100}, arm1050{215, -700, -536, 166, 138, 120};
    const Pose any{}, crossing{-11.2348926, -60, 80, -110, 70, 20};  // [deg], any: random poses
    const Pose square{0, -90, 90, -90, -90, -90};
    const struct {
        uint32_t code;
        Lengths l;
        Pose pose;  // [deg]
    } cases[] = {{50, arm3, any},  {301, arm16, any},     {902, arm902, any},
                 {703, tz3, any},  {901, tz3, any},       {704, tz5, any},
                 {850, tz5, any},  {903, arm903, any},    {1050, arm1050, any},
                 {904, arm5, any}, {101, arm5, crossing}, {101, arm5, square}};
    for (const auto &c : cases) {
        mcb.robotModelCode = c.code;
        const bool random = c.pose == any;
        for (int trial = 0; trial < (random ? 20 : 1); ++trial) {
            KDL::JntArray q(6);
            for (int j = 0; j < 6; ++j) {
                mpb.targetJointPos[j] = random ? angle(rng) : c.pose[j];
                q(j) = static_cast<float>(kPi * mpb.targetJointPos[j] / 180.0);
            }
            const KDL::Jacobian jac = kdl_jacobian(c.l, q);
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
                    << "model " << c.code << " component " << k;
            }
        }
    }
}

// At a singular wrist the TCP part logs the determinant and the rows of J^T and skips the whole
// custom check of the cycle, joint limits included.
TEST_F(CustomCollision, SingularPoseLogsTheJacobianAndSkipsTheCycle) {
    const float joint[6] = {1e6f, 0.05f, 1e6f, 1e6f, 1e6f, 1e6f};
    configure(3, joint, kFar);
    const double pose[6] = {0, -90, 90, 0, 0, 0};
    std::copy(pose, pose + 6, mpb.targetJointPos);  // a singular wrist
    std::fill(mcb.tcpForceEstimate, mcb.tcpForceEstimate + 6, 7.0f);
    how.jointCurrent[1] = current_for(1, 0.1);
    cycles(kCountLimit);
    EXPECT_TRUE(kxsim::action_names().empty());
    EXPECT_EQ(mcb.tcpForceEstimate[2], 7.0f);
    const auto &lines = kxsim::log_lines();
    ASSERT_EQ(lines.size(), 7u * kCountLimit);
    for (const kxsim::LogLine &line : lines) EXPECT_EQ(line.level, 4) << line.text;
    EXPECT_EQ(lines[0].text.rfind("detValue = ", 0), 0u) << lines[0].text;
    EXPECT_EQ(lines[6].text.rfind("TJacob6: = ", 0), 0u) << lines[6].text;
    // Row r of J^T is column r of the flange Jacobian: KDL's at the pose, to the printed digits.
    KDL::JntArray q(6);
    for (int i = 0; i < 6; ++i) q(i) = pose[i] * kPi / 180.0;
    const KDL::Jacobian jac = kdl_jacobian({152, -425, -395, 102, 102, 100}, q);
    for (int r = 0; r < 6; ++r) {
        double v[6];
        ASSERT_EQ(std::sscanf(lines[1 + r].text.c_str(), "TJacob%*d: = %lf,%lf,%lf,%lf,%lf,%lf",
                              &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]),
                  6);
        for (int c = 0; c < 6; ++c) EXPECT_NEAR(v[c], jac(c, r), 2e-6) << "row " << r + 1;
    }
}

// An estimate that is not finite (here from a wrist motor's rated torque the host lost) counts
// as singular: it is logged, not published, and the TCP count built so far stands, so the next
// cycle over the limit completes it.
TEST_F(CustomCollision, NonFiniteEstimateLeavesTheTcpCountAlone) {
    const float tcp[6] = {1e9f, 1e9f, 20.0f, 1e9f, 1e9f, 1e9f};  // Fz x100
    configure(2, kFar, tcp);
    how.jointCurrent[1] = current_for(1, 0.5);  // a shoulder load far over the Fz limit
    cycles(kCountLimit - 1);
    const float published = mcb.tcpForceEstimate[2];
    ASSERT_GT(std::fabs(published), 20.0f);
    EXPECT_TRUE(kxsim::action_names().empty());
    const float rated14 = mpb.ratedTorque14;
    mpb.ratedTorque14 = NAN;
    kxsim::clear_log();
    cycles(1);
    EXPECT_EQ(mcb.tcpForceEstimate[2], published);
    EXPECT_EQ(kxsim::log_lines().size(), 7u);
    EXPECT_TRUE(kxsim::action_names().empty());
    mpb.ratedTorque14 = rated14;
    cycles(1);
    EXPECT_EQ(kxsim::action_names(), kPause);
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_TCP);
}

// A joint or TCP count restarts once every joint, or every component, is back inside its limit;
// custom joint limits replace the level counters.
TEST_F(CustomCollision, CountRestartsWhenEverythingIsInside) {
    const float fx[6] = {1.0f, 1e9f, 1e9f, 1e9f, 1e9f, 1e9f};  // Fx x100
    const float j5[6] = {1e6f, 1e6f, 1e6f, 1e6f, 0.05f, 1e6f};
    const struct {
        uint8_t mode;
        const float *joint, *tcp;
        int j;          // the joint loaded: a wrist motor, or a shoulder load far over Fx
        double torque;  // [N m], the last time with the other sign
        int32_t limit;  // [cycles]
        uint32_t code;
    } cases[] = {{2, kFar, fx, 1, 0.5, kCountLimit, KXMC_COLLISION_TCP},
                 {1, j5, kFar, 4, 0.1, 100, KXMC_COLLISION_NONE + 5}};
    for (const auto &c : cases) {
        SCOPED_TRACE(int{c.mode});
        rearm();
        configure(c.mode, c.joint, c.tcp);
        if (c.mode == 1) drive_residual(2, 1.5);
        mpb.collisionCountLimit = c.limit;
        for (int round = 0; round < 3; ++round) {
            how.jointCurrent[c.j] = current_for(c.j, c.torque);
            cycles(c.limit - 1);
            how.jointCurrent[c.j] = 0;
            cycles(1);
        }
        EXPECT_EQ(mpb.collisionCounter[2], 0);
        EXPECT_TRUE(kxsim::action_names().empty());
        how.jointCurrent[c.j] = current_for(c.j, -c.torque);
        cycles(c.limit);
        EXPECT_EQ(kxsim::action_names(), kPause);
        EXPECT_EQ(mcb.collisionErrorCode, c.code);
    }
}

TEST_F(CustomCollision, SetterTakesSixLimitsOfEachKindAndRefusesBadOnes) {
    const float ok[6] = {1, 2, 3, 4, 5, 6}, nan[6] = {1, 2, NAN, 4, 5, 6},
                inf[6] = {1, 2, 3, 4, 5, INFINITY};
    for (const auto &[mode, joint, tcp] :
         {std::tuple{4, ok, ok}, {3, nan, ok}, {3, ok, inf}, {3, nullptr, ok}})
        EXPECT_EQ(kxmcSetCustomCollisionDetection(mode, joint, tcp), -1);
    EXPECT_EQ(mcb.customCollisionMode, 0);
    EXPECT_EQ(mcb.customJointLimit[0], 1e6f);
    // Six limits of each kind are taken, nothing beyond them.
    const float joint[7] = {1, 2, 3, 4, 5, 6, -7}, tcp[7] = {10, 20, 30, 40, 50, 60, -70};
    EXPECT_EQ(kxmcSetCustomCollisionDetection(3, joint, tcp), 0);
    EXPECT_EQ(mcb.customCollisionMode, 3);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(mcb.customJointLimit[k], joint[k]);
        EXPECT_EQ(mcb.customTcpLimit[k], tcp[k]);
    }
}

// ---- Status getters ------------------------------------------------------------------------

// Joint state in per-second units with the published torques and TCP wrench, the measured
// currents, and per joint whether it is in its interference zone: between the bounds for zone
// type 0, beyond them for type 1 (the bounds themselves belong to neither), never when the zone
// or the joint is off or the type unknown.
TEST_F(CollisionFixture, StatusGetters) {
    for (int j = 0; j < 6; ++j) {
        mpb.targetJointVel[j] = 0.001 * (j + 1);  // [deg/cycle]
        mpb.actualJointVel[j] = -0.002 * (j + 1);
        mpb.targetJointAcc[j] = 1e-6 * (j + 1);  // [deg/cycle^2]
        mpb.actualJointAcc[j] = 3e-6 * (j + 1);
        mpb.modelJointTorque[j] = 0.5f * j;
        mpb.measuredJointTorque[j] = -0.25f * j;
        mcb.tcpForceEstimate[j] = 10.0f * j;
        how.jointCurrent[j] = static_cast<int16_t>(100 * j - 200);
    }
    double status[7][6], current[6];
    ASSERT_EQ(kxmcGetJointStatus(status[0], status[1], status[2], status[3], status[4], status[5],
                                 status[6]),
              0);
    ASSERT_EQ(kxmcGetJointCurrent(current), 0);
    const double per_joint[7] = {1, -2, 1, 3, 0.5, -0.25, 10};  // times j + 1 or j
    for (int j = 0; j < 6; ++j) {
        for (int k = 0; k < 7; ++k) {
            EXPECT_NEAR(status[k][j], per_joint[k] * (k < 4 ? j + 1 : j), 1e-9) << k << " " << j;
        }
        EXPECT_EQ(current[j], 100 * j - 200);
    }

    const double pos[6] = {0, 10, 20, -20, 0, 0};  // [deg], bounds -10 .. 10
    const uint8_t enable[6] = {1, 1, 1, 1, 0, 1};
    for (int j = 0; j < 6; ++j) {
        mpb.jointPos[j] = pos[j];
        mcb.interfereJointEnable[j] = enable[j];
        mcb.interfereJointMax[j] = 10.0;
        mcb.interfereJointMin[j] = -10.0;
    }
    for (int i = 0; i < 8; ++i) mcb.interfereIo[i] = static_cast<uint8_t>(3 * i + 1);
    const struct {
        uint8_t on, type, drag_on, drag_state;
        uint8_t in[6], drag;
    } cases[] = {{1, 0, 1, 2, {1, 0, 0, 0, 0, 1}, 1},
                 {1, 1, 1, 1, {0, 0, 1, 1, 0, 0}, 0},
                 {1, 2, 0, 2, {0, 0, 0, 0, 0, 0}, 0},
                 {0, 0, 1, 2, {0, 0, 0, 0, 0, 0}, 1}};
    for (const auto &c : cases) {
        mcb.interfereOn = c.on;
        mcb.interfereType = c.type;
        mcb.interfereDragOn = c.drag_on;
        mpb.interfereDragState = c.drag_state;
        uint8_t in[6], drag = 9, io[8];
        ASSERT_EQ(kxmcGetInterfereStatus(in, &drag, io), 0);
        EXPECT_EQ(std::vector<uint8_t>(in, in + 6), std::vector<uint8_t>(c.in, c.in + 6))
            << "zone " << int{c.on} << " type " << int{c.type};
        EXPECT_EQ(drag, c.drag);
        EXPECT_EQ(std::vector<uint8_t>(io, io + 8),
                  std::vector<uint8_t>(mcb.interfereIo, mcb.interfereIo + 8));
    }
}

// ---- Dynamic allowance ---------------------------------------------------------------------

// The allowance curve after a jump: with the curve reference 1440 a damped sine settling at
// 0.6148 N m, otherwise a cubic in t scaled by the reference / 1440 (speed factor and ratios 1).
TEST_F(CollisionFixture, AllowanceCurveOverTheWindow) {
    const auto damped = [](double t) {
        return 0.6148 - 0.9288 * std::exp(-0.008 * t) * std::sin(0.04 * t - 3.796091123087667);
    };
    const auto cubic = [](double t) {
        return 2.13e-6 * t * t * t - 0.000667 * t * t + 0.05492 * t + 0.1829;
    };
    const struct {
        double reference;
        int32_t t;
        double expected;  // [N m]
    } cases[] = {{1440, 1, damped(1)},         {1440, 60, damped(60)},
                 {1440, 251, damped(251)},     {720, 1, 0.5 * cubic(1)},
                 {720, 120, 0.5 * cubic(120)}, {2880, 201, 2 * cubic(201)},
                 {1440, 5000, 0.6148}};
    for (const auto &c : cases) {
        mpb.collisionCurveRef = c.reference;
        double allow[6];
        ASSERT_EQ(dynamicCurrentCollisionLimit(c.t, allow), 0);
        EXPECT_NEAR(allow[0], c.expected, 1e-9) << c.reference << " t " << c.t;
    }
}

// Allowance = curve(t) x speed factor x ratio to joint 2, x2.5 on the 16-kg shoulder joints,
// each case against the plain curve of joint 1 at the same time. The speed factor is 10 x / level
// up to the level (x the speed ratio of the speed mode: A in mode 0, B in mode 1), else 1.
TEST_F(CollisionFixture, AllowanceScalesTheCurvePerJoint) {
    mpb.collisionCurveRef = 1440;
    double curve[6];
    ASSERT_EQ(dynamicCurrentCollisionLimit(5000, curve), 0);
    struct Case {
        const char *name;
        uint32_t model;
        uint8_t speed_mode;
        double ratio_a, ratio_b;
        float level, ratio[6];
        double mult[6];
    };
    const Case cases[] = {
        {"speed factor 0.4", 101, 0, 2.0, 9.0, 50, {1, 1, 1, 1, 1, 1}, {.4, .4, .4, .4, .4, .4}},
        {"speed mode 1", 101, 1, 9.0, 3.0, 50, {1, 1, 1, 1, 1, 1}, {.6, .6, .6, .6, .6, .6}},
        {"above the level", 101, 0, 6.0, 1.0, 50, {1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
        {"ratios to joint 2", 101, 2, 1.0, 1.0, 1, {2, 4, 1, 8, 0, 4}, {.5, 1, .25, 2, 0, 1}},
        {"16-kg shoulder", 350, 2, 0, 0, 1, {1, 1, 1, 1, 1, 1}, {2.5, 2.5, 1, 1, 1, 1}},
        {"no joint-2 ratio", 101, 2, 0, 0, 1, {1, 0, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
        {"NaN ratio", 101, 2, 0, 0, 1, {1, NAN, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
        {"level zero", 101, 0, 0.0, 0.0, 0, {1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        mcb.robotModelCode = c.model;
        mcb.speedMode = c.speed_mode;
        mcb.speedRatioA = c.ratio_a;
        mcb.speedRatioB = c.ratio_b;
        std::fill(mpb.collisionLevel, mpb.collisionLevel + 6, c.level);
        kxsim::set_collision_ratio(c.ratio);
        double allow[6];
        EXPECT_EQ(dynamicCurrentCollisionLimit(5000, allow), 0);
        for (int j = 0; j < 6; ++j) EXPECT_NEAR(allow[j], curve[0] * c.mult[j], 1e-9) << j;
    }
    mpb.collisionCurveRef = NAN;  // no curve: no allowance
    EXPECT_EQ(dynamicCurrentCollisionLimit(10, curve), 0);
    EXPECT_EQ(std::count(curve, curve + 6, 0.0), 6);
}

}  // namespace
}  // namespace collision_test
