// Servo-cycle latency of the library's per-cycle path, as the host runs it every 1 ms:
// gravityTorqueControl (full dynamics, or gravity only) and then kxmcCheckForCollisionError,
// over a moving arm state, for a program (the dual-encoder detector runs inside the dynamics
// block) and for hand guiding; and the wrist-sensor guiding cycle, forceSensorDataProcess then
// kxmcForceSensorDragProcess, while an operator pushes the tool back and forth and the host's
// position loop follows the goal. Reports median, 99th and 99.9th percentile and maximum [us]
// per configuration, and counts heap allocations inside the timed region (the tests' counting
// replacement of operator new and the malloc family); the cycle path must make none.
//
//   kxmc_cycle_latency [--cycles N] [--config K]
//     N cycles per configuration (default 1000000); K runs only the K-th row (0-based), which
//     keeps a profiler's or instruction counter's figure to one configuration.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_collision_check.h"
#include "kxmc/kxmc_collision_settings.h"
#include "kxmc/kxmc_end_force_drag.h"
#include "kxmc/kxmc_sensor_processing.h"
#include "kxmc/kxmc_torque_control.h"
#include "simhost/kxsimhost.hpp"
#include "tests/support/allocation_counter.hpp"

// ---- Configurations ----------------------------------------------------------------------------

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCountsPerJointDeg = 101.0 * 16384.0 / 360.0;

enum class Path { kTorque, kSensorGuiding };

struct Config {
    const char *name;
    int32_t robot_state;   // 2 program, 4 hand guiding, 1 (stopped) for the sensor guiding
    uint8_t teach_mode;    // 0 gravity only, 2 full dynamics
    Path path;
};

constexpr Config kConfigs[] = {
    {"program, full dynamics + dual encoder", 2, 2, Path::kTorque},
    {"hand guiding, full dynamics", 4, 2, Path::kTorque},
    {"hand guiding, gravity only", 4, 0, Path::kTorque},
    {"wrist-sensor guiding (sensor processing + drag step)", 1, 0, Path::kSensorGuiding},
};

struct Figures {
    double median, p99, p999, max;  // [us]
    long allocations;
};

// Host side of one cycle (not timed): a smooth joint motion around the ready pose, with the
// encoders showing a small gear deflection and currents near the command.
void host_state(long i) {
    static const double home[6] = {0, -90, 90, -90, -90, 0};
    const double t = static_cast<double>(i) * 0.001;
    for (int j = 0; j < 6; ++j) {
        const double w = 2.0 * kPi * (0.2 + 0.05 * j);  // [rad/s]
        const double a = 20.0;                          // [deg]
        const double q = home[j] + a * std::sin(w * t);
        mpb.prevJointPos[j] = mpb.jointPos[j];
        mpb.jointPos[j] = q;
        mpb.targetJointPos[j] = q;
        mpb.targetJointVel[j] = a * w * std::cos(w * t) * 1e-3;
        mpb.actualJointVel[j] = mpb.targetJointVel[j];
        mpb.targetJointAcc[j] = -a * w * w * std::sin(w * t) * 1e-6;
        mpb.feedJointAcc[j] = mpb.targetJointAcc[j];
        mpb.actualJointAcc[j] = mpb.targetJointAcc[j];
        const double deflection = 0.02 * std::sin(w * t + 0.3 * j);  // [deg]
        how.encoderPosB[j] = static_cast<int32_t>(std::lround(q * kCountsPerJointDeg));
        how.encoderPosA[j] =
            static_cast<int32_t>(std::lround((q + deflection) * kCountsPerJointDeg));
        how.jointCurrent[j] = static_cast<int16_t>(how.jointTorqueCmd[j] + (i % 7) - 3);
    }
    mpb.segmentSteps = 4000;
    mpb.segmentStep = static_cast<int32_t>(200 + i % 3000);
    mpb.tcpSpeed = 150.0;
}

// Wrist-sensor guiding: the sensor carries a 1.2-kg tool and the operator pushes it along base
// X (20 N, 0.5 Hz) in the base frame; the host's ideal position loop follows each goal.
struct SensorGuiding {
    kxsim::SensorSampleSource source{16, 0, 11};
    int32_t words[6] = {};

    SensorGuiding() {
        mcb.forceSensorAct = 1;
        mcb.forceSensorType = 16;
        mcb.forceSensorRefCoord = 1;
        mcb.speedMode = 1;
        mpb.forceSensorLoadWeight = 1.2;
        mpb.forceSensorLoadCoord[2] = 60;
        const double inertia[6] = {10, 10, 10, 0.5, 0.5, 0.5};
        const double damp[6] = {200, 200, 200, 10, 10, 10};
        const double zero[6] = {}, threshold[6] = {3, 3, 3, 0.3, 0.3, 0.3};
        kxmcEndForceDragstartstop(1, 0, 0, 0, inertia, damp, zero, threshold, 100, 90);
        kxmcEndForceDragParamReset();
    }
    // Host side of a cycle (not timed): the position loop, then the sensor's sample.
    void host(long i) {
        kxsim::ideal_position_loop_step();
        // Floor mounting, flange pointing down with the sensor unturned on it: the tool's
        // weight reads -11.76 N on the sensor's Z and the push along base X on its X.
        const double push = 20.0 * std::sin(2.0 * kPi * 0.5 * static_cast<double>(i) * 1e-3);
        const double *r = mpb.flangePose.rot.r;  // sensor axes = flange axes
        const double w[6] = {r[0] * push + r[6] * -11.76, r[1] * push + r[7] * -11.76,
                             r[2] * push + r[8] * -11.76, 0, 0, 0};
        source.sample(w, words);
    }
    void cycle() {
        forceSensorDataProcess(words);
        kxmcForceSensorDragProcess();
    }
};

long run_torque_path(const Config &c, long cycles, std::vector<float> &us) {
    for (long i = 0; i < 2000; ++i) {  // warm-up
        host_state(i);
        gravityTorqueControl(mpb.jointPos);
        kxmcCheckForCollisionError();
    }
    long allocations = 0;
    for (long i = 0; i < cycles; ++i) {
        host_state(i + 2000);
        mpb.robotState = c.robot_state;  // a detector's pause is acknowledged by the host
        kxmc_alloc::count_allocations(true);
        const auto t0 = std::chrono::steady_clock::now();
        gravityTorqueControl(mpb.jointPos);
        kxmcCheckForCollisionError();
        const auto t1 = std::chrono::steady_clock::now();
        kxmc_alloc::count_allocations(false);
        allocations += kxmc_alloc::allocations();
        us[static_cast<std::size_t>(i)] =
            std::chrono::duration<float, std::micro>(t1 - t0).count();
    }
    return allocations;
}

Figures run(const Config &c, long cycles) {
    kxsim::startup(101);
    // The simulated host journals and captures for the tests, which allocates; the real host's
    // calls only latch values. Switch that off so the count below is the library's alone.
    kxsim::set_recording(false);
    mcb.newTeachEnable = c.teach_mode;
    mcb.collisionPauseFlag = 1;  // a (false) report must not end the run
    mpb.collisionMode = 1;
    mpb.motionType = 1;
    mpb.loadWeight = 2.0;
    for (int j = 0; j < 6; ++j) {
        mpb.torqueCmdGain[j] = 1.0 / 0.7;
    }
    const float ratio[6] = {1, 1, 1, 1, 1, 1};
    kxsim::set_collision_ratio(ratio);
    mpb.robotState = c.robot_state;

    std::vector<float> us(static_cast<std::size_t>(cycles));
    long allocations = 0;
    if (c.path == Path::kSensorGuiding) {
        SensorGuiding guiding;
        for (long i = 0; i < 2000; ++i) {  // warm-up
            guiding.host(i);
            guiding.cycle();
        }
        for (long i = 0; i < cycles; ++i) {
            guiding.host(i + 2000);
            kxmc_alloc::count_allocations(true);
            const auto t0 = std::chrono::steady_clock::now();
            guiding.cycle();
            const auto t1 = std::chrono::steady_clock::now();
            kxmc_alloc::count_allocations(false);
            allocations += kxmc_alloc::allocations();
            us[static_cast<std::size_t>(i)] =
                std::chrono::duration<float, std::micro>(t1 - t0).count();
        }
        if (mcb.endForceDragOn != 1) {
            std::fprintf(stderr, "sensor guiding stopped (warning 0x%x)\n", mcb.warningCode);
        }
    } else {
        allocations = run_torque_path(c, cycles, us);
    }
    auto pct = [&](double p) {
        const std::size_t k = std::min(us.size() - 1, static_cast<std::size_t>(p * us.size()));
        std::nth_element(us.begin(), us.begin() + static_cast<long>(k), us.end());
        return static_cast<double>(us[k]);
    };
    Figures f{};
    f.median = pct(0.5);
    f.p99 = pct(0.99);
    f.p999 = pct(0.999);
    f.max = *std::max_element(us.begin(), us.end());
    f.allocations = allocations;
    return f;
}

}  // namespace

int main(int argc, char **argv) {
    long cycles = 1000000;
    long only = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cycles") == 0 && i + 1 < argc) {
            cycles = std::max(1000L, std::atol(argv[++i]));
        } else if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc) {
            only = std::atol(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--cycles N] [--config K]\n", argv[0]);
            return 2;
        }
    }
    std::printf(
        "Servo-cycle latency of the library's per-cycle path (torque path: "
        "gravityTorqueControl + kxmcCheckForCollisionError), %ld cycles per configuration\n\n",
        cycles);
    std::printf(
        "| configuration | median [us] | p99 [us] | p99.9 [us] | max [us] | heap allocations |\n");
    std::printf("|---|---|---|---|---|---|\n");
    long total_allocations = 0;
    long index = -1;
    for (const Config &c : kConfigs) {
        if (++index != only && only >= 0) {
            continue;
        }
        const Figures f = run(c, cycles);
        total_allocations += f.allocations;
        std::printf("| %s | %.2f | %.2f | %.2f | %.1f | %ld |\n", c.name, f.median, f.p99, f.p999,
                    f.max, f.allocations);
        std::fflush(stdout);
    }
    return total_allocations == 0 ? 0 : 1;
}
