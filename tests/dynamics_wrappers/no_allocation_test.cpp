// The servo-cycle path of the standard wrapper (block, load filters, six detector steps and the
// detector's collision report) and of the TZ and PX wrappers makes no heap allocation. The test
// executable replaces the global operator new to count them.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "kxmc/kxmc_dual_encoder.h"
#include "kxmc/kxmc_dynamics_model.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void *operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace {

class NoAllocation : public kxsim_test::HostFixture {};

TEST_F(NoAllocation, WrappersAndDetectorAllocateNothingPerCycle) {
    mpb.robotState = 2;
    mpb.collisionMode = 1;
    mcb.collisionPauseFlag = 1;  // code word only: the host's own calls (journal, log) allocate
    for (int i = 0; i < 6; ++i) {
        mpb.collisionLevel[i] = 1.0f;
        mpb.targetJointVel[i] = 0.01;
        how.jointCurrent[i] = 100;
    }
    const float lengths[6] = {152, -425, -395, 102, 102, 100};
    const float masses[6] = {4.64f, 10.08f, 2.71f, 1.56f, 1.56f, 0.36f};
    const float centres[18] = {};
    const float inertias[36] = {};
    const float rotor[6] = {1615598, 1615598, 1615598, 425520, 425520, 425520};
    const double dl[6] = {140, -420, 12, 360, 102, 100};
    const double dm[6] = {2.26, 4.53, 1.56, 1.97, 1.56, 0.35};
    const double dc[36] = {};
    const double di[30] = {};
    const double dr[6] = {657160, 657160, 425520, 425520, 425520, 425520};
    const double q[6] = {10, -80, 70, 0, 60, 0};
    double tau[6], diag[36];
    constexpr double kCountsPerDeg = 16384.0 * 101.0 / 360.0;

    const long before = g_allocations.load();
    ASSERT_GT(before, 0) << "the counting operator new is not in use";  // start-up allocated
    for (int n = 0; n < 2000; ++n) {
        // Deflection sine with one raised period, so the reaction runs too.
        const double amp = n / 40 == 20 ? 0.9 : 0.5;
        how.encoderPosB[0] = static_cast<int32_t>(
            std::lround(amp * std::sin(2.0 * 3.14159265358979 * (n + 0.3) / 40) * kCountsPerDeg));
        kxqmckxdynamicblock(q, 0, 0, 50, 1.0, tau, lengths, masses, centres, inertias, rotor,
                            nullptr, diag);
        kxTZqmckxdynamicblock(q, 0, 0, 50, 1.0, tau, dl, dm, dc, di, dr);
        kxPXqmckxdynamicblock(q, 0, 0, 50, 1.0, tau, dl, dr);
    }
    const long during = g_allocations.load() - before;
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_JOINT1);  // the reaction path ran
    EXPECT_EQ(during, 0);
}

}  // namespace
