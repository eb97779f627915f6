// Parameter sets of the standard arm chain: the measured 5-kg arm and the derivation of the
// other arms' centres of mass and inertias from it.
//
// The 5-kg arm (default set) is fully measured: lengths, masses, centres of mass, inertia
// tensors and rotor inertias. For the other arms only lengths, masses and rotor inertias are
// measured; their centres of mass and inertia tensors are derived here from the 5-kg arm by a
// geometric scaling of each link body:
//
//  * Each link is taken as the 5-kg arm's link stretched along the axes of its own DH frame by
//    factors s = (sx, sy, sz) and carrying the mass m of the target arm. The factor of an axis is
//    the ratio of the link dimension that runs along it (target length / 5-kg length):
//
//      link  frame axis x       frame axis y      frame axis z      why
//      1     lateral            d1  (column)      lateral           joint 1 runs along -y1
//      2     |a2| (upper arm)   lateral           d4 (offset)       upper arm along x2, its
//                                                                   shoulder offset along z2
//      3     |a3| (forearm)     lateral           lateral           forearm along x3
//      4     lateral            d4                d5                wrist 1 spans -y4 and +z4
//      5     lateral            d5                d6                wrist 2 spans -y5 and +z5
//      6     lateral            lateral           d6                flange body along -z6
//
//    "lateral" is the wrist size ratio d5 / 102 mm: the motor and tube diameters grow with the
//    wrist offset of the family.
//  * Centres of mass: c' = S c (each coordinate times the factor of its axis).
//  * Inertias: the second moment of the mass distribution about the centre of mass,
//    Sigma = tr(I)/2 * 1 - I, transforms under the stretch as Sigma' = (m'/m) S Sigma S, and
//    I' = tr(Sigma') * 1 - Sigma'. Sigma of every measured link is positive definite, so every
//    derived tensor is positive definite and its principal moments satisfy the triangle
//    inequality (it is the inertia of a real mass distribution, not just a symmetric matrix).
//
// The derivation runs at compile time; the tables hold its results. The tests check for every
// set that the tensors are physically realisable and that each centre lies inside its link.
#pragma once

#include "dynamics/arm_parameters.hpp"

namespace kxmc {
namespace detail {

// The 5-kg arm, measured.
inline constexpr StandardArmParameters kDefaultSet = {
    {152.0f, -425.0f, -395.0f, 102.0f, 102.0f, 100.0f},  // [mm]
    {4.64f, 10.08f, 2.71f, 1.56f, 1.56f, 0.36f},          // [kg]
    {-0.19f, -18.28f, 2.26f,                               // [mm]
     212.47f, 0.0f, 121.2f,
     122.62f, 0.17f, 12.59f,
     0.05f, -2.33f, 14.68f,
     -0.05f, 2.33f, 14.68f,
     0.93f, 0.81f, -20.05f},
    {9383.91f, -58.83f, -33.05f, 7742.20f, 222.87f, 9324.49f,  // [kg mm^2]
     20604.96f, 280.19f, 2.62f, 438994.31f, -2.68f, 435456.0f,
     3575.41f, 95.7f, 224.85f, 71482.85f, 3.43f, 71119.15f,
     1625.95f, -2.85f, -3.47f, 1580.2f, 61.31f, 1255.26f,
     1625.95f, -2.85f, 3.47f, 1580.2f, -61.31f, 1255.26f,
     230.09f, 0.13f, 0.98f, 230.49f, 0.85f, 359.3f},
    {1615598.0f, 1615598.0f, 1615598.0f, 425520.0f, 425520.0f, 425520.0f},  // [kg mm^2]
};

constexpr float abs_of(float x) { return x < 0.0f ? -x : x; }

// Stretch factors (x, y, z) of link i's body, as tabulated above.
constexpr void link_stretch(const float (&len)[6], int link, float out[3]) {
    const float *ref = kDefaultSet.lengths;
    const float lateral = abs_of(len[4]) / abs_of(ref[4]);
    const float d1 = abs_of(len[0]) / abs_of(ref[0]);
    const float a2 = abs_of(len[1]) / abs_of(ref[1]);
    const float a3 = abs_of(len[2]) / abs_of(ref[2]);
    const float d4 = abs_of(len[3]) / abs_of(ref[3]);
    const float d5 = abs_of(len[4]) / abs_of(ref[4]);
    const float d6 = abs_of(len[5]) / abs_of(ref[5]);
    const float table[6][3] = {
        {lateral, d1, lateral}, {a2, lateral, d4}, {a3, lateral, lateral},
        {lateral, d4, d5},      {lateral, d5, d6}, {lateral, lateral, d6},
    };
    for (int k = 0; k < 3; ++k) {
        out[k] = table[link][k];
    }
}

// A set of another arm from its measured lengths, masses and rotor inertias.
constexpr StandardArmParameters derived_set(const float (&len)[6], const float (&mass)[6], const float (&rotor)[6]) {
    StandardArmParameters s{};
    for (int i = 0; i < 6; ++i) {
        s.lengths[i] = len[i];
        s.masses[i] = mass[i];
        s.rotor[i] = rotor[i];
    }
    for (int i = 0; i < 6; ++i) {
        float st[3] = {0.0f, 0.0f, 0.0f};
        link_stretch(len, i, st);
        for (int k = 0; k < 3; ++k) {
            s.centres[3 * i + k] = kDefaultSet.centres[3 * i + k] * st[k];
        }
        // Inertia tensor about the centre (Ixx, Ixy, Ixz, Iyy, Iyz, Izz) as a full matrix.
        const float *in = &kDefaultSet.inertias[6 * i];
        const float inertia[3][3] = {{in[0], in[1], in[2]}, {in[1], in[3], in[4]},
                                     {in[2], in[4], in[5]}};
        const float half_trace = 0.5f * (in[0] + in[3] + in[5]);
        const float ratio = mass[i] / kDefaultSet.masses[i];
        float sigma[3][3] = {};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                const float ref_sigma = (r == c ? half_trace : 0.0f) - inertia[r][c];
                sigma[r][c] = ratio * st[r] * st[c] * ref_sigma;
            }
        }
        const float trace = sigma[0][0] + sigma[1][1] + sigma[2][2];
        float *out = &s.inertias[6 * i];
        out[0] = trace - sigma[0][0];
        out[1] = -sigma[0][1];
        out[2] = -sigma[0][2];
        out[3] = trace - sigma[1][1];
        out[4] = -sigma[1][2];
        out[5] = trace - sigma[2][2];
    }
    return s;
}

}  // namespace detail
}  // namespace kxmc
