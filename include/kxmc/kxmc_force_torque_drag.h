/* Force-and-torque hand guiding from the wrist sensor. */
#ifndef KXMC_FORCE_TORQUE_DRAG_H
#define KXMC_FORCE_TORQUE_DRAG_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_FORCE_TORQUE_DRAG_H */
