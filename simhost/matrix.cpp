// Dense matrices of the host's matrix library on row-pointer headers.
//
// A header designates the block [firstRow, lastRow] x [firstCol, lastCol] (inclusive) of a
// matrix whose element (i, j) is rows[i][j]; the indices are absolute, so a header can view
// a sub-block of a larger matrix through the same row pointers. Every routine checks the
// header (non-negative, ordered indices, row pointers present, matching dimensions) and
// returns -1 without touching the output when it does not fit. Results are formed in a
// scratch block first, so an output may share storage with an input; blocks up to
// kStackElements elements use the stack, larger ones the heap.
#include <cmath>
#include <cstddef>
#include <vector>

#include "simhost_internal.hpp"

namespace {

constexpr std::size_t kStackElements = 2048;  // [doubles] covers the 27 x 27 inverse

struct Dims {
    int rows;
    int cols;
};

bool valid(const MatHead &m, Dims *d) {
    if (m.rows == nullptr || m.firstRow < 0 || m.firstCol < 0 || m.lastRow < m.firstRow ||
        m.lastCol < m.firstCol) {
        return false;
    }
    for (int32_t i = m.firstRow; i <= m.lastRow; ++i) {
        if (m.rows[i] == nullptr) {
            return false;
        }
    }
    d->rows = m.lastRow - m.firstRow + 1;
    d->cols = m.lastCol - m.firstCol + 1;
    return true;
}

double &at(const MatHead &m, int i, int j) { return m.rows[m.firstRow + i][m.firstCol + j]; }

// Scratch storage of n doubles: the stack buffer when it is large enough, else the heap.
class Scratch {
public:
    explicit Scratch(std::size_t n) {
        if (n > kStackElements) {
            heap_.resize(n);
            data_ = heap_.data();
        } else {
            data_ = stack_;
        }
    }
    double *data() { return data_; }

private:
    double stack_[kStackElements];
    std::vector<double> heap_;
    double *data_;
};

void store(const MatHead &r, const Dims &d, const double *src) {
    for (int i = 0; i < d.rows; ++i) {
        for (int j = 0; j < d.cols; ++j) {
            at(r, i, j) = src[static_cast<std::size_t>(i) * d.cols + j];
        }
    }
}

}  // namespace

extern "C" {

int matmul(MatHead A, MatHead B, MatHead R) {
    Dims a, b, r;
    if (!valid(A, &a) || !valid(B, &b) || !valid(R, &r) || a.cols != b.rows ||
        r.rows != a.rows || r.cols != b.cols) {
        return -1;
    }
    Scratch s(static_cast<std::size_t>(r.rows) * r.cols);
    double *out = s.data();
    for (int i = 0; i < r.rows; ++i) {
        for (int k = 0; k < r.cols; ++k) {
            double sum = 0.0;
            for (int j = 0; j < a.cols; ++j) {
                sum += at(A, i, j) * at(B, j, k);
            }
            out[static_cast<std::size_t>(i) * r.cols + k] = sum;
        }
    }
    store(R, r, out);
    return 0;
}

int matSum(MatHead A, MatHead B, MatHead R) {
    Dims a, b, r;
    if (!valid(A, &a) || !valid(B, &b) || !valid(R, &r) || a.rows != b.rows ||
        a.cols != b.cols || r.rows != a.rows || r.cols != a.cols) {
        return -1;
    }
    Scratch s(static_cast<std::size_t>(r.rows) * r.cols);
    double *out = s.data();
    for (int i = 0; i < r.rows; ++i) {
        for (int j = 0; j < r.cols; ++j) {
            out[static_cast<std::size_t>(i) * r.cols + j] = at(A, i, j) + at(B, i, j);
        }
    }
    store(R, r, out);
    return 0;
}

// Gauss-Jordan elimination with partial pivoting on [A | I]. A singular (or non-finite)
// matrix returns -1 and is left as it was; a pivot counts as zero below 1e-14 times the
// largest magnitude of A.
int matinvert(MatHead A) {
    Dims a;
    if (!valid(A, &a) || a.rows != a.cols) {
        return -1;
    }
    const int n = a.rows;
    const int w = 2 * n;
    Scratch s(static_cast<std::size_t>(n) * w);
    double *m = s.data();
    double scale = 0.0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const double v = at(A, i, j);
            if (!std::isfinite(v)) {
                return -1;
            }
            scale = std::fmax(scale, std::fabs(v));
            m[i * w + j] = v;
            m[i * w + n + j] = (i == j) ? 1.0 : 0.0;
        }
    }
    const double tiny = 1e-14 * scale;
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r) {
            if (std::fabs(m[r * w + c]) > std::fabs(m[p * w + c])) {
                p = r;
            }
        }
        if (!(std::fabs(m[p * w + c]) > tiny)) {
            return -1;
        }
        if (p != c) {
            for (int k = 0; k < w; ++k) {
                const double t = m[p * w + k];
                m[p * w + k] = m[c * w + k];
                m[c * w + k] = t;
            }
        }
        const double inv = 1.0 / m[c * w + c];
        for (int k = 0; k < w; ++k) {
            m[c * w + k] *= inv;
        }
        for (int r = 0; r < n; ++r) {
            if (r == c) {
                continue;
            }
            const double f = m[r * w + c];
            if (f != 0.0) {
                for (int k = 0; k < w; ++k) {
                    m[r * w + k] -= f * m[c * w + k];
                }
            }
        }
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            at(A, i, j) = m[i * w + n + j];
        }
    }
    return 0;
}

int transpose(MatHead A, MatHead R) {
    Dims a, r;
    if (!valid(A, &a) || !valid(R, &r) || r.rows != a.cols || r.cols != a.rows) {
        return -1;
    }
    Scratch s(static_cast<std::size_t>(r.rows) * r.cols);
    double *out = s.data();
    for (int i = 0; i < r.rows; ++i) {
        for (int j = 0; j < r.cols; ++j) {
            out[static_cast<std::size_t>(i) * r.cols + j] = at(A, j, i);
        }
    }
    store(R, r, out);
    return 0;
}

}  // extern "C"
