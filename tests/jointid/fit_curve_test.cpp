// Friction-model fit: checked against the model's analytic derivatives and an independent
// Gauss-Newton solve with Eigen, never against the fit's own arithmetic.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "kxmc/kxmcforcetorque.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
using Params = std::array<double, 5>;  // fc, fs, qs, yita, sita

// The friction model with a smooth sign that never overflows (tanh form).
double model(const Params &p, double v) {
    const double g = std::exp(-v * v / (p[2] * p[2]));
    return (p[0] + (p[1] - p[0]) * g) * std::tanh(0.5 * p[3] * v) + p[4] * v;
}

// Analytic partial derivatives of the model.
std::array<double, 5> gradient(const Params &p, double v) {
    const double g = std::exp(-v * v / (p[2] * p[2]));
    const double s = std::tanh(0.5 * p[3] * v);
    const double level = p[0] + (p[1] - p[0]) * g;
    return {(1.0 - g) * s, g * s, (p[1] - p[0]) * g * 2.0 * v * v / (p[2] * p[2] * p[2]) * s,
            level * 0.5 * v * (1.0 - s * s), v};
}

// Speeds of the recorder's bins [rad/s]: slow ladder 0.45 .. 17.55 deg/s, fast 18 .. 122.4 deg/s,
// both directions.
std::vector<double> ladder(bool fast) {
    std::vector<double> v;
    for (double dir : {1.0, -1.0})
        for (int k = 0; k < (fast ? 30 : 20); ++k)
            v.push_back(dir * (fast ? 18.0 + 3.6 * k : 0.45 + 0.9 * k) * kPi / 180.0);
    return v;
}

struct Fit {
    Params x;
    double resnorm;
};

Fit fit(const std::vector<double> &v, const std::vector<double> &tau, const Params &x0) {
    Fit f{};
    fitCurve(static_cast<int32_t>(v.size()), x0.data(), v.data(), tau.data(), f.x.data(),
             &f.resnorm);
    return f;
}

double sum_sq(const Params &p, const std::vector<double> &v, const std::vector<double> &tau) {
    double s = 0;
    for (size_t i = 0; i < v.size(); ++i) s += std::pow(model(p, v[i]) - tau[i], 2);
    return s;
}

// Independent least-squares reference: Gauss-Newton with the analytic Jacobian and Eigen's
// pivoted QR, from a start near the answer.
Params gauss_newton(Params p, const std::vector<double> &v, const std::vector<double> &tau) {
    const int n = static_cast<int>(v.size());
    for (int it = 0; it < 100; ++it) {
        Eigen::MatrixXd J(n, 5);
        Eigen::VectorXd r(n);
        for (int i = 0; i < n; ++i) {
            const auto g = gradient(p, v[i]);
            for (int k = 0; k < 5; ++k) J(i, k) = g[k];
            r(i) = model(p, v[i]) - tau[i];
        }
        const Eigen::VectorXd dx = J.colPivHouseholderQr().solve(-r);
        for (int k = 0; k < 5; ++k) p[k] += dx(k);
        if (dx.norm() < 1e-14 * (1 + Eigen::Map<Eigen::VectorXd>(p.data(), 5).norm())) break;
    }
    return p;
}

const Params kOnes = {1, 1, 1, 1, 1};

// Curves on the slow and on the fast ladder. Where the Stribeck speed lies inside the recorded
// speeds every parameter is determined; where it lies below them (last row) only the curve is.
struct Curve {
    const char *name;
    Params p;
    bool fast;
    bool identifiable;
};
const Curve kCurves[] = {
    {"wrist slow", {1.2, 1.8, 0.08, 60, 1.5}, false, true},
    {"base slow", {6, 9, 0.08, 60, 10}, false, true},
    {"steep slow", {2, 3, 0.05, 100, 3}, false, true},
    {"wrist fast", {2, 3, 0.8, 12, 1}, true, true},
    {"base fast", {10, 14, 1.0, 8, 6}, true, true},
    {"Stribeck below the fast ladder", {9, 14, 0.1, 80, 20}, true, false},
};

double qs_free(const Params &p, int k) {
    return k == 2 ? std::fabs(p[k]) : p[k];
}  // qs enters squared

// Noiseless curves fit to a residual near zero; with noise the fit reaches the minimum an
// independent Gauss-Newton solve finds from the generating parameters.
TEST(FitCurve, CurvesFitToTheLeastSquaresMinimum) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise(0.0, 0.01);
    for (const Curve &c : kCurves) {
        SCOPED_TRACE(c.name);
        const std::vector<double> v = ladder(c.fast);
        std::vector<double> clean, noisy;
        double energy = 0;
        for (double s : v) {
            clean.push_back(model(c.p, s));
            noisy.push_back(clean.back() + noise(rng) * c.p[1]);
            energy += clean.back() * clean.back();
        }
        const Fit f = fit(v, clean, kOnes);
        const Fit g = fit(v, noisy, kOnes);
        EXPECT_LT(f.resnorm, 1e-11 * energy);
        EXPECT_NEAR(f.resnorm, sum_sq(f.x, v, clean), 1e-12 * energy);
        EXPECT_LE(g.resnorm, sum_sq(c.p, v, noisy));
        EXPECT_NEAR(g.resnorm, sum_sq(g.x, v, noisy), 1e-12);
        if (!c.identifiable) continue;
        const Params gn = gauss_newton(c.p, v, noisy);
        EXPECT_NEAR(g.resnorm, sum_sq(gn, v, noisy), 1e-6 * g.resnorm);
        for (int k = 0; k < 5; ++k) {
            EXPECT_NEAR(qs_free(f.x, k), c.p[k], 1e-4 * c.p[k]) << k;
            EXPECT_NEAR(qs_free(g.x, k), qs_free(gn, k), 1e-4 * std::fabs(gn[k])) << k;
        }
    }
}

// More points than the fit stores: the first KXMC_FIT_MAX_POINTS are fitted, the rest (torques
// that are no number, which would spoil any fit reading them) ignored.
TEST(FitCurve, PointsBeyondTheStoredCountAreIgnored) {
    const Params p = {10, 14, 1.0, 8, 6};
    std::vector<double> v, tau;
    for (int i = 0; i < KXMC_FIT_MAX_POINTS; ++i) {
        v.push_back(-2.2 + 4.4 * (i + 0.5) / KXMC_FIT_MAX_POINTS);
        tau.push_back(model(p, v.back()));
    }
    v.resize(KXMC_FIT_MAX_POINTS + 20, 1.0);
    tau.resize(v.size(), kNaN);
    const Fit f = fit(v, tau, kOnes);
    for (int k = 0; k < 5; ++k) EXPECT_NEAR(qs_free(f.x, k), p[k], 1e-4 * p[k]) << k;
    EXPECT_LT(f.resnorm, 1e-9);
}

TEST(FitCurve, DegenerateInputsReturnTheStart) {
    const Params x0 = {1.5, -2, 3, 4, 5};
    const std::vector<double> zeros(40, 0.0);
    struct Case {
        const char *name;
        int32_t n;
        const double *v, *tau, *x0;
        Params expect;
    } cases[] = {
        {"bins never filled", 40, zeros.data(), zeros.data(), x0.data(), x0},
        {"no points", 0, zeros.data(), zeros.data(), x0.data(), x0},
        {"negative count", -3, zeros.data(), zeros.data(), x0.data(), x0},
        {"null speeds", 40, nullptr, zeros.data(), x0.data(), x0},
        {"null torques", 40, zeros.data(), nullptr, x0.data(), x0},
        {"null start", 40, zeros.data(), zeros.data(), nullptr, {0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Params x{};
        double resnorm = -1;
        fitCurve(c.n, c.x0, c.v, c.tau, x.data(), &resnorm);
        EXPECT_EQ(x, c.expect);
        EXPECT_EQ(resnorm, 0.0);
    }
    fitCurve(40, x0.data(), zeros.data(), zeros.data(), nullptr, nullptr);  // must not crash
    EXPECT_EQ(isInitialized_fitCurve, 1);  // the first fit set the library up
    fitCurve_terminate();
    EXPECT_EQ(isInitialized_fitCurve, 0);
}

TEST(FitCurve, TrialsThatOverflowAreRejectedUntilAFiniteBetterOne) {
    // A steep sign over speeds up to 100 rad/s: exp(-yita v) overflows once |yita| > 7.0978.
    // The first Levenberg-Marquardt step from yita = 5, computed here independently, jumps far
    // past that.
    std::vector<double> v, tau;
    for (int k = 1; k <= 20; ++k) {
        const double s = 100.0 * std::pow(k / 20.0, 3);
        v.push_back(s), v.push_back(-s);
        tau.push_back(2.0 + 0.01 * s), tau.push_back(-2.0 - 0.01 * s);
    }
    const Params x0 = {1, 1, 1, 5, 0};
    const int n = static_cast<int>(v.size());
    Eigen::MatrixXd A = Eigen::MatrixXd::Zero(n + 5, 5);
    Eigen::VectorXd b = Eigen::VectorXd::Zero(n + 5);
    for (int i = 0; i < n; ++i) {
        const auto g = gradient(x0, v[i]);
        for (int k = 0; k < 5; ++k) A(i, k) = g[k];
        b(i) = tau[i] - model(x0, v[i]);
    }
    A.bottomRows(5) = 0.1 * Eigen::MatrixXd::Identity(5, 5);
    const Eigen::VectorXd dx = A.colPivHouseholderQr().solve(b);
    ASSERT_GT(std::fabs(x0[3] + dx(3)) * 100.0, 709.79) << "the first trial must overflow";

    const Fit f = fit(v, tau, x0);
    for (double p : f.x) EXPECT_TRUE(std::isfinite(p));
    EXPECT_LE(std::fabs(f.x[3]) * 100.0, 709.79);  // only finite trials were accepted
    EXPECT_LT(f.resnorm, 0.2 * sum_sq(x0, v, tau));
    EXPECT_NEAR(f.resnorm, sum_sq(f.x, v, tau), 1e-9);

    // A start at the edge of overflow: the forward difference of yita overflows exp at -0.8 rad/s,
    // the backward one does not, so the fit still gets its Jacobian and moves.
    const std::vector<double> edge_v = {-0.8, -0.3, 0.05, 0.4, 0.8};
    const std::vector<double> zero(edge_v.size(), 0.0);
    const Params edge = {1.5, 2.5, 0.3, (709.782712893 - 0.5e-5) / 0.8, 1.2};
    EXPECT_LT(fit(edge_v, zero, edge).resnorm, 0.5 * sum_sq(edge, edge_v, zero));
}

// Overflow-safe norms: the scaled Euclidean norm and the hypotenuse agree on every pair, even
// where squaring a component overflows or underflows.
TEST(FitCurve, ScaledNormsHypotenuseAndFloorDivision) {
    const double pairs[][3] = {{3, 4, 5},
                               {-4, 3, 5},
                               {1e300, 1e300, 1.4142135623730951e300},
                               {3e-300, -4e-300, 5e-300},
                               {0, 0, 0},
                               {kInf, 1, kInf},
                               {2, 2, 2 * 1.4142135623730951},
                               {kNaN, 1, kNaN},
                               {1, kNaN, kNaN}};
    for (const auto &h : pairs) {
        SCOPED_TRACE(testing::Message() << h[0] << " " << h[1]);
        const double got[2] = {xnrm2(2, h, 0), rt_hypotd_snf(h[0], h[1])};
        for (double g : got) {
            if (std::isnan(h[2])) {
                EXPECT_TRUE(std::isnan(g));
            } else {
                EXPECT_DOUBLE_EQ(g, h[2]);
            }
        }
    }
    const double tiny[4] = {7, 3e-200, 4e-200, 12e-200};
    EXPECT_DOUBLE_EQ(xnrm2(3, tiny, 1), 13e-200);
    EXPECT_DOUBLE_EQ(xnrm2(1, tiny, 0), 7.0);
    EXPECT_EQ(xnrm2(0, tiny, 0), 0.0);

    const int32_t div[][3] = {{7, 2, 3},   {-7, 2, -4}, {7, -2, -4}, {-7, -2, 3},
                              {6, -3, -2}, {-6, 3, -2}, {0, 5, 0},   {5, 0, 0}};
    for (const auto &d : div) EXPECT_EQ(div_nde_s32_floor(d[0], d[1]), d[2]) << d[0] << "/" << d[1];
    EXPECT_EQ(div_nde_s32_floor(INT32_MIN, -1), INT32_MAX);  // saturates
    EXPECT_EQ(div_nde_s32_floor(INT32_MIN, 1), INT32_MIN);
}

// The reflector of (alpha; x) maps it onto (beta; 0) with |beta| its norm and the sign opposite
// to alpha's: for (3; 4, 12), beta = -13, tau = (beta - alpha) / beta = 16/13 and
// v = x / (alpha - beta) = (1/4, 3/4). A column near the smallest numbers is rescaled first and
// gives the same reflector; a zero x needs none.
TEST(FitCurve, ReflectorMapsTheColumnOntoItsNorm) {
    struct Case {
        double alpha, x[2], beta, tau, v[2];
    } cases[] = {
        {3, {4, 12}, -13, 16.0 / 13, {0.25, 0.75}},
        {-3, {4, 12}, 13, 16.0 / 13, {-0.25, -0.75}},
        {3e-300, {4e-300, 12e-300}, -13e-300, 16.0 / 13, {0.25, 0.75}},
        {2, {0, 0}, 2, 0, {0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.alpha);
        double alpha = c.alpha, x[3] = {-9, c.x[0], c.x[1]};
        EXPECT_NEAR(xzlarfg(3, &alpha, x, 1), c.tau, 1e-15);
        EXPECT_NEAR(alpha, c.beta, 1e-15 * std::fabs(c.beta));
        EXPECT_NEAR(x[1], c.v[0], 1e-15);
        EXPECT_NEAR(x[2], c.v[1], 1e-15);
        EXPECT_EQ(x[0], -9.0);
    }
}

}  // namespace

// The fit's exported building blocks take a parameter index and arrays from the caller: an index
// outside the five parameters or a missing array evaluates nothing and touches nothing (it wrote
// x[k] out of bounds and dereferenced null data before).
TEST(FitCurve, BuildingBlocksRefuseAnIndexOutsideTheParametersAndMissingArrays) {
    const double v[3] = {-0.5, 0.1, 0.6}, tau[3] = {0.0, 0.0, 0.0};
    // Guard entries around x catch a write beside it.
    const double start[7] = {-7.0, 1.5, 2.5, -0.3, 40.0, 1.2, -7.0};
    double guarded[7], r[4];
    double *x = guarded + 1;
    struct Case {
        const char *name;
        int32_t k;
        double *x;
        const double *v, *tau;
        double *r;
    } cases[] = {
        {"index -1", -1, x, v, tau, r},        {"index 5", 5, x, v, tau, r},
        {"null x", 0, nullptr, v, tau, r},     {"null speeds", 0, x, nullptr, tau, r},
        {"null torques", 0, x, v, nullptr, r}, {"null residuals", 0, x, v, tau, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::copy(start, start + 7, guarded);
        std::fill(r, r + 4, 99.0);
        // One point: a single missing array is enough to refuse.
        EXPECT_EQ(finDiffEvalAndChkErr(1, c.x, c.k, 0.25, c.v, c.tau, c.r), 0);
        if (c.k == 0) fitCurve_anonFcn1(3, c.x, c.v, c.tau, c.r);
        for (int i = 0; i < 7; ++i) EXPECT_EQ(guarded[i], start[i]) << i;
        for (double ri : r) EXPECT_EQ(ri, 99.0);
    }
    // The residuals fill exactly n entries; with no points the evaluation needs no data.
    fitCurve_anonFcn1(3, x, v, tau, r);
    EXPECT_NE(r[2], 99.0);
    EXPECT_EQ(r[3], 99.0);
    EXPECT_EQ(finDiffEvalAndChkErr(0, x, 4, 0.25, nullptr, nullptr, r), 1);
    // The finite differences without one of their arrays evaluate and write nothing.
    for (int missing = 0; missing < 5; ++missing) {
        SCOPED_TRACE(missing);
        double r0[3] = {0.0, 0.0, 0.0}, J[15], work[3];
        std::fill(J, J + 15, 99.0);
        int32_t evaluations = 0;
        EXPECT_EQ(computeFiniteDifferences(
                      3, missing == 0 ? nullptr : x, missing == 1 ? nullptr : r0, v, tau,
                      missing == 2 ? nullptr : J, 3, missing == 3 ? nullptr : work,
                      missing == 4 ? nullptr : &evaluations),
                  0);
        EXPECT_EQ(evaluations, 0);
        for (double j : J) EXPECT_EQ(j, 99.0);
    }
}
