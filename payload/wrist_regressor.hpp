// Wrist rows of the arm's inverse-dynamics regressor for the excitation-trajectory payload
// identification: the torques of joints 4, 5 and 6 are linear in 27 base parameters,
//
//     tau_wrist [N m] = Y(q, qd, qdd) theta,
//
// 9 per wrist joint k = 0, 1, 2 (joint 4 + k), at theta[9k + 0..8]:
//
//     XXR, XY, XZ, YZ, ZZR [kg m^2], MX, MYR [kg m], Ia [kg m^2], Fc [N m]
//
// the seven identifiable inertial parameters of link 4 + k in its joint frame (generator:
// payload/generate/gen_wrist_regressor.py, which states the grouping), the rotor inertia reflected
// to the joint and the Coulomb friction. A payload of mass m at (x, y, z) in the flange frame adds
// d5 m to theta[6], m (z + d6) to theta[15], m x to theta[23] and m y to theta[24].
//
// Geometry: standard Denavit-Hartenberg chain, twists 90, 0, 0, 90, -90, 0 degrees, a2 = -0.425,
// a3 = -0.395, d4 = 0.138, d5 = 0.102, d6 = 0.1 m; floor mounting, gravity 9.81 m/s^2.
#pragma once

namespace kxmc {
namespace detail {

constexpr int kWristRows = 3;         // joints 4, 5, 6
constexpr int kWristJointParams = 9;  // base parameters per wrist joint
constexpr int kWristRigidJointParams = 7;
constexpr int kWristParams = kWristRows * kWristJointParams;            // 27
constexpr int kWristRigidParams = kWristRows * kWristRigidJointParams;  // 21
constexpr double kWristD5 = 0.102;  // [m] joint 5's axis from joint 4's along the link
constexpr double kWristD6 = 0.1;    // [m] flange from the wrist point

// Rigid-body columns of Y (generated): y[r][7k + i] is the column of parameter i < 7 of wrist
// joint k on row r. q [rad], qd [rad/s], qdd [rad/s^2], six joints each.
void wrist_rigid_regressor(const double q[6], const double qd[6], const double qdd[6],
                           double y[kWristRows][kWristRigidParams]) noexcept;

// Base rigid parameters (21, order of wrist_rigid_regressor) of the wrist links' parameters in
// the self-test layout: 27 values, links 4, 5, 6 at 9 each (XX, XY, XZ, YY, YZ, ZZ, MX, MY, MZ in
// the joint frames, the masses beyond each link folded in). Generated.
void wrist_base_parameters(const double link[kWristParams],
                           double base[kWristRigidParams]) noexcept;

// The full regressor in the layout above (rigid columns, then Ia and Fc of each joint).
inline void wrist_regressor(const double q[6], const double qd[6], const double qdd[6],
                            double y[kWristRows][kWristParams]) noexcept {
    double rigid[kWristRows][kWristRigidParams];
    wrist_rigid_regressor(q, qd, qdd, rigid);
    for (int r = 0; r < kWristRows; ++r) {
        for (int k = 0; k < kWristRows; ++k) {
            double *col = &y[r][kWristJointParams * k];
            for (int i = 0; i < kWristRigidJointParams; ++i) {
                col[i] = rigid[r][kWristRigidJointParams * k + i];
            }
            const double v = qd[3 + k];
            col[7] = r == k ? qdd[3 + k] : 0.0;                                  // Ia
            col[8] = r == k ? static_cast<double>((v > 0.0) - (v < 0.0)) : 0.0;  // Fc
        }
    }
}

}  // namespace detail
}  // namespace kxmc
