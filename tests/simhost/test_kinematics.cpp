// Kinematics of the simulated host: forward kinematics against Orocos KDL for every arm
// geometry, and the gravity routines against a KDL Jacobian.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <kdl/chain.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#include <kdl/frames.hpp>
#include <random>
#include <vector>

#include "host_fixture.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

Trsf rpy(double first, double second, double third, double x = 0, double y = 0, double z = 0) {
    Trsf t;
    rpyToTrsf(&t, third, second, first);
    t.pos = Vect{{x, y, z}};
    return t;
}

KDL::Jacobian kdl_jacobian(const kxsim::ArmGeometry &g, bool with_offsets, const double q_deg[6]) {
    KDL::Chain chain;
    KDL::JntArray q(6);
    for (int i = 0; i < 6; ++i) {
        chain.addSegment(KDL::Segment(
            KDL::Joint(KDL::Joint::RotZ),
            KDL::Frame::DH(g.a[i], g.alpha[i], g.d[i], with_offsets ? g.theta_offset[i] : 0.0)));
        q(i) = q_deg[i] * kDeg;
    }
    KDL::Jacobian jac(6);
    KDL::ChainJntToJacSolver(chain).JntToJac(q, jac);
    return jac;
}

// The flange pose of every geometry, rebuilt link by link with KDL from the DH table.
TEST(ArmGeometry, ForwardKinematicsAgreesWithKdlForEveryFamily) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> joint(-180.0, 180.0);
    for (uint32_t m : {0, 1, 150, 201, 202, 301, 401, 701, 703, 850, 902, 903, 1001, 5000}) {
        mcb.robotModelCode = m;
        const kxsim::ArmGeometry g = kxsim::arm_geometry(m);
        for (int n = 0; n < 50; ++n) {
            double q[6];
            KDL::Frame k = KDL::Frame::Identity();
            for (int i = 0; i < 6; ++i) {
                q[i] = joint(rng);
                k = k * KDL::Frame::DH(g.a[i] * 1000.0, g.alpha[i], g.d[i] * 1000.0,
                                       q[i] * kDeg + g.theta_offset[i]);
            }
            float pose[6];
            ASSERT_EQ(jointTrsfToEndCartTCF_RT(1, q, pose), 0);
            const Trsf t = rpy(pose[3], pose[4], pose[5]);
            for (int i = 0; i < 9; ++i) EXPECT_NEAR(t.rot.r[i], k.M(i / 3, i % 3), 1e-5) << m;
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(pose[i], k.p(i), 1e-3) << m;
        }
    }
}

// Floor, wall and ceiling mountings: the ceiling reverses every torque, and a point mass at the
// flange adds J_v^T times its weight, with J_v the flange's linear Jacobian from KDL on the host's
// geometry.
using HostGravity = kxsim_test::HostFixture;

TEST_F(HostGravity, MountingsHoldArmAndPayloadAgainstTheirGravity) {
    const double q[6] = {25, -70, 80, -40, 60, 15};
    const double none[4] = {0, 0, 0, 0}, payload[4] = {0, 0, 0, 2.0};  // 2 kg at the flange centre
    for (int code : {101, 1, 201, 302, 401}) {
        mcb.robotModelCode = static_cast<uint32_t>(code);
        double floor[6], ceiling[6], wall[6], floor_load[6], wall_load[6];
        ASSERT_EQ(qmcDynComGravityExload(q, none, floor, code) |
                      qmcDynComGravityExloadCeiling(q, none, ceiling, code) |
                      qmcDynComGravityExloadWall(q, none, wall, code) |
                      qmcDynComGravityExload(q, payload, floor_load, code) |
                      qmcDynComGravityExloadWall(q, payload, wall_load, code),
                  0);
        const KDL::Jacobian jac =
            kdl_jacobian(kxsim::arm_geometry(static_cast<uint32_t>(code)), false, q);
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(ceiling[i], -floor[i], 1e-9) << code;
            EXPECT_NEAR(floor_load[i] - floor[i], jac(2, i) * 2.0 * 9.8, 1e-6)
                << code << " joint " << i + 1;
            EXPECT_NEAR(wall_load[i] - wall[i], jac(0, i) * 2.0 * 9.8, 1e-6)
                << code << " joint " << i + 1;
        }
    }
}

}  // namespace
