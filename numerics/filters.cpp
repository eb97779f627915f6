// Servo-cycle signal filters of six channels: the fourth-order Butterworth family in direct
// form I over the shared history records, the stand-alone low-pass myfilter with its own
// histories, and the first-order exponential smoother.
#include <cmath>

#include "kxmc/kxmc_numerics.h"
#include "numerics/filter_records.hpp"
#include "numerics/float_cast.hpp"

// Shared history records (zero at load: the filters start from rest).
FilterHistory filt;
FilterHistory filt1;
FilterHistory filt2;
FilterHistory filt3;
FilterHistory filt4;
FilterHistory filt5;
FilterHistory filt6;

namespace {

using kxmc::detail::kFilterChannels;
using kxmc::detail::kFilterRows;

// Fourth-order low-pass: numerator b0..b4, denominator 1, a1..a4.
struct Butterworth4 {
    double b[5];
    double a[5];  // a[0] = 1, not used
};

// Cut-off 0.0056 of the Nyquist frequency, unit gain at rest.
constexpr Butterworth4 kSlow = {
    {5.949168623009538e-9, 2.379667449203815e-8, 3.569501173805723e-8, 2.379667449203815e-8,
     5.949168623009538e-9},
    {1.0, -3.953836739036792, 5.862572756863548, -3.863621026769476, 0.954885104129417}};

// Cut-off 0.16 of the Nyquist frequency. The coefficients are rounded to four decimals, so the
// gain at rest is 0.0356 / 0.0359 = 0.9916, not 1: the deflection thresholds were tuned on it.
constexpr Butterworth4 kDeflection = {{0.0022, 0.0089, 0.0134, 0.0089, 0.0022},
                                      {1.0, -2.6926, 2.8674, -1.4035, 0.2646}};

// Cut-off 0.02 of the Nyquist frequency (myfilter).
constexpr double filter_b[5] = {8.98486146397045e-7, 3.59394458558818e-6, 5.39091687838227e-6,
                                3.59394458558818e-6, 8.98486146397045e-7};
constexpr double filter_a[5] = {1.0, -3.83582554064735, 5.52081913662223, -3.53353521946302,
                                0.848555999266477};

// myfilter's histories: xa row 0 the newest input, yb row 0 the newest output.
double xa[5][kFilterChannels];
double yb[4][kFilterChannels];

bool valid_index(int ch, int k) {
    return ch >= 0 && ch < kFilterChannels && k >= 0 && k < kFilterRows;
}

// y = b0 x[k] + sum_{i=1..4} (b_i x[k-i] - a_i y[k-i]) for channel ch; rows below 0 are zero
// (a zero past after a reset). Accumulated in extended precision, term by term in order i.
int butterworth_step(const Butterworth4 &f, const double (*x)[kFilterChannels],
                     const double (*y)[kFilterChannels], int ch, int k, double *out) {
    if (!valid_index(ch, k) || out == nullptr) {
        return -1;
    }
    long double acc = static_cast<long double>(f.b[0]) * x[k][ch];
    for (int i = 1; i <= 4 && k - i >= 0; ++i) {
        acc += static_cast<long double>(f.b[i]) * x[k - i][ch];
        acc -= static_cast<long double>(f.a[i]) * y[k - i][ch];
    }
    *out = static_cast<double>(acc);
    return 0;
}

}  // namespace

LowpassFilter lowpassfilter;

extern "C" {

int buttord(int ch, int k, double *out) {
    return butterworth_step(kSlow, &filt.history[0], &filt.history[kxmc::detail::kFilterYRow], ch,
                            k, out);
}

int TualEncoderbuttord(int ch, int k, double *out) {
    return butterworth_step(kDeflection, &filt4.history[0],
                            &filt4.history[kxmc::detail::kFilterYRowDual], ch, k, out);
}

int Fivebuttord(int ch, int k, double *out) {
    return butterworth_step(kSlow, &filt2.history[0], &filt2.history[kxmc::detail::kFilterYRow],
                            ch, k, out);
}

int Loadbuttord(int ch, int k, double *out) {
    return butterworth_step(kSlow, &filt5.history[0], &filt5.history[kxmc::detail::kFilterYRow],
                            ch, k, out);
}

int LoadPosbuttord(int ch, int k, double *out) {
    return butterworth_step(kSlow, filt5.bank2x, filt5.bank2y, ch, k, out);
}

int ForceCollisionbuttord(int ch, int k, double *out) {
    return butterworth_step(kSlow, filt6.bank2x, filt6.bank2y, ch, k, out);
}

int myfilter(int32_t ch, double x, double *y) {
    if (ch < 0 || ch >= kFilterChannels || y == nullptr) {
        return -1;
    }
    for (int i = 4; i > 0; --i) {
        xa[i][ch] = xa[i - 1][ch];
    }
    xa[0][ch] = x;
    double out = 0.0;
    for (int i = 0; i <= 4; ++i) {
        out += filter_b[i] * xa[i][ch];
    }
    for (int i = 1; i <= 4; ++i) {
        out -= filter_a[i] * yb[i - 1][ch];
    }
    for (int i = 3; i > 0; --i) {
        yb[i][ch] = yb[i - 1][ch];
    }
    yb[0][ch] = out;
    *y = out;
    return 4;
}

int init_lowpassfilter(LowpassFilter *rec, float a, float b) {
    if (rec == nullptr) {
        return -1;
    }
    for (float &p : rec->prev) {
        p = 0.0f;
    }
    const double sum = static_cast<double>(a) + static_cast<double>(b);
    const double alpha = (sum != 0.0) ? static_cast<double>(b) / sum : 0.0;
    if (sum == 0.0 || !std::isfinite(alpha)) {
        rec->alpha = 1.0f;  // no usable weight: let the samples through unsmoothed
        return -1;
    }
    rec->alpha = static_cast<float>(alpha);
    return 0;
}

int lowpassfilterMain(LowpassFilter *rec, const double *x, float *y) {
    if (rec == nullptr || x == nullptr || y == nullptr) {
        return -1;
    }
    const double alpha = static_cast<double>(rec->alpha);
    for (int j = 0; j < kFilterChannels; ++j) {
        if (!std::isfinite(x[j])) {
            y[j] = rec->prev[j];  // one bad sample must not poison the state for good
            continue;
        }
        const double out = alpha * x[j] + (1.0 - alpha) * static_cast<double>(rec->prev[j]);
        y[j] = kxmc::narrow_to_float(out);
        rec->prev[j] = y[j];
    }
    return 0;
}

}  // extern "C"
