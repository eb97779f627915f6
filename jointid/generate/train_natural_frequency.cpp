// Trains the natural-frequency networks and writes their weights as constant tables.
//
// For every arm model band (jointid/natural_frequency_tables.hpp):
//  1. Joint stiffness. Each joint takes a torsional stiffness of its gear size, the wrist ten
//     times stiffer, and where base, shoulder and elbow share one gear size the base twice and
//     the elbow half the shoulder's (see tune_stiffness: the ratios keep the arm's modes from
//     crossing), all scaled so that over a survey of poses without payload the lowest natural
//     frequency of the physical model (natural_frequency_physics.hpp) starts at the band's ymin
//     (the stretched arm).
//  2. Samples. Poses and payloads drawn uniformly from the network's input ranges, labelled with
//     the physical model's lowest frequency; separate draws for training and for validation.
//  3. Training. The 6-30-1 tanh network with the band's output bias b2 held fixed is fitted to
//     the output y = 2 (f - ymin) / (ymax - ymin) - 1 - b2 by Levenberg-Marquardt on all 240
//     free weights (errors weighted by 1 / f, as the accuracy asked for is relative), from
//     seeded starts whose output weights are first solved by linear least squares; rounds of
//     starts go on until the validation error is small, and the best start is trained on with
//     sum e^4, a step towards the smallest largest error.
//     The result is then held against a larger acceptance draw; a network whose largest error
//     there misses kAcceptError is trained again on three times the draws, on sum e^2, e^4 and
//     then e^8, and then in rounds on the draws of large pools where its errors are largest
//     (train_network, refine_on_worst_draws).
//  4. The stiffness and the weights go to jointid/natural_frequency_weights.hpp ("%.17g", so
//     the tables hold exactly the trained doubles), rewritten after every network.
//
// Deterministic: fixed seeds per network, so a rerun on the same platform (single-threaded,
// OMP_NUM_THREADS=1) writes the same file. The networks are held to 5 % against the physical
// model on independent draws by tests/jointid/natural_frequency_test.cpp.
// Build: cmake --build build --target train_natural_frequency
// From the repository root:  build/train_natural_frequency jointid/natural_frequency_weights.hpp
// Some networks only (the others kept from the current tables):
//     build/train_natural_frequency OUTPUT BAND LOADED [BAND LOADED ...]
// The last stage alone on the tables' networks (a long run done in two goes):
//     build/train_natural_frequency refine OUTPUT BAND LOADED [BAND LOADED ...]
// Acceptance and held-out errors of the current tables:  build/train_natural_frequency check
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "jointid/generate/natural_frequency_physics.hpp"
#include "jointid/natural_frequency_weights.hpp"

namespace {

using kxmc::detail::kNfBands;
using kxmc::detail::kNfBandTable;
using kxmc::detail::kNfHidden;
using kxmc::detail::kNfInputs;
using kxmc::detail::NfBand;
using kxmc::detail::NfScaling;
using kxmc::detail::NfWeights;

constexpr int kWeights = kNfHidden * kNfInputs + 2 * kNfHidden;  // 240
constexpr int kSurvey = 400;
constexpr int kTrain = 2500;
constexpr int kValidate = 500;
constexpr int kStarts = 3;              // per round
constexpr int kRounds = 2;              // rounds of starts until the validation error is met
constexpr int kStartIterations = 100;   // sum e^2 from each start
constexpr int kFinalIterations = 300;   // sum e^4 on the best start
constexpr double kTargetError = 0.06;   // relative, on the validation draw: more starts above
constexpr int kAccept = 3000;           // acceptance draw
constexpr double kAcceptError = 0.035;  // largest on the acceptance draw: more training above
constexpr double kRequiredError = 0.05;  // largest the estimate may be off on held-out poses
constexpr int kMoreDraws = 5500;        // joining the training draw where that is so
constexpr int kRefineIterations = 200;  // per power on the joined draws
constexpr int kPool = 20000;            // draws searched for the largest errors, per round
constexpr int kWorstDraws = 1500;       // of them joining the training draws, per round
constexpr int kPoolRounds = 3;          // at most
constexpr int kPoolIterations = 100;    // sum e^8, per round

// Motor/gear sizes of joints 1-6 per band (the friction and rated-torque tables agree) and a
// torsional stiffness per gear size [N m/rad] giving the ratios between the joints.
constexpr int kSizes[kNfBands][6] = {
    {17, 17, 17, 14, 14, 14}, {25, 25, 25, 14, 14, 14}, {32, 32, 25, 17, 17, 17},
    {32, 32, 25, 17, 17, 17}, {40, 40, 32, 25, 25, 25}, {40, 40, 32, 25, 25, 25},
};
double gear_stiffness(int size) {
    switch (size) {
        case 14:
            return 7.0e3;
        case 17:
            return 1.3e4;
        case 25:
            return 4.0e4;
        case 32:
            return 8.0e4;
        default:
            return 1.6e5;  // 40
    }
}

struct Data {
    Eigen::MatrixXd x;  // scaled inputs, one row per sample
    Eigen::VectorXd t;  // output target (without b2)
    Eigen::VectorXd f;  // frequency [Hz]
};

double scale_input(const NfScaling &s, int j, double v) {
    return 2.0 * (v - s.xmin[j]) / (s.xmax[j] - s.xmin[j]) - 1.0;
}

// Weights as one vector: W1 row by row, then b1, then w2.
struct Net {
    Eigen::VectorXd w = Eigen::VectorXd::Zero(kWeights);
    double W1(int k, int j) const { return w(k * kNfInputs + j); }
    double b1(int k) const { return w(kNfHidden * kNfInputs + k); }
    double w2(int k) const { return w(kNfHidden * kNfInputs + kNfHidden + k); }
};

Eigen::MatrixXd hidden(const Net &net, const Eigen::MatrixXd &x) {
    Eigen::MatrixXd h(x.rows(), kNfHidden);
    for (int n = 0; n < x.rows(); ++n) {
        for (int k = 0; k < kNfHidden; ++k) {
            double a = net.b1(k);
            for (int j = 0; j < kNfInputs; ++j) {
                a += net.W1(k, j) * x(n, j);
            }
            h(n, k) = std::tanh(a);
        }
    }
    return h;
}

Eigen::VectorXd output(const Net &net, const Eigen::MatrixXd &x) {
    const Eigen::MatrixXd h = hidden(net, x);
    Eigen::VectorXd w2(kNfHidden);
    for (int k = 0; k < kNfHidden; ++k) {
        w2(k) = net.w2(k);
    }
    return h * w2;
}

// Weighted output errors e_n = (y_n - t_n) f_mean / f_n (the weight evens out the relative
// frequency error). The fit first minimises sum e^2, then sum e^4 (and sum e^8 where that is not
// enough), each power trading a little of the mean error for a smaller largest error, the one
// the accuracy asked for is about.
Eigen::VectorXd weighted_errors(const Net &net, const Data &d) {
    return ((output(net, d.x) - d.t).array() * (d.f.mean() / d.f.array())).matrix();
}

double loss_of(const Eigen::VectorXd &e, int power) {
    if (power == 2) {
        return e.squaredNorm();
    }
    return power == 4 ? e.array().square().square().sum() : e.array().pow(power).sum();
}

// Largest relative frequency error over a data set.
double max_relative_error(const Net &net, const Data &d, const NfScaling &s) {
    const Eigen::VectorXd y = output(net, d.x);
    double worst = 0.0;
    for (int n = 0; n < d.x.rows(); ++n) {
        const double f = (y(n) + s.b2 + 1.0) * (s.ymax - s.ymin) / 2.0 + s.ymin;
        worst = std::max(worst, std::fabs(f - d.f(n)) / d.f(n));
    }
    return worst;
}

// Random input weights and biases, output weights by least squares on the hidden outputs.
Net initial_net(const Data &d, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Net net;
    for (int i = 0; i < kNfHidden * kNfInputs; ++i) {
        net.w(i) = 1.2 * u(rng);
    }
    for (int k = 0; k < kNfHidden; ++k) {
        net.w(kNfHidden * kNfInputs + k) = 1.5 * u(rng);
    }
    const Eigen::MatrixXd h = hidden(net, d.x);
    const Eigen::MatrixXd a =
        h.transpose() * h + 1e-8 * Eigen::MatrixXd::Identity(kNfHidden, kNfHidden);
    const Eigen::VectorXd w2 = a.ldlt().solve(h.transpose() * d.t);
    net.w.tail(kNfHidden) = w2;
    return net;
}

// Levenberg-Marquardt on sum e^power (an even power; the residuals are e^(power/2)).
void train(Net &net, const Data &d, int iterations, int power = 2) {
    const int n = static_cast<int>(d.x.rows());
    const double f_mean = d.f.mean();
    double mu = 1e-3;
    double loss = loss_of(weighted_errors(net, d), power);
    Eigen::MatrixXd J(n, kWeights);
    Eigen::VectorXd e(n);
    for (int it = 0; it < iterations; ++it) {
        for (int s = 0; s < n; ++s) {
            const double weight = f_mean / d.f(s);
            double y = 0.0;
            for (int k = 0; k < kNfHidden; ++k) {
                double a = net.b1(k);
                for (int j = 0; j < kNfInputs; ++j) {
                    a += net.W1(k, j) * d.x(s, j);
                }
                const double h = std::tanh(a);
                const double dh = weight * net.w2(k) * (1.0 - h * h);
                y += net.w2(k) * h;
                for (int j = 0; j < kNfInputs; ++j) {
                    J(s, k * kNfInputs + j) = dh * d.x(s, j);
                }
                J(s, kNfHidden * kNfInputs + k) = dh;
                J(s, kNfHidden * kNfInputs + kNfHidden + k) = weight * h;
            }
            e(s) = weight * (y - d.t(s));
            if (power > 2) {
                const int half = power / 2;
                J.row(s) *= half * std::pow(e(s), half - 1);
                e(s) = std::pow(e(s), half);
            }
        }
        const Eigen::MatrixXd A = J.transpose() * J;
        const Eigen::VectorXd g = J.transpose() * e;
        const double mean_diag = A.diagonal().mean();
        bool improved = false;
        for (int tries = 0; tries < 30 && !improved; ++tries) {
            Eigen::MatrixXd damped = A;
            for (int i = 0; i < kWeights; ++i) {
                damped(i, i) += mu * (A(i, i) + 1e-6 * mean_diag);  // saturated neurons too
            }
            Net trial = net;
            trial.w -= damped.ldlt().solve(g);
            const double trial_loss = loss_of(weighted_errors(trial, d), power);
            if (std::isfinite(trial_loss) && trial_loss < loss) {
                net = trial;
                loss = trial_loss;
                mu = std::max(mu / 3.0, 1e-12);
                improved = true;
            } else {
                mu *= 4.0;
            }
        }
        if (!improved) {
            break;
        }
    }
}

// Survey poses without payload, reused while the stiffness is tuned.
struct Extremes {
    double low;
    double high;
};
Extremes survey(const kxmc::StandardArmParameters &p, const std::vector<kxnf::Sample> &poses,
                const double k[6]) {
    Extremes e{1e300, 0.0};
    for (const kxnf::Sample &s : poses) {
        const double f = kxnf::sample_frequency(p, s, k);
        e.low = std::min(e.low, f);
        e.high = std::max(e.high, f);
    }
    return e;
}

// Joint stiffness, all scaled so that the stretched arm without payload (the lowest frequency
// over the survey) sits at ymin:
//  - Base, shoulder and elbow from their gear sizes. The larger arms' elbow gear is one size
//    smaller than the shoulder's, which halves its stiffness and keeps the elbow's mode apart
//    from the others. The small arms carry one gear size in all three joints; with the three
//    alike, two of the arm's modes come within a few per cent of each other in a quarter of the
//    poses, and near such a crossing the lowest frequency turns sharply from one mode's surface
//    to the other's, a ridge 30 neurons follow only to several per cent. There the base takes
//    twice and the elbow half the shoulder's stiffness, which keeps the three modes apart.
//  - Wrist joints (4-6) ten times their gear's stiffness: with wrist joints as soft as their gear
//    size, a payload brings the joint-4 and joint-5 modes down to cross the arm's lowest mode.
constexpr double kSameGearArmStiffening[3] = {2.0, 1.0, 0.5};
constexpr double kWristStiffening = 10.0;

void tune_stiffness(const kxmc::StandardArmParameters &p, const NfBand &band, int b, double k[6]) {
    std::mt19937_64 rng(1000 + b);
    std::vector<kxnf::Sample> poses;
    for (int n = 0; n < kSurvey; ++n) {
        poses.push_back(kxnf::draw_sample(band.unloaded, false, rng));
    }
    const bool same_gear = kSizes[b][0] == kSizes[b][1] && kSizes[b][1] == kSizes[b][2];
    for (int i = 0; i < 6; ++i) {
        k[i] = gear_stiffness(kSizes[b][i]);
        k[i] *= i >= 3 ? kWristStiffening : same_gear ? kSameGearArmStiffening[i] : 1.0;
    }
    const Extremes before = survey(p, poses, k);
    const double scale = std::pow(band.unloaded.ymin / before.low, 2.0);  // f ~ sqrt(k)
    for (int i = 0; i < 6; ++i) {
        k[i] *= scale;
    }
    const Extremes e = survey(p, poses, k);
    std::fprintf(stderr, "band %u-%u: unloaded survey %.3f..%.3f Hz (range %.3f..%.3f)\n",
                 band.first, band.last, e.low, e.high, band.unloaded.ymin, band.unloaded.ymax);
}

void print_array(FILE *out, const char *indent, const double *v, int n) {
    std::fprintf(out, "%s{", indent);
    for (int i = 0; i < n; ++i) {
        std::fprintf(out, "%.17g%s", v[i], i + 1 < n ? ", " : "");
    }
    std::fprintf(out, "}");
}

void print_net(FILE *out, const Net &net) {
    std::fprintf(out, "        {{\n");
    for (int k = 0; k < kNfHidden; ++k) {
        double row[kNfInputs];
        for (int j = 0; j < kNfInputs; ++j) {
            row[j] = net.W1(k, j);
        }
        print_array(out, "             ", row, kNfInputs);
        std::fprintf(out, ",\n");
    }
    std::fprintf(out, "         },\n");
    double b1[kNfHidden];
    double w2[kNfHidden];
    for (int k = 0; k < kNfHidden; ++k) {
        b1[k] = net.b1(k);
        w2[k] = net.w2(k);
    }
    print_array(out, "         ", b1, kNfHidden);
    std::fprintf(out, ",\n");
    print_array(out, "         ", w2, kNfHidden);
    std::fprintf(out, "},\n");
}

// Draws with the inputs scaled to the network's ranges `s`, the poses drawn from `draw`.
Data make_data(const kxmc::StandardArmParameters &p, const NfScaling &s, const NfScaling &draw,
               bool loaded, const double k[6], int count, uint64_t seed) {
    std::mt19937_64 rng(seed);
    Data d{Eigen::MatrixXd(count, kNfInputs), Eigen::VectorXd(count), Eigen::VectorXd(count)};
    for (int n = 0; n < count; ++n) {
        const kxnf::Sample sample = kxnf::draw_sample(draw, loaded, rng);
        const double f = kxnf::sample_frequency(p, sample, k);
        for (int j = 0; j < kNfInputs; ++j) {
            d.x(n, j) = scale_input(s, j, sample.inputs[j]);
        }
        d.f(n) = f;
        d.t(n) = 2.0 * (f - s.ymin) / (s.ymax - s.ymin) - 1.0 - s.b2;
    }
    return d;
}

Data joined(const Data &a, const Data &b) {
    Data d{Eigen::MatrixXd(a.x.rows() + b.x.rows(), kNfInputs),
           Eigen::VectorXd(a.t.size() + b.t.size()), Eigen::VectorXd(a.f.size() + b.f.size())};
    d.x << a.x, b.x;
    d.t << a.t, b.t;
    d.f << a.f, b.f;
    return d;
}

// Rows of d picked by index.
Data rows_of(const Data &d, const std::vector<int> &rows) {
    const int n = static_cast<int>(rows.size());
    Data out{Eigen::MatrixXd(n, kNfInputs), Eigen::VectorXd(n), Eigen::VectorXd(n)};
    for (int i = 0; i < n; ++i) {
        out.x.row(i) = d.x.row(rows[i]);
        out.t(i) = d.t(rows[i]);
        out.f(i) = d.f(rows[i]);
    }
    return out;
}

// Draws where the largest errors sit: rounds of a fresh pool of kPool draws, of which the
// kWorstDraws with the largest relative error join the training draws, and sum e^8 training
// on them; the network with the smallest largest error on the acceptance draw is kept.
double refine_on_worst_draws(const kxmc::StandardArmParameters &p, const NfScaling &s,
                             bool with_payload, const double stiffness[6], uint64_t seed, Data set,
                             const Data &accept_set, double best_error, Net &best) {
    Net net = best;
    for (int round = 0; round < kPoolRounds && !(best_error <= kAcceptError); ++round) {
        const Data pool =
            make_data(p, s, s, with_payload, stiffness, kPool, seed + static_cast<uint64_t>(round));
        const Eigen::VectorXd y = output(net, pool.x);
        std::vector<int> order(kPool);
        std::vector<double> error(kPool);
        for (int n = 0; n < kPool; ++n) {
            order[n] = n;
            error[n] = std::fabs(y(n) - pool.t(n)) / pool.f(n);  // relative, to a constant factor
        }
        std::partial_sort(order.begin(), order.begin() + kWorstDraws, order.end(),
                          [&](int a, int b) { return error[a] > error[b]; });
        order.resize(kWorstDraws);
        set = joined(set, rows_of(pool, order));
        train(net, set, kPoolIterations, 8);
        const double accept_error = max_relative_error(net, accept_set, s);
        std::fprintf(stderr, "  worst-draw round %d (%d draws): acceptance error %.3f %%\n", round,
                     static_cast<int>(set.f.size()), 100.0 * accept_error);
        if (accept_error < best_error) {
            best_error = accept_error;
            best = net;
        }
    }
    return best_error;
}

// Trains the network of band b, with (loaded) or without payload, on the band's stiffness.
//  - Seeded starts on the training draw; the best by the validation draw's largest error after
//    the sum-e^2 phase goes through the sum-e^4 phase.
//  - The result is held against a larger acceptance draw. Where its largest error misses
//    kAcceptError, the training starts again on the training draw joined by kMoreDraws fresh
//    draws (its largest held-out errors sit in corners the training draw samples thinly: the
//    folded elbow, the edges of the joint ranges): seeded starts on sum e^2, the best on sum
//    e^4, then on sum e^8; of these and the first network, the one with the smallest largest
//    error on the acceptance draw is kept.
double train_network(const kxmc::StandardArmParameters &p, const NfBand &band, int b, int loaded,
                     const double stiffness[6], Net &best) {
    const NfScaling &s = loaded != 0 ? band.loaded : band.unloaded;
    const bool with_payload = loaded != 0;
    const uint64_t seed = 100u * static_cast<uint64_t>(b) + 10u * static_cast<uint64_t>(loaded);
    const Data train_set = make_data(p, s, s, with_payload, stiffness, kTrain, seed + 1);
    const Data check_set = make_data(p, s, s, with_payload, stiffness, kValidate, seed + 2);
    double best_error = 1e300;
    int start = 0;
    for (int round = 0; round < kRounds && !(best_error < kTargetError); ++round) {
        for (int i = 0; i < kStarts; ++i, ++start) {
            Net net = initial_net(train_set, seed + 3u + static_cast<uint64_t>(start));
            train(net, train_set, kStartIterations);
            const double error = max_relative_error(net, check_set, s);
            if (error < best_error) {
                best_error = error;
                best = net;
            }
        }
    }
    train(best, train_set, kFinalIterations, 4);

    const uint64_t accept_seed = 5000u + seed;
    const Data accept_set = make_data(p, s, s, with_payload, stiffness, kAccept, accept_seed);
    best_error = max_relative_error(best, accept_set, s);
    if (!(best_error <= kAcceptError)) {
        const Data more_set = joined(
            train_set, make_data(p, s, s, with_payload, stiffness, kMoreDraws, accept_seed + 1));
        Net net;
        double start_error = 1e300;
        for (int i = 0; i < kStarts; ++i) {
            Net trial = initial_net(more_set, accept_seed + 2u + static_cast<uint64_t>(i));
            train(trial, more_set, kStartIterations);
            const double error = max_relative_error(trial, check_set, s);
            if (error < start_error) {
                start_error = error;
                net = trial;
            }
        }
        for (int power : {4, 8}) {
            train(net, more_set, power == 4 ? kFinalIterations : kRefineIterations, power);
            const double error = max_relative_error(net, accept_set, s);
            std::fprintf(stderr, "  %d draws, sum e^%d: acceptance error %.3f %%\n",
                         static_cast<int>(more_set.f.size()), power, 100.0 * error);
            if (error < best_error) {
                best_error = error;
                best = net;
            }
        }
        best_error = refine_on_worst_draws(p, s, with_payload, stiffness, accept_seed + 100u,
                                           more_set, accept_set, best_error, best);
    }
    std::fprintf(stderr,
                 "band %u-%u %s: frequencies %.3f..%.3f Hz, validation error %.3f %%, "
                 "acceptance error %.3f %%\n",
                 band.first, band.last, with_payload ? "payload" : "no payload",
                 check_set.f.minCoeff(), check_set.f.maxCoeff(),
                 100.0 * max_relative_error(best, check_set, s), 100.0 * best_error);
    return best_error;
}

// The last stage of train_network alone, on a network taken from the tables: what a full run
// does next with a network that came out of the stages before it above kAcceptError.
double refine_network(const kxmc::StandardArmParameters &p, const NfBand &band, int b, int loaded,
                      const double stiffness[6], Net &net) {
    const NfScaling &s = loaded != 0 ? band.loaded : band.unloaded;
    const bool with_payload = loaded != 0;
    const uint64_t seed = 100u * static_cast<uint64_t>(b) + 10u * static_cast<uint64_t>(loaded);
    const uint64_t accept_seed = 5000u + seed;
    const Data accept_set = make_data(p, s, s, with_payload, stiffness, kAccept, accept_seed);
    const double error = max_relative_error(net, accept_set, s);
    if (error <= kAcceptError) {
        return error;
    }
    const Data more_set =
        joined(make_data(p, s, s, with_payload, stiffness, kTrain, seed + 1),
               make_data(p, s, s, with_payload, stiffness, kMoreDraws, accept_seed + 1));
    return refine_on_worst_draws(p, s, with_payload, stiffness, accept_seed + 100u, more_set,
                                 accept_set, error, net);
}

Net from_table(const NfWeights &w) {
    Net net;
    for (int k = 0; k < kNfHidden; ++k) {
        for (int j = 0; j < kNfInputs; ++j) {
            net.w(k * kNfInputs + j) = w.W1[k][j];
        }
        net.w(kNfHidden * kNfInputs + k) = w.b1[k];
        net.w(kNfHidden * kNfInputs + kNfHidden + k) = w.w2[k];
    }
    return net;
}

// Largest error of every network of the current tables on its acceptance draw, and the largest
// and mean error on a held-out draw no stage of the training sees (one generator seeded 424242,
// 1000 draws per network in table order). Fails when a network misses the required accuracy on
// either draw; the training target kAcceptError is only reported.
int check_tables() {
    bool ok = true;
    std::mt19937_64 held_out_rng(424242);
    for (int b = 0; b < kNfBands; ++b) {
        const NfBand &band = kNfBandTable[b];
        const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(band.model_code);
        const double *k = kxmc::detail::kNfJointStiffness[b];
        for (int loaded = 0; loaded < 2; ++loaded) {
            const NfScaling &s = loaded != 0 ? band.loaded : band.unloaded;
            const Net net = from_table(kxmc::detail::kNfWeights[b][loaded]);
            const uint64_t seed =
                5000u + 100u * static_cast<uint64_t>(b) + 10u * static_cast<uint64_t>(loaded);
            const Data d = make_data(p, s, s, loaded != 0, k, kAccept, seed);
            const double error = max_relative_error(net, d, s);
            double worst = 0.0;
            double sum = 0.0;
            for (int n = 0; n < 1000; ++n) {
                const kxnf::Sample sample = kxnf::draw_sample(s, loaded != 0, held_out_rng);
                Eigen::MatrixXd x(1, kNfInputs);
                for (int j = 0; j < kNfInputs; ++j) {
                    x(0, j) = scale_input(s, j, sample.inputs[j]);
                }
                const double truth = kxnf::sample_frequency(p, sample, k);
                const double f =
                    (output(net, x)(0) + s.b2 + 1.0) * (s.ymax - s.ymin) / 2.0 + s.ymin;
                worst = std::max(worst, std::fabs(f - truth) / truth);
                sum += std::fabs(f - truth) / truth;
            }
            std::printf(
                "band %u-%u %s: acceptance error %.3f %%, held-out error %.3f %% (mean "
                "%.3f %%)\n",
                band.first, band.last, loaded != 0 ? "payload" : "no payload", 100.0 * error,
                100.0 * worst, 100.0 * sum / 1000.0);
            if (error > kAcceptError) {
                std::printf("  above the training target of %.1f %%\n", 100.0 * kAcceptError);
            }
            ok = ok && error <= kRequiredError && worst <= kRequiredError;
        }
    }
    return ok ? 0 : 1;
}

}  // namespace

// Writes the weights header: the stiffness and every network, trained or taken from the tables.
bool write_tables(const std::string &path, const double stiffness[kNfBands][6],
                  const Net nets[kNfBands][2]) {
    FILE *out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    std::fprintf(
        out,
        "// Generated by jointid/generate/train_natural_frequency.cpp; do not edit.\n"
        "// Joint stiffness of the physical model and trained weights of the natural-frequency\n"
        "// networks, per band of kNfBandTable (jointid/natural_frequency_tables.hpp).\n"
        "#pragma once\n\n"
        "#include \"jointid/natural_frequency_tables.hpp\"\n\n"
        "namespace kxmc {\nnamespace detail {\n\n"
        "// Torsional stiffness of joints 1-6 [N m/rad] of the model the networks learnt.\n"
        "inline constexpr double kNfJointStiffness[kNfBands][6] = {\n");
    for (int b = 0; b < kNfBands; ++b) {
        print_array(out, "    ", stiffness[b], 6);
        std::fprintf(out, ",\n");
    }
    std::fprintf(out,
                 "};\n\n"
                 "// Weights per band: without payload, then with payload.\n"
                 "inline constexpr NfWeights kNfWeights[kNfBands][2] = {\n");
    for (int b = 0; b < kNfBands; ++b) {
        std::fprintf(out, "    {\n");
        print_net(out, nets[b][0]);
        print_net(out, nets[b][1]);
        std::fprintf(out, "    },\n");
    }
    std::fprintf(out, "};\n\n}  // namespace detail\n}  // namespace kxmc\n");
    std::fclose(out);
    return true;
}

// Usage: train_natural_frequency [refine] [OUTPUT [BAND LOADED ...]] or
//        train_natural_frequency check.
// "refine" runs only the last training stage (refine_network) on the tables' networks.
// With pairs of BAND (0-5) and LOADED (0 or 1) only those networks are trained; the others are
// taken over from the current tables. Each network is trained from its own seeds, so this writes
// what a full run writes for those networks. "check" reports the tables' acceptance errors.

int main(int argc, char **argv) {
    if (argc == 2 && std::string(argv[1]) == "check") {
        return check_tables();
    }
    const bool refine_only = argc > 1 && std::string(argv[1]) == "refine";
    if (refine_only) {
        ++argv;
        --argc;
    }
    const std::string path = argc > 1 ? argv[1] : "jointid/natural_frequency_weights.hpp";
    bool selected[kNfBands][2] = {};
    for (int a = 2; a + 1 < argc; a += 2) {
        const int b = std::atoi(argv[a]);
        if (b >= 0 && b < kNfBands) {
            selected[b][std::atoi(argv[a + 1]) != 0 ? 1 : 0] = true;
        }
    }
    const bool all = argc < 4;
    double stiffness[kNfBands][6];
    Net nets[kNfBands][2];
    for (int b = 0; b < kNfBands; ++b) {
        const NfBand &band = kNfBandTable[b];
        tune_stiffness(kxmc::standard_arm_parameters(band.model_code), band, b, stiffness[b]);
        for (int loaded = 0; loaded < 2; ++loaded) {
            nets[b][loaded] = from_table(kxmc::detail::kNfWeights[b][loaded]);
        }
    }
    // The file is rewritten after every network, so a long run stopped early keeps its results.
    bool ok = true;
    for (int b = 0; b < kNfBands; ++b) {
        const NfBand &band = kNfBandTable[b];
        const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(band.model_code);
        for (int loaded = 0; loaded < 2; ++loaded) {
            if (!all && !selected[b][loaded]) {
                continue;
            }
            const double error =
                refine_only ? refine_network(p, band, b, loaded, stiffness[b], nets[b][loaded])
                            : train_network(p, band, b, loaded, stiffness[b], nets[b][loaded]);
            ok = ok && error <= kAcceptError;
            if (!write_tables(path, stiffness, nets)) {
                return 1;
            }
        }
    }
    if (!ok) {
        std::fprintf(stderr, "an acceptance error is above %.1f %%: the tables need another look\n",
                     100.0 * kAcceptError);
        return 1;
    }
    return 0;
}
