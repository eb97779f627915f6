/* Joint identification and the dynamics self-test torque. */
#ifndef KXMC_JOINTID_H
#define KXMC_JOINTID_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_JOINTID_H */
