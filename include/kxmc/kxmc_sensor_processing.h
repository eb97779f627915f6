/* Wrist force/torque sensor: the per-cycle processing of its samples and the shutdown of every
 * force function. Wrenches are Fx, Fy, Fz [N], Mx, My, Mz [N m]. */
#ifndef KXMC_SENSOR_PROCESSING_H
#define KXMC_SENSOR_PROCESSING_H

#include <stdint.h>

#include "kxmc_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Servo-cycle entry, first of the sensor functions. sample: six words whose low 16 bits are
 * the signed counts of Fx, Fy, Fz, Mx, My, Mz (the upper bits are ignored).
 *  - A fault input of the end device (bit 6 and/or 7 of kxHalGetAxleDin) while processing is on
 *    closes every force function (kxmcCloseForceSensor) and reports 1, 2 or 3 in
 *    mcb.forceSensorState; otherwise the state is 0.
 *  - With processing off (mcb.forceSensorAct != 1) mpb.forceSensorRaw and mpb.forceSensorWrench
 *    are zeroed and the Kalman filters are seeded afresh on the next active cycle.
 *  - Otherwise the counts are scaled by sensor model and range (an unsupported combination keeps
 *    the previous values), each channel passes its Kalman filter (mpb.forceKalman, seeded with
 *    the first sample) into mpb.forceSensorRaw, and the compensated wrench goes to
 *    mcb.forceSensorCompWrench (sensor frame) and mpb.forceSensorWrench (output frame).
 * A null sample counts as all-zero counts. Returns 0.
 */
KXMC_API int32_t forceSensorDataProcess(const int32_t sample[6]);

/*
 * Compensation and frame change of the filtered wrench mpb.forceSensorRaw:
 *   w = raw - zero (zero correction on) - tool gravity wrench - residual offsets (the last two
 *       not while dynamic load identification runs); w -> mcb.forceSensorCompWrench;
 *   out by mcb.forceSensorRefCoord:
 *     0 flange: the wrench about the flange origin in flange axes;
 *     1 base:   force and moment (about the sensor origin) in base axes, using the flange pose
 *               of this cycle;
 *     2 tool:   flange force and moment in tool axes; while constant-force control runs the
 *               moment is taken about the tool point;
 *     other:    w itself.
 * Returns 0 (-1 for a null out).
 */
KXMC_API int32_t trsfToRCS_force(double out[6]);

/*
 * Wrench [N, N m] that the tool on the sensor (mass mpb.forceSensorLoadWeight [kg], centre of
 * mass mpb.forceSensorLoadCoord [mm], sensor frame) applies to the sensor by its weight, in
 * the sensor frame: gravity of the installation (mcb.installTilt, mcb.installRot) turned into
 * the sensor frame through the flange pose mpb.flangePose and the sensor mounting
 * mcb.forceSensorCoord; moment = centre of mass x force. Returns 0 (-1 for a null out).
 */
KXMC_API int32_t forceSensorDataGravityCompensation(double out[6]);

/* Stops every force function: both sensor hand-guiding modes off, sensor collision control and
 * constant-force control ended (resetForceControlPara), the admittance state reset. Returns 0. */
KXMC_API int32_t kxmcCloseForceSensor(void);

/* Ends sensor collision control (mcb.sensorCollisionOn) and constant-force control (when on:
 * mcb.constForceOn, mcb.constForceOffset and mcb.constForcePidAdjustMode cleared). Returns 0. */
KXMC_API int32_t resetForceControlPara(void);

/* *out = mcb.forceSensorAct / mcb.forceSensorState. Return 0 (-1 for a null out). */
KXMC_API int32_t qmcGetForceSensorAct(uint8_t *out);
KXMC_API int32_t kxmcGetForceSensorState(uint8_t *out);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_SENSOR_PROCESSING_H */
