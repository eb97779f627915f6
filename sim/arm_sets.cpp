// The plant reads the library's own rigid-body parameter sets (kxmc_model_tables), so the
// simulated arm and the library model the same numbers unless a scenario changes them on purpose.
#include "dynamics/arm_parameters.hpp"

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
