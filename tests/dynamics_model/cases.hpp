// Parameter sets and seeded random states shared by the dynamics model tests.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "dynamics/arm_parameters.hpp"
#include "reference_model.hpp"

namespace kxtest {

struct SetCase {
    uint32_t code;       // model code whose set is used
    double max_payload;  // payload range of the tests [kg]
};

// One code per distinct parameter set of the standard block.
inline const SetCase kStandardSets[] = {
    {0, 5},    {1, 3},    {2, 3},    {3, 3},    {201, 10}, {202, 10}, {301, 16},
    {302, 16}, {401, 20}, {702, 5},  {703, 3},  {901, 3},  {903, 3},  {1001, 20},
};

inline std::string set_test_name(const ::testing::TestParamInfo<SetCase> &i) {
    return "code" + std::to_string(i.param.code);
}

// A random state: joints [deg], rates [deg/s], accelerations [deg/s^2], payload (10 values,
// inertia zero as the wrappers pass it), gravity of an arbitrary installation [m/s^2].
struct State {
    double q[6], qd[6], qdd[6];
    double payload[10];
    double gravity[3];
};

inline State random_state(Random &rng, double max_payload) {
    State s{};
    for (int i = 0; i < 6; ++i) {
        s.q[i] = rng.uniform(-360, 360);
        s.qd[i] = rng.uniform(-180, 180);
        s.qdd[i] = rng.uniform(-600, 600);
    }
    s.payload[0] = rng.uniform(0, max_payload);
    for (int k = 1; k < 4; ++k) s.payload[k] = rng.uniform(-100, 100);
    installation_gravity(rng.uniform(-360, 360), rng.uniform(-360, 360), s.gravity);
    return s;
}

// Block inputs in radians, as the blocks convert them.
inline void to_block_radians(const double *deg, double *rad) {
    for (int i = 0; i < 6; ++i) rad[i] = deg[i] * kBlockDeg;
}

}  // namespace kxtest
