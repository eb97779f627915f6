// Drive-side joint model identification: commands reach the hardware layer, the live value and
// the status read it back for the selected joint.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"

namespace {

class JointModel : public kxsim_test::HostFixture {};

// Each switch and type command reaches the drives and is stored; the live value is the selected
// joint's, scaled unless the type is 1.
TEST_F(JointModel, CommandsReachTheDrivesAndTheLiveValueIsTheSelectedJoints) {
    const int32_t raw[6] = {1000000, 2000000, -3000000, 4000000, 5, 6000000};
    kxsim::set_joint_identification_data(raw);
    kxmcSingleJointModelOnlineOnOff(2, 1);
    float value = -1;
    // The first read starts at joint 1, whatever was switched before.
    EXPECT_EQ(kxmcGetJointModelDataOnline(&value), 0);
    EXPECT_EQ(singleJointIdentify.modelJoint, 1);
    EXPECT_FLOAT_EQ(value, 1.0f);
    struct Case {
        uint8_t joint;
        uint16_t on, type;
        float want;
    } cases[] = {{2, 1, 0, 2.0f},       {2, 0, 1, 2000000.0f}, {3, 1, 2, -3.0f}, {5, 1, 0, 5e-6f},
                 {6, 0, 1, 6000000.0f}, {0, 1, 0, 0.0f},       {7, 1, 1, 0.0f}};  // 0, 7: no joint
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.joint) << " on " << c.on << " type " << c.type);
        kxsim::clear_journal();
        EXPECT_EQ(kxmcSingleJointModelOnlineOnOff(c.joint, c.on), 0);
        EXPECT_EQ(kxmcSetJointModelType(c.type), 0);
        EXPECT_EQ(kxsim::action_names(), (std::vector<std::string>{"kxHalSetJointIdentifyEnable",
                                                                   "kxHalSetJointIdentifyType"}));
        EXPECT_EQ(kxsim::calls("kxHalSetJointIdentifyEnable")[0].args,
                  (std::vector<double>{double(c.joint), double(c.on)}));
        EXPECT_EQ(kxsim::calls("kxHalSetJointIdentifyType")[0].args,
                  std::vector<double>{double(c.type)});
        EXPECT_EQ(singleJointIdentify.modelJoint, c.joint);
        EXPECT_EQ(singleJointIdentify.modelEnable, c.on);
        EXPECT_EQ(singleJointIdentify.modelType, c.type);
        EXPECT_EQ(kxmcGetJointModelDataOnline(&value), 0);
        EXPECT_FLOAT_EQ(value, c.want);
    }
    EXPECT_EQ(kxmcGetJointModelDataOnline(nullptr), 0);
}

TEST_F(JointModel, StatusFlagsAValueAboveTwiceItsReference) {
    struct Case {
        uint32_t code;
        uint8_t joint;
        int32_t a, b, c;
        uint16_t status;
        float ref[3];
    } cases[] = {
        {250, 2, 1, 0, 0, 1, {0, 0, 0}},  // other arms have no references
        {250, 2, 0, -5, 0, 0, {0, 0, 0}},
        {50, 3, 16000, 2500000, 30, 1, {16700, 1.22501e+06f, 31}},
        {50, 3, 16000, 2000000, 30, 0, {16700, 1.22501e+06f, 31}},
        {1, 6, 15600, 674, 21, 0, {7800, 337.43f, 10.638f}},
        {100, 6, 15601, 0, 0, 1, {7800, 337.43f, 10.638f}},
        {100, 1, 0, 0, 63, 1, {16700, 2367, 31}},
        {1, 1, 0, 4734, 62, 0, {16700, 2367, 31}},  // exactly twice is still in order
        {2, 2, 33401, 0, 0, 1, {16700, 7792, 31}},
        {3, 4, 0, 0, 0, 0, {7800, 1024, 10.638f}},
        {4, 5, 0, 0, 0, 0, {7800, 1.0251e+05f, 10.638f}},
        {101, 4, 1, 0, 0, 1, {0, 0, 0}},
        {100, 9, 5, 0, 0, 1, {0, 0, 0}},  // no such joint: no reference
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.code << " joint " << int(c.joint));
        restart(c.code);
        kxmcSingleJointModelOnlineOnOff(c.joint, 1);
        kxsim::set_single_joint_identify(c.a, c.b, c.c);
        kxsim::clear_journal();
        uint16_t status = 7;
        float ident[3], ref[3], diff[3];
        EXPECT_EQ(kxmcGetJointModelStatus(&status, ident, ref, diff), 0);
        EXPECT_EQ(status, c.status);
        const float want_ident[3] = {float(c.a), float(c.b), float(c.c)};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(ident[k], want_ident[k]);
            EXPECT_EQ(ref[k], c.ref[k]);
            EXPECT_EQ(diff[k], c.ref[k] - want_ident[k]);
        }
        EXPECT_EQ(kxsim::calls("kxHalGetSingleJointIdentify")[0].args,
                  std::vector<double>{double(c.joint)});
    }
    EXPECT_EQ(kxmcGetJointModelStatus(nullptr, nullptr, nullptr, nullptr), 0);
}

// Drives that do not answer leave both reads at zero, never at whatever the storage held; on an
// arm without references any value above zero would fail the joint.
TEST_F(JointModel, DrivesThatDoNotAnswerReadAsZero) {
    restart(250);
    kxsim::set_single_joint_identify(5, 5, 5);
    const int32_t raw[6] = {7, 7, 7, 7, 7, 7};
    kxsim::set_joint_identification_data(raw);
    kxsim::set_joint_identify_answers(false);
    kxmcSetJointModelType(1);
    uint16_t status = 7;
    float ident[3], value = -1;
    EXPECT_EQ(kxmcGetJointModelStatus(&status, ident, nullptr, nullptr), 0);
    EXPECT_EQ(status, 0);
    for (float v : ident) EXPECT_EQ(v, 0.0f);
    for (uint8_t joint = 1; joint <= 6; ++joint) {
        kxmcSingleJointModelOnlineOnOff(joint, 1);
        EXPECT_EQ(kxmcGetJointModelDataOnline(&value), 0);
        EXPECT_EQ(value, 0.0f) << int(joint);
    }
}

}  // namespace
