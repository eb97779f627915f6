// Butterworth record of the sensor functions: a low-pass of one signal that starts from its
// first sample. The filter runs on the input minus that first sample (the bias), so it needs no
// settling when it starts on a signal far from zero; the biased output adds the bias back.
// End-force guiding smooths its per-cycle increments with it, constant-force control its
// corrections.
#include <cstring>

#include "forcesensor/sensor_state.hpp"
#include "kxmc/kxmc_end_force_drag.h"

namespace kxmc {
namespace sensor {

ButterWorthFilter EndForceDragfilter[kAxes];

namespace {

constexpr int32_t kHistory = 6;        // samples kept per history
constexpr int32_t kMaxCoefficients = 10;

struct FilterType {
    int32_t n;
    double a[5];
    double b[5];
};

constexpr FilterType kFilterTypes[] = {
    // 0: second order, smoothing of the guiding increments.
    {3,
     {1.0, -1.97502398483361, 0.975332061958806},
     {7.70192812997728e-5, 0.000154038562599546, 7.70192812997728e-5}},
    // 1: fourth order, cut-off 0.0056 of the Nyquist frequency.
    {5,
     {1.0, -3.953836739036792, 5.862572756863548, -3.863621026769476, 0.954885104129417},
     {5.949168623009538e-9, 2.379667449203815e-8, 3.569501173805723e-8, 2.379667449203815e-8,
      5.949168623009538e-9}},
    // 2: second order, the constant-force corrections.
    {3,
     {1.0, -1.85982678731441, 0.869027376715565},
     {0.00230014735028783, 0.00460029470057566, 0.00230014735028783}},
};
constexpr int32_t kGuidingType = 0;

void shift_down(double h[kHistory]) noexcept {
    for (int i = 0; i + 1 < kHistory; ++i) {
        h[i] = h[i + 1];
    }
}

}  // namespace

void restart_increment_filters() noexcept {
    for (ButterWorthFilter &f : EndForceDragfilter) {
        kxmcButterWorthFiltInit(&f, kGuidingType);
    }
}

}  // namespace sensor
}  // namespace kxmc

using namespace kxmc::sensor;

extern "C" {

int32_t kxmcButterWorthFiltInit(ButterWorthFilter *rec, int32_t type) {
    if (rec == nullptr) {
        return -1;
    }
    *rec = ButterWorthFilter{};
    constexpr int32_t kTypes = sizeof kFilterTypes / sizeof kFilterTypes[0];
    if (type < 0 || type >= kTypes) {
        return -1;
    }
    const FilterType &t = kFilterTypes[type];
    rec->n = t.n;
    for (int32_t k = 0; k < t.n; ++k) {
        rec->a[k] = t.a[k];
        rec->b[k] = t.b[k];
    }
    return 0;
}

int32_t kxmcButterWorthFiltProcessData(ButterWorthFilter *rec, double x, double *out,
                                       int32_t raw) {
    if (rec == nullptr || out == nullptr) {
        return -1;
    }
    // A record the caller damaged still never indexes outside its arrays.
    if (rec->count < 0) {
        rec->count = 0;
    }
    if (rec->count == 0) {
        rec->bias = x;
    }
    if (rec->count >= kHistory) {
        shift_down(rec->x);
        shift_down(rec->y);
        shift_down(rec->z);
        rec->count = kHistory - 1;
    }
    const int32_t k = rec->count;
    const int32_t n = rec->n < 0 ? 0 : (rec->n > kMaxCoefficients ? kMaxCoefficients : rec->n);
    rec->x[k] = x - rec->bias;
    double y = 0.0;
    for (int32_t i = 0; i < n && i <= k; ++i) {
        y += rec->b[i] * rec->x[k - i];
        if (i > 0) {
            y -= rec->a[i] * rec->y[k - i];
        }
    }
    rec->y[k] = y;
    rec->z[k] = rec->bias + y;
    *out = raw == 0 ? rec->z[k] : y;
    rec->count = k + 1;
    return 0;
}

}  // extern "C"
