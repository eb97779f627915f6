// Installation settings persisted in the user configuration, and the offset pose.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kxmc/kxmc_gravity.h"
#include "host_fixture.hpp"

namespace {

const char kUser[] = "/root/robot/user.config";

struct Key {
    std::string section, key;
    float value;
};

std::vector<Key> keys() {
    std::vector<Key> out;
    for (const auto &k : kxsim::read_config(kUser)) out.push_back({k.section, k.key, std::stof(k.value)});
    return out;
}

void expect_keys(const std::vector<Key> &want) {
    const auto got = keys();
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].section, want[i].section) << i;
        EXPECT_EQ(got[i].key, want[i].key) << i;
        EXPECT_EQ(got[i].value, want[i].value) << i;
    }
}

class Installation : public kxsim_test::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        reset();
    }
    void reset() {
        kxsim::clear_config();
        kxsim::startup(101);
        kxsim::clear_journal();
        mcb.installPos = 3;
        mcb.installTilt = 12.5;
        mcb.installRot = -7.0;
    }
};

TEST_F(Installation, AnglesSelectFixedMountings) {
    struct Case {
        double tilt, rot;
        int mounting;  // -1: stays as it was (3)
    };
    const Case cases[] = {{0, 0, 0}, {90, 0, 1}, {180, 0, 2}, {90, 10, -1}, {45, 0, -1}, {-90, 0, -1}, {360, -360, -1}};
    for (const Case &c : cases) {
        reset();
        ASSERT_EQ(qmcSetRobotInstallAngle(c.tilt, c.rot), 0);
        EXPECT_EQ(mcb.installTilt, c.tilt);
        EXPECT_EQ(mcb.installRot, c.rot);
        EXPECT_EQ(mcb.installPos, c.mounting < 0 ? 3 : c.mounting) << c.tilt << " " << c.rot;
        std::vector<Key> want = {{"USER_PARAM", "INSTALL_YANGLE", static_cast<float>(c.tilt)},
                                 {"USER_PARAM", "INSTALL_ZANGLE", static_cast<float>(c.rot)}};
        if (c.mounting >= 0) want.push_back({"USER_PARAM", "INSTALL_POS", static_cast<float>(c.mounting)});
        expect_keys(want);
    }
}

TEST_F(Installation, RejectedAnglesChangeNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double bad[][2] = {{360.0001, 0}, {-361, 0}, {0, 400}, {0, -360.5}, {nan, 0}, {0, nan}, {inf, 0}, {0, -inf}};
    for (const auto &b : bad) {
        EXPECT_EQ(qmcSetRobotInstallAngle(b[0], b[1]), -1) << b[0] << " " << b[1];
        EXPECT_EQ(mcb.installTilt, 12.5);
        EXPECT_EQ(mcb.installRot, -7.0);
        EXPECT_EQ(mcb.installPos, 3);
    }
    EXPECT_TRUE(kxsim::calls("ConfigWriteEntry").empty());
    EXPECT_TRUE(keys().empty());
}

TEST_F(Installation, MountingSetterAndGetter) {
    for (int32_t pos : {0, 1, 2, 3}) {
        reset();
        ASSERT_EQ(qmcSetRobotInstallPos(pos), 0);
        EXPECT_EQ(mcb.installPos, pos);
        expect_keys({{"USER_PARAM", "INSTALL_POS", static_cast<float>(pos)}});
    }
    for (int32_t pos : {4, 255, -1, 1000}) {
        reset();
        EXPECT_EQ(qmcSetRobotInstallPos(pos), -1);
        EXPECT_EQ(mcb.installPos, 3);
        EXPECT_TRUE(keys().empty());
    }
    double tilt = 0, rot = 0;
    EXPECT_EQ(qmcGetRobotInstallAngle(&tilt, &rot), 0);
    EXPECT_EQ(tilt, 12.5);
    EXPECT_EQ(rot, -7.0);
    EXPECT_EQ(qmcGetRobotInstallAngle(nullptr, &rot), -1);
}

// The saved settings come back at the next start of the host.
TEST_F(Installation, SettingsSurviveARestart) {
    ASSERT_EQ(qmcSetRobotInstallAngle(180, 0), 0);
    ASSERT_EQ(qmcSetRobotInstallAngle(30, 60), 0);
    restart(101);
    EXPECT_EQ(mcb.installTilt, 30.0);
    EXPECT_EQ(mcb.installRot, 60.0);
    EXPECT_EQ(mcb.installPos, 2);
}

// ---- Offset pose ------------------------------------------------------------------------

Trsf frame(const double p[6]) {
    Trsf t{};
    rpyToTrsf(&t, p[5], p[4], p[3]);
    for (int k = 0; k < 3; ++k) t.pos.v[k] = p[k];
    return t;
}

TEST_F(Installation, OffsetPoseAddsInBaseOrComposesInTool) {
    const double now[6] = {400, -150, 320, 170, -20, 35};
    kxsim::set_robot_pos(now);
    const float off[6] = {10, -5, 20, 4, 3, -8};
    float out[6];

    mcb.forceSensorRefCoord = 1;
    ASSERT_EQ(qmcPosAddTrsfToRCS(off[0], off[1], off[2], off[3], off[4], off[5], out), 0);
    for (int k = 0; k < 6; ++k) EXPECT_FLOAT_EQ(out[k], static_cast<float>(now[k] + off[k]));

    mcb.forceSensorRefCoord = 0;
    ASSERT_EQ(qmcPosAddTrsfToRCS(off[0], off[1], off[2], off[3], off[4], off[5], out), 0);
    // Expected frame: current * offset, built here from rotation matrices.
    const double offd[6] = {off[0], off[1], off[2], off[3], off[4], off[5]};
    const Trsf A = frame(now), B = frame(offd);
    const double outd[6] = {out[0], out[1], out[2], out[3], out[4], out[5]};
    const Trsf got = frame(outd);
    for (int r = 0; r < 3; ++r) {
        double p = A.pos.v[r];
        for (int k = 0; k < 3; ++k) p += A.rot.r[3 * r + k] * B.pos.v[k];
        EXPECT_NEAR(out[r], p, 1e-3);
        for (int c = 0; c < 3; ++c) {
            double m = 0;
            for (int k = 0; k < 3; ++k) m += A.rot.r[3 * r + k] * B.rot.r[3 * k + c];
            EXPECT_NEAR(got.rot.r[3 * r + c], m, 1e-6);
        }
    }
    // Angles stay near the current ones (no jump by a full turn).
    for (int k = 3; k < 6; ++k) EXPECT_LT(std::fabs(out[k] - now[k]), 30.0) << k;
    EXPECT_EQ(qmcPosAddTrsfToRCS(0, 0, 0, 0, 0, 0, nullptr), -1);
}

}  // namespace
