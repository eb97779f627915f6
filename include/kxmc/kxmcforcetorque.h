/* The whole C interface of libkxmcforcetorque. */
#ifndef KXMCFORCETORQUE_H
#define KXMCFORCETORQUE_H

#include "kxmc_host.h"
#include "kxmc_numerics.h"
#include "kxmc_dynamics.h"
#include "kxmc_collision.h"
#include "kxmc_jointid.h"

#endif /* KXMCFORCETORQUE_H */
