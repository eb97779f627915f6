/* Excitation identification parameter store. */
#ifndef KXMC_IDENTIFICATION_STORE_H
#define KXMC_IDENTIFICATION_STORE_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_IDENTIFICATION_STORE_H */
