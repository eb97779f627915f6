// Gravity vector of the arm's base frame from its installation angles.
//
// The base is tilted by t about Y and then turned by r about Z; the gravity acceleration seen
// in the base frame is
//
//     g = -9.8 (cos r sin t, sin r sin t, cos t)            [m/s^2]
//
// floor (0, 0): (0, 0, -9.8); wall (90, 0): (-9.8, 0, 0); ceiling (180, 0): (0, 0, +9.8).
// This is the third row of Ry(-t) Rz(-r) scaled by -9.8: the direction of world "down" in base
// coordinates. Every routine that turns installation angles into gravity (dynamics wrappers,
// gravity torque, end load, force-sensor compensation) uses this one function.
#pragma once

#include <cmath>

namespace kxmc {

constexpr double kGravity = 9.8;                            // [m/s^2]
constexpr double kDegToRad = 3.14159265358979323846 / 180.0;  // [rad/deg]

inline void installation_gravity(double tilt_deg, double rot_deg, double g[3]) noexcept {
    const double t = tilt_deg * kDegToRad;
    const double r = rot_deg * kDegToRad;
    const double st = std::sin(t);
    g[0] = -kGravity * std::cos(r) * st;
    g[1] = -kGravity * std::sin(r) * st;
    g[2] = -kGravity * std::cos(t);
}

}  // namespace kxmc
