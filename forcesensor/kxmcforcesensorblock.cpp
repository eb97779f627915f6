// Wrist force/torque sensor processing: the sensor's counts become a wrench in newtons and
// newton-metres, filtered per channel, freed of the zero, of the weight of the tool that hangs
// on the sensor and of the residual offsets, and expressed in the output frame the user chose.
// The two results, mcb.forceSensorCompWrench (sensor frame) and mpb.forceSensorWrench (output
// frame), are what every force function reads. The sensor's fault inputs shut them all down.
//
// Sign convention: the sensor reports the wrench the tool side applies to it, so a tool of
// mass m reads m g (its weight) and an operator's push on the tool reads as that push.
#include "kxmc/kxmc_sensor_processing.h"

#include <cstring>

#include "dynamics/installation_gravity.hpp"
#include "forcesensor/sensor_state.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_axle_sensor.h"
#include "kxmc/kxmc_end_force_drag.h"

namespace kxmc {
namespace sensor {

Trsf t06Last;
uint8_t DragToCartFlag = 0;

Trsf sensor_mounting() noexcept {
    const double *c = mcb.forceSensorCoord;  // x, y, z [mm], a, b, c [deg]
    Trsf t;
    rpyToTrsf(&t, c[5], c[4], c[3]);
    t.pos.v[0] = c[0];
    t.pos.v[1] = c[1];
    t.pos.v[2] = c[2];
    return t;
}

namespace {

uint8_t forceKalmanInitFlag = 0;  // the six Kalman states hold a seed

// Fault inputs of the end device: bit 6 and bit 7 of its digital inputs.
constexpr uint16_t kFaultInput1 = 1u << 6;
constexpr uint16_t kFaultInput2 = 1u << 7;

// ---- Scaling of the counts ----------------------------------------------------------------

struct CountScale {
    double force;   // [N per count]
    double moment;  // [N m per count]
};

constexpr double kGravityScale = 9.8;        // full scales are given in kgf and kgf m
constexpr double kSeries16Counts = 4096.0;  // counts at full scale

// Full scale of the model-16 sensor by range index: force [kgf], moment [kgf m].
constexpr double kSeries16FullScale[][2] = {
    {40, 1.6},  {11.2, 0.4}, {100, 2.8}, {160, 4.0}, {6.4, 0.32}, {20, 0.8},
    {10, 1.6},  {20, 1.6},   {40, 1.6},  {60, 1.6},  {80, 1.6},   {120, 15},
};
constexpr uint8_t kSeries16Model = 16;
constexpr uint8_t kSeries16Ranges = sizeof kSeries16FullScale / sizeof kSeries16FullScale[0];

// Sensors that report in fixed units: 0.1 N and 0.01 N m per count, in the listed ranges.
struct FixedUnitModel {
    uint8_t first;      // sensor model codes first..last
    uint8_t last;
    uint8_t lastRange;  // range indices 0..lastRange
    bool needsDevice;   // only while the end device is declared a force sensor
};
constexpr FixedUnitModel kFixedUnitModels[] = {
    {18, 22, 0, false},
    {23, 23, 2, false},
    {25, 25, 2, false},
    {80, 80, 2, false},
    {96, 96, 0, true},
};
constexpr CountScale kFixedUnitScale = {0.1, 0.01};

// Scale of a sensor model and range; false for a combination no sensor has.
bool count_scale(uint8_t model, uint8_t range, CountScale *scale) noexcept {
    if (model == kSeries16Model && range < kSeries16Ranges) {
        scale->force = kSeries16FullScale[range][0] * (1.0 / kSeries16Counts) * kGravityScale;
        scale->moment = kSeries16FullScale[range][1] * (1.0 / kSeries16Counts) * kGravityScale;
        return true;
    }
    for (const FixedUnitModel &m : kFixedUnitModels) {
        if (model >= m.first && model <= m.last && range <= m.lastRange &&
            (!m.needsDevice || forcesensorFlag == 1)) {
            *scale = kFixedUnitScale;
            return true;
        }
    }
    return false;
}

// Signed count in the low 16 bits of a sample word.
int32_t channel_count(int32_t word) noexcept {
    const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(word) & 0xFFFFu);
    return low >= 0x8000 ? low - 0x10000 : low;
}

// Scales a sample into mpb.forceSensorRaw; an unknown sensor leaves the previous values.
void scale_sample(const int32_t sample[6]) noexcept {
    CountScale scale;
    if (!count_scale(mcb.forceSensorType, mcb.forceSensorRange, &scale)) {
        return;
    }
    for (int i = 0; i < kAxes; ++i) {
        const double count = sample != nullptr ? channel_count(sample[i]) : 0.0;
        mpb.forceSensorRaw[i] = count * (i < 3 ? scale.force : scale.moment);
    }
}

void kalman_filter_channels() noexcept {
    if (forceKalmanInitFlag == 0) {
        for (int i = 0; i < kAxes; ++i) {
            Init_KalmanInfo(&mpb.forceKalman[i], 1.0, 1.0, mpb.forceSensorRaw[i]);
        }
        forceKalmanInitFlag = 1;
    }
    for (int i = 0; i < kAxes; ++i) {
        mpb.forceSensorRaw[i] = KalmanFilter(&mpb.forceKalman[i], mpb.forceSensorRaw[i]);
    }
}

// Rotation of the sensor frame in the base frame: flange pose times the mounting.
Rotrsf sensor_rotation_in_base(const Trsf &mounting) noexcept {
    Rotrsf r;
    multRotrsf(&r, &mpb.flangePose.rot, &mounting.rot);
    return r;
}

// Wrench of the tool's weight on the sensor (sensor frame) for a sensor mounted as given.
void tool_weight_wrench(const Trsf &mounting, double out[6]) noexcept {
    double g_base[3];
    kxmc::installation_gravity(mcb.installTilt, mcb.installRot, g_base);
    const double m = mpb.forceSensorLoadWeight;  // [kg]
    const double weight_base[3] = {m * g_base[0], m * g_base[1], m * g_base[2]};
    Rotrsf base_to_sensor;
    const Rotrsf sensor_in_base = sensor_rotation_in_base(mounting);
    trsposeRotrsf(&base_to_sensor, &sensor_in_base);
    rotate(base_to_sensor, weight_base, out);
    const double c[3] = {mpb.forceSensorLoadCoord[0] * kMmToM,
                         mpb.forceSensorLoadCoord[1] * kMmToM,
                         mpb.forceSensorLoadCoord[2] * kMmToM};
    cross(c, out, out + 3);
}

}  // namespace
}  // namespace sensor
}  // namespace kxmc

using namespace kxmc::sensor;

extern "C" {

int32_t forceSensorDataGravityCompensation(double out[6]) {
    if (out == nullptr) {
        return -1;
    }
    tool_weight_wrench(sensor_mounting(), out);
    return 0;
}

int32_t trsfToRCS_force(double out[6]) {
    if (out == nullptr) {
        return -1;
    }
    double w[6];
    std::memcpy(w, mpb.forceSensorRaw, sizeof w);
    if (mcb.forceSensorZeroFlag == 1) {
        for (int i = 0; i < kAxes; ++i) {
            w[i] -= mcb.forceSensorZero[i];
        }
    }
    // While dynamic load identification runs it needs the full load on the sensor.
    const Trsf mounting = sensor_mounting();
    if (mcb.loadIdentifyDynOn == 0) {
        double g[6];
        tool_weight_wrench(mounting, g);
        for (int i = 0; i < kAxes; ++i) {
            w[i] -= g[i] + mcb.forceSensorZeroOffset[i];
        }
    }
    std::memcpy(mcb.forceSensorCompWrench, w, sizeof w);

    // Flange frame: force rotated, moment rotated and moved from the sensor origin p to the
    // flange origin (M_f = Rs M + p x F_f).
    double f_flange[3], m_flange[3], lever[3];
    rotate(mounting.rot, w, f_flange);
    rotate(mounting.rot, w + 3, m_flange);
    const double p[3] = {mounting.pos.v[0] * kMmToM, mounting.pos.v[1] * kMmToM,
                         mounting.pos.v[2] * kMmToM};
    cross(p, f_flange, lever);
    for (int i = 0; i < 3; ++i) {
        m_flange[i] += lever[i];
    }

    switch (mcb.forceSensorRefCoord) {
        case 0:
            std::memcpy(out, f_flange, sizeof f_flange);
            std::memcpy(out + 3, m_flange, sizeof m_flange);
            break;
        case 1: {
            // The pose where guiding started is kept for the guiding goal; the wrench itself
            // follows the arm, so a push keeps its direction in base axes while the tool turns.
            if (DragToCartFlag == 0) {
                t06Last = mpb.flangePose;
                DragToCartFlag = 1;
            }
            const Rotrsf r = sensor_rotation_in_base(mounting);
            rotate(r, w, out);
            rotate(r, w + 3, out + 3);
            break;
        }
        case 2: {
            Rotrsf flange_to_tool;
            invRotrsf(&flange_to_tool, &mpb.toolTrsf.rot);
            double m[3];
            std::memcpy(m, m_flange, sizeof m);
            // Constant-force control presses with the tool point: its moment is taken there.
            if (mcb.constForceOn == 1) {
                const double q[3] = {mpb.toolTrsf.pos.v[0] * kMmToM,
                                     mpb.toolTrsf.pos.v[1] * kMmToM,
                                     mpb.toolTrsf.pos.v[2] * kMmToM};
                cross(q, f_flange, lever);
                for (int i = 0; i < 3; ++i) {
                    m[i] -= lever[i];
                }
            }
            rotate(flange_to_tool, f_flange, out);
            rotate(flange_to_tool, m, out + 3);
            break;
        }
        default:
            std::memcpy(out, w, sizeof w);
            break;
    }
    return 0;
}

int32_t forceSensorDataProcess(const int32_t sample[6]) {
    uint16_t din = 0;
    kxHalGetAxleDin(&din);
    const bool fault1 = (din & kFaultInput1) != 0;
    const bool fault2 = (din & kFaultInput2) != 0;
    if ((fault1 || fault2) && mcb.forceSensorAct == 1) {
        kxmcCloseForceSensor();
        mcb.forceSensorState = static_cast<uint8_t>((fault1 ? 1 : 0) + (fault2 ? 2 : 0));
    } else {
        mcb.forceSensorState = 0;
    }

    if (mcb.forceSensorAct != 1) {
        forceKalmanInitFlag = 0;
        std::memset(mpb.forceSensorRaw, 0, sizeof mpb.forceSensorRaw);
        std::memset(mpb.forceSensorWrench, 0, sizeof mpb.forceSensorWrench);
        return 0;
    }

    scale_sample(sample);
    kalman_filter_channels();
    double wrench[6];
    trsfToRCS_force(wrench);
    std::memcpy(mpb.forceSensorWrench, wrench, sizeof wrench);
    return 0;
}

int32_t resetForceControlPara(void) {
    if (mcb.sensorCollisionOn != 0) {
        mcb.sensorCollisionOn = 0;
    }
    if (mcb.constForceOn != 0) {
        mcb.constForceOn = 0;
        std::memset(mcb.constForceOffset, 0, sizeof mcb.constForceOffset);
        mcb.constForcePidAdjustMode = 0;
    }
    return 0;
}

int32_t kxmcCloseForceSensor(void) {
    mcb.endForceDragOn = 0;
    mcb.forceTorqueDragOn = 0;
    resetForceControlPara();
    kxmcEndForceDragParamReset();
    return 0;
}

int32_t qmcGetForceSensorAct(uint8_t *out) {
    if (out == nullptr) {
        return -1;
    }
    *out = mcb.forceSensorAct;
    return 0;
}

int32_t kxmcGetForceSensorState(uint8_t *out) {
    if (out == nullptr) {
        return -1;
    }
    *out = mcb.forceSensorState;
    return 0;
}

}  // extern "C"
