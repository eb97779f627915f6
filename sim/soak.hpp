// The soak: hours of servo cycles of a joint program on the plant, with random host commands
// interleaved, checked every cycle.
//
// The host alternates between the program, standing still and hand guiding (no operator
// touches the arm), and between cycles issues random commands: the settings commands with
// valid and invalid arguments, torque-model switches, collision level changes, and its own
// mode switches (program start and stop, drag on and off). Every cycle is checked:
//   torque      every torque the library publishes (model and measured joint torques, the
//               collision residuals) is finite;
//   command     every drive command word lies within the drives' current limit;
//   reaction    nothing reacts: there is no contact and no operator force in the soak, and the
//               generator draws no value that invites a reaction (see soak.cpp), so any
//               detector report (torque residual or dual encoder), any collision code and any
//               call the library makes to halt or hand over the arm (qmcPause, qmcStop,
//               qmcDragSwitch, doConfigHandle, resetWeldControlPara) is a failure;
//   answer      a settings command accepts every valid argument set (0) and refuses every
//               invalid one (non-zero);
//   settings    after every settings command both configuration files are read back through
//               the host's configuration reader: every value is a number (no NaN), no key
//               appears twice in a section, and a refused command changed neither file.
// The run is seeded: the same options give the same commands, cycles and figures.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/scenarios.hpp"

namespace kxsim {

struct SoakOptions {
    CommonOptions common;
    double duration = 3600.0;         // [s] arm time (servo cycles / 1000)
    double command_interval = 0.5;    // [s] mean time between two host commands
    double invalid_share = 0.3;       // share of settings commands with an invalid argument
    double phase_scale = 1.0;         // scales the phase lengths (program 10-60 s, stopped 1-5 s,
                                      // drag 2-8 s): short runs pass through every phase
    // Runs after every servo cycle, before its checks (tests put faults in the records here).
    std::function<void(uint64_t cycle)> after_cycle;
};

// Commands of one kind: issued, with invalid arguments, and answered against expectation.
struct SoakCommandCount {
    std::string kind;
    uint64_t issued = 0;
    uint64_t invalid = 0;
};

struct SoakFailure {
    uint64_t cycle = 0;
    std::string check;    // "torque", "command", "reaction", "answer", "settings"
    std::string detail;
};

struct SoakResult {
    uint64_t cycles = 0;
    double wall_s = 0.0;
    double cpu_s = 0.0;
    std::vector<SoakCommandCount> commands;  // one entry per kind, in a fixed order
    uint64_t settings_reads = 0;             // configuration file read-backs
    uint64_t cycles_program = 0, cycles_stopped = 0, cycles_drag = 0;
    double peak_command = 0.0;               // largest |command word| seen [per mille]
    uint64_t failure_count = 0;              // all failures; the first ones are kept below
    std::map<std::string, uint64_t> failure_counts;  // per check
    std::vector<SoakFailure> failures;
    uint64_t fingerprint = 0;                // hash of every command word: equal runs, equal hash
    bool passed() const { return failure_count == 0; }
    uint64_t failures_of(const std::string &check) const;
};

// The drives' current limit a command word must keep to [per mille of rated].
constexpr double kSoakCommandLimit = 3000.0;

SoakResult run_soak(const SoakOptions &o);

}  // namespace kxsim
