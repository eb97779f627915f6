// Fuzz harness of the wrist-sensor hand guiding: the sensor wrench turned into joint torques,
// alone and inside torque cycles with force-and-torque drag on.
#include <cstdint>

#include "fuzz_host.hpp"
#include "kxmc/kxmcforcetorque.h"

using kxfuzz::fill;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    kxfuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    kxfuzz::start_host(in);
    mcb.forceTorqueDragOn = in.ConsumeBool() ? 1 : 0;
    int budget = kxfuzz::kMaxCyclesPerInput;
    for (int op = 0; op < kxfuzz::kMaxOperations && in.remaining_bytes() > 0; ++op) {
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
            case 0:
            case 1:
                kxfuzz::poke_any(in);
                break;
            case 2:
                for (int n = kxfuzz::cycles_for_step(in, budget); n > 0; --n) {
                    gravityTorqueControl(mpb.jointPos);
                    kxfuzz::advance_cycle();
                }
                break;
            default: {
                double q[6], tau[6];
                fill(in, q);
                kxmcForceDataToTorque(q, tau);
                break;
            }
        }
    }
    return 0;
}
