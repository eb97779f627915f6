/* The whole C interface of libkxmcforcetorque. */
#ifndef KXMCFORCETORQUE_H
#define KXMCFORCETORQUE_H

#include "kxmc_host.h"
#include "kxmc_numerics.h"
#include "kxmc_dynamics_model.h"
#include "kxmc_gravity.h"
#include "kxmc_friction.h"
#include "kxmc_dynamics_settings.h"
#include "kxmc_torque_control.h"
#include "kxmc_drag_teach.h"
#include "kxmc_collision_settings.h"
#include "kxmc_dual_encoder.h"
#include "kxmc_collision_check.h"
#include "kxmc_custom_collision.h"
#include "kxmc_torque_record.h"
#include "kxmc_selftest.h"
#include "kxmc_joint_friction_identify.h"
#include "kxmc_curve_fit.h"
#include "kxmc_joint_model.h"
#include "kxmc_force_torque_drag.h"
#include "kxmc_identification_store.h"
#include "kxmc_axle_sensor.h"
#include "kxmc_sensor_processing.h"
#include "kxmc_sensor_settings.h"
#include "kxmc_end_force_drag.h"
#include "kxmc_virtual_wall.h"
#include "kxmc_payload.h"

#endif /* KXMCFORCETORQUE_H */
