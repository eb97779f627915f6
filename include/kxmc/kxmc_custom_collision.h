/* Dynamic residual allowance, custom joint and TCP collision limits, status getters. */
#ifndef KXMC_CUSTOM_COLLISION_H
#define KXMC_CUSTOM_COLLISION_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_CUSTOM_COLLISION_H */
