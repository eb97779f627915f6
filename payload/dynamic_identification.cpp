// Continuous payload identification from the wrist force/torque sensor during hand guiding.
//
// While it runs, the sensor processing leaves the tool's weight in the wrench, so the flange
// wrench is the payload's load: F = m g (g the gravity acceleration seen in the flange frame)
// and M = c x F. Every sample period the wrench and the flange rotation enter a window of five
// samples; each sample once the window is full gives an estimate whose mass becomes the current
// payload at once. Leaving hand guiding persists the current payload.
//
// The centre of mass is estimated and checked but not applied: over one window the load force
// barely turns, so the centre's component along it is not observable and the rest is carried
// by the noise of the sensor moments. A centre that wandered with the operator's hand would go
// straight into the gravity torque of every joint.
#include <cmath>
#include <cstdint>

#include "dynamics/user_config.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_payload.h"
#include "payload/payload_common.hpp"

namespace {

constexpr int kWindow = 5;           // samples per estimate
constexpr int32_t kHandGuiding = 4;  // mpb.robotState
constexpr uint32_t kMaxWindowCycles = 1000;
constexpr double kGravity = 9.8;     // [m/s^2]
constexpr uint8_t kFlangeFrame = 0;  // mcb.forceSensorRefCoord of the flange frame

// Relative and absolute damping of the centre's normal equations: a window whose force never
// turns leaves them singular along the force, and the damped solve then returns the centre's
// observable part (the one perpendicular to the force) instead of a non-number.
constexpr double kCentreDampingRel = 1e-9;
constexpr double kCentreDampingAbs = 1e-12;  // [N^2]

int32_t dynCount;                // cycles since the last sample
int32_t recordCount;             // samples stored while the window fills
uint8_t recordFullFlag;          // window full: from now on it slides
double recordForce[kWindow][6];  // flange wrench per sample, oldest first [N, N m]
double recordPos[kWindow][9];    // flange rotation per sample, row-major
int32_t stateLast;               // mpb.robotState of the previous call

// Empties the window; the samples left in it are overwritten before the next estimate.
void clear_window() noexcept {
    dynCount = 0;
    recordCount = 0;
    recordFullFlag = 0;
}

// The sensor wrench is usable when the sensor runs without a fault and gives the flange frame:
// a switched-off sensor reads zero, which as a mass would drop the payload from the dynamics.
bool sensor_gives_flange_wrench() noexcept {
    return mcb.forceSensorAct == 1 && mcb.forceSensorState == 0 &&
           mcb.forceSensorRefCoord == kFlangeFrame;
}

// Flange rotation (base frame) of the current joints, through the host's forward kinematics.
void flange_rotation(double rot[9]) noexcept {
    float pose[6] = {};
    jointTrsfToEndCartTCF_RT(0, mpb.jointPos, pose);
    Trsf t{};
    rpyToTrsf(&t, pose[5], pose[4], pose[3]);
    for (int i = 0; i < 9; ++i) {
        rot[i] = t.rot.r[i];
    }
}

void store_sample(int slot) noexcept {
    for (int k = 0; k < 6; ++k) {
        recordForce[slot][k] = mpb.forceSensorWrench[k];
    }
    flange_rotation(recordPos[slot]);
}

void slide_window() noexcept {
    for (int s = 0; s + 1 < kWindow; ++s) {
        for (int k = 0; k < 6; ++k) {
            recordForce[s][k] = recordForce[s + 1][k];
        }
        for (int k = 0; k < 9; ++k) {
            recordPos[s][k] = recordPos[s + 1][k];
        }
    }
}

// The estimate is a norm, never negative: only the arm's maximum applies.
double limited_mass(double m) noexcept {
    const double limit = kxmc::payload_mass_limit(mcb.robotModelCode);
    return m > limit ? limit : m;  // NaN passes unchanged
}

// Estimate from the full window and its checks; writes the mass into the current payload.
int32_t estimate() noexcept {
    double mass = 0.0;
    double coord[3] = {};
    kxmcComloaddymIdentify(&recordForce[0][0], &recordPos[0][0], &mass, coord);
    mass = limited_mass(mass);
    // The centre is checked only: it is not applied, so it needs no limits of its own.
    if (!std::isfinite(mass)) {  // an infinite mass has no limit on arms of unknown code
        Write_Log(4, "loadweight is NAN");
        return -1;
    }
    for (int i = 0; i < 3; ++i) {
        if (std::isnan(coord[i])) {
            Write_Log(4, "loadcoord%d is NAN", i);
            return -1;
        }
    }
    mpb.loadWeight = mass;
    stateLast = mpb.robotState;
    return 0;
}

}  // namespace

extern "C" {

int32_t qmcSetLoadIdentifyDynPara(uint32_t time) {
    if (time > kMaxWindowCycles) {
        return -1;
    }
    mcb.loadIdentifyTime = static_cast<int32_t>(time);
    kxmc::detail::persist_user_param("LOAD_IDENTIFY_TIME", mcb.loadIdentifyTime);
    return 0;
}

int32_t qmcLoadIdentifyDynOnOff(uint8_t on) {
    if (on > 1) {
        return -1;
    }
    mcb.loadIdentifyDynOn = on;
    kxmc::detail::persist_user_param("LOAD_IDENTIFY_DYN", mcb.loadIdentifyDynOn);
    return 0;
}

int32_t kxmcLoadIdentifyDynControl(void) {
    if (mcb.loadIdentifyDynOn != 1) {
        clear_window();
        stateLast = mpb.robotState;
        return 0;
    }
    if (mpb.robotState != kHandGuiding) {
        if (stateLast == kHandGuiding) {
            kxmc::persist_current_payload();
        }
        clear_window();
        stateLast = mpb.robotState;
        return 0;
    }

    // Sampling divider: one sample every loadIdentifyTime / 5 cycles. A time below 5 gives no
    // period and no sample; a count past the period (the time shortened meanwhile) samples now.
    const int32_t period = mcb.loadIdentifyTime / kWindow - 1;
    if (period < 0 || dynCount < period || !sensor_gives_flange_wrench()) {
        if (dynCount < period) {
            ++dynCount;
        }
        stateLast = mpb.robotState;
        return 0;
    }
    dynCount = 0;

    if (recordFullFlag == 0) {
        store_sample(recordCount);
        ++recordCount;
        if (recordCount < kWindow) {
            stateLast = mpb.robotState;
            return 0;
        }
        recordFullFlag = 1;
    } else {
        slide_window();
        store_sample(kWindow - 1);
    }
    return estimate();
}

int32_t kxmcComloaddymIdentify(const double force[30], const double rotation[45], double *mass,
                               double coord[3]) {
    if (force == nullptr || rotation == nullptr || mass == nullptr || coord == nullptr) {
        return -1;
    }
    // Centre: minimise sum |c x F_k - M_k|^2. With [F] the cross-product matrix (c x F =
    // -[F] c) the normal equations are S c = -b, S = sum [F]^T [F], b = sum [F]^T M.
    // Mass: the base-frame load force f = R_k F_k is the same in every sample; its
    // least-squares value solves (sum R_k R_k^T) f = sum R_k F_k, and |f| = m g.
    double S[9] = {};
    double b[3] = {};
    double Q[9] = {};
    double g[3] = {};
    for (int s = 0; s < kWindow; ++s) {
        const double *F = force + 6 * s;
        const double *M = F + 3;
        const double *R = rotation + 9 * s;
        const double X[9] = {0.0, -F[2], F[1], F[2], 0.0, -F[0], -F[1], F[0], 0.0};
        for (int i = 0; i < 3; ++i) {
            for (int k = 0; k < 3; ++k) {
                for (int j = 0; j < 3; ++j) {
                    S[i * 3 + k] += X[j * 3 + i] * X[j * 3 + k];
                    Q[i * 3 + k] += R[i * 3 + j] * R[k * 3 + j];
                }
                b[i] += X[k * 3 + i] * M[k];
                g[i] += R[i * 3 + k] * F[k];
            }
        }
    }
    const double damping = kCentreDampingRel * (S[0] + S[4] + S[8]) + kCentreDampingAbs;
    for (int i = 0; i < 3; ++i) {
        S[i * 4] += damping;
        b[i] = -b[i];
    }
    const double nan = std::nan("");
    double c[3] = {nan, nan, nan};
    double f[3] = {nan, nan, nan};
    static_cast<void>(kxmc::solve_linear<3>(S, b, c));
    static_cast<void>(kxmc::solve_linear<3>(Q, g, f));
    *mass = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]) / kGravity;
    for (int i = 0; i < 3; ++i) {
        coord[i] = 1000.0 * c[i];
    }
    return 0;
}

}  // extern "C"
