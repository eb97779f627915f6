// Constant-force control: selected wrench components are held at their targets by offsetting
// the host's commanded tool pose. Per axis a PID controller (with an optional adaptation of the
// Z gain) and an iterative-learning term turn the force error into a per-cycle correction of at
// most 0.05 mm (or degree) that accumulates into the offset; compliance lets the offset relax
// when contact is lost, and an assisting admittance follows the surface's tilt.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "forcesensor/sensor_state.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_constant_force.h"
#include "kxmc/kxmc_drag_teach.h"
#include "kxmc/kxmc_end_force_drag.h"
#include "numerics/filter_records.hpp"

MovingAverage MovingAverageFilter;
NotchFilter notchFilter;

namespace kxmc {
namespace sensor {
namespace {

enum Axis : int { kX = 0, kY = 1, kZ = 2, kMX = 3, kMY = 4, kMZ = 5 };

constexpr double kStepLimit = 0.05;  // [mm] or [deg] of correction per cycle
constexpr double kDt = 0.001;        // [s] cycle
constexpr int32_t kIlcLength = KXMC_ILC_LENGTH;
constexpr double kIlcGain = 5e-6;
constexpr double kIlcForget = 0.9;
constexpr int kCorrectionFilterType = 2;
constexpr double kRadToDeg = 180.0 / kPi;

// Assisting admittance: mass, damping and spring per axis.
constexpr double kAdmM[kAxes] = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
constexpr double kAdmB[kAxes] = {2.0, 2.0, 2.0, 1.5, 1.5, 1.5};
constexpr double kAdmK[kAxes] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};

// Adjust-mode offsets of the axes: X, Y, Z, MX, MY, MZ; only Z (21..29) adapts its gain.
constexpr int32_t kAdjustModeOffset[kAxes] = {0, 10, 20, 30, 40, 50};
constexpr int32_t kFirstAdaptiveMode = 21;
constexpr int32_t kLastAdaptiveMode = 29;
constexpr double kMinCeiling = 0.005;
constexpr double kMinGain = 0.0001;
constexpr double kGainStep = 0.0001;
constexpr int32_t kAdaptPeriod = 50;
constexpr double kMeanExcess = 0.1;  // [N]

// Offset limit fault of each axis X, Y, Z, RX, RY, RZ.
constexpr uint32_t kOffsetFaults[kAxes] = {0x10000071u, 0x10000072u, 0x10000073u,
                                           0x10000074u, 0x10000075u, 0x10000076u};

// Quantisation of the Z error: errors up to `upTo` become `level` (sign kept).
struct ErrorBand {
    double upTo;   // [N]
    double level;  // [N]
};
constexpr ErrorBand kZErrorBands[] = {
    {1.0, 0.0}, {3.0, 1.5}, {5.0, 3.0}, {10.0, 5.0}, {20.0, 10.0}};

// Second-order low-passes over six-row windows: b0 = b2, b1, a1, a2.
struct Biquad {
    double b0, b1, a1, a2;
};
constexpr Biquad kZErrorFilter = {0.0674552738890719, 0.134910547778144, -1.1429805025399,
                                  0.412801598096189};
// The surface angle's 4 Hz Butterworth at 1 kHz. Its feedback coefficients are carried at full
// precision: rounded to four digits (-1.9645, 0.9651) they leave the filter a gain of 1.034 at
// rest, and a surface at 42 deg would read 43.6 deg.
constexpr Biquad kThetaFilter = {0.0001551484234756995, 0.000310296846951399, -1.964460580205232,
                                 0.965081173899135};
constexpr int kYRow = kxmc::detail::kFilterYRow;
constexpr int kRows = kxmc::detail::kFilterRows;

double thetaF = 0.0;          // [deg] filtered surface angle
double xyBindingforce = 0.0;  // [N] magnitude of the X/Y target
double adjinitflag = 1.0;     // 1 on the first active cycle
double pmax = 0.001;          // ceiling of the adapted Z gain
double sumFe = 0.0;           // [N] error sum of the adaptation period
double lastdist = 0.0;        // last adaptation step
int32_t findex = 0;           // calls in the adaptation period
double ft_cur_pos[kAxes];     // assisting admittance: position [mm, deg]
double ft_cur_vel[kAxes];     //                       velocity [m/s, rad/s]
FilterHistory filt7;          // Z error low-pass
FilterHistory filt8;          // surface angle low-pass (channel 0)

double clamp(double x, double limit) noexcept {
    return x > limit ? limit : (x < -limit ? -limit : x);
}
double sign(double x) noexcept { return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0); }

bool all_finite(const double *v, int n) noexcept {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

int32_t biquad_step(const FilterHistory &rec, const Biquad &f, int32_t ch, int32_t k,
                    double *out) noexcept {
    if (ch < 0 || ch >= kAxes || k < 0 || k >= kRows || out == nullptr) {
        return -1;
    }
    const double(*x)[kAxes] = rec.history;
    const double(*y)[kAxes] = rec.history + kYRow;
    double acc = f.b0 * x[k][ch];
    if (k >= 1) {
        acc += f.b1 * x[k - 1][ch] - f.a1 * y[k - 1][ch];
    }
    if (k >= 2) {
        acc += f.b0 * x[k - 2][ch] - f.a2 * y[k - 2][ch];
    }
    *out = acc;
    return 0;
}

// One sample of channel ch through a six-row window (rows shifted once they are full).
template <int32_t (*Filter)(int32_t, int32_t, double *)>
double filter_sample(FilterHistory &rec, int ch, double x) noexcept {
    if (rec.row > kRows - 1 || rec.row < 0) {
        kxmc::detail::shift_filter_rows(rec.history);
        kxmc::detail::shift_filter_rows(rec.history + kYRow);
        rec.row = kRows - 1;
    }
    const int k = rec.row;
    rec.history[k][ch] = x;
    double y = 0.0;
    Filter(ch, k, &y);
    rec.history[kYRow + k][ch] = y;
    rec.row = k + 1;
    ++rec.samples;
    return y;
}

double quantised_z_error(double e) noexcept {
    const double m = std::fabs(e);
    for (const ErrorBand &b : kZErrorBands) {
        if (m <= b.upTo) {
            return sign(e) * b.level;
        }
    }
    return e;
}

// The active work-piece frame (words 1.. of mpb.activeWorkpieceFrame); an entry that holds no
// proper rotation (an unset table entry) counts as the base frame.
Trsf workpiece_frame() noexcept {
    Trsf w;
    std::memcpy(&w, &mpb.activeWorkpieceFrame[1], sizeof w);
    if (!all_finite(w.rot.r, 9) || !all_finite(w.pos.v, 3) ||
        !(std::fabs(detRotrsf(&w.rot) - 1.0) < 1e-6)) {
        Trsf identity{};
        identity.rot.r[0] = identity.rot.r[4] = identity.rot.r[8] = 1.0;
        return identity;
    }
    return w;
}

Trsf present_tool_pose() noexcept {
    Trsf tool;
    multTrsf(&tool, &mpb.flangePose, &mpb.toolTrsf);
    return tool;
}

// The host's commanded pose and joints become where the arm is, so that the host goes on from
// there once the offsets are gone; the pose passes the host's external-axis and work-piece
// conversions as every commanded pose does.
void hand_command_back_to_host() noexcept {
    Trsf tool = present_tool_pose();
    Trsf on_axis;
    toolInBaseTrsfToToolInExAxis_RealTime(&on_axis, &tool);
    baseTrsfToWorkPiece(&mpb.cmdCartPose, &on_axis);
    std::memcpy(mpb.cmdJointPos, mpb.targetJointPos, sizeof mpb.cmdJointPos);
}

void clear_offsets() noexcept {
    std::memset(mcb.constForceOffset, 0, sizeof mcb.constForceOffset);
    mcb.constForcePidAdjustMode = 0;
}

// PID and learning step of one axis on error e; returns u (before any smoothing) and l.
void axis_terms(int axis, double e, double adjust_value, double *u, double *l) noexcept {
    PIDRecord &pid = mcb.constForcePid[axis];
    kxmcPIDAdjust(mcb.constForcePidAdjustMode + kAdjustModeOffset[axis], adjust_value, &pid.Kp);
    PIDCalc(&pid, e, u);
    *l = 0.0;
    kxmcILCcontrol(&mcb.constForceIlc[axis], e, l);
}

void comply(int axis, double force) noexcept {
    Compliancecontrol(mcb.complianceRatio, mcb.complianceForceThreshold, force, mcb.complianceOn,
                      mcb.constForceOffset[axis], &mcb.constForceOffset[axis]);
}

double smoothed(int axis, double u) noexcept {
    double y = u;
    kxmcButterWorthFiltProcessData(&EndForceDragfilter[axis], u, &y, 0);
    return std::isfinite(y) ? y : 0.0;
}

// Error of an axis; a reading that is not a number holds the axis (no correction).
double error_of(double measured, double target) noexcept {
    const double e = measured - target;
    return std::isfinite(e) ? e : 0.0;
}

void corrected_pose(const Trsf &p, Trsf *out) noexcept {
    const double *o = mcb.constForceOffset;
    switch (mcb.forceSensorRefCoord) {
        case 0: {
            // Offsets in the work-piece frame's axes: out = P W T W^-1.
            Trsf t;
            rpyToTrsf(&t, o[kMZ], o[kMY], o[kMX]);
            t.pos = Vect{{o[kX], o[kY], o[kZ]}};
            const Trsf w = workpiece_frame();
            Trsf w_inv, pw, pwt;
            invertTrsf(&w_inv, &w);
            multTrsf(&pw, &p, &w);
            multTrsf(&pwt, &pw, &t);
            multTrsf(out, &pwt, &w_inv);
            break;
        }
        case 2: {
            // Tool frame: the admittance's tilt and the translational offsets.
            Trsf t;
            rpyToTrsf(&t, 0.0, ft_cur_pos[kMY], ft_cur_pos[kMX]);
            t.pos = Vect{{o[kX], o[kY], o[kZ]}};
            multTrsf(out, &p, &t);
            break;
        }
        default: {
            // Base frame: offsets added to the pose's coordinates and angles.
            double c = 0.0, b = 0.0, a = 0.0;
            trsfToRpyRt(&c, &b, &a, &p, &mpb.tcpPos[3]);
            rpyToTrsf(out, c + o[kMZ], b + o[kMY], a + o[kMX]);
            out->pos = Vect{{p.pos.v[0] + o[kX], p.pos.v[1] + o[kY], p.pos.v[2] + o[kZ]}};
            break;
        }
    }
}

// First axis whose offset is beyond its limit (or not a number), or -1.
int axis_beyond_limit() noexcept {
    for (int i = 0; i < kAxes; ++i) {
        const double limit = i < 3 ? mcb.constForceMaxOffset : mcb.constForceMaxRotOffset;
        if (!(std::fabs(mcb.constForceOffset[i]) <= limit)) {
            return i;
        }
    }
    return -1;
}

}  // namespace
}  // namespace sensor
}  // namespace kxmc

using namespace kxmc::sensor;

extern "C" {

// ---- Building blocks ----------------------------------------------------------------------

int32_t PIDCalc(PIDRecord *rec, double e, double *out) {
    if (rec == nullptr || out == nullptr) {
        return -1;
    }
    const double sum = rec->sumError + e;
    const double u = rec->Kp * e + rec->Ki * sum + rec->Kd * (e - rec->lastError);
    if (!std::isfinite(u)) {
        *out = 0.0;
        return 0;
    }
    rec->sumError = sum;
    rec->prevError = rec->lastError;
    rec->lastError = e;
    *out = clamp(u, kStepLimit);
    return 0;
}

int32_t kxmcPIDAdjust(int32_t mode, double value, double *gain) {
    if (gain == nullptr) {
        return -1;
    }
    if (value == 1.0) {
        pmax = std::fmax(*gain, kMinCeiling);
    }
    if (mode < kFirstAdaptiveMode || mode > kLastAdaptiveMode) {
        return 0;
    }
    const double fz = mpb.forceSensorWrench[kZ];
    const double target = mcb.constForceTarget[kZ];
    const double excess = std::fabs(fz) - std::fabs(target);
    if (std::isfinite(excess)) {
        sumFe += excess;
    }
    const double step = clamp(error_of(fz, target) * *gain, kStepLimit);
    const double d = std::fabs(step - lastdist);
    lastdist = step;
    if (d > 0.05) {
        pmax *= 2.0 / 3.0;
    } else if (d > 0.03) {
        pmax -= kGainStep;
    } else if (d > 0.01) {
        *gain -= kGainStep;
    }
    if (findex >= kAdaptPeriod) {
        *gain += std::fabs(sumFe / kAdaptPeriod) > kMeanExcess ? kGainStep : -kGainStep;
        sumFe = 0.0;
        findex = 0;
    }
    *gain = std::fmax(std::fmin(*gain, pmax), kMinGain);
    ++findex;
    return 0;
}

int32_t kxmcILCinit(ILCRecord *rec, int32_t mode) {
    if (rec == nullptr || mode < 0 || mode > 2) {
        return -1;
    }
    rec->mode = mode;
    if (mode == 1) {
        rec->lastError = 0.0;
    }
    rec->index = 0;
    rec->learnGain = kIlcGain;
    rec->derivGain = kIlcGain;
    return 0;
}

int32_t kxmcILCcontrol(ILCRecord *rec, double e, double *out) {
    if (rec == nullptr || out == nullptr) {
        return -1;
    }
    *out = 0.0;
    if (rec->mode != 1 && rec->mode != 2) {
        return 0;
    }
    if (rec->index < 0 || rec->index >= kIlcLength) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        return -1;
    }
    double &stored = rec->learned[rec->index];
    if (rec->mode == 1) {
        const double u = kIlcForget * (rec->learnGain * e + stored +
                                       rec->derivGain * (e - rec->lastError) / kDt);
        if (std::isfinite(u)) {
            stored = u;
            rec->lastError = e;
        }
    }
    *out = std::isfinite(stored) ? stored : 0.0;
    ++rec->index;
    return 0;
}

int32_t kxmcILCreset(void) {
    for (ILCRecord &rec : mcb.constForceIlc) {
        rec.index = 0;
    }
    return 0;
}

int32_t Compliancecontrol(double ratio, double threshold, double force, int32_t on, double x,
                          double *out) {
    if (out != nullptr && on != 0 && std::fabs(threshold) > std::fabs(force)) {
        *out = x - ratio * x;
    }
    return 0;
}

int32_t kxmcCompliancestartstop(double ratio, double threshold, int32_t state, uint32_t cmdId) {
    mpb.cmdId = cmdId;
    if (!(state >= 0) || !(ratio >= 0.0) || !(threshold >= 0.0) || !std::isfinite(ratio) ||
        !std::isfinite(threshold)) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        return -1;
    }
    mcb.complianceOn = state;
    mcb.complianceRatio = ratio;
    mcb.complianceForceThreshold = threshold;
    return 0;
}

int32_t kxmcFTControl_Admittance(int32_t axis, const double M[6], const double B[6],
                                 const double K[6], const double F[6], double dt, double dx[6]) {
    if (axis < 0 || axis >= kAxes || M == nullptr || B == nullptr || K == nullptr || F == nullptr ||
        dx == nullptr || !(M[axis] > 0.0)) {
        return -1;
    }
    const double c = axis < 3 ? kMmToM : kPi / 180.0;  // position state [mm, deg] to [m, rad]
    const double f = std::isfinite(F[axis]) ? F[axis] : 0.0;
    const double a = (f - B[axis] * ft_cur_vel[axis] - c * K[axis] * ft_cur_pos[axis]) / M[axis];
    if (std::isfinite(a)) {
        ft_cur_vel[axis] += dt * a;
    }
    dx[axis] = dt * ft_cur_vel[axis];
    return 0;
}

int32_t kxmcFTNormal_estimation(double *outAngle, double *outRatio) {
    const double *m = mcb.forceSensorCompWrench + 3;
    const double r[3] = {mpb.toolTrsf.pos.v[0] * kMmToM, mpb.toolTrsf.pos.v[1] * kMmToM,
                         mpb.toolTrsf.pos.v[2] * kMmToM};
    const double length = mcb.constForceRefLength * kMmToM;
    const double ratio = m[2] / length;
    const double s =
        (r[0] * m[0] + r[1] * m[1] + r[2] * m[2]) / (std::sqrt(m[0] * m[0] + m[1] * m[1]) * length);
    const double base = std::atan(m[1] / m[0]);
    double angle = base;
    if (s > 1.0) {
        angle += kPi / 2;
    } else if (s < -1.0) {
        angle -= kPi / 2;
    } else {
        angle += std::asin(s);
    }
    const double degrees = std::fabs(angle * kRadToDeg);
    if (std::isfinite(degrees)) {
        thetaF = filter_sample<buttordFTControlThetaf>(filt8, 0, degrees);
    }
    if (outAngle != nullptr) {
        *outAngle = thetaF;
    }
    if (outRatio != nullptr) {
        *outRatio = std::isfinite(ratio) ? ratio : 0.0;
    }
    return 0;
}

int32_t buttordFTControl(int32_t axis, int32_t row, double *out) {
    return biquad_step(kxmc::sensor::filt7, kZErrorFilter, axis, row, out);
}

int32_t buttordFTControlThetaf(int32_t axis, int32_t row, double *out) {
    return biquad_step(kxmc::sensor::filt8, kThetaFilter, axis, row, out);
}

// ---- Filters for the host -------------------------------------------------------------------

int32_t init_filter(MovingAverage *rec) {
    if (rec == nullptr) {
        return -1;
    }
    *rec = MovingAverage{};
    return 0;
}

float update_filter(MovingAverage *rec, float x) {
    if (rec == nullptr) {
        return 0.0f;
    }
    constexpr int32_t kLength = KXMC_MOVING_AVERAGE_LENGTH;
    if (rec->index < 0 || rec->index >= kLength) {
        rec->index = 0;
    }
    if (rec->count < 0 || rec->count > kLength) {
        rec->count = kLength;
    }
    if (rec->count == kLength) {
        rec->sum -= rec->samples[rec->index];
    } else {
        ++rec->count;
    }
    rec->samples[rec->index] = x;
    rec->sum += x;
    if (++rec->index == kLength) {
        // The running sum gathers rounding with every sample in and out: summed afresh once
        // per window so that it cannot drift (and a sample that was not a number leaves it).
        rec->index = 0;
        float sum = 0.0f;
        for (int32_t i = 0; i < rec->count; ++i) {
            sum += rec->samples[i];
        }
        rec->sum = sum;
    }
    return rec->sum / static_cast<float>(rec->count);
}

int32_t init_notch(NotchFilter *rec, double f0, double bw) {
    if (rec == nullptr) {
        return -1;
    }
    constexpr double kSampleRate = 1000.0;
    const double w0 = 2.0 * kPi * f0 / kSampleRate;
    const double sw = std::sin(w0);
    const double alpha = sw * std::sinh(std::log(2.0) / 2.0 * bw * w0 / sw);
    const double a0 = 1.0 + alpha;
    *rec = NotchFilter{};
    if (!(f0 > 0.0 && f0 < kSampleRate / 2) || !(bw > 0.0) || !std::isfinite(alpha)) {
        rec->a0 = rec->b0 = 1.0;  // passes the signal
        return -1;
    }
    rec->a0 = a0;
    rec->a1 = -2.0 * std::cos(w0) / a0;
    rec->a2 = (1.0 - alpha) / a0;
    rec->b0 = 1.0 / a0;
    rec->b1 = -2.0 * std::cos(w0) / a0;
    rec->b2 = 1.0 / a0;
    return 0;
}

double notch_process(NotchFilter *rec, double x) {
    if (rec == nullptr) {
        return x;
    }
    const double y =
        rec->b0 * x + rec->b1 * rec->x1 + rec->b2 * rec->x2 - rec->a1 * rec->y1 - rec->a2 * rec->y2;
    rec->x2 = rec->x1;
    rec->x1 = x;
    rec->y2 = rec->y1;
    rec->y1 = y;
    return y;
}

// ---- Commands -------------------------------------------------------------------------------

int32_t qmcConstForceStartStop(uint8_t on, int32_t frameIndex, const uint8_t axisSel[6],
                               const double target[6], const double gains[6], uint8_t pidAdjustMode,
                               uint8_t ilcMode, double maxOffset, double maxRotOffset,
                               double refLength, uint8_t zFilterOn, uint8_t admittanceOn,
                               uint32_t cmdId) {
    mpb.cmdId = cmdId;
    if (on > 1) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        return -1;
    }
    if (!workpiece_frame_valid(frameIndex) || pidAdjustMode > 1 || ilcMode > 2 ||
        axisSel == nullptr || target == nullptr || gains == nullptr || !all_finite(target, kAxes) ||
        !all_finite(gains, kAxes) || !std::isfinite(maxOffset) || !std::isfinite(maxRotOffset) ||
        !std::isfinite(refLength)) {
        return -1;
    }
    if (!axis_selection_valid(axisSel)) {
        return -1;
    }
    if (mcb.forceSensorAct == 0) {
        return -2;
    }
    mcb.constForceOn = on;
    if (on == 1) {
        activate_workpiece_frame(frameIndex);
    }
    for (int i = 0; i < kAxes; ++i) {
        mcb.constForceAxisSel[i] = axisSel[i];
        kxmcButterWorthFiltInit(&EndForceDragfilter[i], kCorrectionFilterType);
    }
    init_filter(&MovingAverageFilter);
    init_notch(&notchFilter, 10.0, 5.0);

    mcb.constForcePidAdjustMode = pidAdjustMode;
    for (ILCRecord &rec : mcb.constForceIlc) {
        kxmcILCinit(&rec, ilcMode);
    }
    std::memcpy(mcb.constForceTarget, target, sizeof mcb.constForceTarget);
    for (int i = 0; i < kAxes; ++i) {
        const double *g = gains + (i < 3 ? 0 : 3);
        PIDInit(&mcb.constForcePid[i], g[0], g[1], g[2]);
    }
    mcb.constForceZFilterOn = zFilterOn;
    mcb.constForceAdmittanceOn = admittanceOn;
    mcb.constForceMaxOffset = maxOffset;
    mcb.constForceMaxRotOffset = maxRotOffset;
    mcb.constForceRefLength = refLength;

    if (on == 0) {
        // The surface's direction at the end decides on which side the next start presses.
        if ((thetaF >= 0.0 && thetaF < 30.0) || (thetaF > 150.0 && thetaF <= 180.0)) {
            mcb.constForceTarget[kX] = -mcb.constForceTarget[kX];
        }
        if (thetaF > 70.0 && thetaF < 120.0) {
            mcb.constForceTarget[kY] = -mcb.constForceTarget[kY];
        }
    }
    xyBindingforce = std::hypot(mcb.constForceTarget[kX], mcb.constForceTarget[kY]);
    std::memset(ft_cur_pos, 0, sizeof ft_cur_pos);
    std::memset(ft_cur_vel, 0, sizeof ft_cur_vel);
    // The Z error's low-pass starts from rest on every start as well as on stop: a run that ended
    // by an offset-limit fault or a sensor reset never passed through the stop command, and its
    // last errors would otherwise push the first corrections of the next run.
    filt7 = FilterHistory{};

    if (on == 0) {
        hand_command_back_to_host();
        clear_offsets();
    }
    return 0;
}

// ---- Cycle ----------------------------------------------------------------------------------

int32_t constForceControl(Trsf pose, Trsf *out) {
    if (out == nullptr) {
        return -1;
    }
    if (mcb.forceSensorAct != 1 || mcb.constForceOn != 1) {
        std::memset(mcb.constForceOffset, 0, sizeof mcb.constForceOffset);
        adjinitflag = 1.0;
        *out = pose;
        return 0;
    }
    const double *f = mpb.forceSensorWrench;
    const uint8_t *sel = mcb.constForceAxisSel;
    double *offset = mcb.constForceOffset;
    double target[kAxes];
    std::memcpy(target, mcb.constForceTarget, sizeof target);

    // Pressing sideways along a surface of unknown direction: the X/Y target turns with it.
    if (sel[kX] == 1 && sel[kY] == 1) {
        double ratio = 0.0;
        kxmcFTNormal_estimation(&thetaF, &ratio);
        const double sx = sign(mcb.constForceTarget[kX]);
        const double sy = sign(mcb.constForceTarget[kY]);
        const double th = thetaF * (kPi / 180.0);
        const double r = std::fabs(ratio);
        target[kX] = std::cos(th) * r * sx + std::sin(th) * xyBindingforce * sx;
        target[kY] = std::fabs(std::cos(th)) * sy * xyBindingforce - std::sin(th) * r * sy;
    }

    for (int axis : {kX, kY}) {
        if (sel[axis] != 1) {
            continue;
        }
        const double e = error_of(f[axis], target[axis]);
        double u = 0.0, l = 0.0;
        axis_terms(axis, e, e, &u, &l);
        offset[axis] += smoothed(axis, u) + l;
        comply(axis, f[axis]);
    }

    if (sel[kZ] == 1) {
        double rot_before[3] = {ft_cur_pos[kMX], ft_cur_pos[kMY], ft_cur_pos[kMZ]};
        if (mcb.constForceAdmittanceOn == 1) {
            double dx[kAxes] = {};
            for (int i = 0; i < kAxes; ++i) {
                kxmcFTControl_Admittance(i, kAdmM, kAdmB, kAdmK, f, kDt, dx);
                ft_cur_pos[i] += dx[i] * (i < 3 ? 1000.0 : kRadToDeg);
            }
        }
        double e = quantised_z_error(error_of(f[kZ], target[kZ]));
        if (mcb.constForceZFilterOn == 1) {
            e = filter_sample<buttordFTControl>(filt7, kZ, e);
        }
        double u = 0.0, l = 0.0;
        axis_terms(kZ, e, adjinitflag, &u, &l);
        u = clamp(smoothed(kZ, u), kStepLimit);
        double k = 1.0;
        if (mcb.constForceAdmittanceOn == 1) {
            // Only the part of the correction along the surface normal, which the admittance
            // has tilted away from the tool's Z axis.
            Trsf tilt;
            rpyToTrsf(&tilt, rot_before[2], rot_before[1], rot_before[0]);
            k = tilt.rot.r[8];
        }
        offset[kZ] += k * u + l;
        comply(kZ, f[kZ]);
    }

    for (int axis : {kMX, kMY, kMZ}) {
        if (sel[axis] != 1) {
            continue;
        }
        const double e = error_of(f[axis], target[axis]);
        double u = 0.0, l = 0.0;
        axis_terms(axis, e, e, &u, &l);
        offset[axis] += u + l;
        comply(axis, f[axis]);
    }

    corrected_pose(pose, out);

    const int beyond = axis_beyond_limit();
    if (beyond >= 0) {
        mcb.faultCode = kOffsetFaults[beyond];
        mcb.constForceOn = 0;
        hand_command_back_to_host();
        *out = present_tool_pose();
        clear_offsets();
        adjinitflag = 1.0;
        return -1;
    }
    adjinitflag = 0.0;
    return 0;
}

}  // extern "C"
