// Parameter vectors theta of the self-test torque tau = H(q, qd, qdd) * theta.
//
// Layout (54 values, link j = 1..6 at theta[9*(j-1) .. 9*(j-1)+8]):
//
//     XX, XY, XZ, YY, YZ, ZZ [kg m^2], MX, MY, MZ [kg m]
//
// of link j in its joint frame J_j, the frame whose origin is the foot of joint j's axis on
// the chain (O_{j-1} + d_j z_{j-1} in standard DH terms), z along joint j's axis and x along
// x_{j-1} turned by q_j; with standard DH frames F_j, J_j = F_{j-1} Rz(q_j) Tz(d_j) and
// F_j = J_j Tx(a_j) Rx(alpha_j). XX..ZZ are the inertia tensor about J_j's origin (products
// as tensor entries), MX..MZ the first moment (mass times centre of mass).
//
// Masses are grouped: J_j's origin is fixed in link j-1, so the mass of link j and of every
// link beyond it acts on the arm like a point mass at that origin carried by link j-1, and is
// added to link j-1's inertia and first moment. Link 1's total mass lies on the fixed axis of
// joint 1 and drops out. Rotor (motor) inertias are not part of theta: the chain's rigid links
// only; the gravity-test laws add their own reflected rotor term.
#pragma once

namespace kxmc {

// Link parameters of one rigid-body set in SI units, in standard DH link frames: mass [kg],
// centre of mass [m] and inertia about the centre of mass [kg m^2] (Ixx, Ixy, Ixz, Iyy, Iyz,
// Izz; products as tensor entries), all in link frame F_j.
struct SelftestLinkSet {
    double mass[6];
    double centre[18];
    double inertia[36];
};

// Grouped parameter vector of a link set on the family's chain (3, 5, 10, 16). Returns false
// and leaves theta untouched for an unknown family.
bool selftest_group_parameters(int family, const SelftestLinkSet &links, double theta[54]) noexcept;

// Parameter vector of the family (3, 5, 10, 16), built at load from the family's rigid-body
// set (3 kg: model 1, 5 kg: the default set, 10 kg: model 201, 16 kg: model 301); nullptr for
// any other family.
const double *selftest_parameters(int family) noexcept;

// Change of theta caused by a point mass m [kg] at the flange origin of the family's arm:
// theta + delta is the parameter vector of the arm carrying that mass. Returns false (delta
// untouched) for an unknown family.
bool selftest_point_mass_terms(int family, double m, double delta[54]) noexcept;

// The same for the 5-kg family, whose gravity-test law adds the payload to its vector.
void selftest_point_mass_terms(double m, double delta[54]) noexcept;

}  // namespace kxmc
