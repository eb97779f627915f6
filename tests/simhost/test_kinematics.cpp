// Kinematics library of the simulated host: roll-pitch-yaw and quaternions against Orocos KDL,
// forward against KDL and against the inverse kinematics of the standard arms, and the gravity
// routines against a KDL Jacobian.
#include <gtest/gtest.h>

#include <Eigen/SVD>
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

double pos_distance(const Trsf &a, const Trsf &b) {
    return std::hypot(a.pos.v[0] - b.pos.v[0], a.pos.v[1] - b.pos.v[1], a.pos.v[2] - b.pos.v[2]);
}

// Angle [rad] of M = A^T B, from its skew part and trace (well conditioned near zero).
double rot_angle(const Trsf &a, const Trsf &b) {
    double M[3][3] = {};
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < 3; ++j)
            M[i / 3][i % 3] += a.rot.r[3 * j + i / 3] * b.rot.r[3 * j + i % 3];
    const double s = std::hypot(M[2][1] - M[1][2], M[0][2] - M[2][0], M[1][0] - M[0][1]) / 2;
    return std::atan2(s, (M[0][0] + M[1][1] + M[2][2] - 1.0) / 2);
}

// Host inverse kinematics of a flange pose; joints hold the reference on entry.
int inverse(const Trsf &f, double joints[6]) {
    double third, second, first;
    trsfToRpy(&third, &second, &first, &f);
    return qmcGetInverseKinematicNoLine(0, f.pos.v[0], f.pos.v[1], f.pos.v[2], first, second, third,
                                        -1, joints);
}

TEST(Frames, RollPitchYawRoundTripAndGimbalLock) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> any(-180.0, 180.0), pitch(-89.5, 89.5);
    for (int n = 0; n < 20000; ++n) {
        const double a = any(rng), b = pitch(rng), c = any(rng);
        const Trsf t = rpy(a, b, c);
        double third, second, first;
        ASSERT_TRUE(trsfToRpy(&third, &second, &first, &t) == 0 && std::fabs(first - a) < 1e-9 &&
                    std::fabs(second - b) < 1e-9 && std::fabs(third - c) < 1e-9)
            << n;
        // R = Rz(third) Ry(second) Rx(first); quaternion (w, x, y, z) with w >= 0.
        const KDL::Rotation k = KDL::Rotation::RPY(a * kDeg, b * kDeg, c * kDeg);
        Qtrn q;
        double kq[4];
        trsfToQtrn(&q, &t);
        k.GetQuaternion(kq[1], kq[2], kq[3], kq[0]);
        for (int i = 0; i < 9; ++i) ASSERT_NEAR(t.rot.r[i], k(i / 3, i % 3), 1e-14);
        for (int i = 0; i < 4; ++i) ASSERT_NEAR(q.q[i], kq[0] < 0 ? -kq[i] : kq[i], 1e-12);
    }
    // At pitch +-90 the split between roll and yaw is free, the rotation is not.
    for (double b : {90.0, -90.0}) {
        const Trsf t = rpy(30.0, b, -70.0);
        double third, second, first;
        trsfToRpy(&third, &second, &first, &t);
        EXPECT_TRUE(std::fabs(second - b) < 1e-6 && rot_angle(rpy(first, second, third), t) < 1e-12)
            << b;
    }
}

class StandardArm : public kxsim_test::HostFixture, public ::testing::WithParamInterface<uint32_t> {
   protected:
    uint32_t model_code() const override { return GetParam(); }
};

// Forward then inverse over 2000 random joint vectors away from the three singular
// configurations (elbow stretched, wrist aligned, wrist centre over the base axis).
TEST_P(StandardArm, InverseOfForwardReturnsThePoseAndTheOriginalJoints) {
    const kxsim::ArmGeometry g = kxsim::arm_geometry(GetParam());
    std::mt19937_64 rng(1000 + GetParam());
    std::uniform_real_distribution<double> joint(-180.0, 180.0), wide(-340.0, 340.0);
    for (int n = 0, tested = 0; tested < 2000; ++n) {
        double q[6];
        for (double &v : q) v = (n % 4 == 0) ? wide(rng) : joint(rng);
        const Trsf f = kxsim::flange_transform(q);
        const double d6 = g.d[5] * 1000.0;
        const double wx = f.pos.v[0] - d6 * f.rot.r[2], wy = f.pos.v[1] - d6 * f.rot.r[5];
        if (std::fabs(std::sin(q[2] * kDeg)) < 0.1 || std::fabs(std::sin(q[4] * kDeg)) < 0.1 ||
            std::hypot(wx, wy) - std::fabs(g.d[3] * 1000.0) < 20.0)
            continue;
        ++tested;
        const auto all = kxsim::inverse_kinematics_all(f);
        ASSERT_TRUE(all.size() >= 1u && all.size() <= 8u) << "sample " << n;
        for (const auto &s : all) {
            const Trsf fs = kxsim::flange_transform(s.data());
            ASSERT_TRUE(pos_distance(fs, f) < 1e-6 && rot_angle(fs, f) < 1e-9) << "sample " << n;
        }
        // With the original joints as reference, the host's inverse returns them.
        double joints[6] = {q[0], q[1], q[2], q[3], q[4], q[5]};
        ASSERT_GE(inverse(f, joints), 0) << "sample " << n;
        for (int i = 0; i < 6; ++i) ASSERT_NEAR(joints[i], q[i], 1e-9 / kDeg) << "sample " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Models, StandardArm,
                         ::testing::Values(0u, 1u, 201u, 250u, 301u, 350u, 450u, 702u, 902u, 903u,
                                           1050u),
                         [](const ::testing::TestParamInfo<uint32_t> &i) {
                             return "model" + std::to_string(i.param);
                         });

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
            for (int i = 0; i < 9; ++i)
                EXPECT_TRUE(std::fabs(t.rot.r[i] - k.M(i / 3, i % 3)) < 1e-5 &&
                            (i > 2 || std::fabs(pose[i] - k.p(i)) < 1e-3))
                    << m;
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
