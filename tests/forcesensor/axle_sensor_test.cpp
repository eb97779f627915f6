// End-of-arm device bus: the ring of device words as producer and consumer see it, the status
// word, and the device declaration that switches the sensor processing.
#include <string>

#include <gtest/gtest.h>

#include "sensor_fixture.hpp"

namespace {

using AxleSensor = kxsim_test::HostFixture;

int32_t add(uint32_t a) {
    const AxleSensorElement e{{a, ~a}};
    return axleSensorDataAddToBuff(&e);
}

TEST_F(AxleSensor, RingHolds255AndReportsOverflowUntilEmptied) {
    EXPECT_EQ(qmcAxleSensorDataBuffFlag(1), 0);
    for (uint32_t i = 0; i < 255; ++i) ASSERT_EQ(add(i), 0);
    EXPECT_EQ(qmcAsqLength(), 255);
    EXPECT_EQ(qmcAsqIsFull(), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(qmcAsqAddToTail(1, 2), -1);
    add(999);  // the producer's add fails the same way, and still returns 0
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "The cmd queue is full!!!\nThe cmd queue is full!!!\n");
    AxleSensorElement e{};
    EXPECT_EQ(qmcGetAxleSensorData(&e), -1);  // overflow report: nothing taken
    EXPECT_EQ(qmcAsqLength(), 255);
    EXPECT_EQ(qmcAsqGetAtHead(&e), 0);  // the raw ring still serves, oldest first
    EXPECT_EQ(e.word[0], 0u);
    EXPECT_EQ(e.word[1], ~0u);
    EXPECT_EQ(qmcAsqClear(), 1);
    EXPECT_EQ(qmcAsqIsEmpty(), 1);
    EXPECT_EQ(qmcGetAxleSensorData(&e), -2);
}

TEST_F(AxleSensor, WrapsAroundInOrderAndDropsWhileBufferingIsOff) {
    qmcAxleSensorDataBuffFlag(1);
    AxleSensorElement e{};
    for (uint32_t i = 0; i < 250; ++i) {
        add(i);
        qmcGetAxleSensorData(&e);
    }
    for (uint32_t i = 0; i < 10; ++i) add(1000 + i);
    EXPECT_EQ(asq.head, 250);
    EXPECT_EQ(asq.tail, 4);
    EXPECT_EQ(qmcAsqLength(), 10);
    for (uint32_t i = 0; i < 10; ++i) {
        EXPECT_EQ(qmcGetAxleSensorData(&e), 0);
        EXPECT_EQ(e.word[0], 1000 + i);
    }
    add(7);
    asq.head = 256 + 3;  // a stray write into the exported ring never leaves its slots
    EXPECT_EQ(qmcAsqLength(), 2);
    qmcAxleSensorDataBuffFlag(0);
    add(8);
    EXPECT_EQ(qmcAsqIsEmpty(), 1);
}

TEST_F(AxleSensor, StatusWordEnableAndRegisterWrite) {
    struct Case { uint32_t word; uint8_t state, code7, code8; };
    for (const Case &c :
         {Case{0x07AB0000u, 7, 171, 0}, Case{0xF8CD1234u, 8, 0, 205}, Case{0x03FF0000u, 3, 0, 0}}) {
        mpb.axleSensorCode7 = mpb.axleSensorCode8 = 99;
        EXPECT_EQ(axleSensorDataMonitor(&c.word), 0);
        EXPECT_EQ(mpb.axleSensorState, c.state) << std::hex << c.word;
        EXPECT_EQ(mpb.axleSensorCode7, c.code7) << std::hex << c.word;
        EXPECT_EQ(mpb.axleSensorCode8, c.code8) << std::hex << c.word;
    }
    EXPECT_EQ(axleSensorDataMonitor(nullptr), -1);  // no word: nothing read
    EXPECT_EQ(mpb.axleSensorState, 3);
    EXPECT_EQ(qmcAxleSensorEnable(1), 0);
    EXPECT_EQ(qmcAxleSensorEnable(2), -1);
    EXPECT_EQ(mpb.axleSensorEnable, 1);
    EXPECT_EQ(qmcAxleSensorRegWrite(1, 2, 3, 250, 40000, 7), 0);
    ASSERT_EQ(kxsim::calls("kxHalSetAxleSensorData").size(), 1u);
    EXPECT_EQ(kxsim::calls("kxHalSetAxleSensorData")[0].args,
              (std::vector<double>{1, 2, 3, 250, 40000, 7}));
}

TEST_F(AxleSensor, DeviceTypeSwitchesProcessingOnlyWhenTheDeviceChanges) {
    mcb.forceSensorAct = 0;
    EXPECT_EQ(kxmcSetAxleDeviceType(3), 0);
    EXPECT_EQ(forcesensorFlag, 1);
    EXPECT_EQ(mcb.forceSensorAct, 1);
    EXPECT_TRUE(kxsim::log_contains("qmcSetForceSensorAct = 1", 2));
    qmcSetForceSensorAct(0, 6);
    kxmcSetAxleDeviceType(5);  // the user's choice survives the same device declared again
    EXPECT_EQ(mcb.forceSensorAct, 0);
    kxmcSetAxleDeviceType(2);
    EXPECT_EQ(forcesensorFlag, 0);
    EXPECT_TRUE(kxsim::log_contains("qmcSetForceSensorAct = 0", 2));
    kxmcSetAxleDeviceType(4);
    std::vector<double> types;
    for (const auto &c : kxsim::calls("kxHalEnableAxleDeviceType")) types.push_back(c.args[0]);
    EXPECT_EQ(types, (std::vector<double>{3, 5, 2, 4}));
    EXPECT_EQ(kxsim::calls("ConfigWriteEntry").size(), 3u);  // on, user off, off
}

}  // namespace
