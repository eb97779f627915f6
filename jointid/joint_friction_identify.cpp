// Single-joint friction identification: the identification record, the per-cycle recorder,
// and the status call that fits and judges the recorded friction curve.
//
// The recorder averages constant-speed samples of the joint under test into bins, strictly in
// order per direction: a slow bin k takes the first 10 samples whose speed lies in its window
// (0.9 k - 0.1, 0.9 (k + 1) + 0.1) deg/s, a fast bin k the first 3 in
// (3.6 k + 17.9, 3.6 (k + 1) + 18.1) deg/s. Reaching 18 deg/s once switches to the fast phase
// for good. A closed group stays closed while the speed holds; a speed that also lies in the next
// bin's window closes the same samples into that bin. Each direction has 20 slow and 30 fast
// bins; once the last one is reached later groups overwrite it.
#include "kxmc/kxmc_joint_friction_identify.h"

#include <sys/time.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_curve_fit.h"
#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_gravity.h"
#include "numerics/float_cast.hpp"
#include "numerics/model_bands.hpp"

extern "C" {
SingleJointIdentify singleJointIdentify;
}

namespace {

constexpr int kJoints = 6;
constexpr int kRunning = 2;  // mpb.robotState of a running program

// Recording phases and bins.
constexpr double kMinSpeed = 0.01;        // [deg/s] slower counts as standing
constexpr double kFastSpeed = 18.0;       // [deg/s] first speed of the fast phase
constexpr double kMaxSpeed = 126.1;       // [deg/s] faster is ignored
constexpr float kSlowAccLimit = 1e-6f;    // [deg/s^2] constant speed in the slow phase
constexpr float kFastAccLimit = 0.1f;     // [deg/s^2] constant speed in the fast phase
constexpr int kSlowBins = 20;             // per direction
constexpr int kFastBins = 30;             // per direction
constexpr int kSlowGroup = 10;            // samples per slow bin
constexpr int kFastGroup = 3;             // samples per fast bin
constexpr int kMaxGroup = 10;             // capacity of the sample arrays

struct BinWindow {
    double width;   // [deg/s]
    double offset;  // [deg/s] start of bin 0 before the margin
    double margin;  // [deg/s] below the start / above the end
};
constexpr BinWindow kSlowWindow = {0.9, 0.0, 0.1};
constexpr BinWindow kFastWindow = {3.6, 18.0, 0.1};

// Next bin per phase and direction.
int j_vel = 0;
int j_velN = 0;
int j_vel_high = 0;
int j_velN_high = 0;
int32_t slowFlag = 0;  // 1 once the fast phase began
uint8_t velFlag = 0;   // 1 once the current group was closed

// The model torque is divided by the command path's gear factor to the motor side; the fit
// multiplies the recorded motor-side residuals by the same factor so that the identified
// parameters compare with the joint-side reference parameters and friction laws.
constexpr double kGear = 100.0;
constexpr double kPerMille = 0.001;

constexpr double kDegToRad = 0.017453292519943;
constexpr double kFitStart[5] = {1.0, 1.0, 1.0, 1.0, 1.0};

// Reference parameters: slow fc, fs, qs, yita, sita, then the fast five.
using Reference = float[10];
constexpr Reference kWrist = {1.2523f,  1.3676f,  0.0126f,  2579.98f, 2.1091f,
                              -9.4779f, 1.4954f,  -6.0408f, 20.2514f, 1.5311f};
constexpr Reference kSmallBase = {2.1779f, 8.8225f,  0.0073f,  151.1883f, 3.5497f,
                                  5.7085f, -2.5677f, -4.4524f, -19.6854f, 1.9261f};
constexpr Reference kBase = {10.024f,   41.523f,  0.0033f,  329.9324f, 28.289f,
                             -71.7434f, 11.3021f, 4.42725f, 23.9343f,  17.9582f};
struct ReferenceRow {
    const float *base;  // joints 1-3; joints 4-6 take the wrist table on every arm
};
constexpr kxmc::Band<ReferenceRow> kReferenceRows[] = {{1, 100, {kSmallBase}}};
constexpr ReferenceRow kOtherArms = {kBase};

// Speeds of the curve comparison [deg/s].
constexpr float kTestSpeeds[20] = {-90.0f, -75.6f, -61.2f, -46.8f, -32.4f, -18.0f, -14.4f,
                                   -10.8f, -7.2f,  -3.6f,  3.6f,   7.2f,   10.8f,  14.4f,
                                   18.0f,  32.4f,  46.8f,  61.2f,  75.6f,  90.0f};

void reset_group() {
    singleJointIdentify.sampleCount = 0;
    velFlag = 0;
}

void drop_group() {
    reset_group();
    singleJointIdentify.sumVel = 0.0f;
    singleJointIdentify.sumTorque = 0.0f;
}

bool in_window(const BinWindow &w, int bin, double speed) {
    const double start = w.offset + bin * w.width;
    return start - w.margin < speed && speed < start + w.width + w.margin;
}

// One direction of one phase: bins in the record, the counter of the next bin.
struct BinSet {
    double *vel;
    double *torque;
    int *next;
    int bins;
    int group;
};

// Appends the sample while the group is open; otherwise closes the group into the next bin.
void collect(const BinSet &set, double v, double residual) {
    SingleJointIdentify &s = singleJointIdentify;
    if (s.sampleCount < set.group && velFlag == 0) {
        s.sampleVel[s.sampleCount] = static_cast<float>(v);
        s.sampleTorque[s.sampleCount] = kxmc::narrow_to_float(residual);
        ++s.sampleCount;
        return;
    }
    if (s.sampleCount == 0) {
        drop_group();  // a closed group without samples: nothing to average
        return;
    }
    velFlag = 1;
    s.sumVel = 0.0f;
    s.sumTorque = 0.0f;
    for (int i = 0; i < s.sampleCount; ++i) {
        s.sumVel += s.sampleVel[i];
        s.sumTorque += s.sampleTorque[i];
    }
    const float count = static_cast<float>(s.sampleCount);
    const int bin = *set.next;
    set.vel[bin] = static_cast<double>(s.sumVel / count);
    set.torque[bin] = static_cast<double>(s.sumTorque / count);
    // The last bin of a direction stays the target of later groups, so no group ever writes
    // past the direction's bins.
    if (bin < set.bins - 1) {
        *set.next = bin + 1;
    }
    s.sumVel = 0.0f;
    s.sumTorque = 0.0f;
}

// Collects into the direction's bin when the speed lies in its window, else drops the group.
void collect_in_phase(const BinWindow &w, const BinSet &positive, const BinSet &negative,
                      double v, double residual) {
    const double speed = std::fabs(v);
    if (v > 0.0 && in_window(w, *positive.next, speed)) {
        collect(positive, v, residual);
    } else if (v < 0.0 && in_window(w, *negative.next, speed)) {
        collect(negative, v, residual);
    } else {
        drop_group();
    }
}

// Measured minus modelled motor torque of joint j [N m, motor side].
double motor_residual(int j, const double modelTorque[kJoints]) {
    float rated[kJoints] = {};
    static_cast<void>(kxmcJointDefaultTorque(rated));
    const double measured = how.jointCurrent[j] * kPerMille * static_cast<double>(rated[j]);
    return measured - modelTorque[j] / kGear;
}

// ---- Status ------------------------------------------------------------------------------

double micros_since(const timeval &start) {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<double>(now.tv_sec - start.tv_sec) * 1e6 +
           static_cast<double>(now.tv_usec - start.tv_usec);
}

// Fits n (speed, motor-side residual) pairs; speeds [rad/s]. out: five joint-side parameters.
void fit_bins(int n, const double *vel, const double *motor_torque, double out[5]) {
    double joint_torque[2 * kFastBins];
    for (int i = 0; i < n; ++i) {
        joint_torque[i] = motor_torque[i] * kGear;
    }
    double resnorm = 0.0;
    fitCurve(n, kFitStart, vel, joint_torque, out, &resnorm);
    fitCurve_terminate();
}

// The verdict compares friction torques, not parameters: the recorded speeds do not determine
// every parameter of a set on its own (above the Stribeck speed only fc + (fs - fc) and the
// slope are seen; yita only as "large enough" once the smooth sign saturates), so equally good
// fits with very different parameters exist, while the curve they describe is the same.
//
// Two torques disagree when they are more than kAgreeBand apart and either point in opposite
// directions or one is more than twice the other; the band keeps torques near zero (where a
// ratio means nothing) from failing a joint.
constexpr double kAgreeBand = 1.0;  // [N m, joint side]

bool disagree(double a, double b) {
    if (!std::isfinite(a) || !std::isfinite(b)) {
        return true;  // a failed fit never passes a joint
    }
    if (std::fabs(a - b) <= kAgreeBand) {
        return false;
    }
    const double fa = std::fabs(a);
    const double fb = std::fabs(b);
    return a * b < 0.0 || fa > 2.0 * fb || fb > 2.0 * fa;
}

// Friction torque of the joint's compensation law at a speed [deg/s]; 0 for a joint outside
// the arm.
double compensation_torque(int joint, float speed) {
    if (joint >= kxmc::clamp_joints(mpb.jointNum)) {
        return 0.0;
    }
    double velocities[kJoints] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    double torque[kJoints] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    velocities[joint] = static_cast<double>(speed) / 1000.0;  // [deg/ms]
    static_cast<void>(frictionCompensation(velocities, torque));
    return torque[joint];
}

// Identified friction torque at a test speed [deg/s], from the set fitted to the bins of that
// speed's phase: the slow set below 18 deg/s, the fast set from there on.
double identified_torque(const float ident[10], float speed) {
    const float *set = std::fabs(speed) < static_cast<float>(kFastSpeed) ? ident : ident + 5;
    const float both[10] = {set[0], set[1], set[2], set[3], set[4],
                            set[0], set[1], set[2], set[3], set[4]};
    return frictionCalculate(both, speed / 1000.0f);  // [deg/ms]
}

}  // namespace

extern "C" {

int32_t kxmcSingleJointFrictionOnlineOnOff(uint8_t joint, uint16_t on) {
    singleJointIdentify.joint = static_cast<uint8_t>(joint - 1);
    singleJointIdentify.onlineFlag = on;
    return 0;
}

void kxmcSingleJointFrictionSaveData(const double modelTorque[6]) {
    SingleJointIdentify &s = singleJointIdentify;
    const int j = s.joint;
    if (modelTorque == nullptr || j >= kxmc::clamp_joints(mpb.jointNum) || s.sampleCount < 0 ||
        s.sampleCount > kMaxGroup) {
        drop_group();  // nothing to record for a joint outside the arm or a corrupt group
        return;
    }
    const double residual = motor_residual(j, modelTorque);
    const double v = mpb.targetJointVel[j] * 1000.0;  // [deg/s]
    const float a = std::fabs(static_cast<float>(mpb.feedJointAcc[j] * 1000.0 * 1000.0));
    const double speed = std::fabs(v);

    if (speed >= kFastSpeed && slowFlag == 0) {
        slowFlag = 1;
        drop_group();
    }
    if (mpb.robotState != kRunning || !std::isfinite(residual)) {
        reset_group();
        return;
    }
    if (slowFlag == 0 && speed > kMinSpeed && speed < kFastSpeed) {
        if (!(a < kSlowAccLimit)) {  // a non-finite acceleration counts as accelerating
            reset_group();
            return;
        }
        const BinSet positive = {s.slowJointVel, s.slowJointTorque, &j_vel, kSlowBins,
                                 kSlowGroup};
        const BinSet negative = {s.slowJointVel + kSlowBins, s.slowJointTorque + kSlowBins,
                                 &j_velN, kSlowBins, kSlowGroup};
        collect_in_phase(kSlowWindow, positive, negative, v, residual);
    } else if (slowFlag == 1 && speed >= kFastSpeed && speed < kMaxSpeed) {
        if (!(a < kFastAccLimit)) {
            reset_group();
            return;
        }
        const BinSet positive = {s.highJointVel, s.highJointTorque, &j_vel_high, kFastBins,
                                 kFastGroup};
        const BinSet negative = {s.highJointVel + kFastBins, s.highJointTorque + kFastBins,
                                 &j_velN_high, kFastBins, kFastGroup};
        collect_in_phase(kFastWindow, positive, negative, v, residual);
    } else {
        reset_group();
    }
}

int32_t kxmcGetJointFrictionStatus(uint16_t *status, float identified[10], float reference[10],
                                   float difference[10]) {
    SingleJointIdentify &s = singleJointIdentify;
    if (s.onlineFlag != 0) {
        for (float *out : {identified, reference, difference}) {
            if (out != nullptr) {
                out[0] = 0.0f;
            }
        }
        j_vel = 0;
        j_velN = 0;
        j_vel_high = 0;
        j_velN_high = 0;
        slowFlag = 0;
        if (status != nullptr) {
            *status = 0;
        }
        return 0;
    }

    const int joint = s.joint;
    const float *ref = joint < 3 ? kxmc::lookup_band(kReferenceRows, mcb.robotModelCode,
                                                     kOtherArms)
                                       .base
                                 : kWrist;
    timeval start{};
    gettimeofday(&start, nullptr);

    double slow[5];
    for (double &v : s.slowJointVel) {
        v *= kDegToRad;
    }
    fit_bins(2 * kSlowBins, s.slowJointVel, s.slowJointTorque, slow);
    Write_Log(1, "slow fc fs qs yita sita = %lf %lf %lf %lf %lf\n", slow[0], slow[1], slow[2],
              slow[3], slow[4]);
    Write_Log(1, "slow time = %lf\n", micros_since(start));
    Write_Log(1, "%d-------------\n", joint);

    double fast[5];
    for (int i = 0; i < 2 * kFastBins; ++i) {
        s.highJointVel[i] *= kDegToRad;
        Write_Log(1, "singleJointIdentify.highJointVel[%d] = %lf", i, s.highJointVel[i]);
        Write_Log(1, "singleJointIdentify.highJointTorque[%d] = %lf", i, s.highJointTorque[i]);
    }
    fit_bins(2 * kFastBins, s.highJointVel, s.highJointTorque, fast);
    Write_Log(1, "high fc fs qs yita sita = %lf %lf %lf %lf %lf\n", fast[0], fast[1], fast[2],
              fast[3], fast[4]);
    Write_Log(1, "high time = %lf\n", micros_since(start));

    float ident[10];
    for (int k = 0; k < 5; ++k) {
        ident[k] = kxmc::narrow_to_float(slow[k]);
        ident[5 + k] = kxmc::narrow_to_float(fast[k]);
    }
    for (int k = 0; k < 10; ++k) {
        if (identified != nullptr) identified[k] = ident[k];
        if (reference != nullptr) reference[k] = ref[k];
        if (difference != nullptr) difference[k] = ref[k] - ident[k];
    }

    bool fault = false;
    for (float speed : kTestSpeeds) {
        fault = fault || disagree(compensation_torque(joint, speed), identified_torque(ident, speed));
    }
    if (status != nullptr) {
        *status = fault ? 1 : 0;
    }
    return 0;
}

}  // extern "C"
