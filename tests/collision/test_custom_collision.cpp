// Custom joint and TCP limits, the TCP wrench estimate against an independent Jacobian, the
// dynamic allowance, and the status getters.
#include <algorithm>
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

using Names = std::vector<std::string>;
const Names kPause = {"qmcPause", "doConfigHandle", "resetWeldControlPara"};
const double kPi = 3.14159265358979323846;

class CustomCollision : public CollisionFixture {
protected:
    void configure(uint8_t mode, const float joint[6], const float tcp[6]) {
        ASSERT_EQ(kxmcSetCustomCollisionDetection(mode, joint, tcp), 0);
        mpb.collisionThresholdMode = 1;  // the custom limits replace the level thresholds
    }
    void wrist_singular() {
        const double pose[6] = {0, -90, 90, 0, 0, 0};
        std::copy(pose, pose + 6, mpb.targetJointPos);
    }
    int det_log_lines() const {
        int n = 0;
        for (const auto &l : kxsim::log_lines()) {
            n += (l.text.rfind("detValue = ", 0) == 0 || l.text.rfind("TJacob", 0) == 0) ? 1 : 0;
        }
        return n;
    }
    const float far_[6] = {1e6f, 1e6f, 1e6f, 1e6f, 1e6f, 1e6f};
};

#if KXMC_HAVE_KDL
// The estimate w solves J^T w = tau: feeding tau = J^T w for a known wrench must return it.
TEST_F(CustomCollision, TcpWrenchInvertsTheJacobianTranspose) {
    struct Arm {
        uint32_t code;
        double d1, a2, a3, d4, d5, d6;  // [mm]
    };
    const Arm arms[] = {{50, 152, -280, -240, 102, 102, 100},
                        {101, 152, -425, -395, 102, 102, 100},
                        {301, 180, -520, -400, 159, 114, 106},
                        {902, 180, -700, -586, 211, 114, 106}};
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> angle(-150.0, 150.0);
    std::uniform_real_distribution<double> wrench(-50.0, 50.0);
    configure(2, far_, far_);
    for (const Arm &arm : arms) {
        mcb.robotModelCode = arm.code;
        KDL::Chain chain;
        const double a[6] = {0, arm.a2, arm.a3, 0, 0, 0};
        const double alpha[6] = {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0};
        const double d[6] = {arm.d1, 0, 0, arm.d4, arm.d5, arm.d6};
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
            double w[6], tau[6] = {};
            for (double &x : w) {
                x = wrench(rng);
            }
            for (int j = 0; j < 6; ++j) {
                for (int k = 0; k < 6; ++k) {
                    tau[j] += jac(k, j) * w[k];
                }
            }
            const double r[6] = {};
            ASSERT_EQ(kxmcCustomCollisionDetectionMain(r, tau), 0);
            for (int k = 0; k < 6; ++k) {
                EXPECT_NEAR(mcb.tcpForceEstimate[k], 100.0 * w[k], 0.5 + 1e-3 * std::fabs(100 * w[k]))
                    << "model " << arm.code << " component " << k;
            }
        }
    }
}
#endif

TEST_F(CustomCollision, SingularJacobianLogsRowsAndSkipsTheCycle) {
    configure(3, far_, far_);
    wrist_singular();
    for (float &v : mcb.tcpForceEstimate) {
        v = 7.0f;
    }
    const double r[6] = {0, 0, 0, 0, 0, 0};
    const double meas[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(kxmcCustomCollisionDetectionMain(r, meas), -1);
    const auto &lines = kxsim::log_lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].text.rfind("detValue = ", 0), 0u);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(lines[static_cast<size_t>(i)].level, 4);
    }
    for (int i = 1; i <= 6; ++i) {
        const std::string &t = lines[static_cast<size_t>(i)].text;
        EXPECT_EQ(t.rfind("TJacob" + std::to_string(i) + ": = ", 0), 0u) << t;
        EXPECT_EQ(std::count(t.begin(), t.end(), ','), 5);
    }
    EXPECT_EQ(mcb.tcpForceEstimate[2], 7.0f);
}

TEST_F(CustomCollision, SingularPoseSkipsTheJointLimitsOnlyWhenTheTcpPartRuns) {
    float joint[6] = {1e6f, 0.05f, 1e6f, 1e6f, 1e6f, 1e6f};
    for (uint8_t mode : {3, 1}) {
        SCOPED_TRACE(static_cast<int>(mode));
        quiet_running_arm();
        configure(mode, joint, far_);
        wrist_singular();
        how.jointCurrent[1] = current_for(1, 0.1);
        kxsim::clear_journal();
        kxsim::clear_log();
        cycles(kCountLimit);
        if (mode == 3) {
            EXPECT_TRUE(kxsim::action_names().empty());
            EXPECT_EQ(det_log_lines(), 7 * kCountLimit);
        } else {
            EXPECT_EQ(kxsim::action_names(), kPause);
            EXPECT_EQ(det_log_lines(), 0);  // mode 1 never builds the Jacobian
            EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 2);
        }
    }
}

TEST_F(CustomCollision, TcpModeNeverCountsJointLimits) {
    const float joint[6] = {0.01f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f};
    configure(2, joint, far_);
    how.jointCurrent[0] = current_for(0, 0.5);
    cycles(5 * kCountLimit);
    EXPECT_TRUE(kxsim::action_names().empty());
}

TEST_F(CustomCollision, OnlyTheFirstTcpComponentOutOfRangeCounts) {
    const float tcp[6] = {1e9f, 1.0f, 1.0f, 1e9f, 1e9f, 1e9f};
    configure(2, far_, tcp);
    for (int j = 0; j < 3; ++j) {
        how.jointCurrent[j] = current_for(j, 0.4 * rated[j]);
    }
    cycles(kCountLimit - 1);
    ASSERT_GT(std::fabs(mcb.tcpForceEstimate[1]), 1.0f);
    ASSERT_GT(std::fabs(mcb.tcpForceEstimate[2]), 1.0f);
    EXPECT_TRUE(kxsim::action_names().empty());
    cycles(1);
    EXPECT_EQ(kxsim::action_names(), kPause);  // one reaction, not one per component
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_TCP);
}

TEST_F(CustomCollision, CountRestartsOnceEveryJointIsInside) {
    const float joint[6] = {1e6f, 1e6f, 1e6f, 1e6f, 0.05f, 1e6f};
    configure(1, joint, far_);
    for (int round = 0; round < 3; ++round) {
        how.jointCurrent[4] = current_for(4, 0.1);
        cycles(kCountLimit - 1);
        how.jointCurrent[4] = 0;
        cycles(1);
    }
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

struct AllowCase {
    const char *name;
    double curve_ref;
    int32_t t;
    uint32_t model;
    uint8_t speed_mode;
    double speed_ratio;
    float level;
    float ratio[6];
    bool set_ratio;
    double want[6];
};

const double kL1440At1 = 0.6148 - 0.9288 * std::exp(-0.008) * std::sin(0.04 - 3.796091123087667);
const double kCubic100 = 2.13e-6 * 1e6 - 0.000667 * 1e4 + 0.05492 * 100 + 0.1829;

const AllowCase kAllowCases[] = {
    {"damped_sine_t1", 1440, 1, 101, 2, 0, 1, {1, 1, 1, 1, 1, 1}, true,
     {kL1440At1, kL1440At1, kL1440At1, kL1440At1, kL1440At1, kL1440At1}},
    {"damped_sine_settles", 1440, 5000, 101, 2, 0, 1, {1, 1, 1, 1, 1, 1}, true,
     {0.6148, 0.6148, 0.6148, 0.6148, 0.6148, 0.6148}},
    {"half_cubic", 720, 100, 101, 2, 0, 1, {1, 1, 1, 1, 1, 1}, true,
     {kCubic100 / 2, kCubic100 / 2, kCubic100 / 2, kCubic100 / 2, kCubic100 / 2, kCubic100 / 2}},
    {"speed_factor_0.4", 1440, 5000, 101, 0, 2.0, 50, {1, 1, 1, 1, 1, 1}, true,
     {0.6148 * 0.4, 0.6148 * 0.4, 0.6148 * 0.4, 0.6148 * 0.4, 0.6148 * 0.4, 0.6148 * 0.4}},
    {"speed_factor_1", 1440, 5000, 101, 1, 6.0, 50, {1, 1, 1, 1, 1, 1}, true,
     {0.6148, 0.6148, 0.6148, 0.6148, 0.6148, 0.6148}},
    {"ratios_to_joint_2", 1440, 5000, 101, 2, 0, 1, {2, 4, 1, 8, 0, 4}, true,
     {0.6148 * 0.5, 0.6148, 0.6148 * 0.25, 0.6148 * 2, 0, 0.6148}},
    {"16kg_shoulder", 1440, 5000, 350, 2, 0, 1, {1, 1, 1, 1, 1, 1}, true,
     {0.6148 * 2.5, 0.6148 * 2.5, 0.6148, 0.6148, 0.6148, 0.6148}},
    {"no_joint2_ratio", 1440, 5000, 101, 2, 0, 1, {}, false,
     {0.6148, 0.6148, 0.6148, 0.6148, 0.6148, 0.6148}},
    {"nan_ratio", 1440, 5000, 101, 2, 0, 1, {1, NAN, 1, 1, 1, 1}, true,
     {0.6148, 0.6148, 0.6148, 0.6148, 0.6148, 0.6148}},
    {"level_zero", 1440, 5000, 101, 0, 0.0, 0, {1, 1, 1, 1, 1, 1}, true,
     {0.6148, 0.6148, 0.6148, 0.6148, 0.6148, 0.6148}},
    {"nan_curve", NAN, 10, 101, 2, 0, 1, {1, 1, 1, 1, 1, 1}, true, {0, 0, 0, 0, 0, 0}},
};

void PrintTo(const AllowCase &c, std::ostream *os) { *os << c.name; }

class Allowance : public CollisionFixture, public ::testing::WithParamInterface<AllowCase> {};

TEST_P(Allowance, Values) {
    const AllowCase &c = GetParam();
    mpb.collisionCurveRef = c.curve_ref;
    mcb.robotModelCode = c.model;
    mcb.speedMode = c.speed_mode;
    mcb.speedRatioA = mcb.speedRatioB = c.speed_ratio;
    for (float &l : mpb.collisionLevel) {
        l = c.level;
    }
    if (c.set_ratio) {
        kxsim::set_collision_ratio(c.ratio);
    } else {
        kxsim::clear_collision_ratio();
    }
    double allow[6];
    EXPECT_EQ(dynamicCurrentCollisionLimit(c.t, allow), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_NEAR(allow[j], c.want[j], 1e-3) << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Allowance, ::testing::ValuesIn(kAllowCases),
                         [](const auto &p) {
                             std::string n = p.param.name;
                             std::replace(n.begin(), n.end(), '.', '_');
                             return n;
                         });

// ---- Status getters ------------------------------------------------------------------------

TEST_F(CollisionFixture, InterferenceStatusPerZoneType) {
    struct Case {
        uint8_t on, enable, type;
        double pos;
        uint8_t want;
    } cases[] = {{1, 1, 0, 5.0, 1},  {1, 1, 0, 10.0, 0}, {1, 1, 0, -20.0, 0}, {1, 1, 1, 15.0, 1},
                 {1, 1, 1, -12.0, 1}, {1, 1, 1, 0.0, 0},  {1, 1, 2, 5.0, 0},   {1, 0, 0, 5.0, 0},
                 {0, 1, 0, 5.0, 0}};
    for (const Case &c : cases) {
        mcb.interfereOn = c.on;
        mcb.interfereType = c.type;
        for (int j = 0; j < 6; ++j) {
            mcb.interfereJointEnable[j] = c.enable;
            mcb.interfereJointMax[j] = 10.0;
            mcb.interfereJointMin[j] = -10.0;
            mpb.jointPos[j] = c.pos;
        }
        uint8_t in[6], drag = 9, io[8];
        ASSERT_EQ(kxmcGetInterfereStatus(in, &drag, io), 0);
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(in[j], c.want) << c.pos << " type " << int(c.type);
        }
    }
    for (uint8_t i = 0; i < 8; ++i) {
        mcb.interfereIo[i] = static_cast<uint8_t>(i * 3);
    }
    const std::pair<uint8_t, uint8_t> drag_cases[] = {{1, 2}, {1, 1}, {0, 2}};
    for (const auto &dc : drag_cases) {
        mcb.interfereDragOn = dc.first;
        mpb.interfereDragState = dc.second;
        uint8_t in[6], drag = 9, io[8];
        kxmcGetInterfereStatus(in, &drag, io);
        EXPECT_EQ(drag, dc.first == 1 && dc.second == 2 ? 1 : 0);
        EXPECT_EQ(io[7], 21);
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
