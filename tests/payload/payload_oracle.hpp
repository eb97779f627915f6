// Test oracle of the payload identifications: the simulated host's arm (its kinematic geometry
// and the standard link masses of the model) with a point payload on the flange, in Orocos
// KDL, an implementation independent of this library.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>

#include "dynamics/arm_parameters.hpp"
#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "simhost/kxsimhost.hpp"

namespace kxpayload {

using Vec3 = std::array<double, 3>;
constexpr double kG = 9.81;  // gravity of the oracle's world [m/s^2]

class Arm {
public:
    // Payload of mass m [kg] with its centre at c [mm] in the flange frame.
    Arm(uint32_t code, double m, const Vec3 &c) {
        const kxsim::ArmGeometry g = kxsim::arm_geometry(code);
        const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(code);
        for (int i = 0; i < 6; ++i) {
            const float *ci = p.centres + 3 * i;
            KDL::RigidBodyInertia body(p.masses[i], KDL::Vector(ci[0], ci[1], ci[2]) * 1e-3);
            if (i == 5) body = body + KDL::RigidBodyInertia(m, KDL::Vector(c[0], c[1], c[2]) * 1e-3);
            chain_.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ), KDL::Frame::DH(g.a[i], g.alpha[i], g.d[i], 0), body));
        }
    }
    // Joint torques [N m] that hold the arm at q [deg].
    std::array<double, 6> holding_torque(const double q[6]) const {
        KDL::JntArray t(6);
        KDL::ChainDynParam(chain_, KDL::Vector(0, 0, -kG)).JntToGravity(joints(q), t);
        return {t(0), t(1), t(2), t(3), t(4), t(5)};
    }
    // Flange pose in the base frame (rotation row-major, position [mm]).
    Trsf flange(const double q[6]) const {
        KDL::Frame f;
        KDL::ChainFkSolverPos_recursive(chain_).JntToCart(joints(q), f);
        Trsf t{};
        for (int i = 0; i < 12; ++i) (i < 9 ? t.rot.r[i] : t.pos.v[i - 9]) = i < 9 ? f.M.data[i] : f.p[i - 9] * 1000;
        return t;
    }

private:
    static KDL::JntArray joints(const double q[6]) {
        KDL::JntArray j(6);
        for (int i = 0; i < 6; ++i) j(i) = q[i] * M_PI / 180.0;
        return j;
    }
    KDL::Chain chain_;
};

}  // namespace kxpayload
