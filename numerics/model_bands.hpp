// Per-model tables keyed on bands of the model code.
//
// A table is a constexpr array of rows {first code, last code, value}, searched in order; the
// first row whose band holds the code wins, so single codes (3, 201, 902, ...) are listed before
// the band that contains them. A code in no row takes the table's default value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kxmc {

template <class Value>
struct Band {
    uint32_t first;  // first model code of the band (inclusive)
    uint32_t last;   // last model code of the band (inclusive)
    Value value;
};

template <class Value, std::size_t N>
constexpr const Value &lookup_band(const Band<Value> (&table)[N], uint32_t code,
                                   const Value &fallback) noexcept {
    for (std::size_t i = 0; i < N; ++i) {
        if (code >= table[i].first && code <= table[i].last) {
            return table[i].value;
        }
    }
    return fallback;
}

// Index of the band holding the code, or -1.
template <class Value, std::size_t N>
constexpr int find_band(const Band<Value> (&table)[N], uint32_t code) noexcept {
    for (std::size_t i = 0; i < N; ++i) {
        if (code >= table[i].first && code <= table[i].last) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Joint count of the cycle, bounded to the storage of six joints.
constexpr int clamp_joints(int32_t n) noexcept { return n < 0 ? 0 : (n > 6 ? 6 : n); }

}  // namespace kxmc
