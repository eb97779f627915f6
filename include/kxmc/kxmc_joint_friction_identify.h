/* Single-joint friction identification. */
#ifndef KXMC_JOINT_FRICTION_IDENTIFY_H
#define KXMC_JOINT_FRICTION_IDENTIFY_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_JOINT_FRICTION_IDENTIFY_H */
