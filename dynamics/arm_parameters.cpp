// Rigid-body parameter sets of the standard arm chain, one per model-code band.
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
#include "dynamics/arm_parameters.hpp"

#include "numerics/model_bands.hpp"

namespace kxmc {
namespace {

using Set = StandardArmParameters;

// The 5-kg arm, measured.
constexpr Set kDefaultSet = {
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
constexpr Set derived_set(const float (&len)[6], const float (&mass)[6], const float (&rotor)[6]) {
    Set s{};
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

// Measured data of the other arms: lengths [mm], masses [kg], rotor inertias [kg mm^2].
constexpr float kLen3kg[6] = {140.0f, -280.0f, -240.0f, 102.0f, 102.0f, 100.0f};
constexpr float kRotor3kg[6] = {657160.0f, 657160.0f, 657160.0f, 425520.0f, 425520.0f, 425520.0f};
constexpr float kRotor10kg[6] = {17472660.0f, 17472660.0f, 1615598.0f,
                                 657160.0f,   657160.0f,   657160.0f};

constexpr Set kSet1 = derived_set(kLen3kg, {2.37f, 5.21f, 2.31f, 1.66f, 1.66f, 0.34f}, kRotor3kg);
constexpr Set kSet2 = derived_set(kLen3kg, {2.24f, 4.94f, 2.29f, 1.56f, 1.56f, 0.36f}, kRotor3kg);
constexpr Set kSet3 = derived_set(kLen3kg, {2.24f, 4.89f, 2.29f, 1.56f, 1.58f, 0.35f}, kRotor3kg);
constexpr Set kSet201 = derived_set({180.0f, -700.0f, -586.0f, 195.0f, 114.0f, 106.0f},
                                    {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f}, kRotor10kg);
constexpr Set kSet202 = derived_set({180.0f, -700.0f, -586.0f, 159.0f, 114.0f, 106.0f},
                                    {11.97f, 19.59f, 3.7f, 1.69f, 1.69f, 0.35f}, kRotor10kg);
constexpr Set kSet301 = derived_set({180.0f, -520.0f, -400.0f, 195.0f, 114.0f, 106.0f},
                                    {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f}, kRotor10kg);
constexpr Set kSet302 = derived_set({180.0f, -520.0f, -400.0f, 159.0f, 114.0f, 106.0f},
                                    {11.97f, 18.18f, 3.22f, 1.69f, 1.69f, 0.35f}, kRotor10kg);
constexpr Set kSet401 = derived_set(
    {215.0f, -1000.0f, -716.0f, 166.0f, 138.0f, 120.0f},
    {20.79f, 42.84f, 9.88f, 4.64f, 4.64f, 0.6f},
    {49675000.0f, 49675000.0f, 26208990.0f, 1615598.0f, 1615598.0f, 1615598.0f});
constexpr Set kSet702 = derived_set(
    {140.0f, -425.0f, -395.0f, 102.0f, 102.0f, 100.0f}, {1.66f, 3.74f, 2.0f, 1.17f, 1.17f, 0.28f},
    {312933.0f, 312933.0f, 312933.0f, 319140.0f, 319140.0f, 319140.0f});
constexpr Set kSet703 = derived_set(
    kLen3kg, {1.66f, 3.68f, 1.81f, 1.18f, 1.18f, 0.28f},
    {156467.0f, 156467.0f, 156467.0f, 177300.0f, 177300.0f, 177300.0f});
constexpr float kRotor9xx[6] = {962147.94f, 962147.94f, 962147.94f,
                                434072.94f, 434072.94f, 434072.94f};
constexpr Set kSet901 =
    derived_set(kLen3kg, {1.59f, 3.41f, 1.68f, 1.14f, 1.14f, 0.35f}, kRotor9xx);
constexpr Set kSet903 = derived_set({150.0f, -280.0f, -240.0f, 102.0f, 102.0f, 100.0f},
                                    {1.55f, 3.34f, 1.5f, 1.1f, 1.11f, 0.35f}, kRotor9xx);
constexpr Set kSet1001 = derived_set(
    {215.0f, -700.0f, -536.0f, 166.0f, 138.0f, 120.0f},
    {20.64f, 36.37f, 8.41f, 4.64f, 4.64f, 0.6f},
    {39740000.0f, 39740000.0f, 26208990.0f, 1615598.0f, 1615598.0f, 1615598.0f});

// Single codes before the bands that contain them; 101-200 and every other code take the
// default set.
constexpr Band<Set> kSets[] = {
    {1, 1, kSet1},           {2, 2, kSet2},         {3, 3, kSet3},     {4, 100, kSet2},
    {201, 201, kSet201},     {202, 300, kSet202},   {301, 301, kSet301},
    {302, 400, kSet302},     {401, 500, kSet401},   {702, 702, kSet702},
    {703, 703, kSet703},     {901, 901, kSet901},   {903, 903, kSet903},
    {1001, 1100, kSet1001},
};

}  // namespace

const StandardArmParameters &standard_arm_parameters(uint32_t model_code) noexcept {
    return lookup_band(kSets, model_code, kDefaultSet);
}

}  // namespace kxmc
