// Servo-cycle signal filters of six channels: the fourth-order Butterworth family in direct
// form I over the shared history records, the stand-alone low-pass myfilter with its own
// histories, and the first-order exponential smoother.
#include <cmath>

#include "kxmc/kxmc_numerics.h"
#include "numerics/butterworth.hpp"
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
using kxmc::detail::butterworth_step;
using kxmc::detail::kFilterYRow;
using kxmc::detail::kFilterYRowDual;

constexpr const kxmc::detail::Butterworth4 &kSlow = kxmc::detail::kButterworthSlow;

// Cut-off 0.02 of the Nyquist frequency (myfilter).
constexpr double filter_b[5] = {8.98486146397045e-7, 3.59394458558818e-6, 5.39091687838227e-6,
                                3.59394458558818e-6, 8.98486146397045e-7};
constexpr double filter_a[5] = {1.0, -3.83582554064735, 5.52081913662223, -3.53353521946302,
                                0.848555999266477};

// myfilter's histories: xa row 0 the newest input, yb row 0 the newest output.
double xa[5][kFilterChannels];
double yb[4][kFilterChannels];

}  // namespace

LowpassFilter lowpassfilter;

extern "C" {

int buttord(int ch, int k, double *out) {
    return butterworth_step(kSlow, &filt.history[0], &filt.history[kFilterYRow], ch,
                            k, out);
}

int TualEncoderbuttord(int ch, int k, double *out) {
    return kxmc::detail::deflection_filter_step(&filt4.history[0],
                                                &filt4.history[kFilterYRowDual], ch, k, out);
}

int Fivebuttord(int ch, int k, double *out) {
    return butterworth_step(kSlow, &filt2.history[0], &filt2.history[kFilterYRow],
                            ch, k, out);
}

int Loadbuttord(int ch, int k, double *out) {
    return butterworth_step(kSlow, &filt5.history[0], &filt5.history[kFilterYRow],
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
