// Force-and-torque hand guiding: joint torques of the wrist sensor's wrench.
//
// The wrench mapping does not exist yet: the torques are zero, so the torque cycle's sensor
// term adds nothing until it does.
#include "kxmc/kxmc_force_torque_drag.h"

extern "C" {

int32_t kxmcForceDataToTorque(const double q[6], double tau[6]) {
    if (q == nullptr || tau == nullptr) {
        return -1;
    }
    for (int j = 0; j < 6; ++j) {
        tau[j] = 0.0;
    }
    return 0;
}

}  // extern "C"
