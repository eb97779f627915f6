// Torque-model and hand-guiding settings, and three services of the per-cycle torque control:
// the drag power measurement, the vibration abatement and the filter reset.
//
// The setters run in the host's command context: validate, store into the host record, persist
// into "/root/robot/user.config". The services run in the servo thread: fixed loops, no
// allocation, no I/O beyond the hardware-layer call.
#include "kxmc/kxmc_dynamics_settings.h"

#include <cmath>
#include <cstdint>

#include "dynamics/drag_lock_state.hpp"
#include "dynamics/power_window.hpp"
#include "dynamics/user_config.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_collision_settings.h"
#include "kxmc/kxmc_gravity.h"
#include "kxmc/kxmc_numerics.h"
#include "numerics/filter_records.hpp"
#include "numerics/float_cast.hpp"
#include "numerics/model_bands.hpp"
#include "payload/excitation_state.hpp"

// ---- Library statics shared with other translation units -------------------------------------

float powerIntegral[kxmc::kPowerWindow];
int32_t powerCount;
kxmc::DragLockReference cpd;

namespace kxmc {

void reset_power_window() noexcept {
    for (float &slot : powerIntegral) {
        slot = 0.0f;
    }
    powerCount = 0;
}

}  // namespace kxmc

namespace {

using kxmc::detail::persist_user_key;
using kxmc::detail::persist_user_param;
using kxmc::detail::saturate_to_float;

constexpr int kJoints = KXMC_JOINTS;
constexpr double kPi = 3.14159265358979323846;

// ---- Torque model version ----

constexpr uint8_t kGravityOnly = 0;
constexpr uint8_t kGravityTest = 1;
constexpr uint8_t kFullDynamics = 2;

// Arms whose identified gravity-test law does not exist (version 1 refused).
constexpr kxmc::Band<bool> kNoGravityTestLaw[] = {
    {3, 3, true},
    {401, UINT32_MAX, true},
};
// Arms without a gravity model of their own (version 0 refused).
constexpr kxmc::Band<bool> kNoGravityModel[] = {
    {501, 700, true},
    {801, 900, true},
};

constexpr double kTeachGainFactor = 1.43;
constexpr double kTeachGainFactorArm = 1.23;  // joints 2 and 3 carry the arm's weight
constexpr double kTeachGainKf = 1.0;

constexpr const char kTestSection[] = "TEST_PARAM";
constexpr const char *kTeachGainKeys[kJoints] = {"NEW_TEACH_GAIN1", "NEW_TEACH_GAIN2",
                                                 "NEW_TEACH_GAIN3", "NEW_TEACH_GAIN4",
                                                 "NEW_TEACH_GAIN5", "NEW_TEACH_GAIN6"};
constexpr const char *kTeachGainKfKeys[kJoints] = {
    "NEW_TEACH_GAIN_KF1", "NEW_TEACH_GAIN_KF2", "NEW_TEACH_GAIN_KF3",
    "NEW_TEACH_GAIN_KF4", "NEW_TEACH_GAIN_KF5", "NEW_TEACH_GAIN_KF6"};

// ---- Friction ----

constexpr double kMinFrictionGain = -0.000001;
constexpr double kMaxFrictionGain = 1.0;
constexpr double kMinLawGain = 0.5;
constexpr double kMaxLawGain = 1.5;

constexpr const char *kFrictionFreeKeys[kJoints] = {
    "FRIC_VALUE_FREE_J1", "FRIC_VALUE_FREE_J2", "FRIC_VALUE_FREE_J3",
    "FRIC_VALUE_FREE_J4", "FRIC_VALUE_FREE_J5", "FRIC_VALUE_FREE_J6"};

// The four gains of one joint's friction law, in validation and persistence order.
constexpr int kLawGains = 4;
constexpr const char *kLawGainKeys[kJoints][kLawGains] = {
    {"FORDEAD_GAIN1", "REVDEAD_GAIN1", "FORFAST_GAIN1", "REVFAST_GAIN1"},
    {"FORDEAD_GAIN2", "REVDEAD_GAIN2", "FORFAST_GAIN2", "REVFAST_GAIN2"},
    {"FORDEAD_GAIN3", "REVDEAD_GAIN3", "FORFAST_GAIN3", "REVFAST_GAIN3"},
    {"FORDEAD_GAIN4", "REVDEAD_GAIN4", "FORFAST_GAIN4", "REVFAST_GAIN4"},
    {"FORDEAD_GAIN5", "REVDEAD_GAIN5", "FORFAST_GAIN5", "REVFAST_GAIN5"},
    {"FORDEAD_GAIN6", "REVDEAD_GAIN6", "FORFAST_GAIN6", "REVFAST_GAIN6"},
};

// Set once the first call of qmcSetJointFrictionGain has reset the gains to 1.0.
uint8_t frictionGainInitFlag;

// Host gain arrays of the friction law, in the order of kLawGainKeys.
double *law_gain_field(int gain) noexcept {
    switch (gain) {
        case 0:
            return mpb.fricForDeadGain;
        case 1:
            return mpb.fricRevDeadGain;
        case 2:
            return mpb.fricForFastGain;
        default:
            return mpb.fricRevFastGain;
    }
}

// ---- Drag lock and interference drag ----

constexpr const char kInterfereSection[] = "INTERFERE_PARAM";
constexpr const char kDragLockSection[] = "DRAGLOCK_PARAM";
constexpr uint8_t kInterfereHold = 1;
constexpr double kMaxDragLockGain = 10.0;

// PID terms of one Cartesian axis, in validation and persistence order.
constexpr int kPidTerms = 3;
constexpr const char *kDragLockKeys[kJoints][kPidTerms] = {
    {"DRAGLOCK_P_X", "DRAGLOCK_I_X", "DRAGLOCK_D_X"},
    {"DRAGLOCK_P_Y", "DRAGLOCK_I_Y", "DRAGLOCK_D_Y"},
    {"DRAGLOCK_P_Z", "DRAGLOCK_I_Z", "DRAGLOCK_D_Z"},
    {"DRAGLOCK_P_A", "DRAGLOCK_I_A", "DRAGLOCK_D_A"},
    {"DRAGLOCK_P_B", "DRAGLOCK_I_B", "DRAGLOCK_D_B"},
    {"DRAGLOCK_P_C", "DRAGLOCK_I_C", "DRAGLOCK_D_C"},
};

double *drag_lock_field(int term) noexcept {
    switch (term) {
        case 0:
            return mcb.dragLockKp;
        case 1:
            return mcb.dragLockKi;
        default:
            return mcb.dragLockKd;
    }
}

// ---- Power measurement ----

constexpr double kMeasuredGear = 101.0;  // gear factor of the measured-torque rebuild

// ---- Vibration abatement ----

constexpr float kSmootherA = 1.0f;  // smoother weight alpha = b / (a + b) = 1/11
constexpr float kSmootherB = 0.1f;
constexpr double kAtRestRatio = 1000.0;  // ratio reported for a feed of exactly 0
constexpr double kMaxRatio = 1.0;

// Set once the smoother has been initialised.
uint8_t vibrateInitFlag;

// Range checks written so that NaN fails.
bool within(double value, double lo, double hi) noexcept { return value >= lo && value <= hi; }

}  // namespace

extern "C" {

// ---- Settings -------------------------------------------------------------------------------

int32_t qmcgravityTeachVersionOnOff(uint8_t version) {
    if (version > kFullDynamics) {
        return -1;
    }
    const uint32_t code = mcb.robotModelCode;
    if (version == kGravityTest && kxmc::lookup_band(kNoGravityTestLaw, code, false)) {
        mcb.newTeachEnable = kFullDynamics;
        return -1;
    }
    if (version == kGravityOnly && kxmc::lookup_band(kNoGravityModel, code, false)) {
        mcb.newTeachEnable = kFullDynamics;
        return -1;
    }
    mcb.newTeachEnable = version;

    for (int j = 0; j < kJoints; ++j) {
        const bool armJoint = (j == 1 || j == 2);
        mcb.newTeachGain[j] =
            mcb.newTeachGainBase[j] * (armJoint ? kTeachGainFactorArm : kTeachGainFactor);
        mcb.newTeachGainKf[j] = kTeachGainKf;
    }

    persist_user_key(kTestSection, "NEW_TEACH_ENABLE", mcb.newTeachEnable);
    for (int j = 0; j < kJoints; ++j) {
        persist_user_key(kTestSection, kTeachGainKeys[j], mcb.newTeachGain[j]);
    }
    for (int j = 0; j < kJoints; ++j) {
        persist_user_key(kTestSection, kTeachGainKfKeys[j], mcb.newTeachGainKf[j]);
    }
    return 0;
}

int32_t qmcSetPowerLimit(uint8_t flag, double limit) {
    // Any limit is taken except NaN, which would silently disable the trip.
    if (flag > 1 || std::isnan(limit)) {
        return -1;
    }
    mcb.powerFlag = flag;
    mcb.powerLimit = limit;
    persist_user_param("POWER_FLAG", flag);
    persist_user_param("POWER_LIMIT", limit);
    return 0;
}

int32_t qmcFrictionCompensationOnOff(uint8_t on) {
    if (on > 1) {
        return -1;
    }
    mcb.frictionCompOn = on;
    persist_user_param("FRIC_COMPENSATION", on);
    return 0;
}

int32_t qmcSetFrictionValue_free(const float gains[6]) {
    if (gains == nullptr) {
        return -1;
    }
    const int joints = kxmc::clamp_joints(mpb.jointNum);
    for (int j = 0; j < joints; ++j) {
        if (!within(gains[j], kMinFrictionGain, kMaxFrictionGain)) {
            return -1;
        }
    }
    for (int j = 0; j < kJoints; ++j) {
        mpb.frictionGain[j] = gains[j];
    }
    for (int j = 0; j < kJoints; ++j) {
        persist_user_param(kFrictionFreeKeys[j], mpb.frictionGain[j]);
    }
    return 0;
}

int32_t qmcSetJointFrictionGain(const double forDead[6], const double revDead[6],
                                const double forFast[6], const double revFast[6]) {
    if (frictionGainInitFlag == 0) {
        frictionGainInitFlag = 1;
        for (int g = 0; g < kLawGains; ++g) {
            double *field = law_gain_field(g);
            for (int j = 0; j < kJoints; ++j) {
                field[j] = 1.0;
            }
        }
    }
    const double *const in[kLawGains] = {forDead, revDead, forFast, revFast};
    for (const double *values : in) {
        if (values == nullptr) {
            return -1;
        }
    }
    for (int j = 0; j < kJoints; ++j) {
        for (int g = 0; g < kLawGains; ++g) {
            if (!within(in[g][j], kMinLawGain, kMaxLawGain)) {
                return -1;
            }
        }
    }
    for (int j = 0; j < kJoints; ++j) {
        for (int g = 0; g < kLawGains; ++g) {
            law_gain_field(g)[j] = in[g][j];
        }
    }
    for (int j = 0; j < kJoints; ++j) {
        for (int g = 0; g < kLawGains; ++g) {
            persist_user_param(kLawGainKeys[j][g], in[g][j]);
        }
    }
    return 0;
}

int32_t qmcSetJointStiffnessType(uint32_t type) {
    if (type > 1) {
        return -1;
    }
    mcb.fricJointStiffnessType = type;
    persist_user_param("FRIC_JOINTSTIFFNESSTYPE", type);
    return 0;
}

int32_t qmcSetInterfereDrag(uint8_t mode) {
    if (mode > 2) {
        return -1;
    }
    // Holding the arm in a zone and the drag lock both fix the TCP: only one may be active.
    if (mode == kInterfereHold && mcb.dragLockOn == 1) {
        return -2;
    }
    mcb.interfereDragMode = mode;
    persist_user_key(kInterfereSection, "INTERFERE_DRAG", mode);
    return 0;
}

int32_t qmcDragLockEnableDisable(uint8_t on) {
    if (on > 1) {
        return -1;
    }
    if (on == 1 && mcb.interfereDragMode == kInterfereHold) {
        return -2;
    }
    mcb.dragLockOn = on;
    persist_user_key(kDragLockSection, "DRAGLOCK_ENABLE", on);
    return 0;
}

int32_t qmcSetDragLockPara(double p[6], double i[6], double d[6]) {
    double *const in[kPidTerms] = {p, i, d};
    for (const double *values : in) {
        if (values == nullptr) {
            return -1;
        }
    }
    // Each gain is stored as soon as it passes; the first failing one is clipped to the upper
    // limit in the caller's array so the caller sees which value was refused.
    for (int axis = 0; axis < kJoints; ++axis) {
        for (int term = 0; term < kPidTerms; ++term) {
            double &value = in[term][axis];
            if (!within(value, 0.0, kMaxDragLockGain)) {
                value = kMaxDragLockGain;
                return -1;
            }
            drag_lock_field(term)[axis] = value;
        }
    }
    for (int axis = 0; axis < kJoints; ++axis) {
        for (int term = 0; term < kPidTerms; ++term) {
            persist_user_key(kDragLockSection, kDragLockKeys[axis][term],
                             drag_lock_field(term)[axis]);
        }
    }
    return 0;
}

// ---- Per-cycle services ---------------------------------------------------------------------

int32_t qmcPowerReal(const double tau[6], double *power) {
    static_cast<void>(tau);
    float rated[kJoints] = {};  // [N m] motor side
    static_cast<void>(kxmcJointDefaultTorque(rated));

    double sample = 0.0;  // [W]
    for (int j = 0; j < kJoints; ++j) {
        const double torque = how.jointCurrent[j] * 0.001 * rated[j] * kMeasuredGear;  // [N m]
        const double speed = mpb.actualJointVel[j] * 1000.0 * kPi / 180.0;             // [rad/s]
        sample += std::fabs(torque * speed);
    }

    // The count is shared with the torque control; never trust it as an index unchecked.
    int32_t count = powerCount < 0 ? 0 : (powerCount > kxmc::kPowerWindow ? kxmc::kPowerWindow
                                                                            : powerCount);
    double mean = 0.0;
    if (count < kxmc::kPowerWindow) {
        powerIntegral[count] = saturate_to_float(sample);
        ++count;
    } else {
        // Full window: the oldest sample drops out and the newest takes the last slot, so the
        // mean covers exactly the 100 most recent cycles.
        for (int s = 0; s + 1 < kxmc::kPowerWindow; ++s) {
            powerIntegral[s] = powerIntegral[s + 1];
        }
        powerIntegral[kxmc::kPowerWindow - 1] = saturate_to_float(sample);
        double sum = 0.0;
        for (float slot : powerIntegral) {
            sum += slot;
        }
        mean = sum / kxmc::kPowerWindow;
    }
    powerCount = count;
    if (power != nullptr) {
        *power = mean;
    }
    return 0;
}

int32_t kxmcVibrateAbateControl(float out[6]) {
    if (vibrateInitFlag == 0) {
        vibrateInitFlag = 1;
        static_cast<void>(init_lowpassfilter(&lowpassfilter, kSmootherA, kSmootherB));
    }
    float maxAcc[kJoints] = {};  // [deg/s^2]
    static_cast<void>(JointMaxAcc(maxAcc));
    float smoothed[kJoints] = {};  // [deg/cycle^2]
    static_cast<void>(lowpassfilterMain(&lowpassfilter, mpb.feedJointAcc, smoothed));

    int32_t flags[kJoints] = {};
    for (int j = 0; j < kJoints; ++j) {
        const double acc = static_cast<double>(smoothed[j]) * 1000.0 * 1000.0;  // [deg/s^2]
        double ratio = kAtRestRatio;
        if (acc != 0.0) {
            const double limit = mcb.speedRatioA * maxAcc[j];  // [deg/s^2]
            // A speed ratio that is zero, negative or not a number gives no usable limit:
            // report the acceleration as saturated.
            ratio = limit > 0.0 ? acc / limit * 1000.0 : kMaxRatio;
            if (ratio > kMaxRatio) {
                ratio = kMaxRatio;
            }
        }
        const float reported = saturate_to_float(ratio);
        if (out != nullptr) {
            out[j] = reported;
        }
        flags[j] = kxmc::trunc_to<int32_t>(reported) != 0 ? 1 : 0;
    }
    static_cast<void>(kxHalSetVarGainFactor(flags));
    return 0;
}

int32_t kxmcdynfiltresert(void) {
    // A running excitation identification keeps its sample history (filt1) and the teach
    // filter and lock reference it runs beside.
    if (solveX.active == 0) {
        filt = FilterHistory{};
        filt1 = FilterHistory{};
        cpd = kxmc::DragLockReference{};
    }
    if (mcb.newTeachEnable == kFullDynamics) {
        filt2 = FilterHistory{};
        filt3 = FilterHistory{};
        filt4 = FilterHistory{};
    }
    return 0;
}

}  // extern "C"
