// Installation settings (angles and mounting) and the offset pose added to the current TCP.
#include <cstdint>

#include "dynamics/user_config.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_gravity.h"

namespace {

constexpr double kMaxInstallAngle = 360.0;  // [deg] magnitude of either installation angle
constexpr int32_t kMaxMounting = 3;         // 0 floor, 1 wall, 2 ceiling, 3 any angle

constexpr char kKeyTilt[] = "INSTALL_YANGLE";
constexpr char kKeyRot[] = "INSTALL_ZANGLE";
constexpr char kKeyMounting[] = "INSTALL_POS";

// Angles of the three fixed mountings; any other pair keeps the mounting that is set.
struct FixedMounting {
    double tilt;  // [deg]
    double rot;   // [deg]
    uint8_t mounting;
};
constexpr FixedMounting kFixedMountings[] = {
    {0.0, 0.0, 0},    // floor
    {90.0, 0.0, 1},   // wall
    {180.0, 0.0, 2},  // ceiling
};

// NaN fails both comparisons and is rejected with the out-of-range values.
bool angle_in_range(double angle) {
    return angle >= -kMaxInstallAngle && angle <= kMaxInstallAngle;
}

}  // namespace

extern "C" {

int32_t qmcSetRobotInstallAngle(double tilt, double rot) {
    if (!angle_in_range(tilt) || !angle_in_range(rot)) {
        return -1;
    }
    mcb.installTilt = tilt;
    mcb.installRot = rot;
    kxmc::detail::persist_user_param(kKeyTilt, static_cast<float>(tilt));
    kxmc::detail::persist_user_param(kKeyRot, static_cast<float>(rot));
    for (const FixedMounting &m : kFixedMountings) {
        if (tilt == m.tilt && rot == m.rot) {
            mcb.installPos = m.mounting;
            kxmc::detail::persist_user_param(kKeyMounting, static_cast<float>(m.mounting));
            break;
        }
    }
    return 0;
}

int32_t qmcSetRobotInstallPos(int32_t pos) {
    if (pos < 0 || pos > kMaxMounting) {
        return -1;
    }
    mcb.installPos = static_cast<uint8_t>(pos);
    kxmc::detail::persist_user_param(kKeyMounting, static_cast<float>(pos));
    return 0;
}

int32_t qmcGetRobotInstallAngle(double *tilt, double *rot) {
    if (tilt == nullptr || rot == nullptr) {
        return -1;
    }
    *tilt = mcb.installTilt;
    *rot = mcb.installRot;
    return 0;
}

int32_t qmcPosAddTrsfToRCS(float x, float y, float z, float a, float b, float c, float out[6]) {
    if (out == nullptr) {
        return -1;
    }
    double current[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};  // x, y, z [mm], a, b, c [deg]
    qmcGetRobotPos(current);
    const double offset[6] = {x, y, z, a, b, c};

    if (mcb.forceSensorRefCoord != 0) {
        for (int i = 0; i < 6; ++i) {
            out[i] = static_cast<float>(current[i] + offset[i]);
        }
        return 0;
    }

    // Offset expressed in the current TCP frame: current * offset.
    Trsf now{};
    rpyToTrsf(&now, current[5], current[4], current[3]);
    now.pos.v[0] = current[0];
    now.pos.v[1] = current[1];
    now.pos.v[2] = current[2];
    Trsf step{};
    rpyToTrsf(&step, offset[5], offset[4], offset[3]);
    step.pos.v[0] = offset[0];
    step.pos.v[1] = offset[1];
    step.pos.v[2] = offset[2];
    Trsf target{};
    multTrsf(&target, &now, &step);

    // Angles nearest the current ones, so the result does not jump by a full turn.
    const double reference[3] = {current[3], current[4], current[5]};  // first, second, third
    double third = 0.0;
    double second = 0.0;
    double first = 0.0;
    trsfToRpyRt(&third, &second, &first, &target, reference);
    out[0] = static_cast<float>(target.pos.v[0]);
    out[1] = static_cast<float>(target.pos.v[1]);
    out[2] = static_cast<float>(target.pos.v[2]);
    out[3] = static_cast<float>(first);
    out[4] = static_cast<float>(second);
    out[5] = static_cast<float>(third);
    return 0;
}

}  // extern "C"
