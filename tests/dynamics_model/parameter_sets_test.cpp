// Parameter sets of the standard arms: model-code bands and physical realisability of every
// set's bodies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "oracle.hpp"

namespace {

using kxmc::standard_arm_parameters;

// Band edges and single codes with a code of the same set; codes without a set of their own
// take the 5-kg arm (0).
TEST(StandardArmParameters, ModelCodesSelectTheirSet) {
    const uint32_t same[][2] = {{4, 2},      {100, 2},     {101, 0},    {200, 0},    {300, 202},
                                {400, 302},  {500, 401},   {501, 0},    {701, 0},    {704, 0},
                                {902, 0},    {1100, 1001}, {1101, 0},   {0xFFFFFFFFu, 0}};
    for (const auto &c : same) {
        const auto &p = standard_arm_parameters(c[0]), &q = standard_arm_parameters(c[1]);
        EXPECT_TRUE(std::equal(p.lengths, p.lengths + 6, q.lengths) && std::equal(p.masses, p.masses + 6, q.masses) &&
                    p.rotor[0] == q.rotor[0]) << c[0];
    }
}

// Leading principal minors of a symmetric 3x3 matrix all positive.
bool positive_definite(const double A[9]) {
    return A[0] > 0 && A[0] * A[4] - A[1] * A[3] > 0 &&
           A[0] * (A[4] * A[8] - A[5] * A[7]) - A[1] * (A[3] * A[8] - A[5] * A[6]) +
                   A[2] * (A[3] * A[7] - A[4] * A[6]) > 0;
}

class ParameterSet : public ::testing::TestWithParam<kxtest::SetCase> {};

// An inertia tensor belongs to a real body when the second moment of its mass distribution,
// tr(I)/2 - I, is positive definite (then I is, and its principal moments satisfy the triangle
// inequality). Each centre of mass lies inside the box its link occupies in its own frame:
// along the link between its joints, across it within the wrist offsets d4 + d5.
TEST_P(ParameterSet, BodiesArePhysicallyRealisable) {
    const auto &p = standard_arm_parameters(GetParam().code);
    const double d1 = p.lengths[0], a2 = std::fabs(p.lengths[1]), a3 = std::fabs(p.lengths[2]);
    const double d4 = p.lengths[3], d5 = p.lengths[4], d6 = p.lengths[5], R = d4 + d5;
    const double box[6][3][2] = {
        {{-R, R}, {-d1, 0}, {-R, R}}, {{0, a2}, {-R, R}, {-R, R}}, {{0, a3}, {-R, R}, {-R, R}},
        {{-R, R}, {-d4, 0}, {0, d5}}, {{-R, R}, {0, d5}, {0, d6}}, {{-R, R}, {-R, R}, {-d6, 0}},
    };
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE("link " + std::to_string(i + 1));
        const float *t = &p.inertias[6 * i];
        const double I[9] = {t[0], t[1], t[2], t[1], t[3], t[4], t[2], t[4], t[5]};
        double sigma[9];
        for (int k = 0; k < 9; ++k) sigma[k] = (k % 4 == 0 ? 0.5 * (I[0] + I[4] + I[8]) : 0.0) - I[k];
        EXPECT_TRUE(positive_definite(sigma));
        EXPECT_GT(p.masses[i], 0.0f);
        EXPECT_GT(p.rotor[i], 0.0f);
        for (int k = 0; k < 3; ++k) {
            EXPECT_GE(p.centres[3 * i + k], box[i][k][0]) << "axis " << k;
            EXPECT_LE(p.centres[3 * i + k], box[i][k][1]) << "axis " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, ParameterSet, ::testing::ValuesIn(kxtest::kStandardSets),
                         kxtest::set_name);

}  // namespace
