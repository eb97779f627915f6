// Dynamic residual allowance after acceleration jumps, the custom joint and TCP collision
// limits, and the status getters the host polls.
#include <cmath>

#include "collision/collision_counts.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_custom_collision.h"
#include "kxmc/kxmc_numerics.h"
#include "numerics/model_bands.hpp"

namespace kxmc {
namespace detail {

float jointCollisionCount[6] = {};
float tcpCollisionCount[6] = {};

}  // namespace detail
}  // namespace kxmc

namespace {

using kxmc::detail::jointCollisionCount;
using kxmc::detail::tcpCollisionCount;

constexpr int kJoints = 6;
constexpr double kPi = 3.14159265358979323846;
constexpr double kSingularDet = 1e-6;      // |det(J^T)| at or below: no wrench estimate
constexpr double kCurveRefLong = 1440.0;   // curve reference of the damped-sine allowance
constexpr double kWrenchScale = 100.0;     // the estimate is published x100

// Arm lengths of the TCP wrench estimate: d1, a2, a3, d4, d5, d6 [mm].
struct ArmLengths {
    float dh[6];
};
constexpr ArmLengths kLengths5kg = {{152.f, -425.f, -395.f, 102.f, 102.f, 100.f}};
constexpr ArmLengths kLengths7xx = {{140.f, -425.f, -395.f, 102.f, 102.f, 100.f}};
constexpr kxmc::Band<ArmLengths> kArmLengthTable[] = {
    {1, 100, {{152.f, -280.f, -240.f, 102.f, 102.f, 100.f}}},
    {101, 200, kLengths5kg},
    {201, 300, {{180.f, -700.f, -586.f, 159.f, 114.f, 106.f}}},
    {301, 400, {{180.f, -520.f, -400.f, 159.f, 114.f, 106.f}}},
    {401, 500, {{215.f, -1000.f, -716.f, 166.f, 138.f, 120.f}}},
    {701, 701, {{140.f, -420.f, 12.f, 360.f, 102.f, 100.f}}},
    {702, 702, kLengths7xx},
    {703, 703, {{140.f, -280.f, -240.f, 102.f, 102.f, 100.f}}},
    // 704-800 share the 701-800 family's standard chain of model 702.
    {704, 800, kLengths7xx},
    {801, 900, kLengths7xx},
    {901, 901, {{140.f, -280.f, -240.f, 102.f, 102.f, 100.f}}},
    {902, 902, {{180.f, -700.f, -586.f, 211.f, 114.f, 106.f}}},
    {903, 903, {{150.f, -280.f, -240.f, 102.f, 102.f, 100.f}}},
    {1001, 1100, {{215.f, -700.f, -536.f, 166.f, 138.f, 120.f}}},
};

bool is_16kg_arm(uint32_t code) noexcept { return code >= 301 && code <= 400; }

// Allowance curve L(t) [N m].
double allowance_curve(int32_t t) noexcept {
    const double ref = mpb.collisionCurveRef;
    const double td = static_cast<double>(t);
    if (ref == kCurveRefLong) {
        return 0.6148 - 0.9288 * std::exp(-0.008 * td) * std::sin(0.04 * td - 3.796091123087667);
    }
    const double s = ref / kCurveRefLong;
    return (2.13e-6 * td * td * td - 0.000667 * td * td + 0.05492 * td + 0.1829) * s;
}

// The singular-Jacobian log lines: the determinant, then the six rows of J^T.
void log_singular(double det, const double jt[36]) noexcept {
    Write_Log(4, "detValue = %f", det);
    for (int r = 0; r < kJoints; ++r) {
        const double *row = &jt[r * kJoints];
        Write_Log(4, "TJacob%d: = %f,%f,%f,%f,%f,%f", r + 1, row[0], row[1], row[2], row[3],
                  row[4], row[5]);
    }
}

// TCP part of the custom detector. Returns false when the Jacobian is singular.
bool tcp_limits(const double meas[6]) noexcept {
    const ArmLengths &len = kxmc::lookup_band(kArmLengthTable, mcb.robotModelCode, kLengths5kg);
    float q[kJoints];
    for (int j = 0; j < kJoints; ++j) {
        q[j] = static_cast<float>(kPi * mpb.targetJointPos[j] / 180.0);
    }
    float jac[36] = {};
    velocityJacob(len.dh, q, jac);

    double jt[36];
    for (int r = 0; r < kJoints; ++r) {
        for (int c = 0; c < kJoints; ++c) {
            jt[r * kJoints + c] = jac[c * kJoints + r];
        }
    }
    const double det = determinantDimen(6, jt);
    // Partial pivoting: J^T of a regular pose can have a zero where elimination in row order
    // would pivot. A determinant that passes the test can still leave a non-finite estimate on
    // the edge of a singularity: it counts as singular too, so neither count moves on it.
    double w[kJoints] = {};
    bool usable = std::fabs(det) > kSingularDet;  // false for a non-finite determinant too
    if (usable) {
        double jt_inv[36];
        invNxN(jt, jt_inv);
        MatrixMul6and1(jt_inv, meas, w);
        for (int k = 0; k < kJoints; ++k) {
            w[k] *= kWrenchScale;
            usable = usable && std::isfinite(w[k]);
        }
    }
    if (!usable) {
        log_singular(det, jt);
        return false;
    }
    for (int k = 0; k < kJoints; ++k) {
        mcb.tcpForceEstimate[k] = static_cast<float>(w[k]);
    }
    for (int k = 0; k < kJoints; ++k) {
        const double limit = mcb.customTcpLimit[k];
        if (w[k] < -limit || w[k] > limit) {
            tcpCollisionCount[k] += 1.0f;
            return true;
        }
    }
    for (int k = 0; k < kJoints; ++k) {
        tcpCollisionCount[k] = 0.0f;
    }
    return true;
}

void joint_limits(const double r[6]) noexcept {
    const int n = kxmc::clamp_joints(mpb.jointNum);
    for (int j = 0; j < n; ++j) {
        const double limit = mcb.customJointLimit[j];
        if (r[j] < -limit || r[j] > limit) {
            jointCollisionCount[j] += 1.0f;
            return;
        }
    }
    for (int j = 0; j < kJoints; ++j) {
        jointCollisionCount[j] = 0.0f;
    }
}

bool all_finite(const float v[6]) noexcept {
    for (int k = 0; k < kJoints; ++k) {
        if (!std::isfinite(v[k])) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" {

int32_t dynamicCurrentCollisionLimit(int32_t t, double allow[6]) {
    if (allow == nullptr) {
        return 0;
    }
    float ratio[kJoints] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    newCollisionRatio(ratio);
    // Ratios are taken relative to joint 2's; without a usable joint-2 ratio every joint keeps
    // the plain curve rather than an infinite or NaN allowance.
    const double base = ratio[1];
    const bool usable_base = std::isfinite(base) && base > 0.0;

    double x = 0.0;
    const bool speed_scaled = mcb.speedMode == 0 || mcb.speedMode == 1;
    if (mcb.speedMode == 0) {
        x = mcb.speedRatioA;
    } else if (mcb.speedMode == 1) {
        x = mcb.speedRatioB;
    }

    const double curve = allowance_curve(t);
    const bool scale_16kg = is_16kg_arm(mcb.robotModelCode);
    for (int j = 0; j < kJoints; ++j) {
        const double rho = usable_base ? ratio[j] / base : 1.0;
        double v = 1.0;
        const double level = mpb.collisionLevel[j];
        if (speed_scaled && level > 0.0 && 10.0 * x <= level) {
            v = 10.0 * x / level;
        }
        double a = curve * v * rho;
        if (scale_16kg && j < 2) {
            a *= 2.5;
        }
        allow[j] = std::isfinite(a) ? a : 0.0;
    }
    return 0;
}

int32_t kxmcCustomCollisionDetectionMain(const double r[6], const double meas[6]) {
    if (r == nullptr || meas == nullptr) {
        return 0;
    }
    const uint8_t mode = mcb.customCollisionMode;
    if (mode == 2 || mode == 3) {
        if (!tcp_limits(meas)) {
            return -1;
        }
    }
    if (mode == 1 || mode == 3) {
        joint_limits(r);
    }
    return 0;
}

int32_t kxmcSetCustomCollisionDetection(uint8_t mode, const float jointLimit[6],
                                        const float tcpLimit[6]) {
    if (mode > 3 || jointLimit == nullptr || tcpLimit == nullptr || !all_finite(jointLimit) ||
        !all_finite(tcpLimit)) {
        return -1;
    }
    mcb.customCollisionMode = mode;
    for (int k = 0; k < kJoints; ++k) {
        mcb.customJointLimit[k] = jointLimit[k];
        mcb.customTcpLimit[k] = tcpLimit[k];
    }
    return 0;
}

int32_t kxmcGetInterfereStatus(uint8_t jointIn[6], uint8_t *dragState, uint8_t io[8]) {
    if (jointIn == nullptr || dragState == nullptr || io == nullptr) {
        return -1;
    }
    const int n = kxmc::clamp_joints(mpb.jointNum);
    for (int j = 0; j < kJoints; ++j) {
        uint8_t in = 0;
        if (j < n && mcb.interfereOn == 1 && mcb.interfereJointEnable[j] == 1) {
            const double hi = mcb.interfereJointMax[j];
            const double lo = mcb.interfereJointMin[j];
            const double p = mpb.jointPos[j];
            if (mcb.interfereType == 0) {
                in = (lo < p && p < hi) ? 1 : 0;
            } else if (mcb.interfereType == 1) {
                in = (p > hi || p < lo) ? 1 : 0;
            }
        }
        jointIn[j] = in;
    }
    *dragState = (mcb.interfereDragOn == 1 && mpb.interfereDragState == 2) ? 1 : 0;
    for (int i = 0; i < 8; ++i) {
        io[i] = mcb.interfereIo[i];
    }
    return 0;
}

int32_t kxmcGetJointStatus(double targetVel[6], double actualVel[6], double targetAcc[6],
                           double actualAcc[6], double modelTorque[6], double measTorque[6],
                           double tcpWrench[6]) {
    if (targetVel == nullptr || actualVel == nullptr || targetAcc == nullptr ||
        actualAcc == nullptr || modelTorque == nullptr || measTorque == nullptr ||
        tcpWrench == nullptr) {
        return -1;
    }
    for (int j = 0; j < kJoints; ++j) {
        targetVel[j] = 1000.0 * mpb.targetJointVel[j];
        actualVel[j] = 1000.0 * mpb.actualJointVel[j];
        targetAcc[j] = 1000000.0 * mpb.targetJointAcc[j];
        actualAcc[j] = 1000000.0 * mpb.actualJointAcc[j];
        modelTorque[j] = mpb.modelJointTorque[j];
        measTorque[j] = mpb.measuredJointTorque[j];
        tcpWrench[j] = mcb.tcpForceEstimate[j];
    }
    return 0;
}

int32_t kxmcGetJointCurrent(double out[6]) {
    if (out == nullptr) {
        return -1;
    }
    for (int j = 0; j < kJoints; ++j) {
        out[j] = how.jointCurrent[j];
    }
    return 0;
}

}  // extern "C"
