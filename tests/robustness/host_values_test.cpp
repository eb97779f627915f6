// The host's records are not trusted. Every per-cycle entry point, for every model-code band
// edge, mounting, torque mode, robot state and joint count, and with non-finite or absurd values
// in the fields it reads, must return without reading or writing out of bounds (the sanitizer
// build aborts on that and on undefined behaviour) and must keep the torques it hands on finite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Every band edge of the model-code tables, codes in no band and the largest codes.
constexpr uint32_t kModelCodes[] = {
    0,   1,   2,   3,   4,   100, 101, 102, 103, 104,  200,  201,  202,  203,
    300, 301, 302, 303, 400, 401, 402, 500, 501, 600,  601,  700,  701,  702,
    703, 704, 800, 801, 900, 901, 902, 903, 904, 1000, 1001, 1100, 1101, 0xFFFFFFFFu};

class HostValues : public kxsim_test::HostFixture {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        mcb.customCollisionMode = 3;  // custom joint and TCP limits run as well
        mpb.collisionMode = 1;        // and the dual-encoder detector
        kxsim::set_recording(false);  // long sweeps: no journal growth
    }

    // One servo cycle as the host runs it, plus the other per-cycle services.
    static void cycle() {
        gravityTorqueControl(mpb.jointPos);
        kxmcCheckForCollisionError();
        double out[6];
        const double load[4] = {mpb.loadCoord[0], mpb.loadCoord[1], mpb.loadCoord[2],
                                mpb.loadWeight};
        frictionCompensation(mpb.targetJointVel, out);
        kxmcNewGravityTorque(mpb.jointPos, load, out);
        kxmcendload(-mcb.installTilt, mcb.installRot, mpb.jointPos, load[0], load[1], load[2],
                    load[3], out, static_cast<int32_t>(mcb.robotModelCode));
        qmcCheckTorqueError();
        double allow[6];
        dynamicCurrentCollisionLimit(1, allow);
        const double r[6] = {1, -1, 1, -1, 1, -1};
        kxmcCustomCollisionDetectionMain(r, r);
        const float v[6] = {300, -300, 50, 0, 1e30f, -1e30f};
        for (int32_t j = -1; j <= 6; ++j) {
            kxmcCollisionDetection(j, v);
        }
        double limit[6];
        MaxJointVel(limit);
        float acc[6];
        JointMaxAcc(acc);
    }
};

// Finite host values: every table row and fallback, with finite outputs.
TEST_F(HostValues, EveryModelMountingModeAndStateRunsAndKeepsTorquesFinite) {
    mpb.loadWeight = 2.0;
    for (uint32_t code : kModelCodes) {
        mcb.robotModelCode = code;
        for (uint8_t mounting = 0; mounting <= 5; ++mounting) {
            mcb.installPos = mounting;
            mcb.installTilt = 37.0 * mounting;
            for (uint8_t mode = 0; mode <= 3; ++mode) {
                mcb.newTeachEnable = mode;
                for (int32_t state = 1; state <= 4; ++state) {
                    mpb.robotState = state;
                    mpb.targetJointVel[0] = 0.05 * state;  // up to 200 deg/s
                    cycle();
                    double fric[6], grav[6] = {};
                    const double load[4] = {0, 0, 50, 2.0};
                    frictionCompensation(mpb.targetJointVel, fric);
                    kxmcGravityTorque(mpb.jointPos, load, grav);
                    for (int j = 0; j < 6; ++j) {
                        ASSERT_TRUE(std::isfinite(fric[j])) << "code " << code << " joint " << j;
                        ASSERT_TRUE(std::isfinite(grav[j]))
                            << "code " << code << " mounting " << int(mounting) << " joint " << j;
                    }
                }
            }
        }
    }
}

// Non-finite and absurd values in the fields the cycle reads.
TEST_F(HostValues, NonFiniteAndAbsurdFieldsNeverBecomeUndefinedBehaviour) {
    const double bad[] = {kNaN, kInf, -kInf, 1e300, -1e300};
    mpb.collisionMode = 2;
    mcb.staticCollisionOn = 1;
    mcb.powerCheckOn = 1;
    mcb.powerFlag = 1;
    for (uint32_t code : {0u, 1u, 201u, 301u, 450u, 701u, 902u, 1050u}) {
        mcb.robotModelCode = code;
        for (double x : bad) {
            for (uint8_t mode = 0; mode <= 2; ++mode) {
                mcb.newTeachEnable = mode;
                mpb.robotState = mode == 2 ? 4 : 2;
                for (int j = 0; j < 6; ++j) {
                    mpb.jointPos[j] = x;
                    mpb.targetJointPos[j] = x;
                    mpb.targetJointVel[j] = x;
                    mpb.actualJointVel[j] = x;
                    mpb.feedJointAcc[j] = x;
                    mpb.targetJointAcc[j] = x;
                    mpb.collisionLevel[j] = static_cast<float>(x);
                    mpb.collisionThreshold[j] = x;
                    mpb.frictionGain[j] = static_cast<float>(x);
                    mpb.jointTorqueOverride[j] = x;
                    mcb.collisionSafeMargin[j] = -7;
                    how.jointCurrent[j] = (j % 2) ? INT16_MIN : INT16_MAX;
                    how.encoderPosA[j] = INT32_MIN;
                    how.encoderPosB[j] = INT32_MAX;
                }
                mpb.loadWeight = x;
                mpb.loadCoord[2] = x;
                mcb.installTilt = x;
                mcb.installRot = x;
                mcb.speedRatioA = x;
                mpb.tcpSpeed = x;
                mpb.collisionCurveRef = x;
                mcb.powerLimit = x;
                mcb.tcpSpeedOverDragState = 1;
                mcb.tcpSpeedOverDragTime = static_cast<float>(x);
                mcb.collisionPauseFlag = 5;
                mcb.collisionState = 1;
                mcb.collisionSafeTime = 0xFFFFFFFFu;
                mpb.segmentStep = INT32_MAX;
                mpb.segmentSteps = INT32_MIN;
                mpb.collisionCounter[0] = INT32_MAX;
                mpb.collisionCountLimit = INT32_MAX;
                cycle();
                cycle();
                for (int j = 0; j < 6; ++j) EXPECT_TRUE(std::isfinite(forceCollisionError[j]));
                EXPECT_GE(CollisionAfterTime, 0);
            }
        }
    }
}

// Joint counts outside 0..6 and out-of-range indices and levels.
TEST_F(HostValues, JointCountsLevelsAndIndicesOutsideTheirTables) {
    for (int32_t n : {-1, 0, 3, 6, 7, 255, INT32_MAX, INT32_MIN}) {
        mpb.jointNum = n;
        for (float level : {-5.0f, 0.0f, 0.5f, 10.99f, 11.0f, 100.0f, 1e9f}) {
            std::fill_n(mpb.collisionLevel, 6, level);
            for (uint8_t mode = 0; mode <= 2; ++mode) {
                mcb.newTeachEnable = mode;
                mpb.robotState = 2;
                cycle();
            }
            collisionMessagePrintf(-1);
            collisionMessagePrintf(800);
            saveMsgPrintfCount = INT32_MIN;
            collisionMessagePrintf(0);
            saveMsgPrintfCount = 0;
        }
    }
    mcb.torqueRecordLength = INT32_MAX;
    mcb.torqueRecordEnable = 1;
    mcb.torqueRecordApply = 1;
    mcb.torqueRecordSmooth = 1;
    for (int i = 0; i < 200; ++i) {
        cycle();
    }
}

}  // namespace
