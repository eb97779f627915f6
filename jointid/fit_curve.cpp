// Levenberg-Marquardt fit of the five-parameter joint friction model.
//
// Each iteration solves the damped least-squares subproblem
//
//     min || [J; sqrt(lambda) I] dx - [-r; 0] ||
//
// by a Householder QR with column pivoting of the augmented matrix (the damping rows keep it
// of full column rank), tries x + dx, and accepts the step only when the sum of squared
// residuals S drops. lambda grows tenfold after a rejected trial and shrinks tenfold after two
// accepted steps in a row (the start counts as accepted). The Jacobian comes from forward
// differences. Everything lives on the stack: the fit runs on the command path, is called with
// at most a few dozen points and must not touch the heap.
#include "kxmc/kxmc_curve_fit.h"

#include <cmath>
#include <cstdint>

#include "kxmc/kxmc_numerics.h"

extern "C" {
uint8_t isInitialized_fitCurve = 0;
}

namespace {

constexpr int kParams = 5;
constexpr int kMaxPoints = KXMC_FIT_MAX_POINTS;
constexpr int kMaxRows = kMaxPoints + kParams;

constexpr double kInitialDamping = 0.01;
constexpr double kDampingUp = 10.0;    // after a rejected trial
constexpr double kDampingDown = 0.1;   // after the second accepted step in a row
constexpr double kOptimalityTol = 1e-10;  // relative to the first gradient
constexpr double kFunctionTol = 1e-6;     // relative change of S
constexpr double kStepTol = 1e-6;         // relative to |x|
constexpr double kSqrtEps = 1.4901161193847656e-08;  // single-precision sqrt(eps)
constexpr int32_t kMaxEvaluations = 999;  // stop once exceeded
constexpr int32_t kMaxIterations = 399;
constexpr double kRankTol = 2.220446049250313e-16;  // eps; times rows and |R(0,0)|

// Scaling constants of the reflector generation: below kSafeMin / eps a column is rescaled.
constexpr double kTinyBeta = 1.0020841800044864e-292;
constexpr double kRescale = 9.9792015476736e+291;
constexpr int kMaxRescales = 20;

// The smooth sign is formed before it scales the level, so that a large but finite
// exp(-yita v) gives -1 instead of overflowing in the product; only an infinite one (yita v
// below about -709.78) makes the point non-finite.
double model(const double x[kParams], double v) {
    const double e = std::exp(-x[3] * v);
    const double smooth_sign = (1.0 - e) / (1.0 + e);
    const double stribeck = std::exp(-(v * v) / (x[2] * x[2]));
    return (x[0] + (x[1] - x[0]) * stribeck) * smooth_sign + x[4] * v;
}

bool all_finite(const double *r, int n) {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(r[i])) {
            return false;
        }
    }
    return true;
}

double sum_of_squares(const double *r, int n) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) {
        s += r[i] * r[i];
    }
    return s;
}

// H c with H = I - tau v v^T, v[0] taken as 1, len entries.
void reflect(const double *v, int len, double tau, double *c) {
    double w = c[0];
    for (int i = 1; i < len; ++i) {
        w += v[i] * c[i];
    }
    w *= tau;
    c[0] -= w;
    for (int i = 1; i < len; ++i) {
        c[i] -= w * v[i];
    }
}

struct Workspace {
    double A[kMaxRows * kParams];     // augmented matrix, column-major, leading dimension m
    double J[kMaxPoints * kParams];   // Jacobian, column-major, leading dimension n
    double r[kMaxPoints];             // residuals at x
    double r_trial[kMaxPoints];       // residuals at the trial point
    double r_work[kMaxPoints];        // finite-difference evaluations
    double rhs[kMaxRows];
};

void build_augmented(Workspace &ws, int n, double lambda) {
    const int m = n + kParams;
    const double diag = std::sqrt(lambda);
    for (int j = 0; j < kParams; ++j) {
        double *col = &ws.A[j * m];
        for (int i = 0; i < n; ++i) {
            col[i] = ws.J[j * n + i];
        }
        for (int i = 0; i < kParams; ++i) {
            col[n + i] = i == j ? diag : 0.0;
        }
    }
}

// g = J^T r; returns |g|_inf (NaN when g is).
double gradient_inf_norm(const Workspace &ws, int n) {
    double g_max = 0.0;
    for (int j = 0; j < kParams; ++j) {
        double g = 0.0;
        for (int i = 0; i < n; ++i) {
            g += ws.J[j * n + i] * ws.r[i];
        }
        const double a = std::fabs(g);
        if (!(a <= g_max)) {
            g_max = a;  // NaN propagates, so a NaN gradient never passes the optimality test
        }
    }
    return g_max;
}

// Least-squares solution of A dx = rhs (A: m x 5, overwritten by its QR factors; rhs: m,
// overwritten by Q^T rhs). Columns beyond the numerical rank get 0.
void solve_pivoted_qr(double *A, int m, double *rhs, double dx[kParams]) {
    int jpvt[kParams];
    double tau[kParams];
    double vn1[kParams];  // downdated column norms
    double vn2[kParams];  // norms when last computed in full
    double work[kParams];
    for (int j = 0; j < kParams; ++j) {
        jpvt[j] = j;
        vn1[j] = xnrm2(m, A, j * m);
        vn2[j] = vn1[j];
    }
    for (int i = 0; i < kParams; ++i) {
        int p = i;
        for (int j = i + 1; j < kParams; ++j) {
            if (vn1[j] > vn1[p]) {
                p = j;
            }
        }
        if (p != i) {
            for (int k = 0; k < m; ++k) {
                const double t = A[p * m + k];
                A[p * m + k] = A[i * m + k];
                A[i * m + k] = t;
            }
            const int t = jpvt[p];
            jpvt[p] = jpvt[i];
            jpvt[i] = t;
            vn1[p] = vn1[i];
            vn2[p] = vn2[i];
        }
        const int ii = i * m + i;
        tau[i] = xzlarfg(m - i, &A[ii], A, ii + 1);
        xzlarf(m - i, kParams - 1 - i, ii, tau[i], A, ii + m, m, work);
        for (int j = i + 1; j < kParams; ++j) {
            if (vn1[j] != 0.0) {
                double temp = std::fabs(A[j * m + i]) / vn1[j];
                temp = 1.0 - temp * temp;
                if (temp < 0.0) {
                    temp = 0.0;
                }
                const double ratio = vn1[j] / vn2[j];
                if (temp * ratio * ratio <= kSqrtEps) {
                    // The downdate has lost too many digits: recompute the norm.
                    vn1[j] = xnrm2(m - i - 1, A, j * m + i + 1);
                    vn2[j] = vn1[j];
                } else {
                    vn1[j] *= std::sqrt(temp);
                }
            }
        }
    }
    for (int i = 0; i < kParams; ++i) {
        reflect(&A[i * m + i], m - i, tau[i], &rhs[i]);
    }
    const double tol = kRankTol * m * std::fabs(A[0]);
    int rank = 0;
    while (rank < kParams && std::fabs(A[rank * m + rank]) > tol) {
        ++rank;
    }
    double y[kParams] = {0.0, 0.0, 0.0, 0.0, 0.0};
    for (int i = rank - 1; i >= 0; --i) {
        double s = rhs[i];
        for (int j = i + 1; j < rank; ++j) {
            s -= A[j * m + i] * y[j];
        }
        y[i] = s / A[i * m + i];
    }
    for (int i = 0; i < kParams; ++i) {
        dx[jpvt[i]] = y[i];
    }
}

void copy5(const double *from, double *to) {
    for (int k = 0; k < kParams; ++k) {
        to[k] = from[k];
    }
}

}  // namespace

extern "C" {

void fitCurve_initialize(void) {
    rt_InitInfAndNaN();
    isInitialized_fitCurve = 1;
}

void fitCurve_terminate(void) { isInitialized_fitCurve = 0; }

void fitCurve_anonFcn1(int32_t n, const double x[5], const double *xdata, const double *ydata,
                       double *r) {
    if (x == nullptr || xdata == nullptr || ydata == nullptr || r == nullptr) {
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        r[i] = model(x, xdata[i]) - ydata[i];
    }
}

uint8_t finDiffEvalAndChkErr(int32_t n, double x[5], int32_t k, double delta,
                             const double *xdata, const double *ydata, double *r) {
    // A parameter index outside the five, or a missing array, moves nothing and evaluates
    // nothing: the evaluation failed.
    if (x == nullptr || r == nullptr || k < 0 || k >= kParams ||
        (n > 0 && (xdata == nullptr || ydata == nullptr))) {
        return 0;
    }
    const double saved = x[k];
    x[k] = saved + delta;
    fitCurve_anonFcn1(n, x, xdata, ydata, r);
    x[k] = saved;
    return all_finite(r, n) ? 1 : 0;
}

uint8_t computeFiniteDifferences(int32_t n, double x[5], const double *r0, const double *xdata,
                                 const double *ydata, double *J, int32_t ldj, double *r_work,
                                 int32_t *evaluations) {
    if (x == nullptr || r0 == nullptr || J == nullptr || r_work == nullptr ||
        evaluations == nullptr) {
        return 0;
    }
    for (int32_t k = 0; k < kParams; ++k) {
        double delta = kSqrtEps * std::fmax(std::fabs(x[k]), 1.0);
        if (x[k] < 0.0) {
            delta = -delta;
        }
        ++*evaluations;
        if (finDiffEvalAndChkErr(n, x, k, delta, xdata, ydata, r_work) == 0) {
            delta = -delta;
            ++*evaluations;
            if (finDiffEvalAndChkErr(n, x, k, delta, xdata, ydata, r_work) == 0) {
                return 0;
            }
        }
        for (int32_t i = 0; i < n; ++i) {
            J[k * ldj + i] = (r_work[i] - r0[i]) / delta;
        }
    }
    return 1;
}

double xnrm2(int32_t n, const double *x, int32_t ix0) {
    if (n < 1 || x == nullptr) {
        return 0.0;
    }
    if (n == 1) {
        return std::fabs(x[ix0]);
    }
    double scale = 3.3121686421112381e-170;
    double y = 0.0;
    for (int32_t k = ix0; k < ix0 + n; ++k) {
        const double absxk = std::fabs(x[k]);
        if (absxk > scale) {
            const double t = scale / absxk;
            y = 1.0 + y * t * t;
            scale = absxk;
        } else {
            const double t = absxk / scale;
            y += t * t;
        }
    }
    return scale * std::sqrt(y);
}

double xzlarfg(int32_t n, double *alpha1, double *x, int32_t ix0) {
    if (n <= 0) {
        return 0.0;
    }
    double xnorm = xnrm2(n - 1, x, ix0);
    if (xnorm == 0.0) {
        return 0.0;
    }
    double beta1 = rt_hypotd_snf(*alpha1, xnorm);
    if (*alpha1 >= 0.0) {
        beta1 = -beta1;
    }
    int knt = 0;
    while (std::fabs(beta1) < kTinyBeta && knt < kMaxRescales) {
        // Tiny column: rescale until beta is representable with full precision.
        ++knt;
        for (int32_t k = ix0; k < ix0 + n - 1; ++k) {
            x[k] *= kRescale;
        }
        beta1 *= kRescale;
        *alpha1 *= kRescale;
    }
    if (knt > 0) {
        xnorm = xnrm2(n - 1, x, ix0);
        beta1 = rt_hypotd_snf(*alpha1, xnorm);
        if (*alpha1 >= 0.0) {
            beta1 = -beta1;
        }
    }
    const double tau = (beta1 - *alpha1) / beta1;
    const double a = 1.0 / (*alpha1 - beta1);
    for (int32_t k = ix0; k < ix0 + n - 1; ++k) {
        x[k] *= a;
    }
    for (int k = 0; k < knt; ++k) {
        beta1 *= kTinyBeta;
    }
    *alpha1 = beta1;
    return tau;
}

void xzlarf(int32_t m, int32_t n, int32_t iv0, double tau, double *C, int32_t ic0, int32_t ldc,
            double *work) {
    if (tau == 0.0 || m < 1) {
        return;
    }
    for (int32_t j = 0; j < n; ++j) {
        double *col = &C[ic0 + j * ldc];
        double w = col[0];
        for (int32_t i = 1; i < m; ++i) {
            w += C[iv0 + i] * col[i];
        }
        work[j] = w;
    }
    for (int32_t j = 0; j < n; ++j) {
        double *col = &C[ic0 + j * ldc];
        const double w = tau * work[j];
        col[0] -= w;
        for (int32_t i = 1; i < m; ++i) {
            col[i] -= w * C[iv0 + i];
        }
    }
}

double rt_hypotd_snf(double u0, double u1) {
    double a = std::fabs(u0);
    double y = std::fabs(u1);
    if (a < y) {
        a /= y;
        y *= std::sqrt(a * a + 1.0);
    } else if (a > y) {
        y /= a;
        y = a * std::sqrt(y * y + 1.0);
    } else if (!std::isnan(y)) {
        y = a * 1.4142135623730951;
    }
    return y;
}

int32_t div_nde_s32_floor(int32_t numerator, int32_t denominator) {
    if (denominator == 0) {
        return 0;
    }
    if (denominator == -1) {
        // -INT32_MIN does not exist: saturate.
        return numerator == INT32_MIN ? INT32_MAX : -numerator;
    }
    const int32_t q = numerator / denominator;
    const bool negative = (numerator < 0) != (denominator < 0);
    return negative && q * denominator != numerator ? q - 1 : q;
}

void fitCurve(int32_t n, const double x0[5], const double *xdata, const double *ydata,
              double x[5], double *resnorm) {
    if (isInitialized_fitCurve == 0) {
        fitCurve_initialize();
    }
    if (x == nullptr || resnorm == nullptr) {
        return;
    }
    const double zeros[kParams] = {0.0, 0.0, 0.0, 0.0, 0.0};
    copy5(x0 != nullptr ? x0 : zeros, x);
    if (x0 == nullptr || xdata == nullptr || ydata == nullptr || n < 0) {
        n = 0;
    }
    if (n > kMaxPoints) {
        n = kMaxPoints;
    }

    Workspace ws;
    const int m = n + kParams;
    fitCurve_anonFcn1(n, x, xdata, ydata, ws.r);
    double S = sum_of_squares(ws.r, n);
    *resnorm = S;
    int32_t evaluations = 1;
    int32_t iterations = 0;
    double lambda = kInitialDamping;
    if (computeFiniteDifferences(n, x, ws.r, xdata, ydata, ws.J, n, ws.r_work, &evaluations) ==
        0) {
        return;
    }
    build_augmented(ws, n, lambda);
    double g_norm = gradient_inf_norm(ws, n);
    const double opt_tol = kOptimalityTol * std::fmax(g_norm, kSqrtEps);
    if (g_norm <= opt_tol || evaluations > kMaxEvaluations) {
        return;
    }

    double relative_change = INFINITY;
    bool previous_accepted = true;  // the start counts as an accepted step
    double x_trial[kParams];
    double dx[kParams];
    for (;;) {
        for (int i = 0; i < n; ++i) {
            ws.rhs[i] = -ws.r[i];
        }
        for (int i = n; i < m; ++i) {
            ws.rhs[i] = 0.0;
        }
        solve_pivoted_qr(ws.A, m, ws.rhs, dx);
        for (int k = 0; k < kParams; ++k) {
            x_trial[k] = x[k] + dx[k];
        }
        fitCurve_anonFcn1(n, x_trial, xdata, ydata, ws.r_trial);
        ++evaluations;
        const double S_trial = sum_of_squares(ws.r_trial, n);
        const bool accepted = all_finite(ws.r_trial, n) && S_trial < S;
        if (accepted) {
            ++iterations;
            relative_change = std::fabs(S_trial - S) / S;
            S = S_trial;
            *resnorm = S;
            for (int i = 0; i < n; ++i) {
                ws.r[i] = ws.r_trial[i];
            }
            if (computeFiniteDifferences(n, x_trial, ws.r, xdata, ydata, ws.J, n, ws.r_work,
                                         &evaluations) == 0) {
                return;  // x keeps the previous point; resnorm already holds the new S
            }
            copy5(x_trial, x);
            if (previous_accepted) {
                lambda *= kDampingDown;
            }
            previous_accepted = true;
            build_augmented(ws, n, lambda);
            g_norm = gradient_inf_norm(ws, n);
        } else {
            lambda *= kDampingUp;
            previous_accepted = false;
            build_augmented(ws, n, lambda);
        }

        if (g_norm <= opt_tol) {
            return;
        }
        if (evaluations > kMaxEvaluations || iterations > kMaxIterations) {
            return;
        }
        const double x_norm = xnrm2(kParams, x, 0);
        if (xnrm2(kParams, dx, 0) < kStepTol * (x_norm + kSqrtEps)) {
            return;
        }
        if (relative_change <= kFunctionTol) {
            return;
        }
    }
}

}  // extern "C"
