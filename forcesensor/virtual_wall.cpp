// Virtual wall and joint interference zones of end-force guiding.
//
// The wall does not stop the tool by force: it raises the admittance's damping as the tool
// approaches a box (keep-out) or the faces of a box it must stay in (keep-in), from nothing at
// 100 mm to a ceiling at the face, so a push that would carry the tool into the box slows it
// to a crawl well before. Damping only acts while the tool moves toward the wall; moving away
// is free. Joint interference zones hand the arm to the host's joint drag mode when a joint
// enters (or leaves) its zone, and give it back once every joint is clear again.
#include <cmath>

#include "forcesensor/sensor_state.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_virtual_wall.h"
#include "numerics/float_cast.hpp"

extern "C" {
uint8_t jointInterFlag[6] = {0, 0, 0, 0, 0, 0};
uint8_t jointModeChangeFlag = 0;
}

namespace kxmc {
namespace sensor {
namespace {

constexpr double kBand = 100.0;               // [mm] reach of the wall
constexpr double kBandLaw = 100.001;          // damping (kBandLaw / (dist + kSoft) - 1) x base
constexpr double kSoft = 0.001;               // [mm]
constexpr double kBaseDamping[kAxes] = {800, 800, 800, 80, 80, 80};
constexpr double kDampingCap[kAxes] = {15000, 15000, 15000, 1000, 1000, 1000};
constexpr double kZoneMargin = 1.0;           // [deg] a released joint is this far back
constexpr double kZoneReleaseSpeed = 100.0;   // [mm/s] TCP speed below which zones release

enum WallShape : uint8_t { kKeepOut = 0, kKeepIn = 1 };
enum ZoneMode : uint8_t { kEnteringTriggers = 0, kLeavingTriggers = 1 };

struct Box {
    double lo[3], hi[3];  // [mm]
};

Box wall_box() noexcept {
    Box b;
    for (int i = 0; i < 3; ++i) {
        if (mcb.wallDefMode == 1) {
            const double half = 0.5 * std::fabs(mcb.wallSize[i]);
            b.lo[i] = mcb.wallCentre[i] - half;
            b.hi[i] = mcb.wallCentre[i] + half;
        } else {
            b.lo[i] = std::fmin(mcb.wallCorners[i], mcb.wallCorners[3 + i]);
            b.hi[i] = std::fmax(mcb.wallCorners[i], mcb.wallCorners[3 + i]);
        }
    }
    return b;
}

// Damping law over the distance to the wall [mm].
double wall_damping(int axis, double dist) noexcept {
    const double b = (kBandLaw / (dist + kSoft) - 1.0) * kBaseDamping[axis];
    return b < kDampingCap[axis] ? b : kDampingCap[axis];
}

double dot3(const double a[3], const double b[3]) noexcept {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Distance [mm] to a keep-out box when the tool p is within the band and moving (v) toward
// it; -1 when the wall does not act. Inside the box the distance is 0.
double keep_out_distance(const Box &box, const double p[3], const double v[3]) noexcept {
    double d[3];
    for (int i = 0; i < 3; ++i) {
        if (!(p[i] >= box.lo[i] - kBand && p[i] <= box.hi[i] + kBand)) {
            return -1.0;  // not near (or a position that is not a number)
        }
        d[i] = p[i] < box.lo[i] ? p[i] - box.lo[i] : (p[i] > box.hi[i] ? p[i] - box.hi[i] : 0.0);
    }
    const double dist = std::sqrt(dot3(d, d));
    return dot3(d, v) <= 0.0 && dist <= kBand ? dist : -1.0;
}

// Keep-in box: e points from the tool toward the faces it is within the band of, |e| being
// the depth into the band; outside the box e points outward and the distance is 0. The wall
// acts while the tool moves toward a face (or further out).
double keep_in_distance(const Box &box, const double p[3], const double v[3]) noexcept {
    double e[3];
    bool outside = false;
    for (int i = 0; i < 3; ++i) {
        if (!(p[i] == p[i])) {
            return -1.0;
        }
        if (p[i] < box.lo[i] || p[i] > box.hi[i]) {
            e[i] = p[i] < box.lo[i] ? p[i] - box.lo[i] : p[i] - box.hi[i];
            outside = true;
            continue;
        }
        const double depth_low = box.lo[i] + kBand - p[i];
        const double depth_high = p[i] - (box.hi[i] - kBand);
        if (depth_low > 0.0 && depth_low >= depth_high) {
            e[i] = -depth_low;
        } else {
            e[i] = depth_high > 0.0 ? depth_high : 0.0;
        }
    }
    if (outside) {
        for (int i = 0; i < 3; ++i) {
            if (p[i] >= box.lo[i] && p[i] <= box.hi[i]) {
                e[i] = 0.0;  // only the faces the tool has crossed count
            }
        }
    }
    const double depth = std::sqrt(dot3(e, e));
    if (!(depth > 0.0) || !(dot3(e, v) > 0.0)) {
        return -1.0;
    }
    if (outside) {
        return 0.0;
    }
    return depth < kBand ? kBand - depth : 0.0;
}

// Rotation of the guiding frame in base axes: the admittance moves in the output frame of the
// sensor processing (flange, base, or tool for the tool frame and any other).
Rotrsf guiding_frame_in_base() noexcept {
    Rotrsf r;
    switch (mcb.forceSensorRefCoord) {
        case 0:
            return mpb.cartPoseActual.rot;
        case 1:
            r = Rotrsf{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
            return r;
        default:
            multRotrsf(&r, &mpb.cartPoseActual.rot, &mpb.toolTrsf.rot);
            return r;
    }
}

void check_interference_zones() noexcept {
    bool any = false;
    for (int j = 0; j < 6; ++j) {
        if (mcb.interfereJointOn[j] != 0 && jointInterFlag[j] == 0) {
            const double q = mpb.jointPos[j];
            const double lo = mcb.interfereLower[j], hi = mcb.interfereUpper[j];
            if ((mcb.interfereZoneMode == kEnteringTriggers && q > lo && q < hi) ||
                (mcb.interfereZoneMode == kLeavingTriggers && (q > hi || q < lo))) {
                jointInterFlag[j] = 1;
            }
        }
        any = any || jointInterFlag[j] != 0;
    }
    if (any) {
        jointModeChangeFlag = 1;
        qmcDragSwitch(1);
        log_drag_handover(kZoneReached);
    }
}

}  // namespace

// A joint is released when it is at least 1 degree clear of the condition that set its flag
// (out of the zone it entered, back into the zone it left) and the TCP has slowed below
// 100 mm/s; a zone that was switched off releases at once.
void release_interference_zones() noexcept {
    const bool slow = std::fabs(mpb.tcpSpeed) < kZoneReleaseSpeed;
    bool all_clear = true;
    for (int j = 0; j < 6; ++j) {
        if (jointInterFlag[j] == 0) {
            continue;
        }
        const double q = mpb.jointPos[j];
        const double lo = mcb.interfereLower[j], hi = mcb.interfereUpper[j];
        bool clear = true;
        if (mcb.interfereOn == 1 && mcb.interfereJointOn[j] != 0) {
            if (mcb.interfereZoneMode == kEnteringTriggers) {
                clear = q <= lo - kZoneMargin || q >= hi + kZoneMargin;
            } else if (mcb.interfereZoneMode == kLeavingTriggers) {
                clear = q >= lo + kZoneMargin && q <= hi - kZoneMargin;
            }
        }
        if (clear && slow) {
            jointInterFlag[j] = 0;
        } else {
            all_clear = false;
        }
    }
    if (all_clear && jointModeChangeFlag == 1) {
        jointModeChangeFlag = 0;
        qmcDragSwitch(0);
        log_drag_handover(kZonesReleased);
    }
}

}  // namespace sensor
}  // namespace kxmc

using namespace kxmc::sensor;

extern "C" {

int32_t kxmcForceSensorVirtualWall(float v[6], float Bw[6]) {
    if (v == nullptr || Bw == nullptr) {
        return -1;
    }
    Trsf tool;
    multTrsf(&tool, &mpb.cartPoseActual, &mpb.toolTrsf);
    const double v_frame[3] = {v[0], v[1], v[2]};
    double v_base[3];
    rotate(guiding_frame_in_base(), v_frame, v_base);
    for (int i = 0; i < 3; ++i) {
        v[i] = kxmc::narrow_to_float(v_base[i]);
    }
    for (int i = 0; i < kAxes; ++i) {
        Bw[i] = 0.0f;
    }
    if (mcb.wallOn == 1 && mcb.interfereDragMode == 0) {
        const Box box = wall_box();
        double dist = -1.0;
        if (mcb.wallShape == kKeepOut) {
            dist = keep_out_distance(box, tool.pos.v, v_base);
        } else if (mcb.wallShape == kKeepIn) {
            dist = keep_in_distance(box, tool.pos.v, v_base);
        }
        if (dist >= 0.0) {
            for (int i = 0; i < kAxes; ++i) {
                Bw[i] = static_cast<float>(wall_damping(i, dist));
            }
        }
    }
    if (mcb.interfereOn == 1 && mcb.interfereDragMode == 1) {
        check_interference_zones();
    }
    return 0;
}

}  // extern "C"
