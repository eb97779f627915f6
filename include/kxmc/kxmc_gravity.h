/* Gravity, mounting and end load; rated motor torques. */
#ifndef KXMC_GRAVITY_H
#define KXMC_GRAVITY_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Static gravity torque of the standard arm chain (zero velocity and acceleration) for any
 * gravity direction: the joint torques [N m] that hold the arm and its payload.
 * lengths: d1, a2, a3, d4, d5, d6 [mm]; masses: links 1-6 [kg]; centres: 18 values, x, y, z of
 * each link's centre of mass in its own link frame [mm]; payload: mass [kg], centre x, y, z in
 * the flange frame [mm], then six inertia values (not used: a static load needs none);
 * gravity: base-frame acceleration [m/s^2] (floor mounting (0, 0, -9.8)); jointPos [deg];
 * out: 6 torques [N m]. The payload is merged into link 6. Returns 0.
 */
KXMC_API int kxmcInvGravity(const double *lengths, const double *masses, const double *centres,
                            const double *payload, const double *gravity, const double *jointPos,
                            double *out);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_GRAVITY_H */
