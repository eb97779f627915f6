// Drag teach laws: the PID step, the drag lock (a Cartesian spring on the TCP pose captured when
// the lock engages), the joint impedance and interference drag, and the gravity-test laws that
// turn the identified rigid-body model of the self-test into a hand-guiding torque.
//
// All of it runs in the servo cycle: work matrices on the stack, fixed loops, no allocation.
// The laws share the lock reference `cpd` and the teach filter `filt`; only one of them runs
// per cycle.
#include <cmath>
#include <cstdint>
#include <limits>

#include "dynamics/drag_lock_state.hpp"
#include "host/kxmc_host.h"
#include "jointid/selftest_parameters.hpp"
#include "kxmc/kxmc_drag_teach.h"
#include "kxmc/kxmc_dynamics_settings.h"
#include "kxmc/kxmc_numerics.h"
#include "kxmc/kxmc_selftest.h"
#include "numerics/filter_records.hpp"
#include "numerics/float_cast.hpp"

namespace {

constexpr int kJoints = 6;
constexpr int kParams = 54;                                   // self-test parameter vector
constexpr double kDegToRad = 3.14159265358979323846 / 180.0;  // [rad/deg]
constexpr float kDegToRadSingle = 0.0174532924f;              // [rad/deg] of the 5-kg law
constexpr double kMmToM = 0.001;
constexpr double kLawScale = 100.0;    // drag lock and impedance output per unit of PID output
constexpr double kModelScale = 100.0;  // 3/10/16-kg models are held in hundredths
constexpr double kModelInHundredths = 0.01;
constexpr int32_t kFirstSampleBelow = 1;   // filter row below this: first sample after a reset
constexpr int kRowsInUse = 6;              // rows of one six-row history
constexpr int32_t kWarmUpSamples = 500;    // rates are used once more than this many were taken
constexpr int32_t kSampleCountStop = 502;  // the second counter stops here
constexpr double kRateStep = 0.002;        // [s] central difference over two cycles
constexpr double kAccelStep = 0.000001;    // [s^2] second difference over one cycle squared

// Reflected rotor term of the 5-kg law: share c of the rotor inertia r [kg mm^2].
constexpr double kRotorShare5[kJoints] = {0.1, 0.1, 0.3, 0.2, 0.0, 0.2};
constexpr double kRotorInertia5[kJoints] = {1615598, 1615598, 1615598, 425520, 425520, 425520};

using JacobianFn = int (*)(const double *, const double *, const double *, double **);
using SelftestFn = int32_t (*)(const double *, const double *, const double *, MatHead);

template <class... P>
bool any_null(const P *...p) noexcept {
    return ((p == nullptr) || ...);
}

// True when `law` must capture its reference this cycle: after a reset, or when the other law
// holds the record (the interference zone changed between joint and Cartesian holding without
// passing through its free state). The capture restarts the cycle count.
bool capture_due(kxmc::DragLockLaw law) noexcept {
    if (cpd.counter >= kFirstSampleBelow && cpd.law == law) {
        return false;
    }
    cpd.counter = 0;
    cpd.law = law;
    return true;
}

void count_cycle() noexcept {
    if (cpd.counter < std::numeric_limits<int32_t>::max()) {
        ++cpd.counter;
    }
}

// ---- Drag lock --------------------------------------------------------------------------------

void capture_lock_reference(const Trsf &frame) noexcept {
    for (int k = 0; k < 9; ++k) {
        cpd.rotation[k] = frame.rot.r[k];
    }
    for (int k = 0; k < 3; ++k) {
        cpd.position[k] = frame.pos.v[k] * kMmToM;
    }
}

// correction = J^T F, F the PID forces of the pose error between the captured reference and the
// current frame. The orientation error is the rotation from the current toward the captured
// orientation (quattorpy: a tenth of its rotation vector, in the current frame) turned into the
// base frame, so that both halves of the error point back toward the reference as the Jacobian's
// base-frame rows expect.
int32_t drag_lock_correction(JacobianFn jacobian, PIDRecord pid[kJoints], const Trsf &frame,
                             const double q[kJoints], double correction[kJoints]) noexcept {
    if (any_null(pid, q, correction)) {
        return -1;
    }
    Trsf locked{};
    for (int k = 0; k < 9; ++k) {
        locked.rot.r[k] = cpd.rotation[k];
    }
    Trsf current = frame;
    Vect position{};
    static_cast<void>(scaleVect(&position, &frame.pos, kMmToM));  // [m]
    current.pos = position;
    locked.pos = Vect{{cpd.position[0], cpd.position[1], cpd.position[2]}};

    Vect toward_reference{};  // [rad], current frame
    static_cast<void>(quattorpy(current, locked, toward_reference.v));
    Vect orientation_error{};  // [rad], base frame
    static_cast<void>(multRotrsfVect(&orientation_error, &current.rot, &toward_reference));
    Vect position_error{};  // [m]
    static_cast<void>(subtractVect(&position_error, &locked.pos, &current.pos));

    const double e[kJoints] = {position_error.v[0],    position_error.v[1],
                               position_error.v[2],    orientation_error.v[0],
                               orientation_error.v[1], orientation_error.v[2]};
    double f[kJoints] = {};  // [N], [N m]
    for (int k = 0; k < kJoints; ++k) {
        static_cast<void>(PID_increase_Calc(&pid[k], e[k], &f[k]));
    }

    double j[kJoints][kJoints] = {};
    double jt[kJoints][kJoints] = {};
    double c[kJoints] = {};
    double *j_rows[kJoints];
    double *jt_rows[kJoints];
    double *f_rows[kJoints];
    double *c_rows[kJoints];
    for (int k = 0; k < kJoints; ++k) {
        j_rows[k] = j[k];
        jt_rows[k] = jt[k];
        f_rows[k] = &f[k];
        c_rows[k] = &c[k];
    }
    static_cast<void>(jacobian(q, nullptr, nullptr, j_rows));
    const MatHead j_head{0, kJoints - 1, 0, kJoints - 1, 0, j_rows};
    const MatHead jt_head{0, kJoints - 1, 0, kJoints - 1, 0, jt_rows};
    const MatHead f_head{0, kJoints - 1, 0, 0, 0, f_rows};
    const MatHead c_head{0, kJoints - 1, 0, 0, 0, c_rows};
    if (transpose(j_head, jt_head) != 0 || matmul(jt_head, f_head, c_head) != 0) {
        for (double &v : c) {
            v = 0.0;  // the host refused the product: no correction rather than a stale one
        }
    }
    for (int k = 0; k < kJoints; ++k) {
        correction[k] = c[k];
    }
    return 0;
}

int32_t drag_lock_law(JacobianFn jacobian, PIDRecord pid[kJoints], const Trsf &frame,
                      const double jointPos[kJoints], const double tauIn[kJoints],
                      double tauOut[kJoints]) noexcept {
    if (any_null(pid, jointPos, tauIn, tauOut)) {
        return -1;
    }
    if (capture_due(kxmc::DragLockLaw::kCartesianLock)) {
        capture_lock_reference(frame);
    }
    double q[kJoints];
    for (int k = 0; k < kJoints; ++k) {
        q[k] = jointPos[k] * kDegToRad;
    }
    double correction[kJoints] = {};
    static_cast<void>(drag_lock_correction(jacobian, pid, frame, q, correction));
    for (int k = 0; k < kJoints; ++k) {
        tauOut[k] = kLawScale * correction[k] + tauIn[k];
    }
    count_cycle();
    return 0;
}

// ---- Gravity-test laws ------------------------------------------------------------------------

// Reference angles q0 [rad] captured at the first sample: the filter runs on q - q0 so that it
// starts from rest at the current pose.
double teachReference[kJoints];

struct TeachSample {
    int32_t row;            // history row of this sample
    double qf[kJoints];     // filtered angles [rad]
    double rate[kJoints];   // filtered rates [rad/s], zero during the warm-up
    double accel[kJoints];  // filtered accelerations [rad/s^2], zero during the warm-up
    bool moving;            // rates and accelerations are in use
};

// Loads a parameter vector into the self-test model and its copy.
void load_model(const double theta[kParams]) noexcept {
    for (int k = 0; k < kParams; ++k) {
        gtau[k] = theta[k];
        selftauHb_x[k] = theta[k];
    }
}

// One step of the teach filter on q [rad]: history shift, filtered angles, and rates from the
// filtered history once the warm-up is over.
TeachSample teach_filter_step(const double q[kJoints]) noexcept {
    double(*x)[kJoints] = &filt.history[0];
    double(*y)[kJoints] = &filt.history[kxmc::detail::kFilterYRow];
    if (filt.row < 0) {
        filt.row = 0;  // a corrupted counter never indexes outside the history
    }
    if (filt.row > kRowsInUse - 1) {
        kxmc::detail::shift_filter_rows(x);
        kxmc::detail::shift_filter_rows(y);
        filt.row = kRowsInUse - 1;
    }
    TeachSample s{};
    s.row = filt.row;
    const int k = s.row;
    for (int j = 0; j < kJoints; ++j) {
        x[k][j] = q[j] - teachReference[j];
        double out = 0.0;
        static_cast<void>(buttord(j, k, &out));
        y[k][j] = out;
        s.qf[j] = teachReference[j] + out;
    }
    s.moving = filt.samples > kWarmUpSamples && k >= 2;
    if (s.moving) {
        for (int j = 0; j < kJoints; ++j) {
            // qf differences; the constant q0 cancels.
            s.rate[j] = (y[k][j] - y[k - 2][j]) / kRateStep;
            s.accel[j] = (y[k][j] - 2.0 * y[k - 1][j] + y[k - 2][j]) / kAccelStep;
        }
    }
    return s;
}

void teach_filter_advance() noexcept {
    if (filt.row < std::numeric_limits<int32_t>::max()) {
        ++filt.row;
    }
    if (filt.samples < kSampleCountStop) {
        ++filt.samples;
    }
}

// Self-test torque at the model input (0, tiltNeg, rot, q) [rad].
void model_torque(SelftestFn model, const double input[9], const double rate[kJoints],
                  const double accel[kJoints], double tau[kJoints]) noexcept {
    double *rows[kJoints];
    for (int j = 0; j < kJoints; ++j) {
        tau[j] = 0.0;
        rows[j] = &tau[j];
    }
    static_cast<void>(model(input, rate, accel, MatHead{0, kJoints - 1, 0, 0, 0, rows}));
}

// The 3-, 10- and 16-kg laws.
int32_t gravity_test_law(int family, int32_t family_code, SelftestFn model, double tiltNeg,
                         double rot, const double gain[12], const double jointPos[kJoints],
                         double tauOut[kJoints], int32_t modelCode) noexcept {
    if (any_null(gain, jointPos, tauOut)) {
        return -1;
    }
    double q[kJoints];
    for (int j = 0; j < kJoints; ++j) {
        q[j] = jointPos[j] * kDegToRad;
    }
    if (filt.row < kFirstSampleBelow) {
        const double *base = kxmc::selftest_parameters(family);
        double theta[kParams] = {};
        for (int k = 0; k < kParams && base != nullptr; ++k) {
            theta[k] = base[k] * kModelInHundredths;
        }
        load_model(theta);
        for (int j = 0; j < kJoints; ++j) {
            teachReference[j] = static_cast<double>(kxmc::narrow_to_float(q[j]));
        }
    }
    const TeachSample s = teach_filter_step(q);

    double tau_g[kJoints] = {};
    double tau_full[kJoints] = {};
    if (modelCode == family_code) {
        const double input[9] = {0.0,
                                 tiltNeg * kDegToRad,
                                 rot * kDegToRad,
                                 s.qf[0],
                                 s.qf[1],
                                 s.qf[2],
                                 s.qf[3],
                                 s.qf[4],
                                 s.qf[5]};
        const double rest[kJoints] = {};
        model_torque(model, input, rest, rest, tau_g);
        if (s.moving) {
            model_torque(model, input, s.rate, s.accel, tau_full);
        } else {
            for (int j = 0; j < kJoints; ++j) {
                tau_full[j] = tau_g[j];  // the model at rest, evaluated once
            }
        }
    }
    for (int j = 0; j < kJoints; ++j) {
        tauOut[j] =
            kModelScale * (gain[j] * tau_g[j] + gain[kJoints + j] * (tau_full[j] - tau_g[j]));
    }
    teach_filter_advance();
    return 0;
}

}  // namespace

extern "C" {

// ---- PID record -------------------------------------------------------------------------------

int32_t PIDInit(PIDRecord *rec, double Kp, double Ki, double Kd) {
    if (rec == nullptr) {
        return -1;
    }
    *rec = PIDRecord{Kp, Ki, Kd, 0.0, 0.0, 0.0};
    return 0;
}

int32_t PID_increase_Calc(PIDRecord *pid, double e, double *out) {
    if (pid == nullptr || out == nullptr) {
        return -1;
    }
    pid->sumError += e;
    *out = pid->Kp * e + pid->Ki * pid->sumError + pid->Kd * (e - pid->lastError);
    pid->prevError = pid->lastError;
    pid->lastError = e;
    return 0;
}

// ---- Drag lock --------------------------------------------------------------------------------

int32_t kx3_pretau(PIDRecord pid[6], Trsf frame, const double q[6], double correction[6]) {
    return drag_lock_correction(kx3_jacob, pid, frame, q, correction);
}

int32_t kx5_pretau(PIDRecord pid[6], Trsf frame, const double q[6], double correction[6]) {
    return drag_lock_correction(kx5_jacob, pid, frame, q, correction);
}

int32_t kx10_pretau(PIDRecord pid[6], Trsf frame, const double q[6], double correction[6]) {
    return drag_lock_correction(kx10_jacob, pid, frame, q, correction);
}

int32_t kx16_pretau(PIDRecord pid[6], Trsf frame, const double q[6], double correction[6]) {
    return drag_lock_correction(kx16_jacob, pid, frame, q, correction);
}

int32_t teachcontrol3(PIDRecord pid[6], Trsf frame, const double jointPos[6], const double tauIn[6],
                      double tauOut[6]) {
    return drag_lock_law(kx3_jacob, pid, frame, jointPos, tauIn, tauOut);
}

int32_t teachcontrol5(PIDRecord pid[6], Trsf frame, const double jointPos[6], const double tauIn[6],
                      double tauOut[6]) {
    return drag_lock_law(kx5_jacob, pid, frame, jointPos, tauIn, tauOut);
}

int32_t teachcontrol10(PIDRecord pid[6], Trsf frame, const double jointPos[6],
                       const double tauIn[6], double tauOut[6]) {
    return drag_lock_law(kx10_jacob, pid, frame, jointPos, tauIn, tauOut);
}

int32_t teachcontrol16(PIDRecord pid[6], Trsf frame, const double jointPos[6],
                       const double tauIn[6], double tauOut[6]) {
    return drag_lock_law(kx16_jacob, pid, frame, jointPos, tauIn, tauOut);
}

// ---- Interference drag ------------------------------------------------------------------------

int32_t kxmcimpedencejoint(PIDRecord pid[6], const double jointPos[6], const double tauIn[6],
                           double tauOut[6]) {
    if (any_null(pid, jointPos, tauIn, tauOut)) {
        return -1;
    }
    if (capture_due(kxmc::DragLockLaw::kJointImpedance)) {
        for (int j = 0; j < kJoints; ++j) {
            cpd.jointReference[j] =
                static_cast<double>(kxmc::narrow_to_float(jointPos[j] * kDegToRad));
        }
    }
    for (int j = 0; j < kJoints; ++j) {
        const double e = cpd.jointReference[j] - jointPos[j] * kDegToRad;  // [rad]
        double u = 0.0;
        static_cast<void>(PID_increase_Calc(&pid[j], e, &u));
        tauOut[j] = static_cast<double>(kxmc::narrow_to_float(kLawScale * u + tauIn[j]));
    }
    count_cycle();
    return 0;
}

int32_t kxmcteachcontrolinterfere(PIDRecord pid[6], uint8_t zoneState, int32_t familyIndex,
                                  Trsf frame, const double jointPos[6], const double tauIn[6],
                                  double tauOut[6]) {
    if (any_null(pid, jointPos, tauIn, tauOut)) {
        return -1;
    }
    switch (zoneState) {
        case 0:
            for (int j = 0; j < kJoints; ++j) {
                tauOut[j] = tauIn[j];
            }
            static_cast<void>(
                kxmcdynfiltresert());  // the next zone entry captures a fresh reference
            return 0;
        case 1:
            return kxmcimpedencejoint(pid, jointPos, tauIn, tauOut);
        default:
            break;
    }
    switch (familyIndex) {
        case 0:
            return teachcontrol3(pid, frame, jointPos, tauIn, tauOut);
        case 1:
            return teachcontrol5(pid, frame, jointPos, tauIn, tauOut);
        case 2:
            return teachcontrol10(pid, frame, jointPos, tauIn, tauOut);
        case 3:
            return teachcontrol16(pid, frame, jointPos, tauIn, tauOut);
        case 4:
            return 0;  // the fifth family has no drag law: the caller's zeroed output stands
        default:
            for (int j = 0; j < kJoints; ++j) {
                tauOut[j] = tauIn[j];
            }
            return 0;
    }
}

// ---- Gravity-test laws ------------------------------------------------------------------------

int32_t kxmcteachcontrol3_gravitytest(double tiltNeg, double rot, const double gain[12],
                                      const double jointPos[6], double tauOut[6],
                                      int32_t modelCode) {
    return gravity_test_law(3, 1, computeKx3_selftautest, tiltNeg, rot, gain, jointPos, tauOut,
                            modelCode);
}

int32_t kxmcteachcontrol10_gravitytest(double tiltNeg, double rot, const double gain[12],
                                       const double jointPos[6], double tauOut[6],
                                       int32_t modelCode) {
    return gravity_test_law(10, 201, computeKx10_selftautest, tiltNeg, rot, gain, jointPos, tauOut,
                            modelCode);
}

int32_t kxmcteachcontrol16_gravitytest(double tiltNeg, double rot, const double gain[12],
                                       const double jointPos[6], double tauOut[6],
                                       int32_t modelCode) {
    return gravity_test_law(16, 301, computeKx16_selftautest, tiltNeg, rot, gain, jointPos, tauOut,
                            modelCode);
}

// The 5-kg law: its parameter vector carries the payload (a point mass of mpb.loadWeight at the
// flange), it works on the unfiltered angles and the commanded motion, and adds a share of the
// reflected rotor inertia times the commanded acceleration.
int32_t kxmcteachcontrol5_gravitytest(double tiltNeg, double rot, const double gain[12],
                                      const double jointPos[6], double tauOut[6],
                                      int32_t modelCode) {
    constexpr int32_t kFamilyCode = 102;
    if (any_null(gain, jointPos, tauOut)) {
        return -1;
    }
    double q[kJoints];
    for (int j = 0; j < kJoints; ++j) {
        q[j] = static_cast<double>(kxmc::narrow_to_float(jointPos[j]) * kDegToRadSingle);
    }
    if (filt.row < kFirstSampleBelow) {
        const double *base = kxmc::selftest_parameters(5);
        const double mass = std::isfinite(mpb.loadWeight) ? mpb.loadWeight : 0.0;  // [kg]
        double theta[kParams] = {};
        kxmc::selftest_point_mass_terms(mass, theta);
        for (int k = 0; k < kParams && base != nullptr; ++k) {
            theta[k] += base[k];
        }
        load_model(theta);
        for (int j = 0; j < kJoints; ++j) {
            teachReference[j] = q[j];
        }
    }
    static_cast<void>(teach_filter_step(q));  // keeps the filter's rows and counters going

    double tau_g[kJoints] = {};
    double tau_full[kJoints] = {};
    if (modelCode == kFamilyCode) {
        const double input[9] = {
            0.0, tiltNeg * kDegToRad, rot * kDegToRad, q[0], q[1], q[2], q[3], q[4], q[5]};
        const double rest[kJoints] = {};
        double rate[kJoints];
        double accel[kJoints];
        for (int j = 0; j < kJoints; ++j) {
            rate[j] = 1000.0 * mpb.targetJointVel[j] * kDegToRadSingle;    // [rad/s]
            accel[j] = 1000000.0 * mpb.feedJointAcc[j] * kDegToRadSingle;  // [rad/s^2]
        }
        model_torque(computeKx5_selftautest, input, rest, rest, tau_g);
        model_torque(computeKx5_selftautest, input, rate, accel, tau_full);
    }
    for (int j = 0; j < kJoints; ++j) {
        const double rotor = 0.000001 * kRotorShare5[j] * kRotorInertia5[j] * mpb.feedJointAcc[j] *
                             1000.0 * 1000.0 * kDegToRadSingle;  // [N m]
        tauOut[j] = rotor + gain[kJoints + j] * (tau_full[j] - tau_g[j]) + gain[j] * tau_g[j];
    }
    teach_filter_advance();
    return 0;
}

}  // extern "C"
