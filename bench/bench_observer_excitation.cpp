// Per-cycle cost of the momentum observer (and of the host forming its M, V and g with the
// joint-space matrices), of one collecting cycle of the excitation identification, of the wrist
// regressor and of the solution at the end of a run. Each benchmark reports the mean and the
// worst single call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace {

template <class F>
void timed_loop(benchmark::State &state, F call) {
    for (int i = 0; i < 300; ++i) {
        call();
    }
    double worst_ns = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        call();
        const auto t1 = std::chrono::steady_clock::now();
        worst_ns = std::max(worst_ns, std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    state.counters["worst_ns"] = worst_ns;
}

// The 5-kg arm moving through a generic pose; the observer compares joint 3 at level 5.
struct ObserverInputs {
    double q[6] = {0.2, -1.3, 1.1, -0.9, -1.4, 0.3};
    double qd[6] = {0.3, -0.2, 0.25, 0.4, -0.3, 0.5};
    double M[36], V[36], g[6];
    double *mr[6], *vr[6], *gr[6];
    ObserverInputs() {
        kxsim::startup(101);
        kxsim::set_recording(false);
        for (int i = 0; i < 6; ++i) {
            mr[i] = &M[6 * i], vr[i] = &V[6 * i], gr[i] = &g[i];
            mpb.actualJointVel[i] = qd[i] * 180.0 / 3.14159265358979323846 / 1000.0;
            mpb.collisionLevel[i] = 5.0f;
            how.jointCurrent[i] = static_cast<int16_t>(50 + 10 * i);
        }
        mcb.collisionPauseFlag = 3;
        matrices();
    }
    void matrices() {
        com_M_matrix(q, MatHead{0, 5, 0, 5, 0, mr});
        com_C_matrix(q, qd, MatHead{0, 5, 0, 5, 0, vr});
        com_G_matrix(q, MatHead{0, 5, 0, 0, 0, gr});
    }
};

void BM_MomentumObserver(benchmark::State &state) {
    ObserverInputs in;
    double thr[6];
    timed_loop(state, [&] { kxmcMomentumObserver(2, 0, in.M, in.V, in.g, 0, thr); });
}
BENCHMARK(BM_MomentumObserver);

void BM_JointSpaceMatrices(benchmark::State &state) {
    ObserverInputs in;
    timed_loop(state, [&] { in.matrices(); });
}
BENCHMARK(BM_JointSpaceMatrices);

void BM_WristRegressor(benchmark::State &state) {
    const double q[6] = {0.2, -1.3, 1.1, -0.9, -1.4, 0.3},
                 qd[6] = {0.3, -0.2, 0.25, 0.4, -0.3, 0.5}, qdd[6] = {2, -1, 3, 4, -2, 5};
    double rows[3][27];
    double *ptr[3] = {rows[0], rows[1], rows[2]};
    timed_loop(state, [&] { solve_Hb5(q, qd, qdd, MatHead{0, 2, 0, 26, 0, ptr}); });
}
BENCHMARK(BM_WristRegressor);

// A collecting cycle: filters, regressor and the host's matrix products and sums of one sample.
void BM_ExcitationCollectingCycle(benchmark::State &state) {
    kxsim::startup(101);
    kxsim::set_recording(false);
    kxmcdynstoreresert();
    const double tau[6] = {0, 30, 10, 1, 1, 0.1};
    uint32_t k = 0;
    timed_loop(state, [&] {
        double pos[6];
        kxmcComputefourierAccVelPos(0.0, 320.0, 10.0, k++, pos);
        kxmcloadidentifymain(tau, pos, 1e9);
    });
    Store_free();
}
BENCHMARK(BM_ExcitationCollectingCycle);

// The last cycle's solution: inverting the 27 x 27 normal equations (prepared anew each time).
void BM_ExcitationSolution(benchmark::State &state) {
    kxsim::startup(101);
    kxsim::set_recording(false);
    const double tau[6] = {0, 30, 10, 1, 1, 0.1};
    double theta[27];
    for (auto _ : state) {
        state.PauseTiming();
        kxmcdynstoreresert();
        for (uint32_t k = 0; k < 3000; ++k) {
            double pos[6];
            kxmcComputefourierAccVelPos(0.0, 80.0, 10.0, k, pos);
            kxmcloadidentifymain(tau, pos, 1e9);
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(qmcComIdentifyInv(theta));
    }
    Store_free();
}
BENCHMARK(BM_ExcitationSolution)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
