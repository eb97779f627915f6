// State the force-sensor functions share across their translation units, and the small frame
// helpers they all use. Library-internal (the shared object hides these names).
//
// Who writes what:
//   sensor processing     t06Last, DragToCartFlag (set)      kxmcforcesensorblock.cpp
//   end-force guiding     EndForceDragfilter, DragToCartFlag (clear), the admittance state
//                                                           end_force_drag.cpp
//   singularity guard     weakB, dragModelflag, shoulderSingularDis   singularity_guard.cpp
// Constant-force control smooths its corrections through EndForceDragfilter as well.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_end_force_drag.h"

namespace kxmc {
namespace sensor {

constexpr int kAxes = 6;  // X, Y, Z, MX, MY, MZ (wrench: Fx, Fy, Fz, Mx, My, Mz)
constexpr double kPi = 3.14159265358979323846;
constexpr double kMmToM = 0.001;

// Flange pose taken by the sensor processing on its first cycle after the guiding state was
// reset: the pose where guiding in the base frame started. Valid while DragToCartFlag is 1.
extern Trsf t06Last;
extern uint8_t DragToCartFlag;

// Smoothing of the guiding increments, one per axis (type 0 while guiding).
extern ButterWorthFilter EndForceDragfilter[kAxes];

// Extra damping per axis that the singularity guard hands to the admittance.
extern double weakB[kAxes];
// 0 normal, 1 singular-pose damping active, 2 arm released to the host's joint drag mode.
extern uint8_t dragModelflag;
// Shoulder singularity metric of the last cycle (initially 100: far from it).
extern double shoulderSingularDis;

// Restarts the six increment filters with the guiding type.
void restart_increment_filters() noexcept;

// ---- Pieces of the guiding step that live in their own translation units ------------------

// Shoulder singularity metric of the flange pose mpb.flangePose [m^2]: squared horizontal
// distance of the wrist centre from joint 1's axis minus the squared shoulder offset; it
// crosses 0 where the wrist centre meets the cylinder on which joints 1 and 4 become coupled.
double shoulder_metric() noexcept;
// The commanded joints q [deg] and shoulder metric s are clear of every singular pose and
// joint limit the guard watches, so a released arm may return to guiding.
bool pose_clear_for_guiding(const double q[6], double s) noexcept;
// Singularity and joint-limit handling of one Cartesian step: may replace or add to the
// prefiltered wrench ff and sets weakB; vel is the admittance velocity per axis.
void singularity_guard(double ff[kAxes], const double vel[kAxes]) noexcept;
// Idle path of guiding: releases the joint interference flags of joints back out of reach of
// their zones and hands the arm back from joint drag when all are released.
void release_interference_zones() noexcept;

// ---- Workpiece frames and axis selections of the sensor commands ----------------------------

// An index into the host's workpiece-frame table.
inline bool workpiece_frame_valid(int32_t index) noexcept {
    return index >= 0 && static_cast<uint32_t>(index) < KXMC_WORKPIECE_FRAMES;
}
// The table's frame `index` (checked with workpiece_frame_valid) becomes the frame the sensor
// functions work in.
inline void activate_workpiece_frame(int32_t index) noexcept {
    std::memcpy(mpb.activeWorkpieceFrame, mpb.workpieceFrameTable[index],
                sizeof mpb.activeWorkpieceFrame);
}
// A selection holds 0 (axis off) or 1 (axis on) for each of the six axes.
inline bool axis_selection_valid(const uint8_t sel[kAxes]) noexcept {
    for (int i = 0; i < kAxes; ++i) {
        if (sel[i] > 1) {
            return false;
        }
    }
    return true;
}

// Level-2 log of a hand-over between the sensor guiding and the host's joint drag mode; the
// site names the cause (6 zones released, 7 pose clear again, 8 zone reached, 9 singular pose).
inline void log_drag_handover(int site) noexcept {
    Write_Log(2, "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : %d", site);
}
enum HandoverSite : int {
    kZonesReleased = 6,
    kPoseClearAgain = 7,
    kZoneReached = 8,
    kSingularPose = 9,
};

// A tool load is configured on the sensor: a mass above 1e-6 kg or a centre-of-mass coordinate
// outside +-1e-6 mm (a value that is not a number counts as configured). Zeroing and load
// identification need the sensor free of any declared load.
inline bool tool_load_configured() noexcept {
    constexpr double kNoLoad = 1e-6;  // [kg], [mm]
    if (!(mpb.forceSensorLoadWeight <= kNoLoad)) {
        return true;
    }
    for (double c : mpb.forceSensorLoadCoord) {
        if (!(c <= kNoLoad && c >= -kNoLoad)) {
            return true;
        }
    }
    return false;
}

// ---- Frames -----------------------------------------------------------------------------

// Sensor frame in the flange frame from mcb.forceSensorCoord (x, y, z [mm], a, b, c [deg]).
Trsf sensor_mounting() noexcept;

// y = R x for a rotation and a 3-vector of doubles.
inline void rotate(const Rotrsf &r, const double x[3], double y[3]) noexcept {
    Vect in{{x[0], x[1], x[2]}};
    Vect out;
    multRotrsfVect(&out, &r, &in);
    y[0] = out.v[0];
    y[1] = out.v[1];
    y[2] = out.v[2];
}

// c = a x b.
inline void cross(const double a[3], const double b[3], double c[3]) noexcept {
    Vect va{{a[0], a[1], a[2]}};
    Vect vb{{b[0], b[1], b[2]}};
    Vect vc;
    crossVect(&vc, &va, &vb);
    c[0] = vc.v[0];
    c[1] = vc.v[1];
    c[2] = vc.v[2];
}

}  // namespace sensor
}  // namespace kxmc
