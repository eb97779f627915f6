/* Single-joint friction identification. */
#ifndef KXMC_JOINT_FRICTION_IDENTIFY_H
#define KXMC_JOINT_FRICTION_IDENTIFY_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * State of the single-joint friction identification and of the joint model identification.
 * Speeds of the bins in deg/s while recording (rad/s after the fit), torque residuals in N m
 * (measured minus modelled motor torque).
 */
typedef struct SingleJointIdentify {
    uint8_t joint;              /* joint under test, 0..5 */
    uint16_t onlineFlag;        /* 1 while recording: the torque cycle feeds the recorder */
    uint8_t modelJoint;         /* joint model identification: joint */
    uint16_t modelEnable;       /* joint model identification: on */
    uint16_t modelType;         /* joint model identification: type */
    double slowJointVel[40];    /* slow bins: 20 positive, then 20 negative mean speeds */
    double slowJointTorque[40]; /* mean residuals of the slow bins */
    double highJointVel[60];    /* fast bins: 30 positive, then 30 negative mean speeds */
    double highJointTorque[60]; /* mean residuals of the fast bins */
    float sampleVel[10];        /* speeds of the group being collected */
    float sampleTorque[10];     /* residuals of the group being collected */
    float sumVel;               /* group sums, zero between groups */
    float sumTorque;
    int32_t sampleCount; /* samples in the current group */
} SingleJointIdentify;

/* The identification record, zero at load. */
KXMC_API extern SingleJointIdentify singleJointIdentify;

/*
 * Friction identification of one joint. The host arms recording, calls the status once (which
 * restarts the bin counters while recording is on), drives the joint alone through constant
 * speeds below 18 deg/s and then from 18 to 126 deg/s in both directions, switches recording
 * off and calls the status again to fit and judge the recorded curve.
 */

/* joint: 1..6 (stored as joint - 1); on: 1 records from the next torque cycle. Returns 0. */
KXMC_API int32_t kxmcSingleJointFrictionOnlineOnOff(uint8_t joint, uint16_t on);

/*
 * Recorder, called by the torque cycle once per cycle while singleJointIdentify.onlineFlag is 1.
 * modelTorque: the cycle's model joint torque (6) [N m, joint side]. Speed steps of the joint
 * under test are averaged into bins: slow bins of 10 constant-speed samples in windows 0.9 deg/s
 * wide, fast bins of 3 samples in windows 3.6 deg/s wide from 18 deg/s, each direction filled in
 * order. The residual stored is measured minus modelled motor torque [N m, motor side].
 */
KXMC_API void kxmcSingleJointFrictionSaveData(const double modelTorque[6]);

/*
 * While recording: writes 0 into the first element of each array, restarts the bin counters
 * and the slow phase, status 0. Otherwise fits the friction model to the 40 slow and the 60
 * fast bins (speeds converted to rad/s in place; residuals taken to the joint side by the gear
 * factor 100), then:
 *   identified: slow fc, fs, qs, yita, sita, then the fast five (joint side);
 *   reference:  the reference parameters of the joint of the arm model;
 *   difference: reference - identified;
 *   status:     1 when at one of 20 test speeds (3.6 to 90 deg/s, both directions) the
 *               identified friction torque (slow set below 18 deg/s, fast set above) and the
 *               joint's friction compensation torque are more than 1 N m apart and either
 *               differ in sign or differ by more than a factor two; 0 otherwise.
 * Null pointers are skipped. Returns 0.
 */
KXMC_API int32_t kxmcGetJointFrictionStatus(uint16_t *status, float identified[10],
                                            float reference[10], float difference[10]);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_JOINT_FRICTION_IDENTIFY_H */
