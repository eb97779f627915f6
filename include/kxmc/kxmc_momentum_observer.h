/* Generalized-momentum disturbance observer for collision detection. */
#ifndef KXMC_MOMENTUM_OBSERVER_H
#define KXMC_MOMENTUM_OBSERVER_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * One servo-cycle step of the momentum observer, called by the host every 1 ms with the arm's
 * dynamics at the current state.
 *
 * \param[in]  j          joint 0..5 compared with its threshold in this call
 * \param[in]  reserved1  ignored
 * \param[in]  M          inertia matrix (36, row-major) [kg m^2]
 * \param[in]  V          Coriolis matrix (36, row-major) in the Christoffel form, so that
 *                        M' - 2V is skew-symmetric (com_C_matrix gives it) [kg m^2/s]
 * \param[in]  g          gravity torque (6) [N m]
 * \param[in]  reserved2  ignored
 * \param[out] thrOut     thrOut[j] receives the threshold of the evaluated joint [N m]; may be
 *                        null
 *
 * The observer integrates the momentum balance of the joints
 *     p' = tau + V^T qd - g - fric + tau_ext,   p = M qd,
 * with the drives' torque tau = how.jointCurrent x 0.001 x 100 x rated x 1.6 (rated from
 * kxmcJointDefaultTorque), the friction model at mpb.actualJointVel and the joint rates
 * qd = mpb.actualJointVel in rad/s. Each call adds one cycle:
 *     p_hat += (tau + V^T qd - g - fric) + K (p - p_hat),   r = -K (p - p_hat),   K = 0.01,
 * with the momenta in N m x cycle (1000 x M qd). The residual r follows -tau_ext, the external
 * torque acting on the joints, as a first-order lag of 1/K = 100 cycles; it is published to
 * mpb.observerResidual for all six joints. The estimate starts from the measured momentum on the
 * first call.
 *
 * Joint j is compared with thr = table(joint, level) x s, with the level mpb.collisionLevel[j]
 * (row trunc(level - 1) of the joint's ten-entry table, clamped to rows 1..10) and the speed
 * factor s = 10 x / level when 10 x <= level, else 1 (x = mcb.speedRatioA in speed mode 0,
 * mcb.speedRatioB in mode 1; s = 0 in any other mode). The threshold is published to
 * mpb.collisionThrSource[j] (1) and mpb.collisionThrDisplay[j]. |r[j]| > thr + 5 is a collision:
 * the estimate restarts from the measured momentum and mcb.collisionPauseFlag selects the
 * reaction with code 0x13000000 + j + 1 in mcb.collisionErrorCode:
 *     0  code; qmcPause() when mcb.collisionNoStop is 0 and the program runs (mpb.robotState 2)
 *     1  code only
 *     2  code; qmcStop() under the same condition as 0
 *     other  nothing
 * The observer never sets mcb.collisionState nor switches to drag mode.
 *
 * \return 0; -1 with nothing changed when M, V or g is null or one of their values or of the
 *         joint rates is not finite; -1 after the observer step when j > 5 (no joint evaluated).
 */
KXMC_API int32_t kxmcMomentumObserver(uint32_t j, uint32_t reserved1, const double *M,
                                      const double *V, const double *g, uint32_t reserved2,
                                      double *thrOut);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_MOMENTUM_OBSERVER_H */
