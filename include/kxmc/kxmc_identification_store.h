/* Excitation-trajectory payload identification: the Fourier excitation trajectory, the
 * per-cycle least-squares accumulation of the wrist dynamics, its solution and the payload
 * result. */
#ifndef KXMC_IDENTIFICATION_STORE_H
#define KXMC_IDENTIFICATION_STORE_H

#include <stdbool.h>
#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * How a run goes:
 *   1. kxmcdynstoreresert() prepares a run (heap store, history, baseline).
 *   2. The host moves the arm along the Fourier trajectory (kxmcComputefourierAccVelPos) and
 *      calls kxmcloadidentifymain() every servo cycle with the measured torques and positions.
 *      After duration / 1 ms calls the normal equations are solved, the store is freed and the
 *      run ends.
 *   3. kxmcgetloadidentifyresult() turns the solved parameters, against the no-load baseline,
 *      into the payload's mass and centre of mass.
 * A run of the arm without payload can serve as the baseline of the next runs
 * (kxmcloadidentifyvalue(1)); kxmcselectvalue() returns to the tabulated baseline of the 5-kg
 * arm.
 *
 * The solved parameters theta (27) are the wrist's base parameters as the drives see them
 * through the gear: the joint-side values divided by the gear ratio 100. Per wrist joint
 * 4, 5, 6 nine values: XXR, XY, XZ, YZ, ZZR, MX, MYR, reflected rotor inertia, Coulomb
 * friction. A payload of m kg at (x, y, z) m in the flange frame adds 0.102 m / 100 to theta[6],
 * m (z + 0.1) / 100 to theta[15], m x / 100 to theta[23] and m y / 100 to theta[24].
 */

/* Prepares a run: selects the tabulated baseline unless a measured one is held, restarts the
 * sample history, allocates the store (seven matrices on row-pointer headers: the running sums
 * N = sum Y^T Y and n = sum Y^T tau, zeroed, and the per-sample Y, Y^T, tau, Y^T Y, Y^T tau) and
 * marks the run active. A store left from an earlier run is freed first. Not for the servo
 * cycle. Returns 0, or -1 when an allocation fails: then nothing is held and no run is active. */
KXMC_API int32_t kxmcdynstoreresert(void);

/*
 * One servo cycle of an active run (nothing happens while no run is active).
 * \param[in] torque    measured joint torques (6) [N m] as the drives report them; the
 *                      regressor carries the drives' torque gains of joints 4 and 5 (0.8151 and
 *                      0.8407 of the joint torque; joint 6: 1)
 * \param[in] pos       joint positions (6) [deg]
 * \param[in] duration  length of the run [s]: the run ends at the call whose sample count (from
 *                      0) reaches duration / 0.001 - 1, i.e. at call 500 for 0.5 s
 * The positions, taken relative to the first sample, pass a third-order Butterworth low-pass
 * (unity gain at rest); velocities and accelerations are central differences of the filtered
 * positions, so each sample enters the sums one cycle late, from the third call on; its torque
 * is the one measured a cycle before the position. At the end the solution is written to the
 * identification's parameter vector, the store is freed (with kxmcdynfiltresert) and the run
 * ends. Allocates nothing until that last call.
 * \return 0; -1 when a pointer is null or a value is not finite: the call is ignored.
 */
KXMC_API int32_t kxmcloadidentifymain(const double *torque, const double *pos, double duration);

/* The record whose fifth value (value[4]) scales the identified mass parameter (1 for the
 * torques as passed); the other values are not read. */
typedef struct ExcitationResultBlock {
    double value[12];
} ExcitationResultBlock;

/*
 * Payload of the last solved run against the baseline x0 (48 values, theta[i] paired with
 * x0[21 + i]): w = (s theta[6] - x0[27]) / 0.102, mass = 100 |w| [kg], centre [mm, flange frame]
 * coord = 1000 ((theta[23] - x0[44]) / w, (theta[24] - x0[45]) / w,
 *               (theta[15] - x0[36] - 0.1 w) / w).
 * \return 0; -1 for a null output; -2 when no solved run is held (mass and centre 0); -3 when
 *         the mass is below 1 g or not finite (mass as computed or 0, centre 0).
 */
KXMC_API int32_t kxmcgetloadidentifyresult(ExcitationResultBlock block, double *mass,
                                           double coord[3]);

/* flag 1: the last solved run becomes the baseline (theta[i] to x0[21 + i], x0[0..20] = 0) and
 * is kept by later preparations until kxmcselectvalue(); returns -2 without a solved run. Other
 * flags do nothing. Returns 0. */
KXMC_API int32_t kxmcloadidentifyvalue(int32_t flag);

/* k = 0, 1 or 2: loads the tabulated baseline of the 5-kg arm without payload. Other values do
 * nothing. Returns 0. */
KXMC_API int32_t kxmcselectvalue(uint32_t k);

/*
 * Excitation trajectory: q_j(t) = sum_{l=1..5} (A_jl sin(l w t) - B_jl cos(l w t)) / (l w) + C_j
 * [rad], w = 2 pi / T, at t = k x 0.008 x T / a, written to q (6) in degrees. Returns false;
 * true with q untouched when q is null or a or T is not a positive finite number. The first
 * argument is not read.
 */
KXMC_API bool kxmcComputefourierAccVelPos(double reserved, double a, double T, uint32_t k,
                                          double q[6]);

/* Fills the host's excitation motion record for a trajectory period T [ms]: rec[1] = 12 / (T /
 * 1000), rec[2] = 12.0; rec[0] is left as it is. The reserved words are not read. Returns 0, or
 * -1 (rec untouched) when rec is null or T is not a positive finite number. */
KXMC_API int32_t kxmcComputefourierMotion(uint32_t reserved1, double T, uint32_t reserved2,
                                          double rec[3]);

/* Local extrema of n samples: data[i-1] (i = 2 .. n-1) is a peak when it rises above data[i-2]
 * and data[i] does not exceed it, a valley when it falls below data[i-2] and data[i] is not
 * below it (the first sample of a plateau counts). Peaks are stored first, in order, then
 * valleys; each output array needs room for n / 2 values. Fewer than 3 samples find nothing;
 * null arrays find nothing (the counts, when present, are 0). */
KXMC_API void findPeaksAndValleys(const double *data, uint32_t n, double *peaks, double *valleys,
                                  uint32_t *nPeaks, uint32_t *nValleys);

/* Ends a run: kxmcdynfiltresert, frees the store, clears the run's flags. Returns 0. */
KXMC_API int32_t Store_free(void);

/* ---- Steps of the per-cycle identification, for hosts that drive them themselves ---------- */

/* Adds the sample at history row m (1..4; rows m-1, m, m+1 give the derivatives, torque row
 * m-1) to the running sums. Returns 0, or -1 (nothing added) without a store or for another m. */
KXMC_API int32_t qmcComIdentifySum(int32_t m);

/* Solves the normal equations (N inverted in place, n = N^-1 n) and writes the 27 parameters to
 * out. Returns 0; -1 without a store or for a null out; -2 when N is singular or the solution
 * not finite (out untouched). */
KXMC_API int32_t qmcComIdentifyInv(double *out);

/* Low-pass output of joint (0..5) at history row n (0..5) from the raw and filtered rows before
 * it (rows before 0 count as 0), to *out. Returns 0, or -1 (nothing written) for other
 * arguments. */
KXMC_API int32_t filter_data(int32_t joint, int32_t n, double *out);

/* Wrist regressor (3 x 27 block of the header) at q [rad], qd [rad/s], qdd [rad/s^2] (6 each),
 * in the units of the parameters above, rows multiplied by the drives' torque gains 0.8151,
 * 0.8407 and 1. Returns 0, or -1 (nothing written) for a null input or a header of another
 * size. */
KXMC_API int32_t solve_Hb5(const double *q, const double *qd, const double *qdd, MatHead Y);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_IDENTIFICATION_STORE_H */
