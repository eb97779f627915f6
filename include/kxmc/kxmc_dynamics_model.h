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

/* ==== Dynamics blocks ==================================================================== */
/*
 * Standard arms, single precision. Standard Denavit-Hartenberg chain with twists
 * 90, 0, 0, 90, -90, 0 deg.
 * lengths: d1, a2, a3, d4, d5, d6 [mm] (a2, a3 used as -|length|); q [deg], qd [deg/s],
 * qdd [deg/s^2]; payload (10): mass [kg], centre x, y, z [mm, flange frame], inertia about its
 * centre Ixx, Ixy, Ixz, Iyy, Iyz, Izz [kg mm^2]; masses (6) [kg]; centres (18): x, y, z per link
 * in its own link frame [mm]; inertias (36): Ixx, Ixy, Ixz, Iyy, Iyz, Izz per link about its
 * centre [kg mm^2]; rotor (6): reflected rotor inertias [kg mm^2]; gravity (3): base-frame
 * acceleration [m/s^2] (floor: 0, 0, -9.8).
 * Outputs: tau (6) [N m]; tauStatic (6): the gravity torque [N m]; massMatrix (36, row-major,
 * rotor inertias on the diagonal) [kg m^2]; coriolisMatrix (36, row-major) [kg m^2/s], the
 * Christoffel factorisation (Mdot - 2C skew-symmetric). With qd, qdd in rad/s, rad/s^2:
 * tau = tauStatic + coriolisMatrix qd + massMatrix qdd.
 * Returns 0, or -1 with nothing written when a pointer is null.
 */
KXMC_API int32_t qmckxdynamicblock(const float *lengths, const float *q, const float *qd,
                                   const float *qdd, const float *payload, const float *masses,
                                   const float *centres, const float *inertias,
                                   const float *rotor, const float *gravity, float *tau,
                                   float *tauStatic, float *massMatrix, float *coriolisMatrix);

/*
 * TZ family (codes 701, 801-900), double precision, joint torques only. Elbow-offset chain:
 * standard Denavit-Hartenberg with twists 90, 0, 90, -90, 90, 0 deg, a = (0, a2, a3, 0, 0, 0),
 * d = (d1, 0, 0, d4, d5, d6) taken with their signs from lengths (140, -420, 12, 360, 102, 100):
 * upper arm a2, 12 mm elbow offset a3, forearm d4 along joint 4, wrist offsets d5, d6.
 * lengths (6) [mm]; q, qd, qdd as above; payload (10) as above; masses (6) [kg];
 * centres (36): six values per link, centre x, y, z in its own link frame [mm] then three
 * unused; inertias (30): Ixx, Ixy, Ixz, Iyy, Iyz, Izz of links 1 to 5 about their centres
 * [kg mm^2] (link 6 is a point mass); rotor (6) [kg mm^2]; gravity (3) [m/s^2]; tau (6) [N m].
 * Returns 0, or -1 when a pointer is null.
 */
KXMC_API int32_t qmckxTZdynamicblock(const double *lengths, const double *q, const double *qd,
                                     const double *qdd, const double *payload,
                                     const double *masses, const double *centres,
                                     const double *inertias, const double *rotor,
                                     const double *gravity, double *tau);

/*
 * PX arm (code 902), double precision, joint torques only: the standard chain with its own
 * built-in link masses, centres and inertias. lengths (6) [mm]; q, qd, qdd, payload (10),
 * rotor (6), gravity (3) and tau (6) as above. Returns 0, or -1 when a pointer is null.
 */
KXMC_API int32_t qmcPXkx10dynamicblock(const double *lengths, const double *q, const double *qd,
                                       const double *qdd, const double *payload,
                                       const double *rotor, const double *gravity, double *tau);

/*
 * Joint-space dynamics of the 5-kg arm (default parameter set) in double precision, floor
 * mounting (gravity 0, 0, -9.8 m/s^2).
 * jointPos (6) [deg]; jointVel (6) [deg/s]; centres (18): x, y, z of each link's centre of mass
 * in its own link frame [mm]; loadMass [kg]; loadCentre (3): payload centre [mm, flange frame].
 * M (36, row-major, rotor inertias on the diagonal) [kg m^2]; C (36, row-major, Christoffel
 * factorisation, multiplies joint rates in rad/s) [kg m^2/s]; G (6): gravity torque [N m].
 * Returns 0, or -1 when a pointer is null.
 */
KXMC_API int32_t output_MCG(const double *jointPos, const double *jointVel,
                            const double *centres, double loadMass, const double *loadCentre,
                            double *M, double *C, double *G);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DYNAMICS_MODEL_H */
