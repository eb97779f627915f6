/* Drag teach laws: gravity-test laws, drag lock, interference drag, joint impedance. */
#ifndef KXMC_DRAG_TEACH_H
#define KXMC_DRAG_TEACH_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXMC_DRAG_TEACH_H */
