/* Drag teach laws: gravity-test laws, drag lock, interference drag, joint impedance. */
#ifndef KXMC_DRAG_TEACH_H
#define KXMC_DRAG_TEACH_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ==== PID record ========================================================================== */

/* Kp, Ki, Kd stored, the three history values zeroed. Returns 0 (-1 for a null record). */
KXMC_API int32_t PIDInit(PIDRecord *rec, double Kp, double Ki, double Kd);

/*
 * One incremental PID step on error e: sum += e; out = Kp e + Ki sum + Kd (e - last);
 * error before last = last; last = e. Returns 0 (-1 with nothing changed for a null argument).
 */
KXMC_API int32_t PID_increase_Calc(PIDRecord *pid, double e, double *out);

/* ==== Drag lock =========================================================================== */
/*
 * Cartesian spring on the TCP pose captured when the lock engages (the first call after
 * kxmcdynfiltresert). frame: the TCP frame of this cycle (rotation, position [mm]); jointPos
 * [deg]. Per axis x, y, z, a, b, c the PID record turns the pose error into a force [N] or
 * moment [N m] that pulls back toward the captured pose: position error captured - current
 * [m]; orientation error the rotation from the current toward the captured orientation,
 * one tenth of its rotation vector [rad] (quattorpy), in the base frame. The joint correction
 * is J^T F with the arm family's Jacobian, and tauOut = 100 x correction + tauIn [N m]
 * (tauIn and tauOut may be the same array). Each returns 0 (-1 for a null argument).
 */
KXMC_API int32_t teachcontrol3(PIDRecord pid[6], Trsf frame, const double jointPos[6],
                               const double tauIn[6], double tauOut[6]);
KXMC_API int32_t teachcontrol5(PIDRecord pid[6], Trsf frame, const double jointPos[6],
                               const double tauIn[6], double tauOut[6]);
KXMC_API int32_t teachcontrol10(PIDRecord pid[6], Trsf frame, const double jointPos[6],
                                const double tauIn[6], double tauOut[6]);
KXMC_API int32_t teachcontrol16(PIDRecord pid[6], Trsf frame, const double jointPos[6],
                                const double tauIn[6], double tauOut[6]);

/* The correction step of the drag lock laws: q [rad]; correction = J^T F [N m] (6).
 * Returns 0 (-1 for a null argument). */
KXMC_API int32_t kx3_pretau(PIDRecord pid[6], Trsf frame, const double q[6], double correction[6]);
KXMC_API int32_t kx5_pretau(PIDRecord pid[6], Trsf frame, const double q[6], double correction[6]);
KXMC_API int32_t kx10_pretau(PIDRecord pid[6], Trsf frame, const double q[6], double correction[6]);
KXMC_API int32_t kx16_pretau(PIDRecord pid[6], Trsf frame, const double q[6], double correction[6]);

/* ==== Interference drag =================================================================== */

/*
 * Joint impedance: holds the joint angles captured on the first call after kxmcdynfiltresert.
 * Per joint e = captured - q [rad], u = PID step, tauOut = 100 u + tauIn [N m] (single
 * precision). Returns 0 (-1 for a null argument).
 */
KXMC_API int32_t kxmcimpedencejoint(PIDRecord pid[6], const double jointPos[6],
                                    const double tauIn[6], double tauOut[6]);

/*
 * Interference drag by the host's zone state: 0 passes tauIn through and resets the reference
 * (kxmcdynfiltresert) so that the next zone entry captures a fresh one; 1 joint impedance;
 * any other state the drag lock law of the family index (0: 3 kg, 1: 5 kg, 2: 10 kg,
 * 3: 16 kg); index 4 leaves tauOut untouched, any other index copies tauIn.
 * Returns 0 (-1 for a null argument).
 */
KXMC_API int32_t kxmcteachcontrolinterfere(PIDRecord pid[6], uint8_t zoneState, int32_t familyIndex,
                                           Trsf frame, const double jointPos[6],
                                           const double tauIn[6], double tauOut[6]);

/* ==== Gravity-test laws =================================================================== */
/*
 * Hand-guiding torque from the identified rigid-body model of the self-test (gtau).
 *   tiltNeg  minus the installation tilt [deg];  rot  installation rotation [deg]
 *   gain     6 base gains (on the gravity torque), then 6 Kf gains (on the dynamic part)
 *   jointPos [deg];  tauOut  6 joint torques [N m];  modelCode  the family's code
 * On the first sample after kxmcdynfiltresert the law loads its family's parameter vector
 * into gtau and selftauHb_x. The joint angles pass the teach filter (buttord on filt); with
 * qf the filtered angles, tau_g is the model at (qf, 0, 0) and tau_full the model with the
 * filtered rates once more than 500 samples were taken (tau_g before).
 *   3, 10, 16 kg (codes 1, 201, 301): the parameter vector is held in hundredths (motor side
 *   of the 100:1 gear) and tauOut = 100 (gain_base tau_g + gain_Kf (tau_full - tau_g)), i.e.
 *   gain times the joint torque.
 *   5 kg (code 102): the parameter vector includes a point mass of mpb.loadWeight at the
 *   flange; unfiltered angles, the commanded rates and accelerations (mpb.targetJointVel,
 *   mpb.feedJointAcc) and a reflected rotor term; tauOut in N m with no factor 100.
 * Any other model code leaves both model torques zero. Each returns 0 (-1 for a null
 * argument, nothing written).
 */
KXMC_API int32_t kxmcteachcontrol3_gravitytest(double tiltNeg, double rot, const double gain[12],
                                               const double jointPos[6], double tauOut[6],
                                               int32_t modelCode);
KXMC_API int32_t kxmcteachcontrol5_gravitytest(double tiltNeg, double rot, const double gain[12],
                                               const double jointPos[6], double tauOut[6],
                                               int32_t modelCode);
KXMC_API int32_t kxmcteachcontrol10_gravitytest(double tiltNeg, double rot, const double gain[12],
                                                const double jointPos[6], double tauOut[6],
                                                int32_t modelCode);
KXMC_API int32_t kxmcteachcontrol16_gravitytest(double tiltNeg, double rot, const double gain[12],
                                                const double jointPos[6], double tauOut[6],
                                                int32_t modelCode);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DRAG_TEACH_H */
