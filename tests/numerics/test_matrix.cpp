// Matrix routines checked by algebraic identities (inverse times matrix, determinant
// multiplicativity, transposes of products), the rotation step by its geometric meaning and
// the non-finite constants by their bit patterns.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ostream>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
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
    for (int i = 0; i < 6; ++i)
        for (int k = 0; k < 6; ++k) e = std::fmax(e, std::fabs(m[i * 6 + k] - (i == k ? 1.0 : 0.0)));
    return e;
}

// ---- Products and transposes ---------------------------------------------------------------

TEST(MatrixProducts, WorkedExampleAndTransposeOfProduct) {
    // (2 x 3)(3 x 2) by hand.
    const double A[6] = {1, 2, 3, 4, 5, 6};
    const double B[6] = {7, 8, 9, 10, 11, 12};
    double P[4];
    MatrixMulDimen(2, 3, 2, A, B, P);
    EXPECT_EQ(std::vector<double>(P, P + 4), (std::vector<double>{58, 64, 139, 154}));
    double At[6];
    transposeMatrixDimen(2, 3, A, At);
    EXPECT_EQ(std::vector<double>(At, At + 6), (std::vector<double>{1, 4, 2, 5, 3, 6}));

    // (A B)^T = B^T A^T on 6 x 6, MatrixMul6 and MatrixMulDimen agreeing.
    std::mt19937 rng(1);
    const Mat6 X = random_matrix(rng, 0), Y = random_matrix(rng, 0);
    Mat6 XY, XYt, Xt, Yt, YtXt;
    MatrixMul6(X.data(), Y.data(), XY.data());
    transposeMatrix(XY.data(), XYt.data());
    transposeMatrix(X.data(), Xt.data());
    transposeMatrix(Y.data(), Yt.data());
    MatrixMul6(Yt.data(), Xt.data(), YtXt.data());
    for (int i = 0; i < 36; ++i) EXPECT_NEAR(XYt[i], YtXt[i], 1e-14);
    const Mat6 XY2 = product(X, Y);
    for (int i = 0; i < 36; ++i) EXPECT_DOUBLE_EQ(XY[i], XY2[i]);
}

TEST(MatrixProducts, FixedSizeProductsAcceptTheirOutputAsInput) {
    // P = A P in place must equal the product formed out of place, for 3, 4 and 6.
    struct Case {
        int n;
        int (*fn)(const double *, const double *, double *);
    };
    std::mt19937 rng(2);
    std::uniform_real_distribution<double> u(-2, 2);
    for (const Case c : {Case{3, MatrixMul3}, Case{4, MatrixMul}, Case{6, MatrixMul6}}) {
        std::vector<double> A(c.n * c.n), B(c.n * c.n), ref(c.n * c.n);
        for (double &x : A) x = u(rng);
        for (double &x : B) x = u(rng);
        MatrixMulDimen(c.n, c.n, c.n, A.data(), B.data(), ref.data());
        std::vector<double> inplace = B;
        c.fn(A.data(), inplace.data(), inplace.data());
        for (int i = 0; i < c.n * c.n; ++i) EXPECT_NEAR(inplace[i], ref[i], 1e-13) << c.n;
    }
    // y = A x in place.
    const Mat6 A = random_matrix(rng, 0);
    double x[6] = {1, -2, 3, -4, 5, -6}, y[6];
    MatrixMul6and1(A.data(), x, y);
    MatrixMul6and1(A.data(), x, x);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(x[i], y[i]);
}

TEST(MatrixProducts, VectorProductRepeatCountAndEmptySizes) {
    std::mt19937 rng(3);
    const Mat6 A = random_matrix(rng, 0);
    const double x[6] = {1, 2, 3, 4, 5, 6};
    double once[6], thrice[6];
    MatrixMulDimenSingle(6, 6, 1, A.data(), x, once);
    MatrixMulDimenSingle(6, 6, 3, A.data(), x, thrice);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(once[i], thrice[i]);

    // Counts below 1 leave the outputs as they were.
    const double sentinel = -123.0;
    for (int32_t k : {0, -1}) {
        double y[6] = {sentinel, sentinel, sentinel, sentinel, sentinel, sentinel};
        MatrixMulDimenSingle(6, 6, k, A.data(), x, y);
        for (double v : y) EXPECT_EQ(v, sentinel);
    }
    double out[36];
    std::fill(out, out + 36, sentinel);
    MatrixMulDimen(0, 6, 6, A.data(), A.data(), out);
    MatrixMulDimen(6, 6, -3, A.data(), A.data(), out);
    MatrixAddDimen(-1, 6, A.data(), A.data(), out);
    MatrixSubDimen(6, 0, A.data(), A.data(), out);
    transposeMatrixDimen(0, 0, A.data(), out);
    for (double v : out) EXPECT_EQ(v, sentinel);
}

TEST(MatrixProducts, SumDifferenceAndCrossProduct) {
    const double A[6] = {1, 2, 3, 4, 5, 6}, B[6] = {6, 5, 4, 3, 2, 1};
    double S[6], D[6];
    MatrixAddDimen(2, 3, A, B, S);
    MatrixSubDimen(3, 2, S, B, D);  // (A + B) - B = A
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(S[i], 7.0);
        EXPECT_EQ(D[i], A[i]);
    }
    const double ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
    double ez[3];
    crossProduct(ex, ey, ez);
    EXPECT_EQ(std::vector<double>(ez, ez + 3), (std::vector<double>{0, 0, 1}));
    // a x b is orthogonal to both and anti-commutes; in place on the first argument.
    double a[3] = {0.3, -1.2, 2.5};
    const double b[3] = {-0.7, 0.4, 1.1};
    double c[3], c2[3];
    crossProduct(a, b, c);
    crossProduct(b, a, c2);
    EXPECT_NEAR(c[0] * a[0] + c[1] * a[1] + c[2] * a[2], 0.0, 1e-15);
    EXPECT_NEAR(c[0] * b[0] + c[1] * b[1] + c[2] * b[2], 0.0, 1e-15);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c[i], -c2[i]);
    crossProduct(a, b, a);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(a[i], c[i]);
}

// ---- Determinants --------------------------------------------------------------------------

// Determinant of the leading n x n block of a dense 6 x 6 matrix through each routine.
struct DetRoutine {
    const char *name;
    int max_n;
    std::function<double(const Mat6 &, int)> det;
};

// Short names in test listings.
void PrintTo(const DetRoutine &p, std::ostream *os) { *os << p.name; }

const DetRoutine kDetRoutines[] = {
    {"determinant", 6, [](const Mat6 &m, int n) { return determinant(m.data(), n); }},
    {"determinantDimen", 6,
     [](const Mat6 &m, int n) {
         std::vector<double> d(n > 0 ? n * n : 1, 0.0);
         for (int i = 0; i < n && i < 6; ++i)
             for (int k = 0; k < n && k < 6; ++k) d[i * n + k] = m[i * 6 + k];
         return determinantDimen(n, d.data());
     }},
    {"determinantDimen4", 4,
     [](const Mat6 &m, int n) {
         double d[16];
         for (int i = 0; i < 4; ++i)
             for (int k = 0; k < 4; ++k) d[i * 4 + k] = m[i * 6 + k];
         return determinantDimen4(n, d);
     }},
};

class Determinant : public ::testing::TestWithParam<DetRoutine> {};

TEST_P(Determinant, IdentitiesHoldForEveryOrder) {
    const DetRoutine &r = GetParam();
    std::mt19937 rng(4);
    Mat6 I{};
    for (int i = 0; i < 6; ++i) I[i * 6 + i] = 1.0;
    for (int n = 1; n <= r.max_n; ++n) {
        EXPECT_EQ(r.det(I, n), 1.0) << r.name << " n=" << n;
        const Mat6 A = random_matrix(rng, 0), B = random_matrix(rng, 0);
        // det(AB) = det A det B on the leading n x n blocks.
        Mat6 An{}, Bn{};
        for (int i = 0; i < n; ++i)
            for (int k = 0; k < n; ++k) {
                An[i * 6 + k] = A[i * 6 + k];
                Bn[i * 6 + k] = B[i * 6 + k];
            }
        const Mat6 AB = product(An, Bn);
        const double dA = r.det(An, n), dB = r.det(Bn, n);
        EXPECT_NEAR(r.det(AB, n), dA * dB, 1e-12 * (1 + std::fabs(dA * dB))) << r.name << n;
        if (n >= 2) {
            Mat6 equal_rows = An;
            for (int k = 0; k < n; ++k) equal_rows[(n - 1) * 6 + k] = equal_rows[k];
            EXPECT_NEAR(r.det(equal_rows, n), 0.0, 1e-14) << r.name << " n=" << n;
            Mat6 swapped = An;
            for (int k = 0; k < n; ++k) std::swap(swapped[k], swapped[6 + k]);
            EXPECT_NEAR(r.det(swapped, n), -dA, 1e-13) << r.name << " n=" << n;
        }
        Mat6 scaled = An;
        for (int k = 0; k < n; ++k) scaled[k] *= 3.0;
        EXPECT_NEAR(r.det(scaled, n), 3.0 * dA, 1e-13) << r.name << " n=" << n;
    }
    // Orders outside the storage give 0 without reading past it (checked under ASan).
    EXPECT_EQ(r.det(I, 0), 0.0);
    EXPECT_EQ(r.det(I, -2), 0.0);
    EXPECT_EQ(r.det(I, r.max_n + 1), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Routines, Determinant, ::testing::ValuesIn(kDetRoutines),
                         [](const ::testing::TestParamInfo<DetRoutine> &p) {
                             return std::string(p.param.name);
                         });

// ---- Inversions ----------------------------------------------------------------------------

struct Inverter {
    const char *name;
    int (*fn)(const double *, double *);
    bool pivots;  // handles a zero on the diagonal
};

// Short names in test listings.
void PrintTo(const Inverter &p, std::ostream *os) { *os << p.name; }

const Inverter kInverters[] = {
    {"inverseJacobi", inverseJacobi, false},
    {"invNxN", invNxN, true},
    {"inv", inv, true},
};

class Inversion : public ::testing::TestWithParam<Inverter> {};

TEST_P(Inversion, ProductWithInverseIsIdentity) {
    const Inverter &v = GetParam();
    std::mt19937 rng(5);
    for (int n = 0; n < 500; ++n) {
        // Diagonally dominant: every elimination order has non-zero pivots.
        const Mat6 A = random_matrix(rng, 4.0);
        Mat6 B;
        v.fn(A.data(), B.data());
        ASSERT_LT(distance_from_identity(product(A, B)), 1e-13) << v.name << " case " << n;
        ASSERT_LT(distance_from_identity(product(B, A)), 1e-13) << v.name << " case " << n;
        // In place.
        Mat6 C = A;
        v.fn(C.data(), C.data());
        for (int i = 0; i < 36; ++i) ASSERT_EQ(C[i], B[i]);
    }
}

TEST_P(Inversion, ZeroLeadingPivotNeedsRowExchange) {
    // First column (0, 3, -3, ...): partial pivoting takes the first of the two largest.
    const Inverter &v = GetParam();
    std::mt19937 rng(6);
    Mat6 A = random_matrix(rng, 0.0);
    const double col0[6] = {0, 3, -3, 1, 2, -1};
    for (int i = 0; i < 6; ++i) A[i * 6] = col0[i];
    ASSERT_GT(std::fabs(determinant(A.data(), 6)), 1e-3);
    Mat6 B;
    v.fn(A.data(), B.data());
    if (v.pivots) {
        EXPECT_LT(distance_from_identity(product(A, B)), 1e-12);
    } else {
        bool all_finite = true;
        for (double x : B) all_finite = all_finite && std::isfinite(x);
        EXPECT_FALSE(all_finite) << "elimination in row order cannot pass a zero pivot";
    }
}

INSTANTIATE_TEST_SUITE_P(Routines, Inversion, ::testing::ValuesIn(kInverters),
                         [](const ::testing::TestParamInfo<Inverter> &p) {
                             return std::string(p.param.name);
                         });

TEST(MatrixInverse, PivotingInverseOfGeneralMatrices) {
    std::mt19937 rng(8);
    int checked = 0;
    for (int n = 0; n < 500; ++n) {
        const Mat6 A = random_matrix(rng, 0.0);  // no dominance: pivoting matters
        if (std::fabs(determinantDimen(6, A.data())) < 1e-2) continue;
        Mat6 B;
        invNxN(A.data(), B.data());
        ASSERT_LT(distance_from_identity(product(A, B)), 1e-10) << "case " << n;
        ++checked;
    }
    EXPECT_GT(checked, 300);
}

TEST(MatrixInverse, FourByFourFloats) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int n = 0; n < 200; ++n) {
        float A[16], B[16];
        for (float &x : A) x = u(rng);
        for (int i = 0; i < 4; ++i) A[i * 5] += 3.0f;
        if (n % 2 == 0) std::swap_ranges(A, A + 4, A + 8);  // zero-free but pivot-needing rows
        invMatrix(A, B);
        float C[16];
        std::memcpy(C, A, sizeof C);
        inverseMatrix4(C, C);  // in place
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 4; ++k) {
                double s = 0.0;
                for (int j = 0; j < 4; ++j) s += double(A[i * 4 + j]) * B[j * 4 + k];
                ASSERT_NEAR(s, i == k ? 1.0 : 0.0, 1e-5) << "case " << n;
                ASSERT_EQ(C[i * 4 + k], B[i * 4 + k]);
            }
    }
}

TEST(MatrixInverse, TwoByTwoClosedFormAndSingularCase) {
    kxsim::clear_log();
    const double A[4] = {4, 7, 2, 6};
    double B[4];
    ASSERT_EQ(inverseMatrix2(A, B), 0);
    EXPECT_NEAR(A[0] * B[0] + A[1] * B[2], 1.0, 1e-15);
    EXPECT_NEAR(A[0] * B[1] + A[1] * B[3], 0.0, 1e-15);
    EXPECT_NEAR(A[2] * B[0] + A[3] * B[2], 0.0, 1e-15);
    EXPECT_NEAR(A[2] * B[1] + A[3] * B[3], 1.0, 1e-15);
    EXPECT_FALSE(kxsim::log_contains("Matrix is not invertible.\n"));

    const double S[4] = {1, 2, 2, 4};
    double out[4] = {5, 5, 5, 5};
    EXPECT_EQ(inverseMatrix2(S, out), -1);
    for (double x : out) EXPECT_EQ(x, 5.0);
    EXPECT_TRUE(kxsim::log_contains("Matrix is not invertible.\n", 4));
}

// ---- Rotation step between poses ----------------------------------------------------------

Trsf pose_of(double x, double y, double z, double first, double second, double third) {
    Trsf t;
    rpyToTrsf(&t, third, second, first);
    t.pos.v[0] = x;
    t.pos.v[1] = y;
    t.pos.v[2] = z;
    return t;
}

TEST(Quattorpy, EqualPosesGiveNoStep) {
    const Trsf poses[] = {pose_of(0, 0, 0, 0, 0, 0), pose_of(400, -120, 300, 30, -45, 170),
                          pose_of(-10, 5, 900, 179, 89, -179)};
    for (const Trsf &p : poses) {
        double out[3] = {9, 9, 9};
        ASSERT_EQ(quattorpy(p, p, out), 0);
        for (double v : out) EXPECT_NEAR(v, 0.0, 1e-7);
    }
}

TEST(Quattorpy, StepIsOneTenthOfTheRotation) {
    // b = a rotated by phi about an axis of a's own frame: the step is 2 sin(phi / 20) along
    // that axis (one tenth of the rotation, spherically), about phi / 10 for small phi.
    struct Case {
        double axis[3];
        double phi_deg;
    };
    const Case cases[] = {{{1, 0, 0}, 0.5}, {{0, 1, 0}, -2.0}, {{0, 0, 1}, 3.0},
                          {{1, 0, 0}, 90.0}, {{0, 0, 1}, -170.0}};
    const Trsf a = pose_of(300, 200, 500, 20, -35, 60);
    for (const Case &c : cases) {
        const Trsf r = pose_of(0, 0, 0, c.axis[0] * c.phi_deg, c.axis[1] * c.phi_deg,
                               c.axis[2] * c.phi_deg);
        Trsf b;
        multTrsf(&b, &a, &r);
        double out[3];
        ASSERT_EQ(quattorpy(a, b, out), 0);
        const double phi = c.phi_deg * 3.14159265358979323846 / 180.0;
        const double expected = 2.0 * std::sin(phi / 20.0);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(out[i], expected * c.axis[i], 1e-12) << "phi " << c.phi_deg;
        }
        if (std::fabs(c.phi_deg) <= 3.0) {
            const double step = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
            EXPECT_NEAR(step, std::fabs(phi) / 10.0, 1e-4 * std::fabs(phi));
        }
    }
}

// ---- Non-finite constants -----------------------------------------------------------------

uint64_t bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}
uint32_t bits(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

TEST(NonFinite, ConstantsHoldTheirPatternsBeforeAndAfterInitialisation) {
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(bits(rtNaN), 0xFFF8000000000000ull) << "pass " << pass;
        EXPECT_EQ(bits(rtNaNF), 0xFFC00000u) << "pass " << pass;
        EXPECT_EQ(rtInf, HUGE_VAL);
        EXPECT_EQ(rtMinusInf, -HUGE_VAL);
        EXPECT_EQ(rtInfF, HUGE_VALF);
        EXPECT_EQ(rtMinusInfF, -HUGE_VALF);
        rt_InitInfAndNaN();
    }
    EXPECT_EQ(bits(rtGetNaN()), 0xFFF8000000000000ull);
    EXPECT_EQ(bits(rtGetNaNF()), 0xFFC00000u);
    EXPECT_EQ(rtGetInf(), HUGE_VAL);
    EXPECT_EQ(rtGetMinusInf(), -HUGE_VAL);
    EXPECT_EQ(rtGetInfF(), HUGE_VALF);
    EXPECT_EQ(rtGetMinusInfF(), -HUGE_VALF);
}

TEST(NonFinite, Classification) {
    struct Case {
        double x;
        uint8_t nan, inf;
    };
    const Case cases[] = {{0.0, 0, 0},     {-1e308, 0, 0},   {HUGE_VAL, 0, 1},
                          {-HUGE_VAL, 0, 1}, {NAN, 1, 0},    {rtGetNaN(), 1, 0},
                          {5e-324, 0, 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(rtIsNaN(c.x), c.nan) << c.x;
        EXPECT_EQ(rtIsInf(c.x), c.inf) << c.x;
        const float f = std::isfinite(c.x) ? 1.5f : static_cast<float>(c.x);
        EXPECT_EQ(rtIsNaNF(f), c.nan) << c.x;
        EXPECT_EQ(rtIsInfF(f), c.inf) << c.x;
    }
}

}  // namespace
