// Joint identification: the recorder as the servo cycle calls it, the friction fit and the
// status call on the command path, and the natural-frequency estimate.
#include <cmath>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

double law(double w) {  // a wrist-like friction curve [N m] at w [rad/s]
    return (1.2 + 0.6 * std::exp(-w * w / 0.0064)) * std::tanh(30.0 * w) + 1.5 * w;
}

// Bin speeds [deg/s] of the ladder, positive then negative.
std::vector<double> ladder(bool fast) {
    std::vector<double> v;
    for (int k = 0; k < (fast ? 30 : 20); ++k) v.push_back(fast ? 18.0 + 3.6 * k : 0.45 + 0.9 * k);
    for (int k = 0, n = static_cast<int>(v.size()); k < n; ++k) v.push_back(-v[k]);
    return v;
}

void BM_FitCurve(benchmark::State &state) {
    const bool fast = state.range(0) == 60;
    std::vector<double> v = ladder(fast), tau;
    for (double &s : v) s *= kPi / 180.0, tau.push_back(law(s));
    const double x0[5] = {1, 1, 1, 1, 1};
    double x[5], resnorm;
    for (auto _ : state) {
        fitCurve(static_cast<int32_t>(v.size()), x0, v.data(), tau.data(), x, &resnorm);
        benchmark::DoNotOptimize(resnorm);
    }
}
BENCHMARK(BM_FitCurve)->Arg(40)->Arg(60)->Unit(benchmark::kMicrosecond);

// The status call after a recorded run: both fits, the logs and the curve check.
void BM_FrictionStatus(benchmark::State &state) {
    kxsim::startup(101);
    kxsim::set_recording(false);
    kxmcSingleJointFrictionOnlineOnOff(4, 0);
    const std::vector<double> slow = ladder(false), fast = ladder(true);
    uint16_t status;
    float ident[10], ref[10], diff[10];
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 40; ++i) {
            singleJointIdentify.slowJointVel[i] = slow[i];
            singleJointIdentify.slowJointTorque[i] = law(slow[i] * kPi / 180.0) / 100.0;
        }
        for (int i = 0; i < 60; ++i) {
            singleJointIdentify.highJointVel[i] = fast[i];
            singleJointIdentify.highJointTorque[i] = law(fast[i] * kPi / 180.0) / 100.0;
        }
        state.ResumeTiming();
        kxmcGetJointFrictionStatus(&status, ident, ref, diff);
        benchmark::DoNotOptimize(status);
    }
}
BENCHMARK(BM_FrictionStatus)->Unit(benchmark::kMicrosecond);

// One recorder call per servo cycle while the ladder holds a slow speed.
void BM_RecorderCycle(benchmark::State &state) {
    kxsim::startup(101);
    kxsim::set_recording(false);
    kxmcSingleJointFrictionOnlineOnOff(4, 1);
    mpb.robotState = 2;
    mpb.targetJointVel[3] = 0.0005;
    how.jointCurrent[3] = 120;
    const double tau[6] = {0, 0, 0, 0.5, 0, 0};
    for (auto _ : state) {
        kxmcSingleJointFrictionSaveData(tau);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RecorderCycle);

void BM_NaturalFrequency(benchmark::State &state) {
    kxsim::startup(101);
    mpb.loadWeight = static_cast<double>(state.range(0));
    mpb.loadCoord[2] = 80.0;
    const double q[6] = {10, -80, 95, -100, -85, 30};
    double f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kxmcCalculateNaturalFreq(q, &f));
    }
}
BENCHMARK(BM_NaturalFrequency)->Arg(0)->Arg(3);

}  // namespace

BENCHMARK_MAIN();
