// The host's signal services: a scalar Kalman filter and the cubic fit that smooths replayed
// current samples.
//
// Kalman filter: random-walk model x[k] = x[k-1] + w (variance Q), z[k] = x[k] + v (variance
// R). The seed is one measurement, so the initial estimate variance is R.
//
// Fit of recorded samples: the window holds the last four samples, taken one sample interval
// apart at the parameters of the caller's table (0, 0.05, 0.1, 0.15: the 50 ms between
// recorded samples). The value at sub-step s is the interpolating cubic through the window
// (Lagrange form on those parameters) on its newest interval, at
// t = t2 + (s / 50)(t3 - t2). It passes through every sample, reproduces constants, ramps,
// parabolas and cubics exactly, and runs one sample behind the newest appended one, which is
// the least any fit that never extrapolates can lag. With fewer than four samples the newest
// ones available are used (degree count - 1); `order` caps the number of points (1..4).
#include <cmath>
#include <cstring>

#include "simhost_internal.hpp"

namespace {

constexpr double kSubSteps = 50.0;  // sub-steps per sample interval

bool increasing_finite(const double *t, int n) {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(t[i]) || (i > 0 && !(t[i] > t[i - 1]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" {

int Init_KalmanInfo(KalmanInfo *info, double Q, double R, double x0) {
    if (info == nullptr || !std::isfinite(Q) || !std::isfinite(R) || !std::isfinite(x0) ||
        Q < 0.0 || R < 0.0) {
        return -1;
    }
    info->x = x0;
    info->P = R;
    info->Q = Q;
    info->R = R;
    info->K = 0.0;
    return 0;
}

// A non-finite measurement is skipped: the estimate is returned unchanged.
double KalmanFilter(KalmanInfo *info, double measurement) {
    if (info == nullptr) {
        return 0.0;
    }
    if (!std::isfinite(measurement)) {
        return info->x;
    }
    const double p = info->P + info->Q;
    const double s = p + info->R;
    const double k = s > 0.0 ? p / s : 1.0;  // no noise at all: trust the measurement
    info->x += k * (measurement - info->x);
    info->P = (1.0 - k) * p;
    info->K = k;
    return info->x;
}

int kxmcinitBtraj(BsplineFit *fit) {
    if (fit == nullptr) {
        return -1;
    }
    *fit = BsplineFit{};
    return 0;
}

// A non-finite sample is refused (-1) and the window stays as it was.
int kxmcaddpointBfitting(BsplineFit *fit, double value, int flag) {
    if (fit == nullptr || !std::isfinite(value)) {
        return -1;
    }
    for (int i = 0; i + 1 < KXMC_BSPLINE_POINTS; ++i) {
        fit->points[i] = fit->points[i + 1];
    }
    fit->points[KXMC_BSPLINE_POINTS - 1] = value;
    if (fit->count < INT32_MAX) {
        ++fit->count;
    }
    fit->lastFlag = flag;
    return 0;
}

double kxmccomBfitting(const BsplineFit *fit, int subStep, int order, const double paramTable[4]) {
    if (fit == nullptr || fit->count <= 0) {
        return 0.0;
    }
    int n = fit->count < KXMC_BSPLINE_POINTS ? fit->count : KXMC_BSPLINE_POINTS;
    const int cap = order < 1 ? 1 : (order > KXMC_BSPLINE_POINTS ? KXMC_BSPLINE_POINTS : order);
    if (n > cap) {
        n = cap;
    }
    static constexpr double kUniform[KXMC_BSPLINE_POINTS] = {0.0, 1.0, 2.0, 3.0};
    const double *t_all = (paramTable != nullptr && increasing_finite(paramTable, KXMC_BSPLINE_POINTS))
                              ? paramTable
                              : kUniform;
    // The n newest samples and their parameters.
    const double *p = fit->points + (KXMC_BSPLINE_POINTS - n);
    const double *t = t_all + (KXMC_BSPLINE_POINTS - n);
    if (n == 1) {
        return p[0];
    }
    double u = static_cast<double>(subStep) / kSubSteps;
    u = u < 0.0 ? 0.0 : (u > 1.0 ? 1.0 : u);
    const double x = t[n - 2] + u * (t[n - 1] - t[n - 2]);
    double value = 0.0;
    for (int i = 0; i < n; ++i) {
        double basis = 1.0;
        for (int j = 0; j < n; ++j) {
            if (j != i) {
                basis *= (x - t[j]) / (t[i] - t[j]);
            }
        }
        value += basis * p[i];
    }
    return value;
}

}  // extern "C"
