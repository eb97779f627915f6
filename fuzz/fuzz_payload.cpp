// Fuzz harness of payload handling: the payload table, the step-driven identification in the
// servo cycle, the nine-point identification and the continuous identification from the wrist
// sensor, interleaved with torque cycles that read the payload.
#include <cstdint>

#include "fuzz_host.hpp"
#include "kxmc/kxmcforcetorque.h"

using kxfuzz::any_byte;
using kxfuzz::any_double;
using kxfuzz::any_int;
using kxfuzz::fill;

namespace {

void payload(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0:
            qmcSetLoadPara(in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(0, 21)
                                            : in.ConsumeIntegral<uint8_t>(),
                           any_double(in), any_double(in), any_double(in), any_double(in),
                           static_cast<uint32_t>(any_int(in)));
            break;
        case 1:
            qmcLoadIdentifyStartEnd(any_byte(in));
            break;
        case 2: {
            uint8_t finished;
            double weight, coord[3];
            qmcGetLoadWeightCoord(&finished, &weight, coord);
            break;
        }
        case 3:
            kxmcSetCurrentLoadIdentifyFlag(static_cast<uint32_t>(any_int(in)));
            break;
        case 4:
            kxmcSaveLoadIdentifyPoint(static_cast<uint32_t>(any_int(in)));
            break;
        case 5: {
            double mass, coord[3];
            kxmcComEndLoadMain(&mass, coord);
            break;
        }
        case 6:
            qmcSetLoadIdentifyDynPara(static_cast<uint32_t>(any_int(in)));
            break;
        case 7:
            qmcLoadIdentifyDynOnOff(any_byte(in));
            break;
        case 8: {
            double force[30], rotation[45], mass, coord[3];
            fill(in, force);
            fill(in, rotation);
            kxmcComloaddymIdentify(force, rotation, &mass, coord);
            break;
        }
        default: {
            // The nine-point record is exported: the host may have written anything there.
            unsigned char *record = reinterpret_cast<unsigned char *>(&simply_loadidentify);
            const size_t at = in.ConsumeIntegralInRange<size_t>(0, sizeof simply_loadidentify - 1);
            record[at] = in.ConsumeIntegral<uint8_t>();
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    kxfuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    kxfuzz::start_host(in);
    int budget = kxfuzz::kMaxCyclesPerInput;
    for (int op = 0; op < kxfuzz::kMaxOperations && in.remaining_bytes() > 0; ++op) {
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
            case 0:
                kxfuzz::poke_any(in);
                break;
            case 1: {
                const bool dynamic = in.ConsumeBool();
                for (int n = kxfuzz::cycles_for_step(in, budget); n > 0; --n) {
                    gravityTorqueControl(mpb.jointPos);
                    if (dynamic) {
                        kxmcLoadIdentifyDynControl();
                    } else {
                        kxmcLoadIdentifyControl();
                    }
                    kxfuzz::advance_cycle();
                }
                break;
            }
            default:
                payload(in);
                break;
        }
    }
    return 0;
}
