// Rigid-body parameter sets of the standard six-joint arm chain, one per model-code band.
//
// Chain: standard Denavit-Hartenberg, twists 90, 0, 0, 90, -90, 0 degrees; lengths d1, a2, a3,
// d4, d5, d6 (a2 and a3 negative). Centres of mass and inertia tensors are given in each link's
// own (distal) DH frame; inertias about the centre of mass with the products as tensor entries.
#pragma once

#include <cstdint>

namespace kxmc {

struct StandardArmParameters {
    float lengths[6];    // d1, a2, a3, d4, d5, d6 [mm]
    float masses[6];     // links 1..6 [kg]
    float centres[18];   // x, y, z of each link's centre of mass, link 1 first [mm]
    float inertias[36];  // Ixx, Ixy, Ixz, Iyy, Iyz, Izz about the centre of mass [kg mm^2]
    float rotor[6];      // reflected rotor inertia per joint [kg mm^2]
};

// Parameter set of the standard block for a model code; codes without a set of their own
// take the default set (the 5-kg arm).
const StandardArmParameters &standard_arm_parameters(uint32_t model_code) noexcept;

}  // namespace kxmc
