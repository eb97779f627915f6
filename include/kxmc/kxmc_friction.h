/* Friction laws of the five motor sizes and friction compensation. */
#ifndef KXMC_FRICTION_H
#define KXMC_FRICTION_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Friction law of one motor size at joint velocity v [deg/ms]: a low-speed parameter set for
 * |v| < 0.01, a high-speed set otherwise. Result: joint friction torque [N m]; 0 for a
 * velocity that is not finite. The size-32 law returns 0 for |v| < 0.001.
 */
KXMC_API double joint40FrictionCalculate_deadzone(double v);
KXMC_API double joint32FrictionCalculate_deadzone(double v);
KXMC_API double joint25FrictionCalculate_deadzone(double v);
KXMC_API double joint17FrictionCalculate_deadzone(double v);
KXMC_API double joint14FrictionCalculate_deadzone(double v);

/*
 * The same laws scaled by the drag gain of the set and direction in use: forDead (low set,
 * v > 0), revDead (low set, v <= 0), forFast (high set, v > 0), revFast (high set, v <= 0).
 * The size-32 form has no dead band.
 */
KXMC_API double joint40FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                                       double forFast, double revFast);
KXMC_API double joint32FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                                       double forFast, double revFast);
KXMC_API double joint25FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                                       double forFast, double revFast);
KXMC_API double joint17FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                                       double forFast, double revFast);
KXMC_API double joint14FrictionCalculate_deadzone_DRAG(double v, double forDead, double revDead,
                                                       double forFast, double revFast);

/*
 * Friction torque of the joints of the arm in mcb.robotModelCode.
 * velocities: mpb.jointNum joint velocities [deg/ms]; out: 6 torques [N m] (joints beyond
 * mpb.jointNum give 0). A velocity above four times the joint's maximum speed, or not a
 * number, makes every output 0 and logs the joint state. Returns 0.
 */
KXMC_API int32_t frictionCompensation(const double velocities[6], double out[6]);

/*
 * Friction law from an identified parameter vector: two sets of five (Coulomb level, static
 * level, vs [rad/s], k, b), the first for |omega| <= 0.018 rad/s. v [deg/ms]. Result [N m];
 * 0 for a velocity that is not finite.
 */
KXMC_API float frictionCalculate(const float params[10], float v);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_FRICTION_H */
