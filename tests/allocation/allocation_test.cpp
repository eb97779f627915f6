// The servo-cycle path never allocates. Every per-cycle entry point, in every torque model,
// robot state, drag mode, detector and identification that runs per cycle, runs 10 000 cycles
// of a moving arm under a counting allocator (malloc, calloc, realloc, operator new) and must
// make no allocation. The simulated host's journal and log capture are off (they allocate to
// record; the real host's services only latch values), and each row must keep its robot state:
// a reaction would leave the path under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>

#include "allocation_counter.hpp"
#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"

namespace {

constexpr long kCycles = 10000;
constexpr double kPi = 3.14159265358979323846;
constexpr double kCountsPerJointDeg = 101.0 * 16384.0 / 360.0;  // 100:1 gear plus the motor turn

enum State : int32_t { kStopped = 1, kProgram = 2, kDrag = 4 };
enum Teach : uint8_t { kGravity = 0, kGravityTest = 1, kFullDynamics = 2 };

// A smooth joint motion around the ready pose: encoders with a small gear deflection, currents
// at the command, a program segment in progress.
void host_state(long i) {
    static const double home[6] = {0, -90, 90, -90, -90, 0};
    const double t = static_cast<double>(i) * 0.001;
    for (int j = 0; j < 6; ++j) {
        const double w = 2.0 * kPi * (0.2 + 0.05 * j);  // [rad/s]
        const double a = 15.0;                          // [deg]
        const double q = home[j] + a * std::sin(w * t);
        mpb.prevJointPos[j] = mpb.jointPos[j];
        mpb.jointPos[j] = q;
        mpb.targetJointPos[j] = q;
        mpb.cmdJointPos[j] = q;
        mpb.targetJointVel[j] = a * w * std::cos(w * t) * 1e-3;
        mpb.actualJointVel[j] = mpb.targetJointVel[j];
        mpb.targetJointAcc[j] = -a * w * w * std::sin(w * t) * 1e-6;
        mpb.feedJointAcc[j] = mpb.targetJointAcc[j];
        mpb.actualJointAcc[j] = mpb.targetJointAcc[j];
        const double deflection = 0.01 * std::sin(w * t + 0.3 * j);  // [deg]
        how.encoderPosB[j] = static_cast<int32_t>(std::lround(q * kCountsPerJointDeg));
        how.encoderPosA[j] =
            static_cast<int32_t>(std::lround((q + deflection) * kCountsPerJointDeg));
        how.jointCurrent[j] = how.jointTorqueCmd[j];
    }
    mpb.segmentSteps = 20000;
    mpb.segmentStep = static_cast<int32_t>(200 + i);
    mpb.tcpSpeed = 100.0;
}

struct Row {
    const char *name;
    uint32_t model;
    int32_t state;
    uint8_t teach;
    void (*setup)() = nullptr;          // settings of the row, before the counted cycles
    void (*per_cycle)(long) = nullptr;  // entry points the row adds to the host's cycle
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

// Wrist sensor on (model 16, range 0) with a raw sample of small counts that change each cycle.
void sensor_on() {
    mcb.forceSensorAct = 1;
    mcb.forceSensorType = 16;
    mcb.forceSensorRange = 0;
}
void sensor_sample(long i) {
    const int32_t c = static_cast<int32_t>(i % 40) - 20;
    const int32_t words[6] = {c, 2 * c, 100 + c, c / 2, -c, 3};
    forceSensorDataProcess(words);
}

// Constant force on the Z axis or all six (X and Y together turn with the surface estimate),
// with the offset limits far away; each cycle sees the target plus a small ripple and must not
// stop the control.
void const_force(const uint8_t sel[6], uint8_t adjust, uint8_t ilc, uint8_t zfilter,
                 uint8_t admittance) {
    sensor_on();
    const double target[6] = {2, 1, 10, 0, 0, 0}, gains[6] = {0.002, 1e-5, 0, 0.01, 0, 0};
    EXPECT_EQ(qmcConstForceStartStop(1, 0, sel, target, gains, adjust, ilc, 1e6, 1e6, 100, zfilter,
                                     admittance, 1),
              0);
}
void const_force_cycle(long i) {
    for (int k = 0; k < 6; ++k) {
        mpb.forceSensorWrench[k] = mcb.constForceTarget[k] + 0.5 * std::sin(0.01 * i + k);
    }
    Trsf out;
    EXPECT_EQ(constForceControl(mpb.cmdCartPose, &out), 0);
    EXPECT_EQ(mcb.constForceOn, 1);
}
constexpr uint8_t kZAxis[6] = {0, 0, 1, 0, 0, 0};
constexpr uint8_t kAllAxes[6] = {1, 1, 1, 1, 1, 1};

// Sensor collision band around the wrench the sample gives (wide: no collision; narrow: every
// cycle is one, reported as a warning only).
void sensor_collision(double margin) {
    sensor_on();
    const double ref[6] = {}, band[6] = {margin, margin, margin, margin, margin, margin};
    EXPECT_EQ(qmcCollisionStartStop(1, 0, kAllAxes, ref, band, band, 1), 0);
}

// Replay of a 300-sample torque record with its band far away.
void torque_replay(uint8_t smooth) {
    mcb.torqueRecordEnable = 1;
    mcb.torqueRecordApply = 1;
    mcb.torqueRecordSmooth = smooth;
    mcb.torqueRecordLength = 300;
    std::fill_n(mcb.torqueRecordLower, 6, -1e6f);
    std::fill_n(mcb.torqueRecordUpper, 6, 1e6f);
}

// Joint-space dynamics of the arm's state, as the host computes them for the observer.
void observer_cycle(long i) {
    double M[36], V[36], g[6], q[6], qd[6];
    double *m_rows[6], *v_rows[6], *g_rows[6];
    for (int j = 0; j < 6; ++j) {
        q[j] = mpb.jointPos[j] * kPi / 180.0;
        qd[j] = mpb.actualJointVel[j] * kPi / 180.0;
        m_rows[j] = M + 6 * j;
        v_rows[j] = V + 6 * j;
        g_rows[j] = g + j;
    }
    com_M_matrix(q, MatHead{0, 5, 0, 5, 0, m_rows});
    com_C_matrix(q, qd, MatHead{0, 5, 0, 5, 0, v_rows});
    com_G_matrix(q, MatHead{0, 5, 0, 0, 0, g_rows});
    double thr[6];
    const uint32_t j = static_cast<uint32_t>(i % 6);
    EXPECT_EQ(kxmcMomentumObserver(j, 0, M, V, g, 0, thr), 0);
    EXPECT_TRUE(std::isfinite(thr[j])) << "joint " << j;
    EXPECT_GT(thr[j], 0.0) << "joint " << j;
}

const Row kRows[] = {
    {"program, gravity only", 101, kProgram, kGravity},
    {"program, gravity-test law", 101, kProgram, kGravityTest},
    {"program, full dynamics, dual encoder", 101, kProgram, kFullDynamics,
     [] { mpb.collisionMode = 1; }},
    {"program, full dynamics, dual encoder stop-to-drag", 101, kProgram, kFullDynamics,
     [] { mpb.collisionMode = 2; }},
    {"program, 10-kg arm, full dynamics", 201, kProgram, kFullDynamics,
     [] { mpb.collisionMode = 1; }},
    {"program, 16-kg arm, full dynamics", 301, kProgram, kFullDynamics},
    {"program, TZ arm, full dynamics", 701, kProgram, kFullDynamics},
    {"program, PX arm, full dynamics", 902, kProgram, kFullDynamics},
    {"hand guiding, gravity only", 101, kDrag, kGravity},
    {"hand guiding, gravity-test law, 3 kg", 1, kDrag, kGravityTest},
    {"hand guiding, gravity-test law, 5 kg", 101, kDrag, kGravityTest},
    {"hand guiding, gravity-test law, 10 kg", 201, kDrag, kGravityTest},
    {"hand guiding, gravity-test law, 16 kg", 301, kDrag, kGravityTest},
    {"hand guiding, full dynamics", 101, kDrag, kFullDynamics},
    {"hand guiding, drag lock", 101, kDrag, kGravity, [] { mcb.dragLockOn = 1; }},
    {"hand guiding, interference drag joint hold", 101, kDrag, kGravity,
     [] {
         mcb.interfereDragMode = 1;
         mpb.interfereZoneState = 1;
     }},
    {"hand guiding, interference drag pose hold", 101, kDrag, kGravity,
     [] {
         mcb.interfereDragMode = 1;
         mpb.interfereZoneState = 2;
     }},
    {"hand guiding, force-and-torque drag", 101, kDrag, kFullDynamics,
     [] {
         mcb.forceTorqueDragOn = 1;
         mcb.forceSensorAct = 1;
         for (int j = 0; j < 6; ++j) mpb.forceSensorWrench[j] = 0.5 * (j + 1);
     }},
    {"hand guiding, drag power check", 101, kDrag, kGravity,
     [] {
         mcb.powerCheckOn = 1;
         mcb.powerFlag = 1;
         mcb.powerLimit = 1e6;
     }},
    {"stopped, static collision check", 101, kStopped, kGravity, [] { mcb.staticCollisionOn = 1; }},
    {"program, custom joint and TCP limits", 101, kProgram, kFullDynamics,
     [] {
         mcb.customCollisionMode = 3;
         std::fill_n(mcb.customJointLimit, 6, 1e6f);
         std::fill_n(mcb.customTcpLimit, 6, 1e9f);
     }},
    {"program, torque record recording", 101, kProgram, kFullDynamics,
     [] {
         mcb.torqueRecordEnable = 1;
         mcb.torqueRecordRun = 1;
     },
     [](long) { kxmcTorqueRecordProcess(); }},
    {"program, torque record replay, linear", 101, kProgram, kFullDynamics,
     [] { torque_replay(0); }},
    {"program, torque record replay, B-spline", 101, kProgram, kFullDynamics,
     [] { torque_replay(1); }},
    {"program, friction identification recorder", 101, kProgram, kFullDynamics,
     [] { kxmcSingleJointFrictionOnlineOnOff(2, 1); }},
    {"program, joint model identification value", 101, kProgram, kGravity,
     [] { kxmcSingleJointModelOnlineOnOff(3, 1); },
     [](long) {
         float value;
         kxmcGetJointModelDataOnline(&value);
     }},
    {"program, step payload identification", 101, kProgram, kGravity,
     [] { qmcLoadIdentifyStartEnd(1); },
     [](long i) {
         mpb.cmdId = static_cast<uint32_t>(3 + (i / 2000) % 2);
         kxmcLoadIdentifyControl();
     }},
    {"hand guiding, continuous payload identification", 101, kDrag, kGravity,
     [] {
         mcb.loadIdentifyDynOn = 1;
         mcb.loadIdentifyTime = 100;
         mcb.forceSensorAct = 1;
         mpb.forceSensorWrench[2] = -19.6;
     },
     [](long) { kxmcLoadIdentifyDynControl(); }},
    {"program, message ring and joint status", 101, kProgram, kFullDynamics, nullptr,
     [](long) {
         const double model[6] = {1, 2, 3, 4, 5, 6};
         collisionMessageSave(model, model);
         double a[6], b[6], c[6], d[6], e[6], f[6], g[6];
         kxmcGetJointStatus(a, b, c, d, e, f, g);
     }},
    {"program, expected current, allowance, custom limits, detector step", 101, kProgram, kGravity,
     nullptr,
     [](long i) {
         int16_t expected[6];
         kxmcTorqueRecordCollision(expected);
         double allow[6];
         dynamicCurrentCollisionLimit(static_cast<int32_t>(1 + i % 250), allow);
         const double r[6] = {0.1, -0.1, 0.1, -0.1, 0.1, -0.1};
         kxmcCustomCollisionDetectionMain(r, r);
         const float tau[6] = {20, 40, 10, 2, 1, 0.5f};
         kxmcCollisionDetection(static_cast<int32_t>(i % 6), tau);
     }},
    {"hand guiding, vibration abatement, drag power, sensor torque, natural frequency", 101, kDrag,
     kGravity, nullptr,
     [](long) {
         float ratio[6];
         kxmcVibrateAbateControl(ratio);
         double power, tau[6], freq;
         qmcPowerReal(nullptr, &power);
         kxmcForceDataToTorque(mpb.jointPos, tau);
         kxmcCalculateNaturalFreq(mpb.jointPos, &freq);
     }},
    {"program, constant force on Z", 101, kProgram, kFullDynamics,
     [] { const_force(kZAxis, 0, 0, 0, 0); }, const_force_cycle},
    {"program, constant force on Z, filtered error, adapted gain", 101, kProgram, kFullDynamics,
     [] { const_force(kZAxis, 1, 0, 1, 0); }, const_force_cycle},
    {"program, constant force on six axes, learning", 101, kProgram, kFullDynamics,
     [] { const_force(kAllAxes, 0, 1, 0, 0); }, const_force_cycle},
    {"program, constant force on six axes, replay with admittance", 101, kProgram, kFullDynamics,
     [] { const_force(kAllAxes, 0, 2, 0, 1); }, const_force_cycle},
    {"program, constant force with compliance", 101, kProgram, kFullDynamics,
     [] {
         const_force(kZAxis, 0, 0, 0, 0);
         EXPECT_EQ(kxmcCompliancestartstop(0.01, 50.0, 1, 1), 0);
     },
     const_force_cycle},
    {"program, sensor processing and sensor collision check", 101, kProgram, kFullDynamics,
     [] { sensor_collision(1e6); },
     [](long i) {
         sensor_sample(i);
         collisionControl();
         EXPECT_EQ(mcb.sensorCollisionOn, 1);
     }},
    {"program, sensor collision reported as warning", 101, kProgram, kFullDynamics,
     [] { sensor_collision(1e-3); },
     [](long i) {
         sensor_sample(i);
         mpb.forceSensorWrench[2] = 5.0;
         mcb.collisionErrorCode = 0;
         collisionControl();
         EXPECT_EQ(mcb.collisionErrorCode, 0x13000001u);
     }},
    {"stopped, end-force hand guiding", 101, kStopped, kGravity,
     [] {
         sensor_on();
         mcb.speedMode = 1;
         const double inertia[6] = {10, 10, 10, 0.5, 0.5, 0.5};
         const double damp[6] = {200, 200, 200, 10, 10, 10};
         const double stiffness[6] = {}, threshold[6] = {3, 3, 3, 0.3, 0.3, 0.3};
         EXPECT_EQ(
             kxmcEndForceDragstartstop(1, 0, 0, 0, inertia, damp, stiffness, threshold, 100, 90),
             0);
     },
     [](long i) {
         // The host follows the guiding: its commanded joints are the ones guiding set.
         static double commanded[6] = {0, -90, 90, -90, -90, 0};
         std::copy(commanded, commanded + 6, mpb.targetJointPos);
         sensor_sample(i);
         kxmcForceSensorDragProcess();
         std::copy(mpb.targetJointPos, mpb.targetJointPos + 6, commanded);
         EXPECT_EQ(mcb.endForceDragOn, 1) << std::hex << mcb.warningCode;
     }},
    {"program, momentum observer with the joint-space matrices", 101, kProgram, kFullDynamics,
     nullptr, observer_cycle},
    {"program, excitation identification accumulation", 101, kProgram, kFullDynamics,
     [] { EXPECT_EQ(kxmcdynstoreresert(), 0); },
     [](long) {
         double torque[6];
         std::copy_n(mpb.measuredJointTorque, 6, torque);
         // A 20-s run: it neither ends nor frees its store within the window.
         EXPECT_EQ(kxmcloadidentifymain(torque, mpb.jointPos, 20.0), 0);
     }},
};

class ServoCycleAllocations : public kxsim_test::HostFixture,
                              public ::testing::WithParamInterface<Row> {};

// In a sanitizer build the count is unavailable; the cycles still run there, under the
// sanitizers, with the robot-state and finiteness checks.
TEST_P(ServoCycleAllocations, TenThousandCyclesAllocateNothing) {
    const Row &row = GetParam();
    restart(row.model);
    kxsim::set_recording(false);
    const float ratio[6] = {1, 1, 1, 1, 1, 1};
    kxsim::set_collision_ratio(ratio);
    mcb.newTeachEnable = row.teach;
    mcb.collisionPauseFlag = 1;  // a report would only warn
    mpb.motionType = 1;
    mpb.loadWeight = 1.0;
    mpb.loadCoord[2] = 40.0;
    std::fill_n(mpb.torqueCmdGain, 6, 1.0 / 0.7);
    std::fill_n(mpb.collisionLevel, 6, 10.0f);
    mpb.robotState = row.state;
    if (row.setup != nullptr) row.setup();
    // The first 200 cycles are outside the window: first-call initialisations may take their time.
    for (long i = 0; i < 200 + kCycles; ++i) {
        if (i == 200) kxmc_alloc::count_allocations(true);
        host_state(i);
        gravityTorqueControl(mpb.jointPos);
        kxmcCheckForCollisionError();
        if (row.per_cycle != nullptr) row.per_cycle(i);
    }
    kxmc_alloc::count_allocations(false);
    if (kxmc_alloc::counting_available()) {
        EXPECT_EQ(kxmc_alloc::allocations(), 0) << row.name;
    }
    EXPECT_EQ(mpb.robotState, row.state) << row.name << ": a reaction left the path under test";
    for (int j = 0; j < 6; ++j) {
        EXPECT_TRUE(std::isfinite(forceCollisionError[j])) << row.name << " joint " << j;
    }
}

// Test names from the row names: letters and digits, words joined by '_'.
std::string row_name(const ::testing::TestParamInfo<Row> &param) {
    std::string name;
    for (const char *c = param.param.name; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) {
            name += *c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryPerCycleEntry, ServoCycleAllocations, ::testing::ValuesIn(kRows),
                         row_name);

// The simulated host's log line with recording off: nothing allocated, the line still written.
class HostLog : public kxsim_test::HostFixture {};

TEST_F(HostLog, LineWithRecordingOffAllocatesNothingAndReachesTheFile) {
    kxsim::set_recording(false);
    kxsim::set_cycle(42);
    kxmc_alloc::count_allocations(true);
    Write_Log(2, "weightTotalNum %d weightTemp %f", 3, 1.5);
    kxmc_alloc::count_allocations(false);
    if (kxmc_alloc::counting_available()) {
        EXPECT_EQ(kxmc_alloc::allocations(), 0);
    }
    std::ifstream file(kxsim::log_file());
    std::string line, last;
    while (std::getline(file, line)) {
        last = line;
    }
    EXPECT_EQ(last, "[42][2] weightTotalNum 3 weightTemp 1.500000");
    EXPECT_TRUE(kxsim::log_lines().empty());  // nothing captured with recording off
}

// The counter itself: an allocation inside the window is seen.
TEST(AllocationCounter, SeesEveryAllocationFunction) {
    if (!kxmc_alloc::counting_available()) {
        GTEST_SKIP() << "the sanitizer runtime owns the allocator in this build";
    }
    kxmc_alloc::count_allocations(true);
    void *volatile m = std::malloc(8);
    void *volatile c = std::calloc(2, 8);
    void *volatile r = std::realloc(nullptr, 8);
    int *volatile n = new int(3);
    kxmc_alloc::count_allocations(false);
    std::free(m);
    std::free(c);
    std::free(r);
    delete n;
    EXPECT_EQ(kxmc_alloc::allocations(), 4);
}

}  // namespace
