// Per-cycle cost of the dynamics settings' servo services: the drag power window and the
// vibration abatement (smoother, ratio per joint and the hardware gain call of the simulated
// host). Each reports its mean time per call and, as counter worst_ns, the slowest single call
// seen (timed with the steady clock, so it includes the clock's own cost).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "kxmc/kxmc_dynamics_settings.h"
#include "kxsimhost.hpp"

namespace {

constexpr int kJournalClearInterval = 1 << 14;  // calls between clearing the host's call journal

void setup(uint32_t code) {
    kxsim::startup(code);
    mcb.robotModelCode = code;
    mpb.jointNum = 6;
    mcb.speedRatioA = 0.8;
    const int16_t current[6] = {420, -310, 250, -90, 60, -30};     // [per mille]
    const double vel[6] = {0.05, -0.04, 0.03, -0.08, 0.06, 0.09};  // [deg/cycle]
    for (int j = 0; j < 6; ++j) {
        how.jointCurrent[j] = current[j];
        mpb.actualJointVel[j] = vel[j];
    }
}

template <class Call>
void run_timed(benchmark::State &state, Call call) {
    double worst = 0.0;
    int64_t n = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        call(n);
        const auto t1 = std::chrono::steady_clock::now();
        worst = std::max(worst, std::chrono::duration<double, std::nano>(t1 - t0).count());
        if ((++n % kJournalClearInterval) == 0) {
            state.PauseTiming();
            kxsim::clear_journal();  // the simulated host journals every hardware call
            state.ResumeTiming();
        }
    }
    state.counters["worst_ns"] = worst;
}

void BM_PowerReal(benchmark::State &state) {
    setup(static_cast<uint32_t>(state.range(0)));
    double power = 0.0;
    // Fill the window first: the full-window path (shift and sum) is the steady state.
    for (int i = 0; i < 200; ++i) {
        qmcPowerReal(nullptr, &power);
    }
    run_timed(state, [&](int64_t n) {
        mpb.actualJointVel[0] = 0.05 + 1e-6 * static_cast<double>(n & 15);
        qmcPowerReal(nullptr, &power);
        benchmark::DoNotOptimize(power);
    });
}
BENCHMARK(BM_PowerReal)->Arg(101)->Arg(401);

void BM_VibrateAbateControl(benchmark::State &state) {
    setup(static_cast<uint32_t>(state.range(0)));
    float out[6] = {};
    run_timed(state, [&](int64_t n) {
        for (int j = 0; j < 6; ++j) {
            mpb.feedJointAcc[j] = (j % 2 == 0 ? 1.0 : -1.0) * 1e-7 * static_cast<double>(n & 31);
        }
        kxmcVibrateAbateControl(out);
        benchmark::DoNotOptimize(out);
    });
}
BENCHMARK(BM_VibrateAbateControl)->Arg(101)->Arg(201)->Arg(1001);

}  // namespace

BENCHMARK_MAIN();
