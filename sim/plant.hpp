// The simulated six-joint arm: rigid-body dynamics of the standard chain, drive currents,
// joint friction, gear elasticity seen by the two encoders of each joint, and external loads.
//
// Units inside the plant: rad, rad/s, rad/s^2, N m (joint side). The host-facing outputs use
// the host's units: degrees, per mille of the rated motor torque, encoder counts.
#pragma once

#include <array>
#include <cstdint>

namespace kxsim {

using Vec6 = std::array<double, 6>;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;          // [rad/deg]
constexpr double kGearRatio = 101.0;          // motor turns per joint turn
constexpr double kCountsPerMotorTurn = 16384.0;
// Encoder counts per joint degree (both encoders are scaled to the motor shaft).
constexpr double kCountsPerJointDeg = kGearRatio * kCountsPerMotorTurn / 360.0;

// Friction of one joint as the plant has it: Stribeck static peak over a Coulomb level with a
// smooth sign, plus viscous friction. Deliberately another law and other numbers than the
// library's compensation, as a real joint never matches its identified model.
struct PlantFriction {
    double coulomb;     // [N m]
    double stiction;    // [N m] breakaway level (>= coulomb)
    double stribeck;    // [rad/s] velocity where the static peak has decayed
    double smoothing;   // [rad/s] width of the smooth sign
    double viscous;     // [N m s/rad]
};

struct PlantConfig {
    uint32_t model_code = 101;
    double payload_mass = 0.0;          // [kg] what the arm really carries
    double payload_centre[3] = {0, 0, 0};  // [mm, flange frame]
    double current_limit = 3000.0;      // [per mille] drive current limit
    double current_noise = 3.0;         // [per mille] standard deviation of the measurement
    uint64_t seed = 1;
    int substeps = 4;                   // integration steps per 1 ms cycle
    bool friction_on = true;
    bool elasticity_on = true;
};

// Derived per-joint data of the plant (motor size, rated torque, stiffness, friction).
struct JointData {
    uint8_t motor_size;       // 14, 17, 25, 32, 40
    double rated;             // [N m] rated motor torque
    double stiffness;         // [N m/rad] gear torsional stiffness
    PlantFriction friction;
};

class ArmPlant {
public:
    explicit ArmPlant(const PlantConfig &config);

    // Puts the arm at rest at joints [deg].
    void reset(const double joints_deg[6]);

    // The drives take this cycle's currents [per mille of rated], clipped at the drive limit,
    // and report them as measured, with seeded noise. Call once per cycle before step().
    const std::array<int16_t, 6> &apply_current(const Vec6 &current_permille);

    // Advances one 1 ms cycle with the applied currents and an external joint torque [N m]
    // acting over the whole cycle; updates the encoder counts.
    void step(const Vec6 &external_torque);

    // State in host units.
    Vec6 joints_deg() const;
    Vec6 velocity_deg_s() const;
    Vec6 acceleration_deg_s2() const;
    const Vec6 &q() const { return q_; }
    const Vec6 &qd() const { return qd_; }

    // Measured currents of the last cycle [per mille], with seeded noise, and encoder counts:
    // A on the motor side (link angle plus gear deflection), B on the output side.
    const std::array<int16_t, 6> &measured_current() const { return measured_; }
    const std::array<int32_t, 6> &encoder_a() const { return enc_a_; }
    const std::array<int32_t, 6> &encoder_b() const { return enc_b_; }
    // Gear deflection of the last cycle [deg] and applied (clipped) currents [per mille].
    const Vec6 &deflection_deg() const { return deflection_deg_; }
    const Vec6 &applied_current() const { return applied_; }

    // Friction torque the plant produces at a joint velocity [rad/s] (opposes the motion).
    double friction(int joint, double qd) const;
    const JointData &joint(int j) const { return joints_[static_cast<std::size_t>(j)]; }
    const PlantConfig &config() const { return config_; }

    // Joint torque [N m] of a force [N, base frame] at the distal frame origin of link
    // 1..6 (6: the flange), J^T F; and that point's position [mm] and velocity [mm/s].
    Vec6 force_to_joint_torque(int link, const double force[3]) const;
    void link_point(int link, double pos_mm[3], double vel_mm_s[3]) const;

    // Mass matrix diagonal at the current pose [kg m^2] (drive gain scheduling).
    Vec6 mass_diagonal() const;

private:
    void dynamics_terms(double mass[36], double bias[6]) const;
    double gaussian();

    PlantConfig config_;
    std::array<JointData, 6> joints_{};
    Vec6 q_{}, qd_{}, qdd_{};
    Vec6 applied_{};
    Vec6 deflection_deg_{};
    std::array<int16_t, 6> measured_{};
    std::array<int32_t, 6> enc_a_{}, enc_b_{};
    uint64_t rng_state_;
    bool spare_valid_ = false;
    double spare_ = 0.0;
};

}  // namespace kxsim
