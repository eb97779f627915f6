/* Joint model identification through the drives, and the arm's natural frequency. */
#ifndef KXMC_JOINT_MODEL_H
#define KXMC_JOINT_MODEL_H

#include <stdint.h>

#include "kxmc_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Selects the drives' joint model identification type (kept in singleJointIdentify.modelType).
 * Returns 0. */
KXMC_API int32_t kxmcSetJointModelType(uint16_t type);

/* Switches the drive-side identification of joint 1..6 on (1) or off (0); kept in
 * singleJointIdentify.modelJoint and .modelEnable. Returns 0. */
KXMC_API int32_t kxmcSingleJointModelOnlineOnOff(uint8_t joint, uint16_t on);

/* Live identification value of joint singleJointIdentify.modelJoint (joint 1 until the first
 * call): the drive's raw value, times 1e-6 unless the type is 1. 0 for a joint outside 1..6.
 * Returns 0. */
KXMC_API int32_t kxmcGetJointModelDataOnline(float *value);

/*
 * The three identified model values of joint singleJointIdentify.modelJoint against the
 * reference values of the arm model (zeros for arms without references):
 * difference = reference - identified; status 1 when an identified value exceeds twice its
 * reference, else 0. Null pointers are skipped. Returns 0.
 */
KXMC_API int32_t kxmcGetJointModelStatus(uint16_t *status, float identified[3],
                                         float reference[3], float difference[3]);

/*
 * Lowest natural frequency of the arm [Hz] at joint positions pos (6, deg) with the payload in
 * mpb.loadWeight [kg] and mpb.loadCoord [mm], estimated by the network of the arm model in
 * mcb.robotModelCode (networks for the bands 1-100, 101-200, 201-300, 301-400, 401-500 and
 * 1001-1100, each with and without payload). *freq is written in every case; returns 0 for an
 * estimate in (0, 200] Hz, -1 otherwise (also for arms without a network, where it is 0).
 */
KXMC_API int32_t kxmcCalculateNaturalFreq(const double pos[6], double *freq);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_JOINT_MODEL_H */
