/* End-of-arm device bus: the queue of device words, the device status word and the call that
 * declares which end device is fitted. */
#ifndef KXMC_AXLE_SENSOR_H
#define KXMC_AXLE_SENSOR_H

#include <stdint.h>

#include "kxmc_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One queued device word: two 32-bit words, kept and handed back exactly as given. */
typedef struct AxleSensorElement {
    uint32_t word[2];
} AxleSensorElement;

#define KXMC_ASQ_SLOTS 256

/*
 * Ring of device words with one producer (axleSensorDataAddToBuff) and one consumer
 * (qmcGetAxleSensorData). head is the next slot to read and is written only by the consumer,
 * tail the next slot to write and is written only by the producer; both advance modulo 256.
 * Empty: head == tail. Full: (tail + 1) mod 256 == head, so at most 255 elements are held.
 * Indices found outside 0..255 (a stray write into this exported object) are taken modulo
 * 256, so no access ever leaves the slots.
 */
typedef struct AxleSensorQueue {
    AxleSensorElement slot[KXMC_ASQ_SLOTS];
    int32_t head;
    int32_t tail;
} AxleSensorQueue;

KXMC_API extern AxleSensorQueue asq;

/* 1 while the fitted end device is a force/torque sensor (bit 0 of the device type). */
KXMC_API extern uint8_t forcesensorFlag;

/* ==== Queue ================================================================================ */

/* Empties the queue (head = tail = 0). Return 1. */
KXMC_API int32_t qmcAsqInit(void);
KXMC_API int32_t qmcAsqClear(void);
/* Queued elements, 0..255. */
KXMC_API int32_t qmcAsqLength(void);
/* 1 when empty / full, else 0. */
KXMC_API int32_t qmcAsqIsEmpty(void);
KXMC_API int32_t qmcAsqIsFull(void);
/* Appends (word0, word1). A full queue prints "The cmd queue is full!!!" on standard output
 * and returns -1 with nothing stored; otherwise 0. */
KXMC_API int32_t qmcAsqAddToTail(uint32_t word0, uint32_t word1);
/* Takes the oldest element into *out: 0, or -1 when the queue is empty (or out is null). */
KXMC_API int32_t qmcAsqGetAtHead(AxleSensorElement *out);

/* ==== Producer and consumer calls of the host ============================================== */

/* Producer: queues the element while mcb.axleSensorBuffFlag is 1; with any other flag the
 * queue is emptied and the element dropped. A null element is dropped. Returns 0. */
KXMC_API int32_t axleSensorDataAddToBuff(const AxleSensorElement *element);
/* Consumer: -1 when the queue is full (an overflow report; nothing is taken), -2 when it is
 * empty (or out is null), else the oldest element is taken into *out and 0 returned. */
KXMC_API int32_t qmcGetAxleSensorData(AxleSensorElement *out);
/* mcb.axleSensorBuffFlag = flag. Returns 0. */
KXMC_API int32_t qmcAxleSensorDataBuffFlag(uint8_t flag);
/* enable 0 or 1: mpb.axleSensorEnable = enable, 0; any other value: -1, nothing written. */
KXMC_API int32_t qmcAxleSensorEnable(uint8_t enable);
/* Decodes the device status word: mpb.axleSensorState = bits 24..27; mpb.axleSensorCode7 =
 * bits 16..23 when the state is 7, else 0; mpb.axleSensorCode8 likewise for state 8.
 * Returns 0 (-1 with nothing written for a null pointer). */
KXMC_API int32_t axleSensorDataMonitor(const uint32_t *status);
/* Hands the six register values unchanged, in order, to kxHalSetAxleSensorData. Returns 0. */
KXMC_API int32_t qmcAxleSensorRegWrite(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t e,
                                       uint16_t f);
/*
 * Declares the fitted end device: forcesensorFlag = bit 0 of type, the whole type goes to
 * kxHalEnableAxleDeviceType. Sensor processing is switched on (qmcSetForceSensorAct(1, 0),
 * logged "qmcSetForceSensorAct = 1") when a force sensor replaces another device and off when
 * it is removed ("qmcSetForceSensorAct = 0"); while the device stays the same, the user's own
 * setting of the processing is left alone. Returns 0.
 */
KXMC_API int32_t kxmcSetAxleDeviceType(uint8_t type);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_AXLE_SENSOR_H */
