/* Numerics toolbox: matrix and vector routines, Jacobians, filters. */
#ifndef KXMC_NUMERICS_H
#define KXMC_NUMERICS_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_NUMERICS_H */
