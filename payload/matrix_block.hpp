// Caller-owned matrices on row-pointer headers (the host matrix library's layout): a header
// designates the block [firstRow, lastRow] x [firstCol, lastCol] of a matrix whose element
// (i, k) is rows[i][k].
#pragma once

#include <cstdint>

#include "host/kxmc_host.h"

namespace kxmc {
namespace detail {

// True when the header designates a rows x cols block with every row pointer present.
inline bool block_fits(const MatHead &m, int32_t rows, int32_t cols) noexcept {
    const int64_t height = static_cast<int64_t>(m.lastRow) - m.firstRow + 1;
    const int64_t width = static_cast<int64_t>(m.lastCol) - m.firstCol + 1;
    if (m.rows == nullptr || m.firstRow < 0 || m.firstCol < 0 || height != rows || width != cols) {
        return false;
    }
    for (int32_t i = m.firstRow; i <= m.lastRow; ++i) {
        if (m.rows[i] == nullptr) {
            return false;
        }
    }
    return true;
}

// Element (i, k) of the block, counted from its first row and column.
inline double &block_at(const MatHead &m, int32_t i, int32_t k) noexcept {
    return m.rows[m.firstRow + i][m.firstCol + k];
}

}  // namespace detail
}  // namespace kxmc
