/* Wrist force/torque sensor settings. Each setter checks its arguments, stores the host field
 * the sensor processing reads and persists it in "/root/robot/user.config" [FORCE_SENSOR];
 * a rejected call changes no field and writes no key. */
#ifndef KXMC_SENSOR_SETTINGS_H
#define KXMC_SENSOR_SETTINGS_H

#include <stdint.h>

#include "kxmc_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sensor processing on (1) or off (0): mcb.forceSensorAct, key "FORCESENSOR_SETFLAG",
 * mpb.cmdId = cmdId; 0. Any other flag: mcb.errorCode = 0x16000002, -1. */
KXMC_API int32_t qmcSetForceSensorAct(uint8_t flag, uint32_t cmdId);

/*
 * Zero correction on (1) or off (0). Refused:
 *   flag > 1:                              mcb.errorCode = 0x16000002, mpb.cmdId = cmdId, -1;
 *   output frame 1 (base) selected:        -2;
 *   a tool load configured (mass above 1e-6 kg or a centre-of-mass coordinate outside
 *   +-1e-6 mm):                             -3.
 * Accepted: mcb.forceSensorZeroFlag = flag; the zero becomes the present filtered wrench
 * mpb.forceSensorRaw (flag 1) or zero (flag 0); the residual offsets become zero; keys
 * "FORCESENSOR_ZEROFLAG", "FORCESENSOR_ZERO_FX".."_MZ", "FORCESENSOR_ZEROOFFSET_FX".."_MZ"
 * in that order; mpb.cmdId = cmdId; 0.
 */
KXMC_API int32_t qmcSetForceSensorZero(uint8_t flag, uint32_t cmdId);

/*
 * Output frame (0 flange, 1 base, 2 tool) and the sensor's mounting on the flange: pose =
 * x, y, z [mm], a, b, c [deg] (rotation Rz(c) Ry(b) Rx(a)). Accepted: mcb.forceSensorRefCoord,
 * mcb.forceSensorCoord, keys "FORCESENSOR_COORD_X".."_C" then "FORCESENSOR_REFCOORD",
 * mpb.cmdId = cmdId; 0. A frame above 2 or a pose value that is not finite (or a null pose):
 * mcb.errorCode = 0x16000002, mpb.cmdId = cmdId, -1.
 */
KXMC_API int32_t qmcSetForceSensorRcs(uint8_t frame, const float pose[6], uint32_t cmdId);

/*
 * Mass [kg] of the tool on the sensor, -1e-6 up to the maximum of the arm model (5 kg for
 * model code 0 and the 5-kg arms, 3, 10, 16, 20, 30 kg for the other families; model codes
 * the table does not know have no upper bound). A mass that is not finite is refused. Accepted: mpb.forceSensorLoadWeight, level-1
 * log "forceSensorLoadWeight:%f", key "FORCESENSOR_LOADWEIGHT", mpb.cmdId; 0. Otherwise
 * mcb.paramErrorCode = 0x19000004, -1.
 */
KXMC_API int32_t qmcSetForceSensorLoadWeight(double mass, uint32_t cmdId);

/*
 * Centre of mass [mm] of the tool on the sensor, each coordinate within -1000..1000.
 * Accepted: mpb.forceSensorLoadCoord, level-1 log "forceSensorLoadCoord:%f %f %f", keys
 * "FORCESENSOR_LOADCOORDX", "Y", "Z", mpb.cmdId; 0. Otherwise mcb.paramErrorCode =
 * 0x19000005, 0x19000006 or 0x19000007 for the first failing coordinate x, y, z; -1.
 */
KXMC_API int32_t qmcSetForceSensorLoadCoord(double x, double y, double z, uint32_t cmdId);

/* End-force hand guiding starts by itself (1) or not (0): mcb.endDragAutoFlag, key
 * "FORCESENSOR_ENDDRAGAUTOFLAG"; 0. Any other flag: -1, nothing written. */
KXMC_API int32_t qmcSetForceSensorDragAutoFlag(uint8_t flag);

/* Persists the tool load and residual offsets (after sensor load identification): keys
 * "FORCESENSOR_LOADWEIGHT", "FORCESENSOR_LOADCOORDX".."Z", "FORCESENSOR_ZEROOFFSET_FX".."_MZ".
 * Returns the result of the last write. */
KXMC_API int32_t forceSensorSaveLoadCoord(void);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_SENSOR_SETTINGS_H */
