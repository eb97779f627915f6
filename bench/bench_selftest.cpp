// Self-test torque of the four arm families: one call = regressor, parameter copy and the
// host's matrix product, as the gravity-test laws run it twice per servo cycle.
#include <algorithm>
#include <array>
#include <chrono>
#include <random>

#include <benchmark/benchmark.h>

#include "jointid/selftest_parameters.hpp"
#include "dynamics/arm_parameters.hpp"
#include "kxmc/kxmc_selftest.h"
#include "simhost/kxsimhost.hpp"

namespace {

using SelftestFn = int32_t (*)(const double *, const double *, const double *, MatHead);

constexpr int kStates = 64;

struct States {
    std::array<std::array<double, 9>, kStates> q;
    std::array<std::array<double, 6>, kStates> qd;
    std::array<std::array<double, 6>, kStates> qdd;
};

States make_states() {
    std::mt19937_64 rng(20240611u);
    std::uniform_real_distribution<double> angle(-3.14159, 3.14159), rate(-3.0, 3.0),
        acc(-10.0, 10.0);
    States s{};
    for (int i = 0; i < kStates; ++i) {
        s.q[i][0] = 0.0;
        s.q[i][1] = (i % 4 == 0) ? angle(rng) : 0.0;  // a quarter of the states mounted slanted
        s.q[i][2] = angle(rng);
        for (int j = 0; j < 6; ++j) {
            s.q[i][3 + j] = angle(rng);
            s.qd[i][j] = rate(rng);
            s.qdd[i][j] = acc(rng);
        }
    }
    return s;
}

[[gnu::noinline]] int32_t call_selftest(SelftestFn fn, const double *q, const double *qd,
                                        const double *qdd, MatHead out) {
    return fn(q, qd, qdd, out);
}

void run(benchmark::State &state, SelftestFn fn, int family, uint32_t model) {
    kxsim::startup(model);  // the host whose matrix product the call uses
    const double *theta = kxmc::selftest_parameters(family);
    std::copy(theta, theta + 54, gtau);
    const States s = make_states();
    double tau[6];
    double *rows[6] = {&tau[0], &tau[1], &tau[2], &tau[3], &tau[4], &tau[5]};
    const MatHead out{0, 5, 0, 0, 0, rows};
    for (int i = 0; i < 1000; ++i) {  // warm-up
        call_selftest(fn, s.q[i % kStates].data(), s.qd[i % kStates].data(),
                      s.qdd[i % kStates].data(), out);
    }
    double worst = 0.0;
    int i = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(
            call_selftest(fn, s.q[i].data(), s.qd[i].data(), s.qdd[i].data(), out));
        benchmark::ClobberMemory();
        const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
        state.SetIterationTime(dt.count());
        worst = std::max(worst, dt.count());
        i = (i + 1) % kStates;
    }
    state.counters["worst_us"] = worst * 1e6;
}

}  // namespace

BENCHMARK_CAPTURE(run, computeKx3_selftautest, computeKx3_selftautest, 3, 1u)->UseManualTime();
BENCHMARK_CAPTURE(run, computeKx5_selftautest, computeKx5_selftautest, 5, 102u)->UseManualTime();
BENCHMARK_CAPTURE(run, computeKx10_selftautest, computeKx10_selftautest, 10, 201u)->UseManualTime();
BENCHMARK_CAPTURE(run, computeKx16_selftautest, computeKx16_selftautest, 16, 301u)->UseManualTime();

BENCHMARK_MAIN();
