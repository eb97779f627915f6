// The wrist force/torque sensor as the host reads it, and the host's position loop as an ideal
// servo for kinematic closed-loop runs.
//
// Sensor: a wrench in the sensor frame (what the tool side applies to the sensor: the tool's
// weight plus any contact, Fx, Fy, Fz [N], Mx, My, Mz [N m]) becomes the six sample words of
// one cycle: per channel wrench / resolution plus seeded Gaussian noise, rounded to the nearest
// count and saturated at the signed 16-bit range, in the low 16 bits; the upper bits carry the
// device's frame counter. The resolutions are the sensors' data-sheet values, kept here apart
// from the library's scaling.
#include <cmath>
#include <cstring>

#include "simhost_internal.hpp"

namespace kxsim {

namespace {

// 16-series: full scale in kgf and kgf m at 4096 counts, by range index.
constexpr double kSeries16[][2] = {
    {40, 1.6}, {11.2, 0.4}, {100, 2.8}, {160, 4.0}, {6.4, 0.32}, {20, 0.8},
    {10, 1.6}, {20, 1.6},   {40, 1.6},  {60, 1.6},  {80, 1.6},   {120, 15},
};
constexpr double kKgf = 9.8;               // [N]
constexpr double kSeries16Counts = 4096.0;
constexpr int32_t kCountMax = 32767;
constexpr int32_t kCountMin = -32768;
constexpr uint32_t kFrameCounterMask = 0x7FFF;  // keeps every word a non-negative int32

struct FixedUnitSensor {
    uint8_t model;
    uint8_t ranges;  // range indices 0..ranges-1
};
// Sensors reporting 0.1 N and 0.01 N m per count. Model 96 only counts as a force sensor
// while the end device is declared one; the library checks that, the device does not.
constexpr FixedUnitSensor kFixedUnit[] = {{18, 1}, {19, 1}, {20, 1}, {21, 1}, {22, 1},
                                          {23, 3}, {25, 3}, {80, 3}, {96, 1}};

}  // namespace

bool sensor_resolution(uint8_t model, uint8_t range, double *force_per_count,
                       double *moment_per_count) {
    double f = 0.0, m = 0.0;
    if (model == 16 && range < sizeof kSeries16 / sizeof kSeries16[0]) {
        f = kSeries16[range][0] * kKgf / kSeries16Counts;
        m = kSeries16[range][1] * kKgf / kSeries16Counts;
    } else {
        bool found = false;
        for (const FixedUnitSensor &s : kFixedUnit) {
            if (s.model == model && range < s.ranges) {
                found = true;
            }
        }
        if (!found) {
            return false;
        }
        f = 0.1;
        m = 0.01;
    }
    if (force_per_count != nullptr) {
        *force_per_count = f;
    }
    if (moment_per_count != nullptr) {
        *moment_per_count = m;
    }
    return true;
}

SensorSampleSource::SensorSampleSource(uint8_t model, uint8_t range, uint64_t seed,
                                       double noise_counts)
    : rng_(seed), noise_(0.0, noise_counts > 0.0 ? noise_counts : 1.0),
      noisy_(noise_counts > 0.0) {
    if (!sensor_resolution(model, range, &force_per_count_, &moment_per_count_)) {
        force_per_count_ = moment_per_count_ = 0.0;  // an unknown sensor reads zero counts
    }
}

int32_t SensorSampleSource::count_of(double value, double per_count) {
    double c = per_count > 0.0 ? value / per_count : 0.0;
    if (noisy_) {
        c += noise_(rng_);
    }
    c = std::nearbyint(c);
    if (!(c >= kCountMin)) {  // also NaN
        return c > 0.0 ? kCountMax : kCountMin;
    }
    return c > kCountMax ? kCountMax : static_cast<int32_t>(c);
}

void SensorSampleSource::sample(const double wrench[6], int32_t words[6]) {
    frame_ = (frame_ + 1) & kFrameCounterMask;
    for (int i = 0; i < 6; ++i) {
        const int32_t count = count_of(wrench[i], i < 3 ? force_per_count_ : moment_per_count_);
        const uint32_t low = static_cast<uint32_t>(count) & 0xFFFFu;
        words[i] = static_cast<int32_t>((frame_ << 16) | low);
    }
}

void set_sensor_fault_inputs(bool input1, bool input2) {
    set_axle_din(static_cast<uint16_t>((input1 ? kSensorFaultInput1 : 0) |
                                       (input2 ? kSensorFaultInput2 : 0)));
}

void ideal_position_loop_step() {
    const Trsf tool_before = detail::tool_transform(mpb.jointPos);
    for (int j = 0; j < 6; ++j) {
        mpb.prevJointPos[j] = mpb.jointPos[j];
        mpb.jointPos[j] = mpb.targetJointPos[j];
        mpb.actualJointVel[j] = mpb.jointPos[j] - mpb.prevJointPos[j];
        mpb.targetJointVel[j] = mpb.actualJointVel[j];
        mpb.cmdJointPos[j] = mpb.targetJointPos[j];
    }
    mpb.flangePose = flange_transform(mpb.jointPos);
    mpb.cartPoseActual = mpb.flangePose;
    const Trsf tool = detail::tool_transform(mpb.jointPos);
    mpb.cmdCartPose = tool;
    double pose[6];
    detail::trsf_to_pose(tool, pose);
    // Angles continue from the previous ones instead of jumping by a turn.
    for (int i = 3; i < 6; ++i) {
        pose[i] = detail::wrap_near(pose[i], mpb.tcpPos[i]);
    }
    std::memcpy(mpb.tcpPos, pose, sizeof pose);
    double d2 = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double d = tool.pos.v[i] - tool_before.pos.v[i];
        d2 += d * d;
    }
    mpb.tcpSpeed = std::sqrt(d2) * 1000.0;  // [mm/s]
}

}  // namespace kxsim
