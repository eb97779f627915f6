// Per-cycle cost of the collision check (level thresholds with and without the custom TCP
// limits, recorded-band replay) and of the static collision check. Each benchmark reports the
// mean and the worst single call; the message ring is full, so every call overwrites its oldest
// row.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace {

constexpr uint32_t kModel = 101;

// A 5-kg arm running a program in a generic pose, small currents, nothing colliding.
void running_arm() {
    kxsim::startup(kModel);
    const float ones[6] = {1, 1, 1, 1, 1, 1};
    kxsim::set_collision_ratio(ones);
    const float ff[6] = {3, -2, 1, 0.5f, 0, -1};
    kxsim::set_velocity_feedforward(ff);
    float rated[6];
    kxmcJointDefaultTorque(rated);
    const double pose[6] = {10, -60, 80, -110, 70, 20};
    mpb.jointNum = 6;
    mpb.robotState = 2;
    for (int j = 0; j < 6; ++j) {
        mpb.targetJointPos[j] = mpb.jointPos[j] = pose[j];
        mpb.targetJointVel[j] = mpb.actualJointVel[j] = 0.02 * (j + 1);
        mpb.torqueCmdGain[j] = 1.0;
        mpb.collisionLevel[j] = 5.0f;
        mpb.collisionThreshold[j] = 0.3 * rated[j];
        how.jointTorqueCmd[j] = static_cast<int16_t>(100 + 10 * j);
        how.jointCurrent[j] = static_cast<int16_t>(70 + 7 * j);
        mcb.customJointLimit[j] = 1e6f;
        mcb.customTcpLimit[j] = 1e9f;
    }
    mcb.frictionCompOn = 0;
    mcb.collisionCheckMode = 1;
    mpb.motionType = 1;
    mpb.jointMoveVel = 60.0;
    mpb.jointMaxSpeed[0] = 180.0;
    mpb.segmentStep = 500;
    mpb.segmentSteps = 100000;
    mpb.collisionCountLimit = 1000000;
    mcb.collisionErrorCode = 0x13000000u;
    mcb.customCollisionMode = 0;
}

template <class F>
void timed_loop(benchmark::State &state, F call) {
    for (int i = 0; i < 300; ++i) {
        call();  // warm-up: fills the message ring and the delay line
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

__attribute__((noinline)) void check_cycle() { kxmcCheckForCollisionError(); }
__attribute__((noinline)) void static_check() { qmcCheckTorqueError(); }

void BM_CheckLevelBranch(benchmark::State &state) {
    running_arm();
    timed_loop(state, check_cycle);
}
BENCHMARK(BM_CheckLevelBranch);

void BM_CheckLevelBranchCustomLimits(benchmark::State &state) {
    running_arm();
    const float limits[6] = {1e6f, 1e6f, 1e6f, 1e6f, 1e6f, 1e6f};
    const float tcp[6] = {1e9f, 1e9f, 1e9f, 1e9f, 1e9f, 1e9f};
    kxmcSetCustomCollisionDetection(3, limits, tcp);
    timed_loop(state, check_cycle);
}
BENCHMARK(BM_CheckLevelBranchCustomLimits);

void BM_CheckRecordedBand(benchmark::State &state) {
    running_arm();
    const int smooth = static_cast<int>(state.range(0));
    const float lower[6] = {-5, -5, -5, -5, -5, -5};
    const float upper[6] = {5, 5, 5, 5, 5, 5};
    const int32_t limits[6] = {500, 500, 500, 500, 500, 500};
    qmcTorqueRecordStartEnd(1, static_cast<uint8_t>(smooth), lower, upper, limits, 1);
    for (int k = 0; k < 50 * 12000; ++k) {
        how.jointCurrent[k % 6] = static_cast<int16_t>(100.0 * std::sin(k * 1e-4));
        kxmcTorqueRecordProcess();
    }
    qmcTorqueRecordStartEnd(0, static_cast<uint8_t>(smooth), lower, upper, limits, 2);
    qmcTorqueRecordStartEnd(1, static_cast<uint8_t>(smooth), lower, upper, limits, 3);
    timed_loop(state, check_cycle);
}
BENCHMARK(BM_CheckRecordedBand)->Arg(0)->Arg(1)->ArgName("smooth");

void BM_StaticCheck(benchmark::State &state) {
    running_arm();
    mpb.robotState = 1;
    timed_loop(state, static_check);
}
BENCHMARK(BM_StaticCheck);

}  // namespace

BENCHMARK_MAIN();
