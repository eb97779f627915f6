// End-force hand guiding: the arm follows the operator's push on the tool.
//
// Each cycle the reference-frame wrench of the sensor processing is saturated, dead-banded and
// prefiltered, then drives a six-axis admittance M dv/dt + B v + K x = F. Its per-cycle
// increments are smoothed and accumulated into an offset T from the pose where guiding
// started, the goal (start pose moved by T in the guiding frame) is checked for joint speed and
// singular poses, and the host receives its joints as the next goal. Every cycle without
// guiding resets the admittance, so guiding always starts at rest.
//
// Frames of the offset: in the flange and tool frames the increments are expressed in the
// moving frame, so T grows as T Inc and the goal is the start pose times T (the flange frame
// moves the flange, carrying the tool along); in the base frame the increments are base
// motions of the tool point, so T grows as (R_inc R, X + d) and is applied in base axes.
#include "kxmc/kxmc_end_force_drag.h"

#include <cmath>
#include <cstring>

#include "dynamics/user_config.hpp"
#include "forcesensor/sensor_state.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
#include "kxmc/kxmc_virtual_wall.h"
#include "numerics/butterworth.hpp"
#include "numerics/float_cast.hpp"

extern "C" {
double AdmittanceF[6] = {0, 0, 0, 0, 0, 0};
}

namespace kxmc {
namespace sensor {
namespace {

// ---- Parameters -------------------------------------------------------------------------

constexpr uint32_t kFaultBlocksGuiding = 0x1000001du;
constexpr uint32_t kSafetyBlocksGuiding = 0x23000001u;
constexpr uint32_t kWarnSingular = KXMC_WARN_HANDGUIDE_SINGULAR;
constexpr uint32_t kWarnJoint1Fast = KXMC_WARN_HANDGUIDE_JOINT1_FAST;

constexpr double kDt = 0.001;                       // [s] servo cycle
constexpr double kCyclesPerSecond = 1000.0;
constexpr double kRadToDeg = 180.0 / kPi;
constexpr double kStiffnessUnit[kAxes] = {0.001, 0.001, 0.001, kPi / 180, kPi / 180, kPi / 180};
constexpr double kIncrementUnit[kAxes] = {1000, 1000, 1000, kRadToDeg, kRadToDeg, kRadToDeg};

constexpr double kInertiaMin[kAxes] = {5, 5, 5, 0.1, 0.1, 0.1};  // [kg], [kg m^2]
constexpr double kInertiaMax[kAxes] = {30, 30, 30, 10, 10, 10};

// Admittance speed limits and the damping above which they shrink.
constexpr double kSpeedLimitTranslation = 0.2;  // [m/s]
constexpr double kSpeedLimitRotation = 0.349;   // [rad/s]
constexpr double kHeavyDampingTranslation = 10000.0;
constexpr double kHeavyDampingRotation = 50.0;

// Adaptive damping: jerk of the prefiltered wrench and a share of the wrench itself.
constexpr double kJerkGain[kAxes] = {30, 30, 30, 5, 5, 2};
constexpr double kJerkSpan = 0.01;
constexpr double kWrenchShare = 0.25;
constexpr int32_t kHoldSteps = 3;  // a jerk holds its damping for this many further steps
constexpr double kContactDampingDivisor[kAxes] = {1, 1, 1, 10, 10, 100};
constexpr double kEnvironmentQ[3] = {0.002, 100, 10};
constexpr double kEnvironmentR[2] = {0.002, 1.0};

// Singular poses of the joint-speed check [deg] and the shoulder metric [m^2].
constexpr double kElbowStretched = 5.0;
constexpr double kElbowFolded = 160.0;
constexpr double kWristAligned = 5.0;
constexpr double kWristFolded = 175.0;
constexpr double kShoulderSingular = 0.001;
constexpr double kResumeSpeed = 50.0;  // [mm/s] TCP speed at which a released arm returns

constexpr int kHistoryRows = 6;  // rows of the prefilter windows
constexpr int kOutputRow = 6;    // first output row of the prefilter record

constexpr const char *kThresholdKeys[kAxes] = {
    "FORCESENSOR_ENDDRAGFX", "FORCESENSOR_ENDDRAGFY", "FORCESENSOR_ENDDRAGFZ",
    "FORCESENSOR_ENDDRAGMX", "FORCESENSOR_ENDDRAGMY", "FORCESENSOR_ENDDRAGMZ"};
constexpr const char *kInertiaKeys[kAxes] = {
    "FORCESENSOR_INERTIA_X",  "FORCESENSOR_INERTIA_Y",  "FORCESENSOR_INERTIA_Z",
    "FORCESENSOR_INERTIA_MX", "FORCESENSOR_INERTIA_MY", "FORCESENSOR_INERTIA_MZ"};
constexpr const char *kDampKeys[kAxes] = {"FORCESENSOR_DAMP_X",  "FORCESENSOR_DAMP_Y",
                                          "FORCESENSOR_DAMP_Z",  "FORCESENSOR_DAMP_MX",
                                          "FORCESENSOR_DAMP_MY", "FORCESENSOR_DAMP_MZ"};
constexpr const char *kStiffnessKeys[kAxes] = {
    "FORCESENSOR_STIFFNESS_X",  "FORCESENSOR_STIFFNESS_Y",  "FORCESENSOR_STIFFNESS_Z",
    "FORCESENSOR_STIFFNESS_MX", "FORCESENSOR_STIFFNESS_MY", "FORCESENSOR_STIFFNESS_MZ"};

// ---- State ------------------------------------------------------------------------------

double cur_pos[kAxes];  // accumulated offset: X, Y, Z [mm], MX, MY, MZ angles [deg]
double cur_vel[kAxes];  // admittance velocity [m/s], [rad/s]
double lastF[kAxes];    // prefiltered wrench of the previous step
double Bmember[kAxes];  // damping held after a jerk
int32_t Bnum[kAxes];    // steps it is still held (-1: none)
double F0[kAxes];       // wrench of the first step after a reset
uint8_t Fflag = 0;      // F0 is valid
double distanceM = 0.0;
double VelVECT[kAxes];
double jCRecord[kAxes];  // joints [deg] of the pose where guiding started
float startPose[kAxes];  // their tool pose (x, y, z [mm], a, b, c [deg]) ...
Trsf startTool;          // ... and transform
FilterHistory filt5;     // force prefilter: inputs rows 0-5, outputs rows 6-11

// Joints of the last goal kxmcIsOverJntvel accepted, for the cycle entry.
double acceptedJoints[kAxes];

void advance_prefilter_row() noexcept {
    if (filt5.row < kHistoryRows) {
        ++filt5.row;  // a row above 5 makes the next step shift the windows
    }
}

// Prefilters w into ff through the six-row windows of filt5.
void prefilter(const double w[kAxes], double ff[kAxes]) noexcept {
    if (filt5.row < 0) {
        filt5.row = 0;
    }
    if (filt5.row > kHistoryRows - 1) {
        kxmc::detail::shift_filter_rows(filt5.history);
        kxmc::detail::shift_filter_rows(filt5.history + kOutputRow);
        filt5.row = kHistoryRows - 1;
    }
    const int row = filt5.row;
    for (int i = 0; i < kAxes; ++i) {
        filt5.history[row][i] = w[i];
        SensorDragbuttord(i, row, &ff[i]);
        filt5.history[kOutputRow + row][i] = ff[i];
    }
}

void saturate_and_dead_band(double w[kAxes]) noexcept {
    const double fmax = mcb.endDragFMax;
    for (int i = 0; i < kAxes; ++i) {
        if (w[i] > fmax) {
            w[i] = fmax;
        } else if (w[i] < -fmax) {
            w[i] = -fmax;
        }
    }
    // A part passes only beyond its threshold; a part that is not a number never passes.
    for (int part = 0; part < 2; ++part) {
        double *v = w + 3 * part;
        const double threshold = mcb.endDragForceThreshold[3 * part];
        if (!(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] > threshold * threshold)) {
            v[0] = v[1] = v[2] = 0.0;
        }
    }
}

// Critical damping of the estimated contact stiffness, per axis.
void contact_damping(const double ff[kAxes], double ba[kAxes]) noexcept {
    const double z[2] = {cur_vel[2], ff[2]};
    double state[3] = {0, 0, 0};
    kxmcKalmanEnvironmenModelEvaluate(kEnvironmentQ, kEnvironmentR, z, state);
    const double ke = state[1] > 0.0 ? state[1] : 0.0;  // [N/m]
    for (int i = 0; i < kAxes; ++i) {
        const double m = mcb.endDragInertia[i];
        ba[i] = m > 0.0 ? 2.0 * std::sqrt(m * ke) / kContactDampingDivisor[i] : 0.0;
    }
}

// Extra damping of the virtual wall from the velocity the admittance is about to reach.
void wall_damping(const double ff[kAxes], float bw[kAxes]) noexcept {
    float predicted[kAxes];
    for (int i = 0; i < kAxes; ++i) {
        const double accel = (ff[i] - mcb.endDragDamp[i] * cur_vel[i] -
                              kStiffnessUnit[i] * mcb.endDragStiffness[i] * cur_pos[i]) /
                             mcb.endDragInertia[i];
        predicted[i] = kxmc::narrow_to_float(cur_vel[i] + kDt * accel);
    }
    kxmcForceSensorVirtualWall(predicted, bw);
}

// Damping of axis i for this step, with the jerk hold of the adaptive damping.
double axis_damping(int i, const double w[kAxes], const double ff[kAxes], double previous,
                    double ba) noexcept {
    double b = mcb.endDragDamp[i] + weakB[i];
    if (mcb.endDragAdaptiveSign == 1) {
        const double jerk =
            std::fabs(ff[i] - previous) * kJerkGain[i] / kJerkSpan + kWrenchShare * std::fabs(w[i]);
        b += jerk + ba;
        if (jerk > (i < 3 ? kHeavyDampingTranslation : kHeavyDampingRotation)) {
            Bmember[i] = b;
            Bnum[i] = kHoldSteps;
        }
    }
    if (Bnum[i] >= 0) {
        b = Bmember[i];
        --Bnum[i];
    }
    return b;
}

Trsf rpy_transform(const double pose[kAxes]) noexcept {
    Trsf t;
    rpyToTrsf(&t, pose[5], pose[4], pose[3]);
    t.pos.v[0] = pose[0];
    t.pos.v[1] = pose[1];
    t.pos.v[2] = pose[2];
    return t;
}

// Adds the smoothed increments (mm, deg) to the offset and returns the offset T.
Trsf accumulate(const double inc[kAxes]) noexcept {
    const Trsf t = rpy_transform(cur_pos);
    const Trsf step = rpy_transform(inc);
    Trsf next;
    if (mcb.forceSensorRefCoord == 1) {
        multRotrsf(&next.rot, &step.rot, &t.rot);
        for (int i = 0; i < 3; ++i) {
            next.pos.v[i] = t.pos.v[i] + inc[i];
        }
    } else {
        multTrsf(&next, &t, &step);
    }
    trsfToRpy(&cur_pos[5], &cur_pos[4], &cur_pos[3], &next);
    for (int i = 0; i < 3; ++i) {
        cur_pos[i] = next.pos.v[i];
    }
    return next;
}

// Goal of the offset T from the start tool pose P in the guiding frame.
Trsf goal_of(const Trsf &P, const Trsf &T) noexcept {
    Trsf goal;
    switch (mcb.forceSensorRefCoord) {
        case 0: {  // flange: P Tt^-1 T Tt
            Trsf tool_inv, flange, moved;
            invertTrsf(&tool_inv, &mpb.toolTrsf);
            multTrsf(&flange, &P, &tool_inv);
            multTrsf(&moved, &flange, &T);
            multTrsf(&goal, &moved, &mpb.toolTrsf);
            break;
        }
        case 1: {  // base: the tool point moves by T's translation, turns by T's rotation
            Trsf start = P;
            if (DragToCartFlag == 1) {
                multTrsf(&start, &t06Last, &mpb.toolTrsf);
            }
            multRotrsf(&goal.rot, &T.rot, &start.rot);
            for (int i = 0; i < 3; ++i) {
                goal.pos.v[i] = start.pos.v[i] + T.pos.v[i];
            }
            break;
        }
        default:  // tool
            multTrsf(&goal, &P, &T);
            break;
    }
    return goal;
}

// Angles of the host's current TCP, the continuity reference of goal angles.
void tcp_angle_reference(double ref[3]) noexcept {
    for (int i = 0; i < 3; ++i) {
        ref[i] = std::isfinite(mpb.tcpPos[3 + i]) ? mpb.tcpPos[3 + i] : 0.0;
    }
}

// Inverse kinematics of a tool pose from the commanded joints; false when out of reach.
bool goal_joints(const Trsf &goal, double q[kAxes]) noexcept {
    double ref[3];
    tcp_angle_reference(ref);
    double third = 0.0, second = 0.0, first = 0.0;
    trsfToRpyRt(&third, &second, &first, &goal, ref);
    std::memcpy(q, mpb.targetJointPos, kAxes * sizeof(double));
    return qmcGetInverseKinematicNoLine(0, goal.pos.v[0], goal.pos.v[1], goal.pos.v[2], first,
                                        second, third, -1, q) >= 0;
}

bool finite(const double *v, int n) noexcept {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

// Tool pose of joints as a transform (through the host's pose of six floats).
Trsf tool_pose(const double joints[kAxes], float pose[kAxes]) noexcept {
    jointTrsfToToolCartTCF_RT(0, joints, pose);
    const double p[kAxes] = {pose[0], pose[1], pose[2], pose[3], pose[4], pose[5]};
    return rpy_transform(p);
}

bool guiding_runs() noexcept {
    return mpb.robotState == 1 && mcb.speedMode == 1 && mcb.collisionForceCheckA == 0 &&
           mcb.forceSensorAct == 1 && mcb.endForceDragOn == 1 &&
           mcb.faultCode != kFaultBlocksGuiding && mcb.safetyCode != kSafetyBlocksGuiding;
}

void guiding_cycle() noexcept {
    mcb.endDragActive = 1;
    if (Fflag == 0) {  // first step after a reset: guiding starts from the commanded joints
        std::memcpy(jCRecord, mpb.targetJointPos, sizeof jCRecord);
        startTool = tool_pose(jCRecord, startPose);
    }
    // Forward kinematics of finite joints is finite: only joints that are not numbers need the
    // current pose worked out, for the log.
    if (!finite(mpb.jointPos, kAxes)) {
        float current[kAxes];
        jointTrsfToToolCartTCF_RT(0, mpb.jointPos, current);
        Write_Log(4, "curPos %f %f %f %f %f %f", current[0], current[1], current[2], current[3],
                  current[4], current[5]);
        Write_Log(4, "jCRecord %f %f %f %f %f %f", startPose[0], startPose[1], startPose[2],
                  startPose[3], startPose[4], startPose[5]);
    }
    const Trsf &P = startTool;
    Trsf goal;
    const int32_t status = kxmcEndForceDragToCart(P, &goal);
    if (!finite(goal.pos.v, 3) || !finite(goal.rot.r, 9)) {
        Write_Log(4, "goalPos %f %f %f", goal.pos.v[0], goal.pos.v[1], goal.pos.v[2]);
    }
    if (status < 0) {
        mcb.endForceDragOn = 0;
        mcb.warningCode = status >= -6 ? kWarnJoint1Fast + static_cast<uint32_t>(-1 - status)
                                       : kWarnSingular;
        return;
    }
    // The step's joint check solved this goal from the same reference joints already.
    double q[kAxes];
    std::memcpy(q, acceptedJoints, sizeof q);
    std::memcpy(mpb.targetJointPos, q, sizeof q);
    newFwdKinematics(q, &mpb.flangePose);
    qmcUpdateJointCartGoalPos(q);
}

void idle_cycle() noexcept {
    mcb.endDragActive = 0;
    std::memcpy(jCRecord, mpb.targetJointPos, sizeof jCRecord);
    kxmcEndForceDragParamReset();
    restart_increment_filters();
    release_interference_zones();
}

}  // namespace
}  // namespace sensor
}  // namespace kxmc

using namespace kxmc::sensor;

extern "C" {

int32_t SensorDragbuttord(int32_t axis, int32_t row, double *out) {
    // Same fourth-order low-pass (gain at rest 0.9916) as the deflection filter.
    const FilterHistory &record = kxmc::sensor::filt5;  // not the numerics record of that name
    return kxmc::detail::butterworth_step(kxmc::detail::kButterworthDeflection, record.history,
                                          record.history + kOutputRow, axis, row, out);
}

int32_t kxmcAdmittanceControl(int32_t axis, const double M[6], const double B[6],
                              const double K[6], const double F[6], double dt, const double x[6],
                              double v[6], double dx[6]) {
    if (axis < 0 || axis >= kAxes || M == nullptr || B == nullptr || K == nullptr ||
        F == nullptr || x == nullptr || v == nullptr || dx == nullptr) {
        return -1;
    }
    const int i = axis;
    const bool translation = i < 3;
    double vn = v[i] + (F[i] - B[i] * v[i] - kStiffnessUnit[i] * K[i] * x[i]) / M[i] * dt;
    double limit = translation ? kSpeedLimitTranslation : kSpeedLimitRotation;
    if (std::fabs(vn) > limit) {
        const double heavy = translation ? kHeavyDampingTranslation : kHeavyDampingRotation;
        if (B[i] > heavy) {
            limit *= (heavy / B[i]) * (heavy / B[i]);
        }
        vn = vn > 0.0 ? limit : -limit;
    }
    if (!(vn == vn)) {
        vn = 0.0;  // parameters that are not numbers hold the axis still
    }
    v[i] = vn;
    dx[i] = dt * vn;
    return 0;
}

int32_t kxmcIsOverJntvel(Trsf goal) {
    double q[kAxes];
    if (!goal_joints(goal, q)) {
        return -7;
    }
    const double *cmd = mpb.targetJointPos;
    const double q3 = std::fabs(cmd[2]), q5 = std::fabs(cmd[4]);
    if (!(q3 > kElbowStretched && q3 < kElbowFolded && q5 > kWristAligned && q5 < kWristFolded &&
          shoulder_metric() > kShoulderSingular)) {
        return -7;
    }
    for (int j = 0; j < kAxes; ++j) {
        const double step = kCyclesPerSecond * std::fabs(cmd[j] - q[j]);  // [deg/s]
        if (!(step < mcb.endDragVMax)) {
            Write_Log(2, "dv[%d] = :%lf\t-- max=%lf\n", j, step, mcb.endDragVMax);
            return -1 - j;
        }
    }
    std::memcpy(acceptedJoints, q, sizeof q);
    return 0;
}

int32_t kxmcEndForceDragToCart(Trsf P, Trsf *out) {
    if (out == nullptr) {
        return -7;
    }
    if (mcb.forceSensorAct != 1 || mcb.endForceDragOn != 1) {
        Fflag = 0;
        *out = P;
        advance_prefilter_row();
        return 0;
    }
    double w[kAxes];
    std::memcpy(w, mpb.forceSensorWrench, sizeof w);
    if (Fflag == 0) {
        std::memcpy(F0, w, sizeof F0);
        Fflag = 1;
    }
    saturate_and_dead_band(w);
    double ff[kAxes];
    prefilter(w, ff);

    double ba[kAxes] = {0, 0, 0, 0, 0, 0};
    if (mcb.endDragAdaptiveSign == 1) {
        contact_damping(ff, ba);
    }
    float bw[kAxes] = {0, 0, 0, 0, 0, 0};
    if (mcb.endDragInterfereSign == 1) {
        wall_damping(ff, bw);
    }
    singularity_guard(ff, cur_vel);

    double inc[kAxes];
    for (int i = 0; i < kAxes; ++i) {
        const double previous = lastF[i];
        AdmittanceF[i] = ff[i];
        lastF[i] = ff[i];
        double b[kAxes];
        std::memcpy(b, mcb.endDragDamp, sizeof b);
        b[i] = axis_damping(i, w, ff, previous, ba[i]);
        if (mcb.endDragInterfereSign == 1) {
            b[i] += static_cast<double>(bw[i]);
        }
        double dx[kAxes] = {0, 0, 0, 0, 0, 0};
        kxmcAdmittanceControl(i, mcb.endDragInertia, b, mcb.endDragStiffness, ff, kDt, cur_pos,
                              cur_vel, dx);
        kxmcButterWorthFiltProcessData(&EndForceDragfilter[i], dx[i] * kIncrementUnit[i],
                                       &inc[i], 0);
    }
    const Trsf T = accumulate(inc);
    const Trsf goal = goal_of(P, T);

    const int32_t status = kxmcIsOverJntvel(goal);
    if (status < 0) {
        Fflag = 0;
        *out = P;
        restart_increment_filters();
        return status;
    }
    *out = goal;
    advance_prefilter_row();
    return 0;
}

int32_t kxmcForceSensorDragProcess(void) {
    if (guiding_runs()) {
        guiding_cycle();
    } else {
        idle_cycle();
    }
    shoulderSingularDis = shoulder_metric();
    if (dragModelflag == 2 && pose_clear_for_guiding(mpb.targetJointPos, shoulderSingularDis) &&
        mpb.tcpSpeed > kResumeSpeed) {
        dragModelflag = 0;
        qmcDragSwitch(0);
        log_drag_handover(kPoseClearAgain);
    }
    return 0;
}

int32_t kxmcEndForceDragParamReset(void) {
    std::memset(cur_pos, 0, sizeof cur_pos);
    std::memset(cur_vel, 0, sizeof cur_vel);
    std::memset(lastF, 0, sizeof lastF);
    std::memset(Bmember, 0, sizeof Bmember);
    std::memset(Bnum, 0, sizeof Bnum);
    distanceM = 0.0;
    std::memset(VelVECT, 0, sizeof VelVECT);
    DragToCartFlag = 0;
    Fflag = 0;
    return 0;
}

int32_t kxmcInitEndForceDragParam(void) {
    restart_increment_filters();
    mcb.forceTorqueDragOn = 0;
    return 0;
}

int32_t kxmcEndForceDragStartStopControl(int32_t state) {
    if ((state != 0 && state != 1) || mcb.forceSensorAct != 1) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        return -1;
    }
    mcb.endForceDragOn = state;
    return 0;
}

int32_t kxmcGetEndForceDragStartStopState(int32_t *out) {
    if (out == nullptr) {
        return -1;
    }
    *out = mcb.endForceDragOn;
    return 0;
}

int32_t kxmcEndForceDragstartstop(int32_t state, int32_t adaptiveSign, int32_t interfereSign,
                                  int32_t singularityFlag, const double inertia[6],
                                  const double damp[6], const double stiffness[6],
                                  const double threshold[6], double fMax, double vMax) {
    bool ok = state >= 0 && inertia != nullptr && damp != nullptr && stiffness != nullptr &&
              threshold != nullptr && std::isfinite(fMax) && fMax >= 0.0 && std::isfinite(vMax);
    for (int i = 0; ok && i < kAxes; ++i) {
        // Written so that NaN fails; a negative stiffness would push the tool away from rest.
        ok = damp[i] > 0.0 && inertia[i] > 0.0 && stiffness[i] >= 0.0 &&
             std::isfinite(damp[i]) && std::isfinite(inertia[i]) &&
             std::isfinite(stiffness[i]) && std::isfinite(threshold[i]);
    }
    if (!ok) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        return -1;
    }
    mcb.endForceDragOn = state;
    mcb.endDragAdaptiveSign = adaptiveSign;
    mcb.endDragInterfereSign = interfereSign;
    mcb.singularityConstraintsFlag = singularityFlag;
    for (int i = 0; i < kAxes; ++i) {
        const double m = inertia[i];
        mcb.endDragInertia[i] = m < kInertiaMin[i] ? kInertiaMin[i]
                                                   : (m > kInertiaMax[i] ? kInertiaMax[i] : m);
        mcb.endDragDamp[i] = damp[i];
        mcb.endDragStiffness[i] = stiffness[i];
        mcb.endDragForceThreshold[i] = threshold[i];
    }
    restart_increment_filters();
    mcb.endDragFMax = fMax;
    mcb.endDragVMax = vMax;

    using kxmc::detail::persist_user_key;
    const char *section = "FORCE_SENSOR";
    const double *groups[4] = {mcb.endDragForceThreshold, mcb.endDragInertia, mcb.endDragDamp,
                               mcb.endDragStiffness};
    const char *const *keys[4] = {kThresholdKeys, kInertiaKeys, kDampKeys, kStiffnessKeys};
    for (int g = 0; g < 4; ++g) {
        for (int i = 0; i < kAxes; ++i) {
            persist_user_key(section, keys[g][i], groups[g][i]);
        }
    }
    persist_user_key(section, "FORCESENSOR_ADAPTIVE_SIGN", adaptiveSign);
    persist_user_key(section, "FORCESENSOR_INTERFERE_SIGN", interfereSign);
    persist_user_key(section, "SINGULARITYCONSTRAINTSFLAG", singularityFlag);
    persist_user_key(section, "FORCESENSOR_ENDDRAGFMAX", fMax);
    persist_user_key(section, "FORCESENSOR_ENDDRAGVMAX", vMax);
    return 0;
}

}  // extern "C"
