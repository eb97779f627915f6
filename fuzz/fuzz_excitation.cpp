// Fuzz harness of the excitation-trajectory payload identification: preparing runs, the
// per-cycle accumulation with arbitrary torques, positions and durations (runs that end early,
// never or in the middle of an input), the steps a host may drive itself, the solution, the
// result against either baseline, the Fourier trajectory and the peak search, interleaved with
// torque cycles (whose filter reset on a mode change touches the run's history).
#include <cstdint>
#include <vector>

#include "fuzz_host.hpp"
#include "kxmc/kxmcforcetorque.h"

using kxfuzz::any_double;
using kxfuzz::any_int;
using kxfuzz::fill;

namespace {

// A run's duration [s]: short runs that end within an input, or anything.
double any_duration(FuzzedDataProvider &in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 140) * 1e-3 : any_double(in);
}

void run(FuzzedDataProvider &in, int &budget) {
    const double duration = any_duration(in);
    const int kind = in.ConsumeIntegralInRange<int>(0, 3);
    double torque[6], pos[6];
    fill(in, torque);
    fill(in, pos);
    kxfuzz::run_cycles(in, budget, [&](int k) {
        if (kind == 0) {
            // The arm's own motion along the trajectory, with the torques of the torque cycle.
            kxmcComputefourierAccVelPos(0.0, 1.0, 8000.0, static_cast<uint32_t>(k), pos);
            gravityTorqueControl(mpb.jointPos);
            for (int j = 0; j < 6; ++j) torque[j] = mpb.measuredJointTorque[j];
        } else if (kind == 1 && in.remaining_bytes() > 0) {
            torque[in.ConsumeIntegralInRange<int>(0, 5)] = any_double(in);
            pos[in.ConsumeIntegralInRange<int>(0, 5)] = any_double(in);
        }
        kxmcloadidentifymain(kind == 3 && k % 7 == 0 ? nullptr : torque,
                             kind == 3 && k % 11 == 0 ? nullptr : pos, duration);
    });
}

void steps(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            qmcComIdentifySum(in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 6)
                                               : any_int(in));
            break;
        case 1: {
            double theta[27];
            qmcComIdentifyInv(in.ConsumeBool() ? theta : nullptr);
            break;
        }
        case 2: {
            double out;
            filter_data(in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 6) : any_int(in),
                        in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 6) : any_int(in),
                        in.ConsumeBool() ? &out : nullptr);
            break;
        }
        default: {
            // The regressor into a block of exactly 3 x 27 or a header of another size.
            double q[6], qd[6], qdd[6];
            fill(in, q);
            fill(in, qd);
            fill(in, qdd);
            const int rows = in.ConsumeBool() ? 3 : in.ConsumeIntegralInRange<int>(-1, 5);
            const int cols = in.ConsumeBool() ? 27 : in.ConsumeIntegralInRange<int>(-1, 29);
            std::vector<std::vector<double>> storage(rows > 0 ? rows : 0,
                                                     std::vector<double>(cols > 0 ? cols : 0));
            std::vector<double *> row_ptr;
            for (auto &r : storage) row_ptr.push_back(r.data());
            const MatHead head{0, rows - 1, 0, cols - 1, 0,
                               row_ptr.empty() ? nullptr : row_ptr.data()};
            solve_Hb5(in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : q, qd, qdd, head);
            break;
        }
    }
}

void result(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            ExcitationResultBlock block;
            fill(in, block.value);
            double mass, coord[3];
            const bool outputs = in.ConsumeIntegralInRange<int>(0, 15) != 0;
            kxmcgetloadidentifyresult(block, outputs ? &mass : nullptr, outputs ? coord : nullptr);
            break;
        }
        case 1:
            kxmcloadidentifyvalue(in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 2)
                                                   : any_int(in));
            break;
        case 2:
            kxmcselectvalue(static_cast<uint32_t>(
                in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 3) : any_int(in)));
            break;
        default:
            Store_free();
            break;
    }
}

void trajectory(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0: {
            double q[6];
            kxmcComputefourierAccVelPos(any_double(in), any_double(in), any_double(in),
                                        static_cast<uint32_t>(any_int(in)),
                                        in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : q);
            break;
        }
        case 1: {
            double rec[3];
            fill(in, rec);
            kxmcComputefourierMotion(static_cast<uint32_t>(any_int(in)), any_double(in),
                                     static_cast<uint32_t>(any_int(in)),
                                     in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : rec);
            break;
        }
        default: {
            // Outputs of exactly n / 2 values on the heap, as the interface asks of the caller.
            const uint32_t n = in.ConsumeIntegralInRange<uint32_t>(0, 64);
            std::vector<double> data(n);
            for (double &x : data) {
                x = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-3, 3) : any_double(in);
            }
            std::vector<double> peaks(n / 2), valleys(n / 2);
            uint32_t n_peaks, n_valleys;
            const bool null_out = in.ConsumeIntegralInRange<int>(0, 15) == 0;
            findPeaksAndValleys(data.empty() ? nullptr : data.data(), n,
                                null_out || peaks.empty() ? nullptr : peaks.data(),
                                valleys.empty() ? nullptr : valleys.data(),
                                in.ConsumeBool() ? &n_peaks : nullptr,
                                in.ConsumeBool() ? &n_valleys : nullptr);
            break;
        }
    }
}

void reset_store(FuzzedDataProvider &) { kxmcdynstoreresert(); }
void reset_filter(FuzzedDataProvider &) { kxmcdynfiltresert(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr kxfuzz::Operation kOps[] = {kxfuzz::poke,
                                          kxfuzz::no_cycles<reset_store>,
                                          run,
                                          run,
                                          kxfuzz::no_cycles<steps>,
                                          kxfuzz::no_cycles<result>,
                                          kxfuzz::no_cycles<trajectory>,
                                          kxfuzz::no_cycles<reset_filter>};
    return kxfuzz::run_input(data, size, kOps);
}
