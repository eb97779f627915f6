/* Rigid-body dynamics blocks of the arm families, their wrappers and the filtered torque arrays. */
#ifndef KXMC_DYNAMICS_MODEL_H
#define KXMC_DYNAMICS_MODEL_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DYNAMICS_MODEL_H */
