// Per-cycle cost of the wrist-sensor path: the sample processing (scaling, Kalman filters,
// compensation, output frame) and the end-force guiding step (prefilter, admittance, goal,
// joint-speed check through the host's inverse kinematics). The operator pushes back and forth
// (20 N, 0.5 Hz) so the arm keeps moving within a few centimetres; then the band check of the
// sensor collisions, the joint torques of force-and-torque guiding and the constant-force cycle.
// Each reports its mean time per call and, as counter worst_ns, the slowest single call seen.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "kxmc/kxmcforcetorque.h"
#include "kxsimhost.hpp"

namespace {

constexpr int kPeriod = 2000;  // [cycles] of the push
constexpr double kPi = 3.14159265358979323846;

struct Setup {
    int32_t adaptive, wall, singularity;
    uint8_t frame;
};

// Started arm with guiding on; samples of one push period precomputed (sensor frame).
std::vector<int32_t> setup(const Setup &s) {
    kxsim::startup(101);
    kxsim::set_recording(false);  // the real host's calls only latch values
    mcb.forceSensorAct = 1;
    mcb.forceSensorType = 16;
    mcb.speedMode = 1;
    mpb.forceSensorLoadWeight = 1.2;
    mpb.forceSensorLoadCoord[2] = 60;
    mcb.forceSensorRefCoord = s.frame;
    mcb.wallOn = 1;
    const double box[6] = {-300, -400, 0, 0, 400, 200};
    std::copy(box, box + 6, mcb.wallCorners);
    const double inertia[6] = {10, 10, 10, 0.5, 0.5, 0.5}, damp[6] = {200, 200, 200, 10, 10, 10};
    const double stiffness[6] = {}, threshold[6] = {3, 3, 3, 0.3, 0.3, 0.3};
    kxmcEndForceDragstartstop(1, s.adaptive, s.wall, s.singularity, inertia, damp, stiffness,
                              threshold, 100, 90);
    kxmcEndForceDragParamReset();  // at rest where the (restarted) host stands
    kxsim::SensorSampleSource source(16, 0, 3);
    std::vector<int32_t> words(6 * kPeriod);
    for (int i = 0; i < kPeriod; ++i) {
        const double w[6] = {20 * std::sin(2 * kPi * i / kPeriod), 0, -11.76, 0, 0, 0};
        source.sample(w, &words[6 * i]);
    }
    return words;
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

void BM_ForceSensorDataProcess(benchmark::State &state) {
    const std::vector<int32_t> words = setup({0, 0, 0, static_cast<uint8_t>(state.range(0))});
    run_timed(state, [&](int64_t n) {
        forceSensorDataProcess(&words[6 * (n % kPeriod)]);
        benchmark::DoNotOptimize(mpb.forceSensorWrench);
    });
}
BENCHMARK(BM_ForceSensorDataProcess)->Arg(0)->Arg(1)->Arg(2);

// Guiding in the base frame; the second variant adds adaptive damping and the virtual wall,
// the third the flagged singularity guard (which evaluates the constraint wrench every step).
void BM_ForceSensorDragProcess(benchmark::State &state) {
    const Setup s = {static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(0)),
                     static_cast<int32_t>(state.range(1)), 1};
    setup(s);
    mcb.forceSensorAct = 1;
    std::vector<double> push(kPeriod);  // [N] along base X, as the processing would leave it
    for (int i = 0; i < kPeriod; ++i) push[i] = 20 * std::sin(2 * kPi * i / kPeriod);
    run_timed(state, [&](int64_t n) {
        mpb.forceSensorWrench[0] = push[n % kPeriod];
        kxmcForceSensorDragProcess();
        benchmark::DoNotOptimize(mpb.targetJointPos);
    });
    if (mcb.endForceDragOn != 1) {
        static char message[64];
        std::snprintf(message, sizeof message, "guiding stopped: %x", mcb.warningCode);
        state.SkipWithError(message);
    }
}
BENCHMARK(BM_ForceSensorDragProcess)->Args({0, 0})->Args({1, 0})->Args({0, 1});

// ---- Sensor collisions, force-and-torque guiding, constant force -----------------------------

// The band check of all six components (the wrench stays inside: the usual cycle).
void BM_CollisionControl(benchmark::State &state) {
    setup({0, 0, 0, 1});
    const uint8_t all[6] = {1, 1, 1, 1, 1, 1};
    const double ref[6] = {}, band[6] = {50, 50, 50, 5, 5, 5};
    qmcCollisionStartStop(1, 0, all, ref, band, band, 1);
    run_timed(state, [&](int64_t n) {
        mpb.forceSensorWrench[0] =
            20 * std::sin(2 * kPi * static_cast<double>(n % kPeriod) / kPeriod);
        collisionControl();
        benchmark::DoNotOptimize(mcb.collisionErrorCode);
    });
}
BENCHMARK(BM_CollisionControl);

// Joint torques of the push: Jacobian, transpose, mapping, damping and the low-pass.
void BM_ForceDataToTorque(benchmark::State &state) {
    setup({0, 0, 0, 1});
    mcb.impedanceSign = 1;
    const double q[6] = {10, -80, 70, -20, 80, 5};
    double tau[6];
    run_timed(state, [&](int64_t n) {
        mcb.forceSensorCompWrench[0] =
            20 * std::sin(2 * kPi * static_cast<double>(n % kPeriod) / kPeriod);
        kxmcForceDataToTorque(q, tau);
        benchmark::DoNotOptimize(tau);
    });
}
BENCHMARK(BM_ForceDataToTorque);

// Constant force on Z (argument 0) or on X, Y and Z with the surface-direction estimate and the
// assisting admittance (argument 1), base frame, against a surface of 5 N/mm on every axis.
void BM_ConstForceControl(benchmark::State &state) {
    setup({0, 0, 0, 1});
    const bool all = state.range(0) == 1;
    const uint8_t sel[6] = {static_cast<uint8_t>(all), static_cast<uint8_t>(all), 1, 0, 0, 0};
    const double target[6] = {3, 4, 10, 0, 0, 0}, gains[6] = {0.002, 0, 0, 0.01, 0, 0};
    qmcConstForceStartStop(1, 0, sel, target, gains, 1, 0, 50, 10, 100, 1, all ? 1 : 0, 1);
    mpb.toolTrsf.pos.v[2] = 100;
    mcb.forceSensorCompWrench[3] = -0.5, mcb.forceSensorCompWrench[4] = 0.8;
    Trsf out;
    run_timed(state, [&](int64_t) {
        mpb.forceSensorWrench[0] = -5.0 * mcb.constForceOffset[0];
        mpb.forceSensorWrench[1] = -5.0 * mcb.constForceOffset[1];
        mpb.forceSensorWrench[2] = 5.0 * std::fmax(0.0, -mcb.constForceOffset[2]);
        constForceControl(mpb.cmdCartPose, &out);
        benchmark::DoNotOptimize(out);
    });
    if (mcb.constForceOn != 1) {
        state.SkipWithError("constant force stopped at an offset limit");
    }
}
BENCHMARK(BM_ConstForceControl)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
