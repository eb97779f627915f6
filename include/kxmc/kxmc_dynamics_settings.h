/* Torque-model and hand-guiding settings, drag power limit, vibration abatement, filter reset. */
#ifndef KXMC_DYNAMICS_SETTINGS_H
#define KXMC_DYNAMICS_SETTINGS_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DYNAMICS_SETTINGS_H */
