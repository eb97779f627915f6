// Joint friction laws of the five motor sizes and the friction compensation of the arm.
//
// Law, with omega the joint velocity in rad/s:
//
//     f(omega) = (A exp(-(omega / vs)^2) + B) * s(omega) + b omega,
//     s(omega) = (1 - exp(K omega)) / (1 + exp(K omega)) = -tanh(K omega / 2)
//
// A Stribeck term (A: static friction above the Coulomb level B), a smooth sign (K < 0 makes it
// tend to +1 for large positive omega) and viscous friction b. The smooth sign is evaluated as
// -tanh(K omega / 2): the same function, but it stays at +-1 where exp(K omega) would overflow
// to infinity and turn the quotient into inf / inf = NaN (|K omega| > 709, reached by the size
// laws above about 4 rad/s and by identified float parameters much earlier).
#include <cmath>
#include <cstdint>

#include "dynamics/motor_size.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_friction.h"
#include "numerics/model_bands.hpp"

namespace {

using kxmc::MotorSize;
using kxmc::S14;
using kxmc::S17;
using kxmc::S25;
using kxmc::S32;
using kxmc::S40;

using kxmc::Band;

constexpr double kPi = 3.14159265358979323846;
constexpr double kLowSpeedLimit = 0.01;   // [deg/ms] low set strictly below
constexpr double kDeadBand32 = 0.001;     // [deg/ms] size-32 plain law gives 0 strictly below
constexpr double kImplausibleFactor = 4.0;  // velocity above this many maximum speeds is bogus
constexpr int32_t kDragState = 4;

struct LawSet {
    double A;   // [N m] static minus Coulomb friction
    double B;   // [N m] Coulomb friction
    double vs;  // [rad/s] Stribeck velocity
    double K;   // [s/rad] slope of the smooth sign (negative)
    double b;   // [N m s/rad] viscous friction
};

struct SizeLaw {
    LawSet low;   // |v| < 0.01 deg/ms
    LawSet high;  // otherwise
};

// Identified laws per motor size, largest first.
constexpr SizeLaw kLaw40 = {{104.742, 16.9667, 0.0089, -65.742, 86.3627},
                            {138.1667, -114.2515, -3.5737, -179.4015, 35.6362}};
constexpr SizeLaw kLaw32 = {{3.1188, 12.1015, 0.0169, -775.8381, 23.7299},
                            {34.627, -21.0712, -2.6147, -48.6744, 14.8233}};
// MotorSize 25 has two joint stiffness types; A is given as static level minus Coulomb level.
constexpr SizeLaw kLaw25Type0 = {{12.4693 - 5.3406, 5.3406, -0.012, -153.1699, 11.4372},
                                 {6.8902 - 13.6401, 13.6401, 0.6317, -21.9747, 1.3145}};
constexpr SizeLaw kLaw25Type1 = {{41.523 - 10.024, 10.024, 0.0033, -329.9324, 28.289},
                                 {11.3021 - (-71.7434), -71.7434, 4.42725, -23.9343, 17.9582}};
constexpr SizeLaw kLaw17 = {{6.6446, 2.1779, 0.0073, -151.1883, 3.5497},
                            {-8.2762, 5.7085, -4.4524, 19.6854, 1.9261}};
constexpr SizeLaw kLaw14 = {{0.1153, 1.2523, 0.0126, -2579.9799, 2.1091},
                            {10.9733, -9.4779, -6.0408, -20.2514, 1.5311}};

double omega_of(double v) { return v / 180.0 * kPi * 1000.0; }  // deg/ms -> rad/s

// The law's smooth sign, -tanh(k_omega / 2), at the cost of one exponential: the servo cycle
// evaluates it for every joint several times, and the library's tanh goes through expm1.
// Small arguments keep tanh (no cancellation in 1 - e); beyond 40 the result is +-1 to double
// precision. NaN and infinities behave as tanh does.
double smooth_sign(double k_omega) {
    const double a = std::fabs(k_omega);
    if (!(a >= 0.5)) {
        return -std::tanh(0.5 * k_omega);
    }
    if (a > 40.0) {
        return k_omega > 0.0 ? -1.0 : 1.0;
    }
    const double e = std::exp(-a);
    const double t = (1.0 - e) / (1.0 + e);  // tanh(a / 2)
    return k_omega > 0.0 ? -t : t;
}

double evaluate(const LawSet &p, double omega) {
    const double x = omega / p.vs;
    return (p.A * std::exp(-x * x) + p.B) * smooth_sign(p.K * omega) + p.b * omega;
}

bool low_speed(double v) { return v > -kLowSpeedLimit && v < kLowSpeedLimit; }

double plain_law(const SizeLaw &law, double v) {
    if (!std::isfinite(v)) {
        return 0.0;
    }
    return evaluate(low_speed(v) ? law.low : law.high, omega_of(v));
}

struct DragGains {
    double forDead;
    double revDead;
    double forFast;
    double revFast;
};

double drag_law(const SizeLaw &law, double v, const DragGains &g) {
    if (!std::isfinite(v)) {
        return 0.0;
    }
    const double omega = omega_of(v);
    if (low_speed(v)) {
        return evaluate(law.low, omega) * (omega > 0.0 ? g.forDead : g.revDead);
    }
    return evaluate(law.high, omega) * (omega > 0.0 ? g.forFast : g.revFast);
}

bool in_dead_band_32(double v) { return v > -kDeadBand32 && v < kDeadBand32; }

const SizeLaw &law25() {
    return mcb.fricJointStiffnessType == 1 ? kLaw25Type1 : kLaw25Type0;
}

// ---- Arm models --------------------------------------------------------------------------------

double size_plain(MotorSize s, double v) {
    switch (s) {
        case MotorSize::k40: return joint40FrictionCalculate_deadzone(v);
        case MotorSize::k32: return joint32FrictionCalculate_deadzone(v);
        case MotorSize::k25: return joint25FrictionCalculate_deadzone(v);
        case MotorSize::k17: return joint17FrictionCalculate_deadzone(v);
        case MotorSize::k14: return joint14FrictionCalculate_deadzone(v);
    }
    return 0.0;
}

double size_drag(MotorSize s, double v, const DragGains &g) {
    switch (s) {
        case MotorSize::k40: return drag_law(kLaw40, v, g);
        case MotorSize::k32: return drag_law(kLaw32, v, g);
        case MotorSize::k25: return drag_law(law25(), v, g);
        case MotorSize::k17: return drag_law(kLaw17, v, g);
        case MotorSize::k14: return drag_law(kLaw14, v, g);
    }
    return 0.0;
}

struct FrictionRow {
    bool modelled;    // false: the arm has no friction model, all torques 0
    bool drag_gains;  // the drag gains apply in drag
    MotorSize joint[6];
};

constexpr FrictionRow row(bool gains, MotorSize a, MotorSize b, MotorSize c, MotorSize d,
                          MotorSize e, MotorSize f) {
    return {true, gains, {a, b, c, d, e, f}};
}
constexpr FrictionRow kNoFriction = {false, false, {S14, S14, S14, S14, S14, S14}};

// Sizes of joints 1-6 by model code and whether the drag gains apply.
constexpr Band<FrictionRow> kFrictionRows[] = {
    {0, 0, row(true, S25, S25, S25, S14, S14, S14)},
    {1, 100, row(true, S17, S17, S17, S14, S14, S14)},
    {101, 200, row(true, S25, S25, S25, S14, S14, S14)},
    {201, 400, row(true, S32, S32, S25, S17, S17, S17)},
    {401, 500, row(true, S40, S40, S32, S25, S25, S25)},
    {701, 701, row(true, S17, S17, S14, S14, S14, S14)},
    {702, 703, row(true, S17, S17, S17, S14, S14, S14)},
    {704, 800, kNoFriction},
    {801, 900, row(false, S17, S17, S14, S14, S14, S14)},
    {901, 901, row(false, S17, S17, S17, S14, S14, S14)},
    {902, 902, row(false, S32, S32, S25, S17, S17, S17)},
    {1001, 1001, row(true, S40, S40, S32, S25, S25, S25)},
};
constexpr FrictionRow kOtherArms = row(false, S25, S25, S25, S14, S14, S14);

struct Limits {
    double speed[6];  // [deg/s] clip limit per joint
    double drag_scale[6];
};
// The 10-kg arms (201-300); every other code.
constexpr Band<Limits> kLimits[] = {
    {201, 300, {{120, 120, 120, 180, 180, 180}, {0.4, 0.4, 0.4, 0.4, 0.4, 0.4}}},
};
constexpr Limits kOtherLimits = {{180, 180, 180, 40, 40, 40}, {0.4, 0.4, 0.5, 0.6, 0.6, 0.6}};

void log_implausible(int joint, double v) {
    Write_Log(1, "jointVel%d %f", joint, v * 1000.0);
    const double *c = mpb.targetJointPos;
    Write_Log(1, "jC %f %f %f %f %f %f", c[0], c[1], c[2], c[3], c[4], c[5]);
    const double *p = mpb.jointPos;
    Write_Log(1, "j6 %f %f %f %f %f %f", p[0], p[1], p[2], p[3], p[4], p[5]);
    const double *o = mpb.prevJointPos;
    Write_Log(1, "oldJ6 %f %f %f %f %f %f", o[0], o[1], o[2], o[3], o[4], o[5]);
}

}  // namespace

extern "C" {

double joint40FrictionCalculate_deadzone(double v) { return plain_law(kLaw40, v); }

double joint32FrictionCalculate_deadzone(double v) {
    if (in_dead_band_32(v)) {
        return 0.0;
    }
    return plain_law(kLaw32, v);
}

double joint25FrictionCalculate_deadzone(double v) { return plain_law(law25(), v); }
double joint17FrictionCalculate_deadzone(double v) { return plain_law(kLaw17, v); }
double joint14FrictionCalculate_deadzone(double v) { return plain_law(kLaw14, v); }

double joint40FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                              double forFast, double revFast) {
    return drag_law(kLaw40, v, {forDead, revDead, forFast, revFast});
}
double joint32FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                              double forFast, double revFast) {
    return drag_law(kLaw32, v, {forDead, revDead, forFast, revFast});
}
double joint25FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                              double forFast, double revFast) {
    return drag_law(law25(), v, {forDead, revDead, forFast, revFast});
}
double joint17FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                              double forFast, double revFast) {
    return drag_law(kLaw17, v, {forDead, revDead, forFast, revFast});
}
double joint14FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                              double forFast, double revFast) {
    return drag_law(kLaw14, v, {forDead, revDead, forFast, revFast});
}

int32_t frictionCompensation(const double velocities[6], double out[6]) {
    if (out == nullptr) {
        return 0;
    }
    for (int i = 0; i < 6; ++i) {
        out[i] = 0.0;
    }
    if (velocities == nullptr) {
        return 0;
    }
    const uint32_t code = mcb.robotModelCode;
    const int joints = kxmc::clamp_joints(mpb.jointNum);
    const Limits &limits = kxmc::lookup_band(kLimits, code, kOtherLimits);

    // Reject the whole call on one implausible velocity (a NaN counts as implausible), clip
    // the others to the joint's compensation range.
    double v[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};  // [deg/ms]
    for (int i = 0; i < joints; ++i) {
        const double vi = velocities[i];
        if (!(std::fabs(vi) * 1000.0 <= kImplausibleFactor * mpb.jointMaxSpeed[i])) {
            log_implausible(i, vi);
            return 0;
        }
        const double limit = limits.speed[i] / 1000.0;
        v[i] = vi > limit ? limit : (vi < -limit ? -limit : vi);
    }

    const FrictionRow &arm = kxmc::lookup_band(kFrictionRows, code, kOtherArms);
    if (!arm.modelled) {
        return 0;
    }
    const bool in_drag = mpb.robotState == kDragState;
    for (int i = 0; i < joints; ++i) {
        double f = 0.0;
        if (in_drag && arm.drag_gains) {
            const DragGains g = {mpb.fricForDeadGain[i], mpb.fricRevDeadGain[i],
                                 mpb.fricForFastGain[i], mpb.fricRevFastGain[i]};
            f = size_drag(arm.joint[i], v[i], g);
        } else {
            f = size_plain(arm.joint[i], v[i]);
        }
        out[i] = in_drag ? limits.drag_scale[i] * f : f;
    }
    return 0;
}

float frictionCalculate(const float params[10], float v) {
    if (params == nullptr || !std::isfinite(v)) {
        return 0.0f;
    }
    const float omega = v / 180.0f * static_cast<float>(kPi) * 1000.0f;  // [rad/s]
    const float *set = std::fabs(omega) <= 0.018f ? params : params + 5;
    const float coulomb = set[0];
    const float stat = set[1];
    const float vs = set[2];
    const float K = -set[3];
    const float b = set[4];
    // A Stribeck velocity of 0 is the limit of a step: no Stribeck term away from rest.
    float stribeck = 0.0f;
    if (vs != 0.0f) {
        const float x = omega / vs;
        stribeck = std::exp(-x * x);
    }
    const float smooth_sign = -std::tanh(0.5f * K * omega);
    return ((stat - coulomb) * stribeck + coulomb) * smooth_sign + b * omega;
}

}  // extern "C"
