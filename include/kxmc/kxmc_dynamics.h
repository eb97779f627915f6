/* Dynamics model and hand-guiding torque. */
#ifndef KXMC_DYNAMICS_H
#define KXMC_DYNAMICS_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DYNAMICS_H */
