/* Everything the library needs from its host: value types, the three records and the host,
 * kinematics, matrix and hardware-layer functions. */
#ifndef KXMC_HOST_H
#define KXMC_HOST_H

#include "kxmc_host_types.h"
#include "kxmc_host_records.h"
#include "kxmc_host_functions.h"

#endif /* KXMC_HOST_H */
