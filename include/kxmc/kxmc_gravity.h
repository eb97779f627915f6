/* Gravity, mounting and end load; rated motor torques. */
#ifndef KXMC_GRAVITY_H
#define KXMC_GRAVITY_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_GRAVITY_H */
