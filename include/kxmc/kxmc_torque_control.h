/* Per-cycle torque feed-forward. */
#ifndef KXMC_TORQUE_CONTROL_H
#define KXMC_TORQUE_CONTROL_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The torque feed-forward of one servo cycle, called by the host every cycle in every robot
 * state. jointPos: the joint positions [deg] (6); a null pointer uses mpb.jointPos.
 *
 * In order: housekeeping (vibration abatement, rated torques, accelerations published in
 * deg/s^2); the model torque by mcb.newTeachEnable (0 gravity with payload for the mounting,
 * 1 the family's gravity-test law, 2 the family's rigid-body block with the capped sensor drag
 * term); the friction identification hook; drag lock and interference drag; the start of the
 * after-over-speed reaction; the after-collision reactions 3 (time out), 4 (hold) and 5
 * (rebound) in drag; the static collision check outside programs; friction compensation; the
 * command words how.jointTorqueCmd (mcb.installPos 0..3 only); and, with mcb.powerCheckOn,
 * the drag power limit and the motor-side torque override mpb.jointTorqueOverride.
 *
 * Drag ends through qmcDragSwitch(0) with the level-2 log line
 * "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : N" where N is
 *   0 force-and-torque drag TCP speed over its limit for more than 5 cycles (warning
 *     0x22000002), 1 interference zone entered with interference drag mode 2, 2 reaction timed
 *   out, 3 rebound distance exceeded, 4 static collision reaction timed out, 5 mean drag power
 *   over mcb.powerLimit (fault 0x10000015).
 * Returns 0.
 */
KXMC_API int32_t gravityTorqueControl(const double jointPos[6]);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_TORQUE_CONTROL_H */
