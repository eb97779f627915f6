// The simulated arms' descriptions: the built-in files, how they are read and the seeded model
// error. Where the host keeps its own (independently typed) idea of an arm — link geometry,
// motor sizes — the two must describe the same arm.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "host_fixture.hpp"
#include "sim/plant.hpp"
#include "simhost/kxsimhost.hpp"
#include "simhost/simhost_internal.hpp"

namespace {

using namespace kxsim;

// The model codes that resolve to each description file ("" none): band edges and single codes.
struct CodeCase {
    const char *file;
    std::vector<uint32_t> codes;
};
const CodeCase kCodes[] = {
    {"kx5.arm", {0, 101, 200}},
    {"kx3-1.arm", {1}},
    {"kx3.arm", {2, 4, 100}},
    {"kx10-201.arm", {201}},
    {"kx10.arm", {202, 300}},
    {"kx16-301.arm", {301}},
    {"kx16.arm", {302, 400}},
    {"kx-heavy.arm", {401, 500}},
    {"kx-tz.arm", {701, 801, 900}},
    {"kx-light5.arm", {702}},
    {"kx-light3.arm", {703}},
    {"kx901.arm", {901}},
    {"kx903.arm", {903}},
    {"kx-heavy-short.arm", {1001, 1100}},
    {"", {3, 501, 700, 704, 800, 902, 904, 1101}},
};

// Each code finds its one arm; the plant's arm and the host's kinematics and drive configuration
// are typed separately: the flange pose at random joints and the motor size of every joint agree
// for every arm.
TEST(BuiltInArms, EachCodeFindsItsOneArmAgreeingWithTheHost) {
    for (uint32_t code = 0; code <= 1200; ++code) {
        int owners = 0;
        for (const ArmDescription &a : arms()) owners += a.has_code(code) ? 1 : 0;
        EXPECT_LE(owners, 1) << "code " << code;
    }
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> joint(-170.0, 170.0);
    for (const CodeCase &c : kCodes) {
        for (uint32_t code : c.codes) {
            SCOPED_TRACE(code);
            const ArmDescription *arm = find_arm(code);
            EXPECT_EQ(arm ? arm->file : std::string(), c.file);
            if (*c.file == '\0') continue;
            kxsim::startup(code);
            PlantConfig pc;
            pc.model_code = code;
            const ArmPlant plant(pc);
            for (std::size_t j = 0; j < 6; ++j)
                EXPECT_EQ(plant.truth().motor[j], kxsim::detail::model_defaults(code).motor_size[j])
                    << "joint " << j + 1;
            for (int n = 0; n < 20; ++n) {
                double q[6];
                for (double &x : q) x = joint(rng);
                const Trsf f = kxsim::flange_transform(q);
                const Vec3 p = plant.frame_point_at(q, 6);
                const Vec3 x_axis = sub(plant.tool_point_at(q, {1000.0, 0, 0}), p);  // [mm per m]
                const Vec3 z_axis = sub(plant.tool_point_at(q, {0, 0, 1000.0}), p);
                for (std::size_t k = 0; k < 3; ++k) {
                    EXPECT_NEAR(p[k], f.pos.v[k], 1e-6);
                    EXPECT_NEAR(x_axis[k] / 1000.0, f.rot.r[3 * k], 1e-9);
                    EXPECT_NEAR(z_axis[k] / 1000.0, f.rot.r[3 * k + 2], 1e-9);
                }
            }
        }
    }
}

// ---- Reading descriptions ------------------------------------------------------------------

std::string source_file(const std::string &relative) {
    const char *root = std::getenv("KXMC_TEST_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/" + relative);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string replace_line(std::string text, const std::string &key, const std::string &line) {
    const std::size_t at = text.find("\n" + key + " ");
    const std::size_t end = text.find('\n', at + 1);
    return text.replace(at + 1, end - at - 1, line);
}

// An arm file and a drive table: good ones are read, each fault is refused with what and where.
TEST(DescriptionFiles, FaultsAreRefusedWithTheirLine) {
    const std::string good = source_file("sim/data/arms/kx5.arm");
    ArmDescription arm;
    std::string error;
    ASSERT_TRUE(parse_arm(good, arm, error)) << error;
    EXPECT_EQ(arm.link[1].mass, 10.08);
    EXPECT_EQ(arm.link[1].centre[0], 212.47);
    EXPECT_EQ(arm.link[5].inertia[5], 359.3);

    std::vector<std::pair<std::string, const char *>> faults = {
        {replace_line(good, "masses", "# none"), "missing 'masses'"},
        {good + "masses 1 1 1 1 1 1\n", "given twice"},
        {replace_line(good, "lengths", "lengths 152 -425 x 102 102 100"), "'x' is not a number"},
        {replace_line(good, "rotor", "rotor 1 2 3"), "rotor needs 6 values"},
        {replace_line(good, "masses", "masses 4.64 0 2.71 1.56 1.56 0.36"),
         "masses must be positive"},
        {replace_line(good, "codes", "codes 0 200-101"), "bad model code range"},
        {replace_line(good, "upper", "upper 360 360 -165 360 360 360"), "joint 3: lower limit"},
        {good + "colour red\n", "unknown key 'colour'"},
    };
    // Second moments S = tr(I)/2 - I: a negative one, then each 2 x 2 minor, then only the
    // determinant negative.
    for (const char *tensor :
         {"100 0 0 100 0 435456", "100 90 0 100 0 150", "100 0 90 150 0 100", "150 0 0 100 90 100",
          "200 60 60 200 60 200", "200 70 50 200 60 200"})
        faults.emplace_back(replace_line(good, "inertia2", std::string("inertia2 ") + tensor),
                            "not a physical inertia");
    for (const auto &[text, message] : faults) {
        EXPECT_FALSE(parse_arm(text, arm, error)) << message;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    std::vector<Drive> d;
    ASSERT_TRUE(parse_drives("14 0.32 101 4e3 1.2 1.8 0.05 0.004 1.2\n", d, error)) << error;
    for (const char *bad :
         {"14 0 101 4e3 1.2 1.8 0.05 0.004 1.2", "14 0.32 0 4e3 1.2 1.8 0.05 0.004 1.2",
          "14 0.32 101 0 1.2 1.8 0.05 0.004 1.2", "14 0.32 101 4e3 1.2 1.8 0 0.004 1.2",
          "14 0.32 101 4e3 1.2 1.8 0.05 0 1.2", "14 0.32 101 4e3 1.2 1.8 0.05 0.004"}) {
        EXPECT_FALSE(parse_drives(bad, d, error)) << bad;
        EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    }
}

TEST(BodyRegions, BuiltInTableAndOverrideFile) {
    reset_body_regions();
    ASSERT_EQ(body_regions().size(), 12u);
    for (const BodyRegion &r : body_regions())
        EXPECT_EQ(r.transient, 2.0 * r.quasi_static) << r.name;
    EXPECT_EQ(find_body_region("back")->stiffness, 35.0);

    const std::string dir = kxsim_test::make_temp_dir("kxsim-regions");
    std::ofstream(dir + "/good.txt") << "# site-specific values\nchest 20 120 300\nsoft-pad 5 90\n";
    std::ofstream(dir + "/bad.txt") << "chest 20\n";
    std::string error;
    EXPECT_FALSE(load_body_regions(dir + "/bad.txt", error));
    EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    EXPECT_EQ(body_regions().size(), 12u);  // unchanged
    EXPECT_FALSE(load_body_regions(dir + "/missing.txt", error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    ASSERT_TRUE(load_body_regions(dir + "/good.txt", error)) << error;
    ASSERT_EQ(body_regions().size(), 2u);
    EXPECT_EQ(find_body_region("chest")->transient, 300.0);
    EXPECT_EQ(find_body_region("soft-pad")->transient, 180.0);
    EXPECT_EQ(find_body_region("hand"), nullptr);
    reset_body_regions();
}

// ---- Model error ----------------------------------------------------------------------------

// Second moments of the mass distribution, S = tr(I)/2 - I, as (Sxx, Sxy, Sxz, Syy, Syz, Szz).
std::array<double, 6> second_moments(const std::array<double, 6> &i) {
    const double h = 0.5 * (i[0] + i[3] + i[5]);
    return {h - i[0], -i[1], -i[2], h - i[3], -i[4], h - i[5]};
}

TEST(ModelError, StaysWithinItsBoundsAndFollowsItsSeed) {
    const ArmDescription &nominal = *find_arm(101);
    const std::string text = source_file("sim/data/arms/kx5.arm");
    // Largest mass, centre, principal and product second-moment error at scale 1, of its bound.
    double widest[4] = {0, 0, 0, 0};
    for (double scale : {0.0, 1.0, 2.0, 5.0}) {
        auto within = [&](double error, double bound, double eps, std::size_t kind) {
            EXPECT_LE(error, bound * scale + eps) << "kind " << kind;
            if (scale == 1.0) widest[kind] = std::max(widest[kind], error / bound);
        };
        for (uint64_t seed : {1, 2, 3}) {
            SCOPED_TRACE(::testing::Message() << "scale " << scale << " seed " << seed);
            const ArmDescription truth = perturbed(nominal, {scale, seed});
            for (std::size_t l = 0; l < 6; ++l) {
                const Inertial &n = nominal.link[l], &t = truth.link[l];
                within(std::fabs(t.mass / n.mass - 1.0), kMassError, 1e-12, 0);
                for (std::size_t k = 0; k < 3; ++k)
                    within(std::fabs(t.centre[k] - n.centre[k]), kCentreError, 1e-12, 1);
                // Each entry of S scales by the geometric mean of its two axes' factors.
                const std::array<double, 6> sn = second_moments(n.inertia),
                                            st = second_moments(t.inertia);
                for (std::size_t k = 0; k < 6; ++k) {
                    if (std::fabs(sn[k]) > 1e-6)
                        within(std::fabs(st[k] / sn[k] - 1.0), kInertiaError, 1e-9,
                               k == 0 || k == 3 || k == 5 ? 2 : 3);
                }
                // Still a physical body: the file reader accepts the tensor.
                std::string line = "inertia" + std::to_string(l + 1);
                const std::string key = line;
                for (double v : t.inertia) line += " " + ::testing::PrintToString(v);
                ArmDescription check;
                std::string error;
                EXPECT_TRUE(parse_arm(replace_line(text, key, line), check, error)) << error;
            }
            if (scale == 0.0) {
                EXPECT_EQ(truth.link[1].inertia, nominal.link[1].inertia);
            }
        }
    }
    // The draws really use their range.
    for (std::size_t kind = 0; kind < 3; ++kind) EXPECT_GT(widest[kind], 0.7) << kind;
    const ArmDescription a = perturbed(nominal, {1.0, 7}), b = perturbed(nominal, {1.0, 7}),
                         c = perturbed(nominal, {1.0, 8});
    EXPECT_EQ(a.link[2].mass, b.link[2].mass);
    EXPECT_NE(a.link[2].mass, c.link[2].mass);
    // A carried body moves by the same bounds, drawn apart from the arm.
    const Inertial declared{5.0, {0, 0, 60}, {}};
    const Inertial carried = perturbed(declared, {2.0, 7}, 1);
    EXPECT_NE(carried.mass, declared.mass);
    EXPECT_LE(std::fabs(carried.mass / 5.0 - 1.0), 2 * kMassError);
    EXPECT_EQ(perturbed(declared, {0.0, 7}, 1).mass, 5.0);
}

}  // namespace
