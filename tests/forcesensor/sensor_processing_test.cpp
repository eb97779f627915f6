// Sensor processing: counts to newtons by sensor model and range, Kalman filtering, fault
// inputs, and the compensation and frames checked against rigid-body statics computed with KDL.
#include <vector>

#include <gtest/gtest.h>

#include "sensor_fixture.hpp"

namespace {

using namespace sensor_test;
using Processing = SensorFixture;

void expect_wrench(const double *got, const double want[6], double tol_force, double tol_moment,
                   const char *what) {
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(got[i], want[i], i < 3 ? tol_force : tol_moment) << what << " component " << i;
}

// Gravity [m/s^2] in base axes of an arm installed with tilt t and rotation r: the world's
// down turned by Rz(r) Ry(t) (floor (0, 0): -Z, wall (90, 0): -X, ceiling (180, 0): +Z).
KDL::Vector gravity_in_base(double tilt_deg, double rot_deg) {
    return KDL::Rotation::RotZ(rot_deg * kPi / 180) * KDL::Rotation::RotY(tilt_deg * kPi / 180) *
           KDL::Vector(0, 0, -9.8);
}

TEST_F(Processing, ScalesEverySensorAsItsDataSheetAndKeepsValuesForUnknownOnes) {
    const int32_t counts[6] = {4096, -4096, 4096, -4096, 1234, -4096};
    int32_t words[6];
    for (int i = 0; i < 6; ++i) words[i] = static_cast<int32_t>(0x12340000u | (counts[i] & 0xFFFF));
    reseed();
    forceSensorDataProcess(words);
    EXPECT_EQ(mpb.forceSensorRaw[2], 392.0);  // seeded with the first sample
    EXPECT_NEAR(mpb.forceSensorRaw[5], -15.68, 1e-12);
    for (uint8_t device : {0, 1}) {
        kxmcSetAxleDeviceType(device);
        for (int model = 0; model <= 100; ++model) {
            for (int range = 0; range <= 12; ++range) {
                double previous[6], f = 0, m = 0;
                mcb.forceSensorType = 16;  // previous values: 16 / 0
                mcb.forceSensorRange = 0;
                reseed();
                forceSensorDataProcess(words);
                std::memcpy(previous, mpb.forceSensorRaw, sizeof previous);
                mcb.forceSensorType = static_cast<uint8_t>(model);
                mcb.forceSensorRange = static_cast<uint8_t>(range);
                reseed();  // off zeroes the raw values; an unknown sensor would then keep the zeros
                std::memcpy(mpb.forceSensorRaw, previous, sizeof previous);
                forceSensorDataProcess(words);
                const bool known =
                    kxsim::sensor_resolution(uint8_t(model), uint8_t(range), &f, &m) &&
                    (model != 96 || device == 1);
                for (int i = 0; i < 6; ++i)
                    ASSERT_NEAR(mpb.forceSensorRaw[i],
                                known ? counts[i] * (i < 3 ? f : m) : previous[i],
                                1e-9 * std::fabs(previous[i]))
                        << "model " << model << " range " << range << " device " << int(device);
            }
        }
    }
}

TEST_F(Processing, KalmanFiltersEachChannelAndOffZeroesBothOutputs) {
    const double step[6] = {0, 0, 30, 0, 0, 0}, none[6] = {};
    cycle(none);
    cycle(step);
    // Random-walk filter with process and measurement variance 1, seeded with variance 1 and
    // run once on the seed (variance 2/3): gain (2/3 + 1) / (2/3 + 1 + 1) = 5/8 on the step.
    EXPECT_NEAR(mpb.forceSensorRaw[2], 5.0 / 8.0 * 313 * source_.force_per_count(), 1e-9);
    mcb.forceSensorAct = 0;
    forceSensorDataProcess(nullptr);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(mpb.forceSensorRaw[i] + mpb.forceSensorWrench[i], 0.0);
    mcb.forceSensorAct = 1;
    cycle(step);  // back on: seeded afresh with the first sample
    EXPECT_EQ(mpb.forceSensorRaw[2], 313 * source_.force_per_count());
}

TEST_F(Processing, FaultInputsReportAndCloseEveryForceFunction) {
    struct Case { bool in1, in2; uint8_t act, state; bool closed; };
    for (const Case &c : {Case{true, false, 1, 1, true}, Case{false, true, 1, 2, true},
                          Case{true, true, 1, 3, true}, Case{false, false, 1, 0, false},
                          Case{true, true, 0, 0, false}}) {
        mcb.forceSensorAct = c.act;
        mcb.endForceDragOn = mcb.forceTorqueDragOn = mcb.constForceOn = mcb.sensorCollisionOn =
            mcb.constForcePidAdjustMode = 1;
        mcb.constForceOffset[4] = 2.5;
        kxsim::set_sensor_fault_inputs(c.in1, c.in2);
        forceSensorDataProcess(nullptr);
        uint8_t state = 9;
        const int on = !c.closed;
        kxmcGetForceSensorState(&state);
        EXPECT_EQ(state, c.state) << int(c.state);
        EXPECT_EQ(mcb.endForceDragOn + mcb.forceTorqueDragOn, 2 * on) << int(c.state);
        EXPECT_EQ(mcb.constForceOffset[4], on * 2.5) << int(c.state);
        EXPECT_EQ(mcb.constForceOn + mcb.sensorCollisionOn + mcb.constForcePidAdjustMode, 3 * on);
        EXPECT_EQ(mcb.forceSensorAct, c.act);  // a fault does not switch the processing off
    }
}

// The tool (mass and centre of mass in the sensor frame) hangs on a sensor mounted turned and
// offset on the flange; at every installation and 100 random flange poses each the weight is
// removed to within the sensor's quantisation.
TEST_F(Processing, ToolWeightCancelsAtAnyOrientationAndInstallation) {
    const double mounting[6] = {5, -3, 30, 10, -20, 45}, mass = 1.7,
                 com[3] = {12, -25, 80};  // [mm, deg], [kg], [mm]
    std::copy(mounting, mounting + 6, mcb.forceSensorCoord);
    qmcSetForceSensorLoadWeight(mass, 1);
    qmcSetForceSensorLoadCoord(com[0], com[1], com[2], 2);
    const KDL::Frame sensor_on_flange = kdl_pose(mounting);
    const KDL::Vector com_s = KDL::Vector(com[0], com[1], com[2]) / 1000.0;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> pos(-800, 800);
    const double tol_f = 0.5 * source_.force_per_count() + 1e-9,
                 tol_m = 0.5 * source_.moment_per_count() + 1e-9, zero[6] = {};
    for (double tilt = -360; tilt <= 360; tilt += 45) {
        for (double rot : {0.0, 60.0, -135.0}) {
            mcb.installTilt = tilt;
            mcb.installRot = rot;
            const KDL::Vector g = gravity_in_base(tilt, rot);
            for (int k = 0; k < 100; ++k) {
                const KDL::Frame flange(random_rotation(rng),
                                        KDL::Vector(pos(rng), pos(rng), pos(rng)) / 1000.0),
                    sensor = flange * sensor_on_flange;
                // Weight at the centre of mass, moved to the sensor origin, in sensor axes.
                double w[6];
                to_array(sensor.M.Inverse(KDL::Wrench(mass * g, KDL::Vector::Zero())
                                              .RefPoint(sensor.p - sensor * com_s)),
                         w);
                mpb.flangePose = trsf(flange);
                reseed();
                cycle(w);
                expect_wrench(mcb.forceSensorCompWrench, zero, tol_f, tol_m, "compensated");
                if (HasFailure()) return;
            }
        }
    }
}

// A push at a point of the tool on top of its weight: the output wrench is that push in the
// chosen frame. Flange: about the flange origin; base: about the sensor origin in base axes;
// tool: flange moment in tool axes, or about the tool point while constant force runs; any
// other frame: the sensor-frame wrench.
TEST_F(Processing, ContactWrenchInEveryOutputFrame) {
    const double mounting[6] = {0, 8, 42, 0, 0, -30}, tool_pose[6] = {10, 20, 150, 0, 30, 90},
                 mass = 0.9, com[3] = {0, 5, 60};
    std::copy(mounting, mounting + 6, mcb.forceSensorCoord);
    qmcSetForceSensorLoadWeight(mass, 1);
    qmcSetForceSensorLoadCoord(com[0], com[1], com[2], 2);
    mpb.toolTrsf = trsf(kdl_pose(tool_pose));
    mcb.installTilt = 30;
    mcb.installRot = 45;
    std::mt19937 rng(2);
    for (int k = 0; k < 20; ++k) {
        const KDL::Frame flange(random_rotation(rng), KDL::Vector(0.3, -0.2, 0.5)),
            sensor = flange * kdl_pose(mounting), tool = flange * kdl(mpb.toolTrsf);
        mpb.flangePose = trsf(flange);
        const KDL::Vector point = tool * KDL::Vector(0.005, -0.008, 0.02);  // near the tool tip
        const KDL::Wrench push(KDL::Vector(12, -7, 20), KDL::Vector(0, 0, 0.4));  // base, at point
        const KDL::Wrench weight(mass * gravity_in_base(30, 45), KDL::Vector::Zero());
        const KDL::Vector com_b = sensor * (KDL::Vector(com[0], com[1], com[2]) / 1000.0);
        double w[6], want[6];
        to_array(
            sensor.M.Inverse(push.RefPoint(sensor.p - point) + weight.RefPoint(sensor.p - com_b)),
            w);
        struct Frame { uint8_t ref, const_force; KDL::Wrench want; };
        const Frame frames[] = {{0, 0, flange.M.Inverse(push.RefPoint(flange.p - point))},
                                {1, 0, push.RefPoint(sensor.p - point)},
                                {2, 0, tool.M.Inverse(push.RefPoint(flange.p - point))},
                                {2, 1, tool.M.Inverse(push.RefPoint(tool.p - point))},
                                {7, 0, sensor.M.Inverse(push.RefPoint(sensor.p - point))}};
        for (const Frame &f : frames) {
            mcb.forceSensorRefCoord = f.ref;
            mcb.constForceOn = f.const_force;
            reseed();
            cycle(w);
            to_array(f.want, want);
            expect_wrench(mpb.forceSensorWrench, want, 0.15, 0.02, "output frame");
        }
    }
}

TEST_F(Processing, ZeroAndOffsetsAndTheLoadLeftInWhileIdentificationRuns) {
    const double w[6] = {3, -2, 25, 0.1, -0.3, 0.05};
    qmcSetForceSensorLoadWeight(2.0, 1);
    mcb.forceSensorZeroFlag = 1;
    mcb.installTilt = 90;
    mpb.flangePose = trsf(KDL::Frame::Identity());  // gravity along -X of base and sensor
    for (int i = 0; i < 6; ++i) {
        mcb.forceSensorZero[i] = 0.5 * i;
        mcb.forceSensorZeroOffset[i] = -0.25;
    }
    struct Case { uint8_t identifying; double weight_x; double offset; };
    for (const Case &c : {Case{0, -19.6, -0.25}, Case{1, 0.0, 0.0}}) {
        mcb.loadIdentifyDynOn = c.identifying;
        reseed();
        cycle(w);
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR(mcb.forceSensorCompWrench[i],
                        mpb.forceSensorRaw[i] - 0.5 * i - (i == 0 ? c.weight_x : 0) - c.offset,
                        1e-9)
                << int(c.identifying) << " " << i;
    }
}

}  // namespace
