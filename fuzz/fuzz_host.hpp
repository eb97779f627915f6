// Shared part of the fuzz harnesses: the simulated host started afresh for every input, and the
// ways an input writes the host's records and service inputs with arbitrary values.
//
// The host's records are not trusted by the library, so a harness may put anything there:
// NaN, infinities, huge and negative values, every model code, joint count, level, index, mode
// and flag. What a harness must respect are the caller's duties the C interface states (array
// arguments of the stated size), since no library can check those.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "host/kxmc_host.h"

namespace kxfuzz {

// Bounds of one input, so that an execution stays short: operations, and servo cycles in all.
constexpr int kMaxOperations = 128;
constexpr int kMaxCyclesPerInput = 128;
constexpr int kMaxCyclesPerStep = 16;

// Once per process: the configuration files and the log go to a fresh folder on a memory file
// system (the setters persist every accepted value), removed at exit.
void initialize();

// Start of one input: the records reset to the defaults of a model code chosen by the input
// (band edges, codes in no band or any 32-bit code), the host services back at their defaults,
// journal and log capture off; the log file is emptied now and then.
void start_host(FuzzedDataProvider &in);

// Arbitrary values of each kind: edges and specials (NaN, infinities, the largest and smallest
// magnitudes, integer limits, small counts and indices) or raw bytes, or a value in a sane range.
double any_double(FuzzedDataProvider &in);
float any_float(FuzzedDataProvider &in);
int32_t any_int(FuzzedDataProvider &in);
uint32_t any_model_code(FuzzedDataProvider &in);
// A mode, flag or index argument: mostly 0..7, sometimes any byte.
uint8_t any_byte(FuzzedDataProvider &in);
// A pose of the host's kinematics type (rotation and position of arbitrary values).
Trsf any_trsf(FuzzedDataProvider &in);

template <std::size_t N>
void fill(FuzzedDataProvider &in, double (&a)[N]) {
    for (double &x : a) x = any_double(in);
}
template <std::size_t N>
void fill(FuzzedDataProvider &in, float (&a)[N]) {
    for (float &x : a) x = any_float(in);
}
template <std::size_t N>
void fill(FuzzedDataProvider &in, int32_t (&a)[N]) {
    for (int32_t &x : a) x = any_int(in);
}

// Writes a value of a kind chosen by the input (byte, 16-, 32-bit integer, float, double) at an
// offset chosen by the input into one of the host records (mcb, mpb, how), aligned to the kind.
void poke_record(FuzzedDataProvider &in);

// Sets one of the modes, flags, states, counts and indices that select the library's paths
// (model code, torque model, robot state, joint count, collision reaction, ...) to a small
// value or an edge value.
void poke_control(FuzzedDataProvider &in);

// Changes one of the simulated host's service inputs (velocity feed-forward, collision ratios,
// hardware-layer inputs, quaternion sign, robot pose override).
void poke_service(FuzzedDataProvider &in);

// One of the three above, chosen by the input.
void poke_any(FuzzedDataProvider &in);

// Moves the arm state on by one servo cycle as the host does between two calls: the previous
// position is kept and the position follows the actual velocity (where both are finite), the
// cycle counter advances.
void advance_cycle();

// Number of cycles for one cycle operation, within the input's remaining cycle budget.
int cycles_for_step(FuzzedDataProvider &in, int &budget);

// A run of servo cycles of a length chosen by the input within its budget: `cycle(k)` for the
// k-th cycle of the run, then the arm state moves on as between two host calls.
template <typename Cycle>
void run_cycles(FuzzedDataProvider &in, int &budget, Cycle &&cycle) {
    for (int n = cycles_for_step(in, budget), k = 0; n > 0; --n, ++k) {
        cycle(k);
        advance_cycle();
    }
}

// One operation of an input. It reads its choices from the input; `budget` is the number of
// servo cycles the input has left.
using Operation = void (*)(FuzzedDataProvider &in, int &budget);

// An operation that spends no cycles, from a function of the input alone.
template <void (*F)(FuzzedDataProvider &)>
void no_cycles(FuzzedDataProvider &in, int & /*budget*/) {
    F(in);
}

// The host's records and services written with arbitrary values, as an operation.
void poke(FuzzedDataProvider &in, int &budget);

// One input of a harness: the host started afresh, `prepare` (if any) once, then operations
// picked by the input from `ops` (one listed twice is picked twice as often) until the input or
// the operation budget is used up.
template <std::size_t N>
int run_input(const uint8_t *data, std::size_t size, const Operation (&ops)[N],
              void (*prepare)(FuzzedDataProvider &) = nullptr) {
    FuzzedDataProvider in(data, size);
    start_host(in);
    if (prepare != nullptr) prepare(in);
    int budget = kMaxCyclesPerInput;
    for (int op = 0; op < kMaxOperations && in.remaining_bytes() > 0; ++op) {
        ops[in.ConsumeIntegralInRange<std::size_t>(0, N - 1)](in, budget);
    }
    return 0;
}

}  // namespace kxfuzz
