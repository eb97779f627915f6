// Physics of the simulated arm against references that share nothing with it: Orocos KDL's
// inverse dynamics for the generated model, energy conservation for the integrator, and statics
// (the host's own kinematics, weights and lever arms) for the wrist sensor, pushes and contacts.
#include <gtest/gtest.h>
#include <mujoco/mujoco.h>

#include <cmath>
#include <fstream>
#include <kdl/chain.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <random>
#include <vector>

#include "host_fixture.hpp"
#include "sim/host_loop.hpp"
#include "sim/mjcf.hpp"
#include "sim/plant.hpp"
#include "simhost/kxsimhost.hpp"

namespace {

using namespace kxsim;

// Tool and payload of the carried-load cases, flange frame; a sensor mount that is neither
// at the flange nor aligned with it.
Scene carried_scene() {
    Scene s;
    s.sensor = {{3.0, -4.0, 18.0}, {10.0, -20.0, 30.0}};
    s.tool.inertial = {0.8, {5.0, -3.0, 50.0}, {900.0, 20.0, -15.0, 1100.0, 30.0, 600.0}};
    s.tool.tcp = {0.0, 0.0, 130.0};
    s.payload = {2.5, {-10.0, 20.0, 120.0}, {4000.0, -100.0, 50.0, 3500.0, 80.0, 2500.0}};
    return s;
}

KDL::RigidBodyInertia kdl_inertia(const Inertial &b) {
    const auto &i = b.inertia;
    return KDL::RigidBodyInertia(
        b.mass, KDL::Vector(b.centre[0] * 1e-3, b.centre[1] * 1e-3, b.centre[2] * 1e-3),
        KDL::RotationalInertia(i[0] * 1e-6, i[3] * 1e-6, i[5] * 1e-6, i[1] * 1e-6, i[2] * 1e-6,
                               i[4] * 1e-6));
}

// The arm as a KDL chain straight from its description: segment i turns about z and ends at DH
// frame i, carrying link i's inertia there; the scene's tool and payload hang on the flange.
KDL::Chain kdl_chain(const ArmDescription &arm, const Scene &scene) {
    KDL::Chain chain;
    for (int i = 0; i < 6; ++i) {
        chain.addSegment(KDL::Segment(
            KDL::Joint(KDL::Joint::RotZ),
            KDL::Frame::DH(arm.dh_a(i) * 1e-3, arm.twist[static_cast<std::size_t>(i)] * kDeg,
                           arm.dh_d(i) * 1e-3, 0.0),
            kdl_inertia(arm.link[static_cast<std::size_t>(i)])));
    }
    for (const Inertial &b : {scene.tool.inertial, scene.payload}) {
        chain.addSegment(
            KDL::Segment(KDL::Joint(KDL::Joint::None), KDL::Frame::Identity(), kdl_inertia(b)));
    }
    return chain;
}

// The generated model's inverse dynamics (gravity 9.8, rotors as armature, no friction, no
// damping, joints inside their ranges) equals KDL's with the rotor inertias added, for every
// arm with and without a tool and payload behind a turned and offset sensor. The file `kxsim
// model` writes (with visuals) loads in MuJoCo on its own and is the same arm as the bare plant.
TEST(GeneratedModel, InverseDynamicsMatchesKdlWithRotorInertias) {
    std::mt19937_64 rng(11);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    const std::string dir = kxsim_test::make_temp_dir("kxsim-model");
    MjcfOptions visual;
    visual.visuals = true;
    for (const ArmDescription &arm : arms()) {
        const std::string path = dir + "/" + arm.file + ".xml";
        std::ofstream(path) << arm_mjcf(arm, Scene{}, visual);
        char error[512] = "";
        mjModel *exported = mj_loadXML(path.c_str(), nullptr, error, sizeof error);
        ASSERT_NE(exported, nullptr) << arm.file << ": " << error;
        mjData *e = mj_makeData(exported);
        for (bool with_load : {false, true}) {
            SCOPED_TRACE(arm.file + (with_load ? " with tool and payload" : " bare"));
            PlantConfig pc;
            pc.arm = &arm;
            pc.model_error.scale = 0.0;
            if (with_load) {
                pc.scene = carried_scene();
            }
            ArmPlant plant(pc);
            const mjModel *m = plant.model();
            mjData *d = mj_makeData(m);
            const KDL::Chain chain = kdl_chain(arm, pc.scene);
            KDL::ChainIdSolver_RNE solver(chain, KDL::Vector(0, 0, -9.8));
            KDL::JntArray q(6), qd(6), qdd(6), tau(6);
            KDL::Wrenches none(chain.getNrOfSegments(), KDL::Wrench::Zero());
            for (int n = 0; n < 1000; ++n) {
                for (unsigned j = 0; j < 6; ++j) {
                    q(j) = uniform(arm.lower[j], arm.upper[j]) * kDeg;
                    qd(j) = uniform(-180.0, 180.0) * kDeg;
                    qdd(j) = uniform(-1000.0, 1000.0) * kDeg;
                }
                for (mjData *x : {d, e}) {
                    mju_copy(x->qpos, q.data.data(), 6);
                    mju_copy(x->qvel, qd.data.data(), 6);
                    mju_copy(x->qacc, qdd.data.data(), 6);
                }
                mj_inverse(m, d);
                mj_inverse(exported, e);
                ASSERT_EQ(solver.CartToJnt(q, qd, qdd, none, tau), 0);
                for (unsigned j = 0; j < 6; ++j) {
                    const double expected = tau(j) + arm.rotor[j] * 1e-6 * qdd(j);
                    const double err = std::fabs(d->qfrc_inverse[j] - expected) /
                                       std::max(1.0, std::fabs(expected));
                    ASSERT_LT(err, 1e-6) << "joint " << j + 1 << " state " << n;
                    if (!with_load) {
                        ASSERT_NEAR(e->qfrc_inverse[j], d->qfrc_inverse[j],
                                    1e-9 * (1.0 + std::fabs(d->qfrc_inverse[j])))
                            << "exported model, joint " << j + 1 << " state " << n;
                    }
                }
            }
            mj_deleteData(d);
        }
        mj_deleteData(e);
        mj_deleteModel(exported);
    }
}

// With friction and drives off, the arm swinging under gravity keeps its energy: the drift over
// 2 s stays below 0.1 % of the largest kinetic energy it reaches (stricter than a fraction of
// the total, whose potential part depends on where height zero is).
TEST(Integrator, ConservesEnergyOverTwoSeconds) {
    ArmDescription free_arm = *find_arm(101);
    free_arm.lower.fill(-3600.0);  // no joint stop on the way
    free_arm.upper.fill(3600.0);
    PlantConfig pc;
    pc.arm = &free_arm;
    pc.friction_on = false;
    pc.scene = carried_scene();
    ArmPlant plant(pc);
    const double start[6] = {20, -60, 70, -80, -90, 10};
    plant.reset(start);
    const double speed[6] = {40, -30, 60, 90, -120, 150};  // [deg/s]
    for (std::size_t j = 0; j < 6; ++j) plant.data()->qvel[j] = speed[j] * kDeg;
    const double e0 = plant.energy();
    double drift = 0.0, kinetic = 0.0;
    for (int i = 0; i < 2000; ++i) {
        plant.apply_current(Vec6{});
        plant.step();
        const double e = plant.energy();
        drift = std::max(drift, std::fabs(e - e0));
        kinetic = std::max(kinetic, plant.data()->energy[1]);
    }
    EXPECT_GT(kinetic, 5.0);  // [J] the arm really swings
    EXPECT_LT(drift, 1e-3 * kinetic) << "drift " << drift << " J, peak kinetic " << kinetic << " J";
}

// A free joint swinging toward its stop stays inside its range, at either end.
TEST(JointRange, FreeJointStopsAtItsLimit) {
    PlantConfig pc;
    pc.friction_on = false;
    ArmPlant plant(pc);
    const ArmDescription &arm = plant.truth();
    for (double side : {1.0, -1.0}) {
        const double limit = side > 0 ? arm.upper[2] : arm.lower[2];
        double q[6] = {0, -90, limit - side * 5.0, -90, -90, 0};
        plant.reset(q);
        plant.data()->qvel[2] = side * 90.0 * kDeg;
        double reach = -side * 1e9;
        for (int i = 0; i < 300; ++i) {
            plant.apply_current(Vec6{});
            plant.step();
            reach = side > 0 ? std::max(reach, plant.joints_deg()[2])
                             : std::min(reach, plant.joints_deg()[2]);
        }
        EXPECT_NEAR(reach, limit, 1.0) << "side " << side;
    }
}

// ---- Statics with the arm held by the host's drives ------------------------------------------

Vec3 unit(const Vec3 &v) { return scale(v, 1.0 / norm(v)); }

// A held arm settled for `seconds` in the stopped state.
struct HeldArm {
    HeldArm(const PlantConfig &pc, const Vec6 &joints) : plant(pc), host(config(), plant) {
        host.start(joints);
    }
    static HostConfig config() {
        HostConfig hc;
        hc.config_root = kxsim_test::make_temp_dir("kxsim-physics");
        hc.dual_encoder = false;
        return hc;
    }
    void settle(double seconds) {
        for (int i = 0; i < static_cast<int>(seconds / kCycle); ++i) host.cycle();
    }
    ArmPlant plant;
    SimHost host;
};

// Rotation of the sensor frame in the base frame, from the host's forward kinematics.
Mat3 sensor_rotation(const Vec6 &joints, const SensorMount &mount) {
    const Trsf f = kxsim::flange_transform(joints.data());
    Mat3 flange{};
    std::copy(f.rot.r, f.rot.r + 9, flange.begin());
    return mul(flange, rpy(mount.rpy));
}

// The sensor's reading on the held arm at its present pose: the weights of tool and payload and
// a push [N, base] at a point [mm, flange frame], as force and moment about the turned and offset
// sensor origin, in sensor axes.
void expect_sensor_reads(const ArmPlant &plant, const Scene &s, const Vec3 &point,
                         const Vec3 &push) {
    const Mat3 sensor = sensor_rotation(plant.joints_deg(), s.sensor);
    const Vec3 tool_weight{0, 0, -9.8 * s.tool.inertial.mass};
    const Vec3 load_weight{0, 0, -9.8 * s.payload.mass};
    Wrench want{};
    for (const auto &[at, force] :
         {std::pair{s.tool.inertial.centre, tool_weight}, std::pair{s.payload.centre, load_weight},
          std::pair{point, push}}) {
        const Vec3 f = rotate(transpose(sensor), force);
        const Vec3 r = scale(rotate(transpose(rpy(s.sensor.rpy)), sub(at, s.sensor.offset)), 1e-3);
        const Vec3 m = cross(r, f);
        for (std::size_t k = 0; k < 3; ++k) {
            want[k] += f[k];
            want[k + 3] += m[k];
        }
    }
    for (std::size_t k = 0; k < 6; ++k)
        EXPECT_NEAR(plant.sensor_wrench()[k], want[k], k < 3 ? 0.05 : 0.005) << "component " << k;
}

// The sensor reads the weight of tool and payload, then the operator's push on top, at several
// poses: force and moment from the weights' and push's lever arms about the turned sensor.
TEST(WristSensor, ReadsCarriedWeightAndOperatorPush) {
    kxsim::startup(101);
    const Vec6 poses[] = {
        {0, -90, 90, -90, -90, 0}, {30, -70, 100, -120, -60, 45}, {-45, -100, 60, -20, 80, -90}};
    const Vec3 push_point{20.0, 0.0, 110.0};
    const Vec3 push{15.0, -10.0, 25.0};
    for (const Vec6 &q : poses) {
        SCOPED_TRACE(q[0]);
        PlantConfig pc;
        pc.model_error.scale = 0.0;
        pc.scene = carried_scene();
        HeldArm held(pc, q);
        held.settle(0.5);
        expect_sensor_reads(held.plant, pc.scene, push_point, {0, 0, 0});
        held.plant.push_tool(push_point, push);
        held.settle(1.5);
        expect_sensor_reads(held.plant, pc.scene, push_point, push);
    }
}

// A body region or a compliant surface pressed by the held tool: the contact force over the
// tool's advance into the obstacle's rest surface is its stiffness, and the sensor carries that
// force.
TEST(CompliantContact, PressedObstacleShowsItsStiffness) {
    kxsim::startup(101);
    const Vec6 q{0, -90, 90, -90, -90, 0};
    for (const auto &[name, stiffness] : {std::pair{"belly", 10.0}, std::pair{"chest", 25.0},
                                          std::pair{"skull", 150.0}, std::pair{"surface", 40.0}}) {
        SCOPED_TRACE(name);
        PlantConfig pc;
        pc.model_error.scale = 0.0;
        const ArmPlant probe(pc);
        const Vec3 tcp = probe.tool_point_at(q.data(), pc.scene.tool.tcp);
        const Vec3 down = unit(sub(tcp, probe.tool_point_at(q.data(), {0, 0, 0})));
        const double press = 2.0;  // [mm] the tool's reach beyond the rest surface
        const Vec3 face = add(tcp, scale(down, pc.scene.tool.radius - press));
        const bool surface = std::string(name) == "surface";
        // The tool presses off the face's centre along both of its sides: a pad is 120 mm
        // square, a surface 400 mm.
        const Vec3 off = add(scale(cross(down, {1.0, 0.0, 0.0}), 1.0), Vec3{1.0, 0.0, 0.0});
        const Vec3 centre = add(face, scale(off, surface ? 150.0 : 40.0));
        pc.scene.obstacles.push_back(
            surface ? compliant_surface(centre, scale(down, -1.0), stiffness)
                    : body_region_pad(*find_body_region(name), centre, scale(down, -1.0)));
        HeldArm held(pc, q);
        held.settle(1.0);
        const ContactCycle &contact = held.plant.contact(0);
        const Vec3 tip =
            add(held.plant.tool_point(pc.scene.tool.tcp), scale(down, pc.scene.tool.radius));
        const double advance = dot(sub(tip, face), down);  // [mm]
        // [N] along the normal (friction may add a little sideways)
        const double normal = dot(contact.vector, down);
        ASSERT_GT(advance, 0.5);
        EXPECT_NEAR(normal / advance, stiffness, 0.03 * stiffness)
            << "force " << normal << " N, advance " << advance << " mm";
        EXPECT_GT(normal, 0.95 * contact.force);
        // The sensor carries the whole contact force, back onto the tool.
        const Mat3 r = sensor_rotation(held.plant.joints_deg(), pc.scene.sensor);
        const Vec3 sensed = rotate(r, {held.plant.sensor_wrench()[0], held.plant.sensor_wrench()[1],
                                       held.plant.sensor_wrench()[2]});
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(sensed[k], -contact.vector[k], 0.02 * contact.force + 0.1);
    }
}

// Every link's collision capsule is where the link is: a pad set 2 mm into the capsule's side
// half-way along each chain segment feels the arm, one set 2 mm clear of it does not.
TEST(CompliantContact, EveryLinkMeetsObstaclesAtItsSurface) {
    kxsim::startup(101);
    const Vec6 q{20, -70, 100, -120, -60, 30};
    PlantConfig pc;
    pc.model_error.scale = 0.0;
    const ArmPlant probe(pc);
    const ArmDescription &arm = probe.truth();
    for (int link = 2; link <= 6; ++link) {
        const Vec3 from = probe.frame_point_at(q.data(), link - 1),
                   to = probe.frame_point_at(q.data(), link);
        const Vec3 side = unit(cross(unit(sub(to, from)), {0.3, -0.4, 0.866}));
        const Vec3 middle = scale(add(from, to), 0.5);
        for (double gap : {-2.0, 2.0}) {
            SCOPED_TRACE(::testing::Message() << "link " << link << " gap " << gap);
            PlantConfig with_pad = pc;
            ObstacleSpec pad = body_region_pad(
                *find_body_region("chest"),
                add(middle, scale(side, arm.radius[static_cast<std::size_t>(link - 1)] + gap)),
                scale(side, -1.0));
            pad.face = {20.0, 20.0};
            with_pad.scene.obstacles.push_back(pad);
            ArmPlant plant(with_pad);
            plant.reset(q.data());
            plant.apply_current(Vec6{});
            plant.step();  // a millisecond: the arm barely moves
            if (gap < 0.0) {
                EXPECT_GT(plant.contact(0).force, 20.0);
            } else {
                EXPECT_EQ(plant.contact(0).force, 0.0);
            }
        }
    }
}

}  // namespace
