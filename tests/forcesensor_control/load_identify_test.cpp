// Identification of the tool on the wrist sensor: the sensor reads the statics of a known tool
// (weight and its moment about the sensor origin, computed here with KDL in the sensor frame,
// plus the sensor's own offsets) through the simulated sensor's counts; the identification must
// give back the tool and the offsets, and refuse poses that cannot tell them apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/forcesensor/sensor_fixture.hpp"

namespace {

using namespace sensor_test;

struct Tool {
    double mass;
    KDL::Vector com;
    double offset[6];
};

// Wrench the tool applies to a sensor whose frame has rotation sensor_in_base, in sensor axes,
// under gravity g (base axes).
void tool_wrench(const Tool &t, const KDL::Rotation &sensor_in_base, const KDL::Vector &g,
                 double out[6]) {
    const KDL::Vector weight = sensor_in_base.Inverse() * (t.mass * g);
    to_array(KDL::Wrench(weight, t.com * weight), out);
    for (int i = 0; i < 6; ++i) out[i] += t.offset[i];
}

KDL::Rotation rpy_deg(double a, double b, double c) {
    return KDL::Rotation::RPY(a * kPi / 180, b * kPi / 180, c * kPi / 180);
}

// Three flange orientations that tell the centre, the weight and the offsets apart.
const KDL::Rotation kThreePoses[3] = {rpy_deg(180, 0, 0), rpy_deg(90, 0, 30),
                                      rpy_deg(180, -90, -45)};

// A refused fit logs its determinant under its header, then the three wrenches it had, all at
// level 4; row names the one whose wrench w is checked in full.
void expect_refusal_logs(const std::string &header, int row, const std::string &name,
                         const double w[6]) {
    const auto &log = kxsim::log_lines();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].text.rfind(header + ": data error detValue = ", 0), 0u) << log[0].text;
    char text[128];
    std::snprintf(text, sizeof text, "%s error = %f,%f,%f,%f,%f,%f", name.c_str(), w[0], w[1], w[2],
                  w[3], w[4], w[5]);
    EXPECT_EQ(log[row].text, text);
    for (const auto &line : log) EXPECT_EQ(line.level, 4) << line.text;
}

class Poses : public SensorFixture {
   protected:
    // The flange at the given orientation reads the tool for a few cycles (the filters settle).
    void read(const Tool &tool, const KDL::Rotation &flange) {
        mpb.flangePose = trsf(KDL::Frame(flange, KDL::Vector(0.3, 0.1, 0.4)));
        const double *c = mcb.forceSensorCoord;
        const KDL::Rotation sensor = flange * rpy_deg(c[3], c[4], c[5]);
        double w[6];
        tool_wrench(tool, sensor, gravity_, w);
        reseed();
        for (int k = 0; k < 5; ++k) cycle(w);
    }
    int32_t record(int n, const Tool &tool, const KDL::Rotation &flange) {
        read(tool, flange);
        return kxmcSaveSensorDataFlag(n);
    }
    KDL::Vector gravity_{0, 0, -9.8};  // [m/s^2] in base axes
};

// A light, off-centre tool on a sensor turned and tilted on the flange, with offsets of its own,
// on an arm standing on a slanted base: gravity has a component on every base axis (the fit takes
// the weight's direction as unknown).
TEST_F(Poses, RecoversMassCentreAndOffsets) {
    gravity_ = KDL::Vector(2.94, -3.92, -8.487);  // 9.8 m/s^2
    const Tool tool{0.6, {0.02, -0.01, 0.045}, {-0.4, 0.2, 0.9, -0.02, 0.01, 0.03}};
    const double mounting[6] = {5, -8, 20, 10, -5, 45};
    std::memcpy(mcb.forceSensorCoord, mounting, sizeof mounting);
    for (int n = 3; n >= 1; --n) ASSERT_EQ(record(n, tool, kThreePoses[n - 1]), 0);

    double mass = 0, com[4] = {0, 0, 0, -7};  // com[3]: nothing is written past the centre
    ASSERT_EQ(kxmcSensorComload(&mass, com), 0);
    EXPECT_EQ(kxmcSensorComload(&mass, nullptr), -1);
    EXPECT_EQ(com[3], -7.0);
    EXPECT_NEAR(mass, tool.mass, 0.01 * tool.mass);
    EXPECT_EQ(mpb.forceSensorLoadWeight, mass);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(com[k], 1000 * tool.com(k), 2.0) << "axis " << k;
        EXPECT_EQ(mpb.forceSensorLoadCoord[k], com[k]);
    }
    // Offsets within the counts: one for forces; two for moments, whose offset also carries the
    // centre's error (a tenth of a millimetre) times the weight.
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(mcb.forceSensorZeroOffset[i], tool.offset[i],
                    i < 3 ? source_.force_per_count() : 2 * source_.moment_per_count())
            << "offset " << i;
}

TEST_F(Poses, RecordingRefusals) {
    const Tool light{0.1, {0, 0, 0.02}, {}}, felt{0.15, {0, 0, 0.02}, {}};  // 0.98 N and 1.47 N
    const Tool lever{0.09, {0, 0.12, 0}, {}};  // 0.88 N at 120 mm: 0.106 N m about X
    const KDL::Rotation down = rpy_deg(180, 0, 0);
    struct Row {
        const char *name;
        int n;
        const Tool *tool;
        double load, coord;
        int32_t result;
    };
    const Row rows[] = {
        {"index 0", 0, &felt, 0, 0, -3},
        {"index 4", 4, &felt, 0, 0, -3},
        {"index -1", -1, &felt, 0, 0, -3},
        {"pose 1 without load", 1, &light, 0, 0, -1},
        {"pose 2 without load", 2, &light, 0, 0, 0},
        {"pose 1 with load", 1, &felt, 0, 0, 0},
        {"mass configured", 1, &felt, 2.0, 0, -2},
        {"centre configured", 3, &felt, 0, 2e-6, -2},
        {"mass at the limit", 3, &felt, 1e-6, -1e-6, 0},
        {"centre at the limit", 2, &felt, 0, 1e-6, 0},
        {"a moment alone is a load felt", 1, &lever, 0, 0, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        mpb.forceSensorLoadWeight = r.load;
        mpb.forceSensorLoadCoord[2] = r.coord;
        mcb.forceSensorZeroOffset[4] = 0.25;
        read(*r.tool, down);
        EXPECT_EQ(kxmcSaveSensorDataFlag(r.n), r.result);
        EXPECT_EQ(mcb.forceSensorZeroOffset[4], r.result == 0 ? 0.0 : 0.25);
    }
    // The no-load band is open: exactly 1 N or 0.1 N m, of either sign, is a load felt.
    for (int i = 0; i < 6; ++i) {
        std::memset(mcb.forceSensorCompWrench, 0, sizeof mcb.forceSensorCompWrench);
        mcb.forceSensorCompWrench[i] = (i < 3 ? 1.0 : 0.1) * (i % 2 == 0 ? 1 : -1);
        EXPECT_EQ(kxmcSaveSensorDataFlag(1), 0) << "component " << i;
    }
}

TEST_F(Poses, DegeneratePosesAreRefusedWithTheirLogs) {
    const Tool tool{2.0, {0.01, 0.02, 0.07}, {0.3, 0, 0, 0, 0, 0}};
    double mass = -1, com[3] = {-1, -1, -1};
    // Nothing recorded yet, then the first pose still missing.
    EXPECT_EQ(kxmcSensorComload(&mass, com), -1);
    for (int n = 3; n >= 2; --n) ASSERT_EQ(record(n, tool, kThreePoses[n - 1]), 0);
    EXPECT_EQ(kxmcSensorComload(&mass, com), -1);
    EXPECT_EQ(mass, -1.0);

    // Three recordings in one orientation: the centre cannot be told from the offset.
    for (int n = 1; n <= 3; ++n) ASSERT_EQ(record(n, tool, rpy_deg(180, 0, 0)), 0);
    kxsim::clear_log();
    EXPECT_EQ(kxmcSensorComload(&mass, com), -1);
    expect_refusal_logs("ThreePointDataCalibration1", 2, "ThreePointData12: data2",
                        mcb.forceSensorCompWrench);
    EXPECT_EQ(mpb.forceSensorLoadWeight, 0.0);
    EXPECT_EQ(mpb.forceSensorLoadCoord[0], 0.0);

    // Turning about one horizontal axis gives the centre but leaves the weight's component along
    // that axis unknown: the second stage fails, the centre stays written, the offsets are not.
    for (int n = 1; n <= 3; ++n) ASSERT_EQ(record(n, tool, rpy_deg(180 - 40 * (n - 1), 0, 0)), 0);
    kxsim::clear_log();
    EXPECT_EQ(kxmcSensorComload(&mass, com), -1);
    expect_refusal_logs("ThreePointDataCalibration2", 3, "ThreePointData23: data",
                        mcb.forceSensorCompWrench);  // the last pose recorded
    EXPECT_NEAR(mpb.forceSensorLoadCoord[2], 70.0, 2.0);
    EXPECT_EQ(mpb.forceSensorLoadWeight, 0.0);
    EXPECT_EQ(mcb.forceSensorZeroOffset[0], 0.0);
}

using HostCollected = SensorFixture;

TEST_F(HostCollected, CentreFromThreeWrenchesWeightFromFzAndTheSensorReading) {
    const KDL::Vector com(0.03, -0.015, 0.09), g(0, 0, -9.8);
    double data[18], out[3] = {}, m = 0;
    // Two orientations (the second held twice) give the centre; one does not.
    for (int i = 0; i < 3; ++i) {
        const KDL::Vector w = kThreePoses[std::min(i, 1)].Inverse() * (2.5 * g);
        to_array(KDL::Wrench(w, com * w), data + 6 * i);
    }
    ASSERT_EQ(qmcForceSensor_loadCoordIdentify(data, out), 0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[k], 1000 * com(k), 1e-6);
    for (int i = 1; i < 3; ++i)
        std::memcpy(data + 6 * i, data, 6 * sizeof(double));  // one orientation
    EXPECT_EQ(qmcForceSensor_loadCoordIdentify(data, out), -1);
    EXPECT_NEAR(out[2], 90.0, 1e-6);
    expect_refusal_logs("threePointCalibration", 3, "threePoint3: data", data);
    for (double fz : {-19.6, 19.6}) {
        ASSERT_EQ(qmcForceSensor_loadWeightIdentify(ForceSensorWrench{{3, 4, fz, 1, 1, 1}}, &m), 0);
        EXPECT_NEAR(m, 2.0, 1e-12);
    }
    struct Row {
        int32_t frame;
        uint8_t zero, ref;
        double load;
        int32_t result;
    };
    const Row rows[] = {{257, 1, 0, 0, -1}, {-1, 1, 0, 0, -1},  {3, 0, 0, 0, -2},
                        {3, 1, 1, 0, -3},   {3, 1, 0, 1.0, -4}, {256, 1, 0, 0, 0}};
    const double w[6] = {1, 2, 3, 0.1, 0.2, 0.3};
    for (const Row &r : rows) {
        SCOPED_TRACE(&r - rows);
        std::memset(mpb.activeWorkpieceFrame, 0, sizeof mpb.activeWorkpieceFrame);
        mpb.workpieceFrameTable[256][7] = 77;
        std::memcpy(mpb.forceSensorWrench, w, sizeof w);
        mcb.forceSensorZeroFlag = r.zero;
        mcb.forceSensorRefCoord = r.ref;
        mpb.forceSensorLoadWeight = r.load;
        double read[6] = {};
        EXPECT_EQ(qmcGetForceSensorData_loadIdentify(r.frame, read), r.result);
        EXPECT_EQ(mpb.activeWorkpieceFrame[7], r.result == 0 ? 77u : 0u);
        EXPECT_EQ(read[5], r.result == 0 ? 0.3 : 0.0);
    }
    EXPECT_EQ(qmcGetForceSensorData_loadIdentify(256, nullptr), -1);  // nowhere to put the reading
}

}  // namespace
