// The payload scenario: the arm carries a payload whose truth the host does not know, and the
// host identifies it three ways: its step-driven sequence (joint torques while the arm holds
// and turns through fixed poses), the nine-point procedure (joint torques at nine poses without
// and with the payload) and the continuous identification from the wrist sensor while the arm
// is guided by hand. Each result is returned next to the truth.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/scenarios.hpp"

namespace kxsim {

struct PayloadOptions {
    CommonOptions common;         // arm, seed, model error (also moves the payload's truth)
    double mass = 5.0;            // [kg] nominal payload; the truth is it moved by the error
    Vec3 centre{0.0, 0.0, 60.0};  // [mm, flange frame]
    bool step_driven = true;      // which procedures run, in this order
    bool nine_point = true;
    bool continuous = true;
    double speed = 90.0;          // [deg/s] programmed joint speed of the moves
    double settle = 3.0;          // [s] at rest before a nine-point pose is recorded
    double guide = 4.0;           // [s] hand guiding with the continuous identification
    uint32_t window = 500;        // [cycles] its window
    double declared_ratio = 0.8;  // the host declares this share of the nominal mass when
                                  // guiding starts (the identification has to correct it)
    double hand_radius = 100.0;   // [mm] the operator leads the wrist round a horizontal
                                  // circle of this radius while guiding
    double hand_period = 8.0;     // [s] once round the circle
};

// One procedure's result.
struct PayloadEstimate {
    bool ran = false;        // the procedure was run
    bool formed = false;     // it gave a result
    double mass = 0.0;       // [kg]
    Vec3 centre{};           // [mm, flange frame]
    bool has_centre = true;  // the continuous identification reports no centre
};

struct PayloadResult {
    Inertial truth;  // what the plant carries
    PayloadEstimate step, nine, continuous;
    // Continuous identification: each new estimate (guiding time [s], mass [kg]) and the time
    // of the first one (the window full); -1 when none came.
    std::vector<std::pair<double, double>> estimates;
    double first_estimate = -1.0;
    double declared_mass = 0.0;   // [kg] what the host declared when guiding started
    std::vector<TraceRow> trace;  // the whole run
    std::vector<std::pair<double, std::string>> phases;  // start time of each procedure
};

PayloadResult run_payload(const PayloadOptions &o);

// Error of an estimate against the truth: mass [%] and distance of the centres [mm].
double mass_error_percent(const PayloadEstimate &e, const Inertial &truth);
double centre_error_mm(const PayloadEstimate &e, const Inertial &truth);

// The nine poses of the nine-point procedure [deg]: the flange tilted in different directions,
// away from singular poses.
const std::vector<Vec6> &nine_point_poses();

}  // namespace kxsim
