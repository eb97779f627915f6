// Estimate of the arm's lowest natural frequency for the current pose and payload: one small
// network per arm model band and payload state (layout and constants in
// natural_frequency_tables.hpp, trained weights in natural_frequency_weights.hpp).
#include <cmath>
#include <cstdint>

#include "host/kxmc_host.h"
#include "jointid/natural_frequency_tables.hpp"
#include "jointid/natural_frequency_weights.hpp"
#include "kxmc/kxmc_joint_model.h"
#include "numerics/model_bands.hpp"

namespace {

using kxmc::detail::kNfBandTable;
using kxmc::detail::kNfHidden;
using kxmc::detail::kNfInputs;
using kxmc::detail::kNfWeights;
using kxmc::detail::NfScaling;
using kxmc::detail::NfWeights;

constexpr double kMaxFrequency = 200.0;  // [Hz] an estimate above this is not believed

// Model-code bands of the networks, in the order of kNfBandTable.
constexpr kxmc::Band<int> kNetworkRows[] = {
    {kNfBandTable[0].first, kNfBandTable[0].last, 0}, {kNfBandTable[1].first, kNfBandTable[1].last, 1},
    {kNfBandTable[2].first, kNfBandTable[2].last, 2}, {kNfBandTable[3].first, kNfBandTable[3].last, 3},
    {kNfBandTable[4].first, kNfBandTable[4].last, 4}, {kNfBandTable[5].first, kNfBandTable[5].last, 5},
};

double evaluate(const NfScaling &s, const NfWeights &w, const double x[kNfInputs]) {
    double scaled[kNfInputs];
    for (int j = 0; j < kNfInputs; ++j) {
        scaled[j] = 2.0 * (x[j] - s.xmin[j]) / (s.xmax[j] - s.xmin[j]) - 1.0;
    }
    double y = 0.0;
    for (int k = 0; k < kNfHidden; ++k) {
        double a = w.b1[k];
        for (int j = 0; j < kNfInputs; ++j) {
            a += w.W1[k][j] * scaled[j];
        }
        y += w.w2[k] * std::tanh(a);
    }
    return (y + s.b2 + 1.0) * (s.ymax - s.ymin) / 2.0 + s.ymin;
}

}  // namespace

extern "C" {

int32_t kxmcCalculateNaturalFreq(const double pos[6], double *freq) {
    if (freq == nullptr) {
        return -1;
    }
    const int band = kxmc::lookup_band(kNetworkRows, mcb.robotModelCode, -1);
    if (pos == nullptr || band < 0) {
        *freq = 0.0;  // no network for this arm
        return -1;
    }
    const bool loaded = mpb.loadWeight != 0.0;
    double inputs[kNfInputs];
    if (loaded) {
        inputs[0] = pos[1];
        inputs[1] = pos[2];
        inputs[2] = pos[3];
        inputs[3] = pos[4];
        inputs[4] = mpb.loadWeight;
        inputs[5] = mpb.loadCoord[2];
    } else {
        for (int j = 0; j < kNfInputs; ++j) {
            inputs[j] = pos[j];
        }
    }
    const NfScaling &s = loaded ? kNfBandTable[band].loaded : kNfBandTable[band].unloaded;
    const double f = evaluate(s, kNfWeights[band][loaded ? 1 : 0], inputs);
    *freq = f;
    // Written as (0, 200] so that a NaN estimate fails too.
    return f > 0.0 && f <= kMaxFrequency ? 0 : -1;
}

}  // extern "C"
