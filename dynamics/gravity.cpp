// Rated motor torques by motor size and the gravity torque of the four mountings.
#include <cstdint>

#include "dynamics/arm_parameters.hpp"
#include "dynamics/installation_gravity.hpp"
#include "dynamics/motor_size.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_gravity.h"
#include "numerics/model_bands.hpp"

namespace {

using kxmc::MotorSize;
using kxmc::S14;
using kxmc::S17;
using kxmc::S25;
using kxmc::S32;
using kxmc::S40;

using kxmc::Band;

// ---- Motor sizes -----------------------------------------------------------------------------

struct JointSizes {
    MotorSize joint[6];
};

constexpr JointSizes kSizes5kg = {{S25, S25, S25, S14, S14, S14}};
constexpr JointSizes kSizes3kg = {{S17, S17, S17, S14, S14, S14}};
constexpr JointSizes kSizes10kg = {{S32, S32, S25, S17, S17, S17}};
constexpr JointSizes kSizes40 = {{S40, S40, S32, S25, S25, S25}};
constexpr JointSizes kSizesAll14 = {{S14, S14, S14, S14, S14, S14}};
constexpr JointSizes kSizesLight = {{S17, S17, S14, S14, S14, S14}};

// Motor size of each joint by model code; 0, 101-200, 601-700 and codes in no band: 5-kg arm.
constexpr Band<JointSizes> kMotorSizes[] = {
    {1, 100, kSizes3kg},     {201, 400, kSizes10kg},  {401, 500, kSizes40},
    {501, 600, kSizesAll14}, {701, 701, kSizesLight}, {702, 703, kSizes3kg},
    {704, 900, kSizesLight}, {901, 901, kSizes3kg},   {902, 902, kSizes10kg},
    {1001, 1100, kSizes40},
};

float rated_torque_of(MotorSize s) noexcept {
    switch (s) {
        case MotorSize::k14: return mpb.ratedTorque14;
        case MotorSize::k17: return mpb.ratedTorque17;
        case MotorSize::k25: return mpb.ratedTorque25;
        case MotorSize::k32: return mpb.ratedTorque32;
        case MotorSize::k40: return mpb.ratedTorque40;
    }
    return 0.0f;
}

// ---- Gravity routine by model code -------------------------------------------------------------

enum class GravityRoute : uint8_t {
    kHost,      // host routine of the mounting (floor, wall, ceiling); any angle: own model
    kAnyAngle,  // the library's any-angle model for every mounting
    kNone,      // no gravity model: the output is left as it was
};

struct GravityRow {
    GravityRoute route;
    int32_t host_code;  // model code handed to the host routine
};

constexpr GravityRow host(int32_t code) { return {GravityRoute::kHost, code}; }
constexpr GravityRow kAnyAngle = {GravityRoute::kAnyAngle, 0};
constexpr GravityRow kNoModel = {GravityRoute::kNone, 0};

// Single codes before the bands that hold them; codes in no band: the 5-kg arm (101).
constexpr Band<GravityRow> kGravityRoutes[] = {
    {0, 0, host(101)},       {1, 1, host(1)},         {2, 2, host(2)},
    {3, 3, kAnyAngle},       {4, 100, host(1)},       {101, 101, host(101)},
    {102, 102, host(102)},   {103, 103, kAnyAngle},   {104, 200, host(101)},
    {201, 201, host(201)},   {202, 202, host(202)},   {203, 300, host(201)},
    {301, 301, host(301)},   {302, 302, host(302)},   {303, 400, host(301)},
    {401, 401, host(401)},   {402, 402, host(402)},   {403, 500, host(401)},
    {501, 700, kNoModel},    {801, 900, kNoModel},    {701, 800, kAnyAngle},
    {1001, 1100, kAnyAngle},
};
constexpr GravityRow kDefaultRoute = host(101);

constexpr uint8_t kFloor = 0;
constexpr uint8_t kWall = 1;
constexpr uint8_t kCeiling = 2;
constexpr uint8_t kAnyMounting = 3;

// Model code 3 is assembled with joints 1, 2, 4 and 6 turned half a revolution.
constexpr uint32_t kTurnedModel = 3;
constexpr bool kTurnedJoint[6] = {true, true, false, true, false, true};
constexpr double kTurnedOffset = -180.0;  // [deg]

}  // namespace

extern "C" {

int32_t kxmcJointDefaultTorque(float out[6]) {
    if (out == nullptr) {
        return 0;
    }
    const JointSizes &sizes = kxmc::lookup_band(kMotorSizes, mcb.robotModelCode, kSizes5kg);
    for (int i = 0; i < 6; ++i) {
        out[i] = rated_torque_of(sizes.joint[i]);
    }
    return 0;
}

int32_t kxmcGravityTorque(const double jointPos[6], const double load[4], double out[6]) {
    if (jointPos == nullptr || load == nullptr || out == nullptr) {
        return 0;
    }
    double gravity[3];
    kxmc::installation_gravity(mcb.installTilt, mcb.installRot, gravity);

    const double payload[10] = {load[3], load[0], load[1], load[2], 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};

    double joints[6];
    const bool turned = mcb.robotModelCode == kTurnedModel;
    for (int i = 0; i < 6; ++i) {
        joints[i] = jointPos[i] + ((turned && kTurnedJoint[i]) ? kTurnedOffset : 0.0);
    }

    const kxmc::StandardArmParameters &set = kxmc::standard_arm_parameters(mcb.robotModelCode);
    double lengths[6];
    double masses[6];
    double centres[18];
    for (int i = 0; i < 6; ++i) {
        lengths[i] = static_cast<double>(set.lengths[i]);
        masses[i] = static_cast<double>(set.masses[i]);
    }
    for (int i = 0; i < 18; ++i) {
        centres[i] = static_cast<double>(set.centres[i]);
    }
    return kxmcInvGravity(lengths, masses, centres, payload, gravity, joints, out);
}

int32_t kxmcNewGravityTorque(const double jointPos[6], const double load[4], double out[6]) {
    if (jointPos == nullptr || load == nullptr || out == nullptr) {
        return 0;
    }
    const GravityRow &row = kxmc::lookup_band(kGravityRoutes, mcb.robotModelCode, kDefaultRoute);
    const uint8_t mounting = mcb.installPos;
    if (row.route == GravityRoute::kNone || mounting > kAnyMounting) {
        return 0;
    }
    if (row.route == GravityRoute::kAnyAngle || mounting == kAnyMounting) {
        return kxmcGravityTorque(jointPos, load, out);
    }
    switch (mounting) {
        case kFloor: qmcDynComGravityExload(jointPos, load, out, row.host_code); break;
        case kWall: qmcDynComGravityExloadWall(jointPos, load, out, row.host_code); break;
        case kCeiling: qmcDynComGravityExloadCeiling(jointPos, load, out, row.host_code); break;
        default: break;
    }
    return 0;
}

}  // extern "C"
