// Dynamics blocks per call, side by side with Orocos KDL's solvers on the same arm and state:
// the standard block (torque, static torque, mass and Coriolis matrices in one call) against
// KDL's ChainIdSolver_RNE plus ChainDynParam's JntToMass, JntToCoriolis and JntToGravity.
#include <benchmark/benchmark.h>

#include <cmath>

#include "dynamics/arm_parameters.hpp"
#include "kxmc/kxmc_dynamics_model.h"
#include "kxmc/kxmc_gravity.h"

#ifdef KXMC_HAVE_KDL
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/jntspaceinertiamatrix.hpp>
#endif

namespace {

// A representative moving state of the 5-kg arm, tilted mounting, 3 kg payload.
constexpr double kQ[6] = {12.5, -47.0, 73.2, -110.4, 35.7, 160.1};      // [deg]
constexpr double kQd[6] = {40.0, -25.0, 60.0, 90.0, -70.0, 120.0};      // [deg/s]
constexpr double kQdd[6] = {150.0, -80.0, 200.0, -300.0, 250.0, 400.0};  // [deg/s^2]
constexpr double kPayload[10] = {3.0, 10.0, -20.0, 60.0, 0, 0, 0, 0, 0, 0};
constexpr double kGravity[3] = {-3.3517, 0.0, -9.2091};  // 20 deg tilt [m/s^2]

void BM_StandardBlock(benchmark::State &state) {
    const auto &p = kxmc::standard_arm_parameters(0);
    float q[6], qd[6], qdd[6], payload[10], g[3];
    for (int i = 0; i < 6; ++i) {
        q[i] = float(kQ[i]);
        qd[i] = float(kQd[i]);
        qdd[i] = float(kQdd[i]);
    }
    for (int i = 0; i < 10; ++i) payload[i] = float(kPayload[i]);
    for (int i = 0; i < 3; ++i) g[i] = float(kGravity[i]);
    float tau[6], ts[6], M[36], C[36];
    for (auto _ : state) {
        benchmark::DoNotOptimize(q);
        qmckxdynamicblock(p.lengths, q, qd, qdd, payload, p.masses, p.centres, p.inertias, p.rotor,
                          g, tau, ts, M, C);
        benchmark::DoNotOptimize(tau);
        benchmark::DoNotOptimize(C);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_StandardBlock);

void BM_OutputMCG(benchmark::State &state) {
    const auto &p = kxmc::standard_arm_parameters(0);
    double centres[18];
    for (int i = 0; i < 18; ++i) centres[i] = p.centres[i];
    double M[36], C[36], G[6];
    for (auto _ : state) {
        benchmark::DoNotOptimize(centres);
        output_MCG(kQ, kQd, centres, kPayload[0], &kPayload[1], M, C, G);
        benchmark::DoNotOptimize(M);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_OutputMCG);

void BM_InvGravity(benchmark::State &state) {
    const auto &p = kxmc::standard_arm_parameters(0);
    double L[6], m[6], c[18], out[6];
    for (int i = 0; i < 6; ++i) {
        L[i] = p.lengths[i];
        m[i] = p.masses[i];
    }
    for (int i = 0; i < 18; ++i) c[i] = p.centres[i];
    for (auto _ : state) {
        benchmark::DoNotOptimize(L);
        kxmcInvGravity(L, m, c, kPayload, kGravity, kQ, out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_InvGravity);

void BM_TZBlock(benchmark::State &state) {
    const double lengths[6] = {140, -420, 12, 360, 102, 100};
    const double masses[6] = {2.26, 4.53, 1.56, 1.97, 1.56, 0.35};
    const double centres[36] = {};
    const double inertias[30] = {3015.96, -11.16, -9.73,  2293.95,   83.28,   2942.66,
                                 5693.29, 48.54,  -761.36, 173107.64, 7.08,   171869.7,
                                 1626.46, -2.85,  3.48,   1580.68,   -61.22,  1255.31,
                                 14803.69, -2.41, 3.46,   2246.79,   -890.25, 14362.64,
                                 1626.46, -2.85,  3.48,   1580.68,   -61.22,  1255.31};
    const double rotor[6] = {657160, 657160, 425520, 425520, 425520, 425520};
    double tau[6];
    for (auto _ : state) {
        benchmark::DoNotOptimize(lengths);
        qmckxTZdynamicblock(lengths, kQ, kQd, kQdd, kPayload, masses, centres, inertias, rotor,
                            kGravity, tau);
        benchmark::DoNotOptimize(tau);
    }
}
BENCHMARK(BM_TZBlock);

void BM_PXBlock(benchmark::State &state) {
    const double lengths[6] = {180, -700, -586, 211, 114, 106};
    const double rotor[6] = {17472660, 17472660, 1615598, 657160, 657160, 657160};
    double tau[6];
    for (auto _ : state) {
        benchmark::DoNotOptimize(lengths);
        qmcPXkx10dynamicblock(lengths, kQ, kQd, kQdd, kPayload, rotor, kGravity, tau);
        benchmark::DoNotOptimize(tau);
    }
}
BENCHMARK(BM_PXBlock);

#ifdef KXMC_HAVE_KDL

// The 5-kg arm as a KDL chain: standard DH segments, link inertias about their centres in
// each link frame, the payload merged into the last segment.
struct KdlArm {
    KDL::Chain chain;
    KDL::JntArray q{6}, qd{6}, qdd{6}, out{6};
    KDL::JntSpaceInertiaMatrix H{6};
    KDL::Wrenches ext;
    KdlArm() {
        const auto &p = kxmc::standard_arm_parameters(0);
        const double twist[6] = {M_PI / 2, 0, 0, M_PI / 2, -M_PI / 2, 0};
        const double a[6] = {
            0, -std::fabs(p.lengths[1]) * 1e-3, -std::fabs(p.lengths[2]) * 1e-3, 0, 0, 0};
        const double d[6] = {p.lengths[0] * 1e-3, 0, 0, p.lengths[3] * 1e-3, p.lengths[4] * 1e-3,
                             p.lengths[5] * 1e-3};
        for (int i = 0; i < 6; ++i) {
            const float *I = &p.inertias[6 * i];
            KDL::RigidBodyInertia body(
                p.masses[i],
                KDL::Vector(p.centres[3 * i] * 1e-3, p.centres[3 * i + 1] * 1e-3,
                            p.centres[3 * i + 2] * 1e-3),
                KDL::RotationalInertia(I[0] * 1e-6, I[3] * 1e-6, I[5] * 1e-6, I[1] * 1e-6,
                                       I[2] * 1e-6, I[4] * 1e-6));
            if (i == 5) {
                body = body + KDL::RigidBodyInertia(
                                  kPayload[0], KDL::Vector(kPayload[1] * 1e-3, kPayload[2] * 1e-3,
                                                           kPayload[3] * 1e-3));
            }
            chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                          KDL::Frame::DH(a[i], twist[i], d[i], 0), body));
        }
        for (int i = 0; i < 6; ++i) {
            q(i) = kQ[i] * M_PI / 180;
            qd(i) = kQd[i] * M_PI / 180;
            qdd(i) = kQdd[i] * M_PI / 180;
        }
        ext.assign(chain.getNrOfSegments(), KDL::Wrench::Zero());
    }
};

const KDL::Vector kKdlGravity(kGravity[0], kGravity[1], kGravity[2]);

void BM_KdlIdSolverRNE(benchmark::State &state) {
    KdlArm arm;
    KDL::ChainIdSolver_RNE rne(arm.chain, kKdlGravity);
    for (auto _ : state) {
        rne.CartToJnt(arm.q, arm.qd, arm.qdd, arm.ext, arm.out);
        benchmark::DoNotOptimize(arm.out.data.data());
    }
}
BENCHMARK(BM_KdlIdSolverRNE);

void BM_KdlJntToMass(benchmark::State &state) {
    KdlArm arm;
    KDL::ChainDynParam dyn(arm.chain, kKdlGravity);
    for (auto _ : state) {
        dyn.JntToMass(arm.q, arm.H);
        benchmark::DoNotOptimize(arm.H.data.data());
    }
}
BENCHMARK(BM_KdlJntToMass);

void BM_KdlJntToCoriolis(benchmark::State &state) {
    KdlArm arm;
    KDL::ChainDynParam dyn(arm.chain, kKdlGravity);
    for (auto _ : state) {
        dyn.JntToCoriolis(arm.q, arm.qd, arm.out);
        benchmark::DoNotOptimize(arm.out.data.data());
    }
}
BENCHMARK(BM_KdlJntToCoriolis);

void BM_KdlJntToGravity(benchmark::State &state) {
    KdlArm arm;
    KDL::ChainDynParam dyn(arm.chain, kKdlGravity);
    for (auto _ : state) {
        dyn.JntToGravity(arm.q, arm.out);
        benchmark::DoNotOptimize(arm.out.data.data());
    }
}
BENCHMARK(BM_KdlJntToGravity);

// The four KDL solvers one after another: what the standard block replaces in one call.
void BM_KdlAllFour(benchmark::State &state) {
    KdlArm arm;
    KDL::ChainIdSolver_RNE rne(arm.chain, kKdlGravity);
    KDL::ChainDynParam dyn(arm.chain, kKdlGravity);
    KDL::JntArray tau(6), cor(6), grav(6);
    for (auto _ : state) {
        rne.CartToJnt(arm.q, arm.qd, arm.qdd, arm.ext, tau);
        dyn.JntToMass(arm.q, arm.H);
        dyn.JntToCoriolis(arm.q, arm.qd, cor);
        dyn.JntToGravity(arm.q, grav);
        benchmark::DoNotOptimize(tau.data.data());
        benchmark::DoNotOptimize(arm.H.data.data());
        benchmark::DoNotOptimize(cor.data.data());
        benchmark::DoNotOptimize(grav.data.data());
    }
}
BENCHMARK(BM_KdlAllFour);

#endif

}  // namespace

BENCHMARK_MAIN();
