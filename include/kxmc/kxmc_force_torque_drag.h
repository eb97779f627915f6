/* Force-and-torque hand guiding from the wrist sensor. */
#ifndef KXMC_FORCE_TORQUE_DRAG_H
#define KXMC_FORCE_TORQUE_DRAG_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Joint torques [N m] of the hand-guiding wrench measured by the wrist sensor at joints q [deg]
 * (6 each). The torque cycle adds them to the feed-forward in force-and-torque drag.
 * Returns 0 (-1 with nothing written for a null argument).
 */
KXMC_API int32_t kxmcForceDataToTorque(const double q[6], double tau[6]);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_FORCE_TORQUE_DRAG_H */
