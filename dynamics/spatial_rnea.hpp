// Recursive Newton-Euler inverse dynamics in 6-D spatial vectors, double precision, for the
// torque-only blocks of the TZ and PX arms. The blocks hand the three basic routines (spatial
// cross operator, matrix inverse, DH link transform; spatial_routines.hpp) in through
// SpatialRoutines; the recursion itself lives here once.
//
// Spatial vectors are linear part first: a motion vector is (v; w), a force vector (f; n), both
// in the coordinates of one link frame about that frame's origin. With this ordering the cross
// operator routine returns cross_operator6(x) = (x cross)^T = -(x cross*), so
//   motion cross product  x cross m  = cross_operator6(x)^T m
//   force cross product   x cross* f = -cross_operator6(x) f.
#pragma once

#include "dynamics/standard_chain.hpp"

namespace kxmc {
namespace detail {

struct SpatialRoutines {
    // Row-major 6x6 [[-S(b), 0], [-S(a), -S(b)]] of x = (a; b).
    void (*cross_operator6)(const double *x, double *out);
    // General inverse of a row-major n x n matrix; returns 0, or -1 when singular.
    int (*inverse)(const double *a, int n, double *out);
    // Standard DH link transform, p = (d, a, alpha) [m, rad], 4x4 stored column by column.
    void (*dh_transform)(const double *p, double theta, double *out);
};

// Serial chain of six revolute joints with standard DH links and rigid bodies in link frames.
struct SpatialChain {
    double d[kChainJoints];      // [m]
    double a[kChainJoints];      // [m]
    double alpha[kChainJoints];  // [rad]
    double mass[kChainJoints];   // [kg]
    double com[kChainJoints][3];       // centre of mass in the link frame [m]
    double inertia[kChainJoints][6];   // Ixx Ixy Ixz Iyy Iyz Izz about the centre [kg m^2]
    double rotor[kChainJoints];        // reflected rotor inertia [kg m^2]
};

// Adds a body (mass m, centre c, inertia I6 about c) to the 6x6 linear-first spatial inertia
// about the frame origin: [[m 1, -m S(c)], [m S(c), Ic + m S(c) S(c)^T]].
inline void add_body_inertia(double m, const double c[3], const double I6[6], double out[36]) {
    const double S[9] = {0, -c[2], c[1], c[2], 0, -c[0], -c[1], c[0], 0};
    const double Ic[9] = {I6[0], I6[1], I6[2], I6[1], I6[3], I6[4], I6[2], I6[4], I6[5]};
    for (int r = 0; r < 3; ++r) {
        out[6 * r + r] += m;
        for (int k = 0; k < 3; ++k) {
            out[6 * r + 3 + k] -= m * S[3 * r + k];
            out[6 * (3 + r) + k] += m * S[3 * r + k];
            double ss = 0;
            for (int t = 0; t < 3; ++t) {
                ss += S[3 * r + t] * S[3 * k + t];  // S S^T
            }
            out[6 * (3 + r) + 3 + k] += Ic[3 * r + k] + m * ss;
        }
    }
}

inline void mat6_vec(const double A[36], const double x[6], double y[6]) {
    for (int r = 0; r < 6; ++r) {
        double s = 0;
        for (int k = 0; k < 6; ++k) {
            s += A[6 * r + k] * x[k];
        }
        y[r] = s;
    }
}

inline void mat6t_vec(const double A[36], const double x[6], double y[6]) {
    for (int r = 0; r < 6; ++r) {
        double s = 0;
        for (int k = 0; k < 6; ++k) {
            s += A[6 * k + r] * x[k];
        }
        y[r] = s;
    }
}

// Joint torques [N m] for q, qd, qdd [deg, deg/s, deg/s^2], payload (mass [kg], centre [mm],
// inertia [kg mm^2], merged into link 6) and base-frame gravity [m/s^2].
inline void spatial_rnea(const SpatialChain &chain, const SpatialRoutines &fn, const double *q,
                         const double *qd, const double *qdd, const double *payload,
                         const double *gravity, double *tau) {
    constexpr int n = kChainJoints;
    double X[n][36];      // motion transform from frame i-1 to frame i
    double s[n][6];       // joint axis in frame i
    double f[n][6];       // force on link i from link i-1, frame i
    double v[6] = {0, 0, 0, 0, 0, 0};
    double acc[6] = {-gravity[0], -gravity[1], -gravity[2], 0, 0, 0};  // base moves up at -g

    for (int i = 0; i < n; ++i) {
        const double p[3] = {chain.d[i], chain.a[i], chain.alpha[i]};
        double T[16];
        double Tinv[16];
        fn.dh_transform(p, q[i] * kDegToRadBlock, T);
        if (fn.inverse(T, 4, Tinv) != 0) {
            for (int k = 0; k < 16; ++k) {
                Tinv[k] = (k % 5 == 0) ? 1.0 : 0.0;
            }
        }
        // Column-major 4x4: element (row r, column c) at [4 c + r]. Tinv = [R^T, t].
        double Rt[9];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                Rt[3 * r + c] = Tinv[4 * c + r];
            }
        }
        const double t[3] = {Tinv[12], Tinv[13], Tinv[14]};
        const double St[9] = {0, -t[2], t[1], t[2], 0, -t[0], -t[1], t[0], 0};
        double *Xi = X[i];
        for (int k = 0; k < 36; ++k) {
            Xi[k] = 0;
        }
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                Xi[6 * r + c] = Rt[3 * r + c];
                Xi[6 * (3 + r) + 3 + c] = Rt[3 * r + c];
                double m = 0;
                for (int k = 0; k < 3; ++k) {
                    m += St[3 * r + k] * Rt[3 * k + c];
                }
                Xi[6 * r + 3 + c] = m;
            }
        }
        const double unit_z[6] = {0, 0, 0, 0, 0, 1};
        mat6_vec(Xi, unit_z, s[i]);

        const double rate = qd[i] * kDegToRadBlock;
        const double accel = qdd[i] * kDegToRadBlock;
        double vn[6];
        double an[6];
        mat6_vec(Xi, v, vn);
        mat6_vec(Xi, acc, an);
        for (int k = 0; k < 6; ++k) {
            vn[k] += s[i][k] * rate;
        }
        // a_i = X a_{i-1} + s qdd + v_i x (s qd)
        double cr[36];
        fn.cross_operator6(vn, cr);
        double sq[6];
        for (int k = 0; k < 6; ++k) {
            sq[k] = s[i][k] * rate;
        }
        double vxs[6];
        mat6t_vec(cr, sq, vxs);
        for (int k = 0; k < 6; ++k) {
            an[k] += s[i][k] * accel + vxs[k];
            v[k] = vn[k];
            acc[k] = an[k];
        }

        // Link inertia, with the payload on link 6.
        double I[36] = {};
        add_body_inertia(chain.mass[i], chain.com[i], chain.inertia[i], I);
        if (i == n - 1) {
            const double cp[3] = {payload[1] * 0.001, payload[2] * 0.001, payload[3] * 0.001};
            double Ip[6];
            for (int k = 0; k < 6; ++k) {
                Ip[k] = payload[4 + k] * 0.000001;
            }
            add_body_inertia(payload[0], cp, Ip, I);
        }
        // f_i = I a_i + v_i x* (I v_i) = I a_i - cross_operator6(v_i) I v_i
        double Ia[6];
        double Iv[6];
        double bias[6];
        mat6_vec(I, acc, Ia);
        mat6_vec(I, v, Iv);
        mat6_vec(cr, Iv, bias);
        for (int k = 0; k < 6; ++k) {
            f[i][k] = Ia[k] - bias[k];
        }
    }

    for (int i = n - 1; i >= 0; --i) {
        tau[i] = chain.rotor[i] * qdd[i] * kDegToRadBlock;
        for (int k = 0; k < 6; ++k) {
            tau[i] += s[i][k] * f[i][k];
        }
        if (i > 0) {
            double back[6];
            mat6t_vec(X[i], f[i], back);
            for (int k = 0; k < 6; ++k) {
                f[i - 1][k] += back[k];
            }
        }
    }
}

}  // namespace detail
}  // namespace kxmc
