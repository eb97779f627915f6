// Per-cycle cost of the dynamics block wrappers (the standard one with its load filters and six
// dual-encoder detector steps) and of one detector step. Each benchmark also reports the worst
// single call it saw (worst_ns).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "kxmc/kxmc_dual_encoder.h"
#include "kxmc/kxmc_dynamics_model.h"
#include "kxsimhost.hpp"

namespace {

using Clock = std::chrono::steady_clock;

const double kPose[6] = {12.0, -75.0, 80.0, -40.0, 95.0, 30.0};      // [deg]
const double kVel[6] = {0.004, -0.02, 0.015, -0.03, 0.008, 0.035};  // [deg/cycle]
const double kAcc[6] = {2e-6, -1e-5, 4e-6, 8e-6, -3e-6, 1e-5};      // [deg/cycle^2]

// Default standard parameter set.
const float kLengths[6] = {152, -425, -395, 102, 102, 100};
const float kMasses[6] = {4.64f, 10.08f, 2.71f, 1.56f, 1.56f, 0.36f};
const float kCentres[18] = {-0.19f, -18.28f, 2.26f, 212.47f, 0.0f, 121.2f, 122.62f, 0.17f, 12.59f,
                            0.05f,  -2.33f,  14.68f, -0.05f, 2.33f, 14.68f, 0.93f,  0.81f, -20.05f};
const float kInertias[36] = {9383.91f, -58.83f, -33.05f, 7742.20f, 222.87f, 9324.49f,
                             20604.96f, 280.19f, 2.62f, 438994.31f, -2.68f, 435456.0f,
                             3575.41f, 95.7f, 224.85f, 71482.85f, 3.43f, 71119.15f,
                             1625.95f, -2.85f, -3.47f, 1580.2f, 61.31f, 1255.26f,
                             1625.95f, -2.85f, 3.47f, 1580.2f, -61.31f, 1255.26f,
                             230.09f, 0.13f, 0.98f, 230.49f, 0.85f, 359.3f};
const float kRotor[6] = {1615598, 1615598, 1615598, 425520, 425520, 425520};

const double kTzLengths[6] = {140, -420, 12, 360, 102, 100};
const double kTzMasses[6] = {2.26, 4.53, 1.56, 1.97, 1.56, 0.35};
const double kTzCentres[36] = {};
const double kTzInertias[30] = {3015.96, -11.16, -9.73, 2293.95, 83.28, 2942.66,
                                5693.29, 48.54, -761.36, 173107.64, 7.08, 171869.7,
                                1626.46, -2.85, 3.48, 1580.68, -61.22, 1255.31,
                                14803.69, -2.41, 3.46, 2246.79, -890.25, 14362.64,
                                1626.46, -2.85, 3.48, 1580.68, -61.22, 1255.31};
const double kTzRotor[6] = {657160, 657160, 425520, 425520, 425520, 425520};
const double kPxLengths[6] = {180, -700, -586, 211, 114, 106};
const double kPxRotor[6] = {17472660, 17472660, 1615598, 657160, 657160, 657160};

constexpr double kCountsPerDeg = 16384.0 * 101.0 / 360.0;

void setup(uint32_t code) {
    kxsim::startup(code);
    mpb.robotState = 2;
    mpb.collisionMode = 1;
    mcb.collisionPauseFlag = 1;
    mcb.installTilt = 30.0;
    mcb.installRot = 45.0;
    for (int i = 0; i < 6; ++i) {
        mpb.targetJointVel[i] = kVel[i];
        mpb.feedJointAcc[i] = kAcc[i];
        mpb.targetJointAcc[i] = kAcc[i];
        mpb.jointPos[i] = kPose[i];
        mpb.collisionLevel[i] = 5.0f;
        how.jointCurrent[i] = static_cast<int16_t>(100 * (i + 1));
    }
    initCollisionDetection();
}

// A deflection sine on every joint (period 40 samples, 0.3 deg) so the detector meets peaks.
void move_encoders(int k) {
    for (int i = 0; i < 6; ++i) {
        const double deg = 0.3 * std::sin(0.157 * k + i);
        how.encoderPosA[i] = 1000 * i;
        how.encoderPosB[i] = 1000 * i + static_cast<int32_t>(std::lround(deg * kCountsPerDeg));
    }
}

template <class Call>
void timed_loop(benchmark::State &state, Call call) {
    double worst = 0.0;
    int k = 0;
    for (auto _ : state) {
        move_encoders(++k);
        const auto t0 = Clock::now();
        call(k);
        const auto t1 = Clock::now();
        worst = std::max(worst, std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    state.counters["worst_ns"] = worst;
}

// Standard wrapper with the block, the load filters and six detector steps (range 0 = 2: a
// running program) or the detector's restart (range 0 = 1: stopped).
void BM_StandardWrapper(benchmark::State &state) {
    setup(101);
    mpb.robotState = static_cast<int32_t>(state.range(0));
    double tau[6];
    double diag[36];
    timed_loop(state, [&](int k) {
        double q[6];
        for (int i = 0; i < 6; ++i) q[i] = kPose[i] + 1e-6 * (k & 15);
        kxqmckxdynamicblock(q, 10.0, -5.0, 60.0, 2.0, tau, kLengths, kMasses, kCentres, kInertias,
                            kRotor, nullptr, diag);
        benchmark::DoNotOptimize(tau);
        benchmark::DoNotOptimize(diag);
    });
}
BENCHMARK(BM_StandardWrapper)->Arg(2)->Arg(1);

void BM_TZWrapper(benchmark::State &state) {
    setup(701);
    double tau[6];
    timed_loop(state, [&](int k) {
        double q[6];
        for (int i = 0; i < 6; ++i) q[i] = kPose[i] + 1e-6 * (k & 15);
        kxTZqmckxdynamicblock(q, 10.0, -5.0, 60.0, 2.0, tau, kTzLengths, kTzMasses, kTzCentres,
                              kTzInertias, kTzRotor);
        benchmark::DoNotOptimize(tau);
    });
}
BENCHMARK(BM_TZWrapper);

void BM_PXWrapper(benchmark::State &state) {
    setup(902);
    double tau[6];
    timed_loop(state, [&](int k) {
        double q[6];
        for (int i = 0; i < 6; ++i) q[i] = kPose[i] + 1e-6 * (k & 15);
        kxPXqmckxdynamicblock(q, 10.0, -5.0, 60.0, 2.0, tau, kPxLengths, kPxRotor);
        benchmark::DoNotOptimize(tau);
    });
}
BENCHMARK(BM_PXWrapper);

// One detector step past warm-up, for the model band in range 0.
void BM_CollisionDetection(benchmark::State &state) {
    setup(static_cast<uint32_t>(state.range(0)));
    const float v[6] = {20.0f, -150.0f, 35.0f, 3.0f, -9.0f, 14.0f};  // [deg/s]
    for (int n = 0; n < 120; ++n) {
        move_encoders(n);
        kxmcCollisionDetection(n % 6, v);
    }
    timed_loop(state, [&](int k) {
        kxmcCollisionDetection(k % 6, v);
        benchmark::ClobberMemory();
    });
}
BENCHMARK(BM_CollisionDetection)->Arg(0)->Arg(101)->Arg(450)->Arg(9999);

}  // namespace

BENCHMARK_MAIN();
