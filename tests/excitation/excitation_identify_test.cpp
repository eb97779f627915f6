// Excitation-trajectory payload identification against Orocos KDL: the wrist regressor spans
// the arm's wrist torques exactly and a payload moves the four parameters the result reads; runs
// along the Fourier trajectory with KDL's torques recover payloads against the tabulated and a
// measured baseline; the run's timing, heap use and refusals.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "kxmc/kxmc_identification_store.h"
#include "simhost/kxsimhost.hpp"
#include "tests/excitation/excitation_plant.hpp"
#include "tests/excitation/host_counters.hpp"

namespace excitation_test {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// T = 10 s played four times slower: a 40 s period, joint rates below about 1 rad/s.
const Trajectory kSlowTrajectory{10.0, 4.0};
constexpr long kPeriodCalls = 40000;

struct Result {
    int rc;
    double mass, c[3];
};

Result result() {
    ExcitationResultBlock block{};
    block.value[4] = 1.0;
    Result r{};
    r.rc = kxmcgetloadidentifyresult(block, &r.mass, r.c);
    return r;
}

class ExcitationRun : public kxsim_test::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        kxsim::set_recording(false);  // long runs; the log is checked where it matters
    }
    // Feeds `calls` cycles of the trajectory with the plant's torques as the drives report them.
    void feed(const Plant &plant, const Trajectory &traj, long calls, double duration) {
        for (long c = 0; c < calls; ++c) {
            Joints q, qd, qdd;
            traj.state(c, q, qd, qdd);
            const Joints tau = plant.torque(q, qd, qdd);
            double pos[6], meas[6];
            for (int i = 0; i < 6; ++i) pos[i] = q[i] / kDeg, meas[i] = kDriveGain[i] * tau[i];
            ASSERT_EQ(kxmcloadidentifymain(meas, pos, duration), 0);
        }
    }
    void run(const Payload &load, double d4_mm = 102.0) {
        ASSERT_EQ(kxmcdynstoreresert(), 0);
        feed(Plant(d4_mm, load), kSlowTrajectory, kPeriodCalls, kPeriodCalls * 1e-3);
    }
    // Positions along the trajectory at full speed from call `first` on, torques 0: enough
    // excitation for a solution after a few seconds, without the plant.
    void feed_moving(long first, long calls, double duration) {
        const double tau[6] = {};
        for (long c = first; c < first + calls; ++c) {
            double pos[6];
            kxmcComputefourierAccVelPos(0.0, 80.0, 10.0, static_cast<uint32_t>(c), pos);
            ASSERT_EQ(kxmcloadidentifymain(tau, pos, duration), 0);
        }
    }
    // A short run of constant samples; its count is what matters.
    void feed_constant(long calls, double duration) {
        const double pos[6] = {0, -90, 90, -90, -90, 0}, tau[6] = {0, 30, 10, 1, 1, 0.1};
        for (long c = 0; c < calls; ++c) ASSERT_EQ(kxmcloadidentifymain(tau, pos, duration), 0);
    }
};

// ---- Regressor ----------------------------------------------------------------------------

// Least-squares parameters of the wrist torques KDL gives at random states (the plant on the
// regressor's own geometry), and the relative residual of the fit.
Eigen::VectorXd fit_parameters(const Payload &load, double *residual) {
    const int states = 120;
    const Plant plant(138.0, load);
    std::mt19937_64 rng(20240603);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Eigen::MatrixXd A(3 * states, 27);
    Eigen::VectorXd b(3 * states);
    for (int s = 0; s < states; ++s) {
        Joints q, qd, qdd;
        for (int i = 0; i < 6; ++i) q[i] = 3 * u(rng), qd[i] = 2 * u(rng), qdd[i] = 8 * u(rng);
        double rows[3][27];
        double *ptr[3] = {rows[0], rows[1], rows[2]};
        EXPECT_EQ(solve_Hb5(q.data(), qd.data(), qdd.data(), MatHead{0, 2, 0, 26, 0, ptr}), 0);
        const Joints tau = plant.torque(q, qd, qdd);
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 27; ++k) A(3 * s + r, k) = rows[r][k];
            b(3 * s + r) = kDriveGain[3 + r] * tau[3 + r];
        }
    }
    const Eigen::VectorXd theta = A.colPivHouseholderQr().solve(b);
    *residual = (A * theta - b).norm() / b.norm();
    return theta;
}

// A payload of m kg at (x, y, z) adds, divided by the gear ratio 100: 0.102 m to entry 6,
// m (z + 0.1) to entry 15, m x to 23 and m y to 24.
TEST(WristRegressor, SpansTheWristTorquesAndAPayloadMovesFourParameters) {
    double residual = 1;
    const Eigen::VectorXd bare = fit_parameters({0, 0, 0, 0}, &residual);
    EXPECT_LT(residual, 1e-12);
    const Payload loads[] = {{2.0, 30, -20, 50}, {5.0, -10, 40, -15}};
    for (const Payload &p : loads) {
        const Eigen::VectorXd loaded = fit_parameters(p, &residual);
        EXPECT_LT(residual, 1e-12);
        const Eigen::VectorXd d = (loaded - bare) * 100.0;
        EXPECT_NEAR(d(6), 0.102 * p.mass, 1e-9);
        EXPECT_NEAR(d(15), p.mass * (p.z * 1e-3 + 0.1), 1e-9);
        EXPECT_NEAR(d(23), p.mass * p.x * 1e-3, 1e-9);
        EXPECT_NEAR(d(24), p.mass * p.y * 1e-3, 1e-9);
        EXPECT_NEAR(d(7) + d(16) + d(25), 0.0, 1e-9);  // rotor inertias do not change
    }
}

TEST(WristRegressor, RefusesNullInputsAndHeadersOfAnotherSize) {
    double rows[3][27] = {};
    double *ptr[3] = {rows[0], rows[1], rows[2]};
    const double q[6] = {};
    const MatHead good{0, 2, 0, 26, 0, ptr};
    const MatHead bad[] = {{0, 1, 0, 26, 0, ptr}, {0, 2, 0, 25, 0, ptr}, {0, 2, 0, 26, 0, nullptr},
                           {-1, 1, 0, 26, 0, ptr}};
    for (const MatHead &h : bad) EXPECT_EQ(solve_Hb5(q, q, q, h), -1);
    EXPECT_EQ(solve_Hb5(nullptr, q, q, good), -1);
    EXPECT_EQ(solve_Hb5(q, nullptr, q, good), -1);
    EXPECT_EQ(solve_Hb5(q, q, nullptr, good), -1);
    ptr[1] = nullptr;
    EXPECT_EQ(solve_Hb5(q, q, q, good), -1);
}

// ---- Runs along the trajectory --------------------------------------------------------------

// Against the tabulated baseline of the 5-kg arm. The plant is the arm itself (d4 = 102 mm), not
// the regressor's chain.
TEST_F(ExcitationRun, RecoversAPayloadAgainstTheTabulatedBaseline) {
    const Payload loads[] = {{2.0, 30, -20, 50}, {5.0, -10, 40, 80}};
    for (const Payload &p : loads) {
        SCOPED_TRACE(std::to_string(p.mass) + " kg");
        run(p);
        const Result r = result();
        ASSERT_EQ(r.rc, 0);
        EXPECT_NEAR(r.mass, p.mass, 0.05 * p.mass);
        EXPECT_NEAR(r.c[0], p.x, 5.0);
        EXPECT_NEAR(r.c[1], p.y, 5.0);
        EXPECT_NEAR(r.c[2], p.z, 5.0);
    }
}

// A run without payload stored as the baseline is kept by the next preparation and cancels what
// the model leaves out; selecting the table returns to it.
TEST_F(ExcitationRun, MeasuredBaselineIsKeptUntilTheTableIsSelected) {
    EXPECT_EQ(kxmcloadidentifyvalue(1), -2);  // nothing solved yet
    run({0, 0, 0, 0});
    EXPECT_EQ(kxmcloadidentifyvalue(1), 0);
    EXPECT_EQ(result().rc, -3);  // the run against itself: no mass
    const Payload p{1.0, 0, 0, 20};
    run(p);
    const Result measured = result();
    ASSERT_EQ(measured.rc, 0);
    EXPECT_NEAR(measured.mass, p.mass, 0.02 * p.mass);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(measured.c[k], (&p.x)[k], 2.0) << k;
    EXPECT_EQ(kxmcloadidentifyvalue(7), 0);  // other flags change nothing
    EXPECT_EQ(result().mass, measured.mass);
    // The loaded run as baseline gives no mass; each selection returns to the table, which
    // sees the payload again.
    for (uint32_t k : {0u, 1u, 2u}) {
        ASSERT_EQ(kxmcloadidentifyvalue(1), 0);
        EXPECT_EQ(result().rc, -3);
        EXPECT_EQ(kxmcselectvalue(k), 0);
        EXPECT_NEAR(result().mass, p.mass, 0.05 * p.mass) << k;
    }
    ASSERT_EQ(kxmcloadidentifyvalue(1), 0);
    EXPECT_EQ(kxmcselectvalue(3), 0);  // not a selection: the baseline stays
    EXPECT_EQ(result().rc, -3);
}

// ---- Timing of a run ----------------------------------------------------------------------------

// Derivatives need the samples before and after: the first two calls add nothing, every later
// call one sample (two matrix sums); a 0.5 s run ends at call 500 and later calls do nothing.
TEST_F(ExcitationRun, FirstTwoCallsAddNothingAndAHalfSecondRunEndsAtCall500) {
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    const long before = matsum_calls();
    feed_constant(2, 0.5);
    EXPECT_EQ(matsum_calls() - before, 0);
    feed_constant(1, 0.5);
    EXPECT_EQ(matsum_calls() - before, 2);
    feed_constant(496, 0.5);
    EXPECT_EQ(result().rc, -2);  // call 499: still collecting
    feed_constant(1, 0.5);       // call 500 ends the run, unsolvable without excitation
    EXPECT_EQ(matsum_calls() - before, 2 * 498);
    EXPECT_EQ(result().rc, -2);
    feed_constant(10, 0.5);
    EXPECT_EQ(matsum_calls() - before, 2 * 498);
}

// Positions that do not excite the wrist leave the normal equations singular: no solution, a log
// line, and the result says so.
TEST_F(ExcitationRun, SingularNormalEquationsGiveNoSolution) {
    kxsim::set_recording(true);
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    feed_constant(50, 0.05);
    EXPECT_TRUE(kxsim::log_contains(
        "excitation identification: normal equations singular, no solution\n", 1));
    const Result r = result();
    EXPECT_EQ(r.rc, -2);
    EXPECT_EQ(r.mass, 0.0);
    EXPECT_EQ(kxmcloadidentifyvalue(1), -2);
}

// A call with a value that is not finite is ignored: it neither enters the history nor counts.
TEST_F(ExcitationRun, CallsWithValuesThatAreNotFiniteAreIgnored) {
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    const double pos[6] = {0, -90, 90, -90, -90, 0}, tau[6] = {0, 30, 10, 1, 1, 0.1};
    double bad_pos[6] = {0, -90, kNaN, -90, -90, 0}, bad_tau[6] = {0, 30, 10, 1, HUGE_VAL, 0.1};
    const long before = matsum_calls();
    feed_constant(3, 0.01);
    EXPECT_EQ(kxmcloadidentifymain(bad_tau, pos, 0.01), -1);
    EXPECT_EQ(kxmcloadidentifymain(tau, bad_pos, 0.01), -1);
    EXPECT_EQ(kxmcloadidentifymain(tau, pos, kNaN), -1);
    EXPECT_EQ(kxmcloadidentifymain(nullptr, pos, 0.01), -1);
    EXPECT_EQ(kxmcloadidentifymain(tau, nullptr, 0.01), -1);
    feed_constant(7, 0.01);  // calls 4 to 10 of the run; 10 ends it
    EXPECT_EQ(matsum_calls() - before, 2 * 8);
    feed_constant(5, 0.01);
    EXPECT_EQ(matsum_calls() - before, 2 * 8);
    EXPECT_EQ(kxmcloadidentifymain(bad_tau, pos, 0.01), 0);  // no run: nothing is looked at
}

TEST_F(ExcitationRun, StepsRefuseArgumentsOutsideTheHistory) {
    double out[27] = {};
    EXPECT_EQ(qmcComIdentifySum(2), -1);  // no store
    EXPECT_EQ(qmcComIdentifyInv(out), -1);
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    for (int32_t m : {0, 5, -3}) EXPECT_EQ(qmcComIdentifySum(m), -1) << m;
    EXPECT_EQ(qmcComIdentifyInv(nullptr), -1);
    EXPECT_EQ(qmcComIdentifyInv(out), -2);  // nothing summed: singular
    const long before = matsum_calls();
    for (int32_t m : {1, 4}) EXPECT_EQ(qmcComIdentifySum(m), 0) << m;
    EXPECT_EQ(matsum_calls() - before, 4);
    double y = 7;
    const int32_t bad[][2] = {{-1, 0}, {6, 0}, {0, -1}, {0, 6}};
    for (const auto &a : bad) EXPECT_EQ(filter_data(a[0], a[1], &y), -1);
    EXPECT_EQ(filter_data(0, 0, nullptr), -1);
    EXPECT_EQ(y, 7);
    EXPECT_EQ(Store_free(), 0);
    EXPECT_EQ(qmcComIdentifySum(2), -1);
}

// The low-pass of the positions: unity gain at rest, so a position held long enough is passed
// on unchanged; the raw samples are relative to the first one.
TEST_F(ExcitationRun, FilteredPositionSettlesOnTheHeldStep) {
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    const double tau[6] = {};
    double pos[6] = {10, 20, 30, 40, 50, 60};
    ASSERT_EQ(kxmcloadidentifymain(tau, pos, 100.0), 0);
    for (double &p : pos) p += 1.0;  // a 1 degree step after the first sample
    double y = 0;
    for (int c = 0; c < 3000; ++c) ASSERT_EQ(kxmcloadidentifymain(tau, pos, 100.0), 0);
    ASSERT_EQ(filter_data(3, 5, &y), 0);  // the next output at the last row, same input
    EXPECT_NEAR(y, kDeg, 1e-9);
}

// ---- Heap ----------------------------------------------------------------------------------------

#if KXMC_COUNT_HEAP
// Preparation allocates the store; the cycles that only collect allocate nothing; the last cycle
// frees everything; preparing again frees a store left behind.
TEST_F(ExcitationRun, HeapIsUsedOnlyToPrepareAndToEndARun) {
    arm_heap();
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    const HeapCount prepared = disarm_heap();
    EXPECT_GT(prepared.allocations, 7 * 3);  // row-pointer arrays and rows
    arm_heap();
    ASSERT_EQ(kxmcdynstoreresert(), 0);  // again without ending the run
    const HeapCount again = disarm_heap();
    EXPECT_EQ(again.allocations, prepared.allocations);
    arm_heap();
    feed_moving(0, 2999, 3.0);
    EXPECT_EQ(disarm_heap().allocations, 0);
    arm_heap();
    feed_moving(2999, 1, 3.0);  // call 3000 solves and ends the run
    EXPECT_EQ(disarm_heap().allocations, 0);
    EXPECT_NE(result().rc, -2);  // solved
    // Everything allocated by a preparation is gone when the run ends.
    arm_heap();
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    feed_moving(0, 3000, 3.0);
    EXPECT_EQ(disarm_heap().live, 0);
}

// An allocation refused anywhere in the preparation: -1, nothing kept, no run active.
TEST_F(ExcitationRun, RefusedAllocationIsReportedAndLeavesNothingBehind) {
    arm_heap();
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    const long blocks = disarm_heap().allocations;
    ASSERT_EQ(Store_free(), 0);
    for (long fail_at : {1L, 2L, blocks / 2, blocks}) {
        SCOPED_TRACE(fail_at);
        arm_heap(fail_at);
        EXPECT_EQ(kxmcdynstoreresert(), -1);
        EXPECT_EQ(disarm_heap().live, 0);
        const long before = matsum_calls();
        feed_constant(10, 0.1);
        EXPECT_EQ(matsum_calls(), before);  // no run
        EXPECT_EQ(qmcComIdentifySum(1), -1);
    }
    kxsim::set_recording(true);  // the log line (its capture allocates: not counted)
    arm_heap(1);
    EXPECT_EQ(kxmcdynstoreresert(), -1);
    disarm_heap();
    EXPECT_TRUE(kxsim::log_contains("excitation identification: no memory for the sample store\n", 1));
}
#endif

// ---- Result ------------------------------------------------------------------------------------

TEST_F(ExcitationRun, ResultNeedsOutputsAndASolvedRun) {
    double mass = 9, c[3] = {9, 9, 9};
    EXPECT_EQ(kxmcgetloadidentifyresult(ExcitationResultBlock{}, nullptr, c), -1);
    EXPECT_EQ(kxmcgetloadidentifyresult(ExcitationResultBlock{}, &mass, nullptr), -1);
    EXPECT_EQ(kxmcgetloadidentifyresult(ExcitationResultBlock{}, &mass, c), -2);
    EXPECT_EQ(mass, 0.0);
    EXPECT_EQ(c[0] + c[1] + c[2], 0.0);
}

// ---- Trajectory and extrema -----------------------------------------------------------------

// At k = 0 joint 2 sits at (-sum B_2l / l) / w + C_2; the positions repeat after one real period
// a, and their rate is the series' velocity sum A cos + B sin, scaled by T / a.
TEST(FourierTrajectory, StartsPeriodicWithTheSeriesVelocity) {
    const double T = 10.0, a = 0.8;  // a real period of 100 steps
    const double w = 2 * kPi / T;
    const double B2[5] = {-0.449694958301013, -0.490791123036929, 0.831261884626116,
                          0.431179175655506, -0.927413021440375};
    double start = -0.00852061176421409 - 1.0;
    for (int l = 1; l <= 5; ++l) start -= B2[l - 1] / l / w;
    double q0[6], q[6];
    EXPECT_FALSE(kxmcComputefourierAccVelPos(123.0, a, T, 0, q0));
    EXPECT_NEAR(q0[1], start / kDeg, 1e-9);
    EXPECT_FALSE(kxmcComputefourierAccVelPos(0.0, a, T, 100, q));
    for (int j = 0; j < 6; ++j) EXPECT_NEAR(q[j], q0[j], 1e-9) << j;
    // Joint 1's rate at t = 0 is sum A_1l [rad/s].
    const double A1 = 0.659116803820449 - 0.888234545964046 - 0.227611176288041 + 0.261865766295111 -
                      0.882555334688814;
    const double fine_a = 8.0 * T * 1e3;  // t = k microseconds
    double qp[6];
    kxmcComputefourierAccVelPos(0.0, fine_a, T, 1, qp);
    EXPECT_NEAR((qp[0] - q0[0]) * kDeg / 1e-6, A1, 1e-5);
    kxmcComputefourierAccVelPos(0.0, fine_a, T, 2500000, qp);  // a quarter period: w t = pi / 2
    double qn[6];
    kxmcComputefourierAccVelPos(0.0, fine_a, T, 2500001, qn);
    const double A1l[5] = {0.659116803820449, -0.888234545964046, -0.227611176288041,
                           0.261865766295111, -0.882555334688814};
    const double B1l[5] = {0.21126460795242, 0.417053116306071, 0.78122169240243,
                           -0.376524408006376, -0.468361548321464};
    double rate = 0;
    for (int l = 1; l <= 5; ++l) rate += A1l[l - 1] * std::cos(l * kPi / 2) + B1l[l - 1] * std::sin(l * kPi / 2);
    EXPECT_NEAR((qn[0] - qp[0]) * kDeg / 1e-6, rate, 1e-5);
}

TEST(FourierTrajectory, RefusesPeriodsThatAreNotPositive) {
    const double bad[][2] = {{0, 10}, {-1, 10}, {1, 0}, {1, -10}, {kNaN, 10}, {1, HUGE_VAL}};
    for (const auto &p : bad) {
        double q[6] = {7, 7, 7, 7, 7, 7};
        EXPECT_TRUE(kxmcComputefourierAccVelPos(0, p[0], p[1], 3, q)) << p[0] << " " << p[1];
        EXPECT_EQ(q[0], 7);
    }
    EXPECT_TRUE(kxmcComputefourierAccVelPos(0, 1, 10, 3, nullptr));
}

TEST(FourierTrajectory, MotionRecordOfThePeriod) {
    double rec[3] = {5, 0, 0};
    EXPECT_EQ(kxmcComputefourierMotion(1, 8000.0, 2, rec), 0);
    EXPECT_EQ(rec[0], 5);
    EXPECT_DOUBLE_EQ(rec[1], 1.5);
    EXPECT_EQ(rec[2], 12.0);
    for (double T : {0.0, -5.0, kNaN, HUGE_VAL}) EXPECT_EQ(kxmcComputefourierMotion(0, T, 0, rec), -1);
    EXPECT_DOUBLE_EQ(rec[1], 1.5);
    EXPECT_EQ(kxmcComputefourierMotion(0, 8000.0, 0, nullptr), -1);
}

struct ExtremaCase {
    std::vector<double> data, peaks, valleys;
};

TEST(PeaksAndValleys, FindsInteriorExtremaFirstSampleOfAPlateau) {
    const ExtremaCase cases[] = {
        {{0, 1, 1, 0}, {1}, {}},
        {{1, 0, 0, 1}, {}, {0}},
        {{0, 1}, {}, {}},
        {{3, 1, 2, 0, 5, 4, 6}, {2, 5}, {1, 0, 4}},
        {{5, 4, 3, 2}, {}, {}},
        {{0, kNaN, 2, 1, 2}, {}, {1}},  // a sample that is not a number is no neighbour
    };
    for (const ExtremaCase &c : cases) {
        double peaks[8] = {}, valleys[8] = {};
        uint32_t np = 99, nv = 99;
        findPeaksAndValleys(c.data.data(), static_cast<uint32_t>(c.data.size()), peaks, valleys, &np, &nv);
        ASSERT_EQ(np, c.peaks.size());
        ASSERT_EQ(nv, c.valleys.size());
        for (size_t i = 0; i < c.peaks.size(); ++i) EXPECT_EQ(peaks[i], c.peaks[i]);
        for (size_t i = 0; i < c.valleys.size(); ++i) EXPECT_EQ(valleys[i], c.valleys[i]);
    }
    const double d[4] = {0, 1, 0, 1};
    double out[4];
    uint32_t np = 9, nv = 9;
    findPeaksAndValleys(nullptr, 4, out, out, &np, &nv);
    EXPECT_EQ(np + nv, 0u);
    np = nv = 9;
    findPeaksAndValleys(d, 4, nullptr, out, &np, &nv);
    EXPECT_EQ(np + nv, 0u);
    findPeaksAndValleys(d, 4, out, out, nullptr, nullptr);  // counts not wanted: no crash
}

}  // namespace
}  // namespace excitation_test
