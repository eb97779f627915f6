// Test plant of the payload and observer tests: the 5-kg arm with a point payload on the flange,
// its joint torques from Orocos KDL's recursive Newton-Euler solver plus the reflected rotor
// inertias, the Fourier trajectory sampled every millisecond, and the library's joint-space
// matrices of the arm.
#pragma once

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <array>
#include <cmath>
#include <kdl/chain.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>

#include "dynamics/arm_derivation.hpp"
#include "kxmc/kxmc_identification_store.h"
#include "kxmc/kxmc_joint_space_dynamics.h"

namespace excitation_test {

using Joints = std::array<double, 6>;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

struct Payload {
    double mass;     // [kg]
    double x, y, z;  // [mm] flange frame
};

// The 5-kg arm's links on a chain with the given d4 [mm] (the arm's 102, the identification
// model's 138), gravity g [m/s^2], with or without its rotor inertias.
class Plant {
   public:
    Plant(double d4_mm, const Payload &load, double g = 9.81, bool rotors = true) : g_(g) {
        const kxmc::StandardArmParameters &arm = kxmc::detail::kDefaultSet;
        const double a[6] = {0, -0.425, -0.395, 0, 0, 0},
                     d[6] = {0.152, 0, 0, d4_mm * 1e-3, 0.102, 0.1};
        const double alpha[6] = {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0};
        for (int i = 0; i < 6; ++i) {
            const float *c = &arm.centres[3 * i], *I = &arm.inertias[6 * i];
            KDL::RigidBodyInertia body(
                arm.masses[i], KDL::Vector(c[0], c[1], c[2]) * 1e-3,
                1e-6 * KDL::RotationalInertia(I[0], I[3], I[5], I[1], I[2], I[4]));
            if (i == 5)
                body = body +
                       KDL::RigidBodyInertia(load.mass, KDL::Vector(load.x, load.y, load.z) * 1e-3);
            chain_.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                           KDL::Frame::DH(a[i], alpha[i], d[i], 0), body));
            rotor_[i] = rotors ? arm.rotor[i] * 1e-6 : 0.0;
        }
    }
    // Joint torques [N m] at q [rad], qd [rad/s], qdd [rad/s^2], floor mounting.
    Joints torque(const Joints &q, const Joints &qd, const Joints &qdd) const {
        KDL::ChainIdSolver_RNE rne(chain_, KDL::Vector(0, 0, -g_));
        KDL::JntArray jq(6), jqd(6), jqdd(6), tau(6);
        for (int i = 0; i < 6; ++i) jq(i) = q[i], jqd(i) = qd[i], jqdd(i) = qdd[i];
        rne.CartToJnt(jq, jqd, jqdd, KDL::Wrenches(6, KDL::Wrench::Zero()), tau);
        Joints out{};
        for (int i = 0; i < 6; ++i) out[i] = tau(i) + rotor_[i] * qdd[i];
        return out;
    }
    const KDL::Chain &chain() const { return chain_; }

   private:
    double g_;
    KDL::Chain chain_;
    double rotor_[6];
};

// The drives of joints 4 and 5 report this share of the joint torque.
constexpr double kDriveGain[6] = {1, 1, 1, 0.8151, 0.8407, 1};

// The trajectory of period T [s] played `stretch` times slower, sampled at 1 ms: sample c + 2
// and its derivatives from a five-point stencil.
struct Trajectory {
    double T, stretch;
    Joints position(long c) const {
        double q[6];
        kxmcComputefourierAccVelPos(0.0, 8.0 * T * stretch, T, static_cast<uint32_t>(c), q);
        return {q[0] * kDeg, q[1] * kDeg, q[2] * kDeg, q[3] * kDeg, q[4] * kDeg, q[5] * kDeg};
    }
    void state(long c, Joints &q, Joints &qd, Joints &qdd) const {
        const Joints m2 = position(c), m1 = position(c + 1), p1 = position(c + 3),
                     p2 = position(c + 4);
        q = position(c + 2);
        for (int i = 0; i < 6; ++i) {
            qd[i] = (m2[i] - 8 * m1[i] + 8 * p1[i] - p2[i]) / 12e-3;
            qdd[i] = (-m2[i] + 16 * m1[i] - 30 * q[i] + 16 * p1[i] - p2[i]) / 12e-6;
        }
    }
};

using Mat6 = Eigen::Matrix<double, 6, 6, Eigen::RowMajor>;
using Vec6 = Eigen::Matrix<double, 6, 1>;

// The library's M, V and G at q [rad] and qd [rad/s].
struct Matrices {
    Mat6 M, V;
    Vec6 G;
};
inline Matrices matrices(const Joints &q, const Joints &qd) {
    Matrices d;
    double *mr[6], *vr[6], *gr[6];
    for (int i = 0; i < 6; ++i)
        mr[i] = d.M.row(i).data(), vr[i] = d.V.row(i).data(), gr[i] = &d.G(i);
    EXPECT_EQ(com_M_matrix(q.data(), MatHead{0, 5, 0, 5, 0, mr}) +
                  com_G_matrix(q.data(), MatHead{0, 5, 0, 0, 0, gr}) +
                  com_C_matrix(q.data(), qd.data(), MatHead{0, 5, 0, 5, 0, vr}),
              0);
    return d;
}

}  // namespace excitation_test
