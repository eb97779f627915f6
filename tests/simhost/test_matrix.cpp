// Matrix routines of the simulated host the library uses (product, transpose) on row-pointer
// headers, against hand-computed results.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "host/kxmc_host.h"

namespace {

// A dense matrix owning its rows, viewed through headers of the host's layout.
struct Matrix {
    Matrix(int r, int c, std::vector<double> v = {})
        : rows(r), cols(c), data(std::move(v)), ptr(r) {
        data.resize(static_cast<std::size_t>(r * c));
        for (int i = 0; i < r; ++i) ptr[i] = data.data() + i * c;
    }
    MatHead head() { return block(0, rows - 1, 0, cols - 1); }
    // Header of the block rows [r0, r1] x columns [c0, c1].
    MatHead block(int r0, int r1, int c0, int c1) { return MatHead{r0, r1, c0, c1, 0, ptr.data()}; }
    int rows, cols;
    std::vector<double> data;
    std::vector<double *> ptr;
};

void expect_values(const Matrix &m, const std::vector<double> &expect, double tol = 0.0) {
    ASSERT_EQ(m.data.size(), expect.size());
    for (std::size_t k = 0; k < expect.size(); ++k) EXPECT_NEAR(m.data[k], expect[k], tol) << k;
}

TEST(Matrices, ProductSumTransposeAndSubBlocks) {
    Matrix a(2, 3, {1, 2, 3, 4, 5, 6}), b(3, 2, {7, 8, 9, 10, 11, 12}), r(2, 2), t(3, 2);
    ASSERT_EQ(matmul(a.head(), b.head(), r.head()), 0);
    expect_values(r, {58, 64, 139, 154});
    ASSERT_EQ(transpose(a.head(), t.head()), 0);
    expect_values(t, {1, 4, 2, 5, 3, 6});
    Matrix sq(2, 2, {1, 2, 3, 4}), swap(2, 2, {0, 1, 1, 0});
    ASSERT_EQ(matmul(sq.head(), swap.head(), sq.head()), 0);  // product into an input
    expect_values(sq, {2, 1, 4, 3});
    // Headers address blocks by absolute index: rows 1..2, columns 2..3 of a 4 x 4 store.
    Matrix big(4, 4, {0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 3, 4, 0, 0, 0, 0}), v(2, 1, {5, 6}), out(3, 3);
    ASSERT_EQ(matmul(big.block(1, 2, 2, 3), v.head(), out.block(1, 2, 0, 0)), 0);
    expect_values(out, {0, 0, 0, 17, 0, 0, 39, 0, 0});
}

TEST(Matrices, RefusedInputsLeaveTheOutputUntouched) {
    Matrix a(2, 3), b(2, 2), r(2, 2, {9, 9, 9, 9});
    MatHead inverted = r.head(), no_rows = r.head();
    inverted.lastRow = -1, no_rows.rows = nullptr;
    // Inner sizes differ, R is not 3 x 2, an inverted header, no row pointers.
    EXPECT_TRUE(matmul(a.head(), b.head(), r.head()) == -1 && transpose(a.head(), r.head()) == -1 &&
                matmul(b.head(), b.head(), inverted) == -1 && transpose(b.head(), no_rows) == -1);
    expect_values(r, {9, 9, 9, 9});
}

}  // namespace
