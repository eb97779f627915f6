/* Dual-encoder collision detection. */
#ifndef KXMC_DUAL_ENCODER_H
#define KXMC_DUAL_ENCODER_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DUAL_ENCODER_H */
