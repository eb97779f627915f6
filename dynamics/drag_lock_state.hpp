// Reference pose of the drag lock and of the joint impedance, shared by the drag teach laws
// (which capture it) and the filter reset kxmcdynfiltresert (which clears it so the next call of
// a law captures a fresh reference).
//
// Library-internal: external linkage, hidden from the host.
#pragma once

#include <cstdint>

namespace kxmc {

// Law that captured the reference. The joint impedance and the Cartesian lock share the record,
// so a law finding the other's reference captures its own before it acts.
enum class DragLockLaw : int32_t { kNone, kJointImpedance, kCartesianLock };

struct DragLockReference {
    int32_t counter;           // cycles since the reference was captured; < 1 means capture now
    DragLockLaw law;           // owner of the reference below
    double rotation[9];        // TCP rotation at lock time, row-major
    double position[3];        // [m] TCP position at lock time
    double jointReference[6];  // [rad] joint impedance reference angles
};

}  // namespace kxmc

[[gnu::visibility("hidden")]] extern kxmc::DragLockReference cpd;
