// The simulated host's fit of recorded samples that the smooth replay uses.
#include <gtest/gtest.h>

#include <cmath>

#include "host_fixture.hpp"

namespace {

constexpr double kParams[4] = {0, 0.05, 0.1, 0.15};

TEST(SampleFit, ReproducesRampAndCubicOneSampleBehindAndRefusesNonFiniteSamples) {
    const struct {
        bool cubic;
        double (*f)(double m);
    } cases[] = {{false, [](double m) { return 100.0 - 7.5 * m; }},
                 {true, [](double m) { return 0.01 * m * m * m - 0.5 * m * m + 3.0 * m; }}};
    for (const auto &c : cases) {
        BsplineFit fit;
        ASSERT_EQ(kxmcinitBtraj(&fit), 0);
        for (int n = 0; n < 30; ++n) {
            kxmcaddpointBfitting(&fit, c.f(n), n == 29 ? 0 : 1);
            EXPECT_TRUE(n > 0 || kxmccomBfitting(&fit, 17, 4, kParams) == c.f(0)) << "first sample";
            // From the fourth sample on (the ramp from the second), the value between the
            // previous and the newest sample.
            for (int s = 0; n >= (c.cubic ? 3 : 1) && s < 50; ++s) {
                ASSERT_NEAR(kxmccomBfitting(&fit, s, 4, kParams), c.f(n - 1 + s / 50.0), 1e-9)
                    << (c.cubic ? "cubic" : "ramp") << " n " << n << " s " << s;
            }
        }
        EXPECT_EQ(fit.lastFlag, 0);
        EXPECT_EQ(fit.count, 30);
        // A non-finite sample is refused; without a parameter table the samples count as evenly
        // spaced.
        EXPECT_EQ(kxmcaddpointBfitting(&fit, std::nan(""), 1), -1);
        EXPECT_EQ(fit.count, 30);
        EXPECT_NEAR(kxmccomBfitting(&fit, 25, 4, nullptr), kxmccomBfitting(&fit, 25, 4, kParams),
                    1e-12);
    }
    BsplineFit empty;
    EXPECT_EQ(kxmcinitBtraj(&empty), 0);
    EXPECT_EQ(kxmccomBfitting(&empty, 0, 4, kParams), 0.0);  // nothing recorded yet
}

}  // namespace
