// The Fourier excitation trajectory of the payload identification, the host's motion record for
// it, and a peak and valley finder for recorded signals.
//
// Each joint follows a five-harmonic Fourier series whose velocity is
//     qd_j(t) = sum_l A_jl cos(l w t) + B_jl sin(l w t),
// so the coefficients fix the velocity amplitudes and the period T only stretches the positions.
// The host plays the trajectory at t = k x 0.008 x T / a: a is the run's real period.

#include <cmath>
#include <cstdint>

#include "kxmc/kxmc_identification_store.h"

namespace {

constexpr int kJoints = 6;
constexpr int kHarmonics = 5;
constexpr double kPi = 3.14159265358979323846;
constexpr double kStep = 0.008;  // trajectory time per step k at the real period [s]

struct FourierJoint {
    double A[kHarmonics];  // [rad/s]
    double B[kHarmonics];  // [rad/s]
    double C;              // [rad]
};

constexpr FourierJoint kTrajectory[kJoints] = {
    {{0.659116803820449, -0.888234545964046, -0.227611176288041, 0.261865766295111,
      -0.882555334688814},
     {0.21126460795242, 0.417053116306071, 0.78122169240243, -0.376524408006376,
      -0.468361548321464},
     0.0184361602989109},
    {{-0.0302663796315916, 0.130791929875786, 0.0827839881265904, 0.822912194388553,
      -0.0851659378889784},
     {-0.449694958301013, -0.490791123036929, 0.831261884626116, 0.431179175655506,
      -0.927413021440375},
     -0.00852061176421409 - 1.0},
    {{-0.175198727805243, -0.21751010506699, -1.22003008255574, -0.536343737432847,
      0.58036128803377},
     {0.306265349147288, 0.495687198347442, 0.0600577425467529, 0.193824504887885,
      0.829974574711035},
     0.00541139342286477 - 0.2},
    {{-0.0558601038020199, -0.264207924326362, -1.34499064085905, 0.568606584390716,
      -0.575555556124464},
     {0.165611796074546, 0.689315509823173, 0.178966635026232, 0.515279728810434,
      -0.607039597572874},
     0.0151879766209857},
    {{-1.02623513032743, -0.114581059275872, -0.0761643346162698, 0.391008071069519,
      0.458190002522964},
     {-0.173815925347214, 0.232909287214586, 0.165629175969608, -1.15372999985473,
      0.722160554187911},
     -0.00818653911693022},
    {{0.00112757605547626, 0.526900764064442, 0.0532400829892352, 0.0909300182927678,
      -0.965992991271754},
     {-0.578784429282814, 1.198237801358, 0.377389809708749, 0.579705437560919, -0.655972441304665},
     -0.0217886414487416},
};

bool positive_finite(double x) noexcept { return std::isfinite(x) && x > 0.0; }

}  // namespace

extern "C" {

bool kxmcComputefourierAccVelPos(double /*reserved*/, double a, double T, uint32_t k, double q[6]) {
    if (q == nullptr || !positive_finite(a) || !positive_finite(T)) {
        return true;
    }
    const double t = k * kStep * T / a;
    const double w = 2.0 * kPi / T;
    for (int j = 0; j < kJoints; ++j) {
        const FourierJoint &f = kTrajectory[j];
        double rad = f.C;
        for (int l = 1; l <= kHarmonics; ++l) {
            const double lw = l * w;
            rad += (f.A[l - 1] * std::sin(lw * t) - f.B[l - 1] * std::cos(lw * t)) / lw;
        }
        q[j] = rad * 180.0 / kPi;
    }
    return false;
}

int32_t kxmcComputefourierMotion(uint32_t /*reserved1*/, double T, uint32_t /*reserved2*/,
                                 double rec[3]) {
    if (rec == nullptr || !positive_finite(T)) {
        return -1;
    }
    rec[1] = 12.0 / (T / 1000.0);
    rec[2] = 12.0;
    return 0;
}

void findPeaksAndValleys(const double *data, uint32_t n, double *peaks, double *valleys,
                         uint32_t *nPeaks, uint32_t *nValleys) {
    uint32_t found_peaks = 0;
    uint32_t found_valleys = 0;
    if (data != nullptr && peaks != nullptr && valleys != nullptr) {
        for (uint32_t i = 2; i < n; ++i) {
            if (data[i - 1] > data[i - 2] && data[i - 1] >= data[i]) {
                peaks[found_peaks++] = data[i - 1];
            }
        }
        for (uint32_t i = 2; i < n; ++i) {
            if (data[i - 2] > data[i - 1] && data[i] >= data[i - 1]) {
                valleys[found_valleys++] = data[i - 1];
            }
        }
    }
    if (nPeaks != nullptr) {
        *nPeaks = found_peaks;
    }
    if (nValleys != nullptr) {
        *nValleys = found_valleys;
    }
}

}  // extern "C"
