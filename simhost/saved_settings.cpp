// The settings the host reads back from its configuration files at start: one table of
// file, section, key -> record field. Integer fields take the value truncated toward zero;
// a value outside the field's accepted range (or not a number) is ignored and the default
// stays, so a damaged file never hands the library an index it cannot use.
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "numerics/float_cast.hpp"
#include "simhost_internal.hpp"

namespace kxsim {

namespace {

constexpr const char *kUserFile = "/root/robot/user.config";
constexpr const char *kLoadFile = "/root/robot/load.config";
constexpr double kAny = std::numeric_limits<double>::infinity();

enum class Kind : uint8_t { kU8, kI32, kU32, kF32, kF64 };

struct Setting {
    const char *file;
    const char *section;
    std::string key;
    Kind kind;
    void *field;
    double lo;  // accepted range, inclusive
    double hi;
};

Setting u8(const char *file, const char *section, std::string key, uint8_t *f, double lo = 0,
           double hi = 255) {
    return {file, section, std::move(key), Kind::kU8, f, lo, hi};
}
Setting i32(const char *file, const char *section, std::string key, int32_t *f,
            double lo = -kAny, double hi = kAny) {
    return {file, section, std::move(key), Kind::kI32, f, lo, hi};
}
Setting u32(const char *file, const char *section, std::string key, uint32_t *f) {
    return {file, section, std::move(key), Kind::kU32, f, 0, kAny};
}
Setting f32(const char *file, const char *section, std::string key, float *f, double lo = -kAny,
            double hi = kAny) {
    return {file, section, std::move(key), Kind::kF32, f, lo, hi};
}
Setting f64(const char *file, const char *section, std::string key, double *f) {
    return {file, section, std::move(key), Kind::kF64, f, -kAny, kAny};
}

std::vector<Setting> build_table() {
    const char *U = kUserFile;
    const char *user = "USER_PARAM";
    const char *test = "TEST_PARAM";
    const char *sensor = "FORCE_SENSOR";
    const char *lock = "DRAGLOCK_PARAM";
    static const char *const kWrench[6] = {"FX", "FY", "FZ", "MX", "MY", "MZ"};
    static const char *const kAxis[6] = {"X", "Y", "Z", "MX", "MY", "MZ"};
    static const char *const kPose[6] = {"X", "Y", "Z", "A", "B", "C"};
    static const char *const kXyz[3] = {"X", "Y", "Z"};

    std::vector<Setting> t;
    // Mounting.
    t.push_back(u8(U, user, "INSTALL_POS", &mcb.installPos, 0, 3));
    t.push_back(f64(U, user, "INSTALL_YANGLE", &mcb.installTilt));
    t.push_back(f64(U, user, "INSTALL_ZANGLE", &mcb.installRot));
    // Torque model, power limit, friction.
    t.push_back(u8(U, test, "NEW_TEACH_ENABLE", &mcb.newTeachEnable, 0, 2));
    t.push_back(u8(U, user, "POWER_FLAG", &mcb.powerFlag, 0, 1));
    t.push_back(f64(U, user, "POWER_LIMIT", &mcb.powerLimit));
    t.push_back(u8(U, user, "FRIC_COMPENSATION", &mcb.frictionCompOn, 0, 1));
    t.push_back(u32(U, user, "FRIC_JOINTSTIFFNESSTYPE", &mcb.fricJointStiffnessType));
    for (int j = 0; j < 6; ++j) {
        const std::string n = std::to_string(j + 1);
        t.push_back(f64(U, test, "NEW_TEACH_GAIN" + n, &mcb.newTeachGain[j]));
        t.push_back(f64(U, test, "NEW_TEACH_GAIN_KF" + n, &mcb.newTeachGainKf[j]));
        t.push_back(f32(U, user, "FRIC_VALUE_FREE_J" + n, &mpb.frictionGain[j]));
        t.push_back(f64(U, user, "FORDEAD_GAIN" + n, &mpb.fricForDeadGain[j]));
        t.push_back(f64(U, user, "REVDEAD_GAIN" + n, &mpb.fricRevDeadGain[j]));
        t.push_back(f64(U, user, "FORFAST_GAIN" + n, &mpb.fricForFastGain[j]));
        t.push_back(f64(U, user, "REVFAST_GAIN" + n, &mpb.fricRevFastGain[j]));
    }
    // Interference drag and drag lock.
    t.push_back(u8(U, "INTERFERE_PARAM", "INTERFERE_DRAG", &mcb.interfereDragMode, 0, 2));
    t.push_back(u8(U, lock, "DRAGLOCK_ENABLE", &mcb.dragLockOn, 0, 1));
    for (int a = 0; a < 6; ++a) {
        const std::string s = std::string("_") + kPose[a];
        t.push_back(f64(U, lock, "DRAGLOCK_P" + s, &mcb.dragLockKp[a]));
        t.push_back(f64(U, lock, "DRAGLOCK_I" + s, &mcb.dragLockKi[a]));
        t.push_back(f64(U, lock, "DRAGLOCK_D" + s, &mcb.dragLockKd[a]));
    }
    // Collision settings.
    t.push_back(u8(U, user, "COLLISION_STATIC", &mcb.staticCollisionOn));
    t.push_back(u8(U, user, "COLLISION_PAUSE", &mcb.collisionPauseFlag, 0, 5));
    t.push_back(u32(U, user, "COLLISION_SAFETIME", &mcb.collisionSafeTime));
    t.push_back(u32(U, user, "COLLISION_SAFEDISTANCE", &mcb.collisionSafeDistance));
    t.push_back(u32(U, user, "COLLISION_SAFESPEED", &mcb.collisionSafeSpeed));
    t.push_back(u8(U, user, "COLLISION_MODE", &mpb.collisionMode, 0, 2));
    t.push_back(u8(U, user, "COLLISION_THRESHOLDMODE", &mpb.collisionThresholdMode, 0, 1));
    for (int j = 0; j < 6; ++j) {
        const std::string n = std::to_string(j + 1);
        t.push_back(i32(U, user, "COLLISION_SAFEMARGIN" + n, &mcb.collisionSafeMargin[j], 1, 10));
        // The saved levels are also the ones a level resume returns to.
        t.push_back(f32(U, user, "J" + n + "_COLLISION_LEVEL", &mpb.collisionLevel[j], 0, 100));
        t.push_back(
            f32(U, user, "J" + n + "_COLLISION_LEVEL", &mpb.collisionLevelSaved[j], 0, 100));
    }
    // Current payload and its identification.
    t.push_back(u8(U, user, "LOAD_NUM", &mpb.loadNum, 0, KXMC_LOAD_TABLE_SIZE - 1));
    t.push_back(f64(U, user, "LOAD_WEIGHT", &mpb.loadWeight));
    for (int i = 0; i < 3; ++i) {
        t.push_back(f64(U, user, std::string("LOAD_Coord_") + kXyz[i], &mpb.loadCoord[i]));
    }
    t.push_back(i32(U, user, "LOAD_IDENTIFY_TIME", &mcb.loadIdentifyTime, 0, 1000));
    t.push_back(u8(U, user, "LOAD_IDENTIFY_DYN", &mcb.loadIdentifyDynOn, 0, 1));
    // Payload table.
    for (int n = 0; n < KXMC_LOAD_TABLE_SIZE; ++n) {
        const std::string p = "LOAD" + std::to_string(n);
        t.push_back(f64(kLoadFile, "LOAD_PARAM", p + "_WEIGHT", &mpb.loadWeightTable[n]));
        for (int i = 0; i < 3; ++i) {
            t.push_back(f64(kLoadFile, "LOAD_PARAM", p + "_Coord_" + kXyz[i],
                            &mpb.loadCoordTable[n][i]));
        }
    }
    // Force/torque sensor.
    t.push_back(u8(U, sensor, "FORCESENSOR_SETFLAG", &mcb.forceSensorAct, 0, 1));
    t.push_back(u8(U, sensor, "FORCESENSOR_ZEROFLAG", &mcb.forceSensorZeroFlag, 0, 1));
    t.push_back(u8(U, sensor, "FORCESENSOR_REFCOORD", &mcb.forceSensorRefCoord, 0, 2));
    t.push_back(f64(U, sensor, "FORCESENSOR_LOADWEIGHT", &mpb.forceSensorLoadWeight));
    t.push_back(u8(U, sensor, "FORCESENSOR_ENDDRAGAUTOFLAG", &mcb.endDragAutoFlag, 0, 1));
    t.push_back(i32(U, sensor, "FORCESENSOR_ADAPTIVE_SIGN", &mcb.endDragAdaptiveSign));
    t.push_back(i32(U, sensor, "FORCESENSOR_INTERFERE_SIGN", &mcb.endDragInterfereSign));
    t.push_back(i32(U, sensor, "SINGULARITYCONSTRAINTSFLAG", &mcb.singularityConstraintsFlag));
    t.push_back(f64(U, sensor, "FORCESENSOR_ENDDRAGFMAX", &mcb.endDragFMax));
    t.push_back(f64(U, sensor, "FORCESENSOR_ENDDRAGVMAX", &mcb.endDragVMax));
    for (int i = 0; i < 3; ++i) {
        t.push_back(f64(U, sensor, std::string("FORCESENSOR_LOADCOORD") + kXyz[i],
                        &mpb.forceSensorLoadCoord[i]));
    }
    for (int i = 0; i < 6; ++i) {
        t.push_back(f64(U, sensor, std::string("FORCESENSOR_ZERO_") + kWrench[i],
                        &mcb.forceSensorZero[i]));
        t.push_back(f64(U, sensor, std::string("FORCESENSOR_ZEROOFFSET_") + kWrench[i],
                        &mcb.forceSensorZeroOffset[i]));
        t.push_back(f64(U, sensor, std::string("FORCESENSOR_COORD_") + kPose[i],
                        &mcb.forceSensorCoord[i]));
        t.push_back(f64(U, sensor, std::string("FORCESENSOR_INERTIA_") + kAxis[i],
                        &mcb.endDragInertia[i]));
        t.push_back(f64(U, sensor, std::string("FORCESENSOR_DAMP_") + kAxis[i],
                        &mcb.endDragDamp[i]));
        t.push_back(f64(U, sensor, std::string("FORCESENSOR_STIFFNESS_") + kAxis[i],
                        &mcb.endDragStiffness[i]));
        t.push_back(f64(U, sensor, std::string("FORCESENSOR_ENDDRAG") + kWrench[i],
                        &mcb.endDragForceThreshold[i]));
    }
    // Force-and-torque hand guiding.
    t.push_back(i32(U, test, "IMPEDANCE_SIGN", &mcb.impedanceSign, 0, 1));
    for (int j = 0; j < 6; ++j) {
        const std::string n = std::to_string(j + 1);
        t.push_back(f64(U, test, "LAMDAGAIN" + n, &mcb.forceTorqueLambda[j]));
        t.push_back(f64(U, test, "KGAIN" + n, &mcb.forceTorqueK[j]));
        t.push_back(f64(U, test, "BGAIN" + n, &mcb.forceTorqueB[j]));
    }
    t.push_back(f64(U, test, "DRAGMAXTCPVEL", &mcb.dragMaxTcpVel));
    t.push_back(f64(U, test, "DRAGMAXTCPORIVEL", &mcb.dragMaxTcpOriVel));
    return t;
}

void store(const Setting &s, float value) {
    const double v = static_cast<double>(value);
    if (std::isnan(v) || v < s.lo || v > s.hi) {
        return;
    }
    switch (s.kind) {
        case Kind::kU8:
            *static_cast<uint8_t *>(s.field) = kxmc::trunc_to<uint8_t>(v);
            break;
        case Kind::kI32:
            *static_cast<int32_t *>(s.field) = kxmc::trunc_to<int32_t>(v);
            break;
        case Kind::kU32:
            *static_cast<uint32_t *>(s.field) = kxmc::trunc_to<uint32_t>(v);
            break;
        case Kind::kF32:
            *static_cast<float *>(s.field) = value;
            break;
        case Kind::kF64:
            *static_cast<double *>(s.field) = v;
            break;
    }
}

}  // namespace

void load_saved_settings() {
    const std::vector<ConfigKey> files[2] = {read_config(kUserFile), read_config(kLoadFile)};
    for (const Setting &s : build_table()) {
        const std::vector<ConfigKey> &keys = files[s.file == kUserFile ? 0 : 1];
        // The last occurrence wins, as a later write would have replaced an earlier one.
        for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
            if (it->section == s.section && it->key == s.key) {
                const char *begin = it->value.c_str();
                char *end = nullptr;
                const float v = std::strtof(begin, &end);
                if (end != begin && *end == '\0') {
                    store(s, v);
                }
                break;
            }
        }
    }
}

}  // namespace kxsim
