// Seeded random states and the test oracle of the dynamics blocks: Orocos KDL's recursive
// Newton-Euler and joint-space solvers, an implementation independent of this library, with the
// rotor inertias added and the Christoffel Coriolis matrix from central differences of its mass
// matrix.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <random>
#include <string>

#include "dynamics/arm_derivation.hpp"
#include "dynamics/arm_parameters.hpp"

namespace kxtest {

constexpr double kBlockDeg = 0.017453292;  // the blocks' degree-to-radian factor
constexpr double kPi = 3.14159265358979323846;

struct Random {
    explicit Random(uint64_t seed) : gen(seed) {}
    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(gen);
    }
    std::array<double, 6> joints(double limit) {  // each in [-limit, limit]
        std::array<double, 6> v{};
        for (double &x : v) x = uniform(-limit, limit);
        return v;
    }
    std::mt19937_64 gen;
};

// One code per distinct parameter set of the standard block, with its payload range [kg] and
// the arm's measured lengths d1, a2, a3, d4, d5, d6 [mm], link masses [kg] and reflected rotor
// inertias [kg mm^2], as the arms' data sheets give them.
struct SetCase {
    uint32_t code;
    double max_payload;
    float lengths[6], masses[6], rotor[6];
};
inline SetCase measured(uint32_t code, double max_payload, const std::array<float, 6> &lengths,
                        const std::array<float, 6> &masses, const std::array<float, 6> &rotor) {
    SetCase s{code, max_payload, {}, {}, {}};
    std::copy(lengths.begin(), lengths.end(), s.lengths);
    std::copy(masses.begin(), masses.end(), s.masses);
    std::copy(rotor.begin(), rotor.end(), s.rotor);
    return s;
}
constexpr float kR3 = 657160, kR4 = 425520, kR5 = 1615598, kR10 = 17472660;
constexpr float kR9a = 962147.94f, kR9b = 434072.94f;
inline const SetCase kStandardSets[] = {
    measured(0, 5, {152, -425, -395, 102, 102, 100}, {4.64f, 10.08f, 2.71f, 1.56f, 1.56f, 0.36f},
             {kR5, kR5, kR5, kR4, kR4, kR4}),
    measured(1, 3, {140, -280, -240, 102, 102, 100}, {2.37f, 5.21f, 2.31f, 1.66f, 1.66f, 0.34f},
             {kR3, kR3, kR3, kR4, kR4, kR4}),
    measured(2, 3, {140, -280, -240, 102, 102, 100}, {2.24f, 4.94f, 2.29f, 1.56f, 1.56f, 0.36f},
             {kR3, kR3, kR3, kR4, kR4, kR4}),
    measured(3, 3, {140, -280, -240, 102, 102, 100}, {2.24f, 4.89f, 2.29f, 1.56f, 1.58f, 0.35f},
             {kR3, kR3, kR3, kR4, kR4, kR4}),
    measured(201, 10, {180, -700, -586, 195, 114, 106}, {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f},
             {kR10, kR10, kR5, kR3, kR3, kR3}),
    measured(202, 10, {180, -700, -586, 159, 114, 106}, {11.97f, 19.59f, 3.7f, 1.69f, 1.69f, 0.35f},
             {kR10, kR10, kR5, kR3, kR3, kR3}),
    measured(301, 16, {180, -520, -400, 195, 114, 106}, {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f},
             {kR10, kR10, kR5, kR3, kR3, kR3}),
    measured(302, 16, {180, -520, -400, 159, 114, 106},
             {11.97f, 18.18f, 3.22f, 1.69f, 1.69f, 0.35f}, {kR10, kR10, kR5, kR3, kR3, kR3}),
    measured(401, 20, {215, -1000, -716, 166, 138, 120},
             {20.79f, 42.84f, 9.88f, 4.64f, 4.64f, 0.6f},
             {49675000, 49675000, 26208990, kR5, kR5, kR5}),
    measured(702, 5, {140, -425, -395, 102, 102, 100}, {1.66f, 3.74f, 2.0f, 1.17f, 1.17f, 0.28f},
             {312933, 312933, 312933, 319140, 319140, 319140}),
    measured(703, 3, {140, -280, -240, 102, 102, 100}, {1.66f, 3.68f, 1.81f, 1.18f, 1.18f, 0.28f},
             {156467, 156467, 156467, 177300, 177300, 177300}),
    measured(901, 3, {140, -280, -240, 102, 102, 100}, {1.59f, 3.41f, 1.68f, 1.14f, 1.14f, 0.35f},
             {kR9a, kR9a, kR9a, kR9b, kR9b, kR9b}),
    measured(903, 3, {150, -280, -240, 102, 102, 100}, {1.55f, 3.34f, 1.5f, 1.1f, 1.11f, 0.35f},
             {kR9a, kR9a, kR9a, kR9b, kR9b, kR9b}),
    measured(1001, 20, {215, -700, -536, 166, 138, 120},
             {20.64f, 36.37f, 8.41f, 4.64f, 4.64f, 0.6f},
             {39740000, 39740000, 26208990, kR5, kR5, kR5}),
};

// The TZ family's arm (elbow-offset chain, link 6 a point mass) and the PX arm's lengths and
// rotor inertias, as measured: lengths [mm], masses [kg], inertias of links 1-5 [kg mm^2], rotor
// inertias [kg mm^2].
inline const double kTzLengths[6] = {140, -420, 12, 360, 102, 100};
inline const double kTzMasses[6] = {2.26, 4.53, 1.56, 1.97, 1.56, 0.35};
inline const double kTzInertias[30] = {
    3015.96, -11.16,   -9.73,   2293.95,  83.28,   2942.66, 5693.29, 48.54,   -761.36,  173107.64,
    7.08,    171869.7, 1626.46, -2.85,    3.48,    1580.68, -61.22,  1255.31, 14803.69, -2.41,
    3.46,    2246.79,  -890.25, 14362.64, 1626.46, -2.85,   3.48,    1580.68, -61.22,   1255.31};
// Plausible TZ centres [mm], six values per link, to exercise the block's centre input (the
// torque cycle passes zeros).
inline const double kTzCentres[36] = {0, -20, 5,  0, 0, 0, 210, 0, 60, 0, 0, 0, 6, 5, 10,  0, 0, 0,
                                      0, 170, 10, 0, 0, 0, 0,   2, 15, 0, 0, 0, 1, 1, -20, 0, 0, 0};
inline const double kTzRotor[6] = {657160, 657160, 425520, 425520, 425520, 425520};
inline const double kPxLengths[6] = {180, -700, -586, 211, 114, 106};
inline const double kPxRotor[6] = {17472660, 17472660, 1615598, 657160, 657160, 657160};

// The measured bodies of the 5-kg arm: centres of mass [mm] and inertia tensors about them
// (Ixx, Ixy, Ixz, Iyy, Iyz, Izz [kg mm^2]) in each link's frame.
inline const float kArm5Centres[18] = {-0.19f,  -18.28f, 2.26f,  212.47f, 0.0f,   121.2f,
                                       122.62f, 0.17f,   12.59f, 0.05f,   -2.33f, 14.68f,
                                       -0.05f,  2.33f,   14.68f, 0.93f,   0.81f,  -20.05f};
inline const float kArm5Inertias[36] = {
    9383.91f,   -58.83f, -33.05f,   7742.20f, 222.87f, 9324.49f, 20604.96f, 280.19f, 2.62f,
    438994.31f, -2.68f,  435456.0f, 3575.41f, 95.7f,   224.85f,  71482.85f, 3.43f,   71119.15f,
    1625.95f,   -2.85f,  -3.47f,    1580.2f,  61.31f,  1255.26f, 1625.95f,  -2.85f,  3.47f,
    1580.2f,    -61.31f, 1255.26f,  230.09f,  0.13f,   0.98f,    230.49f,   0.85f,   359.3f};

// Base-frame gravity [m/s^2] of a mounting tilted by `tilt` about the axis at `rot` [rad].
inline void mounting_gravity(double tilt, double rot, double g[3], double g0 = 9.8) {
    g[0] = -g0 * std::cos(rot) * std::sin(tilt);
    g[1] = -g0 * std::sin(rot) * std::sin(tilt);
    g[2] = -g0 * std::cos(tilt);
}
// The same with the angles in degrees.
inline void mounting_gravity_deg(double tilt, double rot, double g[3], double g0 = 9.8) {
    mounting_gravity(tilt * kPi / 180, rot * kPi / 180, g, g0);
}

// Joints [deg], rates [deg/s], accelerations [deg/s^2], payload (mass [kg], centre [mm],
// inertia [kg mm^2]) and the gravity of a random installation [m/s^2]; every value is exact in
// single precision, so the float block and the oracle see the same inputs.
struct State {
    double q[6], qd[6], qdd[6], payload[10], gravity[3];
};

inline State random_state(Random &rng, double max_payload, bool payload_inertia) {
    const auto f = [&](double lo, double hi) { return double(float(rng.uniform(lo, hi))); };
    State s{};
    for (int i = 0; i < 6; ++i)
        s.q[i] = f(-360, 360), s.qd[i] = f(-180, 180), s.qdd[i] = f(-600, 600);
    s.payload[0] = f(0, max_payload);
    for (int k = 1; k < 4; ++k) s.payload[k] = f(-100, 100);
    const double inertia[6] = {2000, 150, -80, 3000, 60, 4000};
    for (int k = 0; k < 6; ++k) s.payload[4 + k] = payload_inertia ? inertia[k] : 0.0;
    mounting_gravity(rng.uniform(-7, 7), rng.uniform(-7, 7), s.gravity);
    for (double &g : s.gravity) g = double(float(g));
    return s;
}

inline double max_abs(const double *x, int n) {
    double m = 0;
    for (int i = 0; i < n; ++i) m = std::max(m, std::fabs(x[i]));
    return m;
}

// Body of mass m [kg], centre c [mm] and inertia about it (Ixx Ixy Ixz Iyy Iyz Izz [kg mm^2]).
template <class T>
KDL::RigidBodyInertia body(double m, const T *c, const T *I) {
    const auto i = [&](int k) { return I != nullptr ? double(I[k]) * 1e-6 : 0.0; };
    return KDL::RigidBodyInertia(m, KDL::Vector(c[0] * 1e-3, c[1] * 1e-3, c[2] * 1e-3),
                                 KDL::RotationalInertia(i(0), i(3), i(5), i(1), i(2), i(4)));
}

struct Model {
    KDL::Chain chain;
    double rotor[6];  // [kg m^2]
};

// Standard DH chain a, d [mm], twists [deg]; bodies in their link's (distal) frame; payload
// (10 values) on the flange.
template <class T>
Model dh_model(const double *a, const double *twist, const double *d, KDL::RigidBodyInertia *links,
               const T *rotor, const double *payload) {
    Model m{};
    links[5] = links[5] + body(payload[0], payload + 1, payload + 4);
    for (int i = 0; i < 6; ++i) {
        m.chain.addSegment(KDL::Segment(
            KDL::Joint(KDL::Joint::RotZ),
            KDL::Frame::DH(a[i] * 1e-3, twist[i] * kPi / 180, d[i] * 1e-3, 0), links[i]));
        m.rotor[i] = double(rotor[i]) * 1e-6;
    }
    return m;
}

inline Model standard_model(const kxmc::StandardArmParameters &p, const double *payload) {
    const double twist[6] = {90, 0, 0, 90, -90, 0};
    const double a[6] = {0, -std::fabs(p.lengths[1]), -std::fabs(p.lengths[2]), 0, 0, 0};
    const double d[6] = {p.lengths[0], 0, 0, p.lengths[3], p.lengths[4], p.lengths[5]};
    KDL::RigidBodyInertia links[6];
    for (int i = 0; i < 6; ++i) links[i] = body(p.masses[i], &p.centres[3 * i], &p.inertias[6 * i]);
    return dh_model(a, twist, d, links, p.rotor, payload);
}

// The same with the arm's measured lengths, masses and rotor inertias, and the bodies' centres
// and inertias of the parameter set.
inline Model standard_model(const SetCase &measured, const kxmc::StandardArmParameters &p,
                            const double *payload) {
    kxmc::StandardArmParameters q = p;
    std::copy(measured.lengths, measured.lengths + 6, q.lengths);
    std::copy(measured.masses, measured.masses + 6, q.masses);
    std::copy(measured.rotor, measured.rotor + 6, q.rotor);
    return standard_model(q, payload);
}

struct Dynamics {
    double tau[6], M[36], C[36], G[6];
};

// Everything in the blocks' units: joints [deg], rates [deg/s], accelerations [deg/s^2].
inline Dynamics kdl_dynamics(const Model &m, const double *q, const double *qd, const double *qdd,
                             const double *g) {
    const KDL::Vector gravity(g[0], g[1], g[2]);
    KDL::ChainIdSolver_RNE rne(m.chain, gravity);
    KDL::ChainDynParam dyn(m.chain, gravity);
    KDL::JntArray jq(6), jqd(6), jqdd(6), tau(6), grav(6);
    for (int i = 0; i < 6; ++i)
        jq(i) = q[i] * kBlockDeg, jqd(i) = qd[i] * kBlockDeg, jqdd(i) = qdd[i] * kBlockDeg;
    KDL::Wrenches none(6, KDL::Wrench::Zero());
    KDL::JntSpaceInertiaMatrix H(6);
    EXPECT_GE(rne.CartToJnt(jq, jqd, jqdd, none, tau), 0);
    EXPECT_GE(dyn.JntToGravity(jq, grav), 0);
    Dynamics r{};
    // dM/dq_k by central differences, then
    // C_ij = sum_k (dM_ij/dq_k + dM_ik/dq_j - dM_jk/dq_i) qd_k / 2.
    const double h = 1e-5;  // [rad]
    double dM[6][36];
    for (int k = 0; k < 6; ++k) {
        KDL::JntArray t = jq;
        t(k) += h;
        dyn.JntToMass(t, H);
        for (int e = 0; e < 36; ++e) dM[k][e] = H(e / 6, e % 6) / (2 * h);
        t(k) -= 2 * h;
        dyn.JntToMass(t, H);
        for (int e = 0; e < 36; ++e) dM[k][e] -= H(e / 6, e % 6) / (2 * h);
    }
    EXPECT_GE(dyn.JntToMass(jq, H), 0);
    for (int i = 0; i < 6; ++i) {
        r.tau[i] = tau(i) + m.rotor[i] * jqdd(i);
        r.G[i] = grav(i);
        for (int j = 0; j < 6; ++j) {
            r.M[6 * i + j] = H(i, j) + (i == j ? m.rotor[i] : 0.0);
            for (int k = 0; k < 6; ++k)
                r.C[6 * i + j] +=
                    0.5 * (dM[k][6 * i + j] + dM[j][6 * i + k] - dM[i][6 * j + k]) * jqd(k);
        }
    }
    return r;
}

// Holding torque [N m] of the standard set of `code` with a point payload of `mass` [kg] at
// `centre` [mm] on the flange, at q [deg], under gravity g0 of the mounting angles [deg].
inline void static_gravity(uint32_t code, double mass, const double centre[3], double tilt,
                           double rot, double g0, const double q[6], double out[6]) {
    const double payload[10] = {mass, centre[0], centre[1], centre[2]};
    const double rest[6] = {};
    double g[3];
    mounting_gravity_deg(tilt, rot, g, g0);
    const Model m = standard_model(kxmc::standard_arm_parameters(code), payload);
    const Dynamics k = kdl_dynamics(m, q, rest, rest, g);
    std::copy(k.G, k.G + 6, out);
}

}  // namespace kxtest
