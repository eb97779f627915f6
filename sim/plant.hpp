// The simulated six-joint arm on the MuJoCo physics engine: the arm's truth (its description
// moved by a seeded model error) with the tool, payload, wrist sensor and obstacles of a scene,
// the drives (current limits, seeded current noise, joint friction, gear elasticity seen by the
// two encoders of each joint) and external loads (scripted forces, an operator's push).
//
// Units inside the plant: rad, rad/s, rad/s^2, N m (joint side). The host-facing outputs use
// the host's units: degrees, per mille of the rated motor torque, encoder counts. Points and
// forces in the base frame, mm and N.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/description.hpp"
#include "sim/scene.hpp"

struct mjModel_;
struct mjData_;

namespace kxsim {

using Vec6 = std::array<double, 6>;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;               // [rad/deg]
constexpr double kCountsPerMotorTurn = 16384.0;
constexpr double kCycle = 0.001;                   // [s] servo cycle

struct PlantConfig {
    uint32_t model_code = 101;
    const ArmDescription *arm = nullptr;  // an arm of one's own instead of the model code's
                                          // description (must outlive the plant)
    ModelError model_error{};     // the truth's departure from the description (scale 1)
    Scene scene;                  // sensor, tool, payload truth, obstacles
    double current_limit = 3000.0;  // [per mille] drive current limit
    double current_noise = 3.0;     // [per mille] standard deviation of the measurement
    uint64_t seed = 1;              // measurement noise
    int substeps = 2;               // integration steps per 1 ms cycle
    bool friction_on = true;
    bool elasticity_on = true;
    Vec6 friction_scale{1, 1, 1, 1, 1, 1};  // joint friction = law of the motor size x this
};

// What an obstacle met in one cycle (the physics engine's contact forces).
struct ContactCycle {
    double force = 0.0;        // [N] magnitude at the end of the cycle
    double peak = 0.0;         // [N] largest magnitude within the cycle
    double impulse = 0.0;      // [N s] integral of the magnitude over the cycle
    Vec3 vector{};             // [N] force of the arm on the obstacle at the end of the cycle
    Vec3 mean{};               // [N] the same force averaged over the cycle's integration steps
    double compression = 0.0;  // [mm] spring travel of a compliant obstacle
};

class ArmPlant {
public:
    // Builds the arm of the model code's description; throws std::runtime_error when the plant
    // has no description of the code or the physics engine refuses the model.
    explicit ArmPlant(const PlantConfig &config);
    ~ArmPlant();
    ArmPlant(const ArmPlant &) = delete;
    ArmPlant &operator=(const ArmPlant &) = delete;

    // Puts the arm at rest at joints [deg], obstacles at rest, loads cleared.
    void reset(const double joints_deg[6]);

    // The drives take this cycle's currents [per mille of rated], clipped at the drive limit,
    // and report them as measured, with seeded noise. Call once per cycle before step().
    const std::array<int16_t, 6> &apply_current(const Vec6 &current_permille);

    // Advances one 1 ms cycle with the applied currents and the loads set below; updates
    // encoders, sensor and contact figures.
    void step();

    // ---- Loads, held until changed or cleared -----------------------------------------------
    // A scripted force [N, base frame] at the distal frame origin of link 1..6 (6: the flange).
    void set_link_force(int link, const Vec3 &force);
    // An operator's push: force [N, base frame] at a point of the tool [mm, flange frame].
    void push_tool(const Vec3 &point, const Vec3 &force);
    void clear_loads();

    // ---- Payload ----------------------------------------------------------------------------
    // Mounts (true) or takes off (false) the scene's payload while the arm runs; built mounted.
    void carry_payload(bool on);
    bool carries_payload() const { return payload_on_; }

    // ---- State in host units ----------------------------------------------------------------
    Vec6 joints_deg() const;
    Vec6 velocity_deg_s() const;
    Vec6 acceleration_deg_s2() const;
    // Measured currents of the last cycle [per mille], with seeded noise, and encoder counts:
    // A on the motor side (link angle plus gear deflection), B on the output side.
    const std::array<int16_t, 6> &measured_current() const { return measured_; }
    const std::array<int32_t, 6> &encoder_a() const { return enc_a_; }
    const std::array<int32_t, 6> &encoder_b() const { return enc_b_; }
    // Gear deflection of the last cycle [deg] and applied (clipped) currents [per mille].
    const Vec6 &deflection_deg() const { return deflection_deg_; }
    const Vec6 &applied_current() const { return applied_; }

    // ---- Geometry ---------------------------------------------------------------------------
    // Origin of DH frame 1..6 (6: the flange) [mm].
    Vec3 frame_point(int link) const;
    // A point given in the flange frame [mm], in the base frame [mm].
    Vec3 tool_point(const Vec3 &point) const;
    // The same points at other joints [deg], without touching the simulated state.
    Vec3 frame_point_at(const double joints_deg[6], int link) const;
    Vec3 tool_point_at(const double joints_deg[6], const Vec3 &point) const;

    // ---- Wrist sensor and contacts ----------------------------------------------------------
    // The wrench the tool side (tool, payload, whatever touches or pushes them) exerts on the
    // flange side, in the sensor frame: force [N], moment about the sensor origin [N m]. A tool
    // hanging at rest reads its weight.
    const Wrench &sensor_wrench() const { return sensor_; }
    const ContactCycle &contact(std::size_t obstacle) const { return contacts_[obstacle]; }
    std::size_t obstacle_count() const { return contacts_.size(); }

    // ---- Model ------------------------------------------------------------------------------
    const ArmDescription &nominal() const { return *nominal_; }
    const ArmDescription &truth() const { return truth_; }
    const Drive &drive(int joint) const { return *drives_[static_cast<std::size_t>(joint)]; }
    const PlantConfig &config() const { return config_; }
    // Friction torque the plant produces at a joint speed [rad/s] (opposes the motion).
    double friction(int joint, double w) const;
    // Mass matrix diagonal at the current pose, rotor inertias included [kg m^2].
    Vec6 mass_diagonal() const;
    // Kinetic and potential energy of everything that moves [J] (potential zero at the base).
    double energy();
    // The physics engine's model and data, for scenarios that need more than the above.
    const mjModel_ *model() const { return model_; }
    mjData_ *data() { return data_; }

private:
    void find_objects();  // ids of the model's joints, bodies, sites, sensors and obstacles
    double gaussian();
    void apply_loads();
    void account_contacts(bool first_substep, double h);
    void read_sensor();

    PlantConfig config_;
    const ArmDescription *nominal_;
    ArmDescription truth_;
    std::array<const Drive *, 6> drives_{};
    mjModel_ *model_ = nullptr;
    mjData_ *data_ = nullptr;
    mjData_ *scratch_ = nullptr;  // kinematics at other joints
    int tool_body_ = -1;
    std::array<int, 6> link_body_{}, frame_site_{};
    int force_sensor_ = 0, torque_sensor_ = 0;
    std::vector<int> geom_obstacle_;   // obstacle index of each geom, -1 for the arm's
    std::vector<int> obstacle_qpos_;   // slide joint address, -1 for a rigid obstacle
    std::vector<ContactCycle> contacts_;
    std::vector<Vec3> contact_sum_;

    // Loads.
    int load_link_ = 0;
    Vec3 link_force_{}, push_point_{}, push_force_{};
    bool push_on_ = false;

    // The payload body and its mass and principal moments as built, to mount it again.
    int payload_body_ = -1;
    double payload_mass_ = 0.0;
    std::array<double, 3> payload_moments_{};
    bool payload_on_ = true;

    Vec6 applied_{}, deflection_deg_{}, qdd_{};
    std::array<int16_t, 6> measured_{};
    std::array<int32_t, 6> enc_a_{}, enc_b_{};
    Wrench sensor_{};
    uint64_t rng_state_;
    bool spare_valid_ = false;
    double spare_ = 0.0;
};

}  // namespace kxsim
