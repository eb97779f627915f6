// Settings of the wrist force/torque sensor: processing on/off, zero, mounting and output
// frame, the load that hangs on the sensor, and the automatic start of end-force guiding.
// Each setter checks first and writes only when everything is accepted, then persists its keys
// in "/root/robot/user.config" [FORCE_SENSOR] (the host reads them back at start).
#include "kxmc/kxmc_sensor_settings.h"

#include <cmath>
#include <cstring>

#include "dynamics/user_config.hpp"
#include "host/kxmc_host.h"
#include "numerics/model_bands.hpp"

namespace {

constexpr char kSensorSection[] = "FORCE_SENSOR";
constexpr int kAxes = 6;

constexpr const char *kZeroKeys[kAxes] = {"FORCESENSOR_ZERO_FX", "FORCESENSOR_ZERO_FY",
                                          "FORCESENSOR_ZERO_FZ", "FORCESENSOR_ZERO_MX",
                                          "FORCESENSOR_ZERO_MY", "FORCESENSOR_ZERO_MZ"};
constexpr const char *kOffsetKeys[kAxes] = {
    "FORCESENSOR_ZEROOFFSET_FX", "FORCESENSOR_ZEROOFFSET_FY", "FORCESENSOR_ZEROOFFSET_FZ",
    "FORCESENSOR_ZEROOFFSET_MX", "FORCESENSOR_ZEROOFFSET_MY", "FORCESENSOR_ZEROOFFSET_MZ"};
constexpr const char *kCoordKeys[kAxes] = {"FORCESENSOR_COORD_X", "FORCESENSOR_COORD_Y",
                                           "FORCESENSOR_COORD_Z", "FORCESENSOR_COORD_A",
                                           "FORCESENSOR_COORD_B", "FORCESENSOR_COORD_C"};
constexpr const char *kLoadCoordKeys[3] = {"FORCESENSOR_LOADCOORDX", "FORCESENSOR_LOADCOORDY",
                                           "FORCESENSOR_LOADCOORDZ"};
constexpr uint32_t kLoadCoordErrors[3] = {KXMC_PARAM_ERR_LOAD_X, KXMC_PARAM_ERR_LOAD_Y,
                                          KXMC_PARAM_ERR_LOAD_Z};

constexpr uint8_t kBaseFrame = 1;
constexpr uint8_t kLastFrame = 2;              // 0 flange, 1 base, 2 tool
constexpr double kNoLoad = 1e-6;               // [kg], [mm] below this no load is configured
constexpr double kMinLoadWeight = -1e-6;       // [kg]
constexpr double kMaxLoadCoord = 1000.0;       // [mm] per coordinate

// Largest tool mass on the sensor per arm family [kg]; families not listed have no upper bound.
struct MassLimit {
    bool checked;
    double max;  // [kg]
};
constexpr kxmc::Band<MassLimit> kMassLimits[] = {
    {0, 0, {true, 5}},        {1, 100, {true, 3}},      {101, 200, {true, 5}},
    {201, 300, {true, 10}},   {301, 400, {true, 16}},   {401, 500, {true, 20}},
    {501, 600, {true, 3}},    {601, 700, {true, 5}},    {701, 900, {true, 3}},
    {901, 901, {true, 5}},    {902, 902, {true, 10}},   {1001, 1100, {true, 30}},
};
constexpr MassLimit kUncheckedMass = {false, 0.0};

void persist(const char *key, double value) noexcept {
    kxmc::detail::persist_user_key(kSensorSection, key, value);
}

int persist_result(const char *key, double value) noexcept {
    return ConfigWriteEntry(kxmc::detail::kUserConfigPath, kSensorSection, key,
                            kxmc::detail::saturate_to_float(value));
}

// Written so that NaN is refused.
bool mass_accepted(double mass) noexcept {
    if (!(mass >= kMinLoadWeight) || !std::isfinite(mass)) {
        return false;
    }
    const MassLimit &limit = kxmc::lookup_band(kMassLimits, mcb.robotModelCode, kUncheckedMass);
    return !limit.checked || mass <= limit.max;
}

bool load_configured() noexcept {
    if (!(mpb.forceSensorLoadWeight <= kNoLoad)) {
        return true;
    }
    for (double c : mpb.forceSensorLoadCoord) {
        if (!(std::fabs(c) <= kNoLoad)) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" {

int32_t qmcSetForceSensorAct(uint8_t flag, uint32_t cmdId) {
    if (flag > 1) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        return -1;
    }
    mcb.forceSensorAct = flag;
    persist("FORCESENSOR_SETFLAG", flag);
    mpb.cmdId = cmdId;
    return 0;
}

int32_t qmcSetForceSensorZero(uint8_t flag, uint32_t cmdId) {
    if (flag > 1) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        mpb.cmdId = cmdId;
        return -1;
    }
    if (mcb.forceSensorRefCoord == kBaseFrame) {
        return -2;
    }
    // The zero is taken without a tool: with one, its weight would become part of the zero.
    if (load_configured()) {
        return -3;
    }
    mcb.forceSensorZeroFlag = flag;
    for (int i = 0; i < kAxes; ++i) {
        mcb.forceSensorZero[i] = flag == 1 ? mpb.forceSensorRaw[i] : 0.0;
        mcb.forceSensorZeroOffset[i] = 0.0;
    }
    persist("FORCESENSOR_ZEROFLAG", flag);
    for (int i = 0; i < kAxes; ++i) {
        persist(kZeroKeys[i], mcb.forceSensorZero[i]);
    }
    for (int i = 0; i < kAxes; ++i) {
        persist(kOffsetKeys[i], mcb.forceSensorZeroOffset[i]);
    }
    mpb.cmdId = cmdId;
    return 0;
}

int32_t qmcSetForceSensorRcs(uint8_t frame, const float pose[6], uint32_t cmdId) {
    bool finite = pose != nullptr;
    for (int i = 0; finite && i < kAxes; ++i) {
        finite = std::isfinite(pose[i]);
    }
    if (frame > kLastFrame || !finite) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        mpb.cmdId = cmdId;
        return -1;
    }
    mcb.forceSensorRefCoord = frame;
    for (int i = 0; i < kAxes; ++i) {
        mcb.forceSensorCoord[i] = static_cast<double>(pose[i]);
    }
    for (int i = 0; i < kAxes; ++i) {
        persist(kCoordKeys[i], mcb.forceSensorCoord[i]);
    }
    persist("FORCESENSOR_REFCOORD", frame);
    mpb.cmdId = cmdId;
    return 0;
}

int32_t qmcSetForceSensorLoadWeight(double mass, uint32_t cmdId) {
    if (!mass_accepted(mass)) {
        mcb.paramErrorCode = KXMC_PARAM_ERR_LOAD_MASS;
        return -1;
    }
    mpb.forceSensorLoadWeight = mass;
    Write_Log(1, "forceSensorLoadWeight:%f", mass);
    persist("FORCESENSOR_LOADWEIGHT", mass);
    mpb.cmdId = cmdId;
    return 0;
}

int32_t qmcSetForceSensorLoadCoord(double x, double y, double z, uint32_t cmdId) {
    const double c[3] = {x, y, z};
    for (int i = 0; i < 3; ++i) {
        if (!(std::fabs(c[i]) <= kMaxLoadCoord)) {
            mcb.paramErrorCode = kLoadCoordErrors[i];
            return -1;
        }
    }
    std::memcpy(mpb.forceSensorLoadCoord, c, sizeof c);
    Write_Log(1, "forceSensorLoadCoord:%f %f %f", x, y, z);
    for (int i = 0; i < 3; ++i) {
        persist(kLoadCoordKeys[i], c[i]);
    }
    mpb.cmdId = cmdId;
    return 0;
}

int32_t qmcSetForceSensorDragAutoFlag(uint8_t flag) {
    if (flag > 1) {
        return -1;
    }
    mcb.endDragAutoFlag = flag;
    persist("FORCESENSOR_ENDDRAGAUTOFLAG", flag);
    return 0;
}

int32_t forceSensorSaveLoadCoord(void) {
    int result = persist_result("FORCESENSOR_LOADWEIGHT", mpb.forceSensorLoadWeight);
    for (int i = 0; i < 3; ++i) {
        result = persist_result(kLoadCoordKeys[i], mpb.forceSensorLoadCoord[i]);
    }
    for (int i = 0; i < kAxes; ++i) {
        result = persist_result(kOffsetKeys[i], mcb.forceSensorZeroOffset[i]);
    }
    return result;
}

}  // extern "C"
