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
 * Recorder of the friction identification, called by the torque cycle once per cycle while
 * singleJointIdentify.onlineFlag is 1. modelTorque: the cycle's model joint torque (6) [N m].
 */
KXMC_API void kxmcSingleJointFrictionSaveData(const double modelTorque[6]);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_JOINT_FRICTION_IDENTIFY_H */
