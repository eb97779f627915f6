// Payload mass range of each arm model and the small dense solve the payload identifications
// share.
//
// Library-internal.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "dynamics/user_config.hpp"
#include "host/kxmc_host.h"
#include "numerics/model_bands.hpp"

namespace kxmc {

constexpr double kNoMassLimit = std::numeric_limits<double>::infinity();

// Largest payload of each arm [kg]; codes of no known arm have no maximum.
constexpr Band<double> kPayloadMassLimits[] = {
    {0, 0, 5.0},      {1, 100, 3.0},    {101, 200, 5.0},    {201, 300, 10.0}, {301, 400, 16.0},
    {401, 500, 20.0}, {501, 600, 3.0},  {601, 700, 5.0},    {701, 800, 3.0},  {801, 900, 3.0},
    {901, 901, 5.0},  {902, 902, 10.0}, {1001, 1100, 30.0},
};

// Smallest accepted payload [kg]: zero with room for the rounding of a computed zero.
constexpr double kPayloadMassFloor = -1e-6;

inline double payload_mass_limit(uint32_t model_code) noexcept {
    return lookup_band(kPayloadMassLimits, model_code, kNoMassLimit);
}

// Persists the current payload, mpb.loadWeight and mpb.loadCoord, as "LOAD_WEIGHT",
// "LOAD_Coord_X", "LOAD_Coord_Y", "LOAD_Coord_Z" of the user configuration.
inline void persist_current_payload() noexcept {
    static constexpr const char *kCoordKeys[3] = {"LOAD_Coord_X", "LOAD_Coord_Y", "LOAD_Coord_Z"};
    detail::persist_user_param("LOAD_WEIGHT", mpb.loadWeight);
    for (int i = 0; i < 3; ++i) {
        detail::persist_user_param(kCoordKeys[i], mpb.loadCoord[i]);
    }
}

// Solves A x = b for a symmetric positive definite A (N x N, row-major; the normal equations of
// a least-squares fit) by Gaussian elimination, which needs no row exchange for such a matrix.
// A zero pivot (a singular A) returns false with x untouched; non-finite entries give
// non-finite x.
template <int N>
bool solve_linear(const double (&A)[N * N], const double (&b)[N], double (&x)[N]) noexcept {
    double m[N][N + 1];
    for (int i = 0; i < N; ++i) {
        for (int k = 0; k < N; ++k) {
            m[i][k] = A[i * N + k];
        }
        m[i][N] = b[i];
    }
    for (int col = 0; col < N; ++col) {
        if (m[col][col] == 0.0) {
            return false;
        }
        for (int i = col + 1; i < N; ++i) {
            const double f = m[i][col] / m[col][col];
            for (int k = col; k <= N; ++k) {
                m[i][k] -= f * m[col][k];
            }
        }
    }
    double y[N] = {};
    for (int i = N - 1; i >= 0; --i) {
        double s = m[i][N];
        for (int k = i + 1; k < N; ++k) {
            s -= m[i][k] * y[k];
        }
        y[i] = s / m[i][i];
    }
    for (int i = 0; i < N; ++i) {
        x[i] = y[i];
    }
    return true;
}

}  // namespace kxmc
