// Fuzz harness of the wrist sensor: its settings and sample processing, end-force hand guiding
// with the virtual walls, force-and-torque guiding, constant-force control with its PID, ILC,
// compliance, admittance and filter helpers, sensor collisions and the tool load
// identification. Servo cycles run the sensor processing, the torque cycle and whichever of the
// sensor's cycle functions the input selects, in an order the input chooses.
#include <cstdint>

#include "fuzz_host.hpp"
#include "kxmc/kxmcforcetorque.h"

using kxfuzz::any_byte;
using kxfuzz::any_double;
using kxfuzz::any_float;
using kxfuzz::any_int;
using kxfuzz::any_trsf;
using kxfuzz::fill;

namespace {

// An array argument: usually filled with arbitrary values, now and then null.
template <class T, std::size_t N>
T *maybe_null(FuzzedDataProvider &in, T (&a)[N]) {
    fill(in, a);
    return in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : a;
}

template <std::size_t N>
uint8_t *flags(FuzzedDataProvider &in, uint8_t (&a)[N]) {
    for (uint8_t &f : a)
        f = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(0, 1) : any_byte(in);
    return in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : a;
}

// The setters that persist their values rewrite the configuration file, which costs more than
// everything else an input does: a few of them per input keep the executions fast.
int g_persisting_calls = 0;
constexpr int kPersistingCallsPerInput = 3;
bool may_persist() { return g_persisting_calls++ < kPersistingCallsPerInput; }

uint32_t any_cmd(FuzzedDataProvider &in) { return static_cast<uint32_t>(any_int(in)); }

// A frame index: mostly within the work-piece table, sometimes any value.
int32_t any_frame(FuzzedDataProvider &in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 257) : any_int(in);
}

void settings(FuzzedDataProvider &in) {
    int which = in.ConsumeIntegralInRange<int>(0, 10);
    if (which <= 6 && !may_persist()) which = 9;
    switch (which) {
        case 0:
            qmcSetForceSensorAct(in.ConsumeBool() ? 1 : any_byte(in), any_cmd(in));
            break;
        case 1:
            qmcSetForceSensorZero(any_byte(in), any_cmd(in));
            break;
        case 2: {
            float pose[6];
            fill(in, pose);
            qmcSetForceSensorRcs(any_byte(in), pose, any_cmd(in));
            break;
        }
        case 3:
            qmcSetForceSensorLoadWeight(any_double(in), any_cmd(in));
            break;
        case 4:
            qmcSetForceSensorLoadCoord(any_double(in), any_double(in), any_double(in), any_cmd(in));
            break;
        case 5:
            qmcSetForceSensorDragAutoFlag(any_byte(in));
            break;
        case 6:
            forceSensorSaveLoadCoord();
            break;
        case 7:
            kxmcCloseForceSensor();
            break;
        case 8:
            resetForceControlPara();
            break;
        case 9: {
            uint8_t act, state;
            qmcGetForceSensorAct(&act);
            kxmcGetForceSensorState(&state);
            double w[6];
            trsfToRCS_force(w);
            forceSensorDataGravityCompensation(w);
            break;
        }
        default: {
            int32_t sample[6];
            forceSensorDataProcess(maybe_null(in, sample));
            break;
        }
    }
}

void end_force_guiding(FuzzedDataProvider &in) {
    int which = in.ConsumeIntegralInRange<int>(0, 8);
    if (which == 0 && !may_persist()) which = 1;
    switch (which) {
        case 0: {
            double inertia[6], damp[6], stiffness[6], threshold[6];
            kxmcEndForceDragstartstop(any_int(in), any_int(in), any_int(in), any_int(in),
                                      maybe_null(in, inertia), maybe_null(in, damp),
                                      maybe_null(in, stiffness), maybe_null(in, threshold),
                                      any_double(in), any_double(in));
            break;
        }
        case 1:
            kxmcEndForceDragStartStopControl(any_int(in));
            break;
        case 2: {
            int32_t state;
            kxmcGetEndForceDragStartStopState(in.ConsumeBool() ? &state : nullptr);
            break;
        }
        case 3:
            kxmcInitEndForceDragParam();
            break;
        case 4:
            kxmcEndForceDragParamReset();
            break;
        case 5: {
            double M[6], B[6], K[6], F[6], x[6], v[6], dx[6];
            fill(in, v);
            kxmcAdmittanceControl(in.ConsumeIntegralInRange<int32_t>(-1, 6), maybe_null(in, M),
                                  maybe_null(in, B), maybe_null(in, K), maybe_null(in, F),
                                  any_double(in), maybe_null(in, x), v, dx);
            break;
        }
        case 6:
            kxmcIsOverJntvel(any_trsf(in));
            break;
        case 7: {
            float v[6], Bw[6];
            kxmcForceSensorVirtualWall(maybe_null(in, v), Bw);
            double Fc[6];
            kxmcConstraintsAdmittance(Fc);
            break;
        }
        default: {
            double out;
            SensorDragbuttord(any_int(in), any_int(in), in.ConsumeBool() ? &out : nullptr);
            ButterWorthFilter rec;
            kxmcButterWorthFiltInit(&rec, any_int(in));
            for (int n = in.ConsumeIntegralInRange<int>(0, 8); n > 0; --n) {
                kxmcButterWorthFiltProcessData(&rec, any_double(in), &out, any_int(in));
            }
            break;
        }
    }
}

void force_torque_guiding(FuzzedDataProvider &in) {
    int which = in.ConsumeIntegralInRange<int>(0, 3);
    if (which == 0 && !may_persist()) which = 1;
    switch (which) {
        case 0: {
            double lambda[6], K[6], B[6];
            const bool sane = in.ConsumeBool();
            kxmcForceAndTorqueDragStartStop(
                sane ? in.ConsumeIntegralInRange<int32_t>(0, 1) : any_int(in),
                sane ? in.ConsumeIntegralInRange<int32_t>(0, 1) : any_int(in),
                maybe_null(in, lambda), maybe_null(in, K), maybe_null(in, B), any_double(in),
                any_double(in));
            break;
        }
        case 1: {
            int32_t end_force, force_torque;
            kxmcGetForceAndTorqueDragState(in.ConsumeBool() ? &end_force : nullptr,
                                           in.ConsumeBool() ? &force_torque : nullptr);
            break;
        }
        case 2: {
            double q[6], tau[6];
            kxmcForceDataToTorque(maybe_null(in, q), in.ConsumeBool() ? tau : nullptr);
            break;
        }
        default: {
            double out;
            TwoForceAndTorqueDragbuttord(any_int(in), any_int(in),
                                         in.ConsumeBool() ? &out : nullptr);
            break;
        }
    }
}

void constant_force(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 14)) {
        case 0: {
            uint8_t axis[6];
            double target[6], gains[6];
            kxmcILCreset();
            qmcConstForceStartStop(
                in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(0, 1) : any_byte(in),
                any_frame(in), flags(in, axis), maybe_null(in, target), maybe_null(in, gains),
                any_byte(in), any_byte(in), any_double(in), any_double(in), any_double(in),
                any_byte(in), any_byte(in), any_cmd(in));
            break;
        }
        case 1:
            kxmcCompliancestartstop(any_double(in), any_double(in), any_int(in), any_cmd(in));
            break;
        case 2: {
            // The controller's own records or a record of the caller's with any contents.
            PIDRecord local{any_double(in), any_double(in), any_double(in),
                            any_double(in), any_double(in), any_double(in)};
            PIDRecord *rec = in.ConsumeBool()
                                 ? &mcb.constForcePid[in.ConsumeIntegralInRange<int>(0, 5)]
                                 : &local;
            if (in.ConsumeBool()) PIDInit(rec, any_double(in), any_double(in), any_double(in));
            double out;
            PIDCalc(in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : rec, any_double(in),
                    in.ConsumeBool() ? &out : nullptr);
            break;
        }
        case 3: {
            double gain = any_double(in);
            kxmcPIDAdjust(any_int(in), any_double(in), in.ConsumeBool() ? &gain : nullptr);
            break;
        }
        case 4:
            kxmcILCinit(in.ConsumeBool() ? &mcb.constForceIlc[in.ConsumeIntegralInRange<int>(0, 5)]
                                         : nullptr,
                        any_int(in));
            break;
        case 5: {
            ILCRecord &rec = mcb.constForceIlc[in.ConsumeIntegralInRange<int>(0, 5)];
            double out;
            for (int n = in.ConsumeIntegralInRange<int>(1, 16); n > 0; --n) {
                kxmcILCcontrol(&rec, any_double(in), in.ConsumeBool() ? &out : nullptr);
            }
            break;
        }
        case 6:
            kxmcILCreset();
            break;
        case 7: {
            double out;
            Compliancecontrol(any_double(in), any_double(in), any_double(in), any_int(in),
                              any_double(in), in.ConsumeBool() ? &out : nullptr);
            break;
        }
        case 8: {
            double M[6], B[6], K[6], F[6], dx[6];
            kxmcFTControl_Admittance(any_int(in), maybe_null(in, M), maybe_null(in, B),
                                     maybe_null(in, K), maybe_null(in, F), any_double(in),
                                     in.ConsumeBool() ? dx : nullptr);
            break;
        }
        case 9: {
            double angle, ratio;
            kxmcFTNormal_estimation(in.ConsumeBool() ? &angle : nullptr,
                                    in.ConsumeBool() ? &ratio : nullptr);
            break;
        }
        case 10: {
            double out;
            const int32_t axis =
                in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 6) : any_int(in);
            const int32_t row =
                in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 6) : any_int(in);
            if (in.ConsumeBool()) {
                buttordFTControl(axis, row, in.ConsumeBool() ? &out : nullptr);
            } else {
                buttordFTControlThetaf(axis, row, in.ConsumeBool() ? &out : nullptr);
            }
            break;
        }
        case 11: {
            // The exported filter records may hold anything the host left there.
            MovingAverage &rec = MovingAverageFilter;
            if (in.ConsumeBool()) {
                init_filter(in.ConsumeBool() ? &rec : nullptr);
            } else {
                rec.index = any_int(in);
                rec.count = any_int(in);
                rec.sum = any_float(in);
            }
            for (int n = in.ConsumeIntegralInRange<int>(0, 200); n > 0; --n) {
                update_filter(&rec, any_float(in));
            }
            update_filter(nullptr, 0.0f);
            break;
        }
        case 12:
            init_notch(in.ConsumeBool() ? &notchFilter : nullptr, any_double(in), any_double(in));
            for (int n = in.ConsumeIntegralInRange<int>(0, 16); n > 0; --n) {
                notch_process(&notchFilter, any_double(in));
            }
            notch_process(nullptr, 1.0);
            break;
        case 13: {
            NotchFilter rec{any_double(in), any_double(in), any_double(in), any_double(in),
                            any_double(in), any_double(in), any_double(in), any_double(in),
                            any_double(in), any_double(in)};
            notch_process(&rec, any_double(in));
            break;
        }
        default: {
            Trsf out;
            constForceControl(any_trsf(in), &out);
            break;
        }
    }
}

void sensor_collision(FuzzedDataProvider &in) {
    if (in.ConsumeBool()) {
        uint8_t axis[6];
        double ref[6], upper[6], lower[6];
        qmcCollisionStartStop(
            in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(0, 1) : any_byte(in),
            any_frame(in), flags(in, axis), maybe_null(in, ref), maybe_null(in, upper),
            maybe_null(in, lower), any_cmd(in));
    } else {
        collisionControl();
    }
}

void tool_load(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
            kxmcSaveSensorDataFlag(in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 4)
                                                    : any_int(in));
            break;
        case 1: {
            double weight, coord[3];
            kxmcSensorComload(in.ConsumeBool() ? &weight : nullptr,
                              in.ConsumeBool() ? coord : nullptr);
            break;
        }
        case 2: {
            double out[6];
            qmcGetForceSensorData_loadIdentify(any_frame(in), out);
            break;
        }
        case 3: {
            double data[18], out[3];
            qmcForceSensor_loadCoordIdentify(maybe_null(in, data),
                                             in.ConsumeBool() ? out : nullptr);
            break;
        }
        default: {
            ForceSensorWrench w;
            fill(in, w.w);
            double out;
            qmcForceSensor_loadWeightIdentify(w, in.ConsumeBool() ? &out : nullptr);
            break;
        }
    }
}

// Servo cycles as the host runs them with the sensor: a sample processed (or the wrench written
// directly), the torque cycle, and the sensor cycle functions the input selects.
void cycles(FuzzedDataProvider &in, int &budget) {
    const uint8_t which = in.ConsumeIntegral<uint8_t>();
    int32_t sample[6];
    fill(in, sample);
    const Trsf pose = in.ConsumeBool() ? any_trsf(in) : Trsf{};
    kxfuzz::run_cycles(in, budget, [&](int) {
        if (which & 1) forceSensorDataProcess(sample);
        gravityTorqueControl(mpb.jointPos);
        if (which & 2) {
            Trsf out;
            constForceControl(pose, &out);
        }
        if (which & 4) collisionControl();
        if (which & 8) kxmcForceSensorDragProcess();
        if (which & 16) {
            Trsf out;
            kxmcEndForceDragToCart(pose, &out);
        }
        if (which & 32) kxmcCheckForCollisionError();
        if (which & 64) {
            double tau[6];
            kxmcForceDataToTorque(mpb.jointPos, tau);
        }
    });
}

// Most inputs start with the sensor processing on, so that the commands are not all refused.
void prepare(FuzzedDataProvider &in) {
    g_persisting_calls = 0;
    mcb.forceSensorAct = in.ConsumeIntegralInRange<int>(0, 3) == 0 ? any_byte(in) : 1;
    mcb.forceTorqueDragOn = in.ConsumeBool() ? 1 : 0;
}

void wrench(FuzzedDataProvider &in) {
    double w[6];
    fill(in, w);
    for (int j = 0; j < 6; ++j) mpb.forceSensorWrench[j] = w[j];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr kxfuzz::Operation kOps[] = {kxfuzz::poke,
                                          kxfuzz::poke,
                                          kxfuzz::no_cycles<wrench>,
                                          cycles,
                                          kxfuzz::no_cycles<settings>,
                                          kxfuzz::no_cycles<end_force_guiding>,
                                          kxfuzz::no_cycles<force_torque_guiding>,
                                          kxfuzz::no_cycles<constant_force>,
                                          kxfuzz::no_cycles<sensor_collision>,
                                          kxfuzz::no_cycles<tool_load>};
    return kxfuzz::run_input(data, size, kOps, prepare);
}
