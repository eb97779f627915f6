// Independent references for the gravity tests: the potential energy of the 5-kg arm's standard
// chain differentiated exactly (dual numbers), and the payload's holding torque from a finite-difference
// derivative of the simulated host's flange kinematics.
#pragma once

#include <array>
#include <cmath>

#include "kxsimhost.hpp"

namespace gravity_ref {

using Vec6 = std::array<double, 6>;
constexpr double kPi = 3.14159265358979323846;
constexpr double kModelDegree = 0.017453292;  // degree factor of the dynamics model [rad/deg]

// Gravity of the base frame for installation angles [deg] (floor (0, 0, -9.8)).
inline std::array<double, 3> gravity(double tilt_deg, double rot_deg) {
    const double t = tilt_deg * kPi / 180.0, r = rot_deg * kPi / 180.0;
    return {-9.8 * std::cos(r) * std::sin(t), -9.8 * std::sin(r) * std::sin(t), -9.8 * std::cos(t)};
}

// The measured 5-kg arm (model codes 0, 101-200 and codes without a set of their own). The
// model stores its parameters in single precision; masses and centres are rounded the same way.
struct Arm {
    double d[6];        // [m]
    double a[6];        // [m]
    double alpha[6];    // [rad]
    double mass[6];     // [kg]
    double com[6][3];   // [m] in the link's own (distal) frame
};
inline Arm five_kg_arm() {
    static const float mass[6] = {4.64f, 10.08f, 2.71f, 1.56f, 1.56f, 0.36f};
    static const float com_mm[6][3] = {{-0.19f, -18.28f, 2.26f}, {212.47f, 0.0f, 121.2f},
                                       {122.62f, 0.17f, 12.59f}, {0.05f, -2.33f, 14.68f},
                                       {-0.05f, 2.33f, 14.68f},  {0.93f, 0.81f, -20.05f}};
    Arm arm = {{0.152, 0, 0, 0.102, 0.102, 0.100},
               {0, -0.425, -0.395, 0, 0, 0},
               {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0},
               {},
               {}};
    for (int i = 0; i < 6; ++i) {
        arm.mass[i] = static_cast<double>(mass[i]);
        for (int k = 0; k < 3; ++k) arm.com[i][k] = static_cast<double>(com_mm[i][k]) * 1e-3;
    }
    return arm;
}

// Forward-mode dual number: value and derivative along one joint angle, exact to rounding.
struct Dual {
    double v, d;
    Dual(double value = 0.0, double deriv = 0.0) : v(value), d(deriv) {}
};
inline Dual operator+(Dual a, Dual b) { return {a.v + b.v, a.d + b.d}; }
inline Dual operator-(Dual a, Dual b) { return {a.v - b.v, a.d - b.d}; }
inline Dual operator-(Dual a) { return {-a.v, -a.d}; }
inline Dual operator*(Dual a, Dual b) { return {a.v * b.v, a.d * b.v + a.v * b.d}; }
inline Dual operator*(double a, Dual b) { return {a * b.v, a * b.d}; }
inline Dual operator*(Dual a, double b) { return {a.v * b, a.d * b}; }
inline Dual &operator+=(Dual &a, Dual b) { return a = a + b; }
inline Dual &operator-=(Dual &a, Dual b) { return a = a - b; }
inline Dual cos(Dual a) { return {std::cos(a.v), -std::sin(a.v) * a.d}; }
inline Dual sin(Dual a) { return {std::sin(a.v), std::cos(a.v) * a.d}; }
using std::cos;
using std::sin;

// Potential energy [J] of arm plus payload (mass [kg], centre [m] in the flange frame) in
// gravity g, as a function of the joint angles theta [rad].
template <class T>
T potential(const Arm &arm, const T theta[6], double load_mass, const double load_com[3],
            const std::array<double, 3> &g) {
    T R[3][3] = {{T(1), T(0), T(0)}, {T(0), T(1), T(0)}, {T(0), T(0), T(1)}};
    T o[3] = {T(0), T(0), T(0)};
    T V = T(0);
    for (int i = 0; i < 6; ++i) {
        const T ct = cos(theta[i]), st = sin(theta[i]);
        const double ca = std::cos(arm.alpha[i]), sa = std::sin(arm.alpha[i]);
        const T A[3][3] = {{ct, -st * ca, st * sa}, {st, ct * ca, -ct * sa}, {T(0), T(sa), T(ca)}};
        const T p[3] = {arm.a[i] * ct, arm.a[i] * st, T(arm.d[i])};
        T Rn[3][3];
        for (int r = 0; r < 3; ++r) {
            o[r] += R[r][0] * p[0] + R[r][1] * p[1] + R[r][2] * p[2];
        }
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) Rn[r][c] = R[r][0] * A[0][c] + R[r][1] * A[1][c] + R[r][2] * A[2][c];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) R[r][c] = Rn[r][c];
        auto add_mass = [&](double m, const double c[3]) {
            for (int r = 0; r < 3; ++r) {
                const T pos = o[r] + R[r][0] * c[0] + R[r][1] * c[1] + R[r][2] * c[2];
                V -= m * g[r] * pos;
            }
        };
        add_mass(arm.mass[i], arm.com[i]);
        if (i == 5) {
            add_mass(load_mass, load_com);
        }
    }
    return V;
}

// Holding torque dV/dtheta [N m] by forward differentiation of the potential energy at joints
// q [deg], with the model's degree factor.
inline Vec6 gravity_torque(const Arm &arm, const double q_deg[6], double load_mass,
                           const double load_com_mm[3], const std::array<double, 3> &g) {
    const double c[3] = {load_com_mm[0] * 1e-3, load_com_mm[1] * 1e-3, load_com_mm[2] * 1e-3};
    Vec6 tau{};
    for (int j = 0; j < 6; ++j) {
        Dual th[6];
        for (int i = 0; i < 6; ++i) th[i] = Dual(q_deg[i] * kModelDegree, i == j ? 1.0 : 0.0);
        tau[j] = potential(arm, th, load_mass, c, g).d;
    }
    return tau;
}

// Position [m] of a point c [mm] of the flange frame for joints q [deg], from the simulated
// host's kinematics of mcb.robotModelCode.
inline std::array<double, 3> flange_point(const double q_deg[6], const double c_mm[3]) {
    const Trsf T = kxsim::flange_transform(q_deg);
    std::array<double, 3> p{};
    for (int r = 0; r < 3; ++r) {
        p[r] = (T.pos.v[r] + T.rot.r[3 * r] * c_mm[0] + T.rot.r[3 * r + 1] * c_mm[1] +
                T.rot.r[3 * r + 2] * c_mm[2]) * 1e-3;
    }
    return p;
}

// Holding torque of a point mass at c [mm] (flange frame): tau_j = -m g . dp/dtheta_j, with
// dp/dtheta from a fourth-order central difference of the host's flange kinematics.
// rad_per_deg: the degree factor of the routine under test (exact, or the model's).
inline Vec6 point_load_torque(const double q_deg[6], const double c_mm[3], double mass,
                              const std::array<double, 3> &g, double rad_per_deg = kPi / 180.0) {
    const double h = 1e-3;  // [rad]
    Vec6 tau{};
    for (int j = 0; j < 6; ++j) {
        std::array<double, 3> p[4];
        const double steps[4] = {-2 * h, -h, h, 2 * h};
        for (int k = 0; k < 4; ++k) {
            double q[6];
            for (int i = 0; i < 6; ++i) q[i] = q_deg[i] * rad_per_deg * 180.0 / kPi;
            q[j] += steps[k] * 180.0 / kPi;
            p[k] = flange_point(q, c_mm);
        }
        double t = 0.0;
        for (int r = 0; r < 3; ++r) {
            const double dp = (p[0][r] - 8 * p[1][r] + 8 * p[2][r] - p[3][r]) / (12 * h);
            t -= mass * g[r] * dp;
        }
        tau[j] = t;
    }
    return tau;
}

}  // namespace gravity_ref
