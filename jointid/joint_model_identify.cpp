// Joint model identification carried out by the drives: the library switches it, relays the
// live value and compares the identified model values with the arm model's references.
#include <cstdint>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_joint_friction_identify.h"
#include "kxmc/kxmc_joint_model.h"
#include "numerics/model_bands.hpp"

namespace {

constexpr int kJoints = 6;
constexpr float kRawScale = 1e-6f;  // drive value to model value, every type but 1
constexpr uint16_t kRawType = 1;    // the type whose value is used unscaled

// Reference model values per joint (three values each).
using JointReferences = float[kJoints][3];
constexpr JointReferences kSmallArm = {
    {16700.0f, 2367.0f, 31.0f},        {16700.0f, 7792.0f, 31.0f},
    {16700.0f, 1.22501e+06f, 31.0f},   {7800.0f, 1024.0f, 10.638f},
    {7800.0f, 1.0251e+05f, 10.638f},   {7800.0f, 337.43f, 10.638f},
};
constexpr kxmc::Band<const JointReferences *> kReferenceRows[] = {{1, 100, &kSmallArm}};

uint8_t firstRead = 1;  // the first live read starts at joint 1

bool valid_joint(uint8_t joint) { return joint >= 1 && joint <= kJoints; }

}  // namespace

extern "C" {

int32_t kxmcSetJointModelType(uint16_t type) {
    static_cast<void>(kxHalSetJointIdentifyType(type));
    singleJointIdentify.modelType = type;
    return 0;
}

int32_t kxmcSingleJointModelOnlineOnOff(uint8_t joint, uint16_t on) {
    singleJointIdentify.modelJoint = joint;
    singleJointIdentify.modelEnable = on;
    static_cast<void>(kxHalSetJointIdentifyEnable(joint, on));
    return 0;
}

int32_t kxmcGetJointModelDataOnline(float *value) {
    int32_t raw[kJoints] = {0, 0, 0, 0, 0, 0};
    static_cast<void>(kxHalGetJointIdentificationData(raw));
    if (firstRead == 1) {
        singleJointIdentify.modelJoint = 1;
        firstRead = 0;
    }
    const uint8_t joint = singleJointIdentify.modelJoint;
    if (value == nullptr) {
        return 0;
    }
    if (!valid_joint(joint)) {
        *value = 0.0f;
        return 0;
    }
    const float v = static_cast<float>(raw[joint - 1]);
    *value = singleJointIdentify.modelType == kRawType ? v : v * kRawScale;
    return 0;
}

int32_t kxmcGetJointModelStatus(uint16_t *status, float identified[3], float reference[3],
                                float difference[3]) {
    const uint8_t joint = singleJointIdentify.modelJoint;
    int32_t raw[3] = {0, 0, 0};
    static_cast<void>(kxHalGetSingleJointIdentify(joint, &raw[0], &raw[1], &raw[2]));
    const JointReferences *table =
        kxmc::lookup_band(kReferenceRows, mcb.robotModelCode, static_cast<const JointReferences *>(nullptr));
    float ident[3];
    float ref[3] = {0.0f, 0.0f, 0.0f};
    for (int k = 0; k < 3; ++k) {
        ident[k] = static_cast<float>(raw[k]);
        if (table != nullptr && valid_joint(joint)) {
            ref[k] = (*table)[joint - 1][k];
        }
        if (identified != nullptr) identified[k] = ident[k];
        if (reference != nullptr) reference[k] = ref[k];
        if (difference != nullptr) difference[k] = ref[k] - ident[k];
    }
    const bool fault = ident[2] > 2.0f * ref[2] || ident[1] > 2.0f * ref[1] ||
                       ident[0] > 2.0f * ref[0];
    if (status != nullptr) {
        *status = fault ? 1 : 0;
    }
    return 0;
}

}  // extern "C"
