// Per-cycle torque feed-forward of the arm: the model torque of the mode in use, the
// hand-guiding contributions (sensor drag, drag lock, interference drag), the after-collision and
// after-over-speed reactions in drag, the static collision check, friction compensation, the
// drive command words and the drag power limit.
//
// Runs once per 1 ms servo cycle: every vector on the stack or in the statics below, fixed
// loops, no allocation; the only I/O is the level-2 log line of each drag exit.
#include <cmath>
#include <cstdint>
#include <limits>

#include "dynamics/arm_parameters.hpp"
#include "dynamics/power_window.hpp"
#include "dynamics/torque_command.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_collision_check.h"
#include "kxmc/kxmc_drag_teach.h"
#include "kxmc/kxmc_dynamics_model.h"
#include "kxmc/kxmc_dynamics_settings.h"
#include "kxmc/kxmc_force_torque_drag.h"
#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_gravity.h"
#include "kxmc/kxmc_joint_friction_identify.h"
#include "kxmc/kxmc_numerics.h"
#include "kxmc/kxmc_torque_control.h"
#include "kxmc/kxmc_torque_record.h"
#include "numerics/float_cast.hpp"
#include "numerics/model_bands.hpp"

namespace {

using kxmc::Band;
using kxmc::lookup_band;

constexpr int kJoints = 6;
constexpr double kPi = 3.14159265358979323846;

// ---- Library statics (zero at load) ------------------------------------------------------------

int32_t lastState;               // mpb.robotState of the previous cycle
uint8_t initFlag;                // gravity-test mode initialised
double gain[2 * kJoints];        // gravity-test gains: 6 base gains, then 6 Kf gains
uint8_t gainFlag;                // 1 while the Kf half of gain holds the drag set
uint8_t initFlag_new;            // full-dynamics mode initialised
int32_t velCount;                // consecutive over-speed cycles in force-and-torque drag
uint8_t dragLockInitFlag;        // drag lock PID records initialised for this drag period
PIDRecord dragLockPid[kJoints];  // per Cartesian axis x, y, z, a, b, c
uint8_t interfereDragInitFlag;   // interference PID records initialised for this drag period
PIDRecord interfereDragPid[kJoints];
double lastJointPos[kJoints];  // [deg] joints held by the hold reaction
double lastTcpPos[12];         // TCP frame at the start of a reaction; [9..11] x, y, z [mm]
double
    ftCollisionData[kJoints];  // [N m] sensor joint torque at the start of the over-speed reaction

// ---- Constants ---------------------------------------------------------------------------------

constexpr int32_t kStateStopped = 1;
constexpr int32_t kStateRunning = 2;
constexpr int32_t kStatePaused = 3;
constexpr int32_t kStateDrag = 4;

constexpr uint8_t kModeGravity = 0;
constexpr uint8_t kModeGravityTest = 1;
constexpr uint8_t kModeFullDynamics = 2;

// Damping [N m s/deg] and stiffness [N m/deg] of the collision reactions.
constexpr double kReactionKd[kJoints] = {0.5, 0.5, 0.5, 0.1, 0.1, 0.0};
constexpr double kReactionKp[kJoints] = {5, 5, 5, 5, 5, 5};

constexpr int32_t kOverSpeedCycles = 5;          // tolerated consecutive over-speed cycles
constexpr double kPerSecond = 1000.0;            // cycles per second
constexpr double kMotorGear = 100.0;             // nominal gear of the command path
constexpr double kOverrideScale = 0.7;           // motor-side override per rated torque
constexpr double kOverrideThreshold = 0.000001;  // [N m] smaller overrides are none
constexpr int kReboundJoints = 3;                // the rebound acts on joints 1 to 3
constexpr double kReboundGain = 100.0 * -0.5;    // rebound torque per unit of captured error
constexpr double kResidualWeight = 5.0;          // captured error per N m of residual
constexpr uint8_t kMountingsWithCommand = 3;     // installPos 0..3 write command words

constexpr const char kDragExitFormat[] =
    "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : %d";
enum DragExit : int {
    kExitOverSpeed = 0,
    kExitInterferenceZone = 1,
    kExitReactionTime = 2,
    kExitReboundDistance = 3,
    kExitStaticCollision = 4,
    kExitPower = 5,
};

// ---- Dispatch tables ---------------------------------------------------------------------------

// Arm family of the drag lock and interference laws; the value is the family index the
// interference law takes (0 3 kg, 1 5 kg, 2 10 kg, 3 16 kg, 4 the fifth family: no law).
enum class DragFamily : int32_t { k3kg = 0, k5kg = 1, k10kg = 2, k16kg = 3, kNone = 4 };

constexpr Band<DragFamily> kDragFamilies[] = {
    {1, 100, DragFamily::k3kg},
    {201, 300, DragFamily::k10kg},
    {301, 400, DragFamily::k16kg},
    {401, 500, DragFamily::kNone},
};
constexpr DragFamily kDragFamilyDefault = DragFamily::k5kg;  // 0, 101-200 and all others

// Gravity-test dispatch: the law, the model code it is called with, and whether the payload's
// torque (kxmcendload) is added. The 5-kg law carries the payload in its own parameter vector,
// so it never gets the end load on top: that would count the payload twice. The fifth family
// has no gravity-test law; it keeps the mounting gravity torque with payload rather than
// dropping to zero torque in the operator's hands.
struct GravityTestRow {
    DragFamily law;
    int32_t lawCode;
    bool endLoad;
};
constexpr GravityTestRow kGravityTest5kg{DragFamily::k5kg, 102, false};
constexpr Band<GravityTestRow> kGravityTestRows[] = {
    {0, 0, kGravityTest5kg},
    {1, 100, {DragFamily::k3kg, 1, true}},
    {101, 200, kGravityTest5kg},
    {201, 300, {DragFamily::k10kg, 201, true}},
    {301, 400, {DragFamily::k16kg, 301, true}},
    {401, 500, {DragFamily::kNone, 0, false}},
};

// Full-dynamics dispatch: the block and the acceleration bound amax [rad/s^2] whose torque
// D amax caps the sensor drag term. Standard rows take the parameter set of the model code
// (kxmc::standard_arm_parameters); rows without a bound leave the cap at zero.
enum class Block { kStandard, kTz, kPx, kNone };
struct BlockRow {
    Block block;
    bool capped;
    double amax[kJoints];  // [rad/s^2]
};
constexpr BlockRow kSmallArmBlock{
    Block::kStandard, true, {2 * kPi, 2 * kPi, 2 * kPi, 2 * kPi, 2 * kPi, 3 * kPi}};
constexpr BlockRow kMidArmBlock{
    Block::kStandard, true, {2 * kPi / 3, 2 * kPi / 3, kPi, 2 * kPi, 2 * kPi, 3 * kPi}};
constexpr BlockRow kLargeArmBlock{
    Block::kStandard, true, {kPi / 4, kPi / 4, kPi / 3, 2 * kPi, 2 * kPi, 3 * kPi}};
constexpr BlockRow kUncappedBlock{Block::kStandard, false, {}};
constexpr BlockRow kTzBlock{Block::kTz, false, {}};
constexpr BlockRow kPxBlock{Block::kPx, false, {}};
constexpr BlockRow kNoBlock{Block::kNone, false, {}};
constexpr Band<BlockRow> kBlockRows[] = {
    {0, 200, kSmallArmBlock},   {201, 400, kMidArmBlock},     {401, 500, kLargeArmBlock},
    {701, 701, kTzBlock},       {702, 703, kUncappedBlock},   {704, 800, kNoBlock},
    {801, 900, kTzBlock},       {901, 901, kUncappedBlock},   {902, 902, kPxBlock},
    {903, 903, kUncappedBlock}, {1001, 1100, kUncappedBlock},
};

// Parameter set of the TZ family (codes 701, 801-900); the centre block is passed as zeros.
struct TzParameters {
    double lengths[kJoints];  // [mm]
    double masses[kJoints];   // [kg]
    double centres[36];       // [mm]
    double inertias[30];      // [kg mm^2], links 1-5
    double rotor[kJoints];    // [kg mm^2]
};
// clang-format off
constexpr TzParameters kTzSet{
    {140, -420, 12, 360, 102, 100},
    {2.26, 4.53, 1.56, 1.97, 1.56, 0.35},
    {},
    {3015.96,  -11.16, -9.73,   2293.95,   83.28,   2942.66,    // link 1: Ixx Ixy Ixz Iyy Iyz Izz
     5693.29,  48.54,  -761.36, 173107.64, 7.08,    171869.7,   // link 2
     1626.46,  -2.85,  3.48,    1580.68,   -61.22,  1255.31,    // link 3
     14803.69, -2.41,  3.46,    2246.79,   -890.25, 14362.64,   // link 4
     1626.46,  -2.85,  3.48,    1580.68,   -61.22,  1255.31},   // link 5
    {657160, 657160, 425520, 425520, 425520, 425520}};
// clang-format on

// The PX arm (code 902): lengths [mm] and rotor inertias [kg mm^2]; its bodies are built in.
constexpr double kPxLengths[kJoints] = {180, -700, -586, 211, 114, 106};
constexpr double kPxRotor[kJoints] = {17472660, 17472660, 1615598, 657160, 657160, 657160};

// Gear factor of the command path per joint.
struct CommandGears {
    double n[kJoints];
};
constexpr CommandGears kNominalGears{{100, 100, 100, 100, 100, 100}};
constexpr CommandGears kSplitGears{{121, 121, 121, 101, 101, 101}};
constexpr Band<CommandGears> kCommandGearRows[] = {
    {702, 703, kSplitGears},
    {901, 901, kSplitGears},
};

// ---- Helpers -----------------------------------------------------------------------------------

bool in_drag() noexcept { return mpb.robotState == kStateDrag; }

void leave_drag(DragExit site) noexcept {
    static_cast<void>(qmcDragSwitch(0));
    static_cast<void>(Write_Log(2, kDragExitFormat, static_cast<int>(site)));
}

void count_down_reaction() noexcept {
    if (CollisionAfterTime > std::numeric_limits<int32_t>::min()) {
        --CollisionAfterTime;
    }
}

// Ends the after-collision or after-over-speed reaction in drag.
void end_reaction(DragExit site) noexcept {
    CollisionAfterTime = 0;
    leave_drag(site);
    mcb.collisionState = 0;
    mcb.tcpSpeedOverDragState = 0;
    for (double &t : ftCollisionData) {
        t = 0.0;
    }
}

// TCP frame of the joints: rotation of the pose angles (passed last angle first), position [mm].
Trsf tcp_frame(const double *q) noexcept {
    float pose[kJoints] = {};
    static_cast<void>(jointTrsfToEndCartTCF_RT(1, q, pose));
    Trsf frame{};
    static_cast<void>(rpyToTrsf(&frame, pose[5], pose[4], pose[3]));
    for (int k = 0; k < 3; ++k) {
        frame.pos.v[k] = static_cast<double>(pose[k]);
    }
    return frame;
}

void init_drag_pids(PIDRecord pid[kJoints]) noexcept {
    for (int k = 0; k < kJoints; ++k) {
        static_cast<void>(
            PIDInit(&pid[k], mcb.dragLockKp[k], mcb.dragLockKi[k], mcb.dragLockKd[k]));
    }
}

// ---- Housekeeping ------------------------------------------------------------------------------

void housekeeping() noexcept {
    if (lastState == kStatePaused && mpb.robotState == kStateStopped &&
        mcb.customCollisionMode != 0 && mpb.collisionThresholdMode == 1) {
        mcb.customCollisionMode = 0;
    }
    lastState = mpb.robotState;
    float scratch[kJoints] = {};
    static_cast<void>(kxmcVibrateAbateControl(scratch));
}

void publish_accelerations() noexcept {
    for (int j = 0; j < kJoints; ++j) {
        mpb.actualJointAccF[j] = kxmc::narrow_to_float(mpb.actualJointAcc[j]) * 1000.0f * 1000.0f;
        mpb.feedJointAccF[j] = kxmc::narrow_to_float(mpb.feedJointAcc[j]) * 1000.0f * 1000.0f;
    }
}

// ---- Model torque ------------------------------------------------------------------------------

void gravity_test_torque(const double *q, const double load[4], double tau[kJoints]) noexcept {
    if (initFlag == 0) {
        initFlag = 1;
        static_cast<void>(kxmcdynfiltresert());
        for (int j = 0; j < kJoints; ++j) {
            gain[j] = mcb.newTeachGain[j];
            gain[kJoints + j] = mcb.newTeachGainKf[j];
        }
    }
    if (in_drag() && gainFlag == 0) {
        for (int j = 0; j < kJoints; ++j) {
            gain[kJoints + j] = mcb.newTeachGainKfDrag[j];
        }
        gainFlag = 1;
    } else if (!in_drag() && gainFlag == 1) {
        for (int j = 0; j < kJoints; ++j) {
            gain[kJoints + j] = mcb.newTeachGainKf[j];
        }
        gainFlag = 0;
    }

    double a[kJoints] = {};
    double b[kJoints] = {};
    const GravityTestRow &row = lookup_band(kGravityTestRows, mcb.robotModelCode, kGravityTest5kg);
    const double tilt_neg = -mcb.installTilt;  // [deg]
    const double rot = mcb.installRot;         // [deg]
    switch (row.law) {
        case DragFamily::k3kg:
            static_cast<void>(
                kxmcteachcontrol3_gravitytest(tilt_neg, rot, gain, q, a, row.lawCode));
            break;
        case DragFamily::k5kg:
            static_cast<void>(
                kxmcteachcontrol5_gravitytest(tilt_neg, rot, gain, q, a, row.lawCode));
            break;
        case DragFamily::k10kg:
            static_cast<void>(
                kxmcteachcontrol10_gravitytest(tilt_neg, rot, gain, q, a, row.lawCode));
            break;
        case DragFamily::k16kg:
            static_cast<void>(
                kxmcteachcontrol16_gravitytest(tilt_neg, rot, gain, q, a, row.lawCode));
            break;
        case DragFamily::kNone:
            static_cast<void>(kxmcNewGravityTorque(q, load, a));
            break;
    }
    if (row.endLoad) {
        static_cast<void>(
            kxmcendload(tilt_neg, rot, q, load[0], load[1], load[2], load[3], b, row.lawCode));
    }
    for (int j = 0; j < kJoints; ++j) {
        tau[j] = a[j] + b[j];
    }
}

// Force-and-torque drag speed guard: more than five consecutive cycles over a TCP speed limit
// end drag, with the warning repeated every cycle the condition lasts.
void force_torque_speed_guard() noexcept {
    const bool over = std::fabs(mpb.tcpSpeed) > mcb.forceTorqueDragSpeedLimit ||
                      std::fabs(mpb.tcpRotSpeed) > mcb.forceTorqueDragRotSpeedLimit;
    if (mcb.forceTorqueDragOn == 1 && in_drag() && over) {
        if (velCount < std::numeric_limits<int32_t>::max()) {
            ++velCount;
        }
        if (velCount > kOverSpeedCycles) {
            mcb.warningCode = KXMC_WARN_DRAG_OVERSPEED;
            leave_drag(kExitOverSpeed);
        }
    } else {
        velCount = 0;
    }
}

void full_dynamics_torque(const double *q, const double load[4], double tau[kJoints]) noexcept {
    if (initFlag_new == 0) {
        initFlag_new = 1;
        static_cast<void>(kxmcdynfiltresert());
    }
    double tau_dyn[kJoints] = {};
    double cap[kJoints] = {};
    double inertia_diag[kJoints * kJoints] = {};
    const uint32_t code = mcb.robotModelCode;
    const BlockRow &row = lookup_band(kBlockRows, code, kUncappedBlock);
    switch (row.block) {
        case Block::kStandard: {
            const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(code);
            static_cast<void>(kxqmckxdynamicblock(q, load[0], load[1], load[2], load[3], tau_dyn,
                                                  p.lengths, p.masses, p.centres, p.inertias,
                                                  p.rotor, nullptr, inertia_diag));
            break;
        }
        case Block::kTz:
            static_cast<void>(kxTZqmckxdynamicblock(q, load[0], load[1], load[2], load[3], tau_dyn,
                                                    kTzSet.lengths, kTzSet.masses, kTzSet.centres,
                                                    kTzSet.inertias, kTzSet.rotor));
            break;
        case Block::kPx:
            static_cast<void>(kxPXqmckxdynamicblock(q, load[0], load[1], load[2], load[3], tau_dyn,
                                                    kPxLengths, kPxRotor));
            break;
        case Block::kNone:
            break;
    }
    if (row.capped) {
        // D amax with D the block's diagonal inertia matrix: one product per joint.
        for (int j = 0; j < kJoints; ++j) {
            cap[j] = inertia_diag[j * kJoints + j] * row.amax[j];
        }
    }

    force_torque_speed_guard();

    // The sensor's joint torques are taken once per cycle: the mapping filters them, and one
    // filter step per cycle keeps its cut-off where it was designed.
    const bool sensor_drag = mcb.forceTorqueDragOn == 1 && in_drag();
    double s[kJoints] = {};
    if (sensor_drag) {
        static_cast<void>(kxmcForceDataToTorque(q, s));
    }
    for (int j = 0; j < kJoints; ++j) {
        if (sensor_drag) {
            const double t = (1.0 - mcb.forceTorqueDragReduce[j]) * s[j];
            tau[j] = kxmc::detail::sensor_drag_torque(tau_dyn[j], t, cap[j]);
        } else {
            tau[j] = tau_dyn[j];
        }
    }
}

// ---- Drag lock and interference drag -----------------------------------------------------------

void drag_lock(const double *q, double tau[kJoints]) noexcept {
    if (mcb.dragLockOn != 1) {
        return;
    }
    if (!in_drag()) {
        dragLockInitFlag = 0;
        return;
    }
    const Trsf frame = tcp_frame(q);
    if (dragLockInitFlag == 0) {
        dragLockInitFlag = 1;
        static_cast<void>(kxmcdynfiltresert());
        init_drag_pids(dragLockPid);
    }
    const DragFamily family = lookup_band(kDragFamilies, mcb.robotModelCode, kDragFamilyDefault);
    if (family == DragFamily::kNone) {
        return;  // no lock law for the fifth family: the model torque stays as it is
    }
    double in[kJoints];
    double out[kJoints] = {};
    for (int j = 0; j < kJoints; ++j) {
        in[j] = tau[j];
    }
    switch (family) {
        case DragFamily::k3kg:
            static_cast<void>(teachcontrol3(dragLockPid, frame, q, in, out));
            break;
        case DragFamily::k5kg:
            static_cast<void>(teachcontrol5(dragLockPid, frame, q, in, out));
            break;
        case DragFamily::k10kg:
            static_cast<void>(teachcontrol10(dragLockPid, frame, q, in, out));
            break;
        case DragFamily::k16kg:
            static_cast<void>(teachcontrol16(dragLockPid, frame, q, in, out));
            break;
        case DragFamily::kNone:
            break;
    }
    for (int j = 0; j < kJoints; ++j) {
        tau[j] = out[j];
    }
}

void interference_drag(const double *q, double tau[kJoints]) noexcept {
    if (mcb.interfereDragMode == 1) {
        if (!in_drag()) {
            interfereDragInitFlag = 0;
            return;
        }
        const Trsf frame = tcp_frame(q);
        if (interfereDragInitFlag == 0) {
            interfereDragInitFlag = 1;
            static_cast<void>(kxmcdynfiltresert());
            init_drag_pids(interfereDragPid);
        }
        // The output starts as the model torque, so a family without a lock law (the law
        // leaves the output untouched) keeps its model torque instead of dropping to zero.
        double in[kJoints];
        double out[kJoints];
        for (int j = 0; j < kJoints; ++j) {
            in[j] = tau[j];
            out[j] = tau[j];
        }
        const DragFamily family =
            lookup_band(kDragFamilies, mcb.robotModelCode, kDragFamilyDefault);
        static_cast<void>(kxmcteachcontrolinterfere(interfereDragPid, mpb.interfereZoneState,
                                                    static_cast<int32_t>(family), frame, q, in,
                                                    out));
        for (int j = 0; j < kJoints; ++j) {
            tau[j] = out[j];
        }
    } else if (mcb.interfereDragMode == 2) {
        if ((mpb.interfereZoneState == 1 || mpb.interfereZoneState == 2) && in_drag()) {
            leave_drag(kExitInterferenceZone);
        }
    }
}

// ---- Start of the after-over-speed reaction ----------------------------------------------------

void start_over_speed_reaction(const double *q) noexcept {
    CollisionAfterTime = kxmc::trunc_to<int32_t>(static_cast<double>(mcb.tcpSpeedOverDragTime));
    CollisionStartFlag = 1;
    mcb.tcpSpeedOverDragState = 2;
    static_cast<void>(kxmcForceDataToTorque(q, ftCollisionData));

    double f[kJoints] = {};  // [N m] joint side
    if (mcb.frictionCompOn == 0) {
        static_cast<void>(frictionCompensation(mpb.targetJointVel, f));
    }
    float rated[kJoints] = {};
    static_cast<void>(kxmcJointDefaultTorque(rated));
    int16_t recorded[kJoints] = {};
    static_cast<void>(kxmcTorqueRecordCollision(recorded));
    float feed_forward[kJoints] = {};
    static_cast<void>(newJointVelFFTorque(feed_forward));
    for (int j = 0; j < kJoints; ++j) {
        const double r = static_cast<double>(rated[j]);
        const double measured = how.jointCurrent[j] * 0.001 * r;  // [N m] motor side
        const double expected =
            (kMotorGear * 0.001 * r * (recorded[j] + static_cast<double>(feed_forward[j])) + f[j]) /
            kMotorGear;
        forceCollisionError[j] = kResidualWeight * (measured - expected);
    }
}

// ---- Collision and over-speed reactions in drag ------------------------------------------------

void drag_reactions(double tau[kJoints]) noexcept {
    const uint8_t reaction = mcb.collisionPauseFlag;
    if (!((mcb.collisionState == 1 || mcb.tcpSpeedOverDragState == 2) &&
          (reaction == 3 || reaction == 4 || reaction == 5) && in_drag())) {
        return;
    }
    count_down_reaction();
    if (CollisionStartFlag == 1) {
        CollisionStartFlag = 0;
        for (int j = 0; j < kJoints; ++j) {
            lastJointPos[j] = mpb.targetJointPos[j];
        }
        for (int k = 0; k < 3; ++k) {
            lastTcpPos[9 + k] = mpb.tcpPos[k];
        }
    }
    double dist = 0.0;  // [mm] from the TCP position at the start of the reaction
    for (int k = 0; k < 3; ++k) {
        const double d = mpb.tcpPos[k] - lastTcpPos[9 + k];
        dist += d * d;
    }
    dist = std::sqrt(dist);

    if (reaction == 4 && CollisionAfterTime > 0) {
        // Hold: a spring on the joints captured at the start, damped by the joint speed.
        for (int j = 0; j < kJoints; ++j) {
            tau[j] += (lastJointPos[j] - mpb.targetJointPos[j]) * kReactionKp[j] +
                      (-kPerSecond * mpb.actualJointVel[j]) * kReactionKd[j];
        }
    } else if (reaction == 5 && CollisionAfterTime > 0) {
        // Rebound: a push against the captured collision torque that decays as the reaction runs
        // out, scaled down while the TCP is faster than the safe speed. The remaining time is
        // taken in double: the safe time is unsigned.
        const double safe_speed = static_cast<double>(mcb.collisionSafeSpeed);  // [mm/s]
        for (int j = 0; j < kReboundJoints; ++j) {
            const double x = (static_cast<double>(CollisionAfterTime) -
                              static_cast<double>(mcb.collisionSafeTime)) *
                             0.001 * static_cast<double>(mcb.collisionSafeMargin[j]);
            const double push = std::exp(x) * kReboundGain * forceCollisionError[j];
            if (std::isfinite(push)) {
                tau[j] += push;
            }
            tau[j] += ftCollisionData[j];
            if (mpb.tcpSpeed >= safe_speed) {
                // A safe speed of 0 allows no rebound at all, moving or not.
                tau[j] *= mpb.tcpSpeed > 0.0 ? safe_speed / mpb.tcpSpeed : 0.0;
            }
        }
    }
    if (CollisionAfterTime < 0) {
        end_reaction(kExitReactionTime);
        dist = 0.0;
    }
    if (reaction == 5 && static_cast<float>(dist) > static_cast<float>(mcb.collisionSafeDistance)) {
        end_reaction(kExitReboundDistance);
    }
}

// ---- Static collision check --------------------------------------------------------------------

void static_collision_check(double tau[kJoints]) noexcept {
    if (!(mcb.staticCollisionOn == 1 && mpb.robotState != kStateRunning &&
          mcb.collisionState == 0)) {
        return;
    }
    const int32_t speed = kxmc::trunc_to<int32_t>(mpb.tcpSpeed);  // [mm/s]
    if (speed >= -1 && speed <= 1) {
        static_cast<void>(qmcCheckTorqueError());
    }
    if (CollisionStartFlag == 1) {
        mcb.frictionCompOn = 0;
        count_down_reaction();
        for (int j = 0; j < kJoints; ++j) {
            const float damping =
                kxmc::narrow_to_float((-kPerSecond * mpb.actualJointVel[j]) * kReactionKd[j]);
            tau[j] += static_cast<double>(damping);
        }
    }
    if (CollisionAfterTime < 0) {
        CollisionStartFlag = 0;
        CollisionAfterTime = 0;
        leave_drag(kExitStaticCollision);
    }
}

// ---- Friction ----------------------------------------------------------------------------------

void friction_torque(double fric[kJoints]) noexcept {
    if (mcb.frictionCompOn != 1) {
        return;
    }
    if (in_drag()) {
        if (mcb.forceTorqueDragOn != 1) {
            static_cast<void>(frictionCompensation(mpb.actualJointVel, fric));
        }
    } else {
        static_cast<void>(frictionCompensation(mpb.targetJointVel, fric));
    }
}

// ---- Command words and power check -------------------------------------------------------------

double joint_command_torque(int j, const double fric[kJoints], const double tau[kJoints]) noexcept {
    const float friction_gain = kxmc::detail::friction_gain_in_use(&mpb.frictionGain[j]);
    return static_cast<double>(friction_gain) * fric[j] + tau[j];
}

void write_commands(const double fric[kJoints], const double tau[kJoints],
                    const float rated[kJoints]) noexcept {
    if (mcb.installPos > kMountingsWithCommand) {
        return;
    }
    const CommandGears &gears = lookup_band(kCommandGearRows, mcb.robotModelCode, kNominalGears);
    const int joints = kxmc::clamp_joints(mpb.jointNum);
    for (int j = 0; j < joints; ++j) {
        how.jointTorqueCmd[j] = kxmc::detail::torque_command_word(
            joint_command_torque(j, fric, tau), gears.n[j], static_cast<double>(rated[j]));
    }
}

void power_check(const double fric[kJoints], const double tau[kJoints],
                 const float rated[kJoints]) noexcept {
    if (mcb.powerCheckOn != 1) {
        return;
    }
    if (mcb.powerFlag == 1) {
        double power = 0.0;  // [W]
        static_cast<void>(qmcPowerReal(tau, &power));
        if (std::fabs(power) > mcb.powerLimit) {
            mcb.faultCode = KXMC_FAULT_DRAG_POWER;
            leave_drag(kExitPower);
            kxmc::reset_power_window();
        }
    }
    const int joints = kxmc::clamp_joints(mpb.jointNum);
    for (int j = 0; j < joints; ++j) {
        const double r = static_cast<double>(rated[j]);
        const double override_torque = mpb.jointTorqueOverride[j];  // [N m] motor side
        if (std::fabs(override_torque) >= kOverrideThreshold) {
            how.jointTorqueCmd[j] =
                kxmc::detail::torque_command_word(override_torque, kOverrideScale, r);
        } else {
            how.jointTorqueCmd[j] = kxmc::detail::torque_command_word(
                joint_command_torque(j, fric, tau), kMotorGear, r);
        }
    }
}

}  // namespace

extern "C" {

int32_t gravityTorqueControl(const double jointPos[6]) {
    const double *q = jointPos != nullptr ? jointPos : mpb.jointPos;

    housekeeping();
    const double load[4] = {mpb.loadCoord[0], mpb.loadCoord[1], mpb.loadCoord[2],
                            mpb.loadWeight};  // centre [mm], mass [kg]
    float rated[kJoints] = {};                // [N m] motor side
    static_cast<void>(kxmcJointDefaultTorque(rated));
    publish_accelerations();

    double tau[kJoints] = {};  // [N m] joint side
    switch (mcb.newTeachEnable) {
        case kModeGravity:
            static_cast<void>(kxmcNewGravityTorque(q, load, tau));
            break;
        case kModeGravityTest:
            gravity_test_torque(q, load, tau);
            break;
        case kModeFullDynamics:
            full_dynamics_torque(q, load, tau);
            break;
        default:
            break;
    }

    if (singleJointIdentify.onlineFlag == 1) {
        kxmcSingleJointFrictionSaveData(tau);
    }
    drag_lock(q, tau);
    interference_drag(q, tau);
    if (mcb.tcpSpeedOverDragState == 1) {
        start_over_speed_reaction(q);
    }
    drag_reactions(tau);
    static_collision_check(tau);

    double fric[kJoints] = {};  // [N m] joint side
    friction_torque(fric);
    write_commands(fric, tau, rated);
    power_check(fric, tau, rated);
    return 0;
}

}  // extern "C"
