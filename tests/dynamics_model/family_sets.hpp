// Parameter sets of the TZ and PX arms and reference models of their geometry.
#pragma once

#include "dynamics/arm_derivation.hpp"
#include "reference_model.hpp"

namespace kxtest {

// TZ family parameter set.
inline const double kTzLengths[6] = {140, -420, 12, 360, 102, 100};
inline const double kTzMasses[6] = {2.26, 4.53, 1.56, 1.97, 1.56, 0.35};
inline const double kTzInertias[30] = {3015.96,  -11.16, -9.73,  2293.95,   83.28,   2942.66,
                                5693.29,  48.54,  -761.36, 173107.64, 7.08,   171869.7,
                                1626.46,  -2.85,  3.48,   1580.68,   -61.22,  1255.31,
                                14803.69, -2.41,  3.46,   2246.79,   -890.25, 14362.64,
                                1626.46,  -2.85,  3.48,   1580.68,   -61.22,  1255.31};
inline const double kTzRotor[6] = {657160, 657160, 425520, 425520, 425520, 425520};
// Plausible centres for exercising the centre input (the per-cycle control passes zeros).
inline const double kTzCentres[36] = {0, -20, 5, 0, 0, 0,  210, 0, 60, 0, 0, 0, 6, 5, 10, 0, 0, 0,
                               0, 170, 10, 0, 0, 0, 0, 2, 15, 0, 0, 0, 1, 1, -20, 0, 0, 0};

// PX arm.
inline const double kPxLengths[6] = {180, -700, -586, 211, 114, 106};
inline const double kPxRotor[6] = {17472660, 17472660, 1615598, 657160, 657160, 657160};

inline RefArm tz_reference(const double *centres, const double *payload) {
    RefArm arm{};
    const double twist[6] = {90, 0, 90, -90, 90, 0};
    const double a[6] = {0, kTzLengths[1], kTzLengths[2], 0, 0, 0};
    const double d[6] = {kTzLengths[0], 0, 0, kTzLengths[3], kTzLengths[4], kTzLengths[5]};
    for (int i = 0; i < 6; ++i) {
        arm.a[i] = a[i] * 1e-3;
        arm.d[i] = d[i] * 1e-3;
        arm.alpha[i] = twist[i] * kPi / 180;
        Body b{i + 1, kTzMasses[i], {}, {}};
        for (int k = 0; k < 3; ++k) b.c[k] = centres[6 * i + k] * 1e-3;
        for (int k = 0; k < 6; ++k) b.I[k] = i < 5 ? kTzInertias[6 * i + k] * 1e-6 : 0.0;
        arm.bodies.push_back(b);
        arm.rotor[i] = kTzRotor[i] * 1e-6;
    }
    Body p{6, payload[0], {payload[1] * 1e-3, payload[2] * 1e-3, payload[3] * 1e-3}, {}};
    for (int k = 0; k < 6; ++k) p.I[k] = payload[4 + k] * 1e-6;
    arm.bodies.push_back(p);
    return arm;
}

// The PX arm's built-in bodies: the 10-kg arm's masses extrapolated in d4 to 211 mm, centres
// and inertias stretched from the 5-kg arm.
inline RefArm px_reference(const double *payload) {
    const float len[6] = {180, -700, -586, 211, 114, 106};
    const float m201[6] = {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f};
    const float m202[6] = {11.97f, 19.59f, 3.7f, 1.69f, 1.69f, 0.35f};
    const float frac = (211.0f - 159.0f) / (195.0f - 159.0f);
    float mass[6], rotor[6];
    for (int i = 0; i < 6; ++i) {
        mass[i] = m202[i] + (m201[i] - m202[i]) * frac;
        rotor[i] = float(kPxRotor[i]);
    }
    const auto body = kxmc::detail::derived_set(len, mass, rotor);
    RefArm arm = standard_arm<float>(body.lengths, body.masses, body.centres, body.inertias,
                                     body.rotor, nullptr);
    Body p{6, payload[0], {payload[1] * 1e-3, payload[2] * 1e-3, payload[3] * 1e-3}, {}};
    for (int k = 0; k < 6; ++k) p.I[k] = payload[4 + k] * 1e-6;
    arm.bodies.push_back(p);
    return arm;
}

}  // namespace kxtest
