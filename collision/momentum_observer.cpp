// Generalized-momentum disturbance observer.
//
// The generalized momentum of the arm, p = M(q) qd, changes only by the joint torques:
//     p' = tau_drive + V^T qd - g - fric + tau_ext
// (Christoffel form of V, so that M' = V + V^T). Integrating the modelled right-hand side and
// pulling the estimate towards the measured momentum with gain K leaves the external torque as
// a first-order lag in the gap between the two, without differentiating the joint rates. One
// call is one 1 ms cycle: momenta are kept in N m x cycle, so one cycle's torque adds directly.

#include <cmath>
#include <cstdint>

#include "collision/collision_levels.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_gravity.h"
#include "kxmc/kxmc_momentum_observer.h"
#include "kxmc/kxmc_numerics.h"

namespace {

constexpr int kJoints = 6;
constexpr double kGain = 0.01;  // observer gain K per cycle: time constant 100 cycles
constexpr double kCyclesPerSecond = 1000.0;
constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
constexpr double kGearFactor = 100.0;     // joint torque from the per mille current
constexpr double kDriveTorqueGain = 1.6;  // fixed gain of the drives' measured torque
constexpr double kMargin = 5.0;           // [N m] added to every threshold
constexpr int32_t kRobotRunning = 2;

// Thresholds [N m] for collision levels 1..10: joints 1-3, joints 4 and 6, joint 5.
using LevelTable = double[kxmc::detail::kCollisionLevels];
constexpr LevelTable kMainAxes = {25, 40, 60, 100, 130, 180, 220, 250, 280, 310};
constexpr LevelTable kWristRoll = {9.5, 14.3, 20.9, 28.9, 36.8, 46, 54.5, 62.5, 70.5, 79.8};
constexpr LevelTable kWristPitch = {10, 19.5, 32, 48, 65.3, 84.3, 103, 119.5, 136.5, 152.5};
constexpr const double *kJointTable[kJoints] = {kMainAxes,  kMainAxes,   kMainAxes,
                                                kWristRoll, kWristPitch, kWristRoll};

// Estimated momentum [N m x cycle]; started from the measured momentum on the first call.
double p_hat[kJoints];
bool observerStarted;

bool all_finite(const double *v, int n) noexcept {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

void restart_from(const double p[kJoints]) noexcept {
    for (int i = 0; i < kJoints; ++i) {
        p_hat[i] = p[i];
    }
}

// Threshold of joint j at its collision level and the program's speed override [N m].
double threshold(int j) noexcept {
    const float level = mpb.collisionLevel[j];
    double x = 0.0;
    double s = 0.0;
    if (kxmc::detail::speed_override(&x)) {
        s = kxmc::detail::speed_factor(x, level);
    }
    if (!(s >= 0.0)) {
        s = 0.0;  // a negative override does not open the band below the margin
    }
    return kJointTable[j][kxmc::detail::level_row(level)] * s;
}

void react(int j) noexcept {
    const uint32_t code = KXMC_COLLISION_NONE + static_cast<uint32_t>(j + 1);
    const bool halt = mcb.collisionNoStop == 0 && mpb.robotState == kRobotRunning;
    switch (mcb.collisionPauseFlag) {
        case 0:
            mcb.collisionErrorCode = code;
            if (halt) {
                static_cast<void>(qmcPause());
            }
            break;
        case 1:
            mcb.collisionErrorCode = code;
            break;
        case 2:
            mcb.collisionErrorCode = code;
            if (halt) {
                static_cast<void>(qmcStop());
            }
            break;
        default:
            break;  // the drag reactions belong to the collision check, not to the observer
    }
}

}  // namespace

extern "C" {

int32_t kxmcMomentumObserver(uint32_t j, uint32_t /*reserved1*/, const double *M, const double *V,
                             const double *g, uint32_t /*reserved2*/, double *thrOut) {
    if (M == nullptr || V == nullptr || g == nullptr || !all_finite(M, kJoints * kJoints) ||
        !all_finite(V, kJoints * kJoints) || !all_finite(g, kJoints) ||
        !all_finite(mpb.actualJointVel, kJoints)) {
        return -1;
    }

    double qd[kJoints];   // [rad/s]
    double tau[kJoints];  // drive torque [N m]
    float rated[kJoints];
    static_cast<void>(kxmcJointDefaultTorque(rated));
    for (int i = 0; i < kJoints; ++i) {
        qd[i] = mpb.actualJointVel[i] * kCyclesPerSecond * kDegToRad;
        tau[i] = how.jointCurrent[i] * 0.001 * kGearFactor * rated[i] * kDriveTorqueGain;
    }
    double fric[kJoints];
    static_cast<void>(frictionCompensation(mpb.actualJointVel, fric));

    double p[kJoints];
    double vt[kJoints * kJoints];
    double c[kJoints];
    static_cast<void>(MatrixMul6and1(M, qd, p));
    static_cast<void>(transposeMatrix(V, vt));
    static_cast<void>(MatrixMul6and1(vt, qd, c));
    for (int i = 0; i < kJoints; ++i) {
        p[i] *= kCyclesPerSecond;  // [N m s] -> [N m x cycle]
    }
    if (!observerStarted) {
        restart_from(p);
        observerStarted = true;
    }

    double r[kJoints];
    for (int i = 0; i < kJoints; ++i) {
        p_hat[i] += (tau[i] + c[i] - g[i] - fric[i]) + kGain * (p[i] - p_hat[i]);
        r[i] = -kGain * (p[i] - p_hat[i]);
        mpb.observerResidual[i] = r[i];
    }

    if (j >= static_cast<uint32_t>(kJoints)) {
        return -1;
    }
    const int k = static_cast<int>(j);
    const double thr = threshold(k);
    mpb.collisionThrSource[k] = 1;
    mpb.collisionThrDisplay[k] = thr;
    if (r[k] > thr + kMargin || r[k] < -(thr + kMargin)) {
        restart_from(p);
        react(k);
    }
    if (thrOut != nullptr) {
        thrOut[k] = thr;
    }
    return 0;
}

}  // extern "C"
