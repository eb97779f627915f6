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

// Torque cycles that read the payload, with the step-driven or the continuous identification.
void cycles(FuzzedDataProvider &in, int &budget) {
    const bool dynamic = in.ConsumeBool();
    kxfuzz::run_cycles(in, budget, [dynamic](int) {
        gravityTorqueControl(mpb.jointPos);
        if (dynamic) {
            kxmcLoadIdentifyDynControl();
        } else {
            kxmcLoadIdentifyControl();
        }
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr kxfuzz::Operation kOps[] = {kxfuzz::poke, cycles, kxfuzz::no_cycles<payload>,
                                          kxfuzz::no_cycles<payload>};
    return kxfuzz::run_input(data, size, kOps);
}
