/* Collision settings, per-model joint speed and acceleration limits. */
#ifndef KXMC_COLLISION_SETTINGS_H
#define KXMC_COLLISION_SETTINGS_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Settings commands. Each returns 0 when the arguments are accepted and -1 when they are
 * rejected; an accepted value is stored in its host field first and then persisted as a float
 * key of section "USER_PARAM" in "/root/robot/user.config". A null array argument is rejected.
 */

/* Static collision check outside programs: mcb.staticCollisionOn = on (any value is taken);
 * key "COLLISION_STATIC". */
KXMC_API int32_t qmcSetStaticCollisionOnOff(uint8_t on);

/*
 * Collision reaction (0 pause, 1 warn, 2 stop, 3/4/5 stop and drag) with the limits of the
 * after-collision drag: safeTime [cycles], safeDistance [mm], safeSpeed [mm/s], margin[6]
 * (rebound decay per joint). reaction > 5 is rejected; with reaction 5 the limits must hold
 * safeTime <= 2000, safeDistance <= 500 and 1 <= margin[j] <= 10 for all six joints.
 * Keys in order: "COLLISION_PAUSE", "COLLISION_SAFETIME", "COLLISION_SAFEDISTANCE",
 * "COLLISION_SAFESPEED", "COLLISION_SAFEMARGIN1" ... "COLLISION_SAFEMARGIN6".
 */
KXMC_API int32_t qmcSetCollisionPause(uint8_t reaction, uint32_t safeTime, uint32_t safeDistance,
                                      uint32_t safeSpeed, const int32_t margin[6]);

/*
 * Per-joint collision sensitivity levels, 0..100, for the first mpb.jointNum joints.
 * levelType must be 0 or 1 (it is only persisted). Levels are taken joint by joint, each
 * resetting the joint's collision counter; the first level outside 0..100 (NaN included)
 * sets mcb.paramErrorCode = 0x19000003 and returns -1, leaving the joints before it changed.
 * persist == 1 writes "COLLISION_LEVEL_TYPE" and "J1_COLLISION_LEVEL" ... "J6_COLLISION_LEVEL"
 * and remembers the levels in mpb.collisionLevelSaved. On success mpb.cmdId = cmdId.
 */
KXMC_API int32_t qmcSetCollisionLevel(uint8_t levelType, const float *level, uint8_t persist,
                                      uint32_t cmdId);

/* Dual-encoder detector mode (0..2) and threshold source (0 levels, 1 custom limits);
 * keys "COLLISION_MODE" then "COLLISION_THRESHOLDMODE". */
KXMC_API int32_t qmcSetCollisionMode(uint8_t mode, uint8_t thresholdMode);

/* Puts back the levels last persisted by qmcSetCollisionLevel. Returns 0. */
KXMC_API int32_t qmcCollisionLevelResume(void);

/* Writes mcb.collisionState (1 after a reported collision until the reaction ends). */
KXMC_API int32_t qmcGetCollisionState(uint8_t *state);

/*
 * Joint speed limits of the arm model [deg/s], joints 1-6. While the arm is in drag
 * (mpb.robotState 4) the first joint whose signed speed exceeds its limit sets
 * mcb.warningCode = 0x22000004 + (joint - 1). Returns 0.
 */
KXMC_API int32_t MaxJointVel(double limit[6]);

/* Joint acceleration limits of the arm model [deg/s^2], joints 1-6. Returns 0. */
KXMC_API int32_t JointMaxAcc(float limit[6]);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_COLLISION_SETTINGS_H */
