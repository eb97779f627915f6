/* Nonlinear least-squares fit of the joint friction model (Levenberg-Marquardt). */
#ifndef KXMC_CURVE_FIT_H
#define KXMC_CURVE_FIT_H

#include <stdint.h>

#include "kxmc_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Friction model fitted, parameters x = (fc, fs, qs, yita, sita), speed v [rad/s]:
 *   F(x, v) = (fc + (fs - fc) exp(-v^2 / qs^2)) (1 - exp(-yita v)) / (1 + exp(-yita v)) + sita v
 * fc sliding level, fs breakaway level, qs Stribeck speed [rad/s], yita slope of the smooth
 * sign [s/rad], sita viscous slope; torques in the unit of the data.
 */

/* Largest point count a fit takes; more points are cut to this many (stack storage). */
#define KXMC_FIT_MAX_POINTS 128

/* 1 between fitCurve_initialize and fitCurve_terminate. */
KXMC_API extern uint8_t isInitialized_fitCurve;

/* Sets up the non-finite constants and the flag. fitCurve calls it when the flag is clear. */
KXMC_API void fitCurve_initialize(void);
/* Clears the flag. */
KXMC_API void fitCurve_terminate(void);

/*
 * Fits the model to n points (xdata speeds [rad/s], ydata torques) from the start x0 (not
 * written). x: the best accepted parameters; resnorm: sum of squared residuals there. No status:
 * a degenerate point set, exhausted effort (1000 evaluations, 400 iterations) or a failed
 * Jacobian end the fit with the best point reached. n <= 0 or a null data pointer fits no point
 * (x = x0, resnorm 0); a null x0 fits nothing either (x = 0, resnorm 0); n above
 * KXMC_FIT_MAX_POINTS uses the first KXMC_FIT_MAX_POINTS points.
 */
KXMC_API void fitCurve(int32_t n, const double x0[5], const double *xdata, const double *ydata,
                       double x[5], double *resnorm);

/* ---- Building blocks of the fit, exported for the host's diagnostics ---------------------- */

/* Residuals r_i = F(x, xdata_i) - ydata_i of n points. */
KXMC_API void fitCurve_anonFcn1(int32_t n, const double x[5], const double *xdata,
                                const double *ydata, double *r);

/*
 * Residuals at x with x[k] moved by delta (restored before return) into r. Returns 1 when every
 * residual is finite, 0 otherwise.
 */
KXMC_API uint8_t finDiffEvalAndChkErr(int32_t n, double x[5], int32_t k, double delta,
                                      const double *xdata, const double *ydata, double *r);

/*
 * Forward-difference Jacobian at x: J column-major with leading dimension ldj (>= n), column k
 * = (r(x + delta e_k) - r0) / delta, delta = 1.4901161193847656e-08 * max(|x_k|, 1) with the
 * sign of x_k; a non-finite evaluation is retried once with -delta. r_work: n doubles.
 * *evaluations grows by one per evaluation. Returns 1 on success, 0 when a column failed twice.
 */
KXMC_API uint8_t computeFiniteDifferences(int32_t n, double x[5], const double *r0,
                                          const double *xdata, const double *ydata, double *J,
                                          int32_t ldj, double *r_work, int32_t *evaluations);

/* Euclidean norm of x[ix0 .. ix0 + n - 1], scaled against overflow and underflow. */
KXMC_API double xnrm2(int32_t n, const double *x, int32_t ix0);

/*
 * Householder reflector H = I - tau v v^T with H (alpha; x) = (beta; 0): on return *alpha1 is
 * beta and x[ix0 .. ix0 + n - 2] holds v below its leading 1. Returns tau (0 when x is zero).
 */
KXMC_API double xzlarfg(int32_t n, double *alpha1, double *x, int32_t ix0);

/*
 * Applies H = I - tau v v^T from the left to the m x n block of the column-major C (leading
 * dimension ldc) starting at ic0; v is the m entries of C from iv0 (its first entry taken as
 * 1). work: n doubles.
 */
KXMC_API void xzlarf(int32_t m, int32_t n, int32_t iv0, double tau, double *C, int32_t ic0,
                     int32_t ldc, double *work);

/* sqrt(u0^2 + u1^2) without overflow or underflow; NaN when either is NaN. */
KXMC_API double rt_hypotd_snf(double u0, double u1);

/* numerator / denominator rounded toward minus infinity; 0 for a zero denominator. */
KXMC_API int32_t div_nde_s32_floor(int32_t numerator, int32_t denominator);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_CURVE_FIT_H */
