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

// An array of N elements followed by a guard element.
template <class T, int N>
struct Guarded {
    explicit Guarded(T fill = T(1)) {
        for (int i = 0; i < N; ++i) v[i] = fill;
        v[N] = static_cast<T>(kGuard);
    }
    operator T *() { return v; }
    bool intact() const { return v[N] == static_cast<T>(kGuard); }
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
    check("qmckxdynamicblock", qmckxdynamicblock, 0, -1, {}, +f1, +f2, +f3, +f4, +f5, +f6, +f7, +f8,
          +f9, +f10, +f11, +f12, +f13, +f14);
    check("qmckxTZdynamicblock", qmckxTZdynamicblock, 0, -1, {}, +d1, +d2, +d3, +d4, +d5, +d6, +d7,
          +d8, +d9, +d10, +o1);
    check("qmcPXkx10dynamicblock", qmcPXkx10dynamicblock, 0, -1, {}, +d1, +d2, +d3, +d4, +d5, +d6,
          +d7, +o2);
    check("output_MCG", output_MCG, 0, -1, {}, +d1, +d2, +d3, 1.0, +d4, +d11, +d12, +o3);
    check("kxmcInvGravity", kxmcInvGravity, 0, -1, {}, +d1, +d2, +d3, +d4, +d5, +d6, +o4);
    check("kxqmckxdynamicblock", kxqmckxdynamicblock, 0, -1, {0, 5, 6, 7, 8, 9, 10, 12}, +o7, 0.0,
          0.0, 0.0, 1.0, +o5, +f1, +f2, +f3, +f4, +f5, +f6, +d13);
    check("kxTZqmckxdynamicblock", kxTZqmckxdynamicblock, 0, -1, {}, +o7, 0.0, 0.0, 0.0, 1.0, +o6,
          +d1, +d2, +d3, +d4, +d5);
    check("kxPXqmckxdynamicblock", kxPXqmckxdynamicblock, 0, -1, {}, +o7, 0.0, 0.0, 0.0, 1.0, +o1,
          +d1, +d2);
    check("kxmcJointDefaultTorque", kxmcJointDefaultTorque, 0, 0, {}, +fo);
    check("kxmcGravityTorque", kxmcGravityTorque, 0, 0, {}, +o7, +d1, +o2);
    check("kxmcNewGravityTorque", kxmcNewGravityTorque, 0, 0, {}, +o7, +d1, +o3);
    check("kxmcendload", kxmcendload, 0, 0, {}, 0.0, 0.0, +o7, 0.0, 0.0, 50.0, 1.0, +o4, 102);
    check("qmcGetRobotInstallAngle", qmcGetRobotInstallAngle, 0, -1, {}, &tilt, &rot);
    check("qmcPosAddTrsfToRCS", qmcPosAddTrsfToRCS, 0, -1, {}, 1.0f, 2.0f, 3.0f, 0.0f, 0.0f, 0.0f,
          +fo);
    check("frictionCompensation", frictionCompensation, 0, 0, {}, +o1, +o5);
    check("frictionCalculate", frictionCalculate, 0.0f, 0.0f, {}, +f1, 0.0f);
    check("PIDInit", PIDInit, 0, -1, {}, pid, 1.0, 0.0, 0.0);
    check("PID_increase_Calc", PID_increase_Calc, 0, -1, {}, pid, 0.5, &scalar);
    check("teachcontrol5", teachcontrol5, 0, -1, {}, pid, frame, +o7, +o1, +o6);
    check("kx10_pretau", kx10_pretau, 0, -1, {}, pid, frame, +o7, +o2);
    check("kxmcimpedencejoint", kxmcimpedencejoint, 0, -1, {}, pid, +o7, +o1, +o3);
    check("kxmcteachcontrolinterfere", kxmcteachcontrolinterfere, 0, -1, {}, pid, uint8_t{2}, 1,
          frame, +o7, +o1, +o4);
    check("kxmcteachcontrol3_gravitytest", kxmcteachcontrol3_gravitytest, 0, -1, {}, 0.0, 0.0,
          +gain, +o7, +o5, 1);
    check("kxmcteachcontrol5_gravitytest", kxmcteachcontrol5_gravitytest, 0, -1, {}, 0.0, 0.0,
          +gain, +o7, +o6, 102);
    check("qmcSetFrictionValue_free", qmcSetFrictionValue_free, 0, -1, {}, +half);
    check("qmcSetJointFrictionGain", qmcSetJointFrictionGain, 0, -1, {}, +ones, +ones, +ones,
          +ones);
    check("qmcSetDragLockPara", qmcSetDragLockPara, 0, -1, {}, +ones, +ones, +ones);
    check("qmcPowerReal", qmcPowerReal, 0, 0, {}, +o1, &power);
    check("kxmcVibrateAbateControl", kxmcVibrateAbateControl, 0, 0, {}, +fo);

    // Collision.
    check("qmcSetCollisionPause", qmcSetCollisionPause, 0, -1, {}, uint8_t{2}, 100u, 10u, 10u,
          +i32);
    check("qmcSetCollisionLevel", qmcSetCollisionLevel, 0, -1, {}, uint8_t{0}, +half, uint8_t{0},
          7u);
    check("qmcGetCollisionState", qmcGetCollisionState, 0, -1, {}, &state);
    check("JointMaxAcc", JointMaxAcc, 0, -1, {}, +fo);
    check("MaxJointVel", MaxJointVel, 0, 0, {}, +o2);
    check("dynamicCurrentCollisionLimit", dynamicCurrentCollisionLimit, 0, 0, {}, 5, +o3);
    check("kxmcCustomCollisionDetectionMain", kxmcCustomCollisionDetectionMain, 0, 0, {}, +o1, +o2);
    check("kxmcSetCustomCollisionDetection", kxmcSetCustomCollisionDetection, 0, -1, {}, uint8_t{3},
          +f1, +f2);
    check("kxmcGetInterfereStatus", kxmcGetInterfereStatus, 0, -1, {}, +u8a, +u8b, +u8b);
    check("kxmcGetJointStatus", kxmcGetJointStatus, 0, -1, {}, +o1, +o2, +o3, +o4, +o5, +o6, +d1);
    check("kxmcGetJointCurrent", kxmcGetJointCurrent, 0, -1, {}, +o1);
    Guarded<float, 6> lower(-1.0f), upper(1.0f);
    check("qmcTorqueRecordStartEnd", qmcTorqueRecordStartEnd, 0, -1, {}, uint8_t{0}, uint8_t{0},
          +lower, +upper, +i32, 9u);
    check("kxmcTorqueRecordCollision", kxmcTorqueRecordCollision, 0, -1, {}, +i16);
    check("collisionMessageSave", collisionMessageSave, 0, -1, {}, +o1, +o2);
    check("findHistoryCurrentSet", findHistoryCurrentSet, 0, 0, {}, int16_t{5}, +i16);
    check("kxmcCollisionDetection", kxmcCollisionDetection, 0, 0, {}, 0, +f1);

    // Numerics and the self-test torque.
    double *rows[6] = {d1, d2, d3, d4, d5, d6};
    check("kx16_jacob", kx16_jacob, 0, -1, {3}, +o7, +o1, +o2, rows);
    check("myfilter", myfilter, 4, -1, {}, 2, 1.0, &scalar);
    check("init_lowpassfilter", init_lowpassfilter, 0, -1, {}, &smoother, 1.0f, 0.1f);
    check("lowpassfilterMain", lowpassfilterMain, 0, -1, {}, &smoother, +o1, +fo);
    check("LoadPosbuttord", LoadPosbuttord, 0, -1, {}, 1, 1, &scalar);
    const MatHead out{0, 5, 0, 0, 0, rows};
    check("computeKx10_selftautest", computeKx10_selftautest, 0, -1, {}, +d7, +d8, +d9, out);
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

    const Guarded<float, 36> *floats[] = {&f1, &f2, &f3,  &f4,  &f5,  &f6,  &f7,
                                          &f8, &f9, &f10, &f11, &f12, &f13, &f14};
    const Guarded<double, 36> *doubles[] = {&d1, &d2, &d3,  &d4,  &d5,  &d6, &d7,
                                            &d8, &d9, &d10, &d11, &d12, &d13};
    const Guarded<double, 6> *joints[] = {&o1, &o2, &o3, &o4, &o5, &o6, &o7, &ones};
    for (int k = 0; k < 14; ++k) EXPECT_TRUE(floats[k]->intact()) << "float array " << k + 1;
    for (int k = 0; k < 13; ++k) EXPECT_TRUE(doubles[k]->intact()) << "double array " << k + 1;
    for (int k = 0; k < 8; ++k) EXPECT_TRUE(joints[k]->intact()) << "joint array " << k + 1;
    EXPECT_TRUE(fo.intact());
    EXPECT_TRUE(half.intact());
    EXPECT_TRUE(i16.intact());
    EXPECT_TRUE(i32.intact());
    EXPECT_TRUE(u8a.intact());
    EXPECT_TRUE(u8b.intact());
    EXPECT_TRUE(gain.intact());
    EXPECT_EQ(pid[6].Kp, 0.0) << "six PID records";
}

}  // namespace
