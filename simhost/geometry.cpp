// Link geometry of every arm family the host's kinematics knows, one row per model-code band.
//
// Standard chain (all families but TZ): standard Denavit-Hartenberg, twists 90, 0, 0, 90, -90, 0
// degrees, a = (0, a2, a3, 0, 0, 0), d = (d1, 0, 0, d4, d5, d6), a2 and a3 negative. Joints 2, 3
// and 4 are parallel, the wrist has offsets d4, d5, d6: the classic six-joint collaborative arm
// with a closed-form inverse.
//
// TZ chain (codes 701 and 801-900; lengths 140, -420, 12, 360, 102, 100): an elbow-offset arm
// whose forearm carries the fourth joint along its own axis. Twists 90, 0, 90, -90, 90, 0 with
// a = (0, -420, 12, 0, 0, 0) and d = (140, 0, 0, 360, 102, 100): the shoulder and elbow are
// parallel (a2 the upper arm), the elbow has a 12 mm offset, the forearm (d4 = 360) lies along
// joint 4, and the wrist joints 5 and 6 sit 102 and 100 mm further out along their own axes,
// as on the standard arm's wrist. At zero joints the upper arm is horizontal and the forearm
// hangs straight down. No closed form: the inverse runs a damped Newton iteration.
#include "numerics/model_bands.hpp"
#include "simhost_internal.hpp"

namespace kxsim {

namespace {

enum class Chain : uint8_t { kStandard, kElbowOffset };

struct GeometryRow {
    double lengths[6];  // d1, a2, a3, d4, d5, d6 [mm]
    Chain chain;
};

constexpr GeometryRow kStandardDefault{{152, -425, -395, 102, 102, 100}, Chain::kStandard};
constexpr GeometryRow kSmall{{140, -280, -240, 102, 102, 100}, Chain::kStandard};

constexpr kxmc::Band<GeometryRow> kGeometry[] = {
    {1, 100, kSmall},                                                         // 3 kg
    {201, 201, {{180, -700, -586, 195, 114, 106}, Chain::kStandard}},         // 10 kg, first
    {202, 300, {{180, -700, -586, 159, 114, 106}, Chain::kStandard}},         // 10 kg
    {301, 301, {{180, -520, -400, 195, 114, 106}, Chain::kStandard}},         // 16 kg, first
    {302, 400, {{180, -520, -400, 159, 114, 106}, Chain::kStandard}},         // 16 kg
    {401, 500, {{215, -1000, -716, 166, 138, 120}, Chain::kStandard}},        // fifth family
    {701, 701, {{140, -420, 12, 360, 102, 100}, Chain::kElbowOffset}},        // TZ
    {702, 702, {{140, -425, -395, 102, 102, 100}, Chain::kStandard}},
    {703, 703, kSmall},
    {801, 900, {{140, -420, 12, 360, 102, 100}, Chain::kElbowOffset}},        // TZ
    {901, 901, kSmall},
    {902, 902, {{180, -700, -586, 211, 114, 106}, Chain::kStandard}},         // PX
    {903, 903, {{150, -280, -240, 102, 102, 100}, Chain::kStandard}},
    {1001, 1100, {{215, -700, -536, 166, 138, 120}, Chain::kStandard}},
};

constexpr double kTwistStandard[6] = {90, 0, 0, 90, -90, 0};     // [deg]
constexpr double kTwistElbowOffset[6] = {90, 0, 90, -90, 90, 0};  // [deg]

}  // namespace

ArmGeometry arm_geometry(uint32_t model_code) {
    const GeometryRow &row = kxmc::lookup_band(kGeometry, model_code, kStandardDefault);
    const double *twist =
        row.chain == Chain::kStandard ? kTwistStandard : kTwistElbowOffset;
    ArmGeometry g{};
    const double *l = row.lengths;
    const double a_mm[6] = {0, l[1], l[2], 0, 0, 0};
    const double d_mm[6] = {l[0], 0, 0, l[3], l[4], l[5]};
    for (int i = 0; i < 6; ++i) {
        g.a[i] = a_mm[i] * 0.001;
        g.d[i] = d_mm[i] * 0.001;
        g.alpha[i] = twist[i] * detail::kDegToRad;
        g.theta_offset[i] = 0.0;
    }
    return g;
}

}  // namespace kxsim
