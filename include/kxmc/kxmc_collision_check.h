/* Per-cycle collision check and its shared state with the torque cycle. */
#ifndef KXMC_COLLISION_CHECK_H
#define KXMC_COLLISION_CHECK_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The per-cycle collision check. Compares each joint's measured motor torque with the model
 * (recorded current or commanded current plus velocity feed-forward and friction), against the
 * level thresholds or the recorded band, runs the custom joint/TCP limits and reacts by
 * mcb.collisionPauseFlag: 0 pause, 1 warning only, 2 stop (drag with collision check mode 2),
 * 3/4/5 stop and drag for 1000 cycles, 5000 cycles with hold, or mcb.collisionSafeTime with
 * rebound. Writes mcb.collisionErrorCode 0x13000001..6 (joint) or 0x13000007 (TCP) and
 * mcb.collisionState. Returns 0.
 */
KXMC_API int32_t kxmcCheckForCollisionError(void);

/* State handed to the per-cycle torque control's after-collision reactions. */
/* 1 = the torque control must start the after-collision drag behaviour. */
KXMC_API extern uint8_t CollisionStartFlag;
/* Remaining cycles of that behaviour. */
KXMC_API extern int32_t CollisionAfterTime;
/* Residual per joint [N m, motor side]: measured minus model torque of the last check. */
KXMC_API extern double forceCollisionError[6];

#ifdef __cplusplus
}
#endif

#endif /* KXMC_COLLISION_CHECK_H */
