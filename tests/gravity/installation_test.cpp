// Installation settings persisted in the user configuration, and the offset pose.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host_fixture.hpp"
#include "kxmc/kxmc_gravity.h"
#include "simhost/kxsimhost.hpp"

namespace {

using Keys = std::vector<std::pair<std::string, float>>;

class Installation : public kxsim_test::HostFixture {
   protected:
    void SetUp() override { HostFixture::SetUp(), reset(); }
    void reset() {
        kxsim::clear_config();
        kxsim::startup(101);
        kxsim::clear_journal();
        mcb.installPos = 3;
        mcb.installTilt = 12.5;
        mcb.installRot = -7.0;
    }
    // The user configuration holds exactly these [USER_PARAM] keys and values, in order.
    static void expect_keys(const Keys &want) {
        const auto got = kxsim::read_config("/root/robot/user.config");
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].section + "/" + got[i].key, "USER_PARAM/" + want[i].first) << i;
            EXPECT_EQ(std::stof(got[i].value), want[i].second) << i;
        }
    }
};

// Floor, wall and ceiling angles also select their mounting; other angles keep it; angles
// beyond one turn or not finite are refused and change nothing.
TEST_F(Installation, AnglesSelectFixedMountingsOrAreRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const struct {
        double tilt, rot;
        int result, mounting;
    } cases[] = {// mounting -1: stays (3)
                 {0, 0, 0, 0},     {90, 0, 0, 1},      {180, 0, 0, 2},        {90, 10, 0, -1},
                 {-90, 0, 0, -1},  {360, -360, 0, -1}, {360.0001, 0, -1, -1}, {0, -360.5, -1, -1},
                 {nan, 0, -1, -1}, {0, -inf, -1, -1}};
    for (const auto &c : cases) {
        reset();
        EXPECT_EQ(qmcSetRobotInstallAngle(c.tilt, c.rot), c.result) << c.tilt << " " << c.rot;
        EXPECT_EQ(mcb.installTilt, c.result == 0 ? c.tilt : 12.5);
        EXPECT_EQ(mcb.installRot, c.result == 0 ? c.rot : -7.0);
        EXPECT_EQ(mcb.installPos, c.mounting < 0 ? 3 : c.mounting) << c.tilt << " " << c.rot;
        Keys want;
        if (c.result == 0)
            want = {{"INSTALL_YANGLE", static_cast<float>(c.tilt)},
                    {"INSTALL_ZANGLE", static_cast<float>(c.rot)}};
        if (c.mounting >= 0) want.push_back({"INSTALL_POS", static_cast<float>(c.mounting)});
        expect_keys(want);
    }
}

TEST_F(Installation, MountingSetterAndGetter) {
    for (int32_t pos : {0, 4, -1}) {
        reset();
        EXPECT_EQ(qmcSetRobotInstallPos(pos), pos == 0 ? 0 : -1) << pos;
        EXPECT_EQ(mcb.installPos, pos == 0 ? 0 : 3);
        expect_keys(pos == 0 ? Keys{{"INSTALL_POS", 0.0f}} : Keys{});
    }
    double tilt = 0, rot = 0;
    EXPECT_EQ(qmcGetRobotInstallAngle(&tilt, &rot), 0);
    EXPECT_EQ(tilt, 12.5);
    EXPECT_EQ(rot, -7.0);
    EXPECT_EQ(qmcGetRobotInstallAngle(nullptr, &rot), -1);
}

// In the base frame the offset adds to the current pose; in the tool frame the result is the
// current frame times the offset frame (composed here), angles near the current ones.
TEST_F(Installation, OffsetPoseAddsInBaseOrComposesInTool) {
    const double now[6] = {400, -150, 320, 170, -20, 35};
    kxsim::set_robot_pos(now);
    const float off[6] = {10, -5, 20, 4, 3, -8};
    float base[6], tool[6];
    mcb.forceSensorRefCoord = 1;
    ASSERT_EQ(qmcPosAddTrsfToRCS(off[0], off[1], off[2], off[3], off[4], off[5], base), 0);
    mcb.forceSensorRefCoord = 0;
    ASSERT_EQ(qmcPosAddTrsfToRCS(off[0], off[1], off[2], off[3], off[4], off[5], tool), 0);
    Trsf A{}, B{}, got{};
    rpyToTrsf(&A, now[5], now[4], now[3]);
    rpyToTrsf(&B, off[5], off[4], off[3]);
    rpyToTrsf(&got, tool[5], tool[4], tool[3]);
    for (int r = 0; r < 3; ++r) {
        EXPECT_FLOAT_EQ(base[r], static_cast<float>(now[r] + off[r]));
        EXPECT_FLOAT_EQ(base[r + 3], static_cast<float>(now[r + 3] + off[r + 3]));
        EXPECT_LT(std::fabs(tool[r + 3] - now[r + 3]), 30.0) << r;
        double p = now[r];
        for (int k = 0; k < 3; ++k) p += A.rot.r[3 * r + k] * off[k];
        EXPECT_NEAR(tool[r], p, 1e-3);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(got.rot.r[3 * r + c],
                        A.rot.r[3 * r] * B.rot.r[c] + A.rot.r[3 * r + 1] * B.rot.r[3 + c] +
                            A.rot.r[3 * r + 2] * B.rot.r[6 + c],
                        1e-6);
    }
    EXPECT_EQ(qmcPosAddTrsfToRCS(0, 0, 0, 0, 0, 0, nullptr), -1);
}

}  // namespace
