// Kinematics of the simulated host: forward kinematics against Orocos KDL for every arm
// geometry. (Its gravity routines are held to the library's model, itself checked against KDL,
// by the gravity dispatch tests.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

}  // namespace
