// Pointer arguments from the host are not trusted either: every exported routine that takes
// them refuses a null one (its stated result, nothing written) instead of dereferencing it,
// and none writes past the end of the arrays it fills.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <tuple>
#include <type_traits>
#include <utility>

#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"

namespace {

constexpr double kGuard = 123.0;  // stored one past the end of every array handed out

// An array of N elements followed by a guard element, checked when the array goes out of scope.
template <class T, int N>
struct Guarded {
    explicit Guarded(T fill = T(1)) {
        for (int i = 0; i < N; ++i) v[i] = fill;
        v[N] = static_cast<T>(kGuard);
    }
    Guarded(const Guarded &) = delete;
    ~Guarded() { EXPECT_EQ(v[N], static_cast<T>(kGuard)) << "written past an array of " << N; }
    operator T *() { return v; }
    T v[N + 1];
};

template <class F, std::size_t... I>
void for_each_index(F f, std::index_sequence<I...>) {
    (f(std::integral_constant<std::size_t, I>{}), ...);
}

// Calls f with the arguments as given (expecting `ok`), then once with each pointer argument
// listed in `nulled` (0-based; all pointer arguments when empty) replaced by null (expecting
// `refused`).
template <class R, class... A, class... V>
void check(const char *name, R (*f)(A...), R ok, R refused, std::initializer_list<int> nulled,
           V... v) {
    const std::tuple<A...> args(v...);
    EXPECT_EQ(std::apply(f, args), ok) << name;
    const auto each = [&](auto index) {
        constexpr std::size_t i = decltype(index)::value;
        using Arg = std::tuple_element_t<i, std::tuple<A...>>;
        if constexpr (std::is_pointer_v<Arg>) {
            bool listed = nulled.size() == 0;
            for (int k : nulled) listed = listed || k == static_cast<int>(i);
            if (listed) {
                auto with_null = args;
                std::get<i>(with_null) = nullptr;
                EXPECT_EQ(std::apply(f, with_null), refused) << name << " argument " << i + 1;
            }
        }
    };
    for_each_index(each, std::index_sequence_for<A...>{});
}

#define CHECK(f, ...) check(#f, f, __VA_ARGS__)

using PointerArguments = kxsim_test::HostFixture;

TEST_F(PointerArguments, NullIsRefusedAndNothingIsWrittenPastTheOutputs) {
    Guarded<float, 36> f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14;
    Guarded<double, 36> d1, d2, d3, d4, d5, d6, d7, d8, d9, d10, d11, d12, d13;
    Guarded<double, 6> o1, o2, o3, o4, o5, o6, o7;
    Guarded<float, 6> fo, half(0.5f);
    Guarded<double, 6> ones(1.0);  // gains and levels a setter accepts
    Guarded<int16_t, 6> i16;
    Guarded<int32_t, 6> i32(5);
    Guarded<uint8_t, 8> u8a, u8b;
    PIDRecord pid[7] = {};
    Guarded<double, 12> gain;
    double tilt = 0.0, rot = 0.0, power = 0.0, scalar = 0.0;
    uint8_t state = 0;
    LowpassFilter smoother{};
    const Trsf frame = kxsim::flange_transform(mpb.jointPos);
    mpb.jointNum = 99;  // per-joint loops stay within six joints
    for (int j = 0; j < 6; ++j) o7.v[j] = mpb.jointPos[j];  // a regular pose

    // Dynamics.
    CHECK(qmckxdynamicblock, 0, -1, {}, +f1, +f2, +f3, +f4, +f5, +f6, +f7, +f8, +f9, +f10, +f11,
          +f12, +f13, +f14);
    CHECK(qmckxTZdynamicblock, 0, -1, {}, +d1, +d2, +d3, +d4, +d5, +d6, +d7, +d8, +d9, +d10, +o1);
    CHECK(qmcPXkx10dynamicblock, 0, -1, {}, +d1, +d2, +d3, +d4, +d5, +d6, +d7, +o2);
    CHECK(output_MCG, 0, -1, {}, +d1, +d2, +d3, 1.0, +d4, +d11, +d12, +o3);
    CHECK(kxmcInvGravity, 0, -1, {}, +d1, +d2, +d3, +d4, +d5, +d6, +o4);
    CHECK(kxqmckxdynamicblock, 0, -1, {0, 5, 6, 7, 8, 9, 10, 12}, +o7, 0.0, 0.0, 0.0, 1.0, +o5, +f1,
          +f2, +f3, +f4, +f5, +f6, +d13);
    CHECK(kxTZqmckxdynamicblock, 0, -1, {}, +o7, 0.0, 0.0, 0.0, 1.0, +o6, +d1, +d2, +d3, +d4, +d5);
    CHECK(kxPXqmckxdynamicblock, 0, -1, {}, +o7, 0.0, 0.0, 0.0, 1.0, +o1, +d1, +d2);
    CHECK(kxmcJointDefaultTorque, 0, 0, {}, +fo);
    CHECK(kxmcGravityTorque, 0, 0, {}, +o7, +d1, +o2);
    CHECK(kxmcNewGravityTorque, 0, 0, {}, +o7, +d1, +o3);
    CHECK(kxmcendload, 0, 0, {}, 0.0, 0.0, +o7, 0.0, 0.0, 50.0, 1.0, +o4, 102);
    CHECK(qmcGetRobotInstallAngle, 0, -1, {}, &tilt, &rot);
    CHECK(qmcPosAddTrsfToRCS, 0, -1, {}, 1.0f, 2.0f, 3.0f, 0.0f, 0.0f, 0.0f, +fo);
    CHECK(frictionCompensation, 0, 0, {}, +o1, +o5);
    CHECK(frictionCalculate, 0.0f, 0.0f, {}, +f1, 0.0f);
    CHECK(PIDInit, 0, -1, {}, pid, 1.0, 0.0, 0.0);
    CHECK(PID_increase_Calc, 0, -1, {}, pid, 0.5, &scalar);
    CHECK(teachcontrol5, 0, -1, {}, pid, frame, +o7, +o1, +o6);
    CHECK(kx10_pretau, 0, -1, {}, pid, frame, +o7, +o2);
    CHECK(kxmcimpedencejoint, 0, -1, {}, pid, +o7, +o1, +o3);
    CHECK(kxmcteachcontrolinterfere, 0, -1, {}, pid, uint8_t{2}, 1, frame, +o7, +o1, +o4);
    CHECK(kxmcteachcontrol3_gravitytest, 0, -1, {}, 0.0, 0.0, +gain, +o7, +o5, 1);
    CHECK(kxmcteachcontrol5_gravitytest, 0, -1, {}, 0.0, 0.0, +gain, +o7, +o6, 102);
    CHECK(qmcSetFrictionValue_free, 0, -1, {}, +half);
    CHECK(qmcSetJointFrictionGain, 0, -1, {}, +ones, +ones, +ones, +ones);
    CHECK(qmcSetDragLockPara, 0, -1, {}, +ones, +ones, +ones);
    CHECK(qmcPowerReal, 0, 0, {}, +o1, &power);
    CHECK(kxmcVibrateAbateControl, 0, 0, {}, +fo);

    // Collision.
    CHECK(qmcSetCollisionPause, 0, -1, {}, uint8_t{2}, 100u, 10u, 10u, +i32);
    CHECK(qmcSetCollisionLevel, 0, -1, {}, uint8_t{0}, +half, uint8_t{0}, 7u);
    CHECK(qmcGetCollisionState, 0, -1, {}, &state);
    CHECK(JointMaxAcc, 0, -1, {}, +fo);
    CHECK(MaxJointVel, 0, 0, {}, +o2);
    CHECK(dynamicCurrentCollisionLimit, 0, 0, {}, 5, +o3);
    CHECK(kxmcCustomCollisionDetectionMain, 0, 0, {}, +o1, +o2);
    CHECK(kxmcSetCustomCollisionDetection, 0, -1, {}, uint8_t{3}, +f1, +f2);
    CHECK(kxmcGetInterfereStatus, 0, -1, {}, +u8a, +u8b, +u8b);
    CHECK(kxmcGetJointStatus, 0, -1, {}, +o1, +o2, +o3, +o4, +o5, +o6, +d1);
    CHECK(kxmcGetJointCurrent, 0, -1, {}, +o1);
    Guarded<float, 6> lower(-1.0f), upper(1.0f);
    CHECK(qmcTorqueRecordStartEnd, 0, -1, {}, uint8_t{0}, uint8_t{0}, +lower, +upper, +i32, 9u);
    CHECK(kxmcTorqueRecordCollision, 0, -1, {}, +i16);
    CHECK(collisionMessageSave, 0, -1, {}, +o1, +o2);
    CHECK(findHistoryCurrentSet, 0, 0, {}, int16_t{5}, +i16);
    CHECK(kxmcCollisionDetection, 0, 0, {}, 0, +f1);

    // Numerics and the self-test torque.
    double *rows[6] = {d1, d2, d3, d4, d5, d6};
    CHECK(kx16_jacob, 0, -1, {3}, +o7, +o1, +o2, rows);
    CHECK(myfilter, 4, -1, {}, 2, 1.0, &scalar);
    CHECK(init_lowpassfilter, 0, -1, {}, &smoother, 1.0f, 0.1f);
    CHECK(lowpassfilterMain, 0, -1, {}, &smoother, +o1, +fo);
    CHECK(LoadPosbuttord, 0, -1, {}, 1, 1, &scalar);
    const MatHead out{0, 5, 0, 0, 0, rows};
    CHECK(computeKx10_selftautest, 0, -1, {}, +d7, +d8, +d9, out);
    // A result header of any other shape, or one missing a row, is refused as well.
    const MatHead shapes[] = {{1, 5, 0, 0, 0, rows},
                              {0, 4, 0, 0, 0, rows},
                              {0, 5, 1, 0, 0, rows},
                              {0, 5, 0, 1, 0, rows},
                              {0, 5, 0, 0, 0, nullptr}};
    for (const MatHead &h : shapes) EXPECT_EQ(computeKx3_selftautest(d7, d8, d9, h), -1);
    rows[5] = nullptr;
    EXPECT_EQ(computeKx16_selftautest(d7, d8, d9, out), -1);
    EXPECT_EQ(kx3_jacob(o7, nullptr, nullptr, rows), -1);

    EXPECT_EQ(pid[6].Kp, 0.0) << "six PID records";
}

// The wrist sensor, the momentum observer, the joint-space matrices and the excitation
// identification: each null pointer refused with the stated result, nothing past the outputs.
TEST_F(PointerArguments, NewerEntryPointsRefuseNullAndKeepWithinTheirOutputs) {
    mcb.forceSensorAct = 1;  // the sensor commands need processing on
    Guarded<double, 6> in1(0.5), in2(0.5), in3(0.5), in4(0.5), in5(0.5), ones(1.0), zeros(0.0);
    Guarded<double, 6> o1, o2, o3, o4;
    Guarded<double, 3> c3;
    Guarded<float, 6> fv(0.1f), fo, pose(0.0f);
    Guarded<uint8_t, 6> sel(1), none(0);
    Guarded<int32_t, 6> counts(3);
    double scalar = 0.0, gain = 0.01;
    int32_t word = 0, word2 = 0;
    uint8_t byte = 0;
    PIDRecord pid{};
    MovingAverage average{};
    NotchFilter notch{};
    ButterWorthFilter butter{};
    const Trsf frame = kxsim::flange_transform(mpb.jointPos);
    Trsf goal{};

    // Sensor processing, settings and end-force guiding.
    CHECK(forceSensorDataProcess, 0, 0, {}, +counts);
    CHECK(trsfToRCS_force, 0, -1, {}, +o1);
    CHECK(forceSensorDataGravityCompensation, 0, -1, {}, +o2);
    CHECK(qmcGetForceSensorAct, 0, -1, {}, &byte);
    CHECK(kxmcGetForceSensorState, 0, -1, {}, &byte);
    CHECK(qmcSetForceSensorRcs, 0, -1, {}, uint8_t{0}, +pose, 4u);
    CHECK(kxmcEndForceDragstartstop, 0, -1, {}, 0, 0, 0, 0, +ones, +ones, +zeros, +ones, 100.0,
          90.0);
    CHECK(kxmcGetEndForceDragStartStopState, 0, -1, {}, &word);
    CHECK(kxmcAdmittanceControl, 0, -1, {}, 0, +ones, +ones, +zeros, +in1, 0.001, +zeros, +o3, +o4);
    CHECK(kxmcForceSensorVirtualWall, 0, -1, {}, +fv, +fo);
    CHECK(SensorDragbuttord, 0, -1, {}, 0, 0, &scalar);
    CHECK(kxmcButterWorthFiltInit, 0, -1, {}, &butter, 0);
    CHECK(kxmcButterWorthFiltProcessData, 0, -1, {}, &butter, 1.0, &scalar, 0);
    CHECK(kxmcKalmanEnvironmenModelEvaluate, 0, -1, {}, +in1, +in2, +in3, +c3);
    // A null goal is refused like a goal without inverse kinematics.
    CHECK(kxmcEndForceDragToCart, 0, -7, {}, frame, &goal);

    // Force-and-torque guiding.
    CHECK(kxmcForceAndTorqueDragStartStop, 0, -1, {}, 0, 0, +ones, +ones, +in1, 100.0, 90.0);
    CHECK(kxmcGetForceAndTorqueDragState, 0, 0, {}, &word, &word2);
    CHECK(kxmcForceDataToTorque, 0, -1, {}, +o4, +o1);
    CHECK(TwoForceAndTorqueDragbuttord, 0, -1, {}, 0, 0, &scalar);

    // Constant force and its building blocks.
    CHECK(qmcConstForceStartStop, 0, -1, {}, uint8_t{0}, 0, +none, +zeros, +ones, uint8_t{0},
          uint8_t{0}, 10.0, 5.0, 100.0, uint8_t{0}, uint8_t{0}, 5u);
    CHECK(constForceControl, 0, -1, {}, frame, &goal);
    CHECK(PIDCalc, 0, -1, {}, &pid, 0.5, &scalar);
    CHECK(kxmcILCinit, 0, -1, {}, &mcb.constForceIlc[0], 1);
    CHECK(kxmcFTControl_Admittance, 0, -1, {}, 0, +ones, +ones, +zeros, +in2, 0.001, +o2);
    CHECK(buttordFTControl, 0, -1, {}, 0, 0, &scalar);
    CHECK(buttordFTControlThetaf, 0, -1, {}, 0, 0, &scalar);
    CHECK(init_filter, 0, -1, {}, &average);
    CHECK(update_filter, 2.0f, 0.0f, {}, &average, 2.0f);
    CHECK(init_notch, 0, -1, {}, &notch, 10.0, 5.0);
    EXPECT_EQ(notch_process(nullptr, 3.0), 3.0);
    EXPECT_EQ(kxmcPIDAdjust(21, 1.0, &gain), 0);

    // Sensor collisions and the tool load identification.
    CHECK(qmcCollisionStartStop, 0, -1, {}, uint8_t{0}, 0, +sel, +zeros, +ones, +ones, 6u);
    // Three wrenches of a centre of mass at (1, 2, 3) m: M = r x F.
    Guarded<double, 18> wrenches;
    const double w[18] = {0, 0, -10, -20, 10, 0, 10, 0, 0, 0, 30, -20, 0, 10, 0, -30, 0, 10};
    for (int i = 0; i < 18; ++i) wrenches.v[i] = w[i];
    CHECK(qmcForceSensor_loadCoordIdentify, 0, -1, {}, +wrenches, +c3);
    CHECK(qmcForceSensor_loadWeightIdentify, 0, -1, {}, ForceSensorWrench{{0, 0, -9.8, 0, 0, 0}},
          &scalar);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(c3.v[i], 1000.0 * (i + 1), 1e-6) << "centre [mm] " << i;

    // Momentum observer and the joint-space matrices.
    Guarded<double, 36> M, V;
    Guarded<double, 6> g, thr;
    double *m_rows[6], *v_rows[6], *g_rows[6];
    for (int i = 0; i < 6; ++i)
        m_rows[i] = M.v + 6 * i, v_rows[i] = V.v + 6 * i, g_rows[i] = g.v + i;
    CHECK(com_M_matrix, 0, -1, {}, +in1, MatHead{0, 5, 0, 5, 0, m_rows});
    CHECK(com_C_matrix, 0, -1, {}, +in1, +in2, MatHead{0, 5, 0, 5, 0, v_rows});
    CHECK(com_G_matrix, 0, -1, {}, +in1, MatHead{0, 5, 0, 0, 0, g_rows});
    CHECK(kxmcMomentumObserver, 0, -1, {2, 3, 4}, 0u, 0u, +M, +V, +g, 0u, +thr);
    EXPECT_EQ(kxmcMomentumObserver(0, 0, M, V, g, 0, nullptr), 0);  // the threshold is optional

    // Excitation identification.
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    CHECK(kxmcloadidentifymain, 0, -1, {}, +in4, +in5, 10.0);
    CHECK(filter_data, 0, -1, {}, 0, 1, &scalar);
    CHECK(kxmcComputefourierAccVelPos, false, true, {}, 0.0, 1.0, 8000.0, 10u, +o3);
    Guarded<double, 3> motion;
    CHECK(kxmcComputefourierMotion, 0, -1, {}, 0u, 8000.0, 0u, +motion);
    ExcitationResultBlock block{};
    block.value[4] = 1.0;
    CHECK(kxmcgetloadidentifyresult, -2, -1, {}, block, &scalar, +c3);
    EXPECT_EQ(qmcComIdentifyInv(nullptr), -1);
    EXPECT_EQ(Store_free(), 0);
    uint32_t peaks = 7, valleys = 7;
    findPeaksAndValleys(nullptr, 5, +o1, +o2, &peaks, &valleys);
    EXPECT_EQ(peaks + valleys, 0u) << "no data, nothing found";
}

#undef CHECK

}  // namespace
