/* Dynamics self-test torque: inverse dynamics in regressor form for the arm families. */
#ifndef KXMC_SELFTEST_H
#define KXMC_SELFTEST_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Parameter vector theta of the self-test model (54 values, nine per link); the gravity-test
 * laws load it from the family's table on the first sample of a gravity test. */
KXMC_API extern double gtau[54];
/* Copy of the parameter vector kept by the gravity-test laws. */
KXMC_API extern double selftauHb_x[54];

/*
 * Joint torques tau = H(q, qd, qdd) * gtau of one arm family (3, 5, 10, 16 kg): the full
 * rigid-body inverse dynamics of its six-joint chain in regressor form (rotor inertias excluded).
 *   q    model input vector, 9 values: q[0] unused, q[1] minus the installation tilt [rad],
 *        q[2] installation rotation [rad], q[3..8] joint angles 1..6 [rad]; gravity in the base
 *        frame is -9.81 (cos r sin t, sin r sin t, cos t) with t = -q[1], r = q[2]
 *   qd   joint rates [rad/s] (6), qdd joint accelerations [rad/s^2] (6)
 *   out  6 x 1 matrix header (rows 0..5, column 0), joint torques [N m] written through it
 * Returns 0; -1 (nothing written) for a null argument or a header that is not 6 x 1.
 */
KXMC_API int32_t computeKx3_selftautest(const double q[9], const double qd[6], const double qdd[6],
                                        MatHead out);
KXMC_API int32_t computeKx5_selftautest(const double q[9], const double qd[6], const double qdd[6],
                                        MatHead out);
KXMC_API int32_t computeKx10_selftautest(const double q[9], const double qd[6], const double qdd[6],
                                         MatHead out);
KXMC_API int32_t computeKx16_selftautest(const double q[9], const double qd[6], const double qdd[6],
                                         MatHead out);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_SELFTEST_H */
