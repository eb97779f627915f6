/* Torque-model and hand-guiding settings, drag power limit, vibration abatement, filter reset. */
#ifndef KXMC_DYNAMICS_SETTINGS_H
#define KXMC_DYNAMICS_SETTINGS_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Settings commands. Each returns 0 when the arguments are accepted, -1 when one is out of
 * range (NaN included) or a required array is null, and -2 for the drag lock / interference drag
 * conflict. An accepted value is stored in its host field first and then persisted as float keys
 * of "/root/robot/user.config"; a rejected call persists nothing.
 */

/*
 * Torque model: 0 gravity only, 1 gravity-test teach law, 2 full dynamics (mcb.newTeachEnable).
 * A model that cannot use the requested version (version 1: model code 3 or above 400;
 * version 0: codes 501-700 and 801-900) is switched to full dynamics and -1 is returned.
 * Accepted: mcb.newTeachGain = base gain x 1.43 (x 1.23 for joints 2 and 3), the Kf gains 1.0;
 * section "TEST_PARAM", keys "NEW_TEACH_ENABLE", "NEW_TEACH_GAIN1".."6", "NEW_TEACH_GAIN_KF1".."6".
 */
KXMC_API int32_t qmcgravityTeachVersionOnOff(uint8_t version);

/* Drag power limit on/off (0, 1) and limit [W]; [USER_PARAM] "POWER_FLAG", "POWER_LIMIT". */
KXMC_API int32_t qmcSetPowerLimit(uint8_t flag, double limit);

/* Friction compensation on/off (0, 1); [USER_PARAM] "FRIC_COMPENSATION". */
KXMC_API int32_t qmcFrictionCompensationOnOff(uint8_t on);

/* Friction compensation gains mpb.frictionGain, -0.000001..1 for the first mpb.jointNum joints;
 * all six are stored and persisted: [USER_PARAM] "FRIC_VALUE_FREE_J1".."J6". */
KXMC_API int32_t qmcSetFrictionValue_free(const float gains[6]);

/*
 * Friction law gains per joint (each 0.5..1.5): low-speed forward/reverse and high-speed
 * forward/reverse. The first call of the library's life sets all 24 host gains to 1.0 before
 * validating. All 24 are validated before any is stored. Keys [USER_PARAM], joint by joint:
 * "FORDEAD_GAINn", "REVDEAD_GAINn", "FORFAST_GAINn", "REVFAST_GAINn".
 */
KXMC_API int32_t qmcSetJointFrictionGain(const double forDead[6], const double revDead[6],
                                         const double forFast[6], const double revFast[6]);

/* Friction law variant of the size-25 motors (0, 1); [USER_PARAM] "FRIC_JOINTSTIFFNESSTYPE". */
KXMC_API int32_t qmcSetJointStiffnessType(uint32_t type);

/* Interference drag mode 0 off, 1 hold in zone, 2 leave drag in zone; mode 1 is refused (-2)
 * while the drag lock is on. [INTERFERE_PARAM] "INTERFERE_DRAG". */
KXMC_API int32_t qmcSetInterfereDrag(uint8_t mode);

/* Drag lock on/off; on is refused (-2) while interference drag mode 1 is set.
 * [DRAGLOCK_PARAM] "DRAGLOCK_ENABLE". */
KXMC_API int32_t qmcDragLockEnableDisable(uint8_t on);

/*
 * Drag lock PID gains per Cartesian axis x, y, z, a, b, c, each 0..10. Taken axis by axis and
 * within an axis P, I, D, each value stored as soon as it is validated. The first value out of
 * range is overwritten with 10.0 in the caller's array and -1 is returned; the gains stored
 * before it stay stored and nothing is persisted. On success [DRAGLOCK_PARAM] "DRAGLOCK_P_X",
 * "DRAGLOCK_I_X", "DRAGLOCK_D_X", "DRAGLOCK_P_Y", ... "DRAGLOCK_D_C".
 */
KXMC_API int32_t qmcSetDragLockPara(double p[6], double i[6], double d[6]);

/*
 * Mean drag power [W] over the last 100 cycles: per cycle the sample sum_j |tau_j omega_j| of
 * the measured joint torques (current x rated motor torque x 101) and the joint speeds [rad/s].
 * Reports 0 until the window holds 100 samples, i.e. on the first 100 calls after load or after
 * a power trip. tau is not used. Returns 0.
 */
KXMC_API int32_t qmcPowerReal(const double tau[6], double *power);

/*
 * Vibration abatement: smooths the acceleration feed mpb.feedJointAcc, relates it to the
 * joint acceleration limits scaled by mcb.speedRatioA, writes the ratio per joint to out (1000
 * for an acceleration of exactly 0, at most 1.0 otherwise) and hands a 0/1 flag per joint (the
 * ratio truncated toward zero is non-zero) to the drives with kxHalSetVarGainFactor. Returns 0.
 */
KXMC_API int32_t kxmcVibrateAbateControl(float out[6]);

/*
 * Filter reset on entering a torque mode: clears the drag-teach filter, the excitation
 * identification history and the drag lock reference unless an excitation identification is
 * running; with full dynamics selected (mcb.newTeachEnable 2) also the histories filt2, filt3
 * and the dual-encoder detector's filt4. Returns 0.
 */
KXMC_API int32_t kxmcdynfiltresert(void);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DYNAMICS_SETTINGS_H */
