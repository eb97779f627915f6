// Fuzz harness of joint identification: the single-joint friction recorder fed by the torque
// cycle, its status and fit, the drive-side joint model identification, the natural frequency
// networks, the curve fit and the self-test torque models.
#include <cstdint>

#include "fuzz_host.hpp"
#include "kxmc/kxmcforcetorque.h"

using kxfuzz::any_byte;
using kxfuzz::any_double;
using kxfuzz::any_int;
using kxfuzz::fill;

namespace {

void identification(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0:
            kxmcSingleJointFrictionOnlineOnOff(any_byte(in), static_cast<uint16_t>(any_int(in)));
            break;
        case 1: {
            double model[6];
            fill(in, model);
            kxmcSingleJointFrictionSaveData(model);
            break;
        }
        case 2: {
            uint16_t status;
            float identified[10], reference[10], difference[10];
            kxmcGetJointFrictionStatus(&status, identified, reference, difference);
            break;
        }
        case 3:
            kxmcSetJointModelType(static_cast<uint16_t>(any_int(in)));
            break;
        case 4:
            kxmcSingleJointModelOnlineOnOff(any_byte(in), static_cast<uint16_t>(any_int(in)));
            break;
        case 5: {
            float value;
            kxmcGetJointModelDataOnline(&value);
            uint16_t status;
            float identified[3], reference[3], difference[3];
            kxmcGetJointModelStatus(&status, identified, reference, difference);
            break;
        }
        case 6: {
            double pos[6], freq;
            fill(in, pos);
            kxmcCalculateNaturalFreq(pos, &freq);
            break;
        }
        case 7: {
            // The identification record is exported: the host may have written anything there.
            unsigned char *record = reinterpret_cast<unsigned char *>(&singleJointIdentify);
            const size_t at = in.ConsumeIntegralInRange<size_t>(0, sizeof singleJointIdentify - 1);
            record[at] = in.ConsumeIntegral<uint8_t>();
            break;
        }
        case 8: {
            constexpr int32_t kPoints = 24;
            double x0[5], xdata[kPoints], ydata[kPoints], x[5], resnorm;
            fill(in, x0);
            fill(in, xdata);
            fill(in, ydata);
            const int32_t n = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-2, kPoints)
                                               : 0;
            if (in.ConsumeBool()) {
                fitCurve(n, x0, xdata, ydata, x, &resnorm);
            } else {
                double r[kPoints];
                fitCurve_anonFcn1(n, x0, xdata, ydata, r);
            }
            break;
        }
        default: {
            double q[9], qd[6], qdd[6], tau[6];
            fill(in, q);
            fill(in, qd);
            fill(in, qdd);
            double *rows[6] = {tau, tau + 1, tau + 2, tau + 3, tau + 4, tau + 5};
            MatHead out{0, 5, 0, 0, 0, rows};
            if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
                out.firstRow = any_int(in);
                out.lastRow = any_int(in);
                out.firstCol = any_int(in);
                out.lastCol = any_int(in);
            }
            switch (in.ConsumeIntegralInRange<int>(0, 3)) {
                case 0: computeKx3_selftautest(q, qd, qdd, out); break;
                case 1: computeKx5_selftautest(q, qd, qdd, out); break;
                case 2: computeKx10_selftautest(q, qd, qdd, out); break;
                default: computeKx16_selftautest(q, qd, qdd, out); break;
            }
            break;
        }
    }
}

// The torque cycle feeds the friction recorder while it is armed.
void cycles(FuzzedDataProvider &in, int &budget) {
    kxfuzz::run_cycles(in, budget, [](int) { gravityTorqueControl(mpb.jointPos); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr kxfuzz::Operation kOps[] = {kxfuzz::poke, cycles, kxfuzz::no_cycles<identification>,
                                          kxfuzz::no_cycles<identification>};
    return kxfuzz::run_input(data, size, kOps);
}
