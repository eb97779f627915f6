// Per-cycle cost of the payload identifications: the step-driven window (gravity and friction
// model of the arm, residuals, window bookkeeping) and the continuous identification from the
// sensor at its worst, a window period of one cycle, so that every call takes a sample through
// the host's kinematics and forms an estimate. Each reports its mean time per call and, as
// counter worst_ns, the slowest single call seen.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "kxmc/kxmc_payload.h"
#include "kxsimhost.hpp"

namespace {

void setup(uint32_t code) {
    kxsim::startup(code);
    // The window logs a line per sample: no capture, so the host allocates nothing.
    kxsim::set_recording(false);
    const int16_t current[6] = {420, -310, 250, -90, 60, -30};  // [per mille]
    for (int j = 0; j < 6; ++j) {
        how.jointCurrent[j] = current[j];
        mpb.targetJointVel[j] = 0.02 * (j + 1);  // [deg/cycle]
    }
}

template <class Call>
void run_timed(benchmark::State &state, Call call) {
    double worst = 0.0;
    int64_t n = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        call(n++);
        const auto t1 = std::chrono::steady_clock::now();
        worst = std::max(worst, std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    state.counters["worst_ns"] = worst;
}

void BM_LoadIdentifyControl(benchmark::State &state) {
    setup(static_cast<uint32_t>(state.range(0)));
    qmcLoadIdentifyStartEnd(1);
    mpb.cmdId = 3;
    mpb.robotState = 2;
    run_timed(state, [](int64_t n) {
        mpb.jointPos[1] = -90.0 + 1e-3 * static_cast<double>(n & 1023);
        if (mcb.loadIdentifyWeightCount >= 900) {
            mcb.loadIdentifyWeightCount = 0;  // keep storing samples
        }
        benchmark::DoNotOptimize(kxmcLoadIdentifyControl());
    });
}
BENCHMARK(BM_LoadIdentifyControl)->Arg(101)->Arg(301);

void BM_LoadIdentifyDynControl(benchmark::State &state) {
    setup(static_cast<uint32_t>(state.range(0)));
    mcb.loadIdentifyDynOn = 1;
    mcb.loadIdentifyTime = 5;
    mcb.forceSensorAct = 1;
    mpb.robotState = 4;
    run_timed(state, [](int64_t n) {
        const double t = 1e-3 * static_cast<double>(n & 4095);
        mpb.jointPos[4] = -90.0 + 30.0 * std::sin(t);
        const double w[6] = {3.0 * std::sin(t), -2.0, -39.0, 1.2, 0.4 * std::cos(t), 0.1};
        std::copy(w, w + 6, mpb.forceSensorWrench);
        benchmark::DoNotOptimize(kxmcLoadIdentifyDynControl());
    });
}
BENCHMARK(BM_LoadIdentifyDynControl)->Arg(101);

}  // namespace

BENCHMARK_MAIN();
