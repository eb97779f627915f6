// Per-cycle cost of friction compensation, the gravity torque by mounting, the static gravity
// model and the end-load torque.
#include <benchmark/benchmark.h>

#include <cmath>

#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_gravity.h"
#include "kxsimhost.hpp"

namespace {

const double kPose[6] = {12.0, -75.0, 80.0, -40.0, 95.0, 30.0};         // [deg]
const double kLoad[4] = {20.0, -15.0, 90.0, 3.0};                        // [mm], [kg]
const double kVel[6] = {0.004, -0.02, 0.015, -0.03, 0.008, 0.035};     // [deg/ms]

void setup(uint32_t code) {
    kxsim::startup(code);
    mcb.robotModelCode = code;
    mpb.jointNum = 6;
    for (int i = 0; i < 6; ++i) mpb.jointMaxSpeed[i] = 180.0;
}

// Slightly different input every iteration so nothing is hoisted out of the loop.
void vary(double *v, int n, int k) {
    const double eps = 1e-9 * static_cast<double>(k & 15);
    for (int i = 0; i < n; ++i) v[i] += eps;
}

void BM_FrictionCompensation(benchmark::State &state) {
    setup(static_cast<uint32_t>(state.range(0)));
    mpb.robotState = static_cast<int32_t>(state.range(1));
    double out[6];
    int k = 0;
    for (auto _ : state) {
        double v[6] = {kVel[0], kVel[1], kVel[2], kVel[3], kVel[4], kVel[5]};
        vary(v, 6, ++k);
        frictionCompensation(v, out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_FrictionCompensation)->Args({101, 1})->Args({101, 4})->Args({201, 4})->Args({401, 1});

void BM_NewGravityTorque(benchmark::State &state) {
    setup(static_cast<uint32_t>(state.range(0)));
    mcb.installPos = static_cast<uint8_t>(state.range(1));
    mcb.installTilt = 30.0;
    mcb.installRot = 45.0;
    double out[6];
    int k = 0;
    for (auto _ : state) {
        double q[6] = {kPose[0], kPose[1], kPose[2], kPose[3], kPose[4], kPose[5]};
        vary(q, 6, ++k);
        kxmcNewGravityTorque(q, kLoad, out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_NewGravityTorque)->Args({101, 0})->Args({101, 3})->Args({201, 1})->Args({3, 0});

void BM_InvGravity(benchmark::State &state) {
    const double lengths[6] = {152, -425, -395, 102, 102, 100};
    const double masses[6] = {4.64, 10.08, 2.71, 1.56, 1.56, 0.36};
    const double centres[18] = {-0.19, -18.28, 2.26, 212.47, 0.0,  121.2, 122.62, 0.17,  12.59,
                                0.05,  -2.33,  14.68, -0.05, 2.33, 14.68, 0.93,   0.81, -20.05};
    const double payload[10] = {3.0, 20.0, -15.0, 90.0, 0, 0, 0, 0, 0, 0};
    const double gravity[3] = {-4.9, 0.0, -8.487};
    double out[6];
    int k = 0;
    for (auto _ : state) {
        double q[6] = {kPose[0], kPose[1], kPose[2], kPose[3], kPose[4], kPose[5]};
        vary(q, 6, ++k);
        kxmcInvGravity(lengths, masses, centres, payload, gravity, q, out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_InvGravity);

void BM_EndLoad(benchmark::State &state) {
    const int32_t code = static_cast<int32_t>(state.range(0));
    setup(static_cast<uint32_t>(code));
    double out[6];
    int k = 0;
    for (auto _ : state) {
        double q[6] = {kPose[0], kPose[1], kPose[2], kPose[3], kPose[4], kPose[5]};
        vary(q, 6, ++k);
        kxmcendload(-30.0, 45.0, q, kLoad[0], kLoad[1], kLoad[2], kLoad[3], out, code);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_EndLoad)->Arg(1)->Arg(102)->Arg(201)->Arg(301)->Arg(750);

}  // namespace

BENCHMARK_MAIN();
