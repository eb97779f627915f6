/* Torque record, expected current, collision message ring and static collision check. */
#ifndef KXMC_TORQUE_RECORD_H
#define KXMC_TORQUE_RECORD_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KXMC_COLLISION_RING_ROWS 200

/* ==== Torque record ======================================================================= */
/*
 * The user records the measured joint currents while the robot program runs once; later runs
 * replay the recording as the expected current and the collision check compares the residual
 * with a per-joint band. Sequence: start (enable 1) -> run the program -> stop (enable 0) ->
 * start again (enable 1), which turns on replay and the band comparison.
 */

/*
 * Starts, stops or applies the torque record.
 * \param[in] enable      1 start recording / apply a finished recording, 0 stop
 * \param[in] smooth      0 linear interpolation of the replay, 1 B-spline fit
 * \param[in] lower       6 lower residual bands [N m], each below -1e-6 when enable is 1
 * \param[in] upper       6 upper residual bands [N m], each above +1e-6 when enable is 1
 * \param[in] countLimit  6 out-of-band sample limits (<= 0 means 500)
 * \param[in] cmdId       command identifier echoed into mpb.cmdId
 * \return 0, or -1 (enable or smooth above 1, a band of the wrong sign or not finite, a null
 *         array) with nothing changed.
 * Starting a recording clears the samples and restarts the recorder at sample 0.
 */
KXMC_API int32_t qmcTorqueRecordStartEnd(uint8_t enable, uint8_t smooth, const float lower[6],
                                         const float upper[6], const int32_t countLimit[6],
                                         uint32_t cmdId);

/* Clears the record: flags, bands, count limits, length, samples and the six fits; echoes
 * cmdId into mpb.cmdId. Returns 0. */
KXMC_API int32_t qmcTorqueRecordReset(uint32_t cmdId);

/* Clears mcb.torqueRecordApply and mcb.torqueRecordEnable where they are 1. Returns 0. */
KXMC_API int32_t kxmcResetTorqueRecordPara(void);

/*
 * The recorder, once per servo cycle. While mcb.torqueRecordEnable and mcb.torqueRecordRun are
 * both 1 it stores how.jointCurrent of every joint every 50th cycle (12000 samples per joint at
 * most) and publishes the count in mcb.torqueRecordLength. A sampling cycle that finds the
 * buffer full stores nothing, sets mcb.faultCode = 0x10000081 and returns -1; otherwise 0.
 */
KXMC_API int32_t kxmcTorqueRecordProcess(void);

/*
 * Expected current per joint [per mille of rated], truncated toward zero.
 * Without replay: 0.7 x how.jointTorqueCmd x mpb.torqueCmdGain (joint 2's command through the
 * speed-dependent delay line of findHistoryCurrentSet). With replay (enable and apply 1) and
 * the arm not paused: the recording, one sample per 50 cycles, interpolated linearly or by the
 * host's B-spline fit; once the replay passes the last recorded sample, that sample holds.
 * Joints beyond mpb.jointNum get 0. Returns 0 (-1 for a null output).
 */
KXMC_API int32_t kxmcTorqueRecordCollision(int16_t expected[6]);

/*
 * Delay line of joint 2's torque command. The lag L [cycles] follows the programmed speed:
 * joint moves (mpb.motionType 1) 100 x mpb.jointMoveVel / mpb.jointMaxSpeed[0]; linear kinds
 * (2, 3, 11, 12, 14..21) 100 x mpb.linearMoveVel / mpb.linearMaxVel; truncated, within 0..100
 * (0 for other kinds or a non-positive maximum). The first 101 calls return the input;
 * afterwards the input of L calls ago. Returns 0.
 */
KXMC_API int32_t findHistoryCurrentSet(int16_t cur, int16_t *out);

/* ==== Collision message ring ============================================================== */
/*
 * The last 200 cycles of target and actual joint data, six joints per row: positions [deg],
 * velocities [deg/s], accelerations [deg/s^2], torques [N m, motor side]. Row 0 is the oldest
 * while the ring fills, right after a kxmcCheckForCollisionError cycle that reported a
 * collision, and from the first collisionMessagePrintf call on. Between those points a full
 * ring overwrites its oldest row in place each cycle, so the rows are rotated.
 */
KXMC_API extern double collisionJointTarpos[KXMC_COLLISION_RING_ROWS][6];
KXMC_API extern double collisionJointTarvel[KXMC_COLLISION_RING_ROWS][6];
KXMC_API extern double collisionJointTaracc[KXMC_COLLISION_RING_ROWS][6];
KXMC_API extern double collisionJointTartor[KXMC_COLLISION_RING_ROWS][6];
KXMC_API extern double collisionJointRealpos[KXMC_COLLISION_RING_ROWS][6];
KXMC_API extern double collisionJointRealvel[KXMC_COLLISION_RING_ROWS][6];
KXMC_API extern double collisionJointRealacc[KXMC_COLLISION_RING_ROWS][6];
KXMC_API extern double collisionJointRealtor[KXMC_COLLISION_RING_ROWS][6];

/* Print counter 0..799 advanced by the host between collisionMessagePrintf calls; quantity
 * pair k = count / 200 (0 positions, 1 velocities, 2 accelerations, 3 torques). */
KXMC_API extern int32_t saveMsgPrintfCount;

/* Stores one ring row (overwriting the oldest when 200 are stored) from the motion record and
 * the cycle's model torque (joint side, x100) and measured torque (motor side) [N m].
 * Returns 0. */
KXMC_API int32_t collisionMessageSave(const double model[6], const double meas[6]);

/*
 * Logs row i - 200 k (k = saveMsgPrintfCount / 200) of quantity pair k at level 2 as
 * "%d tarpos %lf ..." / "realpos %lf ..." (tarvel/realvel, taracc/realacc, tartor/realtor), and
 * restarts the ring's row count so the next collision records a fresh ring. The rows are put in
 * order, row 0 the oldest, before anything is printed. A
 * saveMsgPrintfCount of 799 wraps to 0. An index or print counter that selects no row
 * (i outside 0..799, a row outside 0..199, a counter outside 0..799) logs nothing and returns
 * -1; otherwise 0.
 */
KXMC_API int32_t collisionMessagePrintf(int32_t i);

/* ==== Static collision check ============================================================== */
/*
 * Collision check while no program runs: the residual of each joint (measured minus expected
 * motor torque) against a fraction of the joint's rated torque: 0.3, 0.5, 0.6, 0.8, 0.8, 0.8
 * for the 3- and 5-kg arms and the small families; 0.4, 0.7, 0.8, 0.8, 0.8, 0.8 for the 10- and
 * 16-kg arms and model 902; 0.8 on every joint of the fifth family; 0.5, 0.8, 0.8, 0.8, 0.8, 0.8
 * for the 1001-1100 family. Every joint over its limit sets CollisionStartFlag,
 * switches to drag (qmcDragSwitch(1)), logs "Static Collision After to DragMode" and sets
 * CollisionAfterTime = 1000. Returns 0.
 */
KXMC_API int32_t qmcCheckTorqueError(void);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_TORQUE_RECORD_H */
