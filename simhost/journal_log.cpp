// The host's actions, log and hardware-layer fakes, with the journal that records every call
// the library makes into the host that has an effect, in order, with its arguments.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "simhost_internal.hpp"

namespace kxsim {

namespace {

constexpr std::size_t kLogMessageMax = 512;  // [chars] longer messages are cut

std::vector<Call> g_journal;
std::vector<LogLine> g_log;
bool g_recording = true;  // journal and log capture on
uint64_t g_cycle = 0;

// Settable inputs of the host services.
float g_velocity_ff[6] = {0, 0, 0, 0, 0, 0};
bool g_ratio_set = false;
float g_ratio[6] = {0, 0, 0, 0, 0, 0};
uint16_t g_axle_din = 0;
int32_t g_identification[6] = {0, 0, 0, 0, 0, 0};
int32_t g_single_identify[3] = {0, 0, 0};
bool g_identify_answers = true;  // the drives fill the identification reads
int g_quaternion_sign = 1;

}  // namespace

namespace detail {

void record_call(const char *name, const double *args, int count, const std::string &text) {
    if (g_recording) {
        g_journal.push_back(Call{name, std::vector<double>(args, args + count), text});
    }
}

void record_call(const char *name, std::initializer_list<double> args, const std::string &text) {
    record_call(name, args.begin(), static_cast<int>(args.size()), text);
}

void reset_services() {
    std::memset(g_velocity_ff, 0, sizeof g_velocity_ff);
    g_ratio_set = false;
    g_axle_din = 0;
    std::memset(g_identification, 0, sizeof g_identification);
    std::memset(g_single_identify, 0, sizeof g_single_identify);
    g_identify_answers = true;
    g_cycle = 0;
    g_recording = true;
    clear_robot_pos();
    set_quaternion_sign(1);
    reset_config_hooks();
}

}  // namespace detail

const std::vector<Call> &journal() { return g_journal; }
void set_recording(bool on) { g_recording = on; }
void clear_journal() { g_journal.clear(); }

std::vector<Call> calls(const std::string &name) {
    std::vector<Call> out;
    for (const Call &c : g_journal) {
        if (c.name == name) {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<std::string> action_names() {
    std::vector<std::string> out;
    for (const Call &c : g_journal) {
        if (c.name != "ConfigWriteEntry" && c.name != "Write_Log") {
            out.push_back(c.name);
        }
    }
    return out;
}

const std::vector<LogLine> &log_lines() { return g_log; }
void clear_log() { g_log.clear(); }

bool log_contains(const std::string &text, int level) {
    for (const LogLine &l : g_log) {
        if (l.text == text && (level < 0 || l.level == level)) {
            return true;
        }
    }
    return false;
}

std::string log_file() { return config_root() + "/kxmc.log"; }

void set_cycle(uint64_t c) { g_cycle = c; }
void set_quaternion_sign(int sign) { g_quaternion_sign = sign < 0 ? -1 : 1; }
int quaternion_sign() { return g_quaternion_sign; }
uint64_t cycle() { return g_cycle; }

void set_velocity_feedforward(const float ff[6]) {
    std::memcpy(g_velocity_ff, ff, sizeof g_velocity_ff);
}

void set_collision_ratio(const float ratio[6]) {
    std::memcpy(g_ratio, ratio, sizeof g_ratio);
    g_ratio_set = true;
}

void clear_collision_ratio() { g_ratio_set = false; }

void set_axle_din(uint16_t din) { g_axle_din = din; }

void set_joint_identification_data(const int32_t values[6]) {
    std::memcpy(g_identification, values, sizeof g_identification);
}

void set_single_joint_identify(int32_t a, int32_t b, int32_t c) {
    g_single_identify[0] = a;
    g_single_identify[1] = b;
    g_single_identify[2] = c;
}

void set_joint_identify_answers(bool on) { g_identify_answers = on; }

}  // namespace kxsim

using kxsim::detail::record_call;

extern "C" {

// The message is formatted into a bounded stack buffer (longer ones are cut), appended as
// "[cycle][level] message" to the log file and kept in the capture and the journal.
int Write_Log(int level, const char *format, ...) {
    if (format == nullptr) {
        return -1;
    }
    char message[kxsim::kLogMessageMax];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (n < 0) {
        message[0] = '\0';
    }
    if (kxsim::g_recording) {
        kxsim::g_log.push_back(kxsim::LogLine{level, message});
        record_call("Write_Log", {static_cast<double>(level)}, message);
    }
    // The line is formatted on the stack and appended with plain system calls: with recording
    // off the log allocates nothing, like the rest of the host's services.
    const std::string &root = kxsim::detail::root_path();
    char path[4096];
    char line[kxsim::kLogMessageMax + 64];
    const int path_length = std::snprintf(path, sizeof path, "%s/kxmc.log", root.c_str());
    const int line_length =
        std::snprintf(line, sizeof line, "[%llu][%d] %s\n",
                      static_cast<unsigned long long>(kxsim::g_cycle), level, message);
    if (path_length > 0 && static_cast<std::size_t>(path_length) < sizeof path && line_length > 0) {
        const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            const std::size_t length =
                std::min(static_cast<std::size_t>(line_length), sizeof line - 1);
            const ssize_t written = ::write(fd, line, length);
            (void)written;  // a log line that cannot be written is dropped
            ::close(fd);
        }
    }
    return 0;
}

int qmcPause(void) {
    record_call("qmcPause", {});
    mpb.robotState = 3;
    return 0;
}

int qmcStop(void) {
    record_call("qmcStop", {});
    mpb.robotState = 1;
    return 0;
}

int qmcDragSwitch(int on) {
    record_call("qmcDragSwitch", {static_cast<double>(on)});
    mpb.robotState = on != 0 ? 4 : 1;
    return 0;
}

int doConfigHandle(int a, int b) {
    record_call("doConfigHandle", {static_cast<double>(a), static_cast<double>(b)});
    return 0;
}

int resetWeldControlPara(void) {
    record_call("resetWeldControlPara", {});
    return 0;
}

int newJointVelFFTorque(float out[6]) {
    if (out == nullptr) {
        return -1;
    }
    std::memcpy(out, kxsim::g_velocity_ff, sizeof kxsim::g_velocity_ff);
    return 0;
}

// Without a ratio set by the test or simulator the caller's preset stays as it is.
int newCollisionRatio(float ratio[6]) {
    if (ratio == nullptr) {
        return -1;
    }
    if (kxsim::g_ratio_set) {
        std::memcpy(ratio, kxsim::g_ratio, sizeof kxsim::g_ratio);
    }
    return 0;
}

int kxHalEnableAxleDeviceType(uint8_t type) {
    record_call("kxHalEnableAxleDeviceType", {static_cast<double>(type)});
    return 0;
}

int kxHalSetAxleSensorData(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t e, uint16_t f) {
    record_call("kxHalSetAxleSensorData",
                {static_cast<double>(a), static_cast<double>(b), static_cast<double>(c),
                 static_cast<double>(d), static_cast<double>(e), static_cast<double>(f)});
    return 0;
}

int kxHalGetAxleDin(uint16_t *din) {
    if (din == nullptr) {
        return -1;
    }
    *din = kxsim::g_axle_din;
    return 0;
}

int kxHalSetJointIdentifyType(uint16_t type) {
    record_call("kxHalSetJointIdentifyType", {static_cast<double>(type)});
    return 0;
}

int kxHalSetJointIdentifyEnable(uint8_t joint, uint16_t on) {
    record_call("kxHalSetJointIdentifyEnable",
                {static_cast<double>(joint), static_cast<double>(on)});
    return 0;
}

int kxHalGetJointIdentificationData(int32_t values[6]) {
    if (values == nullptr || !kxsim::g_identify_answers) {
        return -1;
    }
    std::memcpy(values, kxsim::g_identification, sizeof kxsim::g_identification);
    return 0;
}

// The simulated drives report the same single-joint result for every joint; the journal keeps
// the joint asked for.
int kxHalGetSingleJointIdentify(uint8_t joint, int32_t *a, int32_t *b, int32_t *c) {
    record_call("kxHalGetSingleJointIdentify", {static_cast<double>(joint)});
    if (a == nullptr || b == nullptr || c == nullptr || !kxsim::g_identify_answers) {
        return -1;
    }
    *a = kxsim::g_single_identify[0];
    *b = kxsim::g_single_identify[1];
    *c = kxsim::g_single_identify[2];
    return 0;
}

int kxHalSetVarGainFactor(const int32_t flags[6]) {
    if (flags == nullptr) {
        record_call("kxHalSetVarGainFactor", {});
        return -1;
    }
    double args[6];
    for (int i = 0; i < 6; ++i) {
        args[i] = flags[i];
    }
    record_call("kxHalSetVarGainFactor", args, 6);
    return 0;
}

}  // extern "C"
