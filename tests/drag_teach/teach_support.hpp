// Shared pieces of the drag teach tests: the four gravity-test laws with their families, the
// static gravity of a rigid-body set, and an independent flange Jacobian from the host's forward
// kinematics.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

#include "dynamics/arm_parameters.hpp"
#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace teach_test {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kPose[6] = {10, -60, 80, -110, 70, 20};  // [deg]

using GravityLaw = int32_t (*)(double, double, const double *, const double *, double *, int32_t);
using SelftestModel = int32_t (*)(const double *, const double *, const double *, MatHead);

struct Family {
    const char *name;
    GravityLaw law;
    SelftestModel model;
    int32_t lawCode;     // the code the law computes for
    int32_t otherCode;   // a code of the same band it does not compute for
    uint32_t set;        // rigid-body set its identified model stands for
    uint32_t hostModel;  // arm the simulated host is started as
};

inline const Family kFamilies[] = {
    {"Kx3", kxmcteachcontrol3_gravitytest, computeKx3_selftautest, 1, 2, 1, 1},
    {"Kx5", kxmcteachcontrol5_gravitytest, computeKx5_selftautest, 102, 101, 0, 101},
    {"Kx10", kxmcteachcontrol10_gravitytest, computeKx10_selftautest, 201, 202, 201, 201},
    {"Kx16", kxmcteachcontrol16_gravitytest, computeKx16_selftautest, 301, 302, 301, 301},
};

inline void PrintTo(const Family &f, std::ostream *os) { *os << f.name; }

inline std::string family_name(const ::testing::TestParamInfo<Family> &p) { return p.param.name; }

// Self-test model torque at (0, tiltNeg, rot, q) [rad] with the current gtau.
inline void model_torque(SelftestModel model, double tilt_neg_deg, double rot_deg,
                         const double q_rad[6], const double qd[6], const double qdd[6],
                         double out[6]) {
    const double input[9] = {0.0,
                             tilt_neg_deg * kDegToRad,
                             rot_deg * kDegToRad,
                             q_rad[0],
                             q_rad[1],
                             q_rad[2],
                             q_rad[3],
                             q_rad[4],
                             q_rad[5]};
    double *rows[6];
    for (int j = 0; j < 6; ++j) {
        rows[j] = &out[j];
    }
    ASSERT_EQ(model(input, qd, qdd, MatHead{0, 5, 0, 0, 0, rows}), 0);
}

// Holding torque of a standard set with a point payload at the flange origin, gravity g [m/s^2]
// from the installation angles [deg].
inline void static_gravity(uint32_t set_code, double payload_mass, double tilt, double rot,
                           double g, const double q_deg[6], double out[6]) {
    const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(set_code);
    double lengths[6], masses[6], centres[18];
    for (int i = 0; i < 6; ++i) {
        lengths[i] = p.lengths[i];
        masses[i] = p.masses[i];
    }
    for (int i = 0; i < 18; ++i) {
        centres[i] = p.centres[i];
    }
    const double payload[10] = {payload_mass, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const double t = tilt * kDegToRad, r = rot * kDegToRad;
    const double gv[3] = {-g * std::cos(r) * std::sin(t), -g * std::sin(r) * std::sin(t),
                          -g * std::cos(t)};
    ASSERT_EQ(kxmcInvGravity(lengths, masses, centres, payload, gv, q_deg, out), 0);
}

// Geometric Jacobian of the host's flange (base frame, linear rows in m/rad) at q [deg], by
// central differences of the forward kinematics; J[row][joint].
inline void flange_jacobian(const double q_deg[6], double J[6][6]) {
    const double h = 1e-6;  // [rad]
    for (int i = 0; i < 6; ++i) {
        double qp[6], qm[6];
        for (int k = 0; k < 6; ++k) {
            qp[k] = qm[k] = q_deg[k];
        }
        qp[i] += h / kDegToRad;
        qm[i] -= h / kDegToRad;
        const Trsf tp = kxsim::flange_transform(qp);
        const Trsf tm = kxsim::flange_transform(qm);
        for (int k = 0; k < 3; ++k) {
            J[k][i] = (tp.pos.v[k] - tm.pos.v[k]) * 0.001 / (2 * h);
        }
        // dR R^T is the skew matrix of the angular rate.
        double w[3][3] = {};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                for (int k = 0; k < 3; ++k) {
                    w[r][c] += (tp.rot.r[3 * r + k] - tm.rot.r[3 * r + k]) / (2 * h) * 0.5 *
                               (tp.rot.r[3 * c + k] + tm.rot.r[3 * c + k]);
                }
            }
        }
        J[3][i] = w[2][1];
        J[4][i] = w[0][2];
        J[5][i] = w[1][0];
    }
}

// Solves A x = b for a 6 x 6 A by Gaussian elimination with partial pivoting.
inline void solve6(double A[6][6], double b[6], double x[6]) {
    int idx[6] = {0, 1, 2, 3, 4, 5};
    for (int c = 0; c < 6; ++c) {
        int p = c;
        for (int r = c + 1; r < 6; ++r) {
            if (std::fabs(A[idx[r]][c]) > std::fabs(A[idx[p]][c])) {
                p = r;
            }
        }
        std::swap(idx[c], idx[p]);
        for (int r = c + 1; r < 6; ++r) {
            const double f = A[idx[r]][c] / A[idx[c]][c];
            for (int k = c; k < 6; ++k) {
                A[idx[r]][k] -= f * A[idx[c]][k];
            }
            b[idx[r]] -= f * b[idx[c]];
        }
    }
    for (int c = 5; c >= 0; --c) {
        double s = b[idx[c]];
        for (int k = c + 1; k < 6; ++k) {
            s -= A[idx[c]][k] * x[k];
        }
        x[c] = s / A[idx[c]][c];
    }
}

// Rotation vector [rad] of the rotation matrix R (row-major).
inline void rotation_vector(const double R[9], double v[3]) {
    const double c = std::max(-1.0, std::min(1.0, (R[0] + R[4] + R[8] - 1.0) / 2.0));
    const double angle = std::acos(c);
    const double axis[3] = {R[7] - R[5], R[2] - R[6], R[3] - R[1]};
    const double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    for (int k = 0; k < 3; ++k) {
        v[k] = n > 0.0 ? axis[k] / n * angle : 0.0;
    }
}

// a b^T for rotations (row-major).
inline void mul_transposed(const double a[9], const double b[9], double out[9]) {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            out[3 * r + c] = 0.0;
            for (int k = 0; k < 3; ++k) {
                out[3 * r + c] += a[3 * r + k] * b[3 * c + k];
            }
        }
    }
}

}  // namespace teach_test
