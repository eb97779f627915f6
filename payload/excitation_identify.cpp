// Excitation-trajectory payload identification: sample history, least-squares accumulation of
// the wrist dynamics, solution, baseline and payload result.
//
// Along a periodic excitation trajectory the torques of joints 4 to 6 are linear in the 27 base
// parameters of the wrist (wrist_regressor.hpp). Every cycle adds Y^T Y and Y^T tau of one
// sample to the normal equations; at the end of the run N theta = n is solved. A payload changes
// four of the parameters in a known way, so the difference to the parameters of the arm without
// payload gives its mass and centre of mass.
//
// The normal equations live in a heap store of row-pointer matrices for the host's matrix
// routines. It is allocated when a run is prepared and freed in the run's last cycle; the
// cycles between allocate nothing.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dynamics/arm_derivation.hpp"
#include "host/kxmc_host.h"
#include "jointid/selftest_parameters.hpp"
#include "kxmc/kxmc_dynamics_settings.h"
#include "kxmc/kxmc_identification_store.h"
#include "numerics/filter_records.hpp"
#include "payload/excitation_state.hpp"
#include "payload/matrix_block.hpp"
#include "payload/wrist_regressor.hpp"

namespace {

using kxmc::detail::kWristParams;
using kxmc::detail::kWristRows;

constexpr int kJoints = 6;
constexpr int kBaselineSize = 48;
constexpr int kWristOffset = 21;  // baseline entry of theta[0]: joints 1-3 hold 21 parameters
constexpr double kGearRatio = 100.0;
// The drives of joints 4 and 5 report this share of their joint's torque.
constexpr double kWristTorqueGain[kWristRows] = {0.8151, 0.8407, 1.0};
constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
constexpr double kCycle = 0.001;  // [s]

// Result step: the mass parameter carries d5 times the mass, the z first moment is taken about
// the wrist point d6 below the flange.
constexpr int kMassParam = 6;
constexpr int kMomentZParam = 15;
constexpr int kMomentXParam = 23;
constexpr int kMomentYParam = 24;
constexpr int kScaleValue = 4;           // value of the result block that scales the mass
constexpr double kMinMassWeight = 1e-5;  // |w| below: under 1 g, no centre of mass

// Third-order Butterworth low-pass of the positions (unity gain at rest).
constexpr double kFilterB[4] = {3.75592813463277e-6, 1.12677844038983e-5, 1.12677844038983e-5,
                                3.75592813463277e-6};
constexpr double kFilterA[4] = {1.0, -2.93717585357136, 2.87630965551717, -0.939103754520731};

// ---- Sample history -------------------------------------------------------------------------
// filt1 is used as plain arrays: rows of its history hold six joints each.
constexpr int kHistoryRows = 6;
constexpr int kLastRow = kHistoryRows - 1;
constexpr int kRawRow0 = 0;              // raw positions relative to the start [rad]
constexpr int kFilteredRow0 = 6;         // filtered relative positions [rad]
constexpr int kAbsoluteRow0 = 12;        // filtered absolute positions [rad]
constexpr int kStartRow = 18;            // start position q0 [rad]
constexpr int kTorqueRow0 = 19;          // measured torques [N m]
constexpr int kFilteredTorqueRow0 = 25;  // filtered torques relative to the start [N m]
constexpr int kTorqueSampleRow0 = 31;    // filtered torques [N m], the samples' torques
constexpr int kStartTorqueRow = 37;      // torque of the first sample [N m]
constexpr int kShiftedBlocks[] = {kRawRow0,    kFilteredRow0,       kAbsoluteRow0,
                                  kTorqueRow0, kFilteredTorqueRow0, kTorqueSampleRow0};

double *history(int row) noexcept { return filt1.history[row]; }

// ---- Store ----------------------------------------------------------------------------------

struct Matrix {
    int32_t rows;
    int32_t cols;
    MatHead head;
};

struct IdentificationStore {
    Matrix N;    // running sum of Y^T Y
    Matrix P;    // Y^T Y of the sample
    Matrix p;    // Y^T tau of the sample
    Matrix n;    // running sum of Y^T tau
    Matrix tau;  // wrist torques of the sample
    Matrix Y;    // regressor of the sample
    Matrix Yt;   // its transpose
    bool allocated;
};

IdentificationStore store = {
    {kWristParams, kWristParams, {}},
    {kWristParams, kWristParams, {}},
    {kWristParams, 1, {}},
    {kWristParams, 1, {}},
    {kWristRows, 1, {}},
    {kWristRows, kWristParams, {}},
    {kWristParams, kWristRows, {}},
    false,
};

Matrix *const kStoreMatrices[] = {&store.N,   &store.P, &store.p, &store.n,
                                  &store.tau, &store.Y, &store.Yt};

void release(Matrix &m) noexcept {
    if (m.head.rows != nullptr) {
        for (int32_t i = 0; i < m.rows; ++i) {
            std::free(m.head.rows[i]);
        }
        std::free(m.head.rows);
    }
    m.head = MatHead{};
}

void release_store() noexcept {
    for (Matrix *m : kStoreMatrices) {
        release(*m);
    }
    store.allocated = false;
}

// Allocates one matrix (zeroed); false when the heap refuses a block.
bool allocate(Matrix &m) noexcept {
    void *rows = std::malloc(sizeof(double *) * static_cast<std::size_t>(m.rows));
    if (rows == nullptr) {
        return false;
    }
    m.head = MatHead{0, m.rows - 1, 0, m.cols - 1, 0, static_cast<double **>(rows)};
    for (int32_t i = 0; i < m.rows; ++i) {
        m.head.rows[i] = nullptr;
    }
    for (int32_t i = 0; i < m.rows; ++i) {
        void *row = std::malloc(sizeof(double) * static_cast<std::size_t>(m.cols));
        if (row == nullptr) {
            return false;
        }
        std::memset(row, 0, sizeof(double) * static_cast<std::size_t>(m.cols));
        m.head.rows[i] = static_cast<double *>(row);
    }
    return true;
}

// ---- Baseline -------------------------------------------------------------------------------

struct Baseline {
    double x[kBaselineSize];
};

// The 5-kg arm without payload in the identification's parameters: its wrist links grouped
// into base parameters, its reflected rotor inertias, no friction, all divided by the gear ratio.
Baseline no_load_baseline() noexcept {
    const kxmc::StandardArmParameters &arm = kxmc::detail::kDefaultSet;
    kxmc::SelftestLinkSet links{};
    for (int i = 0; i < kJoints; ++i) {
        links.mass[i] = static_cast<double>(arm.masses[i]);
    }
    for (int i = 0; i < 18; ++i) {
        links.centre[i] = 1e-3 * static_cast<double>(arm.centres[i]);  // [mm] -> [m]
    }
    for (int i = 0; i < 36; ++i) {
        links.inertia[i] = 1e-6 * static_cast<double>(arm.inertias[i]);  // [kg mm^2] -> [kg m^2]
    }
    double theta54[54] = {};
    static_cast<void>(kxmc::selftest_group_parameters(5, links, theta54));
    double rigid[kxmc::detail::kWristRigidParams];
    kxmc::detail::wrist_base_parameters(&theta54[27], rigid);
    Baseline b{};
    for (int k = 0; k < kWristRows; ++k) {
        double *joint = &b.x[kWristOffset + kxmc::detail::kWristJointParams * k];
        for (int i = 0; i < kxmc::detail::kWristRigidJointParams; ++i) {
            joint[i] = rigid[kxmc::detail::kWristRigidJointParams * k + i] / kGearRatio;
        }
        joint[7] = 1e-6 * static_cast<double>(arm.rotor[3 + k]) / kGearRatio;
    }
    return b;
}

const Baseline kNoLoadBaseline = no_load_baseline();

double selftauHb_x0[kBaselineSize];  // baseline of the result step
bool measuredBaseline;               // selftauHb_x0 holds a run of the arm without payload
bool solutionValid;                  // solveX holds the solution of a finished run

// ---- Per-cycle steps ------------------------------------------------------------------------

bool finite_all(const double *v, int n) noexcept {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

// Low-pass output at row n of one joint: input rows x0.. (minus `offset`), output rows y0..;
// rows before 0 count as 0.
double low_pass(int x0, double offset, int y0, int joint, int n) noexcept {
    double y = 0.0;
    for (int k = 0; k <= 3 && n - k >= 0; ++k) {
        y += kFilterB[k] * (history(x0 + n - k)[joint] - offset);
        if (k > 0) {
            y -= kFilterA[k] * history(y0 + n - k)[joint];
        }
    }
    return y;
}

void shift_history() noexcept {
    for (int block : kShiftedBlocks) {
        kxmc::detail::shift_filter_rows(&filt1.history[block]);
    }
}

}  // namespace

extern "C" {

int32_t kxmcselectvalue(uint32_t k) {
    if (k <= 2) {
        std::memcpy(selftauHb_x0, kNoLoadBaseline.x, sizeof selftauHb_x0);
        measuredBaseline = false;
    }
    return 0;
}

int32_t kxmcloadidentifyvalue(int32_t flag) {
    if (flag != 1) {
        return 0;
    }
    if (!solutionValid) {
        return -2;
    }
    for (int i = 0; i < kBaselineSize; ++i) {
        selftauHb_x0[i] = i < kWristOffset ? 0.0 : solveX.theta[i - kWristOffset];
    }
    measuredBaseline = true;
    return 0;
}

int32_t Store_free(void) {
    static_cast<void>(kxmcdynfiltresert());
    release_store();
    solveX.active = 0;
    solveX.storePrepared = 0;
    return 0;
}

int32_t kxmcdynstoreresert(void) {
    if (!measuredBaseline) {
        static_cast<void>(kxmcselectvalue(1));
    }
    release_store();
    std::memset(solveX.theta, 0, sizeof solveX.theta);
    solutionValid = false;
    filt1 = FilterHistory{};  // a new run starts its history and sample count afresh
    solveX.active = 0;
    solveX.storePrepared = 0;
    for (Matrix *m : kStoreMatrices) {
        if (!allocate(*m)) {
            release_store();
            Write_Log(1, "excitation identification: no memory for the sample store\n");
            return -1;
        }
    }
    store.allocated = true;
    solveX.active = 1;
    solveX.storePrepared = 1;
    return 0;
}

int32_t solve_Hb5(const double *q, const double *qd, const double *qdd, MatHead Y) {
    if (q == nullptr || qd == nullptr || qdd == nullptr ||
        !kxmc::detail::block_fits(Y, kWristRows, kWristParams)) {
        return -1;
    }
    double y[kWristRows][kWristParams];
    kxmc::detail::wrist_regressor(q, qd, qdd, y);
    for (int r = 0; r < kWristRows; ++r) {
        const double scale = kGearRatio * kWristTorqueGain[r];
        for (int k = 0; k < kWristParams; ++k) {
            kxmc::detail::block_at(Y, r, k) = scale * y[r][k];
        }
    }
    return 0;
}

int32_t filter_data(int32_t joint, int32_t n, double *out) {
    if (joint < 0 || joint >= kJoints || n < 0 || n > kLastRow || out == nullptr) {
        return -1;
    }
    *out = low_pass(kRawRow0, 0.0, kFilteredRow0, joint, n);
    return 0;
}

int32_t qmcComIdentifySum(int32_t m) {
    if (!store.allocated || m < 1 || m > kLastRow - 1) {
        return -1;
    }
    const double *before = history(kAbsoluteRow0 + m - 1);
    const double *now = history(kAbsoluteRow0 + m);
    const double *after = history(kAbsoluteRow0 + m + 1);
    double q[kJoints], qd[kJoints], qdd[kJoints];
    for (int i = 0; i < kJoints; ++i) {
        q[i] = now[i];
        qd[i] = (after[i] - before[i]) / (2.0 * kCycle);
        qdd[i] = (after[i] + before[i] - 2.0 * now[i]) / (kCycle * kCycle);
    }
    const double *torque = history(kTorqueSampleRow0 + m);
    for (int r = 0; r < kWristRows; ++r) {
        store.tau.head.rows[r][0] = torque[3 + r];
    }
    static_cast<void>(solve_Hb5(q, qd, qdd, store.Y.head));
    static_cast<void>(transpose(store.Y.head, store.Yt.head));
    static_cast<void>(matmul(store.Yt.head, store.Y.head, store.P.head));
    static_cast<void>(matmul(store.Yt.head, store.tau.head, store.p.head));
    static_cast<void>(matSum(store.N.head, store.P.head, store.N.head));
    static_cast<void>(matSum(store.n.head, store.p.head, store.n.head));
    return 0;
}

int32_t qmcComIdentifyInv(double *out) {
    if (!store.allocated || out == nullptr) {
        return -1;
    }
    if (matinvert(store.N.head) != 0 || matmul(store.N.head, store.n.head, store.n.head) != 0) {
        return -2;
    }
    double theta[kWristParams];
    for (int i = 0; i < kWristParams; ++i) {
        theta[i] = store.n.head.rows[i][0];
    }
    if (!finite_all(theta, kWristParams)) {
        return -2;
    }
    std::memcpy(out, theta, sizeof theta);
    return 0;
}

int32_t kxmcloadidentifymain(const double *torque, const double *pos, double duration) {
    if (solveX.active == 0) {
        return 0;
    }
    if (torque == nullptr || pos == nullptr || !finite_all(torque, kJoints) ||
        !finite_all(pos, kJoints) || !std::isfinite(duration)) {
        return -1;
    }
    int32_t n = filt1.row < 0 ? 0 : filt1.row;
    double *q0 = history(kStartRow);
    if (n < 1) {
        for (int i = 0; i < kJoints; ++i) {
            q0[i] = pos[i] * kDegToRad;
            history(kStartTorqueRow)[i] = torque[i];
        }
    }
    if (n > kLastRow) {
        shift_history();
        n = kLastRow;
    }
    for (int i = 0; i < kJoints; ++i) {
        history(kRawRow0 + n)[i] = pos[i] * kDegToRad - q0[i];
        history(kTorqueRow0 + n)[i] = torque[i];
    }
    // Positions and torques pass the same filter, so that the sample's torque belongs to its
    // (delayed) position.
    const double *tau0 = history(kStartTorqueRow);
    for (int i = 0; i < kJoints; ++i) {
        const double y = low_pass(kRawRow0, 0.0, kFilteredRow0, i, n);
        history(kFilteredRow0 + n)[i] = y;
        history(kAbsoluteRow0 + n)[i] = y + q0[i];
        const double f = low_pass(kTorqueRow0, tau0[i], kFilteredTorqueRow0, i, n);
        history(kFilteredTorqueRow0 + n)[i] = f;
        history(kTorqueSampleRow0 + n)[i] = f + tau0[i];
    }
    if (n > 1) {
        static_cast<void>(qmcComIdentifySum(n - 1));
    }
    if (filt1.samples >= duration / kCycle - 1.0) {
        solutionValid = qmcComIdentifyInv(solveX.theta) == 0;
        if (!solutionValid) {
            Write_Log(1, "excitation identification: normal equations singular, no solution\n");
        }
        static_cast<void>(Store_free());
    }
    filt1.row = n + 1;
    if (filt1.samples < INT32_MAX) {
        ++filt1.samples;
    }
    return 0;
}

int32_t kxmcgetloadidentifyresult(ExcitationResultBlock block, double *mass, double coord[3]) {
    if (mass == nullptr || coord == nullptr) {
        return -1;
    }
    *mass = 0.0;
    coord[0] = coord[1] = coord[2] = 0.0;
    if (!solutionValid) {
        return -2;
    }
    const double *theta = solveX.theta;
    const double *x0 = selftauHb_x0;
    const double s = block.value[kScaleValue];
    // w: the payload's mass as the parameters see it (divided by the gear ratio)
    const double w =
        (s * theta[kMassParam] - x0[kWristOffset + kMassParam]) / kxmc::detail::kWristD5;
    if (!(std::fabs(w) >= kMinMassWeight) || !std::isfinite(w)) {
        *mass = std::isfinite(w) ? std::fabs(w) * kGearRatio : 0.0;
        return -3;
    }
    *mass = std::fabs(w) * kGearRatio;
    coord[0] = 1000.0 * (theta[kMomentXParam] - x0[kWristOffset + kMomentXParam]) / w;
    coord[1] = 1000.0 * (theta[kMomentYParam] - x0[kWristOffset + kMomentYParam]) / w;
    coord[2] =
        1000.0 *
        (theta[kMomentZParam] - x0[kWristOffset + kMomentZParam] - kxmc::detail::kWristD6 * w) / w;
    return 0;
}

}  // extern "C"
