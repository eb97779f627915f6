/* Dynamic residual allowance, custom joint and TCP collision limits, status getters. */
#ifndef KXMC_CUSTOM_COLLISION_H
#define KXMC_CUSTOM_COLLISION_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Extra residual allowance [N m] of the collision check during the window after a jump of the
 * commanded acceleration. t >= 1 is the cycle count since the window opened; allow receives six
 * values (the check uses joints 1-3). The curve follows mpb.collisionCurveRef, the host's
 * per-joint ratios (newCollisionRatio, normalised to joint 2), the speed override against each
 * joint's collision level, and doubles 2.5 times on joints 1 and 2 of the 16-kg arm. A value
 * that would not be finite is 0. Returns 0.
 */
KXMC_API int32_t dynamicCurrentCollisionLimit(int32_t t, double allow[6]);

/*
 * Custom collision detection, once per servo cycle from the collision check.
 * \param[in] r     six joint residuals [N m, motor side]
 * \param[in] meas  six measured joint torques [N m, motor side]
 * mcb.customCollisionMode 2 or 3: estimates the TCP wrench w = (J^T)^-1 meas (x100, into
 * mcb.tcpForceEstimate) and counts the first component outside +-mcb.customTcpLimit.
 * Mode 1 or 3: counts the first joint whose residual is outside +-mcb.customJointLimit.
 * A count of the detector restarts at 0 once every component (joint) is back inside.
 * \return 0, or -1 when the Jacobian is singular (|det| <= 1e-6): the rows are logged and
 *         neither count changes this cycle.
 */
KXMC_API int32_t kxmcCustomCollisionDetectionMain(const double r[6], const double meas[6]);

/* Configures the custom detector: mode 0 off, 1 joint limits [N m], 2 TCP limits (x100 units of
 * the estimate), 3 both. Not persisted. Returns 0, or -1 (mode > 3, a null array, a limit that
 * is not finite) with nothing changed. */
KXMC_API int32_t kxmcSetCustomCollisionDetection(uint8_t mode, const float jointLimit[6],
                                                 const float tcpLimit[6]);

/* Joint interference status: jointIn[j] = 1 when joint j's enabled zone holds it (zone type 0:
 * strictly between min and max; type 1: outside), dragState = 1 when interference drag is on
 * and mpb.interfereDragState is 2, io = mcb.interfereIo (8 bytes). Returns 0 (-1 for a null
 * output). */
KXMC_API int32_t kxmcGetInterfereStatus(uint8_t jointIn[6], uint8_t *dragState, uint8_t io[8]);

/* Joint status of the cycle: target and actual velocities [deg/s] and accelerations [deg/s^2],
 * the collision check's model and measured torques [N m] and the TCP wrench estimate (x100).
 * Returns 0 (-1 for a null output). */
KXMC_API int32_t kxmcGetJointStatus(double targetVel[6], double actualVel[6], double targetAcc[6],
                                    double actualAcc[6], double modelTorque[6],
                                    double measTorque[6], double tcpWrench[6]);

/* Measured joint currents [per mille of rated]. Returns 0 (-1 for a null output). */
KXMC_API int32_t kxmcGetJointCurrent(double out[6]);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_CUSTOM_COLLISION_H */
