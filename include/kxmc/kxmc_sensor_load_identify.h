/*
 * Identification of the tool that hangs on the wrist sensor: its mass, its centre of mass and
 * the sensor's residual offsets, from the wrench read in three orientations of the flange. The
 * results go where the sensor's gravity compensation reads them (mpb.forceSensorLoadWeight,
 * mpb.forceSensorLoadCoord, mcb.forceSensorZeroOffset); forceSensorSaveLoadCoord persists them.
 *
 * Model, in the sensor frame: force F = m g_s + F0 with g_s the gravity vector turned into the
 * sensor frame, moment M = r x F + M0 with r the centre of mass.
 */
#ifndef KXMC_SENSOR_LOAD_IDENTIFY_H
#define KXMC_SENSOR_LOAD_IDENTIFY_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Six wrench components Fx, Fy, Fz [N], Mx, My, Mz [N m], passed by value. */
typedef struct ForceSensorWrench {
    double w[6];
} ForceSensorWrench;

/*
 * Records pose n (1, 2 or 3): the compensated sensor wrench (as read with zero residual
 * offsets) and the orientation of the sensor in the base frame. Refused, nothing recorded:
 *   n outside 1..3:                                                      -3;
 *   n = 1 and no load felt (every force strictly within +-1 N and every
 *   moment strictly within +-0.1 N m):                                   -1;
 *   a tool load configured (mass above 1e-6 kg, a centre-of-mass
 *   coordinate outside +-1e-6 mm):                                       -2.
 * Accepted: the residual offsets become zero; 0.
 */
KXMC_API int32_t kxmcSaveSensorDataFlag(int32_t n);

/*
 * Solves for centre of mass and moment offset, then for mass and force offset, from the three
 * recorded poses. Writes the centre [mm] to mpb.forceSensorLoadCoord and outCoord (three
 * doubles), the mass [kg] to mpb.forceSensorLoadWeight and outWeight, the offsets to
 * mcb.forceSensorZeroOffset; 0. A stage whose poses are degenerate (normal-matrix determinant
 * within +-1e-6, or not finite) logs the determinant and the three recorded wrenches at level 4
 * and returns -1; a failed second stage leaves the centre of the first written. Returns -1 with
 * nothing written when a pose has not been recorded or an output is null.
 */
KXMC_API int32_t kxmcSensorComload(double *outWeight, double outCoord[3]);

/*
 * Host-collected variant: reads the sensor wrench for the host after 10 ms. Refused: frameIndex
 * outside 0..256: -1; zero correction off: -2; output frame not the flange: -3; a tool load
 * configured: -4. Accepted: work-piece frame frameIndex becomes the active one, out receives
 * mpb.forceSensorWrench; 0.
 */
KXMC_API int32_t qmcGetForceSensorData_loadIdentify(int32_t frameIndex, double out[6]);

/*
 * Centre of mass [mm] from three wrenches data[18] (Fx, Fy, Fz, Mx, My, Mz each) read in
 * different orientations: least squares of M = r x F; 0. Degenerate wrenches (determinant
 * within +-1e-6, or not finite) log it and the three wrenches at level 4 and return -1 with out
 * untouched (also for a null argument).
 */
KXMC_API int32_t qmcForceSensor_loadCoordIdentify(const double data[18], double out[3]);

/* Tool mass [kg] of the force along the sensor's Z axis: |Fz| / 9.8; 0 (-1 for a null out). */
KXMC_API int32_t qmcForceSensor_loadWeightIdentify(ForceSensorWrench wrench, double *out);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_SENSOR_LOAD_IDENTIFY_H */
