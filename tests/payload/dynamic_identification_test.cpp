// Continuous payload identification from the wrist sensor during hand guiding. The sensor's
// flange wrench is the weight of a known payload turned into the flange frame of the KDL
// oracle's arm at each sample, while the arm swings through wide orientation changes.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kxmc/kxmc_payload.h"
#include "payload_oracle.hpp"

namespace {

using kxpayload::Vec3;
using Dynamic = kxsim_test::HostFixture;

// Guided joints at cycle k [deg]: the wrist turns through about 80 deg within half a second.
void guided_joints(int k, double q[6]) {
    const double t = k * 0.001, q0[6] = {10, -80, 100, -90, -70, 20}, amp[6] = {20, 10, 15, 60, 40, 80};
    for (int i = 0; i < 6; ++i) q[i] = q0[i] + amp[i] * std::sin(2 * M_PI * (0.5 + 0.3 * i) * t);
}

// Guided pose of cycle k with the flange wrench [N, N m] of the payload m at c [mm] in it.
void guided_sample(int k, double m, const Vec3 &c, double q[6], double w[6], double *rot = nullptr) {
    guided_joints(k, q);
    const Trsf f = kxpayload::Arm(mcb.robotModelCode, 0, {}).flange(q);
    for (int i = 0; i < 3; ++i) w[i] = -kxpayload::kG * m * f.rot.r[6 + i];  // R^T (0, 0, -m g)
    for (int i = 0; i < 3; ++i) w[3 + i] = 1e-3 * (c[(i + 1) % 3] * w[(i + 2) % 3] - c[(i + 2) % 3] * w[(i + 1) % 3]);
    if (rot != nullptr) std::copy(f.rot.r, f.rot.r + 9, rot);
}

TEST_F(Dynamic, SettersCheckStoreAndPersist) {
    EXPECT_EQ(qmcSetLoadIdentifyDynPara(1001) + qmcLoadIdentifyDynOnOff(2), -2);
    EXPECT_TRUE(mcb.loadIdentifyTime != 1001 && kxsim::journal().empty());
    EXPECT_EQ(qmcSetLoadIdentifyDynPara(1000) + qmcLoadIdentifyDynOnOff(1), 0);
    EXPECT_TRUE(mcb.loadIdentifyTime == 1000 && mcb.loadIdentifyDynOn == 1);
    const auto keys = kxsim::read_config("/root/robot/user.config");
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].key + "=" + keys[0].value + " " + keys[1].key + "=" + keys[1].value, "LOAD_IDENTIFY_TIME=1000 LOAD_IDENTIFY_DYN=1");
}

TEST_F(Dynamic, WindowEstimatesTheMassOnEveryArm) {
    struct Case { uint32_t code; double m; Vec3 c; double written; };
    const Case cases[] = {{101, 5, {100, -50, 80}, 5}, {301, 16, {-100, 100, 0}, 16}, {1001, 30, {0, 60, -100}, 30},
                          {250, 12, {0, 0, 50}, 10}, {950, 40, {20, 20, 20}, 40}, {1, 0.3, {-30, 0, 100}, 0.3}};
    for (const Case &c : cases) {
        restart(c.code);
        qmcLoadIdentifyDynOnOff(1), qmcSetLoadIdentifyDynPara(500);
        mcb.forceSensorAct = 1, mpb.robotState = 4, mpb.loadCoord[0] = 1, mpb.loadCoord[2] = 3;
        std::vector<int> written;  // cycles that wrote the current mass, seen through a sentinel
        double m = 0;
        for (int k = 1; k < 800; ++k) {
            guided_sample(k, c.m, c.c, mpb.jointPos, mpb.forceSensorWrench);
            const double before = mpb.loadWeight;
            mpb.loadWeight = -1;
            EXPECT_EQ(kxmcLoadIdentifyDynControl(), 0);
            if (mpb.loadWeight != -1) written.push_back(k), m = mpb.loadWeight;
            mpb.loadWeight = m != 0 ? m : before;
        }
        EXPECT_EQ(written, (std::vector<int>{500, 600, 700}));
        EXPECT_NEAR(m, c.written, 0.002 * c.written) << c.code;  // the sensor's g is 9.81, not 9.8
        EXPECT_TRUE(mpb.loadCoord[0] == 1 && mpb.loadCoord[2] == 3);  // the centre is not applied
        kxsim::clear_journal();
        mpb.robotState = 1, kxmcLoadIdentifyDynControl(), kxmcLoadIdentifyDynControl();
        const auto writes = kxsim::calls("ConfigWriteEntry");  // once, on leaving hand guiding
        ASSERT_EQ(writes.size(), 4u);
        EXPECT_EQ(writes[0].text + writes[3].text, "/root/robot/user.config|USER_PARAM|LOAD_WEIGHT/root/robot/user.config|USER_PARAM|LOAD_Coord_Z");
        EXPECT_TRUE(writes[0].args[0] == float(m) && writes[1].args[0] == 1 && writes[3].args[0] == 3);
    }
}

TEST_F(Dynamic, CentreOfMassFromTurningLoad) {
    const Vec3 c = {80, -40, 120};
    double q[6], force[30], rot[45], m = 0, xyz[3];
    for (int s = 0; s < 5; ++s) guided_sample(100 * s, 4, c, q, force + 6 * s, rot + 9 * s);
    for (int same : {0, 1}) {  // then a load that never turns: the part along the force is left 0
        for (int s = 1; same && s < 5; ++s) std::copy(force, force + 6, force + 6 * s), std::copy(rot, rot + 9, rot + 9 * s);
        ASSERT_EQ(kxmcComloaddymIdentify(force, rot, &m, xyz), 0);
        EXPECT_NEAR(m, 4 * 9.81 / 9.8, 1e-9);
        const double *F = force, along = (c[0] * F[0] + c[1] * F[1] + c[2] * F[2]) / (4 * 9.81);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(xyz[i], c[i] - same * along * F[i] / (4 * 9.81), 1e-3) << same;
    }
}

TEST_F(Dynamic, NoSampleWithoutAUsableWrench) {
    struct Case { int32_t time; uint8_t act, fault, frame, on; int bad; };  // bad: a channel not a number
    const Case cases[] = {{4, 1, 0, 0, 1, -1}, {500, 0, 0, 0, 1, -1}, {500, 1, 2, 0, 1, -1}, {500, 1, 0, 1, 1, -1},
                          {500, 1, 0, 0, 0, -1}, {5, 1, 0, 0, 1, 0}, {5, 1, 0, 0, 1, 3}};
    for (const Case &c : cases) {
        restart(101);
        mcb.loadIdentifyDynOn = c.on, mcb.loadIdentifyTime = c.time, mcb.forceSensorState = c.fault, mcb.forceSensorRefCoord = c.frame;
        int32_t result = 0;
        for (int k = 1; k <= 1000; ++k) {
            mcb.forceSensorAct = c.act, mpb.robotState = 4, mpb.loadWeight = 2;
            guided_sample(k, c.act ? 4.0 : 0.0, {10, 10, 10}, mpb.jointPos, mpb.forceSensorWrench);  // off reads 0
            if (c.bad >= 0 && k % 5 == 3) mpb.forceSensorWrench[c.bad] = std::numeric_limits<double>::quiet_NaN();
            result = std::min(result, kxmcLoadIdentifyDynControl());
            ASSERT_EQ(mpb.loadWeight, 2) << c.time << " " << int(c.act) << int(c.fault) << int(c.frame) << k;
        }
        EXPECT_EQ(result, c.bad >= 0 ? -1 : 0);
        EXPECT_TRUE(c.bad != 0 || kxsim::log_contains("loadweight is NAN", 4));
        EXPECT_TRUE(c.bad != 3 || kxsim::log_contains("loadcoord0 is NAN", 4));
        mpb.robotState = 1, kxmcLoadIdentifyDynControl();
        EXPECT_EQ(kxsim::calls("ConfigWriteEntry").size(), c.on ? 4u : 0u);  // only leaving hand guiding persists
    }
}

}  // namespace
