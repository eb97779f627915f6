// The PID record and its incremental step.
#include <gtest/gtest.h>

#include "kxmc/kxmc_drag_teach.h"

namespace {

TEST(Pid, InitStoresTheGainsAndClearsTheHistory) {
    PIDRecord rec{9, 9, 9, 9, 9, 9};
    ASSERT_EQ(PIDInit(&rec, 2.0, 0.5, 1.0), 0);
    EXPECT_EQ(rec.Kp, 2.0);
    EXPECT_EQ(rec.Ki, 0.5);
    EXPECT_EQ(rec.Kd, 1.0);
    EXPECT_EQ(rec.lastError, 0.0);
    EXPECT_EQ(rec.prevError, 0.0);
    EXPECT_EQ(rec.sumError, 0.0);
    EXPECT_EQ(PIDInit(nullptr, 1, 1, 1), -1);
}

// Kp 2, Ki 0.5, Kd 1 on the errors 1, 3, -2, 0, worked by hand:
//   out = 2 e + 0.5 sum + (e - last)
TEST(Pid, IncrementalStepFollowsAHandComputedSequence) {
    struct Step {
        double e, out, sum, last, before;
    };
    const Step steps[] = {
        {1.0, 2.0 + 0.5 + 1.0, 1.0, 1.0, 0.0},
        {3.0, 6.0 + 2.0 + 2.0, 4.0, 3.0, 1.0},
        {-2.0, -4.0 + 1.0 - 5.0, 2.0, -2.0, 3.0},
        {0.0, 0.0 + 1.0 + 2.0, 2.0, 0.0, -2.0},
    };
    PIDRecord rec{};
    ASSERT_EQ(PIDInit(&rec, 2.0, 0.5, 1.0), 0);
    for (const Step &s : steps) {
        double out = 0.0;
        ASSERT_EQ(PID_increase_Calc(&rec, s.e, &out), 0);
        EXPECT_DOUBLE_EQ(out, s.out) << "e " << s.e;
        EXPECT_DOUBLE_EQ(rec.sumError, s.sum);
        EXPECT_DOUBLE_EQ(rec.lastError, s.last);
        EXPECT_DOUBLE_EQ(rec.prevError, s.before);
    }
}

}  // namespace
