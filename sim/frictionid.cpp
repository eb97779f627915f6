// Friction identification of one joint of the simulated arm. The host drives the joint alone
// through the identification's speed ladder in program state, the library's per-cycle torque
// control feeds the recorder, and the status call fits the recorded curve and judges it. The
// plant's friction is known (its drive law times the friction scale), so the identified curve
// can be held against it at the test speeds.
//
// The ladder: slow steps 0.45 + 0.9 k deg/s (k = 0..19), then fast steps 19.8 + 3.6 k deg/s
// (k = 0..29), each in both directions; every speed is the centre of its bin's window, so it
// lies in no other window. The recorder averages the first constant-speed samples of a step, so
// the drive must have settled by the end of the ramp into it: ramps are quintic in speed (no
// jump in acceleration), and each direction starts with a settling hold at the speed of its
// second step, which the recorder ignores (bins fill strictly in order).
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_joint_friction_identify.h"
#include "sim/scenarios.hpp"

namespace kxsim {

namespace {

struct Phase {
    int steps;
    double first;   // [deg/s] centre of bin 0's window
    double step;    // [deg/s] between bin centres
    double ramp;    // [s] shortest ramp between steps
    double hold;    // [s] at each step: the recorder's group and the cycle closing it, with margin
};
constexpr Phase kSlow = {20, 0.45, 0.9, 0.15, 0.015};
constexpr Phase kFast = {30, 19.8, 3.6, 0.10, 0.008};
constexpr double kMeanAcceleration = 200.0;  // [deg/s^2] of the long ramps (reversals)
constexpr double kSettle = 0.5;              // [s] before each direction's first step
constexpr double kRest = 0.3;                // [s] at rest after the ladder
constexpr double kRangeMargin = 5.0;         // [deg] kept from the joint's stops
constexpr double kGear = 100.0;              // the recorder's residuals are motor side
constexpr double kFastFrom = 18.0;           // [deg/s] the fast set's speeds
constexpr double kCurveTop = 126.0;          // [deg/s] the curves span the ladder's speeds
constexpr int kCurvePoints = 630;            // per direction
constexpr float kTestSpeeds[10] = {3.6f, 7.2f, 10.8f, 14.4f, 18.0f,
                                   32.4f, 46.8f, 61.2f, 75.6f, 90.0f};  // [deg/s], both signs

// A speed profile of one joint from rest: ramps with the quintic blend
// v = v0 + (v1 - v0) s(u), s(u) = 10u^3 - 15u^4 + 6u^5, and holds.
class SpeedProfile {
public:
    void ramp_to(double v, double shortest) {
        add(v, std::max(shortest, std::fabs(v - v_) / kMeanAcceleration));
    }
    void hold(double duration) { add(v_, duration); }
    double duration() const { return t_; }

    // Position from the start [deg], speed [deg/s] and acceleration [deg/s^2] at t [s].
    void at(double t, double &p, double &v, double &a) const {
        auto it = std::upper_bound(segments_.begin(), segments_.end(), t,
                                   [](double x, const Segment &s) { return x < s.start; });
        if (it == segments_.begin()) {
            p = v = a = 0.0;
            return;
        }
        const Segment &s = *(it - 1);
        const double u = std::clamp((t - s.start) / s.duration, 0.0, 1.0);
        const double u2 = u * u, u3 = u2 * u;
        const double blend = u3 * (10.0 - 15.0 * u + 6.0 * u2);
        const double integral = u2 * u2 * (2.5 - 3.0 * u + u2);  // of the blend from 0 to u
        const double rate = 30.0 * u2 * (1.0 - 2.0 * u + u2);
        const double dv = s.v1 - s.v0;
        p = s.p0 + s.duration * (s.v0 * u + dv * integral);
        v = s.v0 + dv * blend;
        a = dv * rate / s.duration;
    }

private:
    struct Segment {
        double start, duration, v0, v1, p0;
    };
    void add(double v1, double duration) {
        segments_.push_back({t_, duration, v_, v1, p_});
        p_ += 0.5 * duration * (v_ + v1);  // the blend averages one half over a ramp
        t_ += duration;
        v_ = v1;
    }
    std::vector<Segment> segments_;
    double t_ = 0.0, v_ = 0.0, p_ = 0.0;
};

SpeedProfile ladder() {
    SpeedProfile l;
    for (const Phase &phase : {kSlow, kFast}) {
        for (double dir : {1.0, -1.0}) {
            l.ramp_to(dir * (phase.first + phase.step), phase.ramp);
            l.hold(kSettle);
            for (int k = 0; k < phase.steps; ++k) {
                l.ramp_to(dir * (phase.first + k * phase.step), phase.ramp);
                l.hold(phase.hold);
            }
        }
    }
    l.ramp_to(0.0, kFast.ramp);
    l.hold(kRest);
    return l;
}

// The recorded bins, speeds [deg/s] and residuals scaled to the joint side, ascending speed.
std::vector<FrictionIdBin> recorded_bins(const SingleJointIdentify &rec) {
    std::vector<FrictionIdBin> out;
    for (int i = 0; i < 40; ++i) {
        out.push_back({rec.slowJointVel[i], rec.slowJointTorque[i] * kGear});
    }
    for (int i = 0; i < 60; ++i) {
        out.push_back({rec.highJointVel[i], rec.highJointTorque[i] * kGear});
    }
    std::sort(out.begin(), out.end(),
              [](const FrictionIdBin &a, const FrictionIdBin &b) { return a.speed < b.speed; });
    return out;
}

}  // namespace

double identified_friction(const float set[5], double w) {
    const double fc = set[0], fs = set[1], qs = set[2], yita = set[3], sita = set[4];
    const double x = w / qs;
    return (fc + (fs - fc) * std::exp(-x * x)) * std::tanh(0.5 * yita * w) + sita * w;
}

FrictionIdResult run_frictionid(const FrictionIdOptions &o) {
    if (o.joint < 1 || o.joint > 6) {
        throw std::runtime_error("joint must be 1..6");
    }
    const std::size_t j = static_cast<std::size_t>(o.joint - 1);
    ArmPlant plant(plant_config(o.common, Scene{}));
    const SpeedProfile profile = ladder();

    // Start where the ladder's travel stays centred in the joint's range.
    double lowest = 0.0, highest = 0.0;
    for (double t = 0.0; t <= profile.duration(); t += kCycle) {
        double p, v, a;
        profile.at(t, p, v, a);
        lowest = std::min(lowest, p);
        highest = std::max(highest, p);
    }
    const double lower = plant.truth().lower[j] + kRangeMargin;
    const double upper = plant.truth().upper[j] - kRangeMargin;
    if (highest - lowest > upper - lower) {
        throw std::runtime_error("the speed ladder travels further than the joint's range");
    }
    Vec6 start = default_program().waypoints[0];
    start[j] = 0.5 * (lower + upper) - 0.5 * (lowest + highest);

    HostConfig hc;
    hc.model_code = o.common.model;
    hc.teach_mode = 2;
    hc.monitor_only = true;  // a detector's report must not halt the ladder
    hc.config_root = o.common.config_root;
    SimHost host(hc, plant);
    host.start(start);

    // Arm the recorder: the status call while recording restarts the bin counters; the bins of
    // an earlier run are cleared so that none of them enters this fit.
    const uint8_t joint = static_cast<uint8_t>(o.joint);
    kxmcSingleJointFrictionOnlineOnOff(joint, 1);
    SingleJointIdentify &rec = singleJointIdentify;
    std::fill(std::begin(rec.slowJointVel), std::end(rec.slowJointVel), 0.0);
    std::fill(std::begin(rec.slowJointTorque), std::end(rec.slowJointTorque), 0.0);
    std::fill(std::begin(rec.highJointVel), std::end(rec.highJointVel), 0.0);
    std::fill(std::begin(rec.highJointTorque), std::end(rec.highJointTorque), 0.0);
    uint16_t status = 0;
    float scratch[3][10];
    kxmcGetJointFrictionStatus(&status, scratch[0], scratch[1], scratch[2]);

    JointProgram program;
    program.speed = kFast.first + (kFast.steps - 1) * kFast.step;
    program.profile = [&](double t) {
        JointProgram::Sample s{};
        s.pos = start;
        double p, v, a;
        profile.at(t, p, v, a);
        s.pos[j] += p;
        s.vel[j] = v;
        s.acc[j] = a;
        return s;
    };
    host.run_program(program);

    FrictionIdResult r;
    r.start_deg = start[j];
    const int cycles = static_cast<int>(std::ceil(profile.duration() / kCycle));
    r.trace.reserve(static_cast<std::size_t>(cycles));
    for (int i = 0; i < cycles; ++i) {
        r.trace.push_back(host.cycle());
        if (i % 1000 == 0) {
            progress(o.common, "frictionid", i * kCycle, profile.duration());
        }
    }
    for (const HostEvent &e : host.events()) {
        r.alarms += e.what == "residual" || e.what == "dual-encoder";
    }

    kxmcSingleJointFrictionOnlineOnOff(joint, 0);
    r.bins = recorded_bins(rec);  // before the status call turns the speeds into rad/s
    float difference[10];
    kxmcGetJointFrictionStatus(&r.status, r.identified, r.reference, difference);

    // The torques at a speed [deg/s]; the compensation law as the verdict evaluates it.
    const auto point = [&](double speed) {
        FrictionIdPoint pt;
        pt.speed = speed;
        const double w = speed * kDeg;
        pt.plant = plant.friction(o.joint - 1, w);
        pt.identified =
            identified_friction(std::fabs(speed) < kFastFrom ? r.identified : r.identified + 5, w);
        double speeds[6] = {0, 0, 0, 0, 0, 0}, law[6];
        speeds[j] = speed / 1000.0;  // [deg/ms]
        frictionCompensation(speeds, law);
        pt.compensation = law[j];
        return pt;
    };
    for (double sign : {-1.0, 1.0}) {
        for (float magnitude : kTestSpeeds) {
            r.points.push_back(point(sign * static_cast<double>(magnitude)));
            r.largest_error = std::max(r.largest_error, std::fabs(r.points.back().error()));
        }
    }
    std::sort(r.points.begin(), r.points.end(),
              [](const FrictionIdPoint &a, const FrictionIdPoint &b) { return a.speed < b.speed; });
    for (int i = -kCurvePoints; i <= kCurvePoints; ++i) {
        r.curve.push_back(point(kCurveTop * i / kCurvePoints));
    }
    return r;
}

}  // namespace kxsim
