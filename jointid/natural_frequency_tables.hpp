// Natural-frequency networks: layout, output constants and input ranges per arm model band.
//
// Each network maps six scaled inputs through 30 tanh neurons to one linear output y:
//     x~_j = 2 (x_j - xmin_j) / (xmax_j - xmin_j) - 1
//     y    = sum_k w2_k tanh(b1_k + sum_j W1_kj x~_j)
//     f    = (y + b2 + 1) (ymax - ymin) / 2 + ymin        [Hz]
// Without payload the inputs are the six joint positions [deg]; with a payload they are the
// positions of joints 2 to 5 [deg], the payload mass [kg] and the z of its centre of mass in
// the flange frame [mm].
//
// The weights are trained on the lowest natural frequency of the arm's rigid-body model with
// elastic joints (jointid/generate/train_natural_frequency.cpp writes
// natural_frequency_weights.hpp); this header is shared by the library and the trainer.
#pragma once

#include <cstdint>

namespace kxmc {
namespace detail {

constexpr int kNfInputs = 6;
constexpr int kNfHidden = 30;
constexpr int kNfBands = 6;

struct NfScaling {
    double xmin[kNfInputs];
    double xmax[kNfInputs];
    double ymin;  // [Hz]
    double ymax;  // [Hz]
    double b2;    // output bias
};

struct NfWeights {
    double W1[kNfHidden][kNfInputs];  // input weights
    double b1[kNfHidden];             // hidden biases
    double w2[kNfHidden];             // output weights
};

struct NfBand {
    uint32_t first;       // model codes of the band
    uint32_t last;
    uint32_t model_code;  // code whose rigid-body parameter set the networks are trained on
    NfScaling unloaded;   // payload mass exactly 0
    NfScaling loaded;     // any other payload mass
};

// Input ranges: the joint ranges [deg] are shared by every arm; the payload mass [kg] runs from
// none to the arm's rated payload and the centre z [mm] up to the usual tool length of its class.
constexpr NfScaling unloaded(double ymin, double ymax, double b2) {
    return {{-175.0, -265.0, -150.0, -265.0, -175.0, -175.0},
            {175.0, 85.0, 150.0, 85.0, 175.0, 175.0},
            ymin, ymax, b2};
}
constexpr NfScaling loaded(double max_mass, double max_z, double ymin, double ymax, double b2) {
    return {{-265.0, -150.0, -265.0, -175.0, 0.0, 0.0},
            {85.0, 150.0, 85.0, 175.0, max_mass, max_z},
            ymin, ymax, b2};
}

constexpr NfBand kNfBandTable[kNfBands] = {
    {1, 100, 50, unloaded(12.3818111, 21.1004687, 2.0801677),
     loaded(3.0, 120.0, 9.1578021, 21.1004687, 1.2412603)},
    {101, 200, 150, unloaded(15.7266172, 21.1368857, 1.3997119),
     loaded(5.0, 150.0, 10.7796394, 21.1368857, -1.193701)},
    {201, 300, 250, unloaded(10.3728067, 13.0376851, 6.2909914),
     loaded(10.0, 200.0, 6.7185148, 13.0376851, -11.4609403)},
    {301, 400, 350, unloaded(11.9243084, 13.6050996, -3.9782381),
     loaded(16.0, 200.0, 6.7591504, 13.6050996, 7.4008631)},
    {401, 500, 450, unloaded(7.0671247, 9.5784768, -2.0238527),
     loaded(20.0, 250.0, 5.0037178, 9.5784768, -1.1583698)},
    {1001, 1100, 1050, unloaded(8.8966792, 11.0279416, 6.2981319),
     loaded(20.0, 250.0, 5.5585629, 11.0279416, 0.0301723)},
};

}  // namespace detail
}  // namespace kxmc
