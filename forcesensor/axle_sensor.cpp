// The end-of-arm device bus: a ring of device words between the host's receiving thread
// (producer) and its consumer, the decoding of the device's status word and the declaration of
// the fitted end device, which switches the force-sensor processing with it.
//
// The ring takes no lock: the producer alone writes tail, the consumer alone writes head, each
// with one aligned 32-bit store after the slot it covers is complete (release), and each side
// reads the other's index before touching a slot (acquire).
#include "kxmc/kxmc_axle_sensor.h"

#include <atomic>
#include <cstdio>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_sensor_settings.h"

extern "C" {
AxleSensorQueue asq;
uint8_t forcesensorFlag = 0;
}

namespace {

constexpr uint32_t kSlots = KXMC_ASQ_SLOTS;

uint8_t forceSensorActflag = 0;  // this module has switched the processing on itself

// Status word of the end device: state in bits 24..27, a state's detail code in bits 16..23.
constexpr uint8_t kStateWithCode7 = 7;
constexpr uint8_t kStateWithCode8 = 8;

// Index of the ring taken modulo the slot count, whatever was stored in the exported object.
uint32_t load_index(const int32_t &index) noexcept {
    const int32_t v = *static_cast<const volatile int32_t *>(&index);
    std::atomic_thread_fence(std::memory_order_acquire);
    return static_cast<uint32_t>(v) % kSlots;
}

void store_index(int32_t &index, uint32_t value) noexcept {
    std::atomic_thread_fence(std::memory_order_release);
    *static_cast<volatile int32_t *>(&index) = static_cast<int32_t>(value % kSlots);
}

uint32_t next(uint32_t index) noexcept { return (index + 1u) % kSlots; }

bool is_full() noexcept { return next(load_index(asq.tail)) == load_index(asq.head); }

}  // namespace

extern "C" {

int32_t qmcAsqInit(void) {
    store_index(asq.head, 0);
    store_index(asq.tail, 0);
    return 1;
}

int32_t qmcAsqClear(void) { return qmcAsqInit(); }

int32_t qmcAsqLength(void) {
    const uint32_t head = load_index(asq.head);
    const uint32_t tail = load_index(asq.tail);
    return static_cast<int32_t>((tail + kSlots - head) % kSlots);
}

int32_t qmcAsqIsEmpty(void) { return load_index(asq.head) == load_index(asq.tail) ? 1 : 0; }

int32_t qmcAsqIsFull(void) { return is_full() ? 1 : 0; }

int32_t qmcAsqAddToTail(uint32_t word0, uint32_t word1) {
    const uint32_t tail = load_index(asq.tail);
    if (next(tail) == load_index(asq.head)) {
        std::puts("The cmd queue is full!!!");
        return -1;
    }
    asq.slot[tail].word[0] = word0;
    asq.slot[tail].word[1] = word1;
    store_index(asq.tail, next(tail));
    return 0;
}

int32_t qmcAsqGetAtHead(AxleSensorElement *out) {
    const uint32_t head = load_index(asq.head);
    if (out == nullptr || head == load_index(asq.tail)) {
        return -1;
    }
    *out = asq.slot[head];
    store_index(asq.head, next(head));
    return 0;
}

int32_t axleSensorDataAddToBuff(const AxleSensorElement *element) {
    if (mcb.axleSensorBuffFlag != 1) {
        qmcAsqClear();
        return 0;
    }
    if (element != nullptr) {
        qmcAsqAddToTail(element->word[0], element->word[1]);
    }
    return 0;
}

int32_t qmcGetAxleSensorData(AxleSensorElement *out) {
    // A full ring means words were lost: the consumer is told so instead of being served.
    if (is_full()) {
        return -1;
    }
    return qmcAsqGetAtHead(out) == 0 ? 0 : -2;
}

int32_t qmcAxleSensorDataBuffFlag(uint8_t flag) {
    mcb.axleSensorBuffFlag = flag;
    return 0;
}

int32_t qmcAxleSensorEnable(uint8_t enable) {
    if (enable > 1) {
        return -1;
    }
    mpb.axleSensorEnable = enable;
    return 0;
}

int32_t axleSensorDataMonitor(const uint32_t *status) {
    if (status == nullptr) {
        return -1;
    }
    const uint32_t w = *status;
    const uint8_t state = static_cast<uint8_t>((w >> 24) & 0xFu);
    const uint8_t code = static_cast<uint8_t>((w >> 16) & 0xFFu);
    mpb.axleSensorState = state;
    mpb.axleSensorCode7 = state == kStateWithCode7 ? code : 0;
    mpb.axleSensorCode8 = state == kStateWithCode8 ? code : 0;
    return 0;
}

int32_t qmcAxleSensorRegWrite(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t e,
                              uint16_t f) {
    kxHalSetAxleSensorData(a, b, c, d, e, f);
    return 0;
}

int32_t kxmcSetAxleDeviceType(uint8_t type) {
    forcesensorFlag = static_cast<uint8_t>(type & 1u);
    kxHalEnableAxleDeviceType(type);
    if (forcesensorFlag == 1 && forceSensorActflag == 0) {
        Write_Log(2, "qmcSetForceSensorAct = 1");
        qmcSetForceSensorAct(1, 0);
        forceSensorActflag = 1;
    } else if (forcesensorFlag == 0 && forceSensorActflag == 1) {
        Write_Log(2, "qmcSetForceSensorAct = 0");
        qmcSetForceSensorAct(0, 0);
        forceSensorActflag = 0;
    }
    return 0;
}

}  // extern "C"
