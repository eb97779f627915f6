// The double-precision TZ and PX blocks against Orocos KDL's inverse dynamics of their chains.
#include <gtest/gtest.h>

#include "kxmc/kxmc_dynamics_model.h"
#include "oracle.hpp"

namespace {

using namespace kxtest;

Model tz_model(const double *payload) {
    const double twist[6] = {90, 0, 90, -90, 90, 0};
    const double a[6] = {0, kTzLengths[1], kTzLengths[2], 0, 0, 0};
    const double d[6] = {kTzLengths[0], 0, 0, kTzLengths[3], kTzLengths[4], kTzLengths[5]};
    KDL::RigidBodyInertia links[6];
    for (int i = 0; i < 6; ++i)
        links[i] = body(kTzMasses[i], &kTzCentres[6 * i], i < 5 ? &kTzInertias[6 * i] : nullptr);
    return dh_model(a, twist, d, links, kTzRotor, payload);
}

// The PX arm's built-in bodies: the 10-kg arms' masses extrapolated in d4 to 211 mm, centres
// and inertias stretched from the 5-kg arm.
Model px_model(const double *payload) {
    const float *m201 = kxmc::standard_arm_parameters(201).masses,
                *m202 = kxmc::standard_arm_parameters(202).masses;
    const float frac = (211.0f - 159.0f) / (195.0f - 159.0f);
    float len[6], mass[6], rotor[6];
    for (int i = 0; i < 6; ++i)
        len[i] = float(kPxLengths[i]), mass[i] = m202[i] + (m201[i] - m202[i]) * frac,
        rotor[i] = float(kPxRotor[i]);
    return standard_model(kxmc::detail::derived_set(len, mass, rotor), payload);
}

TEST(FamilyBlocks, MatchKdl) {
    Random rng(901);
    for (int px = 0; px < 2; ++px) {
        for (int n = 0; n < 1000; ++n) {
            SCOPED_TRACE(std::string(px ? "PX" : "TZ") + " state " + std::to_string(n));
            const State s = random_state(rng, px ? 10 : 3, n % 2 == 1);
            double tau[6];
            ASSERT_EQ(px ? qmcPXkx10dynamicblock(kPxLengths, s.q, s.qd, s.qdd, s.payload, kPxRotor,
                                                 s.gravity, tau)
                         : qmckxTZdynamicblock(kTzLengths, s.q, s.qd, s.qdd, s.payload, kTzMasses,
                                               kTzCentres, kTzInertias, kTzRotor, s.gravity, tau),
                      0);
            const Dynamics k = kdl_dynamics(px ? px_model(s.payload) : tz_model(s.payload), s.q,
                                            s.qd, s.qdd, s.gravity);
            const double scale = max_abs(k.tau, 6) + 1.0;
            for (int i = 0; i < 6; ++i)
                ASSERT_NEAR(tau[i], k.tau[i], 1e-10 * scale) << "joint " << i;
        }
    }
}

}  // namespace
