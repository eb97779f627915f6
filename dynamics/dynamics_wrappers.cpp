// Wrappers of the rigid-body dynamics blocks.
//
// They turn the host's cycle state into the blocks' inputs (joint rates per second, payload
// vector, base-frame gravity of the mounting) and hand the torques back to the per-cycle
// control. The standard wrapper also keeps the filtered measured joint torques and joint angles
// that payload identification reads (`torque`, `joint_angle_load`) and drives the dual-encoder
// collision detector while a program runs.

#include "kxmc/kxmc_dynamics_model.h"

#include <cmath>
#include <cstdint>

#include "collision/dual_encoder.hpp"
#include "dynamics/installation_gravity.hpp"
#include "dynamics/standard_dynamics.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_dual_encoder.h"
#include "kxmc/kxmc_gravity.h"
#include "kxmc/kxmc_numerics.h"
#include "numerics/butterworth.hpp"
#include "numerics/filter_records.hpp"
#include "numerics/float_cast.hpp"

namespace {

constexpr int kJoints = 6;
constexpr int kPayloadValues = 10;                       // mass, centre x, y, z, six inertias
constexpr double kPerSecond = 1000.0;                    // [cycle/s]
constexpr double kPerSecondSquared = 1000.0 * 1000.0;    // [cycle^2/s^2]
constexpr double kPerMille = 0.001;
constexpr double kMeasuredGearFactor = 101.0;            // measured torque is rebuilt with 101

// Model code 3 counts joints 1, 2, 4 and 6 from the opposite zero of the block's chain.
constexpr uint32_t kTurnedModelCode = 3;
constexpr double kTurnedOffset = -180.0;  // [deg]
constexpr bool kTurnedJoint[kJoints] = {true, true, false, true, false, true};

constexpr int32_t kRobotRunning = 2;
constexpr int kFilterYRow = kxmc::detail::kFilterYRow;
constexpr int kLastRow = kxmc::detail::kFilterRows - 1;

// Joint state in the blocks' units: positions [deg], velocities [deg/s], accelerations
// [deg/s^2]. acc_per_cycle2 is the host's acceleration field [deg/cycle^2].
struct JointState {
    double q[kJoints];
    double qd[kJoints];
    double qdd[kJoints];
};

JointState joint_state(const double *joint_pos, const double *acc_per_cycle2) {
    JointState s{};
    const bool turned = mcb.robotModelCode == kTurnedModelCode;
    for (int i = 0; i < kJoints; ++i) {
        s.q[i] = joint_pos[i] + (turned && kTurnedJoint[i] ? kTurnedOffset : 0.0);
        s.qd[i] = mpb.targetJointVel[i] * kPerSecond;
        s.qdd[i] = acc_per_cycle2[i] * kPerSecondSquared;
    }
    return s;
}

// Base-frame gravity [m/s^2] of the installation angles.
void mounting_gravity(double g[3]) {
    kxmc::installation_gravity(mcb.installTilt, mcb.installRot, g);
}

void payload_vector(double cx, double cy, double cz, double mass, double p[kPayloadValues]) {
    p[0] = mass;
    p[1] = cx;
    p[2] = cy;
    p[3] = cz;
    for (int i = 4; i < kPayloadValues; ++i) {
        p[i] = 0.0;
    }
}

template <int N>
void to_float(const double (&in)[N], float (&out)[N]) {
    for (int i = 0; i < N; ++i) {
        out[i] = kxmc::narrow_to_float(in[i]);
    }
}

// A sample that is not finite would stay in the filter's history for good; the channel holds
// its previous input instead (zero on the first row after a restart).
double held_sample(double x, const double (*rows)[kxmc::detail::kFilterChannels], int k, int ch) {
    if (std::isfinite(x)) {
        return x;
    }
    return k > 0 ? rows[k - 1][ch] : 0.0;
}

// One step of the load filters on filt5: measured joint torque [N m] through Loadbuttord (rows
// 0-5 in, 6-11 out), mpb.jointPos [deg] through LoadPosbuttord (second bank). The row index
// advances at the end of the wrapper's call.
void filter_load_samples() {
    FilterHistory &f = filt5;
    float rated[kJoints] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    (void)kxmcJointDefaultTorque(rated);

    if (f.row > kLastRow) {
        kxmc::detail::shift_filter_rows(&f.history[0]);
        kxmc::detail::shift_filter_rows(&f.history[kFilterYRow]);
        kxmc::detail::shift_filter_rows(f.bank2x);
        kxmc::detail::shift_filter_rows(f.bank2y);
        f.row = kLastRow;
    } else if (f.row < 0) {
        f.row = 0;  // only an outside write can get here; restart the row count
    }
    const int k = f.row;

    for (int ch = 0; ch < kJoints; ++ch) {
        const double measured = static_cast<double>(how.jointCurrent[ch]) * kPerMille *
                                static_cast<double>(rated[ch]) * kMeasuredGearFactor;
        f.history[k][ch] = held_sample(measured, &f.history[0], k, ch);
        f.bank2x[k][ch] = held_sample(mpb.jointPos[ch], f.bank2x, k, ch);

        double tq = 0.0;
        double pos = 0.0;
        (void)kxmc::detail::butterworth_step(kxmc::detail::kButterworthSlow, &f.history[0],
                                             &f.history[kFilterYRow], ch, k, &tq);
        (void)kxmc::detail::butterworth_step(kxmc::detail::kButterworthSlow, f.bank2x, f.bank2y,
                                             ch, k, &pos);
        f.history[kFilterYRow + k][ch] = tq;
        f.bank2y[k][ch] = pos;
        torque[ch] = tq;
        joint_angle_load[ch] = pos;
    }
}

// Six steps of the dual-encoder detector on this cycle's encoder sample while a program runs
// with the detector switched on; otherwise the detector restarts from rest, so a program always
// begins with a fresh warm-up and no stale peak history. The detector's speed bands are keyed
// on the joint torque of the model [N m]: the load the gear carries sets how far it deflects.
void dual_encoder_hand_off(const float tau[kJoints]) {
    const bool detector_on = mpb.collisionMode == 1 || mpb.collisionMode == 2;
    if (detector_on && mpb.robotState == kRobotRunning) {
        kxmc::detail::dual_encoder_cycle(tau);
    } else {
        (void)initCollisionDetection();
    }
}

}  // namespace

extern "C" {

double torque[6];
double joint_angle_load[6];

int32_t kxqmckxdynamicblock(const double jointPos[6], double cx, double cy, double cz,
                            double mass, double tauOut[6], const float lengths[6],
                            const float masses[6], const float centres[18],
                            const float inertias[36], const float rotor[6], const float spare[6],
                            double inertiaDiag[36]) {
    (void)spare;
    if (jointPos == nullptr || tauOut == nullptr || lengths == nullptr || masses == nullptr ||
        centres == nullptr || inertias == nullptr || rotor == nullptr || inertiaDiag == nullptr) {
        return -1;
    }

    const JointState s = joint_state(jointPos, mpb.feedJointAcc);
    filter_load_samples();

    double payload[kPayloadValues];
    payload_vector(cx, cy, cz, mass, payload);
    double g[3];
    mounting_gravity(g);

    float qf[kJoints];
    float qdf[kJoints];
    float qddf[kJoints];
    float payloadf[kPayloadValues];
    float gf[3];
    to_float(s.q, qf);
    to_float(s.qd, qdf);
    to_float(s.qdd, qddf);
    to_float(payload, payloadf);
    to_float(g, gf);

    // The block's torque and the diagonal of its mass matrix, without forming the mass and
    // Coriolis matrices that the cycle does not use.
    float tau[kJoints] = {};
    float mass_diagonal[kJoints] = {};
    const kxmc::detail::StandardModelInput<float> in{lengths, qf,      qdf,      qddf,  payloadf,
                                                     masses,  centres, inertias, rotor, gf};
    kxmc::detail::standard_chain_torque(in, mass_diagonal, tau);

    for (int i = 0; i < kJoints; ++i) {
        tauOut[i] = static_cast<double>(tau[i]);
        for (int c = 0; c < kJoints; ++c) {
            inertiaDiag[i * kJoints + c] = i == c ? static_cast<double>(mass_diagonal[i]) : 0.0;
        }
    }

    dual_encoder_hand_off(tau);
    filt5.row += 1;
    return 0;
}

int32_t kxTZqmckxdynamicblock(const double jointPos[6], double cx, double cy, double cz,
                              double mass, double tauOut[6], const double lengths[6],
                              const double masses[6], const double centres[36],
                              const double inertias[30], const double rotor[6]) {
    if (jointPos == nullptr || tauOut == nullptr || lengths == nullptr || masses == nullptr ||
        centres == nullptr || inertias == nullptr || rotor == nullptr) {
        return -1;
    }
    const JointState s = joint_state(jointPos, mpb.targetJointAcc);
    double payload[kPayloadValues];
    payload_vector(cx, cy, cz, mass, payload);
    double g[3];
    mounting_gravity(g);

    double tau[kJoints] = {};
    (void)qmckxTZdynamicblock(lengths, s.q, s.qd, s.qdd, payload, masses, centres, inertias, rotor,
                              g, tau);
    for (int i = 0; i < kJoints; ++i) {
        tauOut[i] = tau[i];
    }
    return 0;
}

int32_t kxPXqmckxdynamicblock(const double jointPos[6], double cx, double cy, double cz,
                              double mass, double tauOut[6], const double lengths[6],
                              const double rotor[6]) {
    if (jointPos == nullptr || tauOut == nullptr || lengths == nullptr || rotor == nullptr) {
        return -1;
    }
    const JointState s = joint_state(jointPos, mpb.targetJointAcc);
    double payload[kPayloadValues];
    payload_vector(cx, cy, cz, mass, payload);
    double g[3];
    mounting_gravity(g);

    double tau[kJoints] = {};
    (void)qmcPXkx10dynamicblock(lengths, s.q, s.qd, s.qdd, payload, rotor, g, tau);
    for (int i = 0; i < kJoints; ++i) {
        tauOut[i] = tau[i];
    }
    return 0;
}

}  // extern "C"
