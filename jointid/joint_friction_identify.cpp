// Single-joint friction identification: the identification record and the per-cycle recorder.
//
// The recorder does not record yet: it accepts the cycle's model torque and leaves the record
// as it is, so the torque cycle can already call it under its final name.
#include "kxmc/kxmc_joint_friction_identify.h"

extern "C" {

SingleJointIdentify singleJointIdentify;

void kxmcSingleJointFrictionSaveData(const double modelTorque[6]) {
    static_cast<void>(modelTorque);
}

}  // extern "C"
