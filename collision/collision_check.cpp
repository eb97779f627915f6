// The per-cycle collision check: residual of measured against model torque per joint, the
// allowance window after acceleration jumps, the hold-off after a resume, the recorded-band and
// level comparisons, the custom limits, and the reactions through the host.
#include <cmath>
#include <cstdint>

#include "collision/collision_counts.hpp"
#include "collision/collision_model.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_collision_check.h"
#include "kxmc/kxmc_custom_collision.h"
#include "kxmc/kxmc_torque_record.h"
#include "numerics/float_cast.hpp"
#include "numerics/model_bands.hpp"

extern "C" {

uint8_t CollisionStartFlag = 0;
int32_t CollisionAfterTime = 0;
double forceCollisionError[6] = {};

}  // extern "C"

namespace {

using kxmc::detail::jointCollisionCount;
using kxmc::detail::tcpCollisionCount;

constexpr int kJoints = 6;
constexpr double kJumpLimit = 50.0;       // [deg/s^2] feed-acceleration jump opening the window
constexpr int32_t kWindowShort = 200;     // [cycles]
constexpr int32_t kWindowLong = 250;      // [cycles] with the 1440 curve
constexpr double kCurveRefLong = 1440.0;
constexpr int32_t kResumeHoldOff = 200;   // [cycles] without detection after a resume
constexpr int32_t kProgressMargin = 100;  // [cycles] at both ends of a motion segment
constexpr int32_t kBandCountDefault = 500;
constexpr double kBandHardFactor = 4.0;   // residual beyond 4x the band: immediate collision
constexpr float kLevelNoCount = 100.0f;   // a joint at this level never counts
constexpr float kLevelFallback = 1.0f;    // level used for a level that is not a number
constexpr int32_t kAfterTimeStop = 1000;  // [cycles] reaction 3
constexpr int32_t kAfterTimeHold = 5000;  // [cycles] reaction 4

// Allowance window.
double lastJointAccel[kJoints] = {};
uint8_t collisionKeepFlag = 1;
int32_t collisionTime1 = 0;
uint8_t timeFlag = 0;
// Resume hold-off.
uint8_t stateLast = 1;
uint8_t pauseResumeFlag = 0;
int32_t pauseResumeCount = 0;
// Recorded-band comparison.
int32_t percentCount[kJoints] = {};
double percentSum[kJoints] = {};
// Error code logged once per error.
uint8_t collisionRecordFlag = 0;

bool jump_over(double d) noexcept {
    const int32_t t = kxmc::trunc_to<int32_t>(d);
    return t > 50 || t < -50;
}

void clear_counters(int n) noexcept {
    for (int j = 0; j < n; ++j) {
        mpb.collisionCounter[j] = 0;
    }
}

void clear_band_counts() noexcept {
    for (int j = 0; j < kJoints; ++j) {
        percentCount[j] = 0;
        percentSum[j] = 0.0;
    }
}

int32_t saturating_inc(int32_t v) noexcept { return v < INT32_MAX ? v + 1 : v; }

int32_t safe_time_cycles() noexcept {
    const uint32_t t = mcb.collisionSafeTime;
    return t > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(t);
}

// Allowance for joints 1 to 3, evaluated while the window after an acceleration jump runs.
void allowance_window(const double d[kJoints], double allow[kJoints]) noexcept {
    const int32_t window = (mpb.collisionCurveRef == kCurveRefLong) ? kWindowLong : kWindowShort;
    const bool jump_any = jump_over(d[0]) || jump_over(d[1]) || jump_over(d[2]);
    // The window ends after its length, or (while disarmed) on a jump of joint 1 or 2 either way
    // or of joint 3 upward.
    if (collisionTime1 > window ||
        (collisionKeepFlag == 0 && (jump_over(d[0]) || jump_over(d[1]) || d[2] > kJumpLimit))) {
        collisionKeepFlag = 1;
        collisionTime1 = 0;
        timeFlag = 0;
    }
    if (jump_any && collisionKeepFlag == 1) {
        collisionKeepFlag = 0;
        collisionTime1 = 1;
        timeFlag = 1;
        dynamicCurrentCollisionLimit(collisionTime1, allow);
    } else if (timeFlag == 1) {
        collisionTime1 = saturating_inc(collisionTime1);
        dynamicCurrentCollisionLimit(collisionTime1, allow);
    }
}

// Stop, bookkeeping and weld reset common to the stop reactions.
void stop_program() noexcept {
    qmcStop();
    doConfigHandle(1, 1);
    resetWeldControlPara();
}

void pause_program() noexcept {
    qmcPause();
    doConfigHandle(1, 1);
    resetWeldControlPara();
}

// Reaction to a collision found by the level thresholds or the custom limits.
void react(uint32_t code, bool tcp) noexcept {
    const uint8_t reaction = mcb.collisionPauseFlag;
    const unsigned shown = reaction;
    switch (reaction) {
        case 0:
            mcb.collisionErrorCode = code;
            pause_program();
            if (tcp) {
                Write_Log(2, "TCP Collision mcb.collisionPauseFlag = :%u", shown);
            }
            break;
        case 2:
            mcb.collisionErrorCode = code;
            stop_program();
            mcb.customCollisionMode = 0;
            if (tcp) {
                Write_Log(2, "TCP Collision mcb.collisionPauseFlag = :%u", shown);
            }
            if (mcb.collisionCheckMode == 2) {
                mcb.frictionCompOn = 0;
                qmcDragSwitch(1);
                if (tcp) {
                    Write_Log(2,
                              "TCP safetyStopEnable Collision After to DragMode "
                              "mcb.collisionPauseFlag = :%u",
                              shown);
                } else {
                    Write_Log(2,
                              "safetyStopEnable Collision After to DragMode "
                              "mcb.collisionPauseFlag = :%u",
                              shown);
                }
            }
            break;
        case 3:
        case 4:
        case 5:
            mcb.collisionErrorCode = code;
            stop_program();
            mcb.customCollisionMode = 0;
            if (reaction != 3) {
                CollisionStartFlag = 1;
            }
            mcb.frictionCompOn = 0;
            qmcDragSwitch(1);
            if (tcp) {
                Write_Log(2, "TCP Collision After to DragMode mcb.collisionPauseFlag = :%u", shown);
            } else {
                Write_Log(2, "Collision After to DragMode mcb.collisionPauseFlag = :%u", shown);
            }
            CollisionAfterTime = reaction == 3   ? kAfterTimeStop
                                 : reaction == 4 ? kAfterTimeHold
                                                 : safe_time_cycles();
            break;
        default:
            mcb.warningCode = KXMC_WARN_REACTION_NOT_CARRIED_OUT;
            break;
    }
}

// Recorded-band comparison: the residual against the recorded band of each joint. Returns true
// when it reported a collision.
bool recorded_band_branch(const double r[kJoints], int n) noexcept {
    int hit = -1;
    for (int j = 0; j < n && hit < 0; ++j) {
        const double lo = mcb.torqueRecordLower[j];
        const double hi = mcb.torqueRecordUpper[j];
        const int32_t limit =
            mcb.torqueRecordCountLimit[j] <= 0 ? kBandCountDefault : mcb.torqueRecordCountLimit[j];
        if (r[j] < kBandHardFactor * lo || r[j] > kBandHardFactor * hi) {
            hit = j;
        } else if (r[j] < lo || r[j] > hi) {
            percentCount[j] = saturating_inc(percentCount[j]);
            percentSum[j] += std::fabs(r[j]);
            const double smaller = std::fabs(lo) < hi ? std::fabs(lo) : hi;
            if (percentCount[j] > limit && percentSum[j] > limit * smaller) {
                percentCount[j] = 0;
                percentSum[j] = 0.0;
                hit = j;
            }
        } else {
            percentCount[j] = 0;
            percentSum[j] = 0.0;
        }
    }
    if (hit < 0) {
        return false;
    }
    mcb.collisionState = 1;
    const uint32_t code = KXMC_COLLISION_NONE + static_cast<uint32_t>(hit + 1);
    if (mcb.collisionPauseFlag == 0) {
        mcb.collisionErrorCode = code;
        pause_program();
    } else if (mcb.collisionPauseFlag == 2) {
        mcb.collisionErrorCode = code;
        stop_program();
    } else {
        mcb.warningCode = KXMC_WARN_REACTION_NOT_CARRIED_OUT;
    }
    clear_band_counts();
    return true;
}

// Level comparison: counts the first joint whose residual exceeds its level threshold.
void level_branch(const double r[kJoints], const double allow[kJoints], int n) noexcept {
    clear_band_counts();
    float ratio[kJoints] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    newCollisionRatio(ratio);
    for (int j = 0; j < n; ++j) {
        const float raw_level = mpb.collisionLevel[j];
        const float level = std::isfinite(raw_level) ? raw_level : kLevelFallback;
        const double f = 1.0 + (level - 1.0) / 3.0;
        const double thr = ratio[j] * mpb.collisionThreshold[j] * f;
        const double bound = j < 3 ? thr + allow[j] : thr;
        if (r[j] < -bound || r[j] > bound) {
            if (std::fabs(level - kLevelNoCount) >= 1e-6) {
                mpb.collisionCounter[j] = saturating_inc(mpb.collisionCounter[j]);
            } else {
                mpb.collisionCounter[j] = 0;
            }
            return;
        }
    }
    clear_counters(n);
}

// Turns counters and custom counts into reactions, joint by joint. Returns true when it reported
// a collision.
bool decisions(const kxmc::detail::CycleTorques &t, int n) noexcept {
    bool found = false;
    // A count limit of zero or less would report a collision on every cycle with counters at
    // zero, without any residual exceeding its threshold: it counts as one exceeding cycle.
    const int32_t limit = mpb.collisionCountLimit < 1 ? 1 : mpb.collisionCountLimit;
    const float limit_f = static_cast<float>(limit);
    for (int j = 0; j < kJoints; ++j) {
        forceCollisionError[j] = t.model[j] / -100.0 + t.meas[j];
        const bool joint_hit =
            j < n && (mpb.collisionCounter[j] >= limit || jointCollisionCount[j] >= limit_f);
        if (joint_hit) {
            mpb.collisionCounter[j] = 0;
            jointCollisionCount[j] = 0.0f;
            tcpCollisionCount[j] = 0.0f;
            mcb.collisionState = 1;
            react(KXMC_COLLISION_NONE + static_cast<uint32_t>(j + 1), false);
            found = true;
        }
        if (tcpCollisionCount[j] >= limit_f) {
            mpb.collisionCounter[j] = 0;
            jointCollisionCount[j] = 0.0f;
            tcpCollisionCount[j] = 0.0f;
            mcb.collisionState = 1;
            react(KXMC_COLLISION_TCP, true);
            found = true;
        }
    }
    return found;
}

void log_error_once() noexcept {
    const uint32_t code = mcb.collisionErrorCode;
    if (code != KXMC_COLLISION_NONE && code != KXMC_COLLISION_TCP && collisionRecordFlag == 0) {
        Write_Log(4, "collisionError:%d", static_cast<int>(code - KXMC_COLLISION_NONE));
        collisionRecordFlag = 1;
    } else if (code == KXMC_COLLISION_NONE && collisionRecordFlag == 1) {
        collisionRecordFlag = 0;
    }
}

}  // namespace

extern "C" {

int32_t kxmcCheckForCollisionError(void) {
    const int n = kxmc::clamp_joints(mpb.jointNum);

    // Inputs: model and measured torque of the cycle.
    kxmc::detail::CycleTorques t;
    kxmc::detail::form_cycle_torques(t);
    for (int j = 0; j < n; ++j) {
        mpb.modelJointTorque[j] = static_cast<float>(t.model[j] / 100.0);
        mpb.measuredJointTorque[j] = static_cast<float>(t.meas[j]);
    }

    // Jumps of the feed acceleration [deg/s^2].
    double d[kJoints];
    for (int j = 0; j < kJoints; ++j) {
        const double a = 1000.0 * mpb.feedJointAcc[j] * 1000.0;
        d[j] = a - lastJointAccel[j];
        lastJointAccel[j] = a;
    }
    double allow[kJoints] = {};
    allowance_window(d, allow);

    // Paused -> running starts the hold-off.
    if (stateLast == 3 && mpb.robotState == 2) {
        pauseResumeFlag = 1;
        pauseResumeCount = 0;
    }
    stateLast = static_cast<uint8_t>(mpb.robotState & 0xFF);

    const uint8_t mode = mcb.collisionCheckMode;
    const bool checking = mode == 1 || mode == 2 ||
                          (mode == 0 && (mpb.robotState == 2 || mcb.collisionForceCheckB == 1 ||
                                         mcb.collisionForceCheckA == 1));
    if (!checking) {
        clear_counters(n);
        return 0;
    }

    if (pauseResumeFlag == 1 && pauseResumeCount < kResumeHoldOff) {
        ++pauseResumeCount;
        return 0;
    }
    pauseResumeFlag = 0;
    pauseResumeCount = 0;

    const bool band_mode = mcb.torqueRecordEnable == 1 && mcb.torqueRecordApply == 1;
    const int64_t step = mpb.segmentStep;
    const bool in_segment =
        step > kProgressMargin && step < static_cast<int64_t>(mpb.segmentSteps) - kProgressMargin;
    if (!(in_segment || mpb.motionType == 9 || mcb.collisionForceCheckA == 1 || band_mode)) {
        clear_counters(n);
        return 0;
    }

    collisionMessageSave(t.model, t.meas);
    double r[kJoints];
    for (int j = 0; j < kJoints; ++j) {
        r[j] = t.meas[j] - t.model[j] / 100.0;
    }

    bool found = false;
    if (band_mode) {
        found = recorded_band_branch(r, n);
    } else {
        level_branch(r, allow, n);
        kxmcCustomCollisionDetectionMain(r, t.meas);
        if (mpb.collisionThresholdMode == 1 && mcb.customCollisionMode != 0) {
            clear_counters(kJoints);
        }
        found = decisions(t, n);
    }
    if (found) {
        kxmc::detail::order_collision_messages();  // the host reads the ring after a collision
    }

    log_error_once();
    return 0;
}

}  // extern "C"
