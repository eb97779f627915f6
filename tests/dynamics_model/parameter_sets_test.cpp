// Parameter sets of the standard arms: model-code bands and physical realisability of every
// set's bodies.
#include <gtest/gtest.h>

#include <cmath>

#include "oracle.hpp"

namespace {

using kxmc::standard_arm_parameters;

struct BandCase {
    uint32_t code;
    float d1, a2, d4;  // [mm]
    float m2;          // [kg]
    float rotor1;      // [kg mm^2]
};

// Band edges and single codes; codes without a set of their own take the 5-kg arm.
const BandCase kBands[] = {
    {0, 152, -425, 102, 10.08f, 1615598},       {1, 140, -280, 102, 5.21f, 657160},
    {2, 140, -280, 102, 4.94f, 657160},         {3, 140, -280, 102, 4.89f, 657160},
    {4, 140, -280, 102, 4.94f, 657160},         {100, 140, -280, 102, 4.94f, 657160},
    {101, 152, -425, 102, 10.08f, 1615598},     {200, 152, -425, 102, 10.08f, 1615598},
    {201, 180, -700, 195, 19.57f, 17472660},    {202, 180, -700, 159, 19.59f, 17472660},
    {300, 180, -700, 159, 19.59f, 17472660},    {301, 180, -520, 195, 19.57f, 17472660},
    {302, 180, -520, 159, 18.18f, 17472660},    {400, 180, -520, 159, 18.18f, 17472660},
    {401, 215, -1000, 166, 42.84f, 49675000},   {500, 215, -1000, 166, 42.84f, 49675000},
    {501, 152, -425, 102, 10.08f, 1615598},     {701, 152, -425, 102, 10.08f, 1615598},
    {702, 140, -425, 102, 3.74f, 312933},       {703, 140, -280, 102, 3.68f, 156467},
    {704, 152, -425, 102, 10.08f, 1615598},     {901, 140, -280, 102, 3.41f, 962147.94f},
    {902, 152, -425, 102, 10.08f, 1615598},     {903, 150, -280, 102, 3.34f, 962147.94f},
    {1001, 215, -700, 166, 36.37f, 39740000},   {1100, 215, -700, 166, 36.37f, 39740000},
    {1101, 152, -425, 102, 10.08f, 1615598},    {0xFFFFFFFFu, 152, -425, 102, 10.08f, 1615598},
};

TEST(StandardArmParameters, ModelCodesSelectTheirSet) {
    for (const BandCase &c : kBands) {
        SCOPED_TRACE(c.code);
        const auto &p = standard_arm_parameters(c.code);
        EXPECT_EQ(p.lengths[0], c.d1);
        EXPECT_EQ(p.lengths[1], c.a2);
        EXPECT_EQ(p.lengths[3], c.d4);
        EXPECT_EQ(p.masses[1], c.m2);
        EXPECT_EQ(p.rotor[0], c.rotor1);
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
