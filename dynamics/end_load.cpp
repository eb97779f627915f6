// Joint torque that holds the payload alone against gravity.
//
// The payload's weight acts at its centre of mass; the torque that holds it is J^T W with J the
// flange Jacobian in the base frame and W the holding wrench about the flange origin in the
// base frame: force F = -m g, moment (R c) x F, with R the flange rotation and c the payload
// centre in the flange frame. Gravity comes from the installation angles with the same
// convention as the dynamics model, so the end load and the arm's own gravity torque agree.
#include <cmath>
#include <cstdint>

#include "dynamics/arm_parameters.hpp"
#include "dynamics/installation_gravity.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_gravity.h"
#include "kxmc/kxmc_numerics.h"
#include "numerics/model_bands.hpp"

namespace {

using kxmc::Band;

enum class EndLoadJacobian : uint8_t { kNone, kArm3kg, kArm5kg, kArm10kg, kArm16kg, kChain };

// Closed-form Jacobians for the family codes the gravity-test control hands over; the
// 700-band arms of the standard chain (702-800) use the numeric Jacobian of their chain. The
// arm 701 is not a standard chain and, like every other code, gets no end load.
constexpr Band<EndLoadJacobian> kEndLoadJacobians[] = {
    {1, 1, EndLoadJacobian::kArm3kg},     {102, 102, EndLoadJacobian::kArm5kg},
    {201, 201, EndLoadJacobian::kArm10kg}, {301, 301, EndLoadJacobian::kArm16kg},
    {702, 800, EndLoadJacobian::kChain},
};

constexpr double kTwists[6] = {kxmc::kDegToRad * 90.0, 0.0, 0.0, kxmc::kDegToRad * 90.0,
                               -kxmc::kDegToRad * 90.0, 0.0};  // [rad]

// Flange Jacobian (6 x 6 row-major, base frame, linear rows in m/rad) at q [rad].
bool flange_jacobian(EndLoadJacobian kind, uint32_t model_code, const double q[6], double J[36]) {
    double *rows[6] = {J, J + 6, J + 12, J + 18, J + 24, J + 30};
    switch (kind) {
        case EndLoadJacobian::kArm3kg: return kx3_jacob(q, nullptr, nullptr, rows) == 0;
        case EndLoadJacobian::kArm5kg: return kx5_jacob(q, nullptr, nullptr, rows) == 0;
        case EndLoadJacobian::kArm10kg: return kx10_jacob(q, nullptr, nullptr, rows) == 0;
        case EndLoadJacobian::kArm16kg: return kx16_jacob(q, nullptr, nullptr, rows) == 0;
        case EndLoadJacobian::kChain: {
            const float *len = kxmc::standard_arm_parameters(model_code).lengths;  // [mm]
            const double a[6] = {0.0, -std::fabs(static_cast<double>(len[1])) * 0.001,
                                 -std::fabs(static_cast<double>(len[2])) * 0.001, 0.0, 0.0, 0.0};
            const double d[6] = {static_cast<double>(len[0]) * 0.001, 0.0, 0.0,
                                 static_cast<double>(len[3]) * 0.001,
                                 static_cast<double>(len[4]) * 0.001,
                                 static_cast<double>(len[5]) * 0.001};
            Jacobian_com(kTwists, a, d, q, J);
            return true;
        }
        case EndLoadJacobian::kNone: break;
    }
    return false;
}

}  // namespace

extern "C" {

int32_t kxmcendload(double tiltNeg, double rot, const double jointPos[6], double cx, double cy,
                    double cz, double mass, double out[6], int32_t modelCode) {
    if (out == nullptr) {
        return 0;
    }
    for (int i = 0; i < 6; ++i) {
        out[i] = 0.0;
    }
    if (jointPos == nullptr || modelCode < 0) {
        return 0;
    }
    const uint32_t code = static_cast<uint32_t>(modelCode);
    const EndLoadJacobian kind = kxmc::lookup_band(kEndLoadJacobians, code, EndLoadJacobian::kNone);
    if (kind == EndLoadJacobian::kNone) {
        return 0;
    }

    double q[6];
    for (int i = 0; i < 6; ++i) {
        q[i] = jointPos[i] * kxmc::kDegToRad;
    }
    double J[36] = {};
    if (!flange_jacobian(kind, code, q, J)) {
        return 0;
    }

    // Flange rotation from the host's forward kinematics (x, y, z, then angles about X, Y, Z).
    float pose[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    jointTrsfToEndCartTCF_RT(1, jointPos, pose);
    Trsf flange{};
    rpyToTrsf(&flange, static_cast<double>(pose[5]), static_cast<double>(pose[4]),
              static_cast<double>(pose[3]));
    const double *R = flange.rot.r;

    // The caller hands the tilt negated; gravity follows the dynamics model's convention.
    double g[3];
    kxmc::installation_gravity(-tiltNeg, rot, g);
    const double force[3] = {-mass * g[0], -mass * g[1], -mass * g[2]};  // [N] holding force

    const double c[3] = {cx * 0.001, cy * 0.001, cz * 0.001};  // [m] flange frame
    const double lever[3] = {R[0] * c[0] + R[1] * c[1] + R[2] * c[2],
                             R[3] * c[0] + R[4] * c[1] + R[5] * c[2],
                             R[6] * c[0] + R[7] * c[1] + R[8] * c[2]};  // [m] base frame
    const double wrench[6] = {force[0],
                              force[1],
                              force[2],
                              lever[1] * force[2] - lever[2] * force[1],
                              lever[2] * force[0] - lever[0] * force[2],
                              lever[0] * force[1] - lever[1] * force[0]};

    for (int j = 0; j < 6; ++j) {
        double tau = 0.0;
        for (int k = 0; k < 6; ++k) {
            tau += J[6 * k + j] * wrench[k];
        }
        out[j] = tau;
    }
    return 0;
}

}  // extern "C"
