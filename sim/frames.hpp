// Small rotation and vector helpers of the simulator (row-major 3 x 3 matrices).
#pragma once

#include <array>
#include <cmath>

namespace kxsim {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<double, 9>;

constexpr double kDegree = 3.14159265358979323846 / 180.0;  // [rad/deg]

inline Mat3 identity() { return {1, 0, 0, 0, 1, 0, 0, 0, 1}; }

inline Mat3 rot_x(double t) {
    const double c = std::cos(t), s = std::sin(t);
    return {1, 0, 0, 0, c, -s, 0, s, c};
}

inline Mat3 mul(const Mat3 &a, const Mat3 &b) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
    return r;
}

inline Mat3 transpose(const Mat3 &a) {
    return {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]};
}

inline Vec3 rotate(const Mat3 &a, const Vec3 &v) {
    return {a[0] * v[0] + a[1] * v[1] + a[2] * v[2], a[3] * v[0] + a[4] * v[1] + a[5] * v[2],
            a[6] * v[0] + a[7] * v[1] + a[8] * v[2]};
}

inline Vec3 add(const Vec3 &a, const Vec3 &b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Vec3 sub(const Vec3 &a, const Vec3 &b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec3 scale(const Vec3 &a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
inline double dot(const Vec3 &a, const Vec3 &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double norm(const Vec3 &a) { return std::sqrt(dot(a, a)); }
inline Vec3 cross(const Vec3 &a, const Vec3 &b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// R = Rz(c) Ry(b) Rx(a) from (a, b, c) [deg].
inline Mat3 rpy(const Vec3 &abc) {
    const double ca = std::cos(abc[0] * kDegree), sa = std::sin(abc[0] * kDegree);
    const double cb = std::cos(abc[1] * kDegree), sb = std::sin(abc[1] * kDegree);
    const double cc = std::cos(abc[2] * kDegree), sc = std::sin(abc[2] * kDegree);
    return {cc * cb, cc * sb * sa - sc * ca, cc * sb * ca + sc * sa,
            sc * cb, sc * sb * sa + cc * ca, sc * sb * ca - cc * sa,
            -sb,     cb * sa,                cb * ca};
}

// Symmetric tensor from (Ixx, Ixy, Ixz, Iyy, Iyz, Izz).
inline Mat3 tensor(const std::array<double, 6> &i) {
    return {i[0], i[1], i[2], i[1], i[3], i[4], i[2], i[4], i[5]};
}

// Unit quaternion (w, x, y, z) of a rotation matrix.
inline std::array<double, 4> quaternion(const Mat3 &r) {
    const double tr = r[0] + r[4] + r[8];
    std::array<double, 4> q{};
    if (tr > 0.0) {
        const double s = 2.0 * std::sqrt(1.0 + tr);
        q = {0.25 * s, (r[7] - r[5]) / s, (r[2] - r[6]) / s, (r[3] - r[1]) / s};
    } else if (r[0] > r[4] && r[0] > r[8]) {
        const double s = 2.0 * std::sqrt(1.0 + r[0] - r[4] - r[8]);
        q = {(r[7] - r[5]) / s, 0.25 * s, (r[1] + r[3]) / s, (r[2] + r[6]) / s};
    } else if (r[4] > r[8]) {
        const double s = 2.0 * std::sqrt(1.0 + r[4] - r[0] - r[8]);
        q = {(r[2] - r[6]) / s, (r[1] + r[3]) / s, 0.25 * s, (r[5] + r[7]) / s};
    } else {
        const double s = 2.0 * std::sqrt(1.0 + r[8] - r[0] - r[4]);
        q = {(r[3] - r[1]) / s, (r[2] + r[6]) / s, (r[5] + r[7]) / s, 0.25 * s};
    }
    return q;
}

// Principal axes of a symmetric tensor: rotation V (columns the axes, det +1) and moments d with
// A = V diag(d) V^T, by cyclic Jacobi rotations to machine precision.
inline void principal_axes(const Mat3 &a, Mat3 &v, Vec3 &d) {
    double m[3][3] = {{a[0], a[1], a[2]}, {a[3], a[4], a[5]}, {a[6], a[7], a[8]}};
    double e[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int sweep = 0; sweep < 60; ++sweep) {
        const double off = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
        const double diag = m[0][0] * m[0][0] + m[1][1] * m[1][1] + m[2][2] * m[2][2];
        if (off <= 1e-34 * diag || off == 0.0) {
            break;
        }
        for (int p = 0; p < 2; ++p) {
            for (int q = p + 1; q < 3; ++q) {
                if (m[p][q] == 0.0) {
                    continue;
                }
                const double theta = (m[q][q] - m[p][p]) / (2.0 * m[p][q]);
                const double t =
                    (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (int k = 0; k < 3; ++k) {  // columns p, q of m, then rows
                    const double mkp = m[k][p], mkq = m[k][q];
                    m[k][p] = c * mkp - s * mkq;
                    m[k][q] = s * mkp + c * mkq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double mpk = m[p][k], mqk = m[q][k];
                    m[p][k] = c * mpk - s * mqk;
                    m[q][k] = s * mpk + c * mqk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double ekp = e[k][p], ekq = e[k][q];
                    e[k][p] = c * ekp - s * ekq;
                    e[k][q] = s * ekp + c * ekq;
                }
            }
        }
    }
    v = {e[0][0], e[0][1], e[0][2], e[1][0], e[1][1], e[1][2], e[2][0], e[2][1], e[2][2]};
    const double det = v[0] * (v[4] * v[8] - v[5] * v[7]) - v[1] * (v[3] * v[8] - v[5] * v[6]) +
                       v[2] * (v[3] * v[7] - v[4] * v[6]);
    if (det < 0.0) {
        v[2] = -v[2], v[5] = -v[5], v[8] = -v[8];
    }
    d = {m[0][0], m[1][1], m[2][2]};
}

// A right-handed frame whose z axis is the unit vector along n (columns x, y, z).
inline Mat3 frame_with_z(const Vec3 &n) {
    const double len = norm(n);
    const Vec3 z = len > 0.0 ? scale(n, 1.0 / len) : Vec3{0.0, 0.0, 1.0};
    const Vec3 helper = std::fabs(z[0]) < 0.9 ? Vec3{1.0, 0.0, 0.0} : Vec3{0.0, 1.0, 0.0};
    Vec3 x = cross(helper, z);
    x = scale(x, 1.0 / norm(x));
    const Vec3 y = cross(z, x);
    return {x[0], y[0], z[0], x[1], y[1], z[1], x[2], y[2], z[2]};
}

}  // namespace kxsim
