// Force-and-torque hand guiding: the joint torques of a push measured by the wrist sensor are
// the transposed Jacobian (KDL's, of the arm's Denavit-Hartenberg chain) times the wrench moved
// to the flange origin in base axes (KDL's frame algebra), less the joint damping, through the
// torque low-pass.
#include <gtest/gtest.h>

#include <cmath>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#include <random>
#include <sstream>
#include <string>

#include "tests/forcesensor/sensor_fixture.hpp"

namespace {

using namespace sensor_test;

using TorqueGuiding = SensorFixture;

TEST_F(TorqueGuiding, TorquesAreTheTransposedJacobianOfTheWrenchAtTheFlange) {
    struct Case {
        uint32_t model;
        double geometry[6], mounting[6];  // chain lengths [mm]; sensor on the flange [mm, deg]
        bool damping;
    };
    const Case cases[] = {
        {101, {152, -425, -395, 102, 102, 100}, {0, 0, 0, 0, 0, 0}, false},
        {50, {140, -280, -240, 102, 102, 100}, {0, 0, 35, 0, 0, 90}, true},
        {201, {180, -700, -586, 159, 114, 106}, {4, -6, 28, 8, -3, 30}, false},
        {301, {180, -520, -400, 159, 114, 106}, {0, 0, 40, 0, 0, -45}, true},
        {401, {215, -1000, -716, 166, 138, 120}, {2, 2, 30, 0, 10, 0}, false},
        {1100, {215, -700, -536, 166, 138, 120}, {0, 0, 25, 180, 0, 0}, false},
        {750, {152, -425, -395, 102, 102, 100}, {0, 0, 30, 0, 0, 0}, true},
        {0, {152, -425, -395, 102, 102, 100}, {0, 0, 0, 0, 0, 0}, false},
    };
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> angle(-150, 150), push(-40, 40), twist(-4, 4),
        speed(-0.05, 0.05);
    const double B[6] = {0.2, 0.5, 1.0, 0.05, 0.1, 0.3};
    std::memcpy(mcb.forceTorqueB, B, sizeof B);
    for (const Case &c : cases) {
        SCOPED_TRACE("model " + std::to_string(c.model));
        mcb.robotModelCode = c.model;
        std::memcpy(mcb.forceSensorCoord, c.mounting, sizeof c.mounting);
        mcb.impedanceSign = c.damping ? 1 : 0;

        double q[6], w[6];
        KDL::JntArray jq(6);
        for (int j = 0; j < 6; ++j) {
            q[j] = angle(rng);
            jq(j) = q[j] * kPi / 180;
            mpb.actualJointVel[j] = speed(rng);
        }
        for (int i = 0; i < 6; ++i) w[i] = i < 3 ? push(rng) : twist(rng);
        const KDL::Chain arm = arm_chain(c.geometry);
        KDL::Frame flange;
        KDL::ChainFkSolverPos_recursive(arm).JntToCart(jq, flange);
        mpb.flangePose = trsf(flange);
        KDL::Jacobian jac(6);
        KDL::ChainJntToJacSolver(arm).JntToJac(jq, jac);
        // The sensor's wrench about its origin, moved to the flange origin, in base axes.
        const KDL::Wrench at_flange =
            flange.M * (kdl_pose(c.mounting) *
                        KDL::Wrench(KDL::Vector(w[0], w[1], w[2]), KDL::Vector(w[3], w[4], w[5])));
        double expected[6];
        for (int j = 0; j < 6; ++j) {
            expected[j] = 0;
            for (int i = 0; i < 6; ++i) expected[j] += jac(i, j) * at_flange(i);
            if (c.damping) expected[j] -= 1000 * mpb.actualJointVel[j] * B[j];
        }
        // From rest (the first case starts from the filter's state at load) the low-pass rises
        // without a jump and overshoots less than a second-order Butterworth's 4.3 %; every case
        // settles on the mapped torques (unit gain at rest).
        const bool from_rest = &c == cases;
        double tau[6];
        std::memcpy(mcb.forceSensorCompWrench, w, sizeof w);
        for (int n = 0; n < 20000; ++n) {
            ASSERT_EQ(kxmcForceDataToTorque(q, tau), 0);
            for (int j = 0; j < 6 && from_rest; ++j) {
                ASSERT_GE(tau[j] / expected[j], 0.0) << "cycle " << n << " joint " << j;
                ASSERT_LE(tau[j] / expected[j], n == 0 ? 1e-5 : 1.05) << "cycle " << n;
            }
        }
        for (int j = 0; j < 6; ++j)
            EXPECT_NEAR(tau[j], expected[j], 1e-6 * (1 + std::fabs(expected[j]))) << "joint " << j;
    }
}

TEST_F(TorqueGuiding, DeadBandsZeroSmallPushesInTheHostField) {
    const double nan = std::nan("");
    struct Row {
        double in[6], out[6];
    };
    const Row rows[] = {{{-1.001, 0, 0, 0.04, 0, 0}, {-1.001, 0, 0, 0, 0, 0}},
                        {{0, -1, 0, 0, 0.3, 0}, {0, 0, 0, 0, 0.3, 0}},
                        {{0, 0, 1.001, 0, 0, 0.0499}, {0, 0, 1.001, 0, 0, 0}},
                        {{0.5, 0.5, 0.5, 0.0501, 0, 0}, {0, 0, 0, 0.0501, 0, 0}},
                        {{0.7, 0.8, 0, 0.03, 0.03, 0.03}, {0.7, 0.8, 0, 0.03, 0.03, 0.03}},
                        {{nan, 3, 0, 0, nan, 0}, {0, 3, 0, 0, 0, 0}}};
    const double q[6] = {10, -80, 70, -20, 80, 5};
    double tau[6];
    for (const Row &r : rows) {
        std::memcpy(mcb.forceSensorCompWrench, r.in, sizeof r.in);
        ASSERT_EQ(kxmcForceDataToTorque(q, tau), 0);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(mcb.forceSensorCompWrench[i], r.out[i]) << (&r - rows) << " " << i;
        for (double t : tau) EXPECT_TRUE(std::isfinite(t));
    }
}

TEST_F(TorqueGuiding, StartCommandChecksClampsStoresAndPersists) {
    const double lambda[6] = {0, 1, 7, 5, 0.5, 2}, K[6] = {1, 2, 3, 4, 5, 6},
                 B[6] = {0, 2.5, 1, 0.3, 1.01, 0};
    const double negK[6] = {1, 2, -0.1, 4, 5, 6}, nanL[6] = {0, std::nan(""), 0, 0, 0, 0};
    struct Row {
        int32_t on, sign;
        const double *lambda, *k;
        double vel;
        uint8_t act;
        int32_t result;
    };
    const Row rows[] = {{2, 0, lambda, K, 250, 1, -1},          {1, -1, lambda, K, 250, 1, -1},
                        {1, 1, lambda, negK, 250, 1, -1},       {1, 1, nanL, K, 250, 1, -1},
                        {1, 1, lambda, K, std::nan(""), 1, -1}, {1, 1, nullptr, K, 250, 1, -1},
                        {1, 1, lambda, K, 250, 0, -2},          {1, 1, lambda, K, 321, 1, 0}};
    for (const Row &r : rows) {
        SCOPED_TRACE(&r - rows);
        mcb.errorCode = 0;
        mcb.forceSensorAct = r.act;
        EXPECT_EQ(kxmcForceAndTorqueDragStartStop(r.on, r.sign, r.lambda, r.k, B, r.vel, 90),
                  r.result);
        EXPECT_EQ(mcb.errorCode, r.result == -1 ? KXMC_ERR_ARGUMENT : 0u);
        EXPECT_EQ(mcb.forceTorqueDragOn + mcb.forceTorqueK[2], r.result == 0 ? 4.0 : 0.0);
        EXPECT_EQ(kxsim::read_config("/root/robot/user.config").empty(), r.result != 0);
    }
    // Stored clamped (lambda at most 5, B at most 1) and persisted one key each, in this order.
    const double stored_lambda[6] = {0, 1, 5, 5, 0.5, 2}, stored_b[6] = {0, 1, 1, 0.3, 1, 0};
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(mcb.forceTorqueLambda[j], stored_lambda[j]) << j;
        EXPECT_EQ(mcb.forceTorqueK[j], K[j]) << j;
        EXPECT_EQ(mcb.forceTorqueB[j], stored_b[j]) << j;
    }
    EXPECT_EQ(mcb.impedanceSign, 1);
    EXPECT_EQ(mcb.dragMaxTcpVel, 321.0);
    EXPECT_EQ(mcb.dragMaxTcpOriVel, 90.0);
    std::ostringstream got;
    for (const auto &k : kxsim::read_config("/root/robot/user.config"))
        got << (k.section == "TEST_PARAM" ? "" : "?") << k.key << "=" << std::stof(k.value) << " ";
    EXPECT_EQ(
        got.str(),
        "IMPEDANCE_SIGN=1 LAMDAGAIN1=0 LAMDAGAIN2=1 LAMDAGAIN3=5 LAMDAGAIN4=5 LAMDAGAIN5=0.5 "
        "LAMDAGAIN6=2 KGAIN1=1 KGAIN2=2 KGAIN3=3 KGAIN4=4 KGAIN5=5 KGAIN6=6 BGAIN1=0 BGAIN2=1 "
        "BGAIN3=1 BGAIN4=0.3 BGAIN5=1 BGAIN6=0 DRAGMAXTCPVEL=321 DRAGMAXTCPORIVEL=90 ");
    int32_t end_force = -1, force_torque = -1;
    mcb.endForceDragOn = 1;
    EXPECT_EQ(kxmcGetForceAndTorqueDragState(&end_force, &force_torque), 0);
    EXPECT_EQ(end_force, 1);
    EXPECT_EQ(force_torque, 1);
}

}  // namespace
