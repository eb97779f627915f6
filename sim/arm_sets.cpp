// The plant's copy of the parameter tables: the library's own translation unit, built again
// here because its symbols are hidden in the shared object.
#include "dynamics/arm_parameters.cpp"

#include "sim/arm_sets.hpp"

namespace kxsim {

const kxmc::StandardArmParameters &plant_arm_parameters(uint32_t model_code) {
    return kxmc::standard_arm_parameters(model_code);
}

bool plant_supports_model(uint32_t model_code) {
    // The TZ (701, 801-900) and PX (902) families use other blocks; 704-800 have no model.
    if (model_code == 701 || model_code == 902) {
        return false;
    }
    if (model_code >= 704 && model_code <= 900) {
        return false;
    }
    return model_code <= 1100;
}

}  // namespace kxsim
