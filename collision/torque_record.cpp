// Torque record (recording, replay as expected current, band settings), the delay line of
// joint 2's command, the collision message ring and the static collision check.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "collision/collision_model.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_collision_check.h"
#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_gravity.h"
#include "kxmc/kxmc_torque_record.h"
#include "numerics/float_cast.hpp"
#include "numerics/model_bands.hpp"

namespace {

constexpr int kJoints = 6;
constexpr int kSamplePeriod = 50;                           // [cycles] per recorded sample
constexpr int kMaxSamples = KXMC_TORQUE_RECORD_SAMPLES;     // per joint
constexpr int kRingRows = KXMC_COLLISION_RING_ROWS;
constexpr int kPrintCalls = 4 * kRingRows;                  // one full print: 800 calls
constexpr double kExpectedCmdGain = 0.7;                    // expected share of the command
constexpr double kBandEps = 1e-6;                           // [N m] minimal band width
constexpr int kDelayLength = 101;                           // delay line [cycles]
constexpr int kMaxLag = 100;                                // [cycles]
constexpr int kSplineOrder = 4;
constexpr double kSplineParams[4] = {0.0, 0.05, 0.1, 0.15};

// Recorder phase (0..49) and sample index.
int recCountInterval = 0;
int recCount = 0;
// Replay sub-step (0..49) and sample index.
int playCountInterval = 0;
int playCount = 0;

// Delay line of joint 2's command: ring of the last 101 inputs.
double currentBuff[kDelayLength] = {};
int currentBuffFill = 0;  // inputs taken, up to 101
int currentBuffHead = 0;  // slot of the next input

// Message ring: rows stored (up to 200) and the row of the oldest one. Once the ring is full each
// save overwrites the oldest row and moves ringOldest on, so the arrays hold the rows rotated by
// ringOldest until order_collision_messages() turns them back to oldest first.
int saveMsgCount = 0;
int ringOldest = 0;

// Static check: fraction of the rated torque per joint, by arm family. The small arms' fractions
// are the measured ones. A heavier arm's joint carries a larger gravity load for its motor: its
// burden, the largest static torque the arm and its rated payload ask of the joint over every
// pose and mounting divided by the gear (100) and the rated torque, is 1.30, 1.30, 0.94, 0.33,
// 0.25 on joints 1-5 of the 10-kg arm against 0.92, 0.93, 0.40, 0.33, 0.25 on the 5-kg arm. Its
// fraction is the 5-kg fraction scaled by the ratio of the burdens, so the check tolerates the
// same share of the gravity load, rounded to 0.1 and capped at 0.8, the small arms' largest
// fraction: above it a residual the motor can hold would go unnoticed. 16-kg arm: burdens
// 1.27, 1.23, 0.97, 0.51; fifth family 2.35, 2.37, 1.28, 0.39; 1001-1100 1.65, 1.62, 0.99, 0.39.
struct StaticRatios {
    double r[kJoints];
};
constexpr StaticRatios kStaticRatioSmall = {{0.3, 0.5, 0.6, 0.8, 0.8, 0.8}};
constexpr StaticRatios kStaticRatio10kg = {{0.4, 0.7, 0.8, 0.8, 0.8, 0.8}};  // also 16 kg, PX
constexpr StaticRatios kStaticRatioFifth = {{0.8, 0.8, 0.8, 0.8, 0.8, 0.8}};
constexpr StaticRatios kStaticRatio1001 = {{0.5, 0.8, 0.8, 0.8, 0.8, 0.8}};
constexpr kxmc::Band<StaticRatios> kStaticRatioTable[] = {
    {0, 200, kStaticRatioSmall},
    {201, 400, kStaticRatio10kg},
    {401, 500, kStaticRatioFifth},
    {902, 902, kStaticRatio10kg},  // the 10-kg geometry and motors
    {1001, 1100, kStaticRatio1001},
};

int bounded_record_length() noexcept {
    const int32_t n = mcb.torqueRecordLength;
    return n < 0 ? 0 : (n > kMaxSamples ? kMaxSamples : n);
}

void reset_fits() noexcept {
    for (int j = 0; j < kJoints; ++j) {
        kxmcinitBtraj(&mcb.torqueRecordFit[j]);
    }
}

// Expected current from the drive command: the command share of the current, joint 2 delayed
// by the programmed speed's lag.
void expected_from_command(int16_t expected[6], int n) noexcept {
    int16_t delayed = 0;
    findHistoryCurrentSet(how.jointTorqueCmd[1], &delayed);
    for (int j = 0; j < n; ++j) {
        const double cmd = (j == 1) ? delayed : how.jointTorqueCmd[j];
        expected[j] = kxmc::trunc_to<int16_t>(cmd * kExpectedCmdGain * mpb.torqueCmdGain[j]);
    }
}

// Linear replay between samples n and n + 1 at sub-step s; the last recorded sample holds.
int16_t linear_sample(const int16_t *samples, int n, int s, int length) noexcept {
    if (length <= 0) {
        return 0;
    }
    if (n + 1 >= length) {
        return samples[length - 1];
    }
    const int a = samples[n];
    const int b = samples[n + 1];
    return static_cast<int16_t>(a + ((b - a) * s) / kSamplePeriod);
}

void expected_from_recording(int16_t expected[6], int n) noexcept {
    const int length = bounded_record_length();
    const int idx = playCount;
    const int s = playCountInterval;
    for (int j = 0; j < n; ++j) {
        const int16_t *samples = mcb.torqueRecordSamples[j];
        if (mcb.torqueRecordSmooth != 1 || idx >= length) {
            expected[j] = linear_sample(samples, idx, s, length);
            continue;
        }
        if (s == 0) {
            const int flag = (idx == length - 1) ? 0 : 1;
            kxmcaddpointBfitting(&mcb.torqueRecordFit[j], samples[idx], flag);
        }
        if (idx == 0) {
            expected[j] = linear_sample(samples, idx, s, length);
        } else {
            expected[j] = kxmc::trunc_to<int16_t>(
                kxmccomBfitting(&mcb.torqueRecordFit[j], s, kSplineOrder, kSplineParams));
        }
    }
    // Advance; the index stops one past the last recorded sample, where that sample holds.
    if (playCountInterval >= kSamplePeriod - 1) {
        playCountInterval = 0;
        if (playCount < length) {
            ++playCount;
        }
    } else {
        ++playCountInterval;
    }
}

// Logs the pair of lines of quantity k (0 positions, 1 velocities, 2 accelerations,
// 3 torques) for one ring row.
void print_pair(int k, int row) noexcept {
    const double *x = nullptr;
    const double *y = nullptr;
    switch (k) {
        case 0:
            x = collisionJointTarpos[row];
            y = collisionJointRealpos[row];
            Write_Log(2, "%d tarpos %lf %lf %lf %lf %lf %lf", row, x[0], x[1], x[2], x[3], x[4],
                      x[5]);
            Write_Log(2, "realpos %lf %lf %lf %lf %lf %lf", y[0], y[1], y[2], y[3], y[4], y[5]);
            break;
        case 1:
            x = collisionJointTarvel[row];
            y = collisionJointRealvel[row];
            Write_Log(2, "%d tarvel %lf %lf %lf %lf %lf %lf", row, x[0], x[1], x[2], x[3], x[4],
                      x[5]);
            Write_Log(2, "realvel %lf %lf %lf %lf %lf %lf", y[0], y[1], y[2], y[3], y[4], y[5]);
            break;
        case 2:
            x = collisionJointTaracc[row];
            y = collisionJointRealacc[row];
            Write_Log(2, "%d taracc %lf %lf %lf %lf %lf %lf", row, x[0], x[1], x[2], x[3], x[4],
                      x[5]);
            Write_Log(2, "realacc %lf %lf %lf %lf %lf %lf", y[0], y[1], y[2], y[3], y[4], y[5]);
            break;
        default:
            x = collisionJointTartor[row];
            y = collisionJointRealtor[row];
            Write_Log(2, "%d tartor %lf %lf %lf %lf %lf %lf", row, x[0], x[1], x[2], x[3], x[4],
                      x[5]);
            Write_Log(2, "realtor %lf %lf %lf %lf %lf %lf", y[0], y[1], y[2], y[3], y[4], y[5]);
            break;
    }
}

}  // namespace

namespace kxmc {
namespace detail {

void order_collision_messages() noexcept {
    if (ringOldest == 0) {
        return;
    }
    // Rotates each array in place (no scratch): row ringOldest becomes row 0.
    double(*const arrays[])[6] = {collisionJointTarpos,  collisionJointTarvel,
                                  collisionJointTaracc,  collisionJointTartor,
                                  collisionJointRealpos, collisionJointRealvel,
                                  collisionJointRealacc, collisionJointRealtor};
    for (std::size_t a = 0; a < sizeof arrays / sizeof arrays[0]; ++a) {
        double *const first = arrays[a][0];
        std::rotate(first, first + 6 * ringOldest, first + 6 * kRingRows);
    }
    ringOldest = 0;
}

void form_cycle_torques(CycleTorques &t) noexcept {
    kxmcTorqueRecordProcess();

    double fric[kJoints] = {};
    if (mcb.frictionCompOn == 0) {
        frictionCompensation(mpb.targetJointVel, fric);
    }
    float rated[kJoints] = {};
    kxmcJointDefaultTorque(rated);
    int16_t expected[kJoints] = {};
    kxmcTorqueRecordCollision(expected);
    float ff[kJoints] = {};
    newJointVelFFTorque(ff);

    const int n = clamp_joints(mpb.jointNum);
    for (int j = 0; j < kJoints; ++j) {
        t.rated[j] = rated[j];
        t.model[j] = 0.0;
        t.meas[j] = 0.0;
        if (j >= n) {
            continue;
        }
        const double ffj = std::isfinite(ff[j]) ? static_cast<double>(ff[j]) : 0.0;
        t.model[j] = (expected[j] * 0.001 * rated[j] + 0.001 * ffj * rated[j]) * 100.0 + fric[j];
        t.meas[j] = how.jointCurrent[j] * 0.001 * rated[j];
    }
}

}  // namespace detail
}  // namespace kxmc

extern "C" {

double collisionJointTarpos[KXMC_COLLISION_RING_ROWS][6];
double collisionJointTarvel[KXMC_COLLISION_RING_ROWS][6];
double collisionJointTaracc[KXMC_COLLISION_RING_ROWS][6];
double collisionJointTartor[KXMC_COLLISION_RING_ROWS][6];
double collisionJointRealpos[KXMC_COLLISION_RING_ROWS][6];
double collisionJointRealvel[KXMC_COLLISION_RING_ROWS][6];
double collisionJointRealacc[KXMC_COLLISION_RING_ROWS][6];
double collisionJointRealtor[KXMC_COLLISION_RING_ROWS][6];
int32_t saveMsgPrintfCount = 0;

int32_t qmcTorqueRecordStartEnd(uint8_t enable, uint8_t smooth, const float lower[6],
                                const float upper[6], const int32_t countLimit[6],
                                uint32_t cmdId) {
    if (enable > 1 || smooth > 1 || lower == nullptr || upper == nullptr ||
        countLimit == nullptr) {
        return -1;
    }
    const int n = kxmc::clamp_joints(mpb.jointNum);
    if (enable == 1) {
        for (int j = 0; j < n; ++j) {
            // Written so that a NaN band is refused too.
            if (!(lower[j] < -kBandEps) || !(upper[j] > kBandEps)) {
                return -1;
            }
        }
    }
    mcb.torqueRecordEnable = enable;
    mcb.torqueRecordSmooth = smooth;
    for (int j = 0; j < kJoints; ++j) {
        mcb.torqueRecordLower[j] = lower[j];
        mcb.torqueRecordUpper[j] = upper[j];
        mcb.torqueRecordCountLimit[j] = countLimit[j];
    }

    if (enable == 0) {
        if (mcb.torqueRecordRun == 1) {
            mcb.torqueRecordRun = 2;
        }
        mcb.torqueRecordApply = 0;
        mpb.cmdId = cmdId;
        return 0;
    }

    if (mcb.torqueRecordRun == 0) {
        mcb.torqueRecordRun = 1;
        mcb.torqueRecordApply = 0;
        mcb.torqueRecordLength = 0;
        std::memset(mcb.torqueRecordSamples, 0, sizeof mcb.torqueRecordSamples);
        // A new recording starts at sample 0 even without an idle cycle in between.
        recCountInterval = 0;
        recCount = 0;
    } else if (mcb.torqueRecordRun == 2) {
        mcb.torqueRecordApply = 1;
        reset_fits();
        // Applying replays from the first sample, even without a cycle off replay before.
        playCountInterval = 0;
        playCount = 0;
    }
    mpb.cmdId = cmdId;
    return 0;
}

int32_t qmcTorqueRecordReset(uint32_t cmdId) {
    mcb.torqueRecordEnable = 0;
    mcb.torqueRecordRun = 0;
    mcb.torqueRecordApply = 0;
    mcb.torqueRecordSmooth = 0;
    for (int j = 0; j < kJoints; ++j) {
        mcb.torqueRecordLower[j] = 0.0f;
        mcb.torqueRecordUpper[j] = 0.0f;
        mcb.torqueRecordCountLimit[j] = 0;
    }
    mcb.torqueRecordLength = 0;
    std::memset(mcb.torqueRecordSamples, 0, sizeof mcb.torqueRecordSamples);
    reset_fits();
    recCountInterval = 0;
    recCount = 0;
    mpb.cmdId = cmdId;
    return 0;
}

int32_t kxmcResetTorqueRecordPara(void) {
    if (mcb.torqueRecordApply == 1) {
        mcb.torqueRecordApply = 0;
    }
    if (mcb.torqueRecordEnable == 1) {
        mcb.torqueRecordEnable = 0;
    }
    return 0;
}

int32_t kxmcTorqueRecordProcess(void) {
    if (mcb.torqueRecordEnable != 1 || mcb.torqueRecordRun != 1) {
        recCountInterval = 0;
        recCount = 0;
        return 0;
    }
    ++recCountInterval;
    if (recCountInterval < kSamplePeriod) {
        return 0;
    }
    recCountInterval = 0;
    if (recCount >= kMaxSamples) {
        mcb.faultCode = KXMC_FAULT_TORQUE_RECORD_FULL;
        return -1;
    }
    for (int j = 0; j < kJoints; ++j) {
        mcb.torqueRecordSamples[j][recCount] = how.jointCurrent[j];
    }
    ++recCount;
    mcb.torqueRecordLength = recCount;
    return 0;
}

int32_t kxmcTorqueRecordCollision(int16_t expected[6]) {
    if (expected == nullptr) {
        return -1;
    }
    const int n = kxmc::clamp_joints(mpb.jointNum);
    for (int j = 0; j < kJoints; ++j) {
        expected[j] = 0;
    }
    const bool replay = mcb.torqueRecordEnable == 1 && mcb.torqueRecordApply == 1;
    if (!replay) {
        expected_from_command(expected, n);
        playCountInterval = 0;
        playCount = 0;
        reset_fits();
        return 0;
    }
    if (mpb.robotState == 3) {
        expected_from_command(expected, n);
        return 0;
    }
    expected_from_recording(expected, n);
    return 0;
}

int32_t findHistoryCurrentSet(int16_t cur, int16_t *out) {
    double ratio = 0.0;
    const int32_t type = mpb.motionType;
    if (type == 1) {
        if (mpb.jointMaxSpeed[0] > 0.0) {
            ratio = 100.0 * mpb.jointMoveVel / mpb.jointMaxSpeed[0];
        }
    } else if (type == 2 || type == 3 || type == 11 || type == 12 || (type >= 14 && type <= 21)) {
        if (mpb.linearMaxVel > 0.0) {
            ratio = 100.0 * mpb.linearMoveVel / mpb.linearMaxVel;
        }
    }
    int32_t lag = kxmc::trunc_to<int32_t>(ratio);
    lag = lag < 0 ? 0 : (lag > kMaxLag ? kMaxLag : lag);

    currentBuff[currentBuffHead] = cur;
    const int newest = currentBuffHead;
    currentBuffHead = (currentBuffHead + 1) % kDelayLength;

    int16_t value = cur;
    if (currentBuffFill < kDelayLength) {
        ++currentBuffFill;
    } else {
        const int slot = (newest - lag + kDelayLength) % kDelayLength;
        value = static_cast<int16_t>(currentBuff[slot]);
    }
    if (out != nullptr) {
        *out = value;
    }
    return 0;
}

int32_t collisionMessageSave(const double model[6], const double meas[6]) {
    if (model == nullptr || meas == nullptr) {
        return -1;
    }
    int row = 0;
    if (saveMsgCount >= kRingRows) {
        row = ringOldest;  // the oldest row gives way to the newest
        ringOldest = ringOldest + 1 < kRingRows ? ringOldest + 1 : 0;
    } else {
        row = saveMsgCount;  // rows 0 .. count-1 are in order while the ring fills
        saveMsgCount += 1;
    }
    for (int j = 0; j < kJoints; ++j) {
        collisionJointTarpos[row][j] = mpb.targetJointPos[j];
        collisionJointTarvel[row][j] = 1000.0 * mpb.targetJointVel[j];
        collisionJointTaracc[row][j] = 1000000.0 * mpb.targetJointAcc[j];
        collisionJointTartor[row][j] = model[j] / 100.0;
        collisionJointRealpos[row][j] = mpb.jointPos[j];
        collisionJointRealvel[row][j] = 1000.0 * mpb.actualJointVel[j];
        collisionJointRealacc[row][j] = 1000000.0 * mpb.actualJointAcc[j];
        collisionJointRealtor[row][j] = meas[j];
    }
    return 0;
}

int32_t collisionMessagePrintf(int32_t i) {
    kxmc::detail::order_collision_messages();
    saveMsgCount = 0;
    const int32_t count = saveMsgPrintfCount;
    int32_t result = -1;
    // A counter or index that selects no row of the ring prints nothing.
    if (count >= 0 && count < kPrintCalls && i >= 0 && i < kPrintCalls) {
        const int32_t k = count / kRingRows;
        const int32_t row = i - kRingRows * k;
        if (row >= 0 && row < kRingRows) {
            print_pair(k, row);
            result = 0;
        }
    }
    if (count == kPrintCalls - 1) {
        saveMsgPrintfCount = 0;
    }
    return result;
}

int32_t qmcCheckTorqueError(void) {
    kxmc::detail::CycleTorques t;
    kxmc::detail::form_cycle_torques(t);
    const StaticRatios &ratio =
        kxmc::lookup_band(kStaticRatioTable, mcb.robotModelCode, kStaticRatioSmall);
    const int n = kxmc::clamp_joints(mpb.jointNum);
    for (int j = 0; j < n; ++j) {
        const double r = t.meas[j] - t.model[j] / 100.0;
        if (std::fabs(r) > ratio.r[j] * t.rated[j]) {
            CollisionStartFlag = 1;
            qmcDragSwitch(1);
            Write_Log(2, "Static Collision After to DragMode");
            CollisionAfterTime = 1000;
        }
    }
    return 0;
}

}  // extern "C"
