/*
 * Numerics toolbox: small dense matrix routines, the arm Jacobians and the servo-cycle filters.
 *
 * Matrices are row-major arrays of doubles owned by the caller: element (i, k) of an r x c
 * matrix is at i*c + k. Nothing here allocates, locks or throws; every routine may run in the
 * 1 ms servo cycle. Routines that "return 0" return it always unless a refusal is listed.
 */
#ifndef KXMC_NUMERICS_H
#define KXMC_NUMERICS_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ==== Fixed-size products and transposes ================================================ */
/* The output may be the same buffer as an input (results are formed in a local first). */

/* P = A B, 4 x 4 (16 doubles each). Returns 0. */
KXMC_API int MatrixMul(const double *A, const double *B, double *P);
/* P = A B, 3 x 3. Returns 0. */
KXMC_API int MatrixMul3(const double *A, const double *B, double *P);
/* P = A B, 6 x 6. Returns 0. */
KXMC_API int MatrixMul6(const double *A, const double *B, double *P);
/* y = A x, A 6 x 6, x and y 6 doubles. Returns 0. */
KXMC_API int MatrixMul6and1(const double *A, const double *x, double *y);
/* B = A^T, 6 x 6. Returns 0. */
KXMC_API int transposeMatrix(const double *A, double *B);
/* c = a x b (3 doubles each). Returns 0. */
KXMC_API int crossProduct(const double *a, const double *b, double *c);

/* ==== Variable-size routines ============================================================ */
/* Counts are signed; a count below 1 does nothing. Outputs of the products and the transpose
 * must not overlap their inputs; sums and differences may be formed in place. */

/* S = A + B, r x c. Returns 0. */
KXMC_API int MatrixAddDimen(int32_t r, int32_t c, const double *A, const double *B, double *S);
/* S = A - B, r x c. Returns 0. */
KXMC_API int MatrixSubDimen(int32_t r, int32_t c, const double *A, const double *B, double *S);
/* P (r x c) = A (r x n) B (n x c). Returns 0. */
KXMC_API int MatrixMulDimen(int32_t r, int32_t n, int32_t c, const double *A, const double *B,
                            double *P);
/* y (r) = A (r x n) x (n) when k >= 1; k < 1 leaves y untouched. Returns 0. */
KXMC_API int MatrixMulDimenSingle(int32_t r, int32_t n, int32_t k, const double *A,
                                  const double *x, double *y);
/* B (c x r) = A^T, A r x c. Returns 0. */
KXMC_API int transposeMatrixDimen(int32_t r, int32_t c, const double *A, double *B);

/* ==== Determinants (cofactor expansion along the first row) ============================== */

/* Leading n x n block of a 6 x 6 storage (row stride 6). n < 1 or n > 6 gives 0. */
KXMC_API double determinant(const double *A, int32_t n);
/* Dense n x n matrix (row stride n), 1 <= n <= 6; other n give 0. */
KXMC_API double determinantDimen(int32_t n, const double *A);
/* Leading n x n block of a 4 x 4 storage (row stride 4), 1 <= n <= 4; other n give 0. */
KXMC_API double determinantDimen4(int32_t n, const double *A);

/* ==== Inversions ========================================================================= */
/* Only inverseMatrix2 detects a singular matrix; the others return non-finite entries for
 * one, so callers that need a guard test the determinant first. The output may be the same
 * buffer as the input. */

/* B = A^-1, 6 x 6, Gauss-Jordan on [A I] pivoting on the diagonal without row exchange (a zero
 * pivot on the way gives non-finite entries even for a regular A). Returns 0. */
KXMC_API int inverseJacobi(const double *A, double *B);
/* B = A^-1, 6 x 6, LU factorisation with partial pivoting. Returns 0. */
KXMC_API int invNxN(const double *A, double *B);
/* Same as invNxN. Returns 0. */
KXMC_API int inv(const double *A, double *B);
/* B = A^-1 for a 4 x 4 matrix of floats, computed in double by LU with partial pivoting; results
 * beyond the float range are stored as +-FLT_MAX. Returns 0. */
KXMC_API int invMatrix(const float *A, float *B);
/* Copy of A inverted with invMatrix, copied to B. Returns 0. */
KXMC_API int inverseMatrix4(const float *A, float *B);
/* B = A^-1 for a 2 x 2 [A0 A1; A2 A3]. A determinant exactly 0 logs "Matrix is not
 * invertible.\n" at level 4 and returns -1 with B untouched; otherwise returns 0. */
KXMC_API int inverseMatrix2(const double *A, double *B);

/* ==== Rotation difference ================================================================= */

/* Rotation step from pose a toward pose b: with R = a^-1 b and its unit quaternion
 * (w, v), w >= 0, theta = acos(w), out = 2 v sin(0.1 theta) / sin(theta), the vector part of the
 * quaternion interpolated one tenth of the way from the identity toward R (times two). For a
 * small rotation out is about one tenth of R's rotation vector [rad]; equal poses give 0.
 * Returns 0. */
KXMC_API int quattorpy(Trsf a, Trsf b, double *out);

/* ==== Non-finite constants ================================================================ */
/* NaN is the negative quiet NaN (0xFFF8000000000000, float 0xFFC00000). The globals hold their
 * values from load on; rt_InitInfAndNaN writes them again. */

KXMC_API extern double rtNaN;
KXMC_API extern double rtInf;
KXMC_API extern double rtMinusInf;
KXMC_API extern float rtNaNF;
KXMC_API extern float rtInfF;
KXMC_API extern float rtMinusInfF;

KXMC_API void rt_InitInfAndNaN(void);
KXMC_API double rtGetNaN(void);
KXMC_API float rtGetNaNF(void);
KXMC_API double rtGetInf(void);
KXMC_API float rtGetInfF(void);
KXMC_API double rtGetMinusInf(void);
KXMC_API float rtGetMinusInfF(void);
/* 1 when x is NaN (x != x), else 0. */
KXMC_API uint8_t rtIsNaN(double x);
KXMC_API uint8_t rtIsNaNF(float x);
/* 1 when x is +inf or -inf, else 0. */
KXMC_API uint8_t rtIsInf(double x);
KXMC_API uint8_t rtIsInfF(float x);

/* ==== Jacobians =========================================================================== */
/* J is the geometric Jacobian of the flange in the base frame: 6 x 6 row-major, rows 0-2 the
 * linear velocity, rows 3-5 the angular velocity, column i the rate of joint i+1. */

/* Jacobian of a classic Denavit-Hartenberg chain: link transform
 * A_i = Rz(q_i) Tz(d_i) Tx(a_i) Rx(alpha_i); alpha, q [rad]; a, d in any length unit (the
 * linear rows come out in that unit per rad). Returns 0. */
KXMC_API int Jacobian_com(const double *alpha, const double *a, const double *d, const double *q,
                          double *J);

/* Joint velocity qdot [rad/s] from the flange velocity v (linear [m/s], then angular [rad/s])
 * for the arm of mcb.robotModelCode. q holds the joint angles in degrees on entry and is
 * converted to radians in place. A singular Jacobian (determinant exactly 0, or not finite)
 * sets mcb.errorCode = 0x16000002 and returns -1 with qdot untouched; otherwise returns 0. */
KXMC_API int EndvelToJointvel(double *q, const double *v, double *qdot);

/* Single-precision Jacobian of the standard chain (twists 90, 0, 0, 90, -90, 0 degrees).
 * dh = d1, a2, a3, d4, d5, d6 [mm]; a2 and a3 are taken by magnitude (the chain uses
 * -|a2|, -|a3|), so either sign may be passed. q [rad]. Linear rows in m/rad. Returns 0. */
KXMC_API int velocityJacob(const float *dh, const float *q, float *J);

/* Closed-form Jacobians of the four arm families (flange, base frame, as Jacobian_com with the
 * standard chain). q: six joint angles [rad]. The two middle arguments are not used (pass
 * null). rows: six row pointers of six doubles each. Return 0, or -1 with nothing written when
 * rows or one of its pointers is null.
 *   kx3_jacob:  d1 0.14,  a2 -0.28,  a3 -0.24,  d4 0.102, d5 0.102, d6 0.1   [m]
 *   kx5_jacob:  d1 0.152, a2 -0.425, a3 -0.395, d4 0.102, d5 0.102, d6 0.1   [m]
 *   kx10_jacob: d1 0.18,  a2 -0.7,   a3 -0.586, d4 0.195, d5 0.114, d6 0.106 [m]
 *   kx16_jacob: d1 0.18,  a2 -0.52,  a3 -0.4,   d4 0.195, d5 0.114, d6 0.106 [m] */
KXMC_API int kx3_jacob(const double *q, const double *unused1, const double *unused2,
                       double **rows);
KXMC_API int kx5_jacob(const double *q, const double *unused1, const double *unused2,
                       double **rows);
KXMC_API int kx10_jacob(const double *q, const double *unused1, const double *unused2,
                        double **rows);
KXMC_API int kx16_jacob(const double *q, const double *unused1, const double *unused2,
                        double **rows);

/* ==== Filters ============================================================================= */

/*
 * History record of the fourth-order Butterworth filters (six channels). Rows 0-5 of history
 * hold the input x, rows 6-11 the output y (rows 12-17 the output of the dual-encoder filter);
 * the remaining rows are free for users that keep further six-row histories in it.
 * Row discipline of every user: before a step, if row > 5, rows 1..5 of each history in use
 * move down by one and row becomes 5; write the new input to x[row][ch], call the filter per
 * channel, write its result to y[row][ch], then increment row. Zeroing restarts from rest.
 */
typedef struct FilterHistory {
    double history[38][6];
    int32_t row;      /* current row index k (0..5 in use) */
    int32_t samples;  /* step counter */
    double bank2x[6][6]; /* input history of a second filter */
    double bank2y[6][6]; /* its output history */
} FilterHistory;

/*
 * Butterworth family: out = y of channel ch (0..5) at row k (0..5),
 * y = b0 x[k] + sum_{i=1..4} (b_i x[k-i] - a_i y[k-i]), rows below 0 counting as zero. The
 * result is written to out, not stored in the record (the caller stores it). Returns 0;
 * ch or k out of range, or a null out, returns -1 without writing.
 *   buttord               filt,  x rows 0-5, y rows 6-11,  cut-off 0.0056 of Nyquist
 *   TualEncoderbuttord    filt4, x rows 0-5, y rows 12-17, cut-off 0.16 (gain at rest 0.9916)
 *   Fivebuttord           filt2, x rows 0-5, y rows 6-11,  cut-off 0.0056
 *   Loadbuttord           filt5, x rows 0-5, y rows 6-11,  cut-off 0.0056
 *   LoadPosbuttord        filt5, second bank,              cut-off 0.0056
 *   ForceCollisionbuttord filt6, second bank,              cut-off 0.0056
 */
KXMC_API int buttord(int ch, int k, double *out);
KXMC_API int TualEncoderbuttord(int ch, int k, double *out);
KXMC_API int Fivebuttord(int ch, int k, double *out);
KXMC_API int Loadbuttord(int ch, int k, double *out);
KXMC_API int LoadPosbuttord(int ch, int k, double *out);
KXMC_API int ForceCollisionbuttord(int ch, int k, double *out);

/* Stand-alone fourth-order low-pass (cut-off 0.02 of Nyquist, unit gain at rest) with its own
 * history per channel: filters one new sample x of channel ch (0..5) into *y. Returns 4;
 * ch out of range or a null y returns -1 with nothing changed. */
KXMC_API int myfilter(int32_t ch, double x, double *y);

/* First-order exponential smoother of six channels. */
typedef struct LowpassFilter {
    float alpha;   /* weight of the new sample, 0..1 */
    float prev[6]; /* previous outputs */
} LowpassFilter;

/* The library's smoother of the commanded joint acceleration. */
KXMC_API extern LowpassFilter lowpassfilter;

/* alpha = b / (a + b), previous outputs 0. When a + b is 0 or alpha is not finite, alpha = 1
 * (samples pass unsmoothed) and -1 is returned; otherwise 0. */
KXMC_API int init_lowpassfilter(LowpassFilter *rec, float a, float b);
/* y[j] = alpha x[j] + (1 - alpha) prev[j] (in double, stored as float, saturated at the float
 * range), prev[j] = y[j]. A non-finite x[j] repeats the previous output and leaves the state
 * unchanged. Returns 0 (-1 for a null argument). */
KXMC_API int lowpassfilterMain(LowpassFilter *rec, const double *x, float *y);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_NUMERICS_H */
