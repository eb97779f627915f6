// Excitation-trajectory payload identification: runs along the Fourier trajectory with the torques
// of Orocos KDL's inverse dynamics recover payloads against the tabulated and a measured baseline;
// the run's timing, heap use and refusals; the trajectory and the extrema.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "allocation_counter.hpp"
#include "host_fixture.hpp"
#include "simhost/kxsimhost.hpp"
#include "tests/excitation/excitation_plant.hpp"

namespace excitation_test {
namespace {

// Calls of the host's matSum (two per accumulated sample), counted by interposing it.
using MatSumFn = int (*)(MatHead, MatHead, MatHead);
const MatSumFn g_host_matsum = reinterpret_cast<MatSumFn>(dlsym(RTLD_NEXT, "matSum"));
long matsum_calls = 0;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const Trajectory kSlow{10.0, 4.0};  // a 40 s period, joint rates below about 1 rad/s
constexpr long kPeriodCalls = 40000;
const char kSingular[] = "excitation identification: normal equations singular, no solution\n";

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
void expect_payload(const Result &r, const Payload &p, double mass_share, double mm) {
    ASSERT_EQ(r.rc, 0);
    EXPECT_NEAR(r.mass, p.mass, mass_share * p.mass);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(r.c[k], (&p.x)[k], mm) << k;
}

class ExcitationRun : public kxsim_test::HostFixture {
   protected:
    void SetUp() override { HostFixture::SetUp(), kxsim::set_recording(false); }
    // A prepared run over one period of the slow trajectory, torques as the drives report them.
    void run(const Payload &load) {
        ASSERT_EQ(kxmcdynstoreresert(), 0);
        const Plant plant(102.0, load);
        for (long c = 0; c < kPeriodCalls; ++c) {
            Joints q, qd, qdd;
            kSlow.state(c, q, qd, qdd);
            const Joints tau = plant.torque(q, qd, qdd);
            double pos[6], meas[6];
            for (int i = 0; i < 6; ++i) pos[i] = q[i] / kDeg, meas[i] = kDriveGain[i] * tau[i];
            ASSERT_EQ(kxmcloadidentifymain(meas, pos, kPeriodCalls * 1e-3), 0);
        }
    }
    // Calls with positions along the fast trajectory (enough excitation for a solution after a
    // few seconds) or held (none), torques 0.
    void feed(long calls, double duration, bool moving = true) {
        const double tau[6] = {};
        for (long c = 0; c < calls; ++c) {
            double pos[6] = {0, -90, 90, -90, -90, 0};
            if (moving) kxmcComputefourierAccVelPos(0.0, 80.0, 10.0, static_cast<uint32_t>(c), pos);
            ASSERT_EQ(kxmcloadidentifymain(tau, pos, duration), 0);
        }
    }
};

// The regressor spans the wrist torques of the arm on its own chain, reflected rotor inertias and
// Coulomb friction included: a least-squares fit over random states (one at rest) is exact and
// returns them, divided by the gear ratio.
TEST(WristRegressor, SpansTheWristTorquesWithRotorsAndFriction) {
    const Plant plant(138.0, {0, 0, 0, 0});
    const double coulomb[3] = {1.2, 0.8, 0.5};  // [N m]
    std::mt19937_64 rng(20240603);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Eigen::MatrixXd A(360, 27);
    Eigen::VectorXd b(360);
    for (int s = 0; s < 120; ++s) {
        Joints q, qd, qdd;
        for (int i = 0; i < 6; ++i)
            q[i] = 3 * u(rng), qd[i] = s == 0 ? 0.0 : 2 * u(rng), qdd[i] = 8 * u(rng);
        double y[3][27], *rows[3] = {y[0], y[1], y[2]};
        ASSERT_EQ(solve_Hb5(q.data(), qd.data(), qdd.data(), MatHead{0, 2, 0, 26, 0, rows}), 0);
        const Joints tau = plant.torque(q, qd, qdd);
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 27; ++k) A(3 * s + r, k) = y[r][k];
            const double v = qd[3 + r];
            b(3 * s + r) = kDriveGain[3 + r] * (tau[3 + r] + coulomb[r] * ((v > 0) - (v < 0)));
        }
    }
    const Eigen::VectorXd theta = A.colPivHouseholderQr().solve(b);
    EXPECT_LT((A * theta - b).norm(), 1e-12 * b.norm());
    for (int r = 0; r < 3; ++r) {
        EXPECT_NEAR(theta(9 * r + 7), 0.42552 / 100, 1e-12);
        EXPECT_NEAR(theta(9 * r + 8), coulomb[r] / 100, 1e-12);
    }
}

// Against the tabulated baseline (the plant is the arm itself, d4 = 102 mm, not the regressor's
// chain), then against a run without payload stored as the baseline: it survives the next
// preparation and cancels what the model leaves out; a selection returns to the table.
TEST_F(ExcitationRun, RecoversPayloadsAgainstTheTableAndAMeasuredBaseline) {
    EXPECT_EQ(result().rc, -2);  // nothing solved yet
    EXPECT_EQ(kxmcloadidentifyvalue(1), -2);
    for (const Payload &p : {Payload{2.0, 30, -20, 50}, Payload{5.0, -10, 40, 80}}) {
        run(p);
        expect_payload(result(), p, 0.05, 5.0);
    }
    run({0, 0, 0, 0});
    EXPECT_EQ(kxmcloadidentifyvalue(1), 0);
    const Result none = result();  // the run against itself: no mass, no centre
    EXPECT_EQ(none.rc, -3);
    EXPECT_EQ(none.c[0] * none.c[0] + none.c[1] * none.c[1] + none.c[2] * none.c[2], 0.0);
    const Payload p{1.0, 60, -50, 20};
    run(p);
    expect_payload(result(), p, 0.02, 2.0);
    EXPECT_EQ(kxmcloadidentifyvalue(7), 0);
    for (uint32_t k : {0u, 1u, 2u, 3u}) {
        ASSERT_EQ(kxmcloadidentifyvalue(1), 0);
        EXPECT_EQ(kxmcselectvalue(k), 0);
        EXPECT_EQ(result().rc, k < 3 ? 0 : -3) << k;  // 3 is no selection
    }
}

// Derivatives need the samples around: the first two calls add nothing, later calls one sample
// each (two matrix sums). A call with a value that is not finite is ignored: it neither enters
// the history nor counts, so a 0.5 s run ends at the 500th call that counts, unsolvable without
// excitation. The exported steps check their arguments; without a run calls touch nothing.
TEST_F(ExcitationRun, FirstTwoCallsAddNothingAndAHalfSecondRunEndsAtCall500) {
    kxsim::set_recording(true);
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    const double ok[6] = {}, bad[6] = {0, 0, kNaN, 0, HUGE_VAL, 0};
    const long before = matsum_calls;
    feed(2, 0.5, false);
    EXPECT_EQ(matsum_calls - before, 0);
    EXPECT_EQ(kxmcloadidentifymain(bad, ok, 0.5) + kxmcloadidentifymain(ok, bad, 0.5) +
                  kxmcloadidentifymain(ok, ok, kNaN),
              -3);
    double y = 7, out[27], rows[3][27], *r[3] = {rows[0], rows[1], nullptr};
    EXPECT_EQ(qmcComIdentifySum(0) + qmcComIdentifySum(5), -2);
    EXPECT_EQ(filter_data(-1, 0, &y) + filter_data(6, 0, &y) + filter_data(0, 6, &y), -3);
    EXPECT_EQ(filter_data(5, 2, &y), 0);
    EXPECT_EQ(solve_Hb5(ok, ok, ok, MatHead{0, 2, 0, 26, 0, r}), -1);  // a missing row
    EXPECT_EQ(solve_Hb5(ok, nullptr, ok, MatHead{0, 1, 0, 26, 0, r}), -1);
    feed(497, 0.5, false);
    EXPECT_EQ(matsum_calls - before, 2 * 497);
    EXPECT_FALSE(kxsim::log_contains(kSingular));
    feed(1, 0.5, false);
    EXPECT_EQ(matsum_calls - before, 2 * 498);
    EXPECT_TRUE(kxsim::log_contains(kSingular, 1));
    EXPECT_EQ(result().rc, -2);
    EXPECT_EQ(kxmcloadidentifymain(bad, ok, 0.01), 0);             // no run: nothing is looked at
    EXPECT_EQ(qmcComIdentifySum(1) + qmcComIdentifyInv(out), -2);  // no store
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    EXPECT_EQ(Store_free(), 0);  // ends the run: the next cycles touch nothing
    feed(5, 0.01);
    EXPECT_EQ(matsum_calls - before, 2 * 498);
}

// Preparation allocates the store (freeing one left behind); the run allocates nothing and its
// last cycle solves and frees everything.
TEST_F(ExcitationRun, HeapIsUsedOnlyToPrepareAndToEndARun) {
    if (!kxmc_alloc::counting_available()) GTEST_SKIP() << "the sanitizer owns the allocator";
    kxmc_alloc::count_allocations(true);
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    const long blocks = kxmc_alloc::allocations();
    EXPECT_GT(blocks, 7 * 3);  // row-pointer arrays and rows
    kxmc_alloc::count_allocations(true);
    ASSERT_EQ(kxmcdynstoreresert(), 0);
    EXPECT_EQ(kxmc_alloc::live_blocks(), 0);  // as many freed as allocated
    kxmc_alloc::count_allocations(true);
    feed(3000, 3.0);
    EXPECT_EQ(kxmc_alloc::allocations(), 0);
    EXPECT_EQ(kxmc_alloc::live_blocks(), -blocks);
    // A refused allocation anywhere: -1, nothing kept, no run, a log line.
    for (long fail_at : {1L, 2L, blocks / 2, blocks}) {
        kxmc_alloc::count_allocations(true, fail_at);
        EXPECT_EQ(kxmcdynstoreresert(), -1);
        EXPECT_EQ(kxmc_alloc::live_blocks(), 0) << fail_at;
        const long before = matsum_calls;
        feed(10, 0.1);
        EXPECT_EQ(matsum_calls, before);
    }
    kxsim::set_recording(true);
    kxmc_alloc::count_allocations(true, 1);
    EXPECT_EQ(kxmcdynstoreresert(), -1);
    EXPECT_TRUE(
        kxsim::log_contains("excitation identification: no memory for the sample store\n", 1));
    feed(10, 0.01);  // a whole run's calls: no run was started, so none ends
    EXPECT_FALSE(kxsim::log_contains(kSingular));
}

// At k = 0 joint j sits at C_j - (sum_l B_jl / l) / w and moves at sum_l A_jl (sums of the
// coefficient table); the positions repeat after the real period a.
TEST(FourierTrajectory, StartsAsTheSeriesAndRepeatsAfterThePeriod) {
    const double T = 10.0, w = 2 * kPi / T;
    const double sum_a[6] = {-1.07741848682534, 0.921055794870359,  -1.56872136482705,
                             -1.67200764072118, -0.367782450627089, -0.293794549869833};
    const double sum_b_l[6] = {0.492394985240379, -0.495691035318304, 0.788579237000771,
                               0.57733710868291,  -0.146151945542819, 0.159862945761732};
    const double c[6] = {0.0184361602989109, -1.00852061176421,    -0.194588606577135,
                         0.0151879766209857, -0.00818653911693022, -0.0217886414487416};
    double q0[6], q1[6], q2[6], q[6];
    EXPECT_FALSE(kxmcComputefourierAccVelPos(123.0, 0.8, T, 0, q0));  // a = 0.8: 100 steps a period
    EXPECT_FALSE(kxmcComputefourierAccVelPos(0.0, 0.8, T, 100, q));
    kxmcComputefourierAccVelPos(0.0, 8e3 * T, T, 1, q1);  // 1 and 2 microseconds in
    kxmcComputefourierAccVelPos(0.0, 8e3 * T, T, 2, q2);
    for (int j = 0; j < 6; ++j) {
        EXPECT_NEAR(q0[j] * kDeg, c[j] - sum_b_l[j] / w, 1e-12) << j;
        EXPECT_NEAR((-3 * q0[j] + 4 * q1[j] - q2[j]) * kDeg / 2e-6, sum_a[j], 1e-6) << j;
        EXPECT_NEAR(q[j], q0[j], 1e-9) << j;
    }
    q[0] = 7.0;
    const double refused[][2] = {{0, T}, {1, -T}, {kNaN, T}, {1, HUGE_VAL}};  // a, T
    for (const auto &r : refused) EXPECT_TRUE(kxmcComputefourierAccVelPos(0, r[0], r[1], 3, q));
    EXPECT_EQ(q[0], 7.0);  // refusals write nothing
    double rec[3] = {5, 0, 0};
    EXPECT_EQ(kxmcComputefourierMotion(1, 8000.0, 2, rec), 0);
    EXPECT_EQ(rec[0] + rec[1] + rec[2], 5 + 1.5 + 12);
    EXPECT_EQ(kxmcComputefourierMotion(0, -5.0, 0, rec) + kxmcComputefourierMotion(0, kNaN, 0, rec),
              -2);
}

TEST(PeaksAndValleys, FindsInteriorExtremaFirstSampleOfAPlateau) {
    struct Case {
        std::vector<double> data, peaks, valleys;
    };
    // The last: a sample that is not a number is no neighbour.
    const Case cases[] = {{{0, 1, 1, 0}, {1}, {}},
                          {{1, 0, 0, 1}, {}, {0}},
                          {{0, 1}, {}, {}},
                          {{0, 1, 2, 3}, {}, {}},
                          {{3, 2, 1, 0}, {}, {}},
                          {{3, 1, 2, 0, 5, 4, 6}, {2, 5}, {1, 0, 4}},
                          {{0, kNaN, 2, 1, 2}, {}, {1}}};
    for (const Case &c : cases) {
        double peaks[8], valleys[8];
        uint32_t np = 99, nv = 99;
        const auto n = static_cast<uint32_t>(c.data.size());
        findPeaksAndValleys(c.data.data(), n, peaks, valleys, &np, &nv);
        EXPECT_EQ(std::vector<double>(peaks, peaks + np), c.peaks);
        EXPECT_EQ(std::vector<double>(valleys, valleys + nv), c.valleys);
        findPeaksAndValleys(c.data.data(), n, peaks, valleys, nullptr,
                            nullptr);  // counts not wanted
    }
}

}  // namespace
}  // namespace excitation_test

extern "C" int matSum(MatHead A, MatHead B, MatHead R) {
    ++excitation_test::matsum_calls;
    return excitation_test::g_host_matsum(A, B, R);
}
