// Matrix routines of the simulated host on row-pointer headers, against hand-computed results.
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "host/kxmc_host.h"

namespace {

// A dense matrix owning its rows, viewed through a header of the host's layout.
class Matrix {
public:
    Matrix(int rows, int cols, std::vector<double> values = {})
        : rows_(rows), cols_(cols), data_(static_cast<std::size_t>(rows * cols)), ptr_(rows) {
        for (int i = 0; i < rows; ++i) {
            ptr_[i] = data_.data() + i * cols;
        }
        for (std::size_t k = 0; k < values.size() && k < data_.size(); ++k) {
            data_[k] = values[k];
        }
    }
    MatHead head() { return MatHead{0, rows_ - 1, 0, cols_ - 1, 0, ptr_.data()}; }
    // Header of the block rows [r0, r1] x columns [c0, c1].
    MatHead block(int r0, int r1, int c0, int c1) { return MatHead{r0, r1, c0, c1, 0, ptr_.data()}; }
    double operator()(int i, int j) const { return data_[static_cast<std::size_t>(i * cols_ + j)]; }
    double &operator()(int i, int j) { return data_[static_cast<std::size_t>(i * cols_ + j)]; }
    const std::vector<double> &values() const { return data_; }

private:
    int rows_, cols_;
    std::vector<double> data_;
    std::vector<double *> ptr_;
};

void expect_values(const Matrix &m, const std::vector<double> &expect, double tol = 0.0) {
    ASSERT_EQ(m.values().size(), expect.size());
    for (std::size_t k = 0; k < expect.size(); ++k) {
        EXPECT_NEAR(m.values()[k], expect[k], tol) << "element " << k;
    }
}

TEST(Matrices, ProductSumAndTransposeOfSmallCases) {
    Matrix a(2, 3, {1, 2, 3, 4, 5, 6});
    Matrix b(3, 2, {7, 8, 9, 10, 11, 12});
    Matrix r(2, 2);
    ASSERT_EQ(matmul(a.head(), b.head(), r.head()), 0);
    expect_values(r, {58, 64, 139, 154});

    Matrix t(3, 2);
    ASSERT_EQ(transpose(a.head(), t.head()), 0);
    expect_values(t, {1, 4, 2, 5, 3, 6});

    // R may be B.
    Matrix s(3, 2, {1, 1, 1, 1, 1, 1});
    ASSERT_EQ(matSum(b.head(), s.head(), s.head()), 0);
    expect_values(s, {8, 9, 10, 11, 12, 13});

    // Square product into one of its inputs.
    Matrix sq(2, 2, {1, 2, 3, 4});
    Matrix other(2, 2, {0, 1, 1, 0});
    ASSERT_EQ(matmul(sq.head(), other.head(), sq.head()), 0);
    expect_values(sq, {2, 1, 4, 3});
}

TEST(Matrices, HeadersViewSubBlocksByAbsoluteIndex) {
    // 4x4 store; the 2x2 block at rows 1..2, columns 2..3 times a 2x1 vector.
    Matrix big(4, 4, {0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 3, 4, 0, 0, 0, 0});
    Matrix v(2, 1, {5, 6});
    Matrix out(3, 3);
    ASSERT_EQ(matmul(big.block(1, 2, 2, 3), v.head(), out.block(1, 2, 0, 0)), 0);
    expect_values(out, {0, 0, 0, 17, 0, 0, 39, 0, 0});
    // In-place inverse of the block leaves the rest of the store alone.
    ASSERT_EQ(matinvert(big.block(1, 2, 2, 3)), 0);
    expect_values(big, {0, 0, 0, 0, 0, 0, -2, 1, 0, 0, 1.5, -0.5, 0, 0, 0, 0}, 1e-15);
}

TEST(Matrices, InverseByGaussJordanWithPivoting) {
    struct Case {
        int n;
        std::vector<double> a, inverse;
    } cases[] = {
        {2, {4, 7, 2, 6}, {0.6, -0.7, -0.2, 0.4}},
        // Zero on the diagonal: needs a row exchange.
        {2, {0, 1, 1, 0}, {0, 1, 1, 0}},
        {3, {0, 2, 0, 1, 0, 0, 0, 0, 4}, {0, 1, 0, 0.5, 0, 0, 0, 0, 0.25}},
        {3, {2, -1, 0, -1, 2, -1, 0, -1, 2}, {0.75, 0.5, 0.25, 0.5, 1, 0.5, 0.25, 0.5, 0.75}},
    };
    for (Case &c : cases) {
        Matrix m(c.n, c.n, c.a);
        ASSERT_EQ(matinvert(m.head()), 0);
        expect_values(m, c.inverse, 1e-15);
    }
}

TEST(Matrices, InverseOfARandomWellConditionedMatrixTimesItselfIsTheIdentity) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n : {1, 6, 27, 40}) {  // 40 exceeds the stack scratch
        Matrix a(n, n), inv(n, n), prod(n, n);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                a(i, j) = u(rng) + (i == j ? n : 0.0);
                inv(i, j) = a(i, j);
            }
        }
        ASSERT_EQ(matinvert(inv.head()), 0);
        ASSERT_EQ(matmul(a.head(), inv.head(), prod.head()), 0);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                EXPECT_NEAR(prod(i, j), i == j ? 1.0 : 0.0, 1e-13) << n;
            }
        }
    }
}

TEST(Matrices, RefusedInputsLeaveTheOutputUntouched) {
    Matrix singular(3, 3, {1, 2, 3, 2, 4, 6, 1, 0, 1});
    const std::vector<double> before = singular.values();
    EXPECT_EQ(matinvert(singular.head()), -1);
    EXPECT_EQ(singular.values(), before);

    Matrix nan_m(2, 2, {1, std::nan(""), 0, 1});
    EXPECT_EQ(matinvert(nan_m.head()), -1);

    Matrix a(2, 3), b(2, 2), r(2, 2, {9, 9, 9, 9});
    EXPECT_EQ(matmul(a.head(), b.head(), r.head()), -1);   // inner sizes differ
    EXPECT_EQ(matSum(a.head(), b.head(), r.head()), -1);   // shapes differ
    EXPECT_EQ(transpose(a.head(), r.head()), -1);          // R is not 3x2
    EXPECT_EQ(matinvert(a.head()), -1);                    // not square
    MatHead bad = r.head();
    bad.lastRow = -1;
    EXPECT_EQ(matmul(b.head(), b.head(), bad), -1);
    bad = r.head();
    bad.rows = nullptr;
    EXPECT_EQ(matSum(b.head(), b.head(), bad), -1);
    expect_values(r, {9, 9, 9, 9});
}

}  // namespace
