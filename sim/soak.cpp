// The soak run: the host's phases, its random commands and the per-cycle checks.
//
// Values the generator draws as valid are the ones a contact-free run must live with without
// any reaction:
//   - collision levels 3..100 (levels below 3 are the most sensitive settings, chosen only for
//     an arm whose model was identified; the collision scenario's no-impact runs show where
//     false alarms begin on an arm with model error), the start levels persisted so that a
//     level resume returns to levels the generator chose;
//   - the dual-encoder threshold source 0 (levels): source 1 takes the custom joint limits,
//     which the soak does not set;
//   - drag power limits of 200 W and more (the arm is never pushed);
//   - drag lock integral gains up to 0.01 (proportional and derivative gains over their whole
//     range 0..10): the lock sums its pose error every cycle and scales its output by 100, so
//     an integral gain Ki acts as Ki x 10^5 N/(m s) on the tool. Against the arm's damping that
//     holds up to about Ki = 0.1; the accepted range reaches 10, and gains from it drive the lock
//     into an oscillation that grows until the command words saturate (seed 2 found it at
//     379.7 s with Ki up to 10, and at 387.4 s with Ki up to 1);
//   - the program stops, and the host changes mode, only where the program's path is at rest
//     (a waypoint), as a controller stops a program: a halt in full motion is a position step
//     the drives would fight.
#include "sim/soak.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <random>
#include <utility>

#include "kxmc/kxmc_collision_check.h"
#include "kxmc/kxmc_collision_settings.h"
#include "kxmc/kxmc_dynamics_settings.h"
#include "sim/report.hpp"
#include "simhost/kxsimhost.hpp"

namespace kxsim {

namespace {

constexpr const char *kConfigFiles[] = {"/root/robot/user.config", "/root/robot/load.config"};
constexpr std::size_t kKeptFailures = 20;
constexpr double kApproachSpeed = 30.0;     // [deg/s] back to the program's first waypoint
constexpr double kAtRest = 0.05;            // [deg/s] path rate that counts as standing still
constexpr float kLowestLevel = 3.0f;
constexpr float kHighestLevel = 100.0f;
constexpr float kStartLevel = 3.0f;
constexpr int kProgressCycles = 1000;

struct Span {
    double lo, hi;  // [s]
};
constexpr Span kProgramSpan{10.0, 60.0};
constexpr Span kStoppedSpan{1.0, 5.0};
constexpr Span kDragSpan{2.0, 8.0};

enum class Phase { kProgram, kStopped, kDrag };

// What a settings command should answer.
enum class Answer { kAccept, kRefuse, kConflict };

class Rng {
public:
    explicit Rng(uint64_t seed) : gen_(seed) {}
    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(gen_);
    }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(gen_); }
    double exponential(double mean) {
        return std::exponential_distribution<double>(1.0 / mean)(gen_);
    }
    template <typename T, std::size_t N>
    T one_of(const T (&values)[N]) {
        return values[static_cast<std::size_t>(pick(0, static_cast<int>(N) - 1))];
    }

private:
    std::mt19937_64 gen_;
};

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kBadLevels[] = {-1.0f, -0.001f, 100.5f, 1.0e9f, static_cast<float>(kNan),
                                static_cast<float>(kInf), -static_cast<float>(kInf)};
constexpr float kBadGains[] = {-0.5f, 1.5f, 1.0e6f, static_cast<float>(kNan),
                               static_cast<float>(kInf)};
constexpr double kBadLawGains[] = {0.0, 0.49, 1.51, 100.0, kNan, -kInf};
constexpr double kBadPid[] = {-1.0, 10.5, 1.0e9, kNan};

uint8_t bad_byte(Rng &r, int first) { return static_cast<uint8_t>(r.pick(first, 255)); }

// Each settings command draws its arguments (valid or not), calls the library and says which
// answer it expects.
using Issue = Answer (*)(Rng &r, bool valid, int32_t *answer);

Answer collision_level(Rng &r, bool valid, int32_t *answer) {
    float level[6];
    for (float &l : level) {
        l = static_cast<float>(r.uniform(kLowestLevel, kHighestLevel));
    }
    uint8_t type = static_cast<uint8_t>(r.pick(0, 1));
    if (!valid) {
        if (r.chance(0.5)) {
            type = bad_byte(r, 2);
        } else {
            level[r.pick(0, 5)] = r.one_of(kBadLevels);
        }
    }
    *answer = qmcSetCollisionLevel(type, level, static_cast<uint8_t>(r.pick(0, 1)),
                                   static_cast<uint32_t>(r.pick(0, 1000)));
    return valid ? Answer::kAccept : Answer::kRefuse;
}

Answer level_resume(Rng &, bool, int32_t *answer) {
    *answer = qmcCollisionLevelResume();
    return Answer::kAccept;
}

Answer collision_reaction(Rng &r, bool valid, int32_t *answer) {
    uint8_t reaction = static_cast<uint8_t>(r.pick(0, 5));
    uint32_t time = static_cast<uint32_t>(r.pick(0, 2000));
    uint32_t distance = static_cast<uint32_t>(r.pick(0, 500));
    int32_t margin[6];
    for (int32_t &m : margin) {
        m = r.pick(1, 10);
    }
    if (!valid) {
        switch (r.pick(0, 3)) {
            case 0: reaction = bad_byte(r, 6); break;
            case 1: reaction = 5; time = static_cast<uint32_t>(r.pick(2001, 1000000)); break;
            case 2: reaction = 5; distance = static_cast<uint32_t>(r.pick(501, 1000000)); break;
            default: reaction = 5; margin[r.pick(0, 5)] = r.chance(0.5) ? 0 : 11; break;
        }
    }
    *answer = qmcSetCollisionPause(reaction, time, distance,
                                   static_cast<uint32_t>(r.pick(0, 1000)), margin);
    return valid ? Answer::kAccept : Answer::kRefuse;
}

Answer collision_mode(Rng &r, bool valid, int32_t *answer) {
    uint8_t mode = static_cast<uint8_t>(r.pick(0, 2));
    uint8_t source = 0;
    if (!valid) {
        if (r.chance(0.5)) {
            mode = bad_byte(r, 3);
        } else {
            source = bad_byte(r, 2);
        }
    }
    *answer = qmcSetCollisionMode(mode, source);
    return valid ? Answer::kAccept : Answer::kRefuse;
}

Answer static_check(Rng &r, bool, int32_t *answer) {
    *answer = qmcSetStaticCollisionOnOff(static_cast<uint8_t>(r.pick(0, 1)));
    return Answer::kAccept;
}

Answer torque_model(Rng &r, bool valid, int32_t *answer) {
    *answer =
        qmcgravityTeachVersionOnOff(valid ? static_cast<uint8_t>(r.pick(0, 2)) : bad_byte(r, 3));
    return valid ? Answer::kAccept : Answer::kRefuse;
}

Answer power_limit(Rng &r, bool valid, int32_t *answer) {
    uint8_t flag = static_cast<uint8_t>(r.pick(0, 1));
    double limit = r.uniform(200.0, 5000.0);
    if (!valid) {
        if (r.chance(0.5)) {
            flag = bad_byte(r, 2);
        } else {
            limit = kNan;
        }
    }
    *answer = qmcSetPowerLimit(flag, limit);
    return valid ? Answer::kAccept : Answer::kRefuse;
}

Answer friction_on(Rng &r, bool valid, int32_t *answer) {
    *answer =
        qmcFrictionCompensationOnOff(valid ? static_cast<uint8_t>(r.pick(0, 1)) : bad_byte(r, 2));
    return valid ? Answer::kAccept : Answer::kRefuse;
}

Answer friction_gains(Rng &r, bool valid, int32_t *answer) {
    float gains[6];
    for (float &g : gains) {
        g = static_cast<float>(r.uniform(0.0, 1.0));
    }
    if (!valid) {
        gains[r.pick(0, 5)] = r.one_of(kBadGains);
    }
    *answer = qmcSetFrictionValue_free(gains);
    return valid ? Answer::kAccept : Answer::kRefuse;
}

Answer friction_law_gains(Rng &r, bool valid, int32_t *answer) {
    double g[4][6];
    for (auto &row : g) {
        for (double &x : row) {
            x = r.uniform(0.5, 1.5);
        }
    }
    if (!valid) {
        g[r.pick(0, 3)][r.pick(0, 5)] = r.one_of(kBadLawGains);
    }
    *answer = qmcSetJointFrictionGain(g[0], g[1], g[2], g[3]);
    return valid ? Answer::kAccept : Answer::kRefuse;
}

Answer stiffness_type(Rng &r, bool valid, int32_t *answer) {
    *answer = qmcSetJointStiffnessType(valid ? static_cast<uint32_t>(r.pick(0, 1))
                                             : static_cast<uint32_t>(r.pick(2, 1000000)));
    return valid ? Answer::kAccept : Answer::kRefuse;
}

Answer interference_drag(Rng &r, bool valid, int32_t *answer) {
    const uint8_t mode = valid ? static_cast<uint8_t>(r.pick(0, 2)) : bad_byte(r, 3);
    const bool conflict = valid && mode == 1 && mcb.dragLockOn == 1;
    *answer = qmcSetInterfereDrag(mode);
    return conflict ? Answer::kConflict : valid ? Answer::kAccept : Answer::kRefuse;
}

Answer drag_lock(Rng &r, bool valid, int32_t *answer) {
    const uint8_t on = valid ? static_cast<uint8_t>(r.pick(0, 1)) : bad_byte(r, 2);
    const bool conflict = valid && on == 1 && mcb.interfereDragMode == 1;
    *answer = qmcDragLockEnableDisable(on);
    return conflict ? Answer::kConflict : valid ? Answer::kAccept : Answer::kRefuse;
}

Answer drag_lock_gains(Rng &r, bool valid, int32_t *answer) {
    constexpr double kHighest[3] = {10.0, 0.01, 10.0};  // P, I, D
    double g[3][6];
    for (int k = 0; k < 3; ++k) {
        for (double &x : g[k]) {
            x = r.uniform(0.0, kHighest[k]);
        }
    }
    if (!valid) {
        g[r.pick(0, 2)][r.pick(0, 5)] = r.one_of(kBadPid);
    }
    *answer = qmcSetDragLockPara(g[0], g[1], g[2]);
    return valid ? Answer::kAccept : Answer::kRefuse;
}

struct SettingsCommand {
    const char *kind;
    Issue issue;
    bool has_invalid;  // some argument can be out of range
};
constexpr SettingsCommand kSettingsCommands[] = {
    {"collision level", collision_level, true},
    {"collision level resume", level_resume, false},
    {"collision reaction", collision_reaction, true},
    {"collision mode", collision_mode, true},
    {"static collision check", static_check, false},  // every value is taken
    {"torque model", torque_model, true},
    {"drag power limit", power_limit, true},
    {"friction compensation", friction_on, true},
    {"friction gains", friction_gains, true},
    {"friction law gains", friction_law_gains, true},
    {"friction stiffness type", stiffness_type, true},
    {"interference drag", interference_drag, true},
    {"drag lock", drag_lock, true},
    {"drag lock gains", drag_lock_gains, true},
};
constexpr std::size_t kSettingsKinds = sizeof kSettingsCommands / sizeof kSettingsCommands[0];
// The host's own mode switches follow the settings commands in the count table.
enum ModeSwitch : std::size_t {
    kProgramStart = kSettingsKinds,
    kProgramStop,
    kDragOn,
    kDragOff,
    kKinds
};
constexpr const char *kModeSwitchNames[] = {"program start", "program stop", "drag on", "drag off"};

const char *answer_text(Answer a) {
    switch (a) {
        case Answer::kAccept: return "0";
        case Answer::kConflict: return "-2";
        default: return "non-zero";
    }
}

bool answered(Answer expected, int32_t got) {
    switch (expected) {
        case Answer::kAccept: return got == 0;
        case Answer::kConflict: return got == -2;
        default: return got != 0;
    }
}

// Both configuration files through the host's reader.
using Settings = std::vector<std::vector<ConfigKey>>;
Settings read_settings() {
    Settings s;
    for (const char *file : kConfigFiles) {
        s.push_back(read_config(file));
    }
    return s;
}

bool same_settings(const Settings &a, const Settings &b) {
    for (std::size_t f = 0; f < a.size(); ++f) {
        if (a[f].size() != b[f].size()) {
            return false;
        }
        for (std::size_t i = 0; i < a[f].size(); ++i) {
            const ConfigKey &x = a[f][i], &y = b[f][i];
            if (x.section != y.section || x.key != y.key || x.value != y.value) {
                return false;
            }
        }
    }
    return true;
}

// Empty when every value is a number and no key repeats within its section; else what is wrong.
std::string settings_fault(const Settings &s) {
    for (std::size_t f = 0; f < s.size(); ++f) {
        const std::vector<ConfigKey> &keys = s[f];
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const ConfigKey &k = keys[i];
            const char *begin = k.value.c_str();
            char *end = nullptr;
            const float v = std::strtof(begin, &end);
            if (end == begin || *end != '\0' || std::isnan(v)) {
                return fmt("%s [%s] %s=%s is not a number", kConfigFiles[f], k.section.c_str(),
                           k.key.c_str(), k.value.c_str());
            }
            for (std::size_t m = 0; m < i; ++m) {
                if (keys[m].section == k.section && keys[m].key == k.key) {
                    return fmt("%s [%s] %s appears twice", kConfigFiles[f], k.section.c_str(),
                               k.key.c_str());
                }
            }
        }
    }
    return {};
}

// Back from wherever the arm stands to the program's first waypoint (quintic, at rest at both
// ends), then the program.
JointPath program_from(const Vec6 &from, const JointProgram &program) {
    const Vec6 to = program.waypoints.front();
    double span = 0.0;
    for (std::size_t j = 0; j < 6; ++j) {
        span = std::max(span, std::fabs(to[j] - from[j]));
    }
    const double move = std::max(0.5, 1.875 * span / kApproachSpeed);  // [s]
    return [from, to, move, program](double t) {
        if (t >= move) {
            return program.sample(t - move);
        }
        JointProgram::Sample s{};
        const double u = std::clamp(t / move, 0.0, 1.0);
        const double u2 = u * u, u3 = u2 * u;
        const double p = u3 * (10.0 - 15.0 * u + 6.0 * u2);
        const double dp = 30.0 * u2 * (1.0 - 2.0 * u + u2);
        const double ddp = 60.0 * u * (1.0 - 3.0 * u + 2.0 * u2);
        for (std::size_t j = 0; j < 6; ++j) {
            const double d = to[j] - from[j];
            s.pos[j] = from[j] + d * p;
            s.vel[j] = d * dp / move;
            s.acc[j] = d * ddp / (move * move);
        }
        s.segment_steps = static_cast<int32_t>(std::lround(move * 1000.0));
        s.segment_step = static_cast<int32_t>(t * 1000.0);
        return s;
    };
}

bool path_at_rest() {
    for (int j = 0; j < 6; ++j) {
        if (std::fabs(mpb.targetJointVel[j]) * 1000.0 > kAtRest) {
            return false;
        }
    }
    return true;
}

class Soak {
public:
    Soak(const SoakOptions &o, ArmPlant &plant, SimHost &host)
        : o_(o), plant_(plant), host_(host), rng_(o.common.seed * 0x9E3779B97F4A7C15ull + 17u) {
        result_.commands.resize(kKinds);
        for (std::size_t k = 0; k < kSettingsKinds; ++k) {
            result_.commands[k].kind = kSettingsCommands[k].kind;
        }
        for (std::size_t k = kSettingsKinds; k < kKinds; ++k) {
            result_.commands[k].kind = kModeSwitchNames[k - kSettingsKinds];
        }
    }

    SoakResult run() {
        const auto wall0 = std::chrono::steady_clock::now();
        const std::clock_t cpu0 = std::clock();
        const uint64_t cycles = static_cast<uint64_t>(std::llround(o_.duration / kCycle));
        start_program();
        next_command_ = draw_interval();
        for (uint64_t i = 0; i < cycles; ++i) {
            cycle_ = i;
            while (next_command_ <= i) {
                settings_command();
                next_command_ += draw_interval();
            }
            advance_phase();
            host_.cycle();
            if (o_.after_cycle) {
                o_.after_cycle(i);
            }
            check_cycle();
            host_.forget_history();
            if (i % kProgressCycles == 0) {
                progress(o_.common, "soak", static_cast<double>(i) * kCycle, o_.duration);
            }
        }
        result_.cycles = cycles;
        result_.wall_s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        result_.cpu_s = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
        return result_;
    }

private:
    uint64_t draw_interval() {
        return std::max<uint64_t>(
            1, static_cast<uint64_t>(std::llround(rng_.exponential(o_.command_interval) / kCycle)));
    }
    uint64_t phase_cycles(const Span &s) {
        return static_cast<uint64_t>(
            std::llround(rng_.uniform(s.lo, s.hi) * o_.phase_scale / kCycle));
    }

    // The host's state when a check fails: robot state, torque model, the drag switches and the
    // last settings command.
    std::string context() const {
        return fmt(
            " (robot state %d, torque model %u, drag lock %u, interference drag %u, friction "
            "compensation %u, static check %u; last command %s at cycle %llu)",
            mpb.robotState, mcb.newTeachEnable, mcb.dragLockOn, mcb.interfereDragMode,
            mcb.frictionCompOn, mcb.staticCollisionOn, last_command_.c_str(),
            static_cast<unsigned long long>(last_command_cycle_));
    }

    void fail(const char *check, std::string detail) {
        ++result_.failure_count;
        ++result_.failure_counts[check];
        if (result_.failures.size() < kKeptFailures) {
            result_.failures.push_back({cycle_, check, std::move(detail)});
        }
    }

    void count(std::size_t kind, bool invalid = false) {
        ++result_.commands[kind].issued;
        result_.commands[kind].invalid += invalid ? 1 : 0;
    }

    void start_program() {
        host_.run_path(program_from(plant_.joints_deg(), program_));
        phase_ = Phase::kProgram;
        phase_end_ = cycle_ + phase_cycles(kProgramSpan);
        count(kProgramStart);
    }

    // The host's mode switches: a program runs until its time is up and it reaches a waypoint;
    // from standing still the host starts the program again or hands the arm over; drag ends
    // with the arm standing still.
    void advance_phase() {
        if (cycle_ < phase_end_) {
            return;
        }
        switch (phase_) {
            case Phase::kProgram:
                if (path_at_rest()) {
                    host_.halt();
                    phase_ = Phase::kStopped;
                    phase_end_ = cycle_ + phase_cycles(kStoppedSpan);
                    count(kProgramStop);
                }
                break;
            case Phase::kStopped:
                if (rng_.chance(0.5)) {
                    start_program();
                } else {
                    (void)kxmcdynfiltresert();  // the host resets the filters entering drag
                    host_.enter_drag();
                    phase_ = Phase::kDrag;
                    phase_end_ = cycle_ + phase_cycles(kDragSpan);
                    count(kDragOn);
                }
                break;
            case Phase::kDrag:
                host_.halt();
                phase_ = Phase::kStopped;
                phase_end_ = cycle_ + phase_cycles(kStoppedSpan);
                count(kDragOff);
                break;
        }
    }

    void settings_command() {
        const std::size_t kind =
            static_cast<std::size_t>(rng_.pick(0, static_cast<int>(kSettingsKinds) - 1));
        const bool valid = !rng_.chance(o_.invalid_share) || !kSettingsCommands[kind].has_invalid;
        const Settings before = read_settings();
        int32_t got = 0;
        const Answer expected = kSettingsCommands[kind].issue(rng_, valid, &got);
        count(kind, !valid);
        last_command_ = fmt("%s (%s, answered %d)", kSettingsCommands[kind].kind,
                            valid ? "valid" : "invalid", got);
        last_command_cycle_ = cycle_;
        if (!answered(expected, got)) {
            fail("answer",
                 fmt("%s (%s arguments) answered %d, expected %s", kSettingsCommands[kind].kind,
                     valid ? "valid" : "invalid", got, answer_text(expected)));
        }
        const Settings after = read_settings();
        result_.settings_reads += 2;
        const std::string fault = settings_fault(after);
        if (!fault.empty()) {
            fail("settings", fault);
        }
        if (got != 0 && !same_settings(before, after)) {
            fail("settings", fmt("%s was refused (%d) but changed the settings files",
                                 kSettingsCommands[kind].kind, got));
        }
    }

    void check_cycle() {
        switch (phase_) {
            case Phase::kProgram: ++result_.cycles_program; break;
            case Phase::kStopped: ++result_.cycles_stopped; break;
            case Phase::kDrag: ++result_.cycles_drag; break;
        }
        for (int j = 0; j < 6; ++j) {
            const double torques[] = {mpb.modelJointTorque[j], mpb.measuredJointTorque[j],
                                      forceCollisionError[j]};
            for (double t : torques) {
                if (!std::isfinite(t)) {
                    fail("torque", fmt("J%d torque %g", j + 1, t) + context());
                }
            }
            const double word = how.jointTorqueCmd[j];
            result_.peak_command = std::max(result_.peak_command, std::fabs(word));
            if (std::fabs(word) > kSoakCommandLimit) {
                fail("command",
                     fmt("J%d command word %d", j + 1, how.jointTorqueCmd[j]) + context());
            }
            // FNV-1a over the command words.
            result_.fingerprint =
                (result_.fingerprint ^ static_cast<uint16_t>(how.jointTorqueCmd[j])) *
                0x100000001b3ull;
        }
        check_reactions();
    }

    // Any report, collision code or halt / hand-over by the library is unexpected. The host
    // acknowledges it and stands still, so that one fault is not counted on every later cycle.
    void check_reactions() {
        std::string what;
        for (const HostEvent &e : host_.events()) {
            if (e.what == "residual" || e.what == "dual-encoder") {
                what += fmt("%s%s J%d", what.empty() ? "" : ", ", e.what.c_str(), e.joint);
            }
        }
        // The journal holds this cycle's calls only (it is dropped after every cycle).
        for (const Call &c : journal()) {
            if (c.name == "qmcPause" || c.name == "qmcStop" || c.name == "qmcDragSwitch" ||
                c.name == "doConfigHandle" || c.name == "resetWeldControlPara") {
                what += fmt("%s%s", what.empty() ? "" : ", ", c.name.c_str());
                if (!c.args.empty()) {
                    what += fmt("(%g)", c.args[0]);
                }
            }
        }
        if (mcb.collisionErrorCode != KXMC_COLLISION_NONE) {
            what +=
                fmt("%scollision code 0x%08x", what.empty() ? "" : ", ", mcb.collisionErrorCode);
        }
        const int32_t expected_state = phase_ == Phase::kProgram ? 2
                                       : phase_ == Phase::kDrag  ? 4
                                                                 : 1;
        if (mpb.robotState != expected_state) {
            what += fmt("%srobot state %d in the host's state %d", what.empty() ? "" : ", ",
                        mpb.robotState, expected_state);
        }
        if (what.empty()) {
            return;
        }
        fail("reaction", what + context());
        mcb.collisionState = 0;
        mcb.collisionErrorCode = KXMC_COLLISION_NONE;
        mcb.warningCode = 0;
        mcb.faultCode = 0;
        host_.halt();
        phase_ = Phase::kStopped;
        phase_end_ = cycle_ + phase_cycles(kStoppedSpan);
    }

    const SoakOptions &o_;
    ArmPlant &plant_;
    SimHost &host_;
    Rng rng_;
    JointProgram program_ = default_program();
    Phase phase_ = Phase::kStopped;
    uint64_t cycle_ = 0;
    uint64_t phase_end_ = 0;
    uint64_t next_command_ = 0;
    std::string last_command_ = "none";
    uint64_t last_command_cycle_ = 0;
    SoakResult result_;
};

}  // namespace

uint64_t SoakResult::failures_of(const std::string &check) const {
    const auto it = failure_counts.find(check);
    return it == failure_counts.end() ? 0 : it->second;
}

SoakResult run_soak(const SoakOptions &o) {
    ArmPlant plant(plant_config(o.common, Scene{}));
    HostConfig hc;
    hc.model_code = o.common.model;
    hc.teach_mode = 2;
    hc.collision_level = kStartLevel;
    hc.config_root = o.common.config_root;
    SimHost host(hc, plant);
    host.start(default_program().waypoints.front());
    // The start levels are persisted: a level resume returns to them.
    const float levels[6] = {kStartLevel, kStartLevel, kStartLevel,
                             kStartLevel, kStartLevel, kStartLevel};
    (void)qmcSetCollisionLevel(0, levels, 1, 0);
    host.forget_history();
    Soak soak(o, plant, host);
    return soak.run();
}

}  // namespace kxsim
