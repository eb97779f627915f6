/*
 * Safety additions of end-force hand guiding: the virtual wall around a box, joint
 * interference zones, the constrained admittance near singular poses with its manipulability
 * measures, the contact-stiffness estimate of the adaptive damping, and two 3 x 3 routines.
 */
#ifndef KXMC_VIRTUAL_WALL_H
#define KXMC_VIRTUAL_WALL_H

#include <stdint.h>

#include "kxmc_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Joint i has reached its interference zone (set by the virtual wall, released by the idle
 * path of end-force hand guiding). */
KXMC_API extern uint8_t jointInterFlag[6];
/* 1 while the zones have handed the arm to the host's joint drag mode. */
KXMC_API extern uint8_t jointModeChangeFlag;

/*
 * Virtual wall. v: predicted admittance velocity (X, Y, Z [m/s] in the guiding frame, MX, MY,
 * MZ); its translation is rewritten in base axes. Bw: extra damping per axis.
 * With mcb.wallOn = 1 and mcb.interfereDragMode = 0, for a tool (mpb.cartPoseActual x
 * mpb.toolTrsf) within 100 mm of the box (keep-out box, mcb.wallShape 0) or of its faces from
 * inside (keep-in box, shape 1) and moving toward it: Bw = (100.001 / (dist + 0.001) - 1) x
 * (800 for X, Y, Z; 80 for MX, MY, MZ), capped at 15000 and 1000; otherwise 0. The box comes
 * from two corners (mcb.wallDefMode 0) or centre and size (1).
 * With mcb.interfereOn = 1 and mcb.interfereDragMode = 1 the joint interference zones are
 * checked: a joint entering (zone mode 0) or leaving (1) its zone sets its flag, and the
 * first flag hands the arm to the host's joint drag mode (qmcDragSwitch(1)).
 * Returns 0 (-1 with nothing written for a null array).
 */
KXMC_API int32_t kxmcForceSensorVirtualWall(float v[6], float Bw[6]);

/*
 * Repulsive wrench Fc [N, N m] (flange frame, limited to +-100 N and +-6 N m) that pushes the
 * commanded joints away from translational and rotational singularities along the gradients
 * of the manipulability measures. Returns 0; -1 with Fc unwritten when the Jacobian is
 * singular (|det| <= 1e-6, logged at level 4).
 */
KXMC_API int32_t kxmcConstraintsAdmittance(double Fc[6]);

/* Manipulability of the translational (rows 0-2) or rotational (rows 3-5) part of a 6 x 6
 * Jacobian J with the other part's motion projected out: sqrt(det(B' B'^T)), B' = B (I - P),
 * P = A^T (A A^T)^-1 A. 0 when A A^T is singular. */
KXMC_API double kxmcInputJJOutTrans(const double J[36]);
KXMC_API double kxmcInputJJOutROT(const double J[36]);

/*
 * One step of the contact model used by the adaptive damping: extended Kalman filter on the
 * state (deflection, contact stiffness, force offset). q: process noise (3), r: measurement
 * noise (2), z: measured (admittance velocity, force). out: the new state. Returns 0 (-1 for a
 * null argument).
 */
KXMC_API int32_t kxmcKalmanEnvironmenModelEvaluate(const double q[3], const double r[2],
                                                   const double z[2], double out[3]);

/* *out = determinant of the row-major 3 x 3 m (expansion along the first row). Returns 0. */
KXMC_API int32_t det3(const double m[9], double *out);
/* out = m^-1 (adjugate over determinant). A determinant of 0 logs "Matrix is not
 * invertible.\n" at level 2 and returns -1 with out unwritten; otherwise 0. */
KXMC_API int32_t inverseMatrix3(const double m[9], double out[9]);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_VIRTUAL_WALL_H */
