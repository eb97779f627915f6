// Solution of the excitation-trajectory payload identification and its run flags. The filter
// reset of the dynamics settings reads the active flag: while a run collects samples its history
// must not be cleared.
//
// Library-internal: external linkage, hidden from the host.
#pragma once

#include <cstdint>

namespace kxmc {

struct ExcitationSolution {
    double theta[48];       // solved parameters in entries 0..26, the rest stay 0
    int32_t active;         // non-zero while an identification run collects samples
    int32_t storePrepared;  // set when the sample store has been prepared
};

}  // namespace kxmc

[[gnu::visibility("hidden")]] extern kxmc::ExcitationSolution solveX;
