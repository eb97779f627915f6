/* Per-cycle collision check and its shared state with the torque cycle. */
#ifndef KXMC_COLLISION_CHECK_H
#define KXMC_COLLISION_CHECK_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_COLLISION_CHECK_H */
