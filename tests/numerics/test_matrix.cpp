// Matrix routines checked by algebraic identities (inverse times matrix, determinant
// multiplicativity, transposes of products), the rotation step by its geometric meaning and
// the non-finite constants by their classification.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
#include "numerics/model_bands.hpp"
#include "simhost/kxsimhost.hpp"

namespace {

using Mat6 = std::array<double, 36>;

Mat6 random_matrix(std::mt19937 &rng, double diagonal_boost) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Mat6 m;
    for (double &x : m) x = u(rng);
    for (int i = 0; i < 6; ++i) m[i * 6 + i] += diagonal_boost;
    return m;
}

Mat6 product(const Mat6 &a, const Mat6 &b) {
    Mat6 p;
    MatrixMulDimen(6, 6, 6, a.data(), b.data(), p.data());
    return p;
}

double distance_from_identity(const Mat6 &m) {
    double e = 0.0;
    for (int i = 0; i < 36; ++i) e = std::fmax(e, std::fabs(m[i] - (i % 7 == 0 ? 1.0 : 0.0)));
    return e;
}

TEST(MatrixProducts, WorkedExamplesInPlaceOutputsAndEmptySizes) {
    const double A[6] = {1, 2, 3, 4, 5, 6}, B[6] = {7, 8, 9, 10, 11, 12};
    double P[4], At[6], S[6], D[6];
    MatrixMulDimen(2, 3, 2, A, B, P);
    EXPECT_EQ(std::vector<double>(P, P + 4), (std::vector<double>{58, 64, 139, 154}));
    MatrixMulDimen(2, 1, 2, A, B, P);  // an inner dimension of 1: the outer product
    EXPECT_EQ(std::vector<double>(P, P + 4), (std::vector<double>{7, 8, 14, 16}));
    MatrixMulDimenSingle(3, 1, 1, A, B, P);  // a column times a number
    EXPECT_EQ(std::vector<double>(P, P + 3), (std::vector<double>{7, 14, 21}));
    transposeMatrixDimen(2, 3, A, At);
    EXPECT_EQ(std::vector<double>(At, At + 6), (std::vector<double>{1, 4, 2, 5, 3, 6}));
    MatrixAddDimen(2, 3, A, B, S);
    MatrixSubDimen(3, 2, S, A, D);  // (A + B) - A = B
    EXPECT_EQ(std::vector<double>(D, D + 6), std::vector<double>(B, B + 6));

    std::mt19937 rng(1);
    const Mat6 X = random_matrix(rng, 0), Y = random_matrix(rng, 0);
    // The fixed-size products accept their output as second input.
    using Fixed = int (*)(const double *, const double *, double *);
    for (const auto &c : std::initializer_list<std::pair<int, Fixed>>{
             {3, MatrixMul3}, {4, MatrixMul}, {6, MatrixMul6}}) {
        const int n = c.first;
        std::vector<double> ref(n * n), inplace(Y.begin(), Y.begin() + n * n);
        MatrixMulDimen(n, n, n, X.data(), inplace.data(), ref.data());
        c.second(X.data(), inplace.data(), inplace.data());
        for (int i = 0; i < n * n; ++i) EXPECT_NEAR(inplace[i], ref[i], 1e-13) << n;
    }
    // Matrix times vector, in place and with a repeat count, equals the general product.
    double x[6] = {1, -2, 3, -4, 5, -6}, ref[6], y3[6];
    MatrixMulDimen(6, 6, 1, X.data(), x, ref);
    MatrixMulDimenSingle(6, 6, 3, X.data(), x, y3);
    MatrixMul6and1(X.data(), x, x);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(x[i], ref[i], 1e-15);
        EXPECT_NEAR(y3[i], ref[i], 1e-15);
    }
    // Empty or negative sizes leave the output alone, an empty inner dimension too.
    double out[36];
    std::fill(out, out + 36, -123.0);
    MatrixMulDimenSingle(6, 6, 0, X.data(), X.data(), out);
    MatrixMulDimenSingle(6, 0, 1, X.data(), X.data(), out);
    MatrixMulDimen(6, 6, -3, X.data(), X.data(), out);
    MatrixMulDimen(6, 0, 6, X.data(), X.data(), out);
    MatrixAddDimen(-1, 6, X.data(), X.data(), out);
    for (double v : out) EXPECT_EQ(v, -123.0);
}

// Determinant of the leading n x n block of a dense 6 x 6 matrix through each routine.
TEST(Determinant, IdentitiesHoldForEveryOrderOfEveryRoutine) {
    const struct Routine {
        int max_n;
        std::function<double(const Mat6 &, int)> det;
    } routines[] = {
        {6, [](const Mat6 &m, int n) { return determinant(m.data(), n); }},
        {6,
         [](const Mat6 &m, int n) {
             std::vector<double> d(n > 0 ? n * n : 1, 0.0);
             for (int i = 0; n > 0 && n <= 6 && i < n * n; ++i) d[i] = m[(i / n) * 6 + i % n];
             return determinantDimen(n, d.data());
         }},
        {4,
         [](const Mat6 &m, int n) {
             double d[16];
             for (int i = 0; i < 16; ++i) d[i] = m[(i / 4) * 6 + i % 4];
             return determinantDimen4(n, d);
         }},
    };
    std::mt19937 rng(4);
    Mat6 I{};
    for (int i = 0; i < 6; ++i) I[i * 6 + i] = 1.0;
    for (int r = 0; r < 3; ++r) {
        const Routine &R = routines[r];
        for (int n = 1; n <= R.max_n; ++n) {
            EXPECT_EQ(R.det(I, n), 1.0) << "routine " << r << " n=" << n;
            Mat6 A{}, B{};  // random leading n x n blocks, zero elsewhere
            const Mat6 a = random_matrix(rng, 0), b = random_matrix(rng, 0);
            for (int i = 0; i < 36; ++i)
                if (i / 6 < n && i % 6 < n) A[i] = a[i], B[i] = b[i];
            const double dA = R.det(A, n), dB = R.det(B, n);
            EXPECT_NEAR(R.det(product(A, B), n), dA * dB, 1e-12 * (1 + std::fabs(dA * dB)))
                << "routine " << r << " n=" << n;
        }
        // Orders outside the storage give 0 without reading past it (checked under ASan).
        for (const int n : {0, -2, R.max_n + 1}) EXPECT_EQ(R.det(I, n), 0.0) << r << " n=" << n;
    }
}

TEST(MatrixInverse, ProductWithInverseIsIdentityAndPivotingPassesAZeroPivot) {
    // Each inverter and whether it handles a zero on the diagonal.
    const struct Inverter {
        int (*fn)(const double *, double *);
        bool pivots;
    } inverters[] = {{inverseJacobi, false}, {invNxN, true}, {inv, true}};
    std::mt19937 rng(5);
    for (int r = 0; r < 3; ++r) {
        const Inverter &v = inverters[r];
        for (int n = 0; n < 500; ++n) {
            const Mat6 A = random_matrix(rng, 4.0);  // diagonally dominant: no pivoting needed
            Mat6 B, C = A;
            v.fn(A.data(), B.data());
            ASSERT_LT(distance_from_identity(product(A, B)), 1e-13)
                << "routine " << r << " case " << n;
            v.fn(C.data(), C.data());  // in place
            ASSERT_EQ(C, B);
        }
        // First column (0, 3, -3, ...): elimination in row order meets a zero pivot and leaves
        // values that are not numbers; partial pivoting passes it.
        Mat6 A = random_matrix(rng, 0.0), B;
        const double col0[6] = {0, 3, -3, 1, 2, -1};
        for (int i = 0; i < 6; ++i) A[i * 6] = col0[i];
        ASSERT_GT(std::fabs(determinant(A.data(), 6)), 1e-3);
        v.fn(A.data(), B.data());
        const bool finite =
            std::all_of(B.begin(), B.end(), [](double x) { return std::isfinite(x); });
        EXPECT_EQ(finite, v.pivots) << "routine " << r;
        EXPECT_TRUE(!finite || distance_from_identity(product(A, B)) < 1e-12) << "routine " << r;
    }
}

TEST(MatrixInverse, FourByFourFloats) {
    std::mt19937 rng(9);
    for (int n = 0; n < 200; ++n) {
        const Mat6 R = random_matrix(rng, 3.0);
        float A[16], B[16], C[16];
        for (int i = 0; i < 16; ++i)
            A[i] = C[i] = static_cast<float>(
                R[(i / 4 + (n % 2) * 2) % 4 * 6 + i % 4]);  // odd n: rows that need pivoting
        invMatrix(A, B);
        inverseMatrix4(C, C);  // in place
        for (int i = 0; i < 16; ++i) {
            double s = 0.0;
            for (int j = 0; j < 4; ++j) s += double(A[i / 4 * 4 + j]) * B[j * 4 + i % 4];
            ASSERT_NEAR(s, i % 5 == 0 ? 1.0 : 0.0, 1e-5) << "case " << n;
            ASSERT_EQ(C[i], B[i]) << "case " << n;
        }
    }
    // An inverse beyond the float range is stored as +-FLT_MAX.
    const float tiny[16] = {1e-39f, 0, 0, 0, 0, -1e-39f, 0, 0, 0, 0, 2, 0, 0, 0, 0, 4};
    float inverse[16];
    invMatrix(tiny, inverse);
    EXPECT_EQ(inverse[0], FLT_MAX);
    EXPECT_EQ(inverse[5], -FLT_MAX);
    EXPECT_EQ(inverse[10], 0.5f);
}

TEST(MatrixInverse, TwoByTwoAndSingularCaseRefusedAndLogged) {
    kxsim::clear_log();
    const double A[4] = {4, 7, 2, 6};  // det 10
    double B[4];
    EXPECT_EQ(inverseMatrix2(A, B), 0);
    const double expected[4] = {0.6, -0.7, -0.2, 0.4};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(B[i], expected[i], 1e-15) << i;
    const double S[4] = {1, 2, 2, 4};
    double out[4] = {5, 5, 5, 5};
    EXPECT_EQ(inverseMatrix2(S, out), -1);
    EXPECT_EQ(std::vector<double>(out, out + 4), std::vector<double>(4, 5.0));
    EXPECT_TRUE(kxsim::log_contains("Matrix is not invertible.\n", 4));
}

Trsf pose_of(double first, double second, double third) {
    Trsf t;
    rpyToTrsf(&t, third, second, first);
    return t;
}

// b = a rotated by phi about an axis of a's own frame: the step is 2 sin(phi / 20) along that
// axis (one tenth of the rotation, spherically, the short way round); equal poses give no step.
// The host may hand out either quaternion of a rotation, q or -q: the step is the same.
TEST(Quattorpy, StepIsOneTenthOfTheRotation) {
    const struct {
        double axis[3], phi_deg;
        int quaternion_sign;
    } cases[] = {{{1, 0, 0}, 0.0, 1},    {{0, 1, 0}, -2.0, 1},  {{1, 0, 0}, 90.0, 1},
                 {{0, 0, 1}, -170.0, 1}, {{0, 1, 0}, -2.0, -1}, {{0, 0, 1}, 150.0, -1}};
    Trsf a = pose_of(20, -35, 60), b;
    a.pos = Vect{{300, 200, 500}};
    for (const auto &c : cases) {
        kxsim::set_quaternion_sign(c.quaternion_sign);
        const Trsf r = pose_of(c.axis[0] * c.phi_deg, c.axis[1] * c.phi_deg, c.axis[2] * c.phi_deg);
        multTrsf(&b, &a, &r);
        double out[3] = {9, 9, 9};
        ASSERT_EQ(quattorpy(a, b, out), 0);
        const double expected = 2.0 * std::sin(c.phi_deg * 3.14159265358979323846 / 180.0 / 20.0);
        const double tol = c.phi_deg == 0.0 ? 1e-7 : 1e-12;
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(out[i], expected * c.axis[i], tol) << c.phi_deg;
    }
}

// The non-finite constants of the generated code: NaN is the negative quiet NaN (bit patterns
// 0xFFF8000000000000 and 0xFFC00000), held from load on, written again by rt_InitInfAndNaN and
// handed out by the getters; the classifiers see NaN as x != x and infinity of either sign.
TEST(NonFinite, ConstantsGettersAndClassifiers) {
    const auto bits = [](auto x) {
        uint64_t b = 0;
        std::memcpy(&b, &x, sizeof x);
        return b;
    };
    for (int pass = 0; pass < 3; ++pass) {  // as loaded, restored, handed out by the getters
        const bool get = pass == 2;
        EXPECT_EQ(bits(get ? rtGetNaN() : rtNaN), 0xFFF8000000000000u) << pass;
        EXPECT_EQ(bits(get ? rtGetNaNF() : rtNaNF), 0xFFC00000u) << pass;
        EXPECT_EQ(get ? rtGetInf() : rtInf, HUGE_VAL) << pass;
        EXPECT_EQ(get ? rtGetMinusInf() : rtMinusInf, -HUGE_VAL) << pass;
        EXPECT_EQ(get ? rtGetInfF() : rtInfF, HUGE_VALF) << pass;
        EXPECT_EQ(get ? rtGetMinusInfF() : rtMinusInfF, -HUGE_VALF) << pass;
        rtNaN = rtInf = rtMinusInf = 1.0;  // overwritten by the host ...
        rtNaNF = rtInfF = rtMinusInfF = 1.0f;
        rt_InitInfAndNaN();  // ... and restored
    }
    const struct {
        double x;
        uint8_t nan, inf;
    } cases[] = {{0.0, 0, 0}, {-1e30, 0, 0}, {NAN, 1, 0}, {HUGE_VAL, 0, 1}, {-HUGE_VAL, 0, 1}};
    for (const auto &c : cases) {
        EXPECT_EQ(rtIsNaN(c.x), c.nan) << c.x;
        EXPECT_EQ(rtIsInf(c.x), c.inf) << c.x;
        EXPECT_EQ(rtIsNaNF(static_cast<float>(c.x)), c.nan) << c.x;
        EXPECT_EQ(rtIsInfF(static_cast<float>(c.x)), c.inf) << c.x;
    }
}

// The band lookup of the model tables: bands include both edges, the first band holding the
// code wins (single codes listed before their band), a code in no band takes the default.
TEST(ModelBands, FirstBandHoldingTheCodeWins) {
    constexpr kxmc::Band<int> table[] = {{3, 3, 30}, {1, 100, 10}, {201, 300, 20}};
    const struct {
        uint32_t code;
        int value, index;
    } cases[] = {{0, -1, -1},   {1, 10, 1},   {3, 30, 0},   {100, 10, 1},
                 {101, -1, -1}, {201, 20, 2}, {300, 20, 2}, {0xFFFFFFFFu, -1, -1}};
    for (const auto &c : cases) {
        EXPECT_EQ(kxmc::lookup_band(table, c.code, -1), c.value) << c.code;
        EXPECT_EQ(kxmc::find_band(table, c.code), c.index) << c.code;
    }
    const int32_t counts[][2] = {{-1, 0}, {0, 0}, {4, 4}, {6, 6}, {7, 6}, {INT32_MIN, 0}};
    for (const auto &c : counts) EXPECT_EQ(kxmc::clamp_joints(c[0]), c[1]) << c[0];
}

}  // namespace
