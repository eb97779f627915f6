#include "fuzz_host.hpp"

#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "simhost/kxsimhost.hpp"

namespace kxfuzz {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

constexpr double kSpecialDoubles[] = {
    kNaN,     -kNaN,    kInf,         -kInf,      0.0,     -0.0,     1.0,     -1.0,
    0.5,      2.0,      1e-6,         -1e-6,      DBL_MIN, 4.9e-324, DBL_MAX, -DBL_MAX,
    1e300,    -1e300,   FLT_MAX,      -FLT_MAX,   3.5e38,  2147483648.0, -2147483649.0,
    9.3e18,   -9.3e18,  1e6,          -1e6,       90.0,    -90.0,    180.0,   360.0,
    1000.0,   12000.0,  65536.0,      0.001,      100.0,   -100.0,   1e9};

constexpr int32_t kSpecialInts[] = {0,   1,    2,     3,     4,   5,    6,        7,
                                    8,   9,    10,    11,    12,  19,   20,       49,
                                    50,  99,   100,   101,   199, 200,  255,      256,
                                    799, 800,  999,   1000,  1001, 1440, 2000,    5000,
                                    12000, 12001, 32767, 65535, -1, -2, -100, INT32_MAX,
                                    INT32_MIN, INT32_MIN + 1, INT32_MAX - 1};

// Model codes: every band edge of the model tables and codes in no band.
constexpr uint32_t kModelCodes[] = {0,   1,   2,   3,   4,    50,   100,  101,  102,  103,
                                    104, 200, 201, 202, 203,  300,  301,  302,  303,  400,
                                    401, 402, 500, 501, 600,  601,  700,  701,  702,  703,
                                    704, 800, 801, 900, 901,  902,  903,  904,  1000, 1001,
                                    1100, 1101, 0x7FFFFFFFu, 0xFFFFFFFFu};

// One record region to write into. The large sample arrays are regions of their own, so that
// writes land in the small scalar fields as often as in the big buffers.
struct Region {
    unsigned char *base;
    std::size_t size;
};

unsigned char *bytes(void *p) { return static_cast<unsigned char *>(p); }

Region region(int i) {
    unsigned char *c = bytes(&mcb);
    unsigned char *p = bytes(&mpb);
    switch (i) {
        case 0:
            return {c, offsetof(MotionControlBlock, torqueRecordSamples)};
        case 1:
            return {c + offsetof(MotionControlBlock, torqueRecordSamples),
                    sizeof mcb.torqueRecordSamples};
        case 2:
            return {c + offsetof(MotionControlBlock, torqueRecordFit),
                    offsetof(MotionControlBlock, constForceIlc) -
                        offsetof(MotionControlBlock, torqueRecordFit)};
        case 3:
            return {c + offsetof(MotionControlBlock, constForceIlc), sizeof mcb.constForceIlc};
        case 4:
            return {c + offsetof(MotionControlBlock, constForceOffset),
                    offsetof(MotionControlBlock, loadIdentifyWeightSamples) -
                        offsetof(MotionControlBlock, constForceOffset)};
        case 5:
            return {c + offsetof(MotionControlBlock, loadIdentifyWeightSamples),
                    sizeof mcb - offsetof(MotionControlBlock, loadIdentifyWeightSamples)};
        case 6:
            return {p, offsetof(MotionParamBlock, workpieceFrameTable)};
        case 7:
            return {p + offsetof(MotionParamBlock, workpieceFrameTable),
                    sizeof mpb.workpieceFrameTable};
        default:
            return {bytes(&how), sizeof how};
    }
}
constexpr int kRegions = 9;

// The fields that select the library's paths: modes, flags, states, counts and indices.
struct Control {
    void *field;
    unsigned size;
};

const Control kControls[] = {
    {&mcb.robotModelCode, 4},        {&mcb.faultCode, 4},
    {&mcb.safetyCode, 4},            {&mcb.installPos, 1},
    {&mcb.newTeachEnable, 1},        {&mcb.frictionCompOn, 1},
    {&mcb.fricJointStiffnessType, 4}, {&mcb.powerFlag, 1},
    {&mcb.powerCheckOn, 1},          {&mcb.speedMode, 1},
    {&mcb.dragLockOn, 1},            {&mcb.interfereDragMode, 1},
    {&mcb.collisionPauseFlag, 1},    {&mcb.collisionSafeTime, 4},
    {&mcb.collisionState, 1},        {&mcb.collisionCheckMode, 1},
    {&mcb.staticCollisionOn, 1},     {&mcb.collisionNoStop, 1},
    {&mcb.customCollisionMode, 1},   {&mcb.tcpSpeedOverDragState, 1},
    {&mcb.torqueRecordEnable, 1},    {&mcb.torqueRecordRun, 1},
    {&mcb.torqueRecordApply, 1},     {&mcb.torqueRecordSmooth, 1},
    {&mcb.torqueRecordLength, 4},    {&mcb.forceTorqueDragOn, 4},
    {&mcb.impedanceSign, 4},         {&mcb.endForceDragOn, 4},
    {&mcb.forceSensorAct, 1},        {&mcb.forceSensorState, 1},
    {&mcb.forceSensorRefCoord, 1},   {&mcb.interfereOn, 1},
    {&mcb.interfereType, 1},         {&mcb.loadIdentifyOn, 1},
    {&mcb.loadIdentifyCycle, 4},     {&mcb.loadIdentifyWeightCount, 4},
    {&mcb.loadIdentifyCoordCount, 4}, {&mcb.loadIdentifyDynOn, 1},
    {&mcb.loadIdentifyTime, 4},      {&mpb.robotState, 4},
    {&mpb.jointNum, 4},              {&mpb.cmdId, 4},
    {&mpb.segmentStep, 4},           {&mpb.segmentSteps, 4},
    {&mpb.motionType, 4},            {&mpb.loadNum, 1},
    {&mpb.collisionCountLimit, 4},   {&mpb.collisionCounter[0], 4},
    {&mpb.collisionCounter[1], 4},   {&mpb.collisionCounter[2], 4},
    {&mpb.collisionMode, 1},         {&mpb.collisionThresholdMode, 1},
    {&mpb.interfereZoneState, 1},    {&mpb.interfereDragState, 1},
    {&mpb.axleSensorEnable, 1},      {&mpb.axleSensorState, 1},
};

template <class T>
T pick(FuzzedDataProvider &in, const T *table, std::size_t n) {
    return table[in.ConsumeIntegralInRange<std::size_t>(0, n - 1)];
}

template <class T>
void store(unsigned char *at, T value) {
    std::memcpy(at, &value, sizeof value);
}

std::string g_root;

void remove_root() {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
}

}  // namespace

void initialize() {
    const char *shm = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    g_root = std::string(shm) + "/kxmc-fuzz-" + std::to_string(::getpid());
    kxsim::set_config_root(g_root);
    std::atexit(remove_root);
}

double any_double(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return pick(in, kSpecialDoubles, std::size(kSpecialDoubles));
        case 1: {
            uint64_t raw = in.ConsumeIntegral<uint64_t>();
            double x;
            std::memcpy(&x, &raw, sizeof x);
            return x;
        }
        case 2:
            return in.ConsumeFloatingPointInRange<double>(-200.0, 200.0);
        default:
            return static_cast<double>(in.ConsumeIntegralInRange<int32_t>(-2000, 2000));
    }
}

float any_float(FuzzedDataProvider &in) {
    if (in.ConsumeBool()) {
        uint32_t raw = in.ConsumeIntegral<uint32_t>();
        float x;
        std::memcpy(&x, &raw, sizeof x);
        return x;
    }
    const double x = any_double(in);
    // The conversion itself must not be undefined: beyond the float range goes to infinity.
    if (std::isfinite(x) && std::fabs(x) > FLT_MAX) {
        return x > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(x);
}

int32_t any_int(FuzzedDataProvider &in) {
    if (in.ConsumeBool()) {
        return pick(in, kSpecialInts, std::size(kSpecialInts));
    }
    return in.ConsumeIntegral<int32_t>();
}

uint32_t any_model_code(FuzzedDataProvider &in) {
    if (in.ConsumeIntegralInRange<int>(0, 3) != 0) {
        return pick(in, kModelCodes, std::size(kModelCodes));
    }
    return in.ConsumeIntegral<uint32_t>();
}

uint8_t any_byte(FuzzedDataProvider &in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(0, 7)
                            : in.ConsumeIntegral<uint8_t>();
}

Trsf any_trsf(FuzzedDataProvider &in) {
    Trsf t{};
    fill(in, t.rot.r);
    fill(in, t.pos.v);
    return t;
}

void start_host(FuzzedDataProvider &in) {
    kxsim::load_defaults(any_model_code(in));
    kxsim::set_recording(false);
    kxsim::clear_collision_ratio();
    const float zero6[6] = {0, 0, 0, 0, 0, 0};
    kxsim::set_velocity_feedforward(zero6);
    kxsim::set_axle_din(0);
    const int32_t zero_words[6] = {0, 0, 0, 0, 0, 0};
    kxsim::set_joint_identification_data(zero_words);
    kxsim::set_single_joint_identify(0, 0, 0);
    kxsim::set_quaternion_sign(1);
    kxsim::clear_robot_pos();
    kxsim::set_cycle(0);
    // Write_Log appends to the log file on every call: keep it from growing without bound.
    static unsigned inputs = 0;
    if (++inputs % 1024 == 0) {
        if (std::FILE *f = std::fopen(kxsim::log_file().c_str(), "w")) {
            std::fclose(f);
        }
    }
}

void poke_record(FuzzedDataProvider &in) {
    const Region r = region(in.ConsumeIntegralInRange<int>(0, kRegions - 1));
    std::size_t offset = in.ConsumeIntegralInRange<std::size_t>(0, r.size - 1);
    const int kind = in.ConsumeIntegralInRange<int>(0, 4);
    static constexpr std::size_t kSize[] = {1, 2, 4, 4, 8};
    const std::size_t size = kSize[kind];
    // Fields are naturally aligned (the records themselves are aligned to 8 bytes).
    uintptr_t at = reinterpret_cast<uintptr_t>(r.base + offset);
    at -= at % size;
    if (at < reinterpret_cast<uintptr_t>(r.base)) {
        at += size;
    }
    if (at + size > reinterpret_cast<uintptr_t>(r.base + r.size)) {
        return;
    }
    unsigned char *p = reinterpret_cast<unsigned char *>(at);
    switch (kind) {
        case 0:
            store(p, static_cast<uint8_t>(any_int(in)));
            break;
        case 1:
            store(p, static_cast<int16_t>(any_int(in)));
            break;
        case 2:
            store(p, any_int(in));
            break;
        case 3:
            store(p, any_float(in));
            break;
        default:
            store(p, any_double(in));
            break;
    }
}

void poke_control(FuzzedDataProvider &in) {
    const Control &c =
        kControls[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kControls) - 1)];
    const int32_t value = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 7) : any_int(in);
    unsigned char *p = bytes(c.field);
    if (c.field == &mcb.robotModelCode) {
        store(p, any_model_code(in));
    } else if (c.size == 1) {
        store(p, static_cast<uint8_t>(value));
    } else {
        store(p, value);
    }
}

void poke_service(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: {
            float ff[6];
            fill(in, ff);
            kxsim::set_velocity_feedforward(ff);
            break;
        }
        case 1: {
            float ratio[6];
            fill(in, ratio);
            kxsim::set_collision_ratio(ratio);
            break;
        }
        case 2:
            kxsim::clear_collision_ratio();
            break;
        case 3:
            kxsim::set_axle_din(in.ConsumeIntegral<uint16_t>());
            break;
        case 4: {
            int32_t words[6];
            fill(in, words);
            kxsim::set_joint_identification_data(words);
            break;
        }
        case 5:
            kxsim::set_single_joint_identify(any_int(in), any_int(in), any_int(in));
            break;
        case 6:
            kxsim::set_quaternion_sign(in.ConsumeBool() ? 1 : -1);
            break;
        default: {
            if (in.ConsumeBool()) {
                kxsim::clear_robot_pos();
            } else {
                double pose[6];
                fill(in, pose);
                kxsim::set_robot_pos(pose);
            }
            break;
        }
    }
}

void poke_any(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
        case 1:
            poke_record(in);
            break;
        case 2:
            poke_control(in);
            break;
        default:
            poke_service(in);
            break;
    }
}

void poke(FuzzedDataProvider &in, int & /*budget*/) { poke_any(in); }

void advance_cycle() {
    for (int j = 0; j < KXMC_JOINTS; ++j) {
        mpb.prevJointPos[j] = mpb.jointPos[j];
        const double next = mpb.jointPos[j] + mpb.actualJointVel[j];
        if (std::isfinite(next)) {
            mpb.jointPos[j] = next;
        }
    }
    kxsim::set_cycle(kxsim::cycle() + 1);
}

int cycles_for_step(FuzzedDataProvider &in, int &budget) {
    if (budget <= 0) {
        return 0;
    }
    const int n = in.ConsumeIntegralInRange<int>(1, kMaxCyclesPerStep);
    const int cycles = n < budget ? n : budget;
    budget -= cycles;
    return cycles;
}

}  // namespace kxfuzz

// Every harness starts its process the same way.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    kxfuzz::initialize();
    return 0;
}
