// Per-cycle cost of the numerics toolbox: Jacobians (general, closed form, single precision),
// the 6 x 6 inversions and determinant, one six-channel Butterworth step and myfilter.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "kxmc/kxmc_numerics.h"
#include "kxsimhost.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;
const double kAlpha[6] = {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0};
const double kA[6] = {0, -0.425, -0.395, 0, 0, 0};        // [m]
const double kD[6] = {0.152, 0, 0, 0.102, 0.102, 0.1};    // [m]
const double kPose[6] = {0.2, -1.3, 1.4, -0.7, 1.66, 0.5};  // [rad]

// Slightly different input every iteration so nothing is hoisted out of the loop.
void vary(double *v, int k) {
    const double eps = 1e-9 * static_cast<double>(k & 15);
    for (int i = 0; i < 6; ++i) v[i] = kPose[i] + eps;
}

void BM_JacobianCom(benchmark::State &state) {
    double J[36];
    int k = 0;
    for (auto _ : state) {
        double q[6];
        vary(q, ++k);
        Jacobian_com(kAlpha, kA, kD, q, J);
        benchmark::DoNotOptimize(J);
    }
}
BENCHMARK(BM_JacobianCom);

template <int (*Fn)(const double *, const double *, const double *, double **)>
void BM_ClosedFormJacobian(benchmark::State &state) {
    double J[36];
    double *rows[6] = {J, J + 6, J + 12, J + 18, J + 24, J + 30};
    int k = 0;
    for (auto _ : state) {
        double q[6];
        vary(q, ++k);
        Fn(q, nullptr, nullptr, rows);
        benchmark::DoNotOptimize(J);
    }
}
BENCHMARK_TEMPLATE(BM_ClosedFormJacobian, kx3_jacob)->Name("BM_kx3_jacob");
BENCHMARK_TEMPLATE(BM_ClosedFormJacobian, kx5_jacob)->Name("BM_kx5_jacob");
BENCHMARK_TEMPLATE(BM_ClosedFormJacobian, kx10_jacob)->Name("BM_kx10_jacob");
BENCHMARK_TEMPLATE(BM_ClosedFormJacobian, kx16_jacob)->Name("BM_kx16_jacob");

void BM_VelocityJacob(benchmark::State &state) {
    const float dh[6] = {152, -425, -395, 102, 102, 100};  // [mm]
    float J[36];
    int k = 0;
    for (auto _ : state) {
        double qd[6];
        vary(qd, ++k);
        float q[6];
        for (int i = 0; i < 6; ++i) q[i] = static_cast<float>(qd[i]);
        velocityJacob(dh, q, J);
        benchmark::DoNotOptimize(J);
    }
}
BENCHMARK(BM_VelocityJacob);

// A Jacobian of a regular pose: the matrix the servo-cycle inversions see.
void pose_jacobian(double *J) { Jacobian_com(kAlpha, kA, kD, kPose, J); }

template <int (*Fn)(const double *, double *)>
void BM_Inverse(benchmark::State &state) {
    double A[36], B[36];
    pose_jacobian(A);
    int k = 0;
    for (auto _ : state) {
        A[0] += 1e-12 * static_cast<double>(++k & 1);
        Fn(A, B);
        benchmark::DoNotOptimize(B);
    }
}
BENCHMARK_TEMPLATE(BM_Inverse, inverseJacobi)->Name("BM_inverseJacobi");
BENCHMARK_TEMPLATE(BM_Inverse, invNxN)->Name("BM_invNxN");

void BM_InvMatrix4(benchmark::State &state) {
    float A[16] = {4, 1, 0, 2, 1, 5, 1, 0, 0, 1, 6, 1, 2, 0, 1, 7};
    float B[16];
    int k = 0;
    for (auto _ : state) {
        A[0] = 4.0f + 1e-6f * static_cast<float>(++k & 1);
        invMatrix(A, B);
        benchmark::DoNotOptimize(B);
    }
}
BENCHMARK(BM_InvMatrix4)->Name("BM_invMatrix");

void BM_DeterminantDimen(benchmark::State &state) {
    double A[36];
    pose_jacobian(A);
    int k = 0;
    for (auto _ : state) {
        A[0] += 1e-12 * static_cast<double>(++k & 1);
        benchmark::DoNotOptimize(determinantDimen(6, A));
    }
}
BENCHMARK(BM_DeterminantDimen);

// One servo cycle of the slow Butterworth filter: six channels at a full window (k = 5).
void BM_ButterworthStep(benchmark::State &state) {
    double out[6];
    for (auto _ : state) {
        for (int ch = 0; ch < 6; ++ch) buttord(ch, 5, &out[ch]);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_ButterworthStep);

// One servo cycle of myfilter: six channels.
void BM_MyFilter(benchmark::State &state) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    double x[64];
    for (double &v : x) v = u(rng);
    double y[6];
    int k = 0;
    for (auto _ : state) {
        for (int ch = 0; ch < 6; ++ch) myfilter(ch, x[(k + ch) & 63], &y[ch]);
        ++k;
        benchmark::DoNotOptimize(y);
    }
}
BENCHMARK(BM_MyFilter);

}  // namespace

// The library runs inside its host: start the simulated one (5-kg arm) before timing.
int main(int argc, char **argv) {
    kxsim::startup(101);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
