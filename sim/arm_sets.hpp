// Rigid-body parameter sets the simulated arm is built from.
//
// The plant compiles its own copy of the library's parameter tables (arm_sets.cpp includes the
// library's translation unit, as the model tests do): the tables are hidden inside the shared
// object, and a hand-typed copy could drift from them. The plant can therefore carry exactly
// the rigid body the library models, and scenarios introduce model error on purpose (a heavier
// payload than configured, the plant's own friction), never by accident.
#pragma once

#include <cstdint>

#include "dynamics/arm_parameters.hpp"

namespace kxsim {

// Parameter set of the standard chain for a model code (the library's default set for codes
// without a set of their own).
const kxmc::StandardArmParameters &plant_arm_parameters(uint32_t model_code);

// True for the model codes whose full-dynamics torque comes from the standard block (the
// families the plant can simulate).
bool plant_supports_model(uint32_t model_code);

}  // namespace kxsim
