// Collision settings commands and the per-model joint speed and acceleration limits.
//
// The setters validate, store into the host records the detectors read, and persist into
// "/root/robot/user.config" [USER_PARAM]. They run in the host's command context; each writes
// single fields the servo cycle picks up on its next run.
#include "kxmc/kxmc_collision_settings.h"

#include <cmath>
#include <cstdint>

#include "dynamics/user_config.hpp"
#include "host/kxmc_host.h"
#include "numerics/model_bands.hpp"

namespace {

using kxmc::detail::persist_user_param;

constexpr int kJoints = KXMC_JOINTS;

// Reactions: 0 pause, 1 warn, 2 stop, 3/4/5 stop and drag (5 = rebound with limits).
constexpr uint8_t kMaxReaction = 5;
constexpr uint8_t kReboundReaction = 5;
constexpr uint32_t kMaxSafeTime = 2000;     // [cycles]
constexpr uint32_t kMaxSafeDistance = 500;  // [mm]
constexpr uint32_t kMinSafeMargin = 1;
constexpr uint32_t kMaxSafeMargin = 10;

constexpr float kMinLevel = 0.0f;
constexpr float kMaxLevel = 100.0f;
constexpr double kLevelResumeTolerance = 1e-6;

constexpr const char *kSafeMarginKeys[kJoints] = {
    "COLLISION_SAFEMARGIN1", "COLLISION_SAFEMARGIN2", "COLLISION_SAFEMARGIN3",
    "COLLISION_SAFEMARGIN4", "COLLISION_SAFEMARGIN5", "COLLISION_SAFEMARGIN6"};
constexpr const char *kLevelKeys[kJoints] = {"J1_COLLISION_LEVEL", "J2_COLLISION_LEVEL",
                                             "J3_COLLISION_LEVEL", "J4_COLLISION_LEVEL",
                                             "J5_COLLISION_LEVEL", "J6_COLLISION_LEVEL"};

// Joint speed and acceleration limits of an arm family.
struct JointLimits {
    double maxVel[kJoints];  // [deg/s]
    float maxAcc[kJoints];   // [deg/s^2]
};

constexpr JointLimits kDefaultJointLimits = {{180, 180, 180, 180, 180, 180},
                                             {360, 360, 360, 360, 360, 360}};

// Model code 0 and codes in no band take the default row (the 3-kg and 5-kg arms' limits).
constexpr kxmc::Band<JointLimits> kJointLimitBands[] = {
    {1, 200, kDefaultJointLimits},                                   // 3-kg, 5-kg arms
    {201, 400, {{120, 120, 180, 180, 180, 180},                      // 10-kg, 16-kg arms
                {240, 240, 360, 360, 360, 360}}},
    {401, 500, {{120, 120, 120, 180, 180, 180}, {120, 120, 120, 360, 360, 360}}},
    {1001, 1100, {{120, 120, 120, 180, 180, 180}, {120, 120, 120, 360, 360, 360}}},
};

const JointLimits &joint_limits() noexcept {
    return kxmc::lookup_band(kJointLimitBands, mcb.robotModelCode, kDefaultJointLimits);
}

// Rebound limits of reaction 5. Margins are tested as unsigned values, so negative ones fail.
bool rebound_limits_valid(uint32_t safeTime, uint32_t safeDistance,
                          const int32_t margin[kJoints]) noexcept {
    if (safeTime > kMaxSafeTime || safeDistance > kMaxSafeDistance) {
        return false;
    }
    for (int j = 0; j < kJoints; ++j) {
        const uint32_t m = static_cast<uint32_t>(margin[j]);
        if (m < kMinSafeMargin || m > kMaxSafeMargin) {
            return false;
        }
    }
    return true;
}

// Written so that NaN fails.
bool level_valid(float level) noexcept { return level >= kMinLevel && level <= kMaxLevel; }

}  // namespace

extern "C" {

int32_t qmcSetStaticCollisionOnOff(uint8_t on) {
    mcb.staticCollisionOn = on;
    persist_user_param("COLLISION_STATIC", on);
    return 0;
}

int32_t qmcSetCollisionPause(uint8_t reaction, uint32_t safeTime, uint32_t safeDistance,
                             uint32_t safeSpeed, const int32_t margin[6]) {
    if (margin == nullptr || reaction > kMaxReaction) {
        return -1;
    }
    if (reaction == kReboundReaction && !rebound_limits_valid(safeTime, safeDistance, margin)) {
        return -1;
    }
    mcb.collisionPauseFlag = reaction;
    mcb.collisionSafeTime = safeTime;
    mcb.collisionSafeDistance = safeDistance;
    mcb.collisionSafeSpeed = safeSpeed;
    for (int j = 0; j < kJoints; ++j) {
        mcb.collisionSafeMargin[j] = margin[j];
    }

    persist_user_param("COLLISION_PAUSE", reaction);
    persist_user_param("COLLISION_SAFETIME", safeTime);
    persist_user_param("COLLISION_SAFEDISTANCE", safeDistance);
    persist_user_param("COLLISION_SAFESPEED", safeSpeed);
    for (int j = 0; j < kJoints; ++j) {
        persist_user_param(kSafeMarginKeys[j], margin[j]);
    }
    return 0;
}

int32_t qmcSetCollisionLevel(uint8_t levelType, const float *level, uint8_t persist,
                             uint32_t cmdId) {
    if (level == nullptr || levelType > 1) {
        return -1;
    }
    // Joint by joint: a rejected level leaves the joints before it at their new level.
    const int joints = kxmc::clamp_joints(mpb.jointNum);
    for (int j = 0; j < joints; ++j) {
        if (!level_valid(level[j])) {
            mcb.paramErrorCode = KXMC_PARAM_ERR_COLLISION_LEVEL;
            return -1;
        }
        mpb.collisionLevel[j] = level[j];
        mpb.collisionCounter[j] = 0;
    }

    if (persist == 1) {
        persist_user_param("COLLISION_LEVEL_TYPE", levelType);
        for (int j = 0; j < kJoints; ++j) {
            persist_user_param(kLevelKeys[j], mpb.collisionLevel[j]);
        }
        for (int j = 0; j < kJoints; ++j) {
            mpb.collisionLevelSaved[j] = mpb.collisionLevel[j];
        }
    }
    mpb.cmdId = cmdId;
    return 0;
}

int32_t qmcSetCollisionMode(uint8_t mode, uint8_t thresholdMode) {
    if (mode >= 3 || thresholdMode >= 2) {
        return -1;
    }
    mpb.collisionMode = mode;
    mpb.collisionThresholdMode = thresholdMode;
    persist_user_param("COLLISION_MODE", mode);
    persist_user_param("COLLISION_THRESHOLDMODE", thresholdMode);
    return 0;
}

int32_t qmcCollisionLevelResume(void) {
    for (int j = 0; j < kJoints; ++j) {
        const double diff = static_cast<double>(mpb.collisionLevel[j]) -
                            static_cast<double>(mpb.collisionLevelSaved[j]);
        // A level that is not a number is not "equal" to the saved one either: restore it.
        if (!(std::fabs(diff) <= kLevelResumeTolerance)) {
            mpb.collisionLevel[j] = mpb.collisionLevelSaved[j];
        }
    }
    return 0;
}

int32_t qmcGetCollisionState(uint8_t *state) {
    if (state == nullptr) {
        return -1;
    }
    *state = mcb.collisionState;
    return 0;
}

int32_t MaxJointVel(double limit[6]) {
    const JointLimits &limits = joint_limits();
    if (limit != nullptr) {
        for (int j = 0; j < kJoints; ++j) {
            limit[j] = limits.maxVel[j];
        }
    }
    constexpr int32_t kDragState = 4;
    if (mpb.robotState == kDragState) {
        // The speed magnitude is compared: a joint turning too fast in the negative direction
        // is as dangerous to the operator as one turning too fast in the positive direction.
        // A non-finite speed counts as too fast.
        for (int j = 0; j < kJoints; ++j) {
            const double speed = std::fabs(1000.0 * mpb.actualJointVel[j]);  // [deg/s]
            if (!(speed <= limits.maxVel[j])) {
                mcb.warningCode = KXMC_WARN_HANDGUIDE_JOINT1_FAST + static_cast<uint32_t>(j);
                break;
            }
        }
    }
    return 0;
}

int32_t JointMaxAcc(float limit[6]) {
    if (limit == nullptr) {
        return -1;
    }
    const JointLimits &limits = joint_limits();
    for (int j = 0; j < kJoints; ++j) {
        limit[j] = limits.maxAcc[j];
    }
    return 0;
}

}  // extern "C"
