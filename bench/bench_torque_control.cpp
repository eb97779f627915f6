// The per-cycle torque feed-forward in each torque mode, and the drag teach laws it runs: one
// iteration is one servo cycle of a moving arm.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>

#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace {

constexpr int kTrajectory = 1000;  // cycles of the joint trajectory replayed by the benchmarks
constexpr double kPose[6] = {10, -60, 80, -110, 70, 20};  // [deg]

// A smooth joint motion: each joint swings by a few degrees around the pose.
struct Trajectory {
    std::array<std::array<double, 6>, kTrajectory> q;    // [deg]
    std::array<std::array<double, 6>, kTrajectory> qd;   // [deg/cycle]
    std::array<std::array<double, 6>, kTrajectory> qdd;  // [deg/cycle^2]
};

const Trajectory &trajectory() {
    static const Trajectory t = [] {
        Trajectory out{};
        for (int n = 0; n < kTrajectory; ++n) {
            for (int j = 0; j < 6; ++j) {
                const double w = 2.0 * 3.14159265358979 * (j + 1) / kTrajectory;  // [rad/cycle]
                const double amp = 5.0;                                           // [deg]
                out.q[n][j] = kPose[j] + amp * std::sin(w * n);
                out.qd[n][j] = amp * w * std::cos(w * n);
                out.qdd[n][j] = -amp * w * w * std::sin(w * n);
            }
        }
        return out;
    }();
    return t;
}

void set_state(int n) {
    const Trajectory &t = trajectory();
    for (int j = 0; j < 6; ++j) {
        mpb.jointPos[j] = mpb.targetJointPos[j] = t.q[n][j];
        mpb.actualJointVel[j] = mpb.targetJointVel[j] = t.qd[n][j];
        mpb.actualJointAcc[j] = mpb.targetJointAcc[j] = mpb.feedJointAcc[j] = t.qdd[n][j];
        how.jointCurrent[j] = static_cast<int16_t>(100 * (j + 1));
    }
    mpb.tcpSpeed = 50.0;
}

struct Setup {
    uint32_t model;
    uint8_t mode;
    int32_t state;
    bool detector;  // dual-encoder detector of the standard block
    bool dragLock;
};

void torque_cycle(benchmark::State &state, Setup s) {
    kxsim::startup(s.model);
    mcb.newTeachEnable = s.mode;
    mcb.frictionCompOn = 1;
    mcb.dragLockOn = s.dragLock ? 1 : 0;
    for (int k = 0; k < 6; ++k) {
        mcb.dragLockKp[k] = 2.0;
        mcb.dragLockKi[k] = 0.01;
        mcb.dragLockKd[k] = 0.1;
    }
    mpb.collisionMode = s.detector ? 1 : 0;
    mpb.robotState = s.state;
    for (int n = 0; n < 600; ++n) {  // past the warm-ups of the filters and detectors
        set_state(n % kTrajectory);
        gravityTorqueControl(mpb.jointPos);
    }
    int n = 0;
    for (auto _ : state) {
        set_state(n);
        mpb.robotState = s.state;
        benchmark::DoNotOptimize(gravityTorqueControl(mpb.jointPos));
        benchmark::ClobberMemory();
        n = (n + 1) % kTrajectory;
    }
    kxsim::clear_journal();
    kxsim::clear_log();
}

void BM_GravityOnly(benchmark::State &state) { torque_cycle(state, {101, 0, 4, false, false}); }
void BM_GravityTest5kg(benchmark::State &state) { torque_cycle(state, {101, 1, 4, false, false}); }
void BM_GravityTest10kg(benchmark::State &state) { torque_cycle(state, {201, 1, 4, false, false}); }
void BM_FullDynamicsProgram(benchmark::State &state) {
    torque_cycle(state, {101, 2, 2, true, false});
}
void BM_FullDynamicsDragLock(benchmark::State &state) {
    torque_cycle(state, {101, 2, 4, false, true});
}
BENCHMARK(BM_GravityOnly);
BENCHMARK(BM_GravityTest5kg);
BENCHMARK(BM_GravityTest10kg);
BENCHMARK(BM_FullDynamicsProgram);
BENCHMARK(BM_FullDynamicsDragLock);

// ---- The laws alone ----------------------------------------------------------------------------

using GravityLaw = int32_t (*)(double, double, const double *, const double *, double *, int32_t);

// One gravity-test sample past the warm-up: the teach filter and two self-test evaluations.
void gravity_test_law(benchmark::State &state, GravityLaw law, uint32_t host_model, int32_t code) {
    kxsim::startup(host_model);
    kxmcdynfiltresert();
    const double gain[12] = {1.43, 1.23, 1.23, 1.43, 1.43, 1.43, 1, 1, 1, 1, 1, 1};
    double out[6];
    const Trajectory &t = trajectory();
    for (int n = 0; n < 600; ++n) {
        law(0.0, 0.0, gain, t.q[n].data(), out, code);
    }
    int n = 0;
    for (auto _ : state) {
        set_state(n);
        benchmark::DoNotOptimize(law(0.0, 0.0, gain, t.q[n].data(), out, code));
        benchmark::ClobberMemory();
        n = (n + 1) % kTrajectory;
    }
}

void BM_GravityTestLaw3(benchmark::State &s) {
    gravity_test_law(s, kxmcteachcontrol3_gravitytest, 1, 1);
}
void BM_GravityTestLaw5(benchmark::State &s) {
    gravity_test_law(s, kxmcteachcontrol5_gravitytest, 101, 102);
}
void BM_GravityTestLaw10(benchmark::State &s) {
    gravity_test_law(s, kxmcteachcontrol10_gravitytest, 201, 201);
}
void BM_GravityTestLaw16(benchmark::State &s) {
    gravity_test_law(s, kxmcteachcontrol16_gravitytest, 301, 301);
}
BENCHMARK(BM_GravityTestLaw3);
BENCHMARK(BM_GravityTestLaw5);
BENCHMARK(BM_GravityTestLaw10);
BENCHMARK(BM_GravityTestLaw16);

// One drag lock cycle: pose error, PID, Jacobian and J^T F.
void BM_DragLockLaw(benchmark::State &state) {
    kxsim::startup(101);
    kxmcdynfiltresert();
    PIDRecord pid[6];
    for (PIDRecord &p : pid) {
        PIDInit(&p, 2.0, 0.01, 0.1);
    }
    const double tau_in[6] = {1, -20, 8, 0.4, -0.3, 0.05};
    double out[6];
    const Trajectory &t = trajectory();
    static std::array<Trsf, kTrajectory> frames;  // the host's TCP frames along the motion
    for (int k = 0; k < kTrajectory; ++k) {
        frames[k] = kxsim::flange_transform(t.q[k].data());
    }
    int n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(teachcontrol5(pid, frames[n], t.q[n].data(), tau_in, out));
        benchmark::ClobberMemory();
        n = (n + 1) % kTrajectory;
    }
}
BENCHMARK(BM_DragLockLaw);

}  // namespace

BENCHMARK_MAIN();
