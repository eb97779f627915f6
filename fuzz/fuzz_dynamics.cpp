// Fuzz harness of the torque feed-forward: the per-cycle torque control in every torque model,
// robot state and drag mode, the dynamics and hand-guiding settings, and the model routines it
// is built from (gravity, end load, friction, rigid-body blocks, drag-teach laws).
#include <cstdint>

#include "fuzz_host.hpp"
#include "kxmc/kxmcforcetorque.h"

using kxfuzz::any_byte;
using kxfuzz::any_double;
using kxfuzz::any_float;
using kxfuzz::any_int;
using kxfuzz::fill;

namespace {

void setter(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 12)) {
        case 0:
            qmcgravityTeachVersionOnOff(any_byte(in));
            break;
        case 1:
            qmcSetPowerLimit(any_byte(in), any_double(in));
            break;
        case 2:
            qmcFrictionCompensationOnOff(any_byte(in));
            break;
        case 3: {
            float gains[6];
            fill(in, gains);
            qmcSetFrictionValue_free(gains);
            break;
        }
        case 4: {
            double fd[6], rd[6], ff[6], rf[6];
            fill(in, fd);
            fill(in, rd);
            fill(in, ff);
            fill(in, rf);
            qmcSetJointFrictionGain(fd, rd, ff, rf);
            break;
        }
        case 5:
            qmcSetJointStiffnessType(static_cast<uint32_t>(any_int(in)));
            break;
        case 6:
            qmcSetInterfereDrag(any_byte(in));
            break;
        case 7:
            qmcDragLockEnableDisable(any_byte(in));
            break;
        case 8: {
            double p[6], i[6], d[6];
            fill(in, p);
            fill(in, i);
            fill(in, d);
            qmcSetDragLockPara(p, i, d);
            break;
        }
        case 9:
            qmcSetRobotInstallAngle(any_double(in), any_double(in));
            break;
        case 10:
            qmcSetRobotInstallPos(any_int(in));
            break;
        case 11: {
            double tilt, rot;
            qmcGetRobotInstallAngle(&tilt, &rot);
            break;
        }
        default: {
            float out[6];
            qmcPosAddTrsfToRCS(any_float(in), any_float(in), any_float(in), any_float(in),
                               any_float(in), any_float(in), out);
            break;
        }
    }
}

// The model routines called directly with arbitrary arguments of the stated sizes.
void model(FuzzedDataProvider &in) {
    double q[6], v[6], out[6], load[4];
    fill(in, q);
    switch (in.ConsumeIntegralInRange<int>(0, 12)) {
        case 0:
            fill(in, load);
            kxmcNewGravityTorque(q, load, out);
            break;
        case 1:
            fill(in, load);
            kxmcGravityTorque(q, load, out);
            break;
        case 2:
            kxmcendload(any_double(in), any_double(in), q, any_double(in), any_double(in),
                        any_double(in), any_double(in), out, any_int(in));
            break;
        case 3: {
            double lengths[6], masses[6], centres[18], payload[10], gravity[3];
            fill(in, lengths);
            fill(in, masses);
            fill(in, centres);
            fill(in, payload);
            fill(in, gravity);
            kxmcInvGravity(lengths, masses, centres, payload, gravity, q, out);
            break;
        }
        case 4: {
            fill(in, v);
            frictionCompensation(v, out);
            const double x = any_double(in);
            joint14FrictionCalculate_deadzone(x);
            joint17FrictionCalculate_deadzone(x);
            joint25FrictionCalculate_deadzone(x);
            joint32FrictionCalculate_deadzone(x);
            joint40FrictionCalculate_deadzone(x);
            const double g[4] = {any_double(in), any_double(in), any_double(in), any_double(in)};
            joint14FrictionCalculate_deadzone_DRAG(x, g[0], g[1], g[2], g[3]);
            joint17FrictionCalculate_deadzone_DRAG(x, g[0], g[1], g[2], g[3]);
            joint25FrictionCalculate_deadzone_DRAG(x, g[0], g[1], g[2], g[3]);
            joint32FrictionCalculate_deadzone_DRAG(x, g[0], g[1], g[2], g[3]);
            joint40FrictionCalculate_deadzone_DRAG(x, g[0], g[1], g[2], g[3]);
            float params[10];
            fill(in, params);
            frictionCalculate(params, any_float(in));
            break;
        }
        case 5: {
            float rated[6];
            kxmcJointDefaultTorque(rated);
            break;
        }
        case 6: {
            double gain[12];
            fill(in, gain);
            const double tilt = any_double(in), rot = any_double(in);
            const int32_t code = any_int(in);
            switch (in.ConsumeIntegralInRange<int>(0, 3)) {
                case 0:
                    kxmcteachcontrol3_gravitytest(tilt, rot, gain, q, out, code);
                    break;
                case 1:
                    kxmcteachcontrol5_gravitytest(tilt, rot, gain, q, out, code);
                    break;
                case 2:
                    kxmcteachcontrol10_gravitytest(tilt, rot, gain, q, out, code);
                    break;
                default:
                    kxmcteachcontrol16_gravitytest(tilt, rot, gain, q, out, code);
                    break;
            }
            break;
        }
        case 7: {
            PIDRecord pid[6];
            for (PIDRecord &p : pid) {
                p = PIDRecord{any_double(in), any_double(in), any_double(in),
                              any_double(in), any_double(in), any_double(in)};
            }
            const Trsf frame = kxfuzz::any_trsf(in);
            fill(in, v);
            switch (in.ConsumeIntegralInRange<int>(0, 9)) {
                case 0: teachcontrol3(pid, frame, q, v, out); break;
                case 1: teachcontrol5(pid, frame, q, v, out); break;
                case 2: teachcontrol10(pid, frame, q, v, out); break;
                case 3: teachcontrol16(pid, frame, q, v, out); break;
                case 4: kx3_pretau(pid, frame, q, out); break;
                case 5: kx5_pretau(pid, frame, q, out); break;
                case 6: kx10_pretau(pid, frame, q, out); break;
                case 7: kx16_pretau(pid, frame, q, out); break;
                case 8: kxmcimpedencejoint(pid, q, v, out); break;
                default:
                    kxmcteachcontrolinterfere(pid, any_byte(in), any_int(in), frame, q, v, out);
                    break;
            }
            double e = any_double(in), pid_out;
            PID_increase_Calc(&pid[0], e, &pid_out);
            break;
        }
        case 8: {
            float lengths[6], masses[6], centres[18], inertias[36], rotor[6];
            fill(in, lengths);
            fill(in, masses);
            fill(in, centres);
            fill(in, inertias);
            fill(in, rotor);
            double diag[36];
            kxqmckxdynamicblock(q, any_double(in), any_double(in), any_double(in),
                                any_double(in), out, lengths, masses, centres, inertias, rotor,
                                nullptr, diag);
            break;
        }
        case 9: {
            double lengths[6], masses[6], centres[36], inertias[30], rotor[6];
            fill(in, lengths);
            fill(in, masses);
            fill(in, centres);
            fill(in, inertias);
            fill(in, rotor);
            kxTZqmckxdynamicblock(q, any_double(in), any_double(in), any_double(in),
                                  any_double(in), out, lengths, masses, centres, inertias, rotor);
            break;
        }
        case 10: {
            double lengths[6], rotor[6];
            fill(in, lengths);
            fill(in, rotor);
            kxPXqmckxdynamicblock(q, any_double(in), any_double(in), any_double(in),
                                  any_double(in), out, lengths, rotor);
            break;
        }
        case 11: {
            float lengths[6], fq[6], qd[6], qdd[6], payload[10], masses[6], centres[18],
                inertias[36], rotor[6], gravity[3], tau[6], tau_static[6], m[36], c[36];
            fill(in, lengths);
            fill(in, fq);
            fill(in, qd);
            fill(in, qdd);
            fill(in, payload);
            fill(in, masses);
            fill(in, centres);
            fill(in, inertias);
            fill(in, rotor);
            fill(in, gravity);
            qmckxdynamicblock(lengths, fq, qd, qdd, payload, masses, centres, inertias, rotor,
                              gravity, tau, tau_static, m, c);
            break;
        }
        default: {
            double centres[18], centre[3], m[36], c[36];
            fill(in, v);
            fill(in, centres);
            fill(in, centre);
            output_MCG(q, v, centres, any_double(in), centre, m, c, out);
            break;
        }
    }
}

// Torque cycles, now and then without the position argument.
void cycles(FuzzedDataProvider &in, int &budget) {
    kxfuzz::run_cycles(in, budget, [&in](int) {
        gravityTorqueControl(in.ConsumeBool() ? nullptr : mpb.jointPos);
    });
}

void services(FuzzedDataProvider &in) {
    float ratio[6];
    double power;
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            kxmcdynfiltresert();
            break;
        case 1:
            kxmcVibrateAbateControl(ratio);
            break;
        default:
            qmcPowerReal(nullptr, &power);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr kxfuzz::Operation kOps[] = {kxfuzz::poke,
                                          kxfuzz::poke,
                                          cycles,
                                          kxfuzz::no_cycles<setter>,
                                          kxfuzz::no_cycles<model>,
                                          kxfuzz::no_cycles<services>};
    return kxfuzz::run_input(data, size, kOps);
}
