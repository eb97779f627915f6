// Contact model behind the adaptive damping of end-force guiding: a hybrid extended Kalman
// filter on x = (x0 deflection [m], x1 contact stiffness [N/m], x2 force offset [N]) whose
// measurements are the admittance's Z velocity and the prefiltered Z force. A stiff contact
// (a hard surface under the tool) shows as a large x1, for which the guiding adds critical
// damping 2 sqrt(M ke) so the tool does not bounce on it.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kxmc/kxmc_numerics.h"
#include "kxmc/kxmc_virtual_wall.h"

namespace {

constexpr double kInitialState[3] = {0.002, 500.0, 0.0};
constexpr double kInitialCovariance[9] = {0.01, 0, 0, 0, 100.0, 0, 0, 0, 10.0};
constexpr double kCompliance = 5e-6;    // c
constexpr double kStiffnessScale = 200000.0;  // k
constexpr double kDt = 0.001;           // [s]
constexpr double kDeflectionLimit = 0.5;
constexpr double kStiffnessFloor = 0.5;  // smaller stiffness estimates are stored as 0

double xn_pre[3] = {kInitialState[0], kInitialState[1], kInitialState[2]};
double p_pre[9] = {kInitialCovariance[0], 0, 0, 0, kInitialCovariance[4], 0, 0, 0,
                   kInitialCovariance[8]};

// Uniform in -1..1 from the system's generator (scaled by its own maximum, whatever it is).
double uniform_noise() noexcept {
    // NOLINTNEXTLINE(cert-msc30-c,cert-msc50-cpp): dither, not cryptography; the host seeds it
    return 2.0 * static_cast<double>(std::rand()) / static_cast<double>(RAND_MAX) - 1.0;
}

// Measurement Jacobian (2 x 3) at state x.
void measurement_jacobian(const double x[3], double H[6]) noexcept {
    const double h[6] = {-x[1] / kStiffnessScale, -x[0] / kStiffnessScale, -kCompliance, 0, 0, 1};
    std::memcpy(H, h, sizeof h);
}

bool finite(const double *v, int n) noexcept {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" {

int32_t kxmcKalmanEnvironmenModelEvaluate(const double q[3], const double r[2],
                                          const double z[2], double out[3]) {
    if (q == nullptr || r == nullptr || z == nullptr || out == nullptr) {
        return -1;
    }
    const double *x = xn_pre;
    if (!finite(z, 2) || !finite(q, 3) || !finite(r, 2)) {
        std::memcpy(out, x, 3 * sizeof(double));  // nothing to learn from this step
        return 0;
    }
    double w[3], e[2];
    for (int i = 0; i < 3; ++i) {
        w[i] = std::sqrt(std::fabs(q[i])) * uniform_noise();
    }
    for (int j = 0; j < 2; ++j) {
        e[j] = std::sqrt(std::fabs(r[j])) * uniform_noise();
    }

    // Prediction.
    const double xh[3] = {x[0] + kDt * kCompliance * (-x[2] - x[1] * x[0] + w[0]),
                          x[1] + kDt * w[1], x[2] + kDt * w[2]};

    // Covariance: P^ = P + dt (F P + P F^T + G Q G^T - P H^T R^-1 H P), F and H at the old state.
    const double F[9] = {-x[1] / kStiffnessScale, -x[0] / kStiffnessScale, -kCompliance,
                         0, 0, 0, 0, 0, 0};
    double H[6], Ht[6];
    measurement_jacobian(x, H);
    transposeMatrixDimen(2, 3, H, Ht);
    const double GQGt[9] = {kCompliance * kCompliance * q[0], 0, 0, 0, q[1], 0, 0, 0, q[2]};
    const double Rinv[4] = {1.0 / r[0], 0, 0, 1.0 / r[1]};
    double Ft[9], FP[9], PFt[9], PHt[6], PHtRinv[6], HP[6], gain_term[9], sum[9], Ph[9];
    transposeMatrixDimen(3, 3, F, Ft);
    MatrixMul3(F, p_pre, FP);
    MatrixMul3(p_pre, Ft, PFt);
    MatrixMulDimen(3, 3, 2, p_pre, Ht, PHt);
    MatrixMulDimen(3, 2, 2, PHt, Rinv, PHtRinv);
    MatrixMulDimen(2, 3, 3, H, p_pre, HP);
    MatrixMulDimen(3, 2, 3, PHtRinv, HP, gain_term);
    MatrixAddDimen(3, 3, FP, PFt, sum);
    MatrixAddDimen(3, 3, sum, GQGt, sum);
    MatrixSubDimen(3, 3, sum, gain_term, sum);
    for (int i = 0; i < 9; ++i) {
        Ph[i] = p_pre[i] + kDt * sum[i];
    }

    // Correction with H at the predicted state.
    double H2[6], H2t[6], PhH2t[6], S[4], Sinv[4];
    measurement_jacobian(xh, H2);
    transposeMatrixDimen(2, 3, H2, H2t);
    MatrixMulDimen(3, 3, 2, Ph, H2t, PhH2t);
    MatrixMulDimen(2, 3, 2, H2, PhH2t, S);
    S[0] += r[0];
    S[3] += r[1];
    double xn[3] = {xh[0], xh[1], xh[2]};
    double Pn[9];
    std::memcpy(Pn, Ph, sizeof Pn);
    if (inverseMatrix2(S, Sinv) == 0) {
        double K[6], innovation[2], step[3], KH[9], IminusKH[9];
        MatrixMulDimen(3, 2, 2, PhH2t, Sinv, K);
        innovation[0] = z[0] - ((-xh[2] - xh[1] * xh[0]) * kCompliance + e[0]);
        innovation[1] = z[1] - (xh[2] + e[1]);
        MatrixMulDimen(3, 2, 1, K, innovation, step);
        for (int i = 0; i < 3; ++i) {
            xn[i] += step[i];
        }
        MatrixMulDimen(3, 2, 3, K, H2, KH);
        for (int i = 0; i < 9; ++i) {
            IminusKH[i] = (i % 4 == 0 ? 1.0 : 0.0) - KH[i];
        }
        MatrixMul3(IminusKH, Ph, Pn);
    }
    std::memcpy(out, xn, sizeof xn);

    if (!finite(xn, 3) || !finite(Pn, 9)) {
        // A diverged filter starts again from its initial state.
        std::memcpy(xn_pre, kInitialState, sizeof xn_pre);
        std::memcpy(p_pre, kInitialCovariance, sizeof p_pre);
        return 0;
    }
    xn[0] = xn[0] > kDeflectionLimit ? kDeflectionLimit
                                     : (xn[0] < -kDeflectionLimit ? -kDeflectionLimit : xn[0]);
    if (xn[1] < kStiffnessFloor) {
        xn[1] = 0.0;
    }
    std::memcpy(xn_pre, xn, sizeof xn);
    std::memcpy(p_pre, Pn, sizeof Pn);
    return 0;
}

}  // extern "C"
