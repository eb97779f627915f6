/* Gravity, mounting and end load; rated motor torques. */
#ifndef KXMC_GRAVITY_H
#define KXMC_GRAVITY_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Rated motor torque of each joint of the arm in mcb.robotModelCode, taken from the host's
 * per-size fields mpb.ratedTorque14 ... mpb.ratedTorque40 by the joint's motor size.
 * out: 6 floats [N m, motor side]. Returns 0.
 */
KXMC_API int32_t kxmcJointDefaultTorque(float out[6]);

/*
 * Gravity torque of arm and payload for the mounting in mcb.installPos (0 floor, 1 wall,
 * 2 ceiling through the host's gravity routines, 3 any angle through kxmcGravityTorque).
 * jointPos: 6 joint angles [deg]. load: payload centre x, y, z [mm, flange frame], mass [kg].
 * out: 6 holding torques [N m]; left untouched for model codes without a gravity model
 * (501-700, 801-900) and for a mounting value above 3. Returns 0.
 */
KXMC_API int32_t kxmcNewGravityTorque(const double jointPos[6], const double load[4],
                                      double out[6]);

/*
 * Gravity torque of arm and payload for any installation angle (mcb.installTilt about Y,
 * mcb.installRot about Z [deg]), with the standard parameter set of mcb.robotModelCode.
 * Gravity in the base frame: g = -9.8 (cos r sin t, sin r sin t, cos t) [m/s^2].
 * Arguments as kxmcNewGravityTorque. Returns 0.
 */
KXMC_API int32_t kxmcGravityTorque(const double jointPos[6], const double load[4],
                                   double out[6]);

/*
 * Static inverse dynamics of the standard chain: the joint torque that holds arm and payload
 * against the gravity vector.
 * lengths: d1, a2, a3, d4, d5, d6 [mm]; masses: 6 [kg]; centres: 18 [mm, own link frame];
 * payload: mass [kg], centre x, y, z [mm, flange frame], 6 inertia values (unused);
 * gravity: 3 [m/s^2, base frame]; jointPos: 6 [deg]; out: 6 [N m]. Returns 0.
 */
KXMC_API int32_t kxmcInvGravity(const double lengths[6], const double masses[6],
                                const double centres[18], const double payload[10],
                                const double gravity[3], const double jointPos[6],
                                double out[6]);

/*
 * Joint torque that holds the payload alone against gravity: J^T times the payload's weight
 * wrench at the flange.
 * tiltNeg: the negated installation tilt [deg]; rot: installation rotation [deg];
 * jointPos: 6 [deg]; cx, cy, cz: payload centre [mm, flange frame]; mass [kg];
 * out: 6 [N m]; modelCode: 1, 102, 201, 301 (closed-form family Jacobians) or 701-800
 * (numeric Jacobian of the family's chain); any other code gives zero. Returns 0.
 */
KXMC_API int32_t kxmcendload(double tiltNeg, double rot, const double jointPos[6], double cx,
                             double cy, double cz, double mass, double out[6],
                             int32_t modelCode);

/*
 * Installation angles [deg], each within [-360, 360]. Stores and persists them ("INSTALL_YANGLE",
 * "INSTALL_ZANGLE" in "USER_PARAM"); (0, 0), (90, 0) and (180, 0) also select the floor, wall
 * and ceiling mounting ("INSTALL_POS"). Returns 0, or -1 (nothing changed) for an angle out of
 * range or not a number.
 */
KXMC_API int32_t qmcSetRobotInstallAngle(double tilt, double rot);

/* Mounting 0 floor, 1 wall, 2 ceiling, 3 any angle; stored and persisted ("INSTALL_POS").
 * Returns 0, or -1 (nothing changed) for a value outside 0..3. */
KXMC_API int32_t qmcSetRobotInstallPos(int32_t pos);

/* Writes mcb.installTilt and mcb.installRot [deg]. Returns 0, or -1 for a null pointer. */
KXMC_API int32_t qmcGetRobotInstallAngle(double *tilt, double *rot);

/*
 * Adds an offset pose (x, y, z [mm], a, b, c [deg]) to the current TCP pose: element by element
 * when mcb.forceSensorRefCoord is non-zero, otherwise composed as current * offset in the TCP
 * frame. out: x, y, z, a, b, c. Returns 0, or -1 for a null output.
 */
KXMC_API int32_t qmcPosAddTrsfToRCS(float x, float y, float z, float a, float b, float c,
                                    float out[6]);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_GRAVITY_H */
