/* Collision settings, per-model joint speed and acceleration limits. */
#ifndef KXMC_COLLISION_SETTINGS_H
#define KXMC_COLLISION_SETTINGS_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_COLLISION_SETTINGS_H */
