// Geometry of the standard six-joint arm chain shared by the dynamics routines.
//
// Standard Denavit-Hartenberg convention: frame i is reached from frame i-1 by
// Rz(theta_i) Tz(d_i) Tx(a_i) Rx(alpha_i). The standard arm has twists 90, 0, 0, 90, -90, 0
// degrees, d = (d1, 0, 0, d4, d5, d6), a = (0, a2, a3, 0, 0, 0) with a2, a3 <= 0.
// Link i's centre of mass and inertia are expressed in frame i (the distal frame of link i).
#pragma once

namespace kxmc {
namespace detail {

constexpr double kDegToRadBlock = 0.017453292;  // degree-to-radian factor of the model blocks
constexpr int kChainJoints = 6;
constexpr double kPi = 3.14159265358979323846;

// cos and sin of the twists 90, 0, 0, 90, -90, 0 degrees (exact).
constexpr int kTwistCos[kChainJoints] = {0, 1, 1, 0, 0, 1};
constexpr int kTwistSin[kChainJoints] = {1, 0, 0, 1, -1, 0};

template <class T>
struct ChainLengths {
    T d[kChainJoints];  // [m]
    T a[kChainJoints];  // [m]
};

inline double abs_value(double x) { return x < 0.0 ? -x : x; }

// Lengths d1, a2, a3, d4, d5, d6 [mm] to the chain's d and a [m]; a2 and a3 = -|length|.
template <class T, class In>
inline ChainLengths<T> chain_lengths(const In *lengths_mm) {
    ChainLengths<T> c{};
    const T k = static_cast<T>(0.001);
    c.d[0] = static_cast<T>(lengths_mm[0]) * k;
    c.a[1] = -static_cast<T>(abs_value(static_cast<double>(lengths_mm[1]))) * k;
    c.a[2] = -static_cast<T>(abs_value(static_cast<double>(lengths_mm[2]))) * k;
    c.d[3] = static_cast<T>(lengths_mm[3]) * k;
    c.d[4] = static_cast<T>(lengths_mm[4]) * k;
    c.d[5] = static_cast<T>(lengths_mm[5]) * k;
    return c;
}

// Rotation R (row-major, frame i axes in frame i-1) and origin p of frame i in frame i-1.
template <class T>
inline void link_transform(const ChainLengths<T> &c, int i, T ct, T st, T R[9], T p[3]) {
    const T ca = static_cast<T>(kTwistCos[i]);
    const T sa = static_cast<T>(kTwistSin[i]);
    R[0] = ct;
    R[1] = -st * ca;
    R[2] = st * sa;
    R[3] = st;
    R[4] = ct * ca;
    R[5] = -ct * sa;
    R[6] = 0;
    R[7] = sa;
    R[8] = ca;
    p[0] = c.a[i] * ct;
    p[1] = c.a[i] * st;
    p[2] = c.d[i];
}

}  // namespace detail
}  // namespace kxmc
