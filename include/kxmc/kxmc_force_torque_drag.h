/*
 * Force-and-torque hand guiding: the wrist sensor's wrench becomes joint torques (transposed
 * Jacobian of the arm, optional joint damping, low-pass) that the torque cycle adds to its
 * feed-forward while the arm is in drag.
 */
#ifndef KXMC_FORCE_TORQUE_DRAG_H
#define KXMC_FORCE_TORQUE_DRAG_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Mode on (1) or off (0) with its gains per joint: lambda (fraction of the sensor torque the
 * torque cycle removes, capped at 5), K (stored only), B (joint damping gains, capped at 1),
 * the TCP speed limits maxTcpVel [mm/s] and maxTcpOriVel [deg/s]. Refused: on or
 * impedanceSign other than 0 or 1, a gain below 0 or not a number, a speed limit that is not
 * finite, a null array: mcb.errorCode = 0x16000002, -1; sensor processing off: -2. Nothing is
 * stored on a refusal. Accepted: mcb.forceTorqueDragOn, mcb.impedanceSign,
 * mcb.forceTorqueLambda, mcb.forceTorqueK, mcb.forceTorqueB, mcb.dragMaxTcpVel,
 * mcb.dragMaxTcpOriVel; keys "IMPEDANCE_SIGN", "LAMDAGAIN1".."6", "KGAIN1".."6",
 * "BGAIN1".."6", "DRAGMAXTCPVEL", "DRAGMAXTCPORIVEL" of "/root/robot/user.config"
 * [TEST_PARAM] in that order; 0.
 */
KXMC_API int32_t kxmcForceAndTorqueDragStartStop(int32_t on, int32_t impedanceSign,
                                                 const double lambda[6], const double K[6],
                                                 const double B[6], double maxTcpVel,
                                                 double maxTcpOriVel);

/* mcb.endForceDragOn and mcb.forceTorqueDragOn into the two outputs (null ones skipped); 0. */
KXMC_API int32_t kxmcGetForceAndTorqueDragState(int32_t *outEndForce, int32_t *outForceTorque);

/*
 * Joint torques [N m] of the hand-guiding wrench at joints q [deg]: the compensated sensor
 * wrench, with forces up to 1 N and moments up to 0.05 N m zeroed (written back to
 * mcb.forceSensorCompWrench; a component that is not a number counts as zero), is taken to the
 * flange origin in base axes and mapped through the transposed Jacobian of the arm of
 * mcb.robotModelCode; with mcb.impedanceSign 1 the joint damping -B q_dot [deg/s] is added; the
 * sum passes a second-order low-pass per joint (unit gain at rest). Returns 0 (-1 with nothing
 * written for a null argument).
 */
KXMC_API int32_t kxmcForceDataToTorque(const double q[6], double tau[6]);

/*
 * Low-pass of the joint torques: y = b0 x[k] + b1 x[k-1] + b2 x[k-2] - a1 y[k-1] - a2 y[k-2] of
 * channel ch (0..5) at row k (0..5) of the guiding's history (rows below 0 count as zero),
 * written to out. Returns 0; ch or k out of range or a null out: -1, nothing written.
 */
KXMC_API int32_t TwoForceAndTorqueDragbuttord(int32_t ch, int32_t k, double *out);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_FORCE_TORQUE_DRAG_H */
