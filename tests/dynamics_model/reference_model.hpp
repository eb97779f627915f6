// Independent double-precision model of a serial arm for checking the dynamics blocks.
//
// Built from first principles, not from the library's recursions: forward kinematics by 4x4
// homogeneous DH products, the potential energy of the link centres, the mass matrix from the
// link Jacobians (M = sum m Jv^T Jv + Jw^T R I R^T Jw), the Christoffel Coriolis matrix and the
// gravity torque from finite differences of M and of the potential energy, and
// tau = M qdd + C qd + G by Lagrange's equations.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dynamics/arm_parameters.hpp"

namespace kxtest {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBlockDeg = 0.017453292;  // the blocks' degree-to-radian factor

using Vec6 = std::array<double, 6>;
using Mat6 = std::array<double, 36>;

struct Body {
    int frame;          // DH frame the body is fixed to, 1..6
    double m;           // [kg]
    double c[3];        // centre in that frame [m]
    double I[6];        // Ixx Ixy Ixz Iyy Iyz Izz about the centre, frame axes [kg m^2]
};

struct RefArm {
    double a[6], alpha[6], d[6];  // [m], [rad], [m]
    std::vector<Body> bodies;
    double rotor[6] = {0, 0, 0, 0, 0, 0};  // [kg m^2]
};

struct Frames {
    double T[7][16];  // frame i in the base, row-major 4x4; T[0] = identity
};

inline Frames forward(const RefArm &arm, const double *theta) {
    Frames f{};
    for (int k = 0; k < 16; ++k) {
        f.T[0][k] = (k % 5 == 0) ? 1.0 : 0.0;
    }
    for (int i = 0; i < 6; ++i) {
        const double ct = std::cos(theta[i]), st = std::sin(theta[i]);
        const double ca = std::cos(arm.alpha[i]), sa = std::sin(arm.alpha[i]);
        const double A[16] = {ct, -st * ca, st * sa, arm.a[i] * ct, st, ct * ca, -ct * sa,
                              arm.a[i] * st, 0, sa, ca, arm.d[i], 0, 0, 0, 1};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                double s = 0;
                for (int k = 0; k < 4; ++k) {
                    s += f.T[i][4 * r + k] * A[4 * k + c];
                }
                f.T[i + 1][4 * r + c] = s;
            }
        }
    }
    return f;
}

inline void body_centre(const Frames &f, const Body &b, double p[3]) {
    const double *T = f.T[b.frame];
    for (int r = 0; r < 3; ++r) {
        p[r] = T[4 * r + 3] + T[4 * r] * b.c[0] + T[4 * r + 1] * b.c[1] + T[4 * r + 2] * b.c[2];
    }
}

inline double potential(const RefArm &arm, const double *theta, const double *g) {
    const Frames f = forward(arm, theta);
    double V = 0;
    for (const Body &b : arm.bodies) {
        double p[3];
        body_centre(f, b, p);
        V -= b.m * (g[0] * p[0] + g[1] * p[1] + g[2] * p[2]);
    }
    return V;
}

// Rigid-body mass matrix from the body Jacobians (rotor inertias added when asked).
inline Mat6 mass_matrix(const RefArm &arm, const double *theta, bool with_rotor = false) {
    const Frames f = forward(arm, theta);
    Mat6 M{};
    for (const Body &b : arm.bodies) {
        double p[3];
        body_centre(f, b, p);
        double Jv[6][3] = {}, Jw[6][3] = {};
        for (int j = 0; j < b.frame; ++j) {
            const double z[3] = {f.T[j][2], f.T[j][6], f.T[j][10]};
            const double r[3] = {p[0] - f.T[j][3], p[1] - f.T[j][7], p[2] - f.T[j][11]};
            Jv[j][0] = z[1] * r[2] - z[2] * r[1];
            Jv[j][1] = z[2] * r[0] - z[0] * r[2];
            Jv[j][2] = z[0] * r[1] - z[1] * r[0];
            for (int k = 0; k < 3; ++k) Jw[j][k] = z[k];
        }
        const double *R = f.T[b.frame];
        const double Il[9] = {b.I[0], b.I[1], b.I[2], b.I[1], b.I[3], b.I[4], b.I[2], b.I[4], b.I[5]};
        double Iw[9];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                double s = 0;
                for (int k = 0; k < 3; ++k)
                    for (int t = 0; t < 3; ++t) s += R[4 * r + k] * Il[3 * k + t] * R[4 * c + t];
                Iw[3 * r + c] = s;
            }
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 6; ++j) {
                double s = b.m * (Jv[i][0] * Jv[j][0] + Jv[i][1] * Jv[j][1] + Jv[i][2] * Jv[j][2]);
                for (int r = 0; r < 3; ++r)
                    for (int c = 0; c < 3; ++c) s += Jw[i][r] * Iw[3 * r + c] * Jw[j][c];
                M[6 * i + j] += s;
            }
    }
    if (with_rotor) {
        for (int i = 0; i < 6; ++i) M[7 * i] += arm.rotor[i];
    }
    return M;
}

// dM/dtheta_k by a fourth-order central difference.
inline std::array<Mat6, 6> mass_matrix_gradient(const RefArm &arm, const double *theta) {
    std::array<Mat6, 6> dM{};
    const double h = 1e-3;
    for (int k = 0; k < 6; ++k) {
        double t[6];
        Mat6 Ms[4];
        const double steps[4] = {-2 * h, -h, h, 2 * h};
        for (int s = 0; s < 4; ++s) {
            for (int i = 0; i < 6; ++i) t[i] = theta[i];
            t[k] += steps[s];
            Ms[s] = mass_matrix(arm, t);
        }
        for (int e = 0; e < 36; ++e)
            dM[k][e] = (Ms[0][e] - 8 * Ms[1][e] + 8 * Ms[2][e] - Ms[3][e]) / (12 * h);
    }
    return dM;
}

// Coriolis matrix of the Christoffel symbols of the first kind, joint rates in rad/s.
inline Mat6 christoffel_coriolis(const RefArm &arm, const double *theta, const double *rate) {
    const auto dM = mass_matrix_gradient(arm, theta);
    Mat6 C{};
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j) {
            double s = 0;
            for (int k = 0; k < 6; ++k)
                s += 0.5 * (dM[k][6 * i + j] + dM[j][6 * i + k] - dM[i][6 * j + k]) * rate[k];
            C[6 * i + j] = s;
        }
    return C;
}

// Gradient of the potential energy: the torque that holds the arm against g [N m].
inline Vec6 gravity_torque(const RefArm &arm, const double *theta, const double *g) {
    Vec6 G{};
    const double h = 1e-3;
    for (int k = 0; k < 6; ++k) {
        double t[6];
        double V[4];
        const double steps[4] = {-2 * h, -h, h, 2 * h};
        for (int s = 0; s < 4; ++s) {
            for (int i = 0; i < 6; ++i) t[i] = theta[i];
            t[k] += steps[s];
            V[s] = potential(arm, t, g);
        }
        G[k] = (V[0] - 8 * V[1] + 8 * V[2] - V[3]) / (12 * h);
    }
    return G;
}

// Lagrange's equations: tau = M qdd + C qd + G, rates in rad/s and rad/s^2, rotors included.
inline Vec6 lagrange_torque(const RefArm &arm, const double *theta, const double *rate,
                            const double *accel, const double *g) {
    const Mat6 M = mass_matrix(arm, theta, true);
    const Mat6 C = christoffel_coriolis(arm, theta, rate);
    const Vec6 G = gravity_torque(arm, theta, g);
    Vec6 tau{};
    for (int i = 0; i < 6; ++i) {
        double s = G[i];
        for (int j = 0; j < 6; ++j) s += M[6 * i + j] * accel[j] + C[6 * i + j] * rate[j];
        tau[i] = s;
    }
    return tau;
}

// The standard chain (twists 90, 0, 0, 90, -90, 0) with a parameter set in the block's units
// and a payload (mass [kg], centre [mm], inertia [kg mm^2]) fixed to the flange frame.
template <class T>
inline RefArm standard_arm(const T *lengths, const T *masses, const T *centres, const T *inertias,
                           const T *rotor, const T *payload) {
    RefArm arm{};
    const double twist[6] = {90, 0, 0, 90, -90, 0};
    const double L[6] = {double(lengths[0]), double(lengths[1]), double(lengths[2]),
                         double(lengths[3]), double(lengths[4]), double(lengths[5])};
    const double a[6] = {0, -std::fabs(L[1]), -std::fabs(L[2]), 0, 0, 0};
    const double d[6] = {L[0], 0, 0, L[3], L[4], L[5]};
    for (int i = 0; i < 6; ++i) {
        arm.a[i] = a[i] * 1e-3;
        arm.d[i] = d[i] * 1e-3;
        arm.alpha[i] = twist[i] * kPi / 180;
        Body b{i + 1, double(masses[i]), {}, {}};
        for (int k = 0; k < 3; ++k) b.c[k] = double(centres[3 * i + k]) * 1e-3;
        for (int k = 0; k < 6; ++k) b.I[k] = inertias != nullptr ? double(inertias[6 * i + k]) * 1e-6 : 0.0;
        arm.bodies.push_back(b);
        arm.rotor[i] = rotor != nullptr ? double(rotor[i]) * 1e-6 : 0.0;
    }
    if (payload != nullptr) {
        Body p{6, double(payload[0]), {}, {}};
        for (int k = 0; k < 3; ++k) p.c[k] = double(payload[1 + k]) * 1e-3;
        for (int k = 0; k < 6; ++k) p.I[k] = double(payload[4 + k]) * 1e-6;
        arm.bodies.push_back(p);
    }
    return arm;
}

// Seeded, platform-independent uniform numbers.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 2862933555777941757ULL + 3037000493ULL) {}
    double uniform(double lo, double hi) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return lo + (hi - lo) * (double(state_ >> 11) * (1.0 / 9007199254740992.0));
    }

private:
    uint64_t state_;
};

// Base-frame gravity of the installation angles tilt t and rotation r [deg].
inline void installation_gravity(double tilt_deg, double rot_deg, double g[3]) {
    const double t = tilt_deg * kPi / 180, r = rot_deg * kPi / 180;
    g[0] = -9.8 * std::cos(r) * std::sin(t);
    g[1] = -9.8 * std::sin(r) * std::sin(t);
    g[2] = -9.8 * std::cos(t);
}

inline double max_abs(const double *x, int n) {
    double m = 0;
    for (int i = 0; i < n; ++i) m = std::fabs(x[i]) > m ? std::fabs(x[i]) : m;
    return m;
}

}  // namespace kxtest
