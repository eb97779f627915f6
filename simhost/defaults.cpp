// The host's records and the defaults of a freshly configured arm, all stated here.
//
// Start-up: every field of mcb, mpb and how is zeroed, the defaults below are filled in for
// the model code, then the saved settings of both configuration files replace what they hold.
#include <cstring>

#include "numerics/model_bands.hpp"
#include "simhost_internal.hpp"

extern "C" {
MotionControlBlock mcb;
MotionParamBlock mpb;
HardwareOutWord how;
}

namespace kxsim {
namespace detail {

namespace {

// ---- Motors ------------------------------------------------------------------------------
// Rated motor-side torque per motor size [N m].
constexpr float kRatedTorque14 = 0.32f;
constexpr float kRatedTorque17 = 0.64f;
constexpr float kRatedTorque25 = 1.27f;
constexpr float kRatedTorque32 = 2.39f;
constexpr float kRatedTorque40 = 3.82f;

// ---- Per model family ---------------------------------------------------------------------
// Motor size of each joint, joint speed limits [deg/s] and the torque model at start (gravity
// only where the library supports it, full dynamics for the families it does not).
constexpr ModelDefaults kDefaultModel{{25, 25, 25, 14, 14, 14}, {180, 180, 180, 180, 180, 180}, 0};
constexpr ModelDefaults kSize17{{17, 17, 17, 14, 14, 14}, {180, 180, 180, 180, 180, 180}, 0};
constexpr ModelDefaults kSize32{{32, 32, 25, 17, 17, 17}, {120, 120, 180, 180, 180, 180}, 0};
constexpr ModelDefaults kSize40{{40, 40, 32, 25, 25, 25}, {120, 120, 120, 180, 180, 180}, 0};
constexpr ModelDefaults kTz{{17, 17, 14, 14, 14, 14}, {180, 180, 180, 180, 180, 180}, 0};

constexpr kxmc::Band<ModelDefaults> kModels[] = {
    {1, 100, kSize17},                                                               // 3 kg
    {201, 400, kSize32},                                                             // 10, 16 kg
    {401, 500, kSize40},                                                             // fifth family
    {501, 600, {{14, 14, 14, 14, 14, 14}, {180, 180, 180, 180, 180, 180}, 2}},
    {601, 700, {{25, 25, 25, 14, 14, 14}, {180, 180, 180, 180, 180, 180}, 2}},
    {701, 701, kTz},
    {702, 703, kSize17},
    {704, 800, kTz},
    {801, 900, {{17, 17, 14, 14, 14, 14}, {180, 180, 180, 180, 180, 180}, 2}},   // TZ
    {901, 901, kSize17},
    {902, 902, {{32, 32, 25, 17, 17, 17}, {180, 180, 180, 180, 180, 180}, 0}},   // PX
    {1001, 1100, kSize40},
};

// ---- Collision detection ------------------------------------------------------------------
constexpr double kCollisionThresholdShare = 0.2;  // level-1 threshold, fraction of rated torque
constexpr int32_t kCollisionCountLimit = 5;       // [cycles]
constexpr double kCollisionCurveRef = 1440.0;     // allowance curve reference
constexpr uint32_t kCollisionSafeTime = 500;      // [cycles] after-collision drag
constexpr uint32_t kCollisionSafeDistance = 50;   // [mm]
constexpr uint32_t kCollisionSafeSpeed = 100;     // [mm/s]
constexpr int32_t kCollisionSafeMargin = 5;       // rebound decay, 1..10

// ---- Torque model and hand guiding ---------------------------------------------------------
constexpr float kFrictionGain = 0.5f;            // compensated share of the modelled friction
constexpr double kFrictionSpeedGain = 1.0;       // dead/fast, forward/reverse gains
constexpr double kTeachGainBase = 1.0;
constexpr double kTeachGainFactor = 1.43;        // gravity-test gain = base x factor ...
constexpr double kTeachGainFactorArm = 1.23;     // ... joints 2 and 3
constexpr double kPowerLimit = 80.0;             // [W] drag power limit
constexpr double kDragMaxTcpVel = 250.0;         // [mm/s]
constexpr double kDragMaxTcpOriVel = 90.0;       // [deg/s]
constexpr double kEndDragInertia[6] = {10, 10, 10, 0.5, 0.5, 0.5};     // [kg], [kg m^2]
constexpr double kEndDragDamp[6] = {150, 150, 150, 5, 5, 5};           // [N s/m], [N m s/rad]
constexpr double kEndDragThreshold[6] = {3, 3, 3, 0.3, 0.3, 0.3};      // [N], [N m]
constexpr double kEndDragFMax = 100.0;           // [N] per component
constexpr double kEndDragVMax = 90.0;            // [deg/s]
constexpr double kConstForceMaxOffset = 50.0;    // [mm]
constexpr double kConstForceMaxRotOffset = 10.0; // [deg]
constexpr double kConstForceRefLength = 100.0;   // [mm]
constexpr int32_t kLoadIdentifyTime = 200;       // [cycles]
constexpr int32_t kTorqueRecordCountLimit = 500; // out-of-band samples

// ---- Motion ---------------------------------------------------------------------------------
// Ready pose of the standard arm: upper arm up, forearm forward, flange pointing down.
constexpr double kHomeJoints[6] = {0, -90, 90, -90, -90, 0};  // [deg]
constexpr double kLinearMaxVel = 1000.0;                     // [mm/s]

}  // namespace

const ModelDefaults &model_defaults(uint32_t model_code) {
    return kxmc::lookup_band(kModels, model_code, kDefaultModel);
}

float rated_torque_of_size(uint8_t size) {
    switch (size) {
        case 14: return kRatedTorque14;
        case 17: return kRatedTorque17;
        case 25: return kRatedTorque25;
        case 32: return kRatedTorque32;
        case 40: return kRatedTorque40;
        default: return 0.0f;
    }
}

}  // namespace detail

void load_defaults(uint32_t model_code) {
    using namespace detail;
    // Zeroed in place as the C host does: a value-initialised temporary of these records would
    // be hundreds of kilobytes on the stack. Every target's float zero is all-zero bits.
    // cppcheck-suppress memsetClassFloat
    std::memset(&mcb, 0, sizeof mcb);
    // cppcheck-suppress memsetClassFloat
    std::memset(&mpb, 0, sizeof mpb);
    std::memset(&how, 0, sizeof how);
    const ModelDefaults &m = model_defaults(model_code);

    mcb.robotModelCode = model_code;
    mcb.collisionErrorCode = KXMC_COLLISION_NONE;
    mcb.newTeachEnable = m.teach_mode;
    mcb.frictionCompOn = 1;
    mcb.powerLimit = kPowerLimit;
    mcb.speedRatioA = 1.0;
    mcb.speedRatioB = 1.0;
    mcb.collisionPauseFlag = 0;
    mcb.collisionCheckMode = 0;
    mcb.collisionSafeTime = kCollisionSafeTime;
    mcb.collisionSafeDistance = kCollisionSafeDistance;
    mcb.collisionSafeSpeed = kCollisionSafeSpeed;
    mcb.dragMaxTcpVel = kDragMaxTcpVel;
    mcb.dragMaxTcpOriVel = kDragMaxTcpOriVel;
    mcb.endDragFMax = kEndDragFMax;
    mcb.endDragVMax = kEndDragVMax;
    mcb.constForceMaxOffset = kConstForceMaxOffset;
    mcb.constForceMaxRotOffset = kConstForceMaxRotOffset;
    mcb.constForceRefLength = kConstForceRefLength;
    mcb.loadIdentifyTime = kLoadIdentifyTime;
    for (int j = 0; j < 6; ++j) {
        mcb.newTeachGainBase[j] = kTeachGainBase;
        mcb.newTeachGain[j] =
            kTeachGainBase * ((j == 1 || j == 2) ? kTeachGainFactorArm : kTeachGainFactor);
        mcb.newTeachGainKf[j] = 1.0;
        mcb.newTeachGainKfDrag[j] = 1.0;
        mcb.collisionSafeMargin[j] = kCollisionSafeMargin;
        mcb.torqueRecordCountLimit[j] = kTorqueRecordCountLimit;
        mcb.endDragInertia[j] = kEndDragInertia[j];
        mcb.endDragDamp[j] = kEndDragDamp[j];
        mcb.endDragForceThreshold[j] = kEndDragThreshold[j];
    }

    mpb.robotState = 1;
    mpb.jointNum = 6;
    mpb.ratedTorque14 = kRatedTorque14;
    mpb.ratedTorque17 = kRatedTorque17;
    mpb.ratedTorque25 = kRatedTorque25;
    mpb.ratedTorque32 = kRatedTorque32;
    mpb.ratedTorque40 = kRatedTorque40;
    mpb.collisionCountLimit = kCollisionCountLimit;
    mpb.collisionCurveRef = kCollisionCurveRef;
    mpb.linearMaxVel = kLinearMaxVel;
    for (int j = 0; j < 6; ++j) {
        mpb.jointPos[j] = kHomeJoints[j];
        mpb.prevJointPos[j] = kHomeJoints[j];
        mpb.targetJointPos[j] = kHomeJoints[j];
        mpb.cmdJointPos[j] = kHomeJoints[j];
        mpb.jointMaxSpeed[j] = m.max_speed[j];
        mpb.torqueCmdGain[j] = 1.0;
        mpb.frictionGain[j] = kFrictionGain;
        mpb.fricForDeadGain[j] = kFrictionSpeedGain;
        mpb.fricRevDeadGain[j] = kFrictionSpeedGain;
        mpb.fricForFastGain[j] = kFrictionSpeedGain;
        mpb.fricRevFastGain[j] = kFrictionSpeedGain;
        mpb.collisionLevel[j] = 1.0f;
        mpb.collisionLevelSaved[j] = 1.0f;
        const double threshold = kCollisionThresholdShare * rated_torque_of_size(m.motor_size[j]);
        mpb.collisionThreshold[j] = threshold;
        mpb.collisionThrDisplay[j] = threshold;
    }
    mpb.toolTrsf = identity_trsf();
    mpb.flangePose = flange_transform(kHomeJoints);
    mpb.cartPoseActual = mpb.flangePose;
    mpb.cmdCartPose = tool_transform(kHomeJoints);
    trsf_to_pose(mpb.cmdCartPose, mpb.tcpPos);
}

void startup(uint32_t model_code) {
    load_defaults(model_code);
    load_saved_settings();
    detail::reset_services();
    clear_journal();
    clear_log();
}

}  // namespace kxsim
