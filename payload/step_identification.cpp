// Step-driven payload identification from joint torques.
//
// The host drives the arm through its identification sequence and passes the running step in
// mpb.cmdId. Each servo cycle the residual of a joint (measured torque minus the torque the arm
// needs without payload) goes into a window of 1000 cycles; a full window becomes one sample.
// Steps 3-4 and 6-7 turn the mean residual of joints 5 and 3 into mass samples (their levers to
// the payload are fixed by the sequence's poses), steps 9-10 turn the residual of joint 6 into
// centre samples and remember the pose of the largest joint-6 torque; the robot stopping in
// step 9 or 10 forms the result.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_gravity.h"
#include "kxmc/kxmc_payload.h"
#include "numerics/model_bands.hpp"

namespace {

constexpr int32_t kRunning = 2;
constexpr int32_t kStopped = 1;

constexpr uint32_t kWindowCalls = 1000;  // calls that add to a window; the next one stores
constexpr int32_t kSamples = KXMC_LOAD_IDENTIFY_SAMPLES;

constexpr double kModelGear = 100.0;     // joint-side model torque to motor side
constexpr double kMeasuredGear = 101.0;  // motor-side measured torque to joint side
constexpr double kGravity = 9.8;         // [m/s^2]
constexpr double kPi = 3.14159265358979323846;

// Mean residual [N m] per kg of payload of the two mass steps: weight times the lever of the
// payload about joint 5 (0.102 m) and joint 3 (0.232 m) in the sequence's poses.
constexpr double kJoint5PerKg = 0.9996;
constexpr double kJoint3PerKg = 2.2736;

// Masses below 2.5 kg are corrected down by half a kilogram.
constexpr double kLightPayload = 2.5;      // [kg]
constexpr double kLightPayloadBias = 0.5;  // [kg]

// The averaging window the cycle counter belongs to.
enum class Window : uint8_t { kNone, kMassJoint5, kMassJoint3, kCentreJoint6 };

Window window_of_step(uint32_t step) noexcept {
    switch (step) {
        case 3:
        case 4:
            return Window::kMassJoint5;
        case 6:
        case 7:
            return Window::kMassJoint3;
        case 9:
        case 10:
            return Window::kCentreJoint6;
        default:
            return Window::kNone;
    }
}

// Window sums and the joint-6 extreme of steps 9-10.
double diffTorque5Sum;
double diffTorque3Sum;
double diffTorque6Sum;
double maxTorque;     // largest |measured joint-6 torque| seen [N m, motor side]
double diffTorqueXY;  // joint-6 residual at that moment [N m]
double j6ValueXY;     // joint-6 angle at that moment [deg]
Window activeWindow;  // window of the step that last counted

double &window_sum(Window w) noexcept {
    switch (w) {
        case Window::kMassJoint5:
            return diffTorque5Sum;
        case Window::kMassJoint3:
            return diffTorque3Sum;
        default:
            return diffTorque6Sum;
    }
}

// The identification record: one region from mcb.loadIdentifyOn up to the switch of the
// continuous identification, cleared as a whole.
void clear_record() noexcept {
    constexpr std::size_t kBegin = offsetof(MotionControlBlock, loadIdentifyOn);
    constexpr std::size_t kEnd = offsetof(MotionControlBlock, loadIdentifyDynOn);
    std::memset(reinterpret_cast<unsigned char *>(&mcb) + kBegin, 0, kEnd - kBegin);
}

// Samples held by an array whose count the host record carries (never beyond the array).
int32_t held(int32_t count) noexcept {
    return count < 0 ? 0 : (count > kSamples ? kSamples : count);
}

// Slot for the next sample, or -1 when the array is full: later windows are dropped.
int32_t next_slot(int32_t count) noexcept { return (count >= 0 && count < kSamples) ? count : -1; }

// One call of the running window: 1000 calls add the residual, the next hands the sum to
// `store` and starts the next window.
template <class Store>
void window_step(double residual, double &sum, Store store) noexcept {
    if (mcb.loadIdentifyCycle >= kWindowCalls) {
        store(sum);
        mcb.loadIdentifyCycle = 0;
        sum = 0.0;
    } else {
        sum += residual;
        ++mcb.loadIdentifyCycle;
    }
}

void mass_window(double residual, double &sum, double per_kg) noexcept {
    window_step(residual, sum, [per_kg](double full) {
        const int32_t slot = next_slot(mcb.loadIdentifyWeightCount);
        if (slot < 0) {
            return;
        }
        const double sample = full / kWindowCalls / per_kg;  // [kg]
        mcb.loadIdentifyWeightSamples[slot] = sample;
        Write_Log(2, "weightTotalNum %d weightTemp %f", slot, sample);
        mcb.loadIdentifyWeightCount = slot + 1;
    });
}

void centre_window(double residual) noexcept {
    window_step(residual, diffTorque6Sum, [](double full) {
        const double mass = mcb.loadIdentifyWeight;
        const int32_t slot = next_slot(mcb.loadIdentifyCoordCount);
        if (!(mass > 0.0) || slot < 0) {
            return;  // without a mass there is no lever to form
        }
        // The window's sum over 1000 cycles is 1000 times the mean: the lever comes out in mm.
        const double sample = full / (kGravity * mass);
        mcb.loadIdentifyCoordSamples[slot][2] = sample;
        Write_Log(2, "coordTotalNum %d coordTemp %f", slot, sample);
        mcb.loadIdentifyCoordCount = slot + 1;
    });
}

// Mass from the stored samples, once on entering the centre steps.
void form_mass() noexcept {
    const int32_t n = held(mcb.loadIdentifyWeightCount);
    double mass = 0.0;  // no sample: no mass
    if (n > 0) {
        double sum = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            sum += mcb.loadIdentifyWeightSamples[i];
        }
        mass = sum / n;
        if (mass < kLightPayload) {
            mass -= kLightPayloadBias;
        }
        if (mass < 0.0) {
            mass = 0.0;
        }
    }
    mcb.loadIdentifyWeight = mass;
    mcb.loadIdentifyWeightDone = 1;
    mcb.loadIdentifyWeightCount = 0;
    mcb.loadIdentifyCycle = 0;
}

// Centre of mass once the robot stopped in the centre steps. z is the mean lever of the joint-6
// samples; the joint-6 residual at the largest joint-6 torque gives the radial offset, whose
// direction in the flange plane is the joint-6 angle at that moment.
void form_centre() noexcept {
    const double mass = mcb.loadIdentifyWeight;
    const int32_t n = held(mcb.loadIdentifyCoordCount);
    double z = 0.0;
    if (n > 0) {
        double sum = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            sum += mcb.loadIdentifyCoordSamples[i][2];
        }
        z = sum / n;
    }
    double radius = 0.0;  // [mm]
    if (mass > 0.0) {
        radius = z - 1000.0 * diffTorqueXY / (kGravity * mass);
    }
    const double angle = j6ValueXY * kPi / 180.0;  // the host's joint angles are degrees
    mcb.loadIdentifyCoord[0] = std::sin(angle) * radius;
    mcb.loadIdentifyCoord[1] = std::cos(angle) * radius;
    mcb.loadIdentifyCoord[2] = z;
    Write_Log(2, "diffTorqueXY %f", diffTorqueXY);
    Write_Log(2, "j6ValueXY %f", j6ValueXY);
    mcb.loadIdentifyCoordDone = 1;
    maxTorque = 0.0;
    diffTorqueXY = 0.0;
    j6ValueXY = 0.0;
}

}  // namespace

extern "C" {

int32_t qmcLoadIdentifyStartEnd(uint8_t on) {
    if (on > 1) {
        return -1;
    }
    clear_record();
    // A window left unfinished by an abort must not leak into the next run.
    diffTorque5Sum = diffTorque3Sum = diffTorque6Sum = 0.0;
    maxTorque = diffTorqueXY = j6ValueXY = 0.0;
    mcb.loadIdentifyOn = on;
    return 0;
}

int32_t kxmcLoadIdentifyControl(void) {
    if (mcb.loadIdentifyOn != 1) {
        return 0;
    }
    const int joints = kxmc::clamp_joints(mpb.jointNum);

    // Torque the arm needs without payload, joint side: gravity, plus friction when the cycle
    // compensates it.
    double model[KXMC_JOINTS] = {};
    const double no_payload[4] = {};
    kxmcNewGravityTorque(mpb.jointPos, no_payload, model);
    if (mcb.frictionCompOn == 1) {
        double friction[KXMC_JOINTS] = {};
        frictionCompensation(mpb.targetJointVel, friction);
        for (int i = 0; i < KXMC_JOINTS; ++i) {
            model[i] += friction[i];
        }
    }
    float rated[KXMC_JOINTS] = {};
    kxmcJointDefaultTorque(rated);

    double measured[KXMC_JOINTS] = {};  // [N m, motor side]
    double residual[KXMC_JOINTS] = {};  // [N m, joint side]
    for (int i = 0; i < joints; ++i) {
        measured[i] = how.jointCurrent[i] * 0.001 * static_cast<double>(rated[i]);
        residual[i] = std::fabs(measured[i] - model[i] / kModelGear) * kMeasuredGear;
    }

    const Window window = window_of_step(mpb.cmdId);
    if (window == Window::kNone) {
        return 0;
    }
    // A new group of steps starts with a fresh window: the rest of the previous group's last
    // window belongs to other joints and poses.
    if (window != activeWindow) {
        activeWindow = window;
        mcb.loadIdentifyCycle = 0;
        window_sum(window) = 0.0;
    }

    const int32_t state = mpb.robotState;
    switch (window) {
        case Window::kMassJoint5:
            if (state == kRunning) {
                mass_window(residual[4], diffTorque5Sum, kJoint5PerKg);
            }
            break;
        case Window::kMassJoint3:
            if (state == kRunning) {
                mass_window(residual[2], diffTorque3Sum, kJoint3PerKg);
            }
            break;
        default:  // the centre steps
            if (mcb.loadIdentifyWeightDone == 0) {
                form_mass();
            }
            if (state == kRunning) {
                if (std::fabs(measured[5]) > maxTorque) {
                    maxTorque = std::fabs(measured[5]);
                    diffTorqueXY = residual[5];
                    j6ValueXY = mpb.jointPos[5];
                }
                centre_window(residual[5]);
            } else if (state == kStopped) {
                if (mcb.loadIdentifyCoordDone == 0) {
                    form_centre();
                }
                mcb.loadIdentifyWeightDone = 1;
                mcb.loadIdentifyCoordDone = 1;
                mcb.loadIdentifyFinished = 1;
                mcb.loadIdentifyOn = 0;
            }
            break;
    }
    return 0;
}

int32_t qmcGetLoadWeightCoord(uint8_t *finished, double *weight, double coord[3]) {
    if (finished != nullptr) {
        *finished = mcb.loadIdentifyFinished;
    }
    if (weight != nullptr) {
        *weight = mcb.loadIdentifyWeight;
    }
    if (coord != nullptr) {
        for (int i = 0; i < 3; ++i) {
            coord[i] = mcb.loadIdentifyCoord[i];
        }
    }
    return 0;
}

}  // extern "C"
