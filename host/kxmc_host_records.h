/*
 * The three global records the host controller shares with the library:
 *   mcb - control record (modes, settings, code words, identification and recording buffers)
 *   mpb - motion record (robot state, joint and Cartesian state of the cycle, payload, command id)
 *   how - drive record (measured currents and torque commands)
 *
 * The host owns and defines the objects; the library only declares them. Every field carries
 * its unit in the trailing comment. Angles in degrees, joint velocities in degrees per servo
 * cycle (1 ms), joint accelerations in degrees per cycle squared, lengths in mm, masses in kg,
 * torques in N m, currents and torque commands in per mille of the motor's rated torque.
 */
#ifndef KXMC_HOST_RECORDS_H
#define KXMC_HOST_RECORDS_H

#include <stdint.h>

#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KXMC_JOINTS 6
#define KXMC_TORQUE_RECORD_SAMPLES 12000
#define KXMC_LOAD_TABLE_SIZE 20
#define KXMC_LOAD_IDENTIFY_SAMPLES 1000
#define KXMC_WORKPIECE_FRAMES 257
#define KXMC_WORKPIECE_FRAME_WORDS 49

/* Host code words. */
#define KXMC_COLLISION_NONE 0x13000000u
#define KXMC_COLLISION_JOINT1 0x13000001u
#define KXMC_COLLISION_TCP 0x13000007u
#define KXMC_WARN_DRAG_OVERSPEED 0x22000002u
#define KXMC_WARN_REACTION_NOT_CARRIED_OUT 0x22000003u
#define KXMC_WARN_HANDGUIDE_JOINT1_FAST 0x22000004u
#define KXMC_WARN_HANDGUIDE_SINGULAR 0x22000010u
#define KXMC_PARAM_ERR_COLLISION_LEVEL 0x19000003u
#define KXMC_PARAM_ERR_LOAD_MASS 0x19000004u
#define KXMC_PARAM_ERR_LOAD_X 0x19000005u
#define KXMC_PARAM_ERR_LOAD_Y 0x19000006u
#define KXMC_PARAM_ERR_LOAD_Z 0x19000007u
#define KXMC_ERR_ARGUMENT 0x16000002u
#define KXMC_FAULT_DRAG_POWER 0x10000015u
#define KXMC_FAULT_CONST_FORCE_X 0x10000071u
#define KXMC_FAULT_TORQUE_RECORD_FULL 0x10000081u

/* ------------------------------------------------------------------------------------------ */
/* Control record                                                                               */
/* ------------------------------------------------------------------------------------------ */
typedef struct MotionControlBlock {
    /* Arm model and code words */
    uint32_t robotModelCode;          /* model code, bands of 100 select the family */
    uint32_t faultCode;               /* 0x10000xxx */
    uint32_t warningCode;             /* 0x22000xxx */
    uint32_t errorCode;               /* 0x16000xxx */
    uint32_t paramErrorCode;          /* 0x19000xxx */
    uint32_t collisionErrorCode;      /* 0x13000000 none, +1..+6 joint, +7 TCP */
    uint32_t safetyCode;              /* host safety code (0x23000001 blocks hand guiding) */

    /* Mounting (gravity, mounting and end load) */
    uint8_t installPos;               /* 0 floor, 1 wall, 2 ceiling, 3 any angle */
    double installTilt;               /* [deg] about Y, within [-360, 360] */
    double installRot;                /* [deg] about Z, within [-360, 360] */

    /* Torque model and hand-guiding settings */
    uint8_t newTeachEnable;           /* 0 gravity only, 1 gravity-test law, 2 full dynamics */
    double newTeachGain[KXMC_JOINTS];       /* gravity-test base gains */
    double newTeachGainKf[KXMC_JOINTS];     /* gravity-test Kf gains outside drag */
    double newTeachGainKfDrag[KXMC_JOINTS]; /* gravity-test Kf gains while dragging */
    double newTeachGainBase[KXMC_JOINTS];   /* base gains loaded by the host */
    uint8_t frictionCompOn;           /* 1 = friction compensation on */
    uint32_t fricJointStiffnessType;  /* size-25 friction law variant, 0 or 1 */
    uint8_t powerFlag;                /* 1 = drag power limit active */
    double powerLimit;                /* [W] */
    uint8_t powerCheckOn;             /* 1 = power check and torque override run */
    double speedRatioA;               /* speed ratio (program override), fraction */
    double speedRatioB;               /* speed ratio (manual), fraction */
    uint8_t speedMode;                /* 0 selects speedRatioA, 1 speedRatioB */
    uint8_t dragLockOn;               /* 1 = drag lock */
    double dragLockKp[KXMC_JOINTS];   /* per Cartesian axis x, y, z, a, b, c */
    double dragLockKi[KXMC_JOINTS];
    double dragLockKd[KXMC_JOINTS];
    uint8_t interfereDragMode;        /* 0 off, 1 hold in zone, 2 leave drag in zone */

    /* Collision settings and state */
    uint8_t collisionPauseFlag;       /* reaction 0 pause, 1 warn, 2 stop, 3/4/5 stop and drag */
    uint32_t collisionSafeTime;       /* [cycles] drag duration of reaction 5 */
    uint32_t collisionSafeDistance;   /* [mm] rebound distance limit */
    uint32_t collisionSafeSpeed;      /* [mm/s] rebound TCP speed limit */
    int32_t collisionSafeMargin[KXMC_JOINTS]; /* rebound decay per joint, 1..10 */
    uint8_t collisionState;           /* 1 after a collision until the reaction ends */
    uint8_t collisionCheckMode;       /* 0 program only, 1/2 always (2: stop switches to drag) */
    uint8_t collisionForceCheckA;     /* host force-check request A */
    uint8_t collisionForceCheckB;     /* host force-check request B */
    uint8_t staticCollisionOn;        /* 1 = static collision check outside programs */
    uint8_t collisionNoStop;          /* 1 = momentum observer never halts */
    uint8_t collisionStopInhibit;     /* 1 = sensor collision never halts */
    uint8_t customCollisionMode;      /* 0 off, 1 joint limits, 2 TCP limits, 3 both */
    float customJointLimit[KXMC_JOINTS]; /* [N m] residual limits */
    float customTcpLimit[KXMC_JOINTS];   /* TCP wrench limits, x100 units of the estimate */
    float tcpForceEstimate[KXMC_JOINTS]; /* last estimated TCP wrench x100 */
    uint8_t tcpSpeedOverDragState;    /* 1 request, 2 running after-over-speed drag reaction */
    float tcpSpeedOverDragTime;       /* [cycles] duration of that reaction */

    /* Torque record */
    uint8_t torqueRecordEnable;       /* 1 = feature on */
    uint8_t torqueRecordRun;          /* 0 idle, 1 recording, 2 finished */
    uint8_t torqueRecordApply;        /* 1 = replay and band comparison */
    uint8_t torqueRecordSmooth;       /* 0 linear, 1 B-spline */
    float torqueRecordLower[KXMC_JOINTS]; /* [N m] lower residual band (negative) */
    float torqueRecordUpper[KXMC_JOINTS]; /* [N m] upper residual band (positive) */
    int32_t torqueRecordCountLimit[KXMC_JOINTS]; /* out-of-band samples, <= 0 means 500 */
    int32_t torqueRecordLength;       /* samples recorded per joint */
    int16_t torqueRecordSamples[KXMC_JOINTS][KXMC_TORQUE_RECORD_SAMPLES]; /* [per mille] */
    BsplineFit torqueRecordFit[KXMC_JOINTS];

    /* Force-and-torque hand guiding. The speed limits and the per-joint reduction of the sensor
     * torque have two names each: the start command stores them under one, the torque cycle
     * reads them under the other; both name the same storage. */
    int32_t forceTorqueDragOn;        /* 1 = sensor joint-torque drag on */
    union {
        double forceTorqueDragSpeedLimit; /* [mm/s] TCP speed limit */
        double dragMaxTcpVel;
    };
    union {
        double forceTorqueDragRotSpeedLimit; /* [deg/s] TCP orientation speed limit */
        double dragMaxTcpOriVel;
    };
    union {
        double
            forceTorqueDragReduce[KXMC_JOINTS]; /* fraction removed from the sensor torque, 0..5 */
        double forceTorqueLambda[KXMC_JOINTS];
    };
    int32_t impedanceSign;            /* 1 = joint damping term */
    double forceTorqueK[KXMC_JOINTS];
    double forceTorqueB[KXMC_JOINTS]; /* joint damping gains */

    /* End-force hand guiding */
    int32_t endForceDragOn;           /* 1 = running */
    uint8_t endDragActive;            /* 1 = ran this cycle */
    double endDragInertia[KXMC_JOINTS];   /* [kg] / [kg m^2] */
    double endDragDamp[KXMC_JOINTS];      /* [N s/m] / [N m s/rad] */
    double endDragStiffness[KXMC_JOINTS];
    double endDragForceThreshold[KXMC_JOINTS]; /* [N] / [N m] dead bands */
    int32_t endDragAdaptiveSign;
    int32_t endDragInterfereSign;
    int32_t singularityConstraintsFlag;
    double endDragFMax;               /* [N] saturation per component */
    double endDragVMax;               /* [deg/s] joint speed limit */
    uint8_t endDragAutoFlag;

    /* Force/torque sensor */
    uint8_t forceSensorAct;           /* 1 = sensor processing on */
    uint8_t forceSensorState;         /* fault inputs: 1, 2, 3 */
    uint8_t forceSensorType;          /* sensor model */
    uint8_t forceSensorRange;         /* range index */
    uint8_t forceSensorZeroFlag;
    double forceSensorZero[KXMC_JOINTS];       /* [N] / [N m] */
    double forceSensorZeroOffset[KXMC_JOINTS]; /* [N] / [N m] */
    uint8_t forceSensorRefCoord;      /* output frame 0 flange, 1 base, 2 tool */
    double forceSensorCoord[KXMC_JOINTS];      /* mounting x, y, z [mm], a, b, c [deg] */
    double forceSensorCompWrench[KXMC_JOINTS]; /* compensated wrench, sensor frame */
    uint8_t axleSensorBuffFlag;       /* 1 = queue device words */

    /* Constant-force control */
    uint8_t constForceOn;
    uint8_t constForceAxisSel[KXMC_JOINTS];
    double constForceTarget[KXMC_JOINTS];     /* [N] / [N m] */
    PIDRecord constForcePid[KXMC_JOINTS];
    ILCRecord constForceIlc[KXMC_JOINTS];
    double constForceOffset[KXMC_JOINTS];     /* [mm] / [deg] */
    uint8_t constForcePidAdjustMode;
    uint8_t constForceZFilterOn;
    uint8_t constForceAdmittanceOn;
    double constForceMaxOffset;       /* [mm] */
    double constForceMaxRotOffset;    /* [deg] */
    double constForceRefLength;       /* [mm] */
    int32_t complianceOn;
    double complianceForceThreshold;  /* [N] */
    double complianceRatio;

    /* Sensor-based collision control */
    uint8_t sensorCollisionOn;
    uint8_t sensorCollisionAxisSel[KXMC_JOINTS];
    double sensorCollisionRef[KXMC_JOINTS];
    double sensorCollisionUpper[KXMC_JOINTS];
    double sensorCollisionLower[KXMC_JOINTS];

    /* Virtual wall and interference zones */
    uint8_t wallOn;
    uint8_t wallShape;                /* 0 keep-out box, 1 keep-in box */
    uint8_t wallDefMode;              /* 0 two corners, 1 centre and size */
    double wallCorners[KXMC_JOINTS];  /* [mm] x1, y1, z1, x2, y2, z2 */
    double wallCentre[3];             /* [mm] */
    double wallSize[3];               /* [mm] */
    uint8_t interfereOn;              /* joint interference zone on */
    uint8_t interfereZoneMode;        /* 0 entering triggers, 1 leaving triggers */
    uint8_t interfereJointOn[KXMC_JOINTS];
    double interfereUpper[KXMC_JOINTS];      /* [deg] virtual-wall zones */
    double interfereLower[KXMC_JOINTS];      /* [deg] */
    uint8_t interfereJointEnable[KXMC_JOINTS]; /* status-getter zones */
    double interfereJointMax[KXMC_JOINTS];   /* [deg] */
    double interfereJointMin[KXMC_JOINTS];   /* [deg] */
    uint8_t interfereType;            /* 0 inside, 1 outside */
    uint8_t interfereDragOn;
    uint8_t interfereIo[8];

    /* Step-driven static payload identification: one region cleared as a whole. */
    uint8_t loadIdentifyOn;
    uint32_t loadIdentifyCycle;
    int32_t loadIdentifyWeightCount;
    double loadIdentifyWeightSamples[KXMC_LOAD_IDENTIFY_SAMPLES];   /* [kg] */
    uint8_t loadIdentifyWeightDone;
    int32_t loadIdentifyCoordCount;
    double loadIdentifyCoordSamples[KXMC_LOAD_IDENTIFY_SAMPLES][3]; /* [mm] */
    uint8_t loadIdentifyCoordDone;
    uint8_t loadIdentifyFinished;
    double loadIdentifyWeight;        /* [kg] */
    double loadIdentifyCoord[3];      /* [mm] */
    /* ... immediately followed by the dynamic identification switch. */
    uint8_t loadIdentifyDynOn;
    int32_t loadIdentifyTime;         /* [cycles] 0..1000 */
} MotionControlBlock;

/* ------------------------------------------------------------------------------------------ */
/* Motion record                                                                                */
/* ------------------------------------------------------------------------------------------ */
typedef struct MotionParamBlock {
    int32_t robotState;               /* 1 stopped, 2 running, 3 paused, 4 drag */
    int32_t jointNum;                 /* joints of the arm (6) */
    uint32_t cmdId;                   /* identifier of the last accepted command */

    /* Joint state of the cycle */
    double jointPos[KXMC_JOINTS];       /* [deg] actual */
    double targetJointPos[KXMC_JOINTS]; /* [deg] commanded */
    double prevJointPos[KXMC_JOINTS];   /* [deg] actual, previous cycle */
    double actualJointVel[KXMC_JOINTS]; /* [deg/cycle] */
    double targetJointVel[KXMC_JOINTS]; /* [deg/cycle] */
    double actualJointAcc[KXMC_JOINTS]; /* [deg/cycle^2] */
    double targetJointAcc[KXMC_JOINTS]; /* [deg/cycle^2] */
    double feedJointAcc[KXMC_JOINTS];   /* [deg/cycle^2] acceleration feed-forward */
    float actualJointAccF[KXMC_JOINTS]; /* [deg/s^2] published by the torque cycle */
    float feedJointAccF[KXMC_JOINTS];   /* [deg/s^2] published by the torque cycle */
    double jointMaxSpeed[KXMC_JOINTS];  /* [deg/s] */
    double jointTorqueOverride[KXMC_JOINTS]; /* [N m] motor side; |x| >= 1e-6 overrides */
    double torqueCmdGain[KXMC_JOINTS];  /* expected-current gain of the torque command */

    /* Cartesian state */
    double tcpSpeed;                  /* [mm/s] */
    double tcpRotSpeed;               /* [deg/s] */
    double tcpPos[KXMC_JOINTS];       /* x, y, z [mm], a, b, c [deg] */
    Trsf flangePose;                  /* flange in base */
    Trsf toolTrsf;                    /* tool in flange */
    Trsf cartPoseActual;              /* actual flange pose */
    Trsf cmdCartPose;                 /* commanded tool pose */
    double cmdJointPos[KXMC_JOINTS];  /* [deg] commanded joints */

    /* Program progress */
    int32_t segmentStep;              /* cycles into the current motion segment */
    int32_t segmentSteps;             /* cycles of the current motion segment */
    int32_t motionType;               /* 1 joint move, 2/3/11/12/14..21 linear kinds, 9 ... */
    double jointMoveVel;              /* [deg/s] programmed joint speed */
    double linearMoveVel;             /* [mm/s] programmed linear speed */
    double linearMaxVel;              /* [mm/s] */

    /* Payload */
    uint8_t loadNum;                  /* entry in use, 0..19 */
    double loadWeight;                /* [kg] */
    double loadCoord[3];              /* [mm] flange frame */
    double loadWeightTable[KXMC_LOAD_TABLE_SIZE];     /* [kg] */
    double loadCoordTable[KXMC_LOAD_TABLE_SIZE][3];   /* [mm] */

    /* Friction */
    float frictionGain[KXMC_JOINTS];      /* compensation gain, -0.000001..1 */
    double fricForDeadGain[KXMC_JOINTS];  /* low speed, forward, 0.5..1.5 */
    double fricRevDeadGain[KXMC_JOINTS];  /* low speed, reverse */
    double fricForFastGain[KXMC_JOINTS];  /* high speed, forward */
    double fricRevFastGain[KXMC_JOINTS];  /* high speed, reverse */

    /* Rated motor torques by motor size */
    float ratedTorque14;              /* [N m] motor side */
    float ratedTorque17;
    float ratedTorque25;
    float ratedTorque32;
    float ratedTorque40;

    /* Collision detection */
    float collisionLevel[KXMC_JOINTS];      /* sensitivity 0..100 (tables use 1..10) */
    float collisionLevelSaved[KXMC_JOINTS]; /* as last persisted */
    int32_t collisionCounter[KXMC_JOINTS];  /* consecutive exceeding cycles */
    int32_t collisionCountLimit;            /* cycles that make a collision */
    double collisionThreshold[KXMC_JOINTS]; /* [N m] motor side, level 1 */
    double collisionCurveRef; /* allowance curve reference (1440 selects 250 cycles) */
    uint8_t collisionMode;                  /* 1/2 run the dual-encoder detector */
    uint8_t collisionThresholdMode;         /* 1 = custom limits replace the levels */
    uint8_t collisionThrSource[KXMC_JOINTS];   /* 0 dual-encoder, 1 observer */
    double collisionThrDisplay[KXMC_JOINTS];   /* published threshold */
    double observerResidual[KXMC_JOINTS];      /* [N m] momentum observer */
    float modelJointTorque[KXMC_JOINTS];       /* [N m] motor side */
    float measuredJointTorque[KXMC_JOINTS];    /* [N m] motor side */

    /* Interference zones */
    uint8_t interfereZoneState;       /* 0 outside, 1 joint zone, 2 Cartesian zone */
    uint8_t interfereDragState;

    /* Force/torque sensor */
    double forceSensorRaw[KXMC_JOINTS];     /* [N] / [N m] scaled and filtered sample */
    KalmanInfo forceKalman[KXMC_JOINTS];
    double forceSensorWrench[KXMC_JOINTS];  /* [N] / [N m] reference frame */
    double forceSensorLoadWeight;           /* [kg] tool on the sensor */
    double forceSensorLoadCoord[3];         /* [mm] */
    uint8_t axleSensorEnable;
    uint8_t axleSensorState;
    uint8_t axleSensorCode7;
    uint8_t axleSensorCode8;
    uint32_t activeWorkpieceFrame[KXMC_WORKPIECE_FRAME_WORDS]; /* transform from word 1 */
    uint32_t workpieceFrameTable[KXMC_WORKPIECE_FRAMES][KXMC_WORKPIECE_FRAME_WORDS];
} MotionParamBlock;

/* ------------------------------------------------------------------------------------------ */
/* Drive record                                                                                 */
/* ------------------------------------------------------------------------------------------ */
typedef struct HardwareOutWord {
    int16_t jointCurrent[KXMC_JOINTS];   /* [per mille of rated] measured */
    int16_t jointTorqueCmd[KXMC_JOINTS]; /* [per mille of rated] command */
    int32_t encoderPosA[KXMC_JOINTS];    /* [counts] 16384 per motor revolution */
    int32_t encoderPosB[KXMC_JOINTS];    /* [counts] */
} HardwareOutWord;

extern MotionControlBlock mcb;
extern MotionParamBlock mpb;
extern HardwareOutWord how;

#ifdef __cplusplus
}
#endif

#endif /* KXMC_HOST_RECORDS_H */
