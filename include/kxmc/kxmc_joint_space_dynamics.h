/* Joint-space dynamics matrices of the 5-kg arm: tau = M(q) qdd + V(q, qd) qd + G(q). */
#ifndef KXMC_JOINT_SPACE_DYNAMICS_H
#define KXMC_JOINT_SPACE_DYNAMICS_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The model is the 5-kg arm's rigid-body parameter set (the default set of the dynamics block:
 * link masses, centres of mass and inertias, lengths 152, -425, -395, 102, 102, 100 mm) on the
 * floor, gravity 9.8 m/s^2, rigid links only (no rotor inertias, no payload). It is invariant
 * to the first joint angle, and G[0] = 0.
 *
 * q: joint angles (6) [rad]; qd: joint rates (6) [rad/s]. The output header designates a block
 * of the caller's rows: element (i, k) is written to rows[firstRow + i][firstCol + k].
 *
 * com_M_matrix: M (6 x 6), symmetric positive definite [kg m^2].
 * com_C_matrix: V (6 x 6) in the Christoffel form, so that M' - 2V is skew-symmetric and V qd is
 *               the Coriolis and centrifugal torque [kg m^2/s].
 * com_G_matrix: G (6 x 1), the torque that holds the arm against gravity [N m].
 *
 * Each returns 0, or -1 with nothing written when an input is null or not finite, or when the
 * header does not designate a block of the right size (negative or reversed indices, a null row
 * pointer).
 */
KXMC_API int32_t com_M_matrix(const double *q, MatHead M);
KXMC_API int32_t com_C_matrix(const double *q, const double *qd, MatHead V);
KXMC_API int32_t com_G_matrix(const double *q, MatHead G);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_JOINT_SPACE_DYNAMICS_H */
