/* Rigid-body dynamics blocks of the arm families, their wrappers and the filtered torque arrays. */
#ifndef KXMC_DYNAMICS_MODEL_H
#define KXMC_DYNAMICS_MODEL_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ==== Dynamics block wrappers ============================================================== */
/*
 * The wrappers turn the host's cycle state into the blocks' inputs: joint positions [deg] from
 * the caller (model code 3 turns joints 1, 2, 4 and 6 by -180 deg), velocities
 * mpb.targetJointVel x 1000 [deg/s], accelerations x 1000000 [deg/s^2] (mpb.feedJointAcc for
 * the standard block, mpb.targetJointAcc for the TZ and PX blocks), the payload (mass, centre,
 * zero inertia) and the base-frame gravity of the installation angles mcb.installTilt,
 * mcb.installRot: g = -9.8 (cos r sin t, sin r sin t, cos t) [m/s^2].
 * Payload centre cx, cy, cz [mm, flange frame], mass [kg]; tauOut: 6 joint torques [N m].
 * Each returns 0, or -1 with nothing written when a pointer argument is null.
 */

/*
 * Standard arms (single-precision block). Parameter set as the block takes it: lengths
 * d1, a2, a3, d4, d5, d6 [mm], masses [kg], centres (18) [mm], inertias (36) [kg mm^2], rotor
 * inertias [kg mm^2]; spare (6) is accepted and not used (may be null).
 * inertiaDiag: 6 x 6 row-major; its diagonal receives the mass matrix diagonal [kg m^2], the
 * other entries are zeroed.
 * Each call also filters the measured joint torques and mpb.jointPos into `torque` and
 * `joint_angle_load`, and, while mpb.robotState is 2 and mpb.collisionMode is 1 or 2, runs six
 * steps of the dual-encoder detector with the joint speeds [deg/s]; otherwise it restarts the
 * detector (initCollisionDetection).
 */
KXMC_API int32_t kxqmckxdynamicblock(const double jointPos[6], double cx, double cy, double cz,
                                     double mass, double tauOut[6], const float lengths[6],
                                     const float masses[6], const float centres[18],
                                     const float inertias[36], const float rotor[6],
                                     const float spare[6], double inertiaDiag[36]);

/* TZ family (double-precision block): lengths (6) [mm], masses (6) [kg], centres (36) [mm],
 * inertias (30) [kg mm^2], rotor inertias (6) [kg mm^2]. */
KXMC_API int32_t kxTZqmckxdynamicblock(const double jointPos[6], double cx, double cy, double cz,
                                       double mass, double tauOut[6], const double lengths[6],
                                       const double masses[6], const double centres[36],
                                       const double inertias[30], const double rotor[6]);

/* PX arm (double-precision block with its own masses and inertias): lengths (6) [mm], rotor
 * inertias (6) [kg mm^2]. */
KXMC_API int32_t kxPXqmckxdynamicblock(const double jointPos[6], double cx, double cy, double cz,
                                       double mass, double tauOut[6], const double lengths[6],
                                       const double rotor[6]);

/* Measured joint torques [N m] (how.jointCurrent x 0.001 x rated torque x 101), low-pass
 * filtered by the standard wrapper every cycle (cut-off 0.0056 of Nyquist). */
KXMC_API extern double torque[6];
/* mpb.jointPos [deg] through the same low-pass filter. */
KXMC_API extern double joint_angle_load[6];

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DYNAMICS_MODEL_H */
