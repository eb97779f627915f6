// Joint-space dynamics of the standard arm chain: mass matrix, Coriolis matrix and gravity
// torque in one O(n^2) pass, for single (the per-cycle block) and double precision.
//
// Everything is expressed in the base frame with Plucker coordinates about the base origin,
// angular part first. Joint j's motion axis is s_j = (z_j; o_j x z_j), with z_j and o_j the axis
// and origin of DH frame j (joint j turns frame j+1 about frame j's z). Body k (link k+1, frame
// k+1) carries the spatial inertia I_k = [[J_k, [h_k]x], [-[h_k]x, m_k]] about the base origin
// (J_k rotational inertia about the origin, h_k = m_k c_k first moment).
//
// With composite inertias I^C_j = sum_{k>=j} I_k:
//   M_ij = s_i . I^C_j s_j                            (i <= j)
//   C_ij = s_i . (I^C_m sdot_j + B^C_m s_j)            m = max(i, j)
//   G_j  = s_j . I^C_j (0; -g)
// where sdot_j = v_j x s_j and B_k = 1/2 [(v_k x*) I_k - I_k (v_k x) + (I_k v_k) xbar] is the
// body Coriolis matrix (v_k the spatial velocity of body k; f xbar v := v x* f). This
// factorisation is the one given by the Christoffel symbols of M, so that Mdot - 2C is
// skew-symmetric and C qdot is the Coriolis and centrifugal torque. In Plucker coordinates
// about the origin B_k has the block form [[B11, 0], [-[b]x, 0]] with
//   B11 = 1/2 (W J + (W J)^T - u h^T - h u^T + 2 (u . h) 1 - [J w + h x u]x),  b = w x h + m u,
// for v_k = (w; u) and W = [w]x, so composites of B need only 9 + 3 numbers per body.
#pragma once

#include <cmath>

#include "dynamics/standard_chain.hpp"

namespace kxmc {
namespace detail {

template <class T>
struct Vec3 {
    T x, y, z;
};

template <class T>
inline Vec3<T> cross(const Vec3<T> &a, const Vec3<T> &b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <class T>
inline T dot(const Vec3<T> &a, const Vec3<T> &b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
template <class T>
inline Vec3<T> operator+(const Vec3<T> &a, const Vec3<T> &b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
template <class T>
inline Vec3<T> operator-(const Vec3<T> &a, const Vec3<T> &b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
template <class T>
inline Vec3<T> operator*(T s, const Vec3<T> &a) {
    return {s * a.x, s * a.y, s * a.z};
}

// 3x3 matrix, row-major.
template <class T>
struct Mat3 {
    T m[9];
};
template <class T>
inline Vec3<T> mul(const Mat3<T> &A, const Vec3<T> &v) {
    return {A.m[0] * v.x + A.m[1] * v.y + A.m[2] * v.z, A.m[3] * v.x + A.m[4] * v.y + A.m[5] * v.z,
            A.m[6] * v.x + A.m[7] * v.y + A.m[8] * v.z};
}
template <class T>
inline Vec3<T> mul_transposed(const Mat3<T> &A, const Vec3<T> &v) {
    return {A.m[0] * v.x + A.m[3] * v.y + A.m[6] * v.z, A.m[1] * v.x + A.m[4] * v.y + A.m[7] * v.z,
            A.m[2] * v.x + A.m[5] * v.y + A.m[8] * v.z};
}

// Inputs of the standard chain model in the block's units.
template <class T>
struct StandardModelInput {
    const T *lengths;   // d1, a2, a3, d4, d5, d6 [mm]
    const T *q;         // [deg]
    const T *qd;        // [deg/s]
    const T *qdd;       // [deg/s^2]; may be null (treated as zero)
    const T *payload;   // mass [kg], centre x, y, z [mm, flange], Ixx Ixy Ixz Iyy Iyz Izz [kg mm^2]
    const T *masses;    // [kg]
    const T *centres;   // 18 [mm], link frames
    const T *inertias;  // 36 [kg mm^2], about the centres, link-frame axes
    const T *rotor;     // 6 [kg mm^2]
    const T *gravity;   // 3 [m/s^2], base frame
};

// The chain's bodies in base axes about the base origin, with the joint motion axes and the
// body velocities: what every back end below builds on.
template <class T>
struct ChainBodies {
    Vec3<T> z[kChainJoints];     // joint axes
    Vec3<T> l[kChainJoints];     // o_j x z_j
    Vec3<T> sd_a[kChainJoints];  // sdot_j, angular part
    Vec3<T> sd_l[kChainJoints];  // sdot_j, linear part
    Vec3<T> w[kChainJoints];     // body angular velocity [rad/s]
    Vec3<T> u[kChainJoints];     // velocity of the body point at the base origin [m/s]
    T m[kChainJoints];           // body masses (the payload rides on the last)
    Vec3<T> h[kChainJoints];     // body first moments about the base origin
    T J[kChainJoints][6];  // body rotational inertias about the base origin (xx xy xz yy yz zz)
};

template <class T>
inline ChainBodies<T> chain_bodies(const StandardModelInput<T> &in) {
    constexpr int n = kChainJoints;
    const T deg = static_cast<T>(kDegToRadBlock);
    const T mm = static_cast<T>(0.001);
    const T mm2 = static_cast<T>(0.000001);
    const auto chain = chain_lengths<T>(in.lengths);
    ChainBodies<T> b{};

    // Axes of frame i in the base (the columns of its rotation) and its origin.
    Vec3<T> ax = {1, 0, 0};
    Vec3<T> ay = {0, 1, 0};
    Vec3<T> az = {0, 0, 1};
    Vec3<T> o = {0, 0, 0};
    Vec3<T> w = {0, 0, 0};
    Vec3<T> u = {0, 0, 0};

    for (int i = 0; i < n; ++i) {
        b.z[i] = az;
        b.l[i] = cross(o, b.z[i]);
        const T qdi = in.qd[i] * deg;
        w = w + qdi * b.z[i];
        u = u + qdi * b.l[i];
        b.w[i] = w;
        b.u[i] = u;
        b.sd_a[i] = cross(w, b.z[i]);
        b.sd_l[i] = cross(u, b.z[i]) + cross(w, b.l[i]);

        // Frame i+1: Rz(theta) Tz(d) Tx(a) Rx(alpha) of frame i. The twists are 0 or +-90
        // degrees, so Rx(alpha) only renames axes: z' = cos(alpha) z - sin(alpha) n and
        // y' = cos(alpha) n + sin(alpha) z with n the turned y axis, taken without multiplying.
        const T theta = in.q[i] * deg;
        const T ct = static_cast<T>(std::cos(theta));
        const T st = static_cast<T>(std::sin(theta));
        const Vec3<T> x_new = ct * ax + st * ay;
        const Vec3<T> normal = ct * ay - st * ax;
        o = o + chain.a[i] * x_new + chain.d[i] * az;
        if (kTwistSin[i] > 0) {
            ay = az;
            az = Vec3<T>{-normal.x, -normal.y, -normal.z};
        } else if (kTwistSin[i] < 0) {
            ay = Vec3<T>{-az.x, -az.y, -az.z};
            az = normal;
        } else {
            ay = normal;
        }
        ax = x_new;

        // Body in its own frame about the frame origin: mass, first moment, rotational inertia.
        T m = in.masses[i];
        Vec3<T> hl =
            (m * mm) * Vec3<T>{in.centres[3 * i], in.centres[3 * i + 1], in.centres[3 * i + 2]};
        T Jl[6];
        const T *ic = &in.inertias[6 * i];
        for (int k = 0; k < 6; ++k) {
            Jl[k] = ic[k] * mm2;
        }
        auto add_point_mass = [&Jl](T mass_k, const Vec3<T> &c) {
            // mass_k (|c|^2 1 - c c^T)
            Jl[0] += mass_k * (c.y * c.y + c.z * c.z);
            Jl[1] -= mass_k * c.x * c.y;
            Jl[2] -= mass_k * c.x * c.z;
            Jl[3] += mass_k * (c.x * c.x + c.z * c.z);
            Jl[4] -= mass_k * c.y * c.z;
            Jl[5] += mass_k * (c.x * c.x + c.y * c.y);
        };
        add_point_mass(
            m, mm * Vec3<T>{in.centres[3 * i], in.centres[3 * i + 1], in.centres[3 * i + 2]});
        if (i == n - 1) {
            const T mp = in.payload[0];
            const Vec3<T> cp = mm * Vec3<T>{in.payload[1], in.payload[2], in.payload[3]};
            for (int k = 0; k < 6; ++k) {
                Jl[k] += in.payload[4 + k] * mm2;
            }
            add_point_mass(mp, cp);
            m += mp;
            hl = hl + mp * cp;
        }
        // Rotate into the base axes: J = R Jl R^T, first moment about the frame origin. Row k of
        // R holds component k of the three axes.
        const Mat3<T> Js = {{Jl[0], Jl[1], Jl[2], Jl[1], Jl[3], Jl[4], Jl[2], Jl[4], Jl[5]}};
        const Vec3<T> row0 = {ax.x, ay.x, az.x};
        const Vec3<T> row1 = {ax.y, ay.y, az.y};
        const Vec3<T> row2 = {ax.z, ay.z, az.z};
        const Vec3<T> t0 = mul(Js, row0);
        const Vec3<T> t1 = mul(Js, row1);
        const Vec3<T> t2 = mul(Js, row2);
        const T Jw[6] = {dot(row0, t0), dot(row0, t1), dot(row0, t2),
                         dot(row1, t1), dot(row1, t2), dot(row2, t2)};
        const Vec3<T> hr = hl.x * ax + hl.y * ay + hl.z * az;
        // Shift from the frame origin p (= o) to the base origin:
        // J_O = J_p + (2 hr.p + m |p|^2) 1 - (hr p^T + p hr^T + m p p^T).
        const Vec3<T> &p = o;
        const T diag = 2 * dot(hr, p) + m * dot(p, p);
        b.J[i][0] = Jw[0] + diag - (2 * hr.x * p.x + m * p.x * p.x);
        b.J[i][1] = Jw[1] - (hr.x * p.y + p.x * hr.y + m * p.x * p.y);
        b.J[i][2] = Jw[2] - (hr.x * p.z + p.x * hr.z + m * p.x * p.z);
        b.J[i][3] = Jw[3] + diag - (2 * hr.y * p.y + m * p.y * p.y);
        b.J[i][4] = Jw[4] - (hr.y * p.z + p.y * hr.z + m * p.y * p.z);
        b.J[i][5] = Jw[5] + diag - (2 * hr.z * p.z + m * p.z * p.z);
        b.m[i] = m;
        b.h[i] = hr + m * p;
    }
    return b;
}

// Symmetric 3x3 from (xx xy xz yy yz zz).
template <class T>
inline Mat3<T> symmetric(const T (&J)[6]) {
    return {{J[0], J[1], J[2], J[1], J[3], J[4], J[2], J[4], J[5]}};
}

// Outputs in SI units with joint rates in rad/s: mass (36, row-major, rotor inertias on the
// diagonal) [kg m^2], coriolis (36) [kg m^2/s], gravity torque (6) [N m], tau (6) [N m].
// Any output pointer may be null except mass and coriolis.
template <class T>
inline void standard_chain_dynamics(const StandardModelInput<T> &in, T *mass, T *coriolis,
                                    T *gravity_torque, T *tau) {
    constexpr int n = kChainJoints;
    const T deg = static_cast<T>(kDegToRadBlock);
    const T mm2 = static_cast<T>(0.000001);
    const ChainBodies<T> b = chain_bodies(in);

    // Body Coriolis block B11 and vector b for each body velocity (w; u).
    Mat3<T> bB[n];
    Vec3<T> bb[n];
    for (int i = 0; i < n; ++i) {
        const Vec3<T> &w = b.w[i];
        const Vec3<T> &u = b.u[i];
        const Vec3<T> &h = b.h[i];
        const Mat3<T> J = symmetric(b.J[i]);
        // P = W J, column c of P is w x (column c of J).
        Mat3<T> P;
        for (int c = 0; c < 3; ++c) {
            const Vec3<T> col = cross(w, Vec3<T>{J.m[c], J.m[3 + c], J.m[6 + c]});
            P.m[c] = col.x;
            P.m[3 + c] = col.y;
            P.m[6 + c] = col.z;
        }
        const Vec3<T> nk = mul(J, w) + cross(h, u);
        const T uh2 = 2 * dot(u, h);
        const T uv[3] = {u.x, u.y, u.z};
        const T hv[3] = {h.x, h.y, h.z};
        const T half = static_cast<T>(0.5);
        // -[n]x entries: row r, column c.
        const T nx[9] = {0, nk.z, -nk.y, -nk.z, 0, nk.x, nk.y, -nk.x, 0};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                T s =
                    P.m[3 * r + c] + P.m[3 * c + r] - uv[r] * hv[c] - hv[r] * uv[c] + nx[3 * r + c];
                if (r == c) {
                    s += uh2;
                }
                bB[i].m[3 * r + c] = half * s;
            }
        }
        bb[i] = cross(w, h) + b.m[i] * u;
    }

    // Backward sweep over composites: f_j = I^C_j s_j, g_j = I^C_j sdot_j + B^C_j s_j,
    // e_j = angular part of (B^C_j)^T s_j, gravity torque.
    Vec3<T> f_a[n], f_l[n], g_a[n], g_l[n], e_a[n];
    T mc = 0;
    Vec3<T> hc = {0, 0, 0};
    T Jc[6] = {0, 0, 0, 0, 0, 0};
    Mat3<T> Bc = {{0, 0, 0, 0, 0, 0, 0, 0, 0}};
    Vec3<T> bc = {0, 0, 0};
    const Vec3<T> g = {in.gravity[0], in.gravity[1], in.gravity[2]};
    for (int j = n - 1; j >= 0; --j) {
        mc += b.m[j];
        hc = hc + b.h[j];
        for (int k = 0; k < 6; ++k) {
            Jc[k] += b.J[j][k];
        }
        for (int k = 0; k < 9; ++k) {
            Bc.m[k] += bB[j].m[k];
        }
        bc = bc + bb[j];
        const Mat3<T> J = symmetric(Jc);
        const Vec3<T> &z = b.z[j];
        const Vec3<T> &l = b.l[j];
        // Spatial inertia times a motion vector (a; b): (J a + h x b; m b - h x a).
        f_a[j] = mul(J, z) + cross(hc, l);
        f_l[j] = mc * l - cross(hc, z);
        g_a[j] = mul(J, b.sd_a[j]) + cross(hc, b.sd_l[j]) + mul(Bc, z);
        g_l[j] = mc * b.sd_l[j] - cross(hc, b.sd_a[j]) - cross(bc, z);
        e_a[j] = mul_transposed(Bc, z) + cross(bc, l);
        if (gravity_torque != nullptr) {
            gravity_torque[j] = -dot(z, cross(hc, g)) - mc * dot(l, g);
        }
    }

    for (int i = 0; i < n; ++i) {
        for (int j = i; j < n; ++j) {
            const T mij = dot(b.z[i], f_a[j]) + dot(b.l[i], f_l[j]);
            mass[i * n + j] = mij;
            mass[j * n + i] = mij;
            coriolis[i * n + j] = dot(b.z[i], g_a[j]) + dot(b.l[i], g_l[j]);
        }
        for (int j = 0; j < i; ++j) {
            coriolis[i * n + j] =
                dot(f_a[i], b.sd_a[j]) + dot(f_l[i], b.sd_l[j]) + dot(e_a[i], b.z[j]);
        }
        mass[i * n + i] += in.rotor[i] * mm2;
    }

    if (tau != nullptr) {
        T qd[n], qdd[n];
        for (int i = 0; i < n; ++i) {
            qd[i] = in.qd[i] * deg;
            qdd[i] = in.qdd != nullptr ? in.qdd[i] * deg : T(0);
        }
        for (int i = 0; i < n; ++i) {
            T s = gravity_torque != nullptr ? gravity_torque[i] : T(0);
            for (int j = 0; j < n; ++j) {
                s += coriolis[i * n + j] * qd[j] + mass[i * n + j] * qdd[j];
            }
            tau[i] = s;
        }
    }
}

// The same torque, and the diagonal of the mass matrix, without the matrices: the per-cycle
// path needs only these. Recursive Newton-Euler in the same base coordinates: body
// accelerations a_i = a_(i-1) + sdot_i qd_i + s_i qdd_i from a base acceleration (0; -g), body
// forces f_i = I_i a_i + v_i x* I_i v_i, tau_j = s_j . sum_(k >= j) f_k plus the rotor's
// inertia times qdd_j; M_jj = s_j . I^C_j s_j plus the rotor inertia.
template <class T>
inline void standard_chain_torque(const StandardModelInput<T> &in, T *mass_diagonal, T *tau) {
    constexpr int n = kChainJoints;
    const T deg = static_cast<T>(kDegToRadBlock);
    const T mm2 = static_cast<T>(0.000001);
    const ChainBodies<T> b = chain_bodies(in);

    Vec3<T> f_a[n], f_l[n];  // body forces
    Vec3<T> a_a = {0, 0, 0};
    Vec3<T> a_l = {-in.gravity[0], -in.gravity[1], -in.gravity[2]};
    T qdd[n];
    for (int i = 0; i < n; ++i) {
        qdd[i] = in.qdd != nullptr ? in.qdd[i] * deg : T(0);
        const T qd = in.qd[i] * deg;
        a_a = a_a + qd * b.sd_a[i] + qdd[i] * b.z[i];
        a_l = a_l + qd * b.sd_l[i] + qdd[i] * b.l[i];
        const Mat3<T> J = symmetric(b.J[i]);
        const Vec3<T> &h = b.h[i];
        // I (a; b) = (J a + h x b; m b - h x a); v x* (n; f) = (w x n + u x f; w x f).
        const Vec3<T> ia_a = mul(J, a_a) + cross(h, a_l);
        const Vec3<T> ia_l = b.m[i] * a_l - cross(h, a_a);
        const Vec3<T> iv_a = mul(J, b.w[i]) + cross(h, b.u[i]);
        const Vec3<T> iv_l = b.m[i] * b.u[i] - cross(h, b.w[i]);
        f_a[i] = ia_a + cross(b.w[i], iv_a) + cross(b.u[i], iv_l);
        f_l[i] = ia_l + cross(b.w[i], iv_l);
    }
    Vec3<T> F_a = {0, 0, 0};
    Vec3<T> F_l = {0, 0, 0};
    T mc = 0;
    Vec3<T> hc = {0, 0, 0};
    T Jc[6] = {0, 0, 0, 0, 0, 0};
    for (int j = n - 1; j >= 0; --j) {
        F_a = F_a + f_a[j];
        F_l = F_l + f_l[j];
        const T rotor = in.rotor[j] * mm2;
        tau[j] = dot(b.z[j], F_a) + dot(b.l[j], F_l) + rotor * qdd[j];
        if (mass_diagonal != nullptr) {
            mc += b.m[j];
            hc = hc + b.h[j];
            for (int k = 0; k < 6; ++k) {
                Jc[k] += b.J[j][k];
            }
            const Vec3<T> &z = b.z[j];
            const Vec3<T> &l = b.l[j];
            const Vec3<T> ic_a = mul(symmetric(Jc), z) + cross(hc, l);
            const Vec3<T> ic_l = mc * l - cross(hc, z);
            mass_diagonal[j] = dot(z, ic_a) + dot(l, ic_l) + rotor;
        }
    }
}

}  // namespace detail
}  // namespace kxmc
