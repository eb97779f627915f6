/* Per-cycle torque feed-forward. */
#ifndef KXMC_TORQUE_CONTROL_H
#define KXMC_TORQUE_CONTROL_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_TORQUE_CONTROL_H */
