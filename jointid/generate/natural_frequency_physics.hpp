// Physical model of the arm's lowest natural frequency, the ground truth the natural-frequency
// networks are trained on and checked against.
//
// The arm is the rigid-body model of the dynamics (links, payload and each joint's reflected
// rotor inertia) with an elastic joint: each joint is a torsional spring of stiffness k_i, and
// small oscillations about a pose q obey M(q) dq'' + K dq = 0 with the joint-space mass matrix
// M and K = diag(k). The natural frequencies are the square roots of the generalized
// eigenvalues of K v = w^2 M v, divided by 2 pi. The rotor inertias, large and constant, damp
// the pose dependence of M: over the joint ranges the lowest frequency of each arm varies by
// a factor of 1.1 to 1.7, the spread of the bands' output ranges.
//
// The link part of M comes from Orocos KDL's joint-space inertia of the standard
// Denavit-Hartenberg chain built from the arm's parameter set (dynamics/arm_parameters.hpp); the
// payload is a point mass on the flange axis. Needs KDL and Eigen (Debian: liborocos-kdl-dev, libeigen3-dev); used by the
// trainer and by the tests, never by the library.
#pragma once

#include <cmath>
#include <random>

#include <Eigen/Dense>
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>

#include "dynamics/arm_parameters.hpp"
#include "jointid/natural_frequency_tables.hpp"

namespace kxnf {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwist[6] = {90.0, 0.0, 0.0, 90.0, -90.0, 0.0};  // [deg]

// Standard DH chain of a parameter set with a point payload of mass [kg] at (0, 0, com_z) [mm]
// in the flange frame.
inline KDL::Chain arm_chain(const kxmc::StandardArmParameters &p, double mass, double com_z) {
    const double a[6] = {0.0, -std::fabs(p.lengths[1]), -std::fabs(p.lengths[2]), 0.0, 0.0, 0.0};
    const double d[6] = {p.lengths[0], 0.0, 0.0, p.lengths[3], p.lengths[4], p.lengths[5]};
    KDL::Chain chain;
    for (int i = 0; i < 6; ++i) {
        const float *c = &p.centres[3 * i];
        const float *in = &p.inertias[6 * i];
        KDL::RigidBodyInertia body(
            p.masses[i], KDL::Vector(c[0] * 1e-3, c[1] * 1e-3, c[2] * 1e-3),
            KDL::RotationalInertia(in[0] * 1e-6, in[3] * 1e-6, in[5] * 1e-6, in[1] * 1e-6,
                                   in[2] * 1e-6, in[4] * 1e-6));
        if (i == 5) {
            body = body + KDL::RigidBodyInertia(mass, KDL::Vector(0.0, 0.0, com_z * 1e-3));
        }
        chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                      KDL::Frame::DH(a[i] * 1e-3, kTwist[i] * kPi / 180.0,
                                                     d[i] * 1e-3, 0.0),
                                      body));
    }
    return chain;
}

// Joint-space mass matrix [kg m^2] at joints q [deg]: the links' and the payload's, plus each
// joint's reflected rotor inertia rotor[i] [kg mm^2] on the diagonal.
inline Eigen::Matrix<double, 6, 6> mass_matrix(const KDL::Chain &chain, const float rotor[6],
                                               const double q_deg[6]) {
    KDL::ChainDynParam dyn(chain, KDL::Vector(0.0, 0.0, -9.8));
    KDL::JntArray q(6);
    for (int i = 0; i < 6; ++i) {
        q(i) = q_deg[i] * kPi / 180.0;
    }
    KDL::JntSpaceInertiaMatrix H(6);
    dyn.JntToMass(q, H);
    Eigen::Matrix<double, 6, 6> M = H.data;
    for (int i = 0; i < 6; ++i) {
        M(i, i) += static_cast<double>(rotor[i]) * 1e-6;
    }
    return M;
}

// Lowest natural frequency [Hz] of K v = w^2 M v with K = diag(stiffness) [N m/rad].
inline double lowest_frequency(const Eigen::Matrix<double, 6, 6> &M, const double stiffness[6]) {
    Eigen::Matrix<double, 6, 6> K = Eigen::Matrix<double, 6, 6>::Zero();
    for (int i = 0; i < 6; ++i) {
        K(i, i) = stiffness[i];
    }
    Eigen::GeneralizedSelfAdjointEigenSolver<Eigen::Matrix<double, 6, 6>> solver(K, M);
    return std::sqrt(solver.eigenvalues().minCoeff()) / (2.0 * kPi);
}

// One sample: the network inputs and the physical pose and payload behind them.
struct Sample {
    double inputs[6];
    double q[6];    // [deg]
    double mass;    // [kg]
    double com_z;   // [mm]
};

// A pose and payload drawn uniformly from the network's input ranges. The payload networks do
// not see joints 1 and 6: the mass matrix does not depend on joint 1, and on joint 6 only
// through the flange body's slight asymmetry, so they are drawn but not passed.
inline Sample draw_sample(const kxmc::detail::NfScaling &s, bool loaded, std::mt19937_64 &rng) {
    const auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    Sample out{};
    if (!loaded) {
        for (int j = 0; j < 6; ++j) {
            out.q[j] = uniform(s.xmin[j], s.xmax[j]);
            out.inputs[j] = out.q[j];
        }
        return out;
    }
    out.q[0] = uniform(-175.0, 175.0);
    for (int j = 0; j < 4; ++j) {
        out.q[j + 1] = uniform(s.xmin[j], s.xmax[j]);
        out.inputs[j] = out.q[j + 1];
    }
    out.q[5] = uniform(-175.0, 175.0);
    // Masses from a small fraction of the rated payload up: a payload network also answers
    // for a few grams (any mass not exactly 0 selects it).
    out.mass = uniform(s.xmax[4] * 1e-4, s.xmax[4]);
    out.com_z = uniform(s.xmin[5], s.xmax[5]);
    out.inputs[4] = out.mass;
    out.inputs[5] = out.com_z;
    return out;
}

inline double sample_frequency(const kxmc::StandardArmParameters &p, const Sample &s,
                               const double stiffness[6]) {
    return lowest_frequency(mass_matrix(arm_chain(p, s.mass, s.com_z), p.rotor, s.q), stiffness);
}

}  // namespace kxnf
