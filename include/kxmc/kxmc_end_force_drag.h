/*
 * End-force hand guiding: the operator pushes the tool and the arm follows with a six-axis
 * Cartesian admittance (virtual mass, damper and spring per axis X, Y, Z, MX, MY, MZ) driven by
 * the wrist sensor's wrench in the output frame (mpb.forceSensorWrench). Each cycle the
 * admittance's accumulated offset is applied to the pose where guiding started, checked for
 * joint speed and singular poses, turned into joints by the host's inverse kinematics and
 * handed to the host as the next goal.
 */
#ifndef KXMC_END_FORCE_DRAG_H
#define KXMC_END_FORCE_DRAG_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ==== Butterworth record ================================================================== */

/*
 * Low-pass of one signal that starts from its first sample: the filter runs on the input minus
 * that bias, so its first output equals its first input and a constant passes unchanged.
 * Histories hold six samples (newest at index count - 1).
 */
typedef struct ButterWorthFilter {
    double x[6];      /* input history, inputs minus the bias */
    double y[6];      /* output history */
    double z[6];      /* biased output history (bias + y) */
    double bias;      /* the first input seen */
    int32_t count;    /* samples in the histories, 0..6 */
    int32_t n;        /* coefficients in use, 3 or 5 */
    double a[10];     /* denominator, a[0] = 1 */
    double b[10];     /* numerator */
} ButterWorthFilter;

/*
 * Zeroes the record and loads the coefficients of type 0 (second order, smoothing of the
 * guiding increments), 1 (fourth order, cut-off 0.0056 of Nyquist) or 2 (second order, the
 * constant-force corrections). Returns 0; another type leaves the record zeroed (it then
 * holds its first input) and returns -1, as does a null record.
 */
KXMC_API int32_t kxmcButterWorthFiltInit(ButterWorthFilter *rec, int32_t type);
/* Filters sample x into *out: the biased output when raw is 0, the unbiased one otherwise.
 * Returns 0 (-1 with nothing changed for a null argument). */
KXMC_API int32_t kxmcButterWorthFiltProcessData(ButterWorthFilter *rec, double x, double *out,
                                                int32_t raw);

/* Prefiltered wrench of the last guiding step (X, Y, Z, MX, MY, MZ). */
KXMC_API extern double AdmittanceF[6];

/* Force prefilter of the guiding step: fourth-order low-pass (gain at rest 0.9916) of axis
 * 0..5 at history row 0..5 of its filter record. Returns 0 (-1 with nothing written for an
 * axis or row out of range, or a null out). */
KXMC_API int32_t SensorDragbuttord(int32_t axis, int32_t row, double *out);

/* ==== Commands ============================================================================ */

/*
 * Starts (state 1) or stops (0) end-force hand guiding with its parameters (each six values in
 * axis order X, Y, Z, MX, MY, MZ): inertia [kg, kg m^2], damping [N s/m, N m s/rad], stiffness
 * [N/m, N m/rad], dead-band thresholds [N, N m] (X for the force, MX for the moment); fMax
 * [N, N m] saturates each wrench component; vMax [deg/s] is the joint speed limit.
 * Refused (mcb.errorCode = 0x16000002, -1, nothing stored or written) when state < 0, any
 * damping or inertia is not above 0, any stiffness or fMax is negative, or any value is not
 * finite. Accepted: inertias clamped to 5..30 (translation) and 0.1..10 (rotation), everything
 * stored, the increment filters restarted and 29 keys written: "FORCESENSOR_ENDDRAGFX".."MZ",
 * "FORCESENSOR_INERTIA_X".."_MZ", "FORCESENSOR_DAMP_X".."_MZ", "FORCESENSOR_STIFFNESS_X".."_MZ",
 * "FORCESENSOR_ADAPTIVE_SIGN", "FORCESENSOR_INTERFERE_SIGN", "SINGULARITYCONSTRAINTSFLAG",
 * "FORCESENSOR_ENDDRAGFMAX", "FORCESENSOR_ENDDRAGVMAX". Returns 0.
 */
KXMC_API int32_t kxmcEndForceDragstartstop(int32_t state, int32_t adaptiveSign,
                                           int32_t interfereSign, int32_t singularityFlag,
                                           const double inertia[6], const double damp[6],
                                           const double stiffness[6], const double threshold[6],
                                           double fMax, double vMax);
/* state 0 or 1 while sensor processing is on: mcb.endForceDragOn = state, 0; otherwise
 * mcb.errorCode = 0x16000002, -1. */
KXMC_API int32_t kxmcEndForceDragStartStopControl(int32_t state);
/* *out = mcb.endForceDragOn. Returns 0 (-1 for a null out). */
KXMC_API int32_t kxmcGetEndForceDragStartStopState(int32_t *out);
/* Restarts the six increment filters and clears mcb.forceTorqueDragOn. Returns 0. */
KXMC_API int32_t kxmcInitEndForceDragParam(void);
/* Resets the admittance to rest: offset, velocity, previous wrench, held damping; the next
 * sensor cycle takes the flange pose again and the next step a fresh first wrench. Returns 0. */
KXMC_API int32_t kxmcEndForceDragParamReset(void);

/* ==== Cycle =============================================================================== */

/*
 * Servo-cycle entry, after forceSensorDataProcess. Guiding runs while mpb.robotState is 1,
 * mcb.speedMode 1, mcb.collisionForceCheckA 0, sensor processing and mcb.endForceDragOn on,
 * and neither mcb.faultCode 0x1000001d nor mcb.safetyCode 0x23000001 blocks it. Then the goal
 * goes to mpb.targetJointPos, mpb.flangePose and qmcUpdateJointCartGoalPos; a joint-speed or
 * singular-pose refusal stops guiding with mcb.warningCode 0x22000004..0x22000009 (joint 1..6
 * too fast) or 0x22000010. While guiding does not run the admittance is held at rest at the
 * host's commanded joints and the joint interference zones are released. Returns 0.
 */
KXMC_API int32_t kxmcForceSensorDragProcess(void);

/*
 * One Cartesian admittance step. P: the tool pose where guiding started (rotation, position
 * [mm]); *out: the new goal. Returns 0, or the refusal of kxmcIsOverJntvel (-1..-7) with *out
 * = P and the admittance's first-step state cleared. Outside guiding *out = P and 0.
 */
KXMC_API int32_t kxmcEndForceDragToCart(Trsf P, Trsf *out);

/*
 * Admittance of one axis i (0..2 translation, 3..5 rotation):
 *   v' = v + (F - B v - c K x) / M dt, c = 0.001 (x [mm]) or pi/180 (x [deg]);
 * |v'| is limited to 0.2 m/s or 0.349 rad/s, that limit shrinking by (10000/B)^2 or (50/B)^2
 * when B exceeds 10000 or 50; v[i] = v', dx[i] = dt v' [m, rad]. x is read only.
 * Returns 0 (-1 with nothing written for an axis out of range or a null array).
 */
KXMC_API int32_t kxmcAdmittanceControl(int32_t axis, const double M[6], const double B[6],
                                       const double K[6], const double F[6], double dt,
                                       const double x[6], double v[6], double dx[6]);

/*
 * Joint speed and singular poses of a goal (tool pose): -7 when the goal has no inverse
 * kinematics, when the commanded joints (mpb.targetJointPos) have |q3| <= 5 or >= 160 or
 * |q5| <= 5 or >= 175, or when the shoulder metric of the flange pose is <= 0.001; -1 - j when
 * joint j (0-based, first in order) would move by at least mcb.endDragVMax [deg/s] in one
 * cycle (logged at level 2 "dv[%d] = :%lf\t-- max=%lf\n"); else 0.
 */
KXMC_API int32_t kxmcIsOverJntvel(Trsf goal);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_END_FORCE_DRAG_H */
