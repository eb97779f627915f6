/*
 * Payload: the payload table, the static identifications from joint torques (step-driven and
 * nine-point) and the continuous identification from the wrist force/torque sensor.
 *
 * The current payload is mpb.loadWeight [kg] and mpb.loadCoord [mm, flange frame]; the dynamics
 * read it afresh every servo cycle. Masses in kg, lengths in mm unless stated, wrenches Fx, Fy,
 * Fz [N], Mx, My, Mz [N m] (first linear, then angular).
 */
#ifndef KXMC_PAYLOAD_H
#define KXMC_PAYLOAD_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ==== Payload table ======================================================================== */

/*
 * Validates one payload, makes it the current payload and stores it as table entry loadNum.
 * Checks in order, the first failure returns and changes nothing else:
 *   loadNum above 19                                   -> -3 (mcb.paramErrorCode unchanged)
 *   weight not finite, below -1e-6 kg or above the
 *   arm's maximum (no maximum for unknown model codes) -> -1, mcb.paramErrorCode 0x19000004
 *   x, y or z not finite or outside [-1000, 1000] mm   -> -2, mcb.paramErrorCode 0x19000005,
 *                                                         0x19000006 or 0x19000007 (first bad)
 * Accepted: mpb.loadNum, mpb.loadWeight, mpb.loadCoord and entry loadNum of
 * mpb.loadWeightTable / mpb.loadCoordTable are set; logged (level 1 "loadWeight:%f", level 2
 * "loadCoord:%f %f %f"); persisted to "/root/robot/user.config" [USER_PARAM] "LOAD_NUM",
 * "LOAD_WEIGHT", "LOAD_Coord_X", "LOAD_Coord_Y", "LOAD_Coord_Z", then to
 * "/root/robot/load.config" [LOAD_PARAM] "LOAD<n>_WEIGHT", "LOAD<n>_Coord_X", "_Coord_Y",
 * "_Coord_Z"; mpb.cmdId = cmdId. Returns 0.
 */
KXMC_API int32_t qmcSetLoadPara(uint8_t loadNum, double weight, double x, double y, double z,
                                uint32_t cmdId);

/* ==== Step-driven identification from joint torques ======================================== */

/*
 * Clears the identification record (mcb.loadIdentifyOn ... mcb.loadIdentifyCoord, so also the
 * previous result) and the averaging windows, then mcb.loadIdentifyOn = on.
 * Returns 0, or -1 with nothing changed when on > 1.
 */
KXMC_API int32_t qmcLoadIdentifyStartEnd(uint8_t on);

/*
 * Servo-cycle step of the identification while mcb.loadIdentifyOn is 1. The host runs its
 * identification sequence and passes the running step in mpb.cmdId: steps 3-4 and 6-7 average
 * the torque residual of joints 5 and 3 into mass samples, steps 9-10 form the mass and average
 * the residual of joint 6 into centre-of-mass samples; the robot stopping (mpb.robotState 1) in
 * step 9 or 10 forms the result, sets mcb.loadIdentifyFinished and clears mcb.loadIdentifyOn.
 * Residual of a joint: |measured - model| joint torque [N m], the model being the arm's gravity
 * without payload plus friction (when mcb.frictionCompOn is 1). Returns 0.
 */
KXMC_API int32_t kxmcLoadIdentifyControl(void);

/*
 * Result of the step-driven identification: finished flag, mass [kg], centre x, y, z [mm]
 * (copies of mcb.loadIdentifyFinished, mcb.loadIdentifyWeight, mcb.loadIdentifyCoord). A null
 * output is skipped. Returns 0.
 */
KXMC_API int32_t qmcGetLoadWeightCoord(uint8_t *finished, double *weight, double coord[3]);

/* ==== Nine-point identification from joint torques ========================================= */

#define KXMC_LOAD_IDENTIFY_POINTS 9

/*
 * Record of the nine-point identification. Wrenches are the flange wrenches [N, N m, base
 * frame, about the flange origin] that hold the filtered joint torques `torque` at each point,
 * once without and once with the payload.
 */
typedef struct SimplyLoadIdentify {
    uint32_t mode; /* low byte: 0 recording without payload, 1 with payload */
    float noLoadWrench[KXMC_LOAD_IDENTIFY_POINTS][6];
    float loadWrench[KXMC_LOAD_IDENTIFY_POINTS][6];
    double pose[KXMC_LOAD_IDENTIFY_POINTS][12]; /* mpb.flangePose at the point (rotation, mm) */
    double normalMatrix[16];                    /* A^T A of the last result, row-major */
    double rightHandSide[4];                    /* A^T dw of the last result */
} SimplyLoadIdentify;

/* The nine-point record, zero at load. */
KXMC_API extern SimplyLoadIdentify simply_loadidentify;

/* Stores the recording mode (0 without payload, 1 with payload). Returns 0. */
KXMC_API int32_t kxmcSetCurrentLoadIdentifyFlag(uint32_t mode);

/*
 * Records point 1..9: the wrench that explains `torque` at `joint_angle_load` for the arm of
 * mcb.robotModelCode; in mode 0 also the flange pose mpb.flangePose. Returns 0, or -1 with
 * nothing stored for a point number outside 1..9.
 */
KXMC_API int32_t kxmcSaveLoadIdentifyPoint(uint32_t point);

/*
 * Least-squares payload from the nine recorded points: mass [kg] and centre x, y, z [mm,
 * flange frame]. The normal equations of this run are left in the record. Returns 0, or -1
 * with the outputs untouched when the recorded poses do not determine the payload (the poses'
 * normal matrix has |det| < 1e-6; logged at level 4) or an output is null.
 */
KXMC_API int32_t kxmcComEndLoadMain(double *mass, double coord[3]);

/* ==== Continuous identification from the wrist sensor ===================================== */

/*
 * Window length of the continuous identification [servo cycles], 0..1000: sets
 * mcb.loadIdentifyTime and persists "LOAD_IDENTIFY_TIME". Returns 0, or -1 with nothing changed
 * when time > 1000.
 */
KXMC_API int32_t qmcSetLoadIdentifyDynPara(uint32_t time);

/*
 * Switches the continuous identification on (1) or off (0): sets mcb.loadIdentifyDynOn and
 * persists "LOAD_IDENTIFY_DYN". Returns 0, or -1 with nothing changed when on > 1.
 */
KXMC_API int32_t qmcLoadIdentifyDynOnOff(uint8_t on);

/*
 * Servo-cycle step of the continuous identification. While it is on and the arm is hand guided
 * (mpb.robotState 4), every mcb.loadIdentifyTime / 5 cycles the flange wrench
 * (mpb.forceSensorWrench with the sensor active, fault-free and giving the flange frame) and the
 * flange rotation are pushed into a window of five samples; from the fifth sample on each new
 * sample gives an estimate whose mass, limited to the arm's range, becomes mpb.loadWeight.
 * Leaving hand guiding persists the current payload ("LOAD_WEIGHT", "LOAD_Coord_X/Y/Z").
 * Returns 0, or -1 (logged at level 4) when the estimate is not a number.
 */
KXMC_API int32_t kxmcLoadIdentifyDynControl(void);

/*
 * Payload from five samples of the flange wrench and the flange rotation.
 * force: 5 x 6 wrenches [N, N m] in the flange frame, about the flange origin; rotation: 5 x 9
 * flange rotations in the base frame, row-major. mass: |least-squares base-frame load force| /
 * 9.8 [kg]; coord: least-squares centre c of M = c x F [mm, flange frame] (the part along a
 * force that never changes direction is unobservable and comes out as 0). Returns 0, or -1
 * with nothing written for a null argument.
 */
KXMC_API int32_t kxmcComloaddymIdentify(const double force[30], const double rotation[45],
                                        double *mass, double coord[3]);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_PAYLOAD_H */
