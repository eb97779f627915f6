// Plain double-precision recursive Newton-Euler inverse dynamics of a six-joint standard
// Denavit-Hartenberg chain (revolute joints, link data in the distal frames), written
// independently of the library's joint-frame regressors to serve as their test oracle.
#pragma once

#include <array>
#include <cmath>

namespace selftest_oracle {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<std::array<double, 3>, 3>;

struct Link {
    double a, alpha, d;  // [m], [rad], [m]
    double mass;         // [kg]
    Vec3 com;            // centre of mass in the link frame [m]
    Mat3 inertia;        // about the centre of mass, link-frame axes [kg m^2]
};

using Chain = std::array<Link, 6>;
using Joints = std::array<double, 6>;

inline Vec3 cross(const Vec3 &a, const Vec3 &b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline Vec3 add(const Vec3 &a, const Vec3 &b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Vec3 mul(const Mat3 &m, const Vec3 &v) {
    return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2],
            m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
            m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}
inline Vec3 mul_t(const Mat3 &m, const Vec3 &v) {
    return {m[0][0] * v[0] + m[1][0] * v[1] + m[2][0] * v[2],
            m[0][1] * v[0] + m[1][1] * v[1] + m[2][1] * v[2],
            m[0][2] * v[0] + m[1][2] * v[1] + m[2][2] * v[2]};
}
inline Vec3 scale(const Vec3 &v, double s) { return {v[0] * s, v[1] * s, v[2] * s}; }

// Joint torques [N m] holding the chain against gravity (base-frame acceleration, m/s^2)
// while it moves with q [rad], qd [rad/s], qdd [rad/s^2].
inline Joints inverse_dynamics(const Chain &chain, const Joints &q, const Joints &qd,
                               const Joints &qdd, const Vec3 &gravity) {
    // Frame i's rotation R_i (axes of frame i in frame i-1) and origin offset in frame i.
    std::array<Mat3, 6> rot{};
    std::array<Vec3, 6> offset{};  // origin of frame i from origin of frame i-1, frame-i axes
    for (int i = 0; i < 6; ++i) {
        const Link &l = chain[i];
        const double ct = std::cos(q[i]), st = std::sin(q[i]);
        const double ca = std::cos(l.alpha), sa = std::sin(l.alpha);
        rot[i] = {{{ct, -st * ca, st * sa}, {st, ct * ca, -ct * sa}, {0.0, sa, ca}}};
        offset[i] = {l.a, l.d * sa, l.d * ca};
    }
    const Vec3 z{0.0, 0.0, 1.0};
    Vec3 w{0, 0, 0}, dw{0, 0, 0}, acc = scale(gravity, -1.0);
    std::array<Vec3, 6> force{}, moment{};
    for (int i = 0; i < 6; ++i) {
        const Link &l = chain[i];
        const Vec3 w_prev = w;
        w = mul_t(rot[i], add(w_prev, scale(z, qd[i])));
        dw = mul_t(rot[i], add(add(dw, scale(z, qdd[i])), cross(w_prev, scale(z, qd[i]))));
        acc = add(add(mul_t(rot[i], acc), cross(dw, offset[i])), cross(w, cross(w, offset[i])));
        const Vec3 acc_c = add(add(acc, cross(dw, l.com)), cross(w, cross(w, l.com)));
        force[i] = scale(acc_c, l.mass);
        moment[i] = add(mul(l.inertia, dw), cross(w, mul(l.inertia, w)));
    }
    Joints tau{};
    Vec3 f{0, 0, 0}, n{0, 0, 0};
    for (int i = 5; i >= 0; --i) {
        const Link &l = chain[i];
        Vec3 f_next{0, 0, 0}, n_next{0, 0, 0};
        if (i < 5) {
            f_next = mul(rot[i + 1], f);
            n_next = mul(rot[i + 1], n);
        }
        // Moment about frame i-1's origin, on joint i's axis.
        n = add(add(add(n_next, cross(offset[i], f_next)), cross(add(offset[i], l.com), force[i])),
                moment[i]);
        f = add(f_next, force[i]);
        tau[i] = mul(rot[i], n)[2];  // component along z_{i-1}
    }
    return tau;
}

}  // namespace selftest_oracle
