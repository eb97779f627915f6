/* Dual-encoder collision detection. */
#ifndef KXMC_DUAL_ENCODER_H
#define KXMC_DUAL_ENCODER_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * One step of the dual-encoder collision detector. Reads both encoders of every joint
 * (how.encoderPosA / how.encoderPosB), low-pass filters the gear deflection of each joint,
 * tracks its local peaks and valleys and reports a collision of joints 1 to 3 when a new peak or
 * valley departs from the mean of the four before it by more than the joint's threshold
 * (arm model, mpb.collisionLevel, the joint's torque). The reaction follows
 * mcb.collisionPauseFlag.
 *
 * \param[in] j    joint index 0..5 whose threshold is published to mpb.collisionThrSource /
 *                 mpb.collisionThrDisplay in this step (other values publish nothing)
 * \param[in] tau  six joint torques of the dynamics model [N m], 32-bit floats; only the
 *                 magnitude is used; null counts as an unloaded arm
 * \return 0
 *
 * The dynamics block calls it six times per servo cycle while a program runs; no peak is
 * evaluated during the first 100 steps after initCollisionDetection().
 */
KXMC_API int32_t kxmcCollisionDetection(int32_t j, const float *tau);

/* Restarts the detector from rest: peak and valley histories, the filtered values of the last
 * two steps, the deflection filter's histories and both of its counters are zeroed. Returns 0. */
KXMC_API int32_t initCollisionDetection(void);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DUAL_ENCODER_H */
