// Payload table and identifications through the simulated host, checked against physics: the
// oracle is the simulated host's arm (its kinematic geometry and the standard link masses of the
// model) with a point payload on the flange, in Orocos KDL, independent of this library. The
// nine-point identification runs on joint torques the oracle holds its poses with; the
// continuous identification on the weight of a payload turned into the oracle's flange frame
// while the arm swings; the step-driven identification on currents whose residuals are set
// exactly (an arm code without a gravity model, so the model torque is zero, and size-14
// motors of 0.32 N m) and once against the host's gravity and friction of the 5-kg arm.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <limits>

#include "dynamics/arm_parameters.hpp"
#include "host_fixture.hpp"
#include "kxmc/kxmc_dynamics_model.h"
#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_payload.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
using Vec3 = std::array<double, 3>;
constexpr double kG = 9.81;  // gravity of the oracle's world [m/s^2]

KDL::JntArray rad(const double q[6]) {  // [deg] -> [rad]
    KDL::JntArray j(6);
    for (int i = 0; i < 6; ++i) j(i) = q[i] * M_PI / 180.0;
    return j;
}

// The host's arm of a model code with a payload of mass m [kg] at c [mm] in the flange frame.
struct Arm {
    Arm(uint32_t code, double m, const Vec3 &c) {
        const kxsim::ArmGeometry g = kxsim::arm_geometry(code);
        const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(code);
        for (int i = 0; i < 6; ++i) {
            KDL::RigidBodyInertia body(
                p.masses[i],
                KDL::Vector(p.centres[3 * i], p.centres[3 * i + 1], p.centres[3 * i + 2]) * 1e-3);
            if (i == 5)
                body = body + KDL::RigidBodyInertia(m, KDL::Vector(c[0], c[1], c[2]) * 1e-3);
            chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                          KDL::Frame::DH(g.a[i], g.alpha[i], g.d[i], 0), body));
        }
    }
    std::array<double, 6> holding_torque(const double q[6]) const {  // [N m] at q [deg]
        KDL::JntArray t(6);
        KDL::ChainDynParam(chain, KDL::Vector(0, 0, -kG)).JntToGravity(rad(q), t);
        return {t(0), t(1), t(2), t(3), t(4), t(5)};
    }
    Trsf flange(const double q[6]) const {  // in the base frame, position [mm]
        KDL::Frame f;
        KDL::ChainFkSolverPos_recursive(chain).JntToCart(rad(q), f);
        Trsf t{};
        for (int i = 0; i < 9; ++i) t.rot.r[i] = f.M.data[i];
        for (int i = 0; i < 3; ++i) t.pos.v[i] = f.p[i] * 1000;
        return t;
    }
    KDL::Chain chain;
};

class Payload : public kxsim_test::HostFixture {
   protected:
    void exact_residuals() {
        restart(550);
        mcb.frictionCompOn = 0;
        qmcLoadIdentifyStartEnd(1);
    }
};

// ---- Payload table ----

std::vector<std::string> keys(const char *file) {
    std::vector<std::string> out;
    for (const auto &k : kxsim::read_config(file))
        out.push_back(k.section + "/" + k.key + "=" + k.value);
    return out;
}

TEST_F(Payload, TableRefusalsChangeNothingButTheErrorCode) {
    struct Case {
        uint32_t code;
        uint8_t n;
        double w, x, y, z;
        int32_t result;
        uint32_t error;
    };
    const Case cases[] = {{101, 20, 1, 0, 0, 0, -3, 7},
                          {101, 255, kNaN, 0, 0, 0, -3, 7},
                          {250, 0, 10.0001, 0, 0, 0, -1, 0x19000004},
                          {101, 0, -1.001e-6, 0, 0, 0, -1, 0x19000004},
                          {101, 0, kNaN, 0, 0, 0, -1, 0x19000004},
                          {950, 0, kInf, 0, 0, 0, -1, 0x19000004},
                          {101, 0, 1, 1000.5, 0, 0, -2, 0x19000005},
                          {101, 0, 1, 0, -1001, 0, -2, 0x19000006},
                          {101, 0, 1, 0, 0, kNaN, -2, 0x19000007},
                          {101, 0, 1, kInf, 0, kNaN, -2, 0x19000005}};
    for (const Case &c : cases) {
        restart(c.code);
        mcb.paramErrorCode = 7;
        const MotionControlBlock mcb0 = mcb;
        const MotionParamBlock mpb0 = mpb;
        EXPECT_EQ(qmcSetLoadPara(c.n, c.w, c.x, c.y, c.z, 77), c.result) << c.w << " " << c.x;
        EXPECT_EQ(mcb.paramErrorCode, c.error);
        mcb.paramErrorCode = 7;
        EXPECT_EQ(std::memcmp(&mcb, &mcb0, sizeof mcb), 0);
        EXPECT_EQ(std::memcmp(&mpb, &mpb0, sizeof mpb), 0);
        EXPECT_TRUE(kxsim::journal().empty());
        EXPECT_TRUE(keys("/root/robot/user.config").empty());
        EXPECT_TRUE(keys("/root/robot/load.config").empty());
    }
}

// At the first code of a band the maximum, at both edges the bound.
TEST_F(Payload, TableMaximumMassFollowsTheArm) {
    const struct {
        uint32_t first, last;
        double max;
    } bands[] = {{0, 0, 5},        {1, 100, 3},      {101, 200, 5},           {201, 300, 10},
                 {301, 400, 16},   {401, 500, 20},   {501, 600, 3},           {601, 700, 5},
                 {701, 800, 3},    {801, 900, 3},    {901, 901, 5},           {902, 902, 10},
                 {1001, 1100, 30}, {903, 1000, 1e6}, {1101, 4000000000u, 1e6}};
    for (const auto &b : bands)
        for (uint32_t code : {b.first, b.last}) {
            mcb.robotModelCode = code;
            EXPECT_EQ(code == b.first ? qmcSetLoadPara(3, b.max, 0, 0, 0, 1) : 0, 0) << code;
            EXPECT_EQ(qmcSetLoadPara(3, std::nextafter(b.max, kInf), 0, 0, 0, 1),
                      b.max == 1e6 ? 0 : -1)
                << code;
        }
}

TEST_F(Payload, TableAcceptedPayloadIsCurrentTabledLoggedAndPersisted) {
    restart(250);
    mpb.loadWeightTable[8] = 9.0;
    ASSERT_EQ(qmcSetLoadPara(7, 10.0, 1000, -1000, 12.5, 4711), 0);
    EXPECT_EQ(mpb.loadNum, 7);
    EXPECT_EQ(mpb.cmdId, 4711u);
    EXPECT_EQ(mpb.loadWeight, 10);
    EXPECT_EQ(mpb.loadWeightTable[7], 10);
    EXPECT_EQ(mpb.loadWeightTable[8], 9);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(mpb.loadCoord[i], (std::array<double, 3>{1000, -1000, 12.5}[i]));
        EXPECT_EQ(mpb.loadCoordTable[7][i], mpb.loadCoord[i]);
    }
    EXPECT_TRUE(kxsim::log_contains("loadWeight:10.000000", 1));
    EXPECT_TRUE(kxsim::log_contains("loadCoord:1000.000000 -1000.000000 12.500000", 2));
    EXPECT_EQ(
        keys("/root/robot/user.config"),
        (std::vector<std::string>{"USER_PARAM/LOAD_NUM=7", "USER_PARAM/LOAD_WEIGHT=10",
                                  "USER_PARAM/LOAD_Coord_X=1000", "USER_PARAM/LOAD_Coord_Y=-1000",
                                  "USER_PARAM/LOAD_Coord_Z=12.5"}));
    EXPECT_EQ(kxsim::calls("ConfigWriteEntry")[5].text,
              "/root/robot/load.config|LOAD_PARAM|LOAD7_WEIGHT");  // after the user file
    kxsim::clear_config();
    std::vector<std::string> all;  // every entry has its own four keys, mass first
    for (int n = 0; n < 20; ++n) {
        ASSERT_EQ(qmcSetLoadPara(uint8_t(n), n == 0 ? -1e-6 : n % 4, n, -n, 2 * n, 1), 0);
        for (const std::string &k :
             {"_WEIGHT=" + (n == 0 ? "-9.99999997e-07" : std::to_string(n % 4)),
              "_Coord_X=" + std::to_string(n), "_Coord_Y=" + std::to_string(-n),
              "_Coord_Z=" + std::to_string(2 * n)})
            all.push_back("LOAD_PARAM/LOAD" + std::to_string(n) + k);
    }
    EXPECT_EQ(keys("/root/robot/load.config"), all);
}

// ---- Nine-point and step-driven identification from joint torques ----

constexpr double kPoses[9][6] = {  // [deg], orientations spread over the sphere
    {0, -90, 90, -90, -90, 0},     {30, -80, 100, -60, -90, 45},    {-20, -100, 80, 0, -60, 90},
    {45, -60, 70, -120, 40, -45},  {10, -110, 120, 30, 70, 10},     {-60, -70, 60, -170, -45, 120},
    {90, -120, 100, 60, 100, -90}, {-30, -50, 110, -20, -120, 170}, {0, -90, 60, 90, 50, -150}};

void record(const Arm &arm, uint32_t mode, const double (*poses)[6] = kPoses) {
    ASSERT_EQ(kxmcSetCurrentLoadIdentifyFlag(mode), 0);
    for (uint32_t p = 0; p < 9; ++p) {
        const auto tau = arm.holding_torque(poses[p]);
        std::copy(tau.begin(), tau.end(), torque);
        std::copy(poses[p], poses[p] + 6, joint_angle_load);
        mpb.flangePose = arm.flange(poses[p]);
        ASSERT_EQ(kxmcSaveLoadIdentifyPoint(p + 1), 0);
    }
}

TEST_F(Payload, NinePointsRecoverMassAndCentreOnEveryArm) {
    const struct {
        uint32_t code;
        double m;
        Vec3 c;
    } cases[] = {
        {1, 3, {100, -100, 100}},   {101, 0.5, {-100, 40, 20}},  {201, 10, {50, 100, -100}},
        {300, 7, {-100, -100, 60}}, {301, 16, {100, 0, -50}},    {302, 16, {-30, 80, 100}},
        {350, 12, {0, -100, 0}},    {401, 20, {70, -60, 90}},    {902, 10, {-80, 20, 30}},
        {903, 3, {10, -90, 100}},   {1001, 30, {100, 100, 100}}, {703, 3, {-50, -50, 50}},
        {901, 5, {100, 10, -40}},   {1101, 5, {-60, 0, 10}},     {0, 4, {30, 30, -30}}};
    for (const auto &c : cases) {
        restart(c.code);
        record(Arm(c.code, 0, {}), 0);
        record(Arm(c.code, c.m, c.c), 0x301);  // the mode's low byte counts
        // Then a new payload without clearing the record.
        for (double scale : {1.0, 0.5}) {
            double m = 0, xyz[3] = {};
            ASSERT_EQ(kxmcComEndLoadMain(&m, xyz), 0);
            EXPECT_NEAR(m, scale * c.m, 1e-4 * c.m) << c.code;
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(xyz[i], scale == 1 ? c.c[i] : 50.0 * (i == 2), 0.01)
                    << c.code << " axis " << i;
            EXPECT_LT(std::fabs(simply_loadidentify.rightHandSide[0] - 9 * 9.81 * m), 1e-9 * m);
            EXPECT_LT(std::fabs(simply_loadidentify.normalMatrix[0] - 9), 1e-12);
            record(Arm(c.code, 0.5 * c.m, {0, 0, 50}), 1);
        }
    }
}

TEST_F(Payload, NinePointRefusals) {
    const Arm arm(101, 2, {10, 20, 30});
    const SimplyLoadIdentify before = simply_loadidentify;
    record(arm, 2);  // neither recording mode, then bad point numbers
    kxmcSetCurrentLoadIdentifyFlag(0);
    EXPECT_EQ(kxmcSaveLoadIdentifyPoint(0), -1);
    EXPECT_EQ(kxmcSaveLoadIdentifyPoint(10), -1);
    EXPECT_EQ(
        std::memcmp(&before.noLoadWrench, &simply_loadidentify.noLoadWrench, sizeof before - 4), 0);
    double same[9][6];  // nine times one pose: the centre is not determined
    double m = -7;
    double xyz[3] = {-7, -7, -7};
    for (auto &q : same) std::copy(kPoses[1], kPoses[1] + 6, q);
    record(arm, 0, same);
    record(arm, 1, same);
    kxsim::clear_log();
    EXPECT_EQ(kxmcComEndLoadMain(&m, xyz), -1);
    EXPECT_EQ(kxmcComEndLoadMain(nullptr, xyz), -1);
    EXPECT_EQ(kxmcComEndLoadMain(&m, nullptr), -1);
    EXPECT_EQ(m, -7);
    EXPECT_EQ(xyz[0], -7);
    EXPECT_EQ(xyz[2], -7);
    ASSERT_EQ(kxsim::log_lines().size(), 6u);  // from the first call only, all at level 4
    const Trsf pose = arm.flange(kPoses[1]);
    const auto n = [u = pose.rot.r + 6](int r, int c) {
        return r * c == 0 ? 9.0 * (r == c) : 9 * ((r == c) - u[r - 1] * u[c - 1]);
    };
    // The normal matrix is 9 diag(1, I - u u^T), u the vertical in the flange frame.
    char line[5][96];
    std::snprintf(line[0], 96, "POS: error = %f,%f,%f", n(1, 2), n(1, 3), n(2, 0));
    for (int r = 0; r < 4; ++r)
        std::snprintf(line[r + 1], 96, "loadIdentify: leftsum = %f,%f,%f,%f", n(r, 0), n(r, 1),
                      n(r, 2), n(r, 3));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(kxsim::log_lines()[i].level, 4) << i;
        if (i > 0) {
            EXPECT_EQ(kxsim::log_lines()[i].text, line[i - 1]) << i;
        }
    }
}

const double kPerMille = 0.001 * double(0.32f) * 101;  // joint residual of 1 per mille [N m]

void cycles(int n, uint32_t step, int32_t state, int16_t j3, int16_t j5, int16_t j6 = 0,
            double q6 = 0) {
    mpb.cmdId = step;
    mpb.robotState = state;
    mpb.jointPos[5] = q6;
    how.jointCurrent[2] = j3;
    how.jointCurrent[4] = j5;
    how.jointCurrent[5] = j6;
    for (int i = 0; i < n; ++i) EXPECT_EQ(kxmcLoadIdentifyControl(), 0);
}

TEST_F(Payload, StepWindowsGiveMassSamples) {
    exact_residuals();
    cycles(700, 3, 2, 0, 100);
    EXPECT_EQ(qmcLoadIdentifyStartEnd(2), -1);
    EXPECT_EQ(mcb.loadIdentifyOn, 1);
    EXPECT_EQ(mcb.loadIdentifyCycle, 700);
    char *record = reinterpret_cast<char *>(&mcb) + offsetof(MotionControlBlock, loadIdentifyOn);
    const std::size_t size = offsetof(MotionControlBlock, loadIdentifyDynOn) -
                             offsetof(MotionControlBlock, loadIdentifyOn);
    std::memset(record, 0x55, size);
    mcb.loadIdentifyDynOn = 1;
    ASSERT_EQ(qmcLoadIdentifyStartEnd(0), 0);  // abort: a cleared record and no carry-over
    EXPECT_TRUE(std::all_of(record, record + size, [](char b) { return b == 0; }));
    EXPECT_EQ(qmcLoadIdentifyStartEnd(1), 0);
    EXPECT_EQ(mcb.loadIdentifyOn, 1);
    EXPECT_EQ(mcb.loadIdentifyDynOn, 1);
    // Two windows on joint 5, then paused: nothing counts.
    cycles(2002, 3, 2, 0, 100);
    cycles(5000, 4, 3, 0, 900);
    cycles(500, 4, 2, 0, 100);
    // A fresh window per joint.
    cycles(500, 6, 2, 200, 0);
    cycles(100, 5, 2, 900, 900);
    cycles(501, 7, 2, 200, 0);
    cycles(1001, 3, 2, 0, 100);
    ASSERT_EQ(mcb.loadIdentifyWeightCount, 4);
    const double want[4] = {100 * kPerMille / 0.9996, 100 * kPerMille / 0.9996,
                            200 * kPerMille / 2.2736, 100 * kPerMille / 0.9996};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(mcb.loadIdentifyWeightSamples[i], want[i], 1e-9);
    char line[64];
    EXPECT_GT(std::snprintf(line, 64, "weightTotalNum 2 weightTemp %f", want[2]), 0);
    EXPECT_TRUE(kxsim::log_contains(line, 2));
    mcb.loadIdentifyWeightCount = 1000;  // full arrays drop further windows
    mcb.loadIdentifyCoordCount = 1000;
    cycles(1001, 3, 2, 0, 100);
    mcb.loadIdentifyWeightDone = 1;
    mcb.loadIdentifyWeight = 2;
    cycles(1001, 9, 2, 0, 0, 100);
    EXPECT_EQ(mcb.loadIdentifyWeightCount, 1000);
    EXPECT_EQ(mcb.loadIdentifyCoordCount, 1000);
    EXPECT_EQ(mcb.loadIdentifyCoordDone, 0);
}

TEST_F(Payload, StepMassAndCentreFormedWhenTheRobotStops) {
    const struct {
        double samples[2];
        int32_t count;
        double mass;
    } cases[] = {{{2.3, 2.5}, 2, 1.9}, {{2.5, 9}, 1, 2.5},   {{0.2, 0.4}, 2, 0}, {{1, 1}, 0, 0},
                 {{4, 4}, 5000, 4},    {{1.3, 1.3}, 2, 0.8}, {{3, 3}, -5, 0}};
    // An aborted run leaves no extreme.
    exact_residuals();
    cycles(1, 9, 3, 0, 0);
    cycles(5, 10, 2, 0, 0, 3000, 70);
    qmcLoadIdentifyStartEnd(0);
    for (const auto &c : cases) {
        exact_residuals();
        std::fill_n(mcb.loadIdentifyWeightSamples, 1000, c.samples[0]);
        mcb.loadIdentifyWeightSamples[1] = c.samples[1];
        mcb.loadIdentifyWeightCount = c.count;
        cycles(1, 9, 3, 0, 0);  // the mass is formed on entering, whatever the state
        EXPECT_EQ(mcb.loadIdentifyWeight, c.mass) << c.mass;
        EXPECT_EQ(mcb.loadIdentifyWeightCount, 0) << c.mass;
        cycles(1001, 10, 2, 0, 0, 500);  // one full window of 500 per mille
        EXPECT_NEAR(mcb.loadIdentifyCoordSamples[0][2],
                    c.mass > 0 ? 1000 * 500 * kPerMille / (9.8 * c.mass) : 0, 1e-9);
        EXPECT_EQ(mcb.loadIdentifyCoordCount, c.mass > 0 ? 1 : 0);
        // The extreme joint-6 torque is taken by magnitude: -2000 at 30 deg wins.
        cycles(10, 10, 2, 0, 0, 1000, 10);
        cycles(10, 10, 2, 0, 0, -2000, 30);
        cycles(10, 10, 2, 0, 0, 1500, 50);
        mcb.loadIdentifyCoordSamples[0][2] = 40;
        mcb.loadIdentifyCoordSamples[1][2] = 60;
        mcb.loadIdentifyCoordCount = c.count ? 2 : 0;
        cycles(2, 9, 1, 0, 0);  // stopped: the result
        const double rho = c.mass > 0 ? 50 - 1000 * 2000 * kPerMille / (9.8 * c.mass) : 0;
        uint8_t finished = 0;
        double m = -1, xyz[3];
        EXPECT_EQ(qmcGetLoadWeightCoord(&finished, &m, xyz), 0);
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(m, c.mass);
        EXPECT_EQ(mcb.loadIdentifyOn, 0);
        EXPECT_EQ(xyz[2], c.count ? 50 : 0);
        EXPECT_EQ(mcb.loadIdentifyWeightDone, 1);
        EXPECT_EQ(mcb.loadIdentifyCoordDone, 1);
        EXPECT_LT(std::fabs(xyz[0] - 0.5 * rho), 1e-9) << xyz[0];
        EXPECT_LT(std::fabs(xyz[1] - std::sqrt(0.75) * rho), 1e-9) << xyz[0];
        EXPECT_TRUE(kxsim::log_contains("j6ValueXY 30.000000", 2));
        EXPECT_TRUE(kxsim::log_contains("diffTorqueXY 64.639999", 2));
    }
}

TEST_F(Payload, StepResidualIsAgainstTheArmWithoutPayload) {
    restart(101);
    const double q[6] = {20, -70, 100, -120, 60, 30};
    const double vel[6] = {0.02, -0.03, 0.05, 0.04, 0.01, -0.02};
    const double none[4] = {};
    double gravity[6];
    double friction[6];
    qmcDynComGravityExload(q, none, gravity, 101);
    frictionCompensation(vel, friction);
    std::copy(q, q + 6, mpb.jointPos);
    std::copy(vel, vel + 6, mpb.targetJointVel);
    qmcLoadIdentifyStartEnd(1);
    for (int j = 0; j < 6; ++j)  // joint 5 holds 2 N m more than the arm without payload needs
        how.jointCurrent[j] =
            int16_t(std::lround(((gravity[j] + friction[j]) / 100 + (j == 4) * 2.0 / 101) /
                                (0.001 * (j < 3 ? mpb.ratedTorque25 : mpb.ratedTorque14))));
    cycles(1001, 3, 2, how.jointCurrent[2], how.jointCurrent[4], how.jointCurrent[5], q[5]);
    EXPECT_NEAR(mcb.loadIdentifyWeightSamples[0], 2 / 0.9996, 0.02);
}

// ---- Continuous identification from the wrist sensor ----

// Guided pose of cycle k [deg], the wrist turning through about 80 deg within half a second,
// with the flange wrench [N, N m] of the payload m at c [mm] and the flange rotation in it, on an
// arm whose mounting tilts gravity by `tilt` [rad] away from the base's vertical.
void guided_sample(int k, double m, const Vec3 &c, double q[6], double w[6], double *rot = nullptr,
                   double tilt = 0) {
    const double t = k * 0.001;
    const double q0[6] = {10, -80, 100, -90, -70, 20};
    const double amp[6] = {20, 10, 15, 60, 40, 80};
    for (int i = 0; i < 6; ++i) q[i] = q0[i] + amp[i] * std::sin(2 * M_PI * (0.5 + 0.3 * i) * t);
    const Trsf f = Arm(mcb.robotModelCode, 0, {}).flange(q);
    const double g[3] = {-kG * std::sin(tilt) * 0.6, -kG * std::sin(tilt) * 0.8,
                         -kG * std::cos(tilt)};  // in the base frame
    for (int i = 0; i < 3; ++i)
        w[i] = m * (f.rot.r[i] * g[0] + f.rot.r[3 + i] * g[1] + f.rot.r[6 + i] * g[2]);  // R^T m g
    for (int i = 0; i < 3; ++i)
        w[3 + i] = 1e-3 * (c[(i + 1) % 3] * w[(i + 2) % 3] - c[(i + 2) % 3] * w[(i + 1) % 3]);
    if (rot != nullptr) std::copy(f.rot.r, f.rot.r + 9, rot);
}

TEST_F(Payload, ContinuousWindowEstimatesTheMassOnEveryArm) {
    const struct {
        uint32_t code;
        double m;
        Vec3 c;
        double written, tilt;
    } cases[] = {{101, 5, {100, -50, 80}, 5, 0},        {301, 16, {-100, 100, 0}, 16, 0},
                 {1001, 30, {0, 60, -100}, 30, 0},      {250, 12, {0, 0, 50}, 10, 0},
                 {950, 40, {20, 20, 20}, 40, M_PI / 2}, {1, 0.3, {-30, 0, 100}, 0.3, 2}};
    for (const auto &c : cases) {
        restart(c.code);
        kxsim::clear_config();
        EXPECT_EQ(qmcSetLoadIdentifyDynPara(1001), -1);
        EXPECT_EQ(qmcLoadIdentifyDynOnOff(2), -1);
        EXPECT_TRUE(kxsim::journal().empty());
        EXPECT_EQ(qmcLoadIdentifyDynOnOff(1), 0);
        EXPECT_EQ(qmcSetLoadIdentifyDynPara(500), 0);
        EXPECT_EQ(mcb.loadIdentifyTime, 500);
        EXPECT_EQ(keys("/root/robot/user.config"),
                  (std::vector<std::string>{"USER_PARAM/LOAD_IDENTIFY_DYN=1",
                                            "USER_PARAM/LOAD_IDENTIFY_TIME=500"}));
        mcb.forceSensorAct = 1;
        mpb.robotState = 4;
        mpb.loadCoord[0] = 1;
        mpb.loadCoord[2] = 3;
        std::vector<int> written;  // cycles that wrote the current mass, seen through a sentinel
        double m = 0;
        double first = 0;
        for (int k = 1; k < 1300; ++k) {  // from cycle 800 on half the payload: the window slides
            guided_sample(k, k < 800 ? c.m : 0.5 * c.m, c.c, mpb.jointPos, mpb.forceSensorWrench,
                          nullptr, c.tilt);
            first = k == 701 ? m : first;
            const double before = mpb.loadWeight;
            mpb.loadWeight = -1;
            EXPECT_EQ(kxmcLoadIdentifyDynControl(), 0);
            if (mpb.loadWeight != -1) {
                written.push_back(k);
                m = mpb.loadWeight;
            }
            mpb.loadWeight = m != 0 ? m : before;
        }
        EXPECT_EQ(written, (std::vector<int>{500, 600, 700, 800, 900, 1000, 1100, 1200}));
        // The sensor's g is 9.81, not 9.8.
        EXPECT_NEAR(first, c.written, 0.002 * c.written) << c.code;
        EXPECT_NEAR(m, 0.5 * c.m, 0.001 * c.m) << c.code;
        EXPECT_EQ(mpb.loadCoord[0], 1);  // the centre is not applied
        EXPECT_EQ(mpb.loadCoord[2], 3);
        kxsim::clear_journal();
        mpb.robotState = 1;
        kxmcLoadIdentifyDynControl();
        kxmcLoadIdentifyDynControl();
        const auto w = kxsim::calls("ConfigWriteEntry");  // once, on leaving hand guiding
        ASSERT_EQ(w.size(), 4u);
        EXPECT_EQ(w[0].text, "/root/robot/user.config|USER_PARAM|LOAD_WEIGHT");
        EXPECT_EQ(w[3].text, "/root/robot/user.config|USER_PARAM|LOAD_Coord_Z");
        EXPECT_EQ(w[0].args[0], float(m));
        EXPECT_EQ(w[1].args[0], 1);
        EXPECT_EQ(w[3].args[0], 3);
    }
}

TEST_F(Payload, ContinuousCentreOfMassFromTurningLoad) {
    const Vec3 c = {80, -40, 120};
    double q[6];
    double force[30];
    double rot[45];
    double m = 0;
    double xyz[3];
    for (int s = 0; s < 5; ++s) guided_sample(100 * s, 4, c, q, force + 6 * s, rot + 9 * s);
    for (int same : {0, 1}) {  // then a load that never turns: the part along the force is left 0
        for (int s = 1; same && s < 5; ++s) {
            std::copy(force, force + 6, force + 6 * s);
            std::copy(rot, rot + 9, rot + 9 * s);
        }
        ASSERT_EQ(kxmcComloaddymIdentify(force, rot, &m, xyz), 0);
        EXPECT_NEAR(m, 4 * 9.81 / 9.8, 1e-9);
        const double *F = force;
        const double along = (c[0] * F[0] + c[1] * F[1] + c[2] * F[2]) / (4 * 9.81);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(xyz[i], c[i] - same * along * F[i] / (4 * 9.81), 1e-3) << same;
    }
    EXPECT_EQ(kxmcComloaddymIdentify(force, rot, nullptr, xyz), -1);
    EXPECT_EQ(kxmcComloaddymIdentify(nullptr, rot, &m, xyz), -1);
}

TEST_F(Payload, ContinuousNoSampleWithoutAUsableWrench) {
    const struct {
        int32_t time;
        uint8_t act, fault, frame, on;
        int bad;
    } cases[] = {// bad: a channel not a number
                 {4, 1, 0, 0, 1, -1},   {500, 0, 0, 0, 1, -1}, {500, 1, 2, 0, 1, -1},
                 {500, 1, 0, 1, 1, -1}, {500, 1, 0, 0, 0, -1}, {5, 1, 0, 0, 1, 0},
                 {5, 1, 0, 0, 1, 3}};
    for (const auto &c : cases) {
        restart(101);
        mcb.loadIdentifyTime = c.time;
        mcb.forceSensorState = c.fault;
        mcb.forceSensorRefCoord = c.frame;
        int32_t result = 0;
        for (int k = 1; k <= 1000; ++k) {
            mcb.forceSensorAct = c.act;
            mpb.robotState = 4;
            mpb.loadWeight = 2;
            mcb.loadIdentifyDynOn = c.on || k == 1;
            guided_sample(k, c.act ? 4.0 : 0.0, {10, 10, 10}, mpb.jointPos,
                          mpb.forceSensorWrench);  // off reads 0
            if (c.bad >= 0 && k % 5 == 3)
                mpb.forceSensorWrench[c.bad] = std::numeric_limits<double>::quiet_NaN();
            result = std::min(result, kxmcLoadIdentifyDynControl());
            ASSERT_EQ(mpb.loadWeight, 2)
                << c.time << " " << int(c.act) << int(c.fault) << int(c.frame) << k;
        }
        EXPECT_EQ(result, c.bad >= 0 ? -1 : 0);
        if (c.bad == 0) {
            EXPECT_TRUE(kxsim::log_contains("loadweight is NAN", 4));
        }
        if (c.bad == 3) {
            EXPECT_TRUE(kxsim::log_contains("loadcoord0 is NAN", 4));
        }
        mpb.robotState = 1;
        kxmcLoadIdentifyDynControl();
        mcb.loadIdentifyDynOn = 1;
        kxmcLoadIdentifyDynControl();
        // Only leaving hand guiding while on persists.
        EXPECT_EQ(kxsim::calls("ConfigWriteEntry").size(), c.on ? 4u : 0u);
    }
}

}  // namespace
