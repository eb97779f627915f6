// The host's gravity routines for the three fixed mountings: the torque that holds the arm and
// its payload against gravity, from the host's own parameter sets of the standard chain and its
// own computation, independent of the library's gravity model.
//
// The holding torque is the gradient of the potential energy V = -sum m_k g . c_k over the link
// centres of mass c_k (payload included): joint i moves every centre beyond it about its axis,
// dc_k/dq_i = z_(i-1) x (c_k - o_(i-1)), so tau_i = -sum_(k >= i) m_k g . (z_(i-1) x (c_k - o_(i-1))),
// with the joint axes z and origins o of the standard Denavit-Hartenberg frames in the base.
//
// Parameter sets: lengths and masses of each arm as measured; the centres of mass of the 5-kg
// arm as measured and those of the other arms derived from it by the same geometric scaling of
// each link body the dynamics model uses (dynamics/arm_derivation.hpp), so the host and the
// library model the same arm. Gravity in the base frame: floor (0, 0, -9.8), wall (-9.8, 0, 0)
// (tilt 90 about Y), ceiling (0, 0, +9.8).
#include "dynamics/arm_derivation.hpp"
#include <cmath>

#include "numerics/model_bands.hpp"
#include "simhost_internal.hpp"

namespace kxsim {

namespace {

using kxmc::detail::derived_set;
using Set = kxmc::StandardArmParameters;

constexpr float kLen3kg[6] = {140, -280, -240, 102, 102, 100};  // [mm]
constexpr float kNoRotor[6] = {0, 0, 0, 0, 0, 0};                // rotors play no part here

constexpr Set kSet1 = derived_set(kLen3kg, {2.37f, 5.21f, 2.31f, 1.66f, 1.66f, 0.34f}, kNoRotor);
constexpr Set kSet2 = derived_set(kLen3kg, {2.24f, 4.94f, 2.29f, 1.56f, 1.56f, 0.36f}, kNoRotor);
constexpr Set kSet3 = derived_set(kLen3kg, {2.24f, 4.89f, 2.29f, 1.56f, 1.58f, 0.35f}, kNoRotor);
constexpr Set kSet201 = derived_set({180, -700, -586, 195, 114, 106},
                                    {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f}, kNoRotor);
constexpr Set kSet202 = derived_set({180, -700, -586, 159, 114, 106},
                                    {11.97f, 19.59f, 3.7f, 1.69f, 1.69f, 0.35f}, kNoRotor);
constexpr Set kSet301 = derived_set({180, -520, -400, 195, 114, 106},
                                    {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f}, kNoRotor);
constexpr Set kSet302 = derived_set({180, -520, -400, 159, 114, 106},
                                    {11.97f, 18.18f, 3.22f, 1.69f, 1.69f, 0.35f}, kNoRotor);
constexpr Set kSet401 = derived_set({215, -1000, -716, 166, 138, 120},
                                    {20.79f, 42.84f, 9.88f, 4.64f, 4.64f, 0.6f}, kNoRotor);
constexpr Set kSet702 = derived_set({140, -425, -395, 102, 102, 100},
                                    {1.66f, 3.74f, 2.0f, 1.17f, 1.17f, 0.28f}, kNoRotor);
constexpr Set kSet703 = derived_set(kLen3kg, {1.66f, 3.68f, 1.81f, 1.18f, 1.18f, 0.28f}, kNoRotor);
constexpr Set kSet901 = derived_set(kLen3kg, {1.59f, 3.41f, 1.68f, 1.14f, 1.14f, 0.35f}, kNoRotor);
constexpr Set kSet903 = derived_set({150, -280, -240, 102, 102, 100},
                                    {1.55f, 3.34f, 1.5f, 1.1f, 1.11f, 0.35f}, kNoRotor);
constexpr Set kSet1001 = derived_set({215, -700, -536, 166, 138, 120},
                                     {20.64f, 36.37f, 8.41f, 4.64f, 4.64f, 0.6f}, kNoRotor);

// Model code handed to the routine -> parameter set; 101-200 and unknown codes: the 5-kg arm.
constexpr kxmc::Band<Set> kSets[] = {
    {1, 1, kSet1},       {2, 2, kSet2},       {3, 3, kSet3},       {4, 100, kSet2},
    {201, 201, kSet201}, {202, 300, kSet202}, {301, 301, kSet301}, {302, 400, kSet302},
    {401, 500, kSet401}, {702, 702, kSet702}, {703, 703, kSet703}, {901, 901, kSet901},
    {903, 903, kSet903}, {1001, 1100, kSet1001},
};

// Frame of one standard DH link, rotation row-major and origin [m].
struct Frame {
    double r[9];
    double o[3];
};

Frame then(const Frame &f, double a, double alpha, double d, double theta) {
    const double ct = std::cos(theta), st = std::sin(theta);
    const double ca = std::cos(alpha), sa = std::sin(alpha);
    const double link[9] = {ct, -st * ca, st * sa, st, ct * ca, -ct * sa, 0.0, sa, ca};
    const double offset[3] = {a * ct, a * st, d};
    Frame out{};
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            for (int m = 0; m < 3; ++m) {
                out.r[3 * i + k] += f.r[3 * i + m] * link[3 * m + k];
            }
            out.o[i] += f.r[3 * i + k] * offset[k];
        }
        out.o[i] += f.o[i];
    }
    return out;
}

int holding_torque(const double jointPos[6], const double load[4], double out[6], int model,
                   const double gravity[3]) {
    if (jointPos == nullptr || load == nullptr || out == nullptr) {
        // The controller's routine would read or write through the null pointer: the journal
        // shows the misuse.
        detail::record_call("gravity routine given a null pointer", {});
        return -1;
    }
    const uint32_t code = model < 0 ? 0u : static_cast<uint32_t>(model);
    const Set &s = kxmc::lookup_band(kSets, code, kxmc::detail::kDefaultSet);
    const double twist[6] = {90, 0, 0, 90, -90, 0};  // [deg]
    const double a[6] = {0, -std::fabs(s.lengths[1]), -std::fabs(s.lengths[2]), 0, 0, 0};  // [mm]
    const double d[6] = {s.lengths[0], 0, 0, s.lengths[3], s.lengths[4], s.lengths[5]};    // [mm]

    // frames[0] is the base; frames[k] the distal frame of link k.
    Frame frames[7] = {Frame{{1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}}};
    for (int k = 0; k < 6; ++k) {
        frames[k + 1] = then(frames[k], a[k] * 0.001, twist[k] * detail::kDegToRad, d[k] * 0.001,
                             jointPos[k] * detail::kDegToRad);
    }
    // Centre of mass [m] and mass [kg] of each body in the base; the payload rides on link 6.
    double centre[7][3], mass[7];
    for (int k = 0; k < 7; ++k) {
        const Frame &f = frames[k < 6 ? k + 1 : 6];
        const double local[3] = {k < 6 ? s.centres[3 * k] : load[0],
                                 k < 6 ? s.centres[3 * k + 1] : load[1],
                                 k < 6 ? s.centres[3 * k + 2] : load[2]};  // [mm]
        mass[k] = k < 6 ? s.masses[k] : load[3];
        for (int i = 0; i < 3; ++i) {
            centre[k][i] = f.o[i] + (f.r[3 * i] * local[0] + f.r[3 * i + 1] * local[1] +
                                     f.r[3 * i + 2] * local[2]) * 0.001;
        }
    }
    for (int i = 0; i < 6; ++i) {
        const Frame &joint = frames[i];
        const double z[3] = {joint.r[2], joint.r[5], joint.r[8]};
        double tau = 0.0;
        for (int k = i; k < 7; ++k) {
            const double p[3] = {centre[k][0] - joint.o[0], centre[k][1] - joint.o[1],
                                 centre[k][2] - joint.o[2]};
            const double moved[3] = {z[1] * p[2] - z[2] * p[1], z[2] * p[0] - z[0] * p[2],
                                     z[0] * p[1] - z[1] * p[0]};
            tau -= mass[k] * (gravity[0] * moved[0] + gravity[1] * moved[1] + gravity[2] * moved[2]);
        }
        out[i] = tau;
    }
    return 0;
}

}  // namespace

}  // namespace kxsim

extern "C" {

int qmcDynComGravityExload(const double jointPos[6], const double load[4], double out[6],
                           int modelCode) {
    static constexpr double kFloor[3] = {0.0, 0.0, -9.8};  // [m/s^2]
    return kxsim::holding_torque(jointPos, load, out, modelCode, kFloor);
}

int qmcDynComGravityExloadWall(const double jointPos[6], const double load[4], double out[6],
                               int modelCode) {
    static constexpr double kWall[3] = {-9.8, 0.0, 0.0};  // [m/s^2]
    return kxsim::holding_torque(jointPos, load, out, modelCode, kWall);
}

int qmcDynComGravityExloadCeiling(const double jointPos[6], const double load[4], double out[6],
                                  int modelCode) {
    static constexpr double kCeiling[3] = {0.0, 0.0, 9.8};  // [m/s^2]
    return kxsim::holding_torque(jointPos, load, out, modelCode, kCeiling);
}

}  // extern "C"
