/* Friction laws of the five motor sizes and friction compensation. */
#ifndef KXMC_FRICTION_H
#define KXMC_FRICTION_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_FRICTION_H */
