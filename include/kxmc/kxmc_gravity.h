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
 * Static gravity torque of the standard arm chain (zero velocity and acceleration) for any
 * gravity direction: the joint torques [N m] that hold the arm and its payload.
 * lengths: d1, a2, a3, d4, d5, d6 [mm]; masses: links 1-6 [kg]; centres: 18 values, x, y, z of
 * each link's centre of mass in its own link frame [mm]; payload: mass [kg], centre x, y, z in
 * the flange frame [mm], then six inertia values (not used: a static load needs none);
 * gravity: base-frame acceleration [m/s^2] (floor mounting (0, 0, -9.8)); jointPos [deg];
 * out: 6 torques [N m]. The payload is merged into link 6. Returns 0, or -1 with nothing
 * written when a pointer is null.
 */
KXMC_API int kxmcInvGravity(const double *lengths, const double *masses, const double *centres,
                            const double *payload, const double *gravity, const double *jointPos,
                            double *out);

/*
 * Joint torque that holds the payload alone against gravity: J^T times the payload's weight
 * wrench at the flange.
 * tiltNeg: the negated installation tilt [deg]; rot: installation rotation [deg];
 * jointPos: 6 [deg]; cx, cy, cz: payload centre [mm, flange frame]; mass [kg];
 * out: 6 [N m]; modelCode: 1, 102, 201, 301 (closed-form family Jacobians) or 702-800
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
