/* Dynamics self-test torque: inverse dynamics in regressor form for the arm families. */
#ifndef KXMC_SELFTEST_H
#define KXMC_SELFTEST_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_SELFTEST_H */
