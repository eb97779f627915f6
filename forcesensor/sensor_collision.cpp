// Collision detection on the wrist sensor's wrench and the reaction the host's collision
// settings select.
#include <cmath>
#include <cstring>

#include "forcesensor/sensor_state.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_sensor_collision.h"

namespace kxmc {
namespace sensor {
namespace {

constexpr int32_t kProgramRunning = 2;

enum class Halt : uint8_t { kNone, kPause, kStop };

// One row per reaction of mcb.collisionPauseFlag; the last row serves 6 and above.
struct Reaction {
    bool staysArmed;
    bool setsCode;
    uint32_t code;
    Halt halt;
    bool handGuiding;   // request the after-collision hand guiding and switch to it
    float guidingTime;  // [cycles]; negative: mcb.collisionSafeTime
    int logSite;        // site number of the hand-over log line
    bool tellsHost;     // doConfigHandle(1, 1), resetWeldControlPara()
};
constexpr float kSafeTime = -1.0f;
constexpr Reaction kReactions[] = {
    {true, true, KXMC_COLLISION_TCP, Halt::kPause, false, 0.0f, 0, true},
    {true, true, KXMC_COLLISION_JOINT1, Halt::kNone, false, 0.0f, 0, false},
    {false, true, KXMC_COLLISION_TCP, Halt::kStop, false, 0.0f, 0, true},
    {false, true, KXMC_COLLISION_TCP, Halt::kStop, true, 1000.0f, 10, true},
    {false, true, KXMC_COLLISION_TCP, Halt::kStop, true, 5000.0f, 11, true},
    {true, false, 0, Halt::kStop, true, kSafeTime, 12, true},
    {false, true, KXMC_COLLISION_TCP, Halt::kStop, false, 0.0f, 0, true},
};
constexpr uint8_t kLastReaction = sizeof kReactions / sizeof kReactions[0] - 1;

bool all_finite(const double *v) noexcept {
    for (int i = 0; i < kAxes; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

// A component outside its band; one that is not a number counts as outside (the sensor can no
// longer tell a collision, so the arm must not go on as if there were none).
bool out_of_band(int i) noexcept {
    const double w = mpb.forceSensorWrench[i];
    const double ref = mcb.sensorCollisionRef[i];
    return !(w <= ref + mcb.sensorCollisionUpper[i] && w >= ref - mcb.sensorCollisionLower[i]);
}

bool any_out_of_band() noexcept {
    for (int i = 0; i < kAxes; ++i) {
        if (mcb.sensorCollisionAxisSel[i] == 1 && out_of_band(i)) {
            return true;
        }
    }
    return false;
}

void react(const Reaction &r) noexcept {
    if (!r.staysArmed) {
        mcb.sensorCollisionOn = 0;
    }
    if (r.setsCode) {
        mcb.collisionErrorCode = r.code;
    }
    if (r.handGuiding) {
        mcb.tcpSpeedOverDragState = 1;
        mcb.tcpSpeedOverDragTime =
            r.guidingTime < 0.0f ? static_cast<float>(mcb.collisionSafeTime) : r.guidingTime;
    }
    const bool halt = mcb.collisionStopInhibit == 0 && mpb.robotState == kProgramRunning;
    if (halt && r.halt != Halt::kNone) {
        if (r.halt == Halt::kPause) {
            qmcPause();
        } else {
            qmcStop();
        }
        if (r.handGuiding) {
            qmcDragSwitch(1);
            log_drag_handover(r.logSite);
        }
    }
    if (r.tellsHost) {
        doConfigHandle(1, 1);
        resetWeldControlPara();
    }
}

}  // namespace
}  // namespace sensor
}  // namespace kxmc

using namespace kxmc::sensor;

extern "C" {

int32_t qmcCollisionStartStop(uint8_t on, int32_t frameIndex, const uint8_t axisSel[6],
                              const double ref[6], const double upper[6], const double lower[6],
                              uint32_t cmdId) {
    mpb.cmdId = cmdId;
    if (on > 1) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        return -1;
    }
    if (!workpiece_frame_valid(frameIndex) || axisSel == nullptr || ref == nullptr ||
        upper == nullptr || lower == nullptr || !all_finite(ref) || !all_finite(upper) ||
        !all_finite(lower)) {
        return -1;
    }
    if (!axis_selection_valid(axisSel)) {
        return -1;
    }
    if (mcb.forceSensorAct == 0) {
        return -2;
    }
    mcb.sensorCollisionOn = on;
    if (on == 1) {
        activate_workpiece_frame(frameIndex);
    }
    std::memcpy(mcb.sensorCollisionAxisSel, axisSel, sizeof mcb.sensorCollisionAxisSel);
    std::memcpy(mcb.sensorCollisionRef, ref, sizeof mcb.sensorCollisionRef);
    std::memcpy(mcb.sensorCollisionUpper, upper, sizeof mcb.sensorCollisionUpper);
    std::memcpy(mcb.sensorCollisionLower, lower, sizeof mcb.sensorCollisionLower);
    return 0;
}

int32_t collisionControl(void) {
    if (mcb.forceSensorAct != 1 || mcb.sensorCollisionOn != 1 || !any_out_of_band()) {
        return 0;
    }
    const uint8_t reaction =
        mcb.collisionPauseFlag < kLastReaction ? mcb.collisionPauseFlag : kLastReaction;
    react(kReactions[reaction]);
    return 0;
}

}  // extern "C"
