// Dual-encoder collision detection.
//
// Each joint carries two position encoders; their difference is the elastic deflection of the
// joint's gear train. A hit on the arm shows up as a sudden swing of that deflection. Every step
// the deflection of each joint is low-pass filtered (filt4, x rows 0-5, y rows 12-17), its local
// peaks and valleys are kept (six of each per joint) and a new extremum that departs from the mean
// of the four before it by more than the joint's threshold is a collision. Thresholds come from
// ten-entry level tables and a divisor keyed on the joint's torque (the load its gear carries),
// chosen by arm model and joint group; only joints 1 to 3 may report.
//
// While a program runs the dynamics block makes six detector steps per servo cycle on the same
// encoder sample (dual_encoder_cycle: the sample's deflections and the model's rules are taken
// once for the six), and calls initCollisionDetection whenever it does not.

#include "kxmc/kxmc_dual_encoder.h"

#include <cmath>
#include <cstdint>

#include "collision/collision_levels.hpp"
#include "collision/dual_encoder.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
#include "numerics/butterworth.hpp"
#include "numerics/filter_records.hpp"
#include "numerics/model_bands.hpp"

namespace {

constexpr int kJoints = 6;
constexpr int kHistoryRows = 6;      // rows of each filter history and of the peak histories
constexpr int kLastRow = kHistoryRows - 1;
constexpr int kInputRow0 = 0;  // filt4 rows 0-5: deflection [deg]
constexpr int kOutputRow0 = kxmc::detail::kFilterYRowDual;  // rows 12-17: filtered deflection [deg]
constexpr int32_t kWarmUpSamples = 99;  // evaluation starts once the step count exceeds this
constexpr double kFullHistory = 1e-5;   // |oldest stored extremum| at or above: six are stored
constexpr int kReportingJoints = 3;     // joints 1 to 3 report; 4 to 6 are only tracked

// Encoder counts to joint degrees: 16384 counts per motor revolution, gear ratio 101.
constexpr double kCountsPerRev = 16384.0;
constexpr double kGearRatio = 101.0;

constexpr int32_t kRobotRunning = 2;
constexpr uint8_t kCheckModeStopToDrag = 2;

// ---- Threshold tables ---------------------------------------------------------------------

constexpr int kLevels = kxmc::detail::kCollisionLevels;
using LevelTable =
    double[kLevels];  // entries for collision levels 1..10 [deg of deflection x divisor]

constexpr LevelTable kT1 = {25, 33, 41, 50, 58, 66, 75, 83, 91, 100};
constexpr LevelTable kT2 = {8.5, 10.5, 13, 15.5, 17.5, 20, 22.5, 24, 27.5, 32};
constexpr LevelTable kT3 = {16, 23, 29, 35, 40, 46, 50, 56, 62, 70};
constexpr LevelTable kT4 = {90, 125, 155, 185, 215, 245, 275, 305, 333, 363};
constexpr LevelTable kT5 = {170, 230, 288, 345, 400, 456, 510, 567, 623, 680};
constexpr LevelTable kT6 = {55, 70, 86, 104, 120, 135, 153, 170, 185, 201};
constexpr LevelTable kT7 = {24, 32, 40, 47, 54, 61, 69, 76, 84, 91};

// Load divisor: divisor[0] up to and including edge[0], divisor[n] above edge[n-1] up to and
// including edge[n]; the last divisor above the last edge. Edges are joint torques [N m]: a gear
// under load deflects further, so the same swing means less.
struct LoadDivisor {
    int edges;          // 2 or 3
    double edge[3];     // [N m], ascending
    double divisor[4];  // one more than edges
};

struct JointRule {
    const double *levels;  // one of kT1..kT7
    LoadDivisor load;
};

// Rules of one model band by joint group: joints 1-2, joint 3, joints 4-6.
struct BandRule {
    JointRule joints12;
    JointRule joint3;
    JointRule joints456;
};

constexpr LoadDivisor two_edges(double e1, double e2, double a, double b, double c) {
    return LoadDivisor{2, {e1, e2, 0.0}, {a, b, c, 0.0}};
}

constexpr JointRule kJ123Code0 = {kT1, two_edges(40, 70, 410, 700, 900)};
constexpr JointRule kJ456Code0 = {kT2, two_edges(5, 20, 52, 140, 170)};
constexpr JointRule kJ123Arm3 = {kT3, two_edges(2, 6.9, 195, 228, 308)};
constexpr JointRule kJ456Arm3 = {kT2, two_edges(6.9, 12, 52, 140, 170)};
constexpr JointRule kJ123Arm5 = {kT1, two_edges(15, 50, 566.25, 712.5, 818.75)};
constexpr JointRule kJ456Arm5 = {kT2, two_edges(2, 6.9, 52, 70, 85)};
constexpr JointRule kJ12Arm10 = {kT4, two_edges(30, 110, 850, 1630, 2738)};
constexpr JointRule kJ3Arm10 = {kT1, two_edges(15, 50, 410, 700, 900)};
constexpr JointRule kJ456Arm10 = {kT3, two_edges(6.9, 12, 39.6, 116.4, 166.8)};
// The large arms' shoulder joints have a third load edge; the divisor drops between 196 and
// 700 N m before rising again.
constexpr JointRule kJ12Large = {kT5, LoadDivisor{3, {54, 196, 700}, {5804, 8360, 7274.7, 9274.7}}};
constexpr JointRule kJ3Large = {kT6, two_edges(29, 108, 1062.5, 1630, 2738)};
constexpr JointRule kJ456Large = {kT7, two_edges(14, 48, 410, 700, 900)};
constexpr JointRule kJ123Other = {kT1, two_edges(15, 50, 410, 700, 900)};
constexpr JointRule kJ456Other = {kT2, two_edges(2, 6.9, 52, 140, 170)};

using kxmc::Band;
constexpr Band<BandRule> kThresholdBands[] = {
    {0, 0, {kJ123Code0, kJ123Code0, kJ456Code0}},
    {1, 100, {kJ123Arm3, kJ123Arm3, kJ456Arm3}},
    {101, 200, {kJ123Arm5, kJ123Arm5, kJ456Arm5}},
    {201, 400, {kJ12Arm10, kJ3Arm10, kJ456Arm10}},
    {401, 500, {kJ12Large, kJ3Large, kJ456Large}},
    {1001, 1100, {kJ12Large, kJ3Large, kJ456Large}},
};
constexpr BandRule kOtherModels = {kJ123Other, kJ123Other, kJ456Other};

// Divisor for a torque magnitude; a torque that is not a number takes the lowest band.
double load_divisor(const LoadDivisor &s, double load) {
    int band = 0;
    for (int e = 0; e < s.edges && e < 3; ++e) {
        if (load > s.edge[e]) {
            band = e + 1;
        }
    }
    return s.divisor[band];
}

const JointRule &joint_rule(const BandRule &rule, int joint) {
    if (joint < 2) {
        return rule.joints12;
    }
    return joint == 2 ? rule.joint3 : rule.joints456;
}

// Threshold [deg] of one joint under the band's rules; tau null counts as an unloaded arm.
double threshold(const BandRule &rule, int joint, const float *tau) {
    const JointRule &r = joint_rule(rule, joint);
    const double load = tau != nullptr ? std::fabs(static_cast<double>(tau[joint])) : 0.0;
    const int row = kxmc::detail::level_row(mpb.collisionLevel[joint]);
    return r.levels[row] / load_divisor(r.load, load);
}

// Deflection [deg] of a joint: encoder B's angle minus encoder A's. The count difference is
// taken in integers first, so the subtraction loses nothing however far the joint has turned.
double deflection_deg(int32_t counts_a, int32_t counts_b) {
    const int64_t difference = static_cast<int64_t>(counts_b) - static_cast<int64_t>(counts_a);
    return static_cast<double>(difference) / kCountsPerRev * 360.0 / kGearRatio;
}

// ---- Detector state -------------------------------------------------------------------------

double err_data_mb[kJoints][2];             // filtered deflection of the previous and current step
double peaks_val[kHistoryRows][kJoints];    // last six local maxima per joint, oldest in row 0
double valleys_val[kHistoryRows][kJoints];  // last six local minima per joint, oldest in row 0
double no_extremum[kHistoryRows][kJoints];  // takes the pushes of steps without an extremum

// Moves rows 1..5 of a history column down by one and stores value in row 5.
void push_extremum(double (&hist)[kHistoryRows][kJoints], int joint, double value) {
    for (int r = 0; r < kLastRow; ++r) {
        hist[r][joint] = hist[r + 1][joint];
    }
    hist[kLastRow][joint] = value;
}

// Departure of the newest extremum from the mean of the four before it; 0 until six are stored.
double departure(const double (&hist)[kHistoryRows][kJoints], int joint) {
    if (std::fabs(hist[0][joint]) < kFullHistory) {
        return 0.0;
    }
    const double mean =
        (hist[1][joint] + hist[2][joint] + hist[3][joint] + hist[4][joint]) / 4.0;
    return std::fabs(hist[kLastRow][joint] - mean);
}

// Peak and valley evaluation of one step. Returns the joint number 1..3 of the first collision,
// or 0. A threshold is only needed where a new extremum departs from the ones before.
int evaluate_extrema(const double rise[kJoints], const double fall[kJoints],
                     const BandRule &rule, const float *tau) {
    for (int i = 0; i < kJoints; ++i) {
        // The extremum lies at the previous step, whose filtered value err_data_mb now holds
        // as "previous".
        const double extremum = err_data_mb[i][0];
        const bool peak = (rise[i] > 0.0) & (fall[i] > 0.0);
        const bool valley = (rise[i] < 0.0) & (fall[i] < 0.0);
        // Whether a step ends a peak, a valley or neither follows the signal and cannot be
        // predicted: the history is selected rather than branched to, and a step without an
        // extremum pushes into a history no one reads.
        double(&hist)[kHistoryRows][kJoints] =
            peak ? peaks_val : (valley ? valleys_val : no_extremum);
        push_extremum(hist, i, extremum);
        const double d = departure(hist, i);
        const double departs = (peak || valley) ? d : 0.0;
        if (i < kReportingJoints && departs > 0.0 && departs - threshold(rule, i, tau) > 0.0) {
            return i + 1;
        }
    }
    return 0;
}

// Reaction to a collision of joint n (1..3) by mcb.collisionPauseFlag. Reactions 3 to 5 (stop
// and hand guiding) belong to the torque-residual check; this detector leaves them alone.
void react(int joint) {
    const uint32_t code = KXMC_COLLISION_NONE + static_cast<uint32_t>(joint);
    switch (mcb.collisionPauseFlag) {
    case 0:
        mcb.collisionErrorCode = code;
        if (mpb.robotState == kRobotRunning) {
            initCollisionDetection();
            qmcPause();
        }
        break;
    case 1:
        mcb.collisionErrorCode = code;
        break;
    case 2:
        mcb.collisionErrorCode = code;
        if (mpb.robotState == kRobotRunning) {
            initCollisionDetection();
            qmcStop();
            if (mcb.collisionCheckMode == kCheckModeStopToDrag) {
                mcb.frictionCompOn = 0;
                qmcDragSwitch(1);
                Write_Log(2, "dualEncCollision After to DragMode mcb.collisionPauseFlag = :%u",
                          static_cast<unsigned>(mcb.collisionPauseFlag));
            }
        }
        break;
    default:
        break;
    }
}

// What the steps of one cycle share: the encoder sample's deflections and the model's rules.
struct CycleSample {
    double defl[kJoints];  // [deg]
    const BandRule *rule;

    CycleSample() : rule(&kxmc::lookup_band(kThresholdBands, mcb.robotModelCode, kOtherModels)) {
        for (int i = 0; i < kJoints; ++i) {
            defl[i] = deflection_deg(how.encoderPosA[i], how.encoderPosB[i]);
        }
    }
};

// One detector step on the cycle's sample; filt4's windows move down by a row once full.
void detection_step(int32_t j, const float *tau, const CycleSample &sample) {
    FilterHistory &f = filt4;
    if (f.row > kLastRow) {
        kxmc::detail::shift_filter_rows(&f.history[kInputRow0]);
        kxmc::detail::shift_filter_rows(&f.history[kOutputRow0]);
        f.row = kLastRow;
    } else if (f.row < 0) {
        f.row = 0;  // only an outside write can get here; restart the row count
    }
    const int k = f.row;

    double rise[kJoints];
    double fall[kJoints];
    for (int i = 0; i < kJoints; ++i) {
        f.history[kInputRow0 + k][i] = sample.defl[i];
        double y = 0.0;
        (void)kxmc::detail::deflection_filter_step(&f.history[kInputRow0],
                                                   &f.history[kOutputRow0], i, k, &y);
        f.history[kOutputRow0 + k][i] = y;
        const double prev = err_data_mb[i][0];
        const double cur = err_data_mb[i][1];
        rise[i] = cur - prev;
        fall[i] = cur - y;
        err_data_mb[i][0] = cur;
        err_data_mb[i][1] = y;
    }

    if (f.samples > kWarmUpSamples) {
        f.samples -= 1;
        if (j >= 0 && j < kJoints) {
            mpb.collisionThrSource[j] = 0;
            mpb.collisionThrDisplay[j] = threshold(*sample.rule, j, tau);
        }
        const int hit = evaluate_extrema(rise, fall, *sample.rule, tau);
        if (hit != 0) {
            react(hit);
        }
    }

    f.row += 1;
    f.samples += 1;
}

}  // namespace

namespace kxmc {
namespace detail {

void dual_encoder_cycle(const float tau[6]) {
    const CycleSample sample;
    for (int32_t j = 0; j < kJoints; ++j) {
        detection_step(j, tau, sample);
    }
}

}  // namespace detail
}  // namespace kxmc

extern "C" {

int32_t initCollisionDetection(void) {
    for (int r = 0; r < kHistoryRows; ++r) {
        for (int i = 0; i < kJoints; ++i) {
            peaks_val[r][i] = 0.0;
            valleys_val[r][i] = 0.0;
            filt4.history[kInputRow0 + r][i] = 0.0;
            filt4.history[kOutputRow0 + r][i] = 0.0;
        }
    }
    for (int i = 0; i < kJoints; ++i) {
        err_data_mb[i][0] = 0.0;
        err_data_mb[i][1] = 0.0;
    }
    filt4.row = 0;
    filt4.samples = 0;
    return 0;
}

int32_t kxmcCollisionDetection(int32_t j, const float *tau) {
    detection_step(j, tau, CycleSample{});
    return 0;
}

}  // extern "C"
