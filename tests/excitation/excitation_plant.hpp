// Test plant of the excitation identification: the 5-kg arm with a point payload on the flange,
// its joint torques from Orocos KDL's recursive Newton-Euler solver plus the reflected rotor
// inertias, and the Fourier trajectory sampled every millisecond.
#pragma once

#include <array>
#include <cmath>

#include <kdl/chain.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>

#include "dynamics/arm_derivation.hpp"
#include "kxmc/kxmc_identification_store.h"

namespace excitation_test {

using Joints = std::array<double, 6>;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

struct Payload {
    double mass;      // [kg]
    double x, y, z;   // [mm] flange frame
};

// The arm of the identification: the 5-kg arm's links and rotor inertias on a chain with the
// given d4 [mm] (the arm's own 102 mm, or the identification model's 138 mm), gravity g [m/s^2].
class Plant {
public:
    Plant(double d4_mm, const Payload &load, double g = 9.81, bool rotors = true) : g_(g) {
        const kxmc::StandardArmParameters &arm = kxmc::detail::kDefaultSet;
        const double a[6] = {0, -0.425, -0.395, 0, 0, 0};
        const double d[6] = {0.152, 0, 0, d4_mm * 1e-3, 0.102, 0.1};
        const double alpha[6] = {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0};
        for (int i = 0; i < 6; ++i) {
            const float *c = &arm.centres[3 * i];
            const float *I = &arm.inertias[6 * i];
            KDL::RigidBodyInertia body(
                arm.masses[i], KDL::Vector(c[0] * 1e-3, c[1] * 1e-3, c[2] * 1e-3),
                KDL::RotationalInertia(I[0] * 1e-6, I[3] * 1e-6, I[5] * 1e-6, I[1] * 1e-6, I[2] * 1e-6, I[4] * 1e-6));
            if (i == 5) {
                body = body + KDL::RigidBodyInertia(load.mass, KDL::Vector(load.x * 1e-3, load.y * 1e-3, load.z * 1e-3));
            }
            chain_.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ), KDL::Frame::DH(a[i], alpha[i], d[i], 0), body));
            rotor_[i] = rotors ? arm.rotor[i] * 1e-6 : 0.0;
        }
    }

    // Joint torques [N m] at q [rad], qd [rad/s], qdd [rad/s^2], floor mounting.
    Joints torque(const Joints &q, const Joints &qd, const Joints &qdd) const {
        KDL::ChainIdSolver_RNE rne(chain_, KDL::Vector(0, 0, -g_));
        KDL::JntArray jq(6), jqd(6), jqdd(6), tau(6);
        for (int i = 0; i < 6; ++i) jq(i) = q[i], jqd(i) = qd[i], jqdd(i) = qdd[i];
        KDL::Wrenches none(6, KDL::Wrench::Zero());
        rne.CartToJnt(jq, jqd, jqdd, none, tau);
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

// The trajectory of period T [s] played slower by `stretch`, sampled at 1 ms: position [rad] of
// sample c and its first two derivatives from a five-point stencil over neighbouring samples.
struct Trajectory {
    double T;
    double stretch;

    Joints position(long c) const {  // c >= 0
        double q[6];
        kxmcComputefourierAccVelPos(0.0, 8.0 * T * stretch, T, static_cast<uint32_t>(c), q);
        Joints r{};
        for (int i = 0; i < 6; ++i) r[i] = q[i] * kDeg;
        return r;
    }
    void state(long c, Joints &q, Joints &qd, Joints &qdd) const {
        const Joints m2 = position(c), m1 = position(c + 1), q0 = position(c + 2), p1 = position(c + 3),
                     p2 = position(c + 4);
        for (int i = 0; i < 6; ++i) {
            q[i] = q0[i];
            qd[i] = (m2[i] - 8 * m1[i] + 8 * p1[i] - p2[i]) / 12e-3;
            qdd[i] = (-m2[i] + 16 * m1[i] - 30 * q0[i] + 16 * p1[i] - p2[i]) / 12e-6;
        }
    }
};

}  // namespace excitation_test
