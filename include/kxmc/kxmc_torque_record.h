/* Torque record, expected current, collision message ring and static collision check. */
#ifndef KXMC_TORQUE_RECORD_H
#define KXMC_TORQUE_RECORD_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_TORQUE_RECORD_H */
