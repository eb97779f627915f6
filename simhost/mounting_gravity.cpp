// The host's gravity routines of the three fixed mountings (floor, wall, ceiling).
//
// The simulated host computes them with the library's static rigid-body model of the model
// code it is handed, at the installation angles of the mounting (floor 0/0, wall 90/0, ceiling
// 180/0), so a fixed mounting and the same angles on the any-angle path give the same torque.
#include "kxmc/kxmc_gravity.h"
#include "simhost_internal.hpp"

namespace {

struct SavedMounting {
    uint32_t code;
    double tilt;
    double rot;
};

int mounting_gravity(const double jointPos[6], const double load[4], double out[6], int modelCode,
                     double tilt, double rot) {
    if (jointPos == nullptr || load == nullptr || out == nullptr) {
        return -1;
    }
    const SavedMounting saved = {mcb.robotModelCode, mcb.installTilt, mcb.installRot};
    mcb.robotModelCode = modelCode < 0 ? 0u : static_cast<uint32_t>(modelCode);
    mcb.installTilt = tilt;
    mcb.installRot = rot;
    kxmcGravityTorque(jointPos, load, out);
    mcb.robotModelCode = saved.code;
    mcb.installTilt = saved.tilt;
    mcb.installRot = saved.rot;
    return 0;
}

}  // namespace

extern "C" {

int qmcDynComGravityExload(const double jointPos[6], const double load[4], double out[6], int modelCode) {
    return mounting_gravity(jointPos, load, out, modelCode, 0.0, 0.0);
}

int qmcDynComGravityExloadWall(const double jointPos[6], const double load[4], double out[6], int modelCode) {
    return mounting_gravity(jointPos, load, out, modelCode, 90.0, 0.0);
}

int qmcDynComGravityExloadCeiling(const double jointPos[6], const double load[4], double out[6],
                                  int modelCode) {
    return mounting_gravity(jointPos, load, out, modelCode, 180.0, 0.0);
}

}  // extern "C"
