// The dynamics blocks against Orocos KDL's recursive Newton-Euler solver and its joint-space
// dynamic parameters, an implementation independent of this library.
#include <gtest/gtest.h>

#include <cmath>

#include "cases.hpp"
#include "family_sets.hpp"
#include "kxmc/kxmc_dynamics_model.h"

#ifdef KXMC_HAVE_KDL
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <kdl/frames.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/jntspaceinertiamatrix.hpp>
#endif

namespace {

using namespace kxtest;

#ifdef KXMC_HAVE_KDL

// KDL chain of a reference arm: one RotZ joint per DH link, the bodies of each frame summed
// into the segment's inertia (KDL expresses it in the segment's tip frame, i.e. DH frame i).
KDL::Chain kdl_chain(const RefArm &arm) {
    KDL::Chain chain;
    for (int i = 0; i < 6; ++i) {
        KDL::RigidBodyInertia inertia = KDL::RigidBodyInertia::Zero();
        for (const Body &b : arm.bodies) {
            if (b.frame != i + 1) continue;
            inertia = inertia + KDL::RigidBodyInertia(
                                    b.m, KDL::Vector(b.c[0], b.c[1], b.c[2]),
                                    KDL::RotationalInertia(b.I[0], b.I[3], b.I[5], b.I[1], b.I[2], b.I[4]));
        }
        chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                      KDL::Frame::DH(arm.a[i], arm.alpha[i], arm.d[i], 0.0), inertia));
    }
    return chain;
}

struct KdlResult {
    Vec6 tau;  // RNE torque plus rotor * qdd
    Mat6 M;    // JntToMass plus rotors
    Vec6 coriolis, gravity;
};

KdlResult kdl_dynamics(const RefArm &arm, const double *theta, const double *rate,
                       const double *accel, const double *g) {
    const KDL::Chain chain = kdl_chain(arm);
    const KDL::Vector gravity(g[0], g[1], g[2]);
    KDL::ChainIdSolver_RNE rne(chain, gravity);
    KDL::ChainDynParam dyn(chain, gravity);
    KDL::JntArray q(6), qd(6), qdd(6), torque(6), cor(6), grav(6);
    for (int i = 0; i < 6; ++i) {
        q(i) = theta[i];
        qd(i) = rate[i];
        qdd(i) = accel[i];
    }
    KDL::Wrenches ext(chain.getNrOfSegments(), KDL::Wrench::Zero());
    KDL::JntSpaceInertiaMatrix H(6);
    EXPECT_GE(rne.CartToJnt(q, qd, qdd, ext, torque), 0);
    EXPECT_GE(dyn.JntToMass(q, H), 0);
    EXPECT_GE(dyn.JntToCoriolis(q, qd, cor), 0);
    EXPECT_GE(dyn.JntToGravity(q, grav), 0);
    KdlResult r{};
    for (int i = 0; i < 6; ++i) {
        r.tau[i] = torque(i) + arm.rotor[i] * accel[i];
        r.coriolis[i] = cor(i);
        r.gravity[i] = grav(i);
        for (int j = 0; j < 6; ++j) r.M[6 * i + j] = H(i, j) + (i == j ? arm.rotor[i] : 0.0);
    }
    return r;
}

// Default set, single-precision block: 1e-3 relative to the largest torque of the state.
TEST(KdlOracle, StandardBlockMatchesKdlForTheDefaultSet) {
    const auto &p = kxmc::standard_arm_parameters(0);
    Random rng(900);
    for (int n = 0; n < 1000; ++n) {
        const State s = random_state(rng, 5);
        float q[6], qd[6], qdd[6], payload[10], g[3];
        for (int i = 0; i < 6; ++i) {
            q[i] = float(s.q[i]);
            qd[i] = float(s.qd[i]);
            qdd[i] = float(s.qdd[i]);
        }
        for (int i = 0; i < 10; ++i) payload[i] = float(s.payload[i]);
        for (int i = 0; i < 3; ++i) g[i] = float(s.gravity[i]);
        float tau[6], ts[6], M[36], C[36];
        ASSERT_EQ(qmckxdynamicblock(p.lengths, q, qd, qdd, payload, p.masses, p.centres, p.inertias,
                                    p.rotor, g, tau, ts, M, C),
                  0);
        double theta[6], rate[6], accel[6], gd[3] = {g[0], g[1], g[2]};
        for (int i = 0; i < 6; ++i) {
            theta[i] = q[i] * 0.017453292f;
            rate[i] = qd[i] * 0.017453292f;
            accel[i] = qdd[i] * 0.017453292f;
        }
        const RefArm arm = standard_arm<float>(p.lengths, p.masses, p.centres, p.inertias, p.rotor, payload);
        const KdlResult k = kdl_dynamics(arm, theta, rate, accel, gd);
        const double tscale = max_abs(k.tau.data(), 6);
        const double mscale = max_abs(k.M.data(), 36);
        const double gscale = max_abs(k.gravity.data(), 6) + 1e-3;
        const double cscale = max_abs(k.coriolis.data(), 6) + 1e-3;
        for (int i = 0; i < 6; ++i) {
            ASSERT_NEAR(tau[i], k.tau[i], 1e-3 * tscale) << "state " << n << " joint " << i;
            ASSERT_NEAR(ts[i], k.gravity[i], 1e-3 * gscale) << "state " << n;
            double cq = 0;
            for (int j = 0; j < 6; ++j) {
                cq += C[6 * i + j] * rate[j];
                ASSERT_NEAR(M[6 * i + j], k.M[6 * i + j], 1e-4 * mscale) << "state " << n;
            }
            ASSERT_NEAR(cq, k.coriolis[i], 1e-3 * cscale) << "state " << n;
        }
    }
}

TEST(KdlOracle, TzAndPxBlocksMatchKdl) {
    Random rng(901);
    for (int family = 0; family < 2; ++family) {
        SCOPED_TRACE(family == 0 ? "TZ" : "PX");
        for (int n = 0; n < 1000; ++n) {
            const State s = random_state(rng, family == 0 ? 3 : 10);
            Vec6 tau{};
            RefArm arm;
            if (family == 0) {
                ASSERT_EQ(qmckxTZdynamicblock(kTzLengths, s.q, s.qd, s.qdd, s.payload, kTzMasses,
                                              kTzCentres, kTzInertias, kTzRotor, s.gravity, tau.data()),
                          0);
                arm = tz_reference(kTzCentres, s.payload);
            } else {
                ASSERT_EQ(qmcPXkx10dynamicblock(kPxLengths, s.q, s.qd, s.qdd, s.payload, kPxRotor,
                                                s.gravity, tau.data()),
                          0);
                arm = px_reference(s.payload);
            }
            double theta[6], rate[6], accel[6];
            to_block_radians(s.q, theta);
            to_block_radians(s.qd, rate);
            to_block_radians(s.qdd, accel);
            const KdlResult k = kdl_dynamics(arm, theta, rate, accel, s.gravity);
            const double scale = max_abs(k.tau.data(), 6) + 1.0;
            for (int i = 0; i < 6; ++i) ASSERT_NEAR(tau[i], k.tau[i], 1e-10 * scale) << "state " << n;
        }
    }
}

#else

TEST(KdlOracle, NotAvailable) { GTEST_SKIP() << "Orocos KDL not found"; }

#endif

}  // namespace
