/*
 * Collision detection on the wrist sensor's wrench: each selected component (Fx, Fy, Fz, Mx, My,
 * Mz of mpb.forceSensorWrench) has a band [ref - lower, ref + upper]; leaving it triggers the
 * reaction the host's collision settings select (mcb.collisionPauseFlag).
 */
#ifndef KXMC_SENSOR_COLLISION_H
#define KXMC_SENSOR_COLLISION_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Arms (on = 1) or disarms (0) the check; mpb.cmdId = cmdId always. Refused:
 *   on > 1:                                           mcb.errorCode = 0x16000002, -1;
 *   frameIndex outside 0..256, a flag above 1, a null array, or a reference or margin that is
 *   not finite:                                       -1;
 *   sensor processing off:                            -2.
 * Accepted: mcb.sensorCollisionOn = on (arming makes work-piece frame frameIndex the active
 * one), the flags, references and margins stored; 0.
 */
KXMC_API int32_t qmcCollisionStartStop(uint8_t on, int32_t frameIndex, const uint8_t axisSel[6],
                                       const double ref[6], const double upper[6],
                                       const double lower[6], uint32_t cmdId);

/*
 * Cycle check while the sensor processing and the check are on. A selected component above
 * ref + upper or below ref - lower (or not a number) is a collision; by reaction
 * (mcb.collisionPauseFlag):
 *   0 pause, stays armed, code 0x13000007     1 warning only, stays armed, code 0x13000001
 *   2 stop, disarmed, 0x13000007              3, 4 stop and hand guiding for 1000 / 5000 cycles,
 *   5 stop and hand guiding for mcb.collisionSafeTime cycles, stays armed, code unchanged
 *   6 and above: stop, disarmed, 0x13000007                                disarmed, 0x13000007
 * Pause, stop and the switch to hand guiding are made only while a program runs
 * (mpb.robotState 2) and mcb.collisionStopInhibit is 0; every reaction but 1 then tells the
 * host doConfigHandle(1, 1) and resetWeldControlPara(). Returns 0.
 */
KXMC_API int32_t collisionControl(void);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_SENSOR_COLLISION_H */
