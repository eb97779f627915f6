#!/usr/bin/env python3
"""Generates the wrist regressor of the excitation-trajectory payload identification.

The identification fits the torques of joints 4, 5 and 6 of the six-joint arm along an excitation
trajectory. Their rigid-body part is linear in the inertial parameters of links 4, 5 and 6:

    tau_wrist = Y_J(q, qd, qdd) theta_J,      theta_J = 9 parameters per link,

with theta_J the self-test torque's link parameters (jointid/generate/gen_selftest_regressor.py
derives that regressor and describes the layout): XX, XY, XZ, YY, YZ, ZZ, MX, MY, MZ of link j in
its joint frame J_j (origin on joint j's axis, z along it), the masses of the links beyond
already folded in as point masses at the next joint's origin.

Not all 27 columns of Y_J are independent: for every wrist joint the columns of YY_j and MZ_j are
combinations of other columns (the torques see YY_j only through XX_j - YY_j and through the
links before, and MZ_j, the first moment along the joint's own axis, only through the links
before). This script finds the exact combinations (rational arithmetic on rational points of the
unit circle, checked on further random points) and keeps, per wrist link j = 4, 5, 6, the seven
identifiable (base) parameters

    XXR_j, XY_j, XZ_j, YZ_j, ZZR_j, MX_j, MYR_j

where XXR, ZZR and MYR are XX, ZZ and MY with the eliminated YY and MZ of the same and of the
following links grouped in. The sign of MYR_4 is turned over so that it grows with the mass
beyond joint 5 (joint 5's axis lies at d5 on J_4's -y axis). Two drive parameters per joint
complete the 27 base parameters:

    Ia_j   rotor inertia reflected to the joint [kg m^2]      column qdd_j on row j
    Fc_j   Coulomb friction [N m]                              column sign(qd_j) on row j

Layout of the base vector (9 per wrist joint, joint 4 first):
    [9k + 0..8] = XXR, XY, XZ, YZ, ZZR, MX, MYR (MYR_4 negated), Ia, Fc   of joint 4 + k

so entry 6 carries d5 times the mass beyond joint 5 (a payload m adds d5 m), entry 15 the first
moment of link 6 (with its payload) along the flange z axis about the wrist point d6 below the
flange (a payload adds m (z + d6)), entries 23 and 24 its first moments along the flange x and y
axes (a payload adds m x and m y).

Geometry: standard Denavit-Hartenberg chain with twists 90, 0, 0, 90, -90, 0 degrees,
a2 = -0.425, a3 = -0.395, d4 = 0.138, d5 = 0.102, d6 = 0.1 m (d1 does not enter), floor
mounting with gravity 9.81 m/s^2.

Output: payload/wrist_regressor.cpp with
    wrist_rigid_regressor(q, qd, qdd, y)   y[3][21], rows joints 4-6, rigid-body columns
    wrist_base_parameters(link, base)      base[21] from the 27 link parameters theta_J

Run from the repository root:  /usr/bin/python3 payload/generate/gen_wrist_regressor.py
"""
import os
import random
import sys

import sympy as sp

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "jointid", "generate"))

from gen_selftest_regressor import LENGTH_NAMES, PARAM_NAMES, Printer, build_regressor  # noqa: E402

LENGTHS = {"d1": sp.Rational(0), "a2": sp.Rational("-0.425"), "a3": sp.Rational("-0.395"),
           "d4": sp.Rational("0.138"), "d5": sp.Rational("0.102"), "d6": sp.Rational("0.1")}
GRAVITY = [sp.Rational(0), sp.Rational(0), sp.Rational("-9.81")]
KEPT = ["XX", "XY", "XZ", "YZ", "ZZ", "MX", "MY"]
ELIMINATED = ["YY", "MZ"]
BASE_NAMES = ["XXR", "XY", "XZ", "YZ", "ZZR", "MX", "MYR"]
WRIST_LINKS = [3, 4, 5]  # links 4, 5, 6 (0-based)
FLIPPED = {(0, "MY")}    # (wrist link, kept parameter) whose base column is negated


def circle_point(rng):
    t = sp.Rational(rng.randint(-40, 40), rng.randint(1, 23))
    return 2 * t / (1 + t * t), (1 - t * t) / (1 + t * t)


def substituted():
    kin_defs, H, (s, c, qd, qdd, g) = build_regressor()
    fixed = {sp.Symbol(n): LENGTHS[n] for n in LENGTH_NAMES}
    fixed.update({g[i]: GRAVITY[i] for i in range(3)})
    kin = [(sym, sp.expand(e.subs(fixed))) for sym, e in kin_defs]
    cols = {}
    for w, link in enumerate(WRIST_LINKS):
        for k, name in enumerate(PARAM_NAMES):
            cols[(w, name)] = [sp.expand(H[3 + r][9 * link + k].subs(fixed)) for r in range(3)]
    return kin, cols, (s, c, qd, qdd)


def evaluate(kin, exprs, point):
    env = dict(point)
    for sym, e in kin:
        env[sym] = e.xreplace(env)
    return [e.xreplace(env) for e in exprs]


def random_point(rng, syms):
    s, c, qd, qdd = syms
    point = {}
    for i in range(6):
        point[s[i]], point[c[i]] = circle_point(rng)
        point[qd[i]] = sp.Rational(rng.randint(-30, 30), rng.randint(1, 9))
        point[qdd[i]] = sp.Rational(rng.randint(-30, 30), rng.randint(1, 9))
    return point


def dependencies(kin, cols, syms):
    """Exact coefficients of each eliminated column on the kept columns of all wrist links."""
    rng = random.Random(20240501)
    kept = [(w, n) for w in range(3) for n in KEPT]
    elim = [(w, n) for w in range(3) for n in ELIMINATED]
    order = kept + elim
    rows = []
    for _ in range(16):
        values = evaluate(kin, [e for key in order for e in cols[key]], random_point(rng, syms))
        for r in range(3):
            rows.append([values[3 * j + r] for j in range(len(order))])
    A = sp.Matrix([row[:len(kept)] for row in rows])
    if A.rank() != len(kept):
        raise SystemExit("kept columns are not independent")
    coeffs = {}
    for j, key in enumerate(elim):
        b = sp.Matrix([row[len(kept) + j] for row in rows])
        sol = (A.T * A).LUsolve(A.T * b)
        if A * sol != b:
            raise SystemExit("%s is not a combination of the kept columns" % (key,))
        coeffs[key] = {kept[i]: sol[i] for i in range(len(kept)) if sol[i] != 0}
    # Independent check of the combinations on fresh points.
    for _ in range(8):
        point = random_point(rng, syms)
        for key, comb in coeffs.items():
            lhs = evaluate(kin, cols[key], point)
            rhs = [sum(v * evaluate(kin, [cols[kk][r]], point)[0] for kk, v in comb.items())
                   for r in range(3)]
            if any(sp.simplify(a - b) != 0 for a, b in zip(lhs, rhs)):
                raise SystemExit("combination of %s fails a check" % (key,))
    return kept, coeffs


def emit(kin, cols, syms, kept, coeffs):
    s, c, qd, qdd = syms
    sign = {key: (-1 if key in FLIPPED else 1) for key in kept}
    entries = []
    for idx, key in enumerate(kept):
        for r in range(3):
            e = sign[key] * cols[key][r]
            if e != 0:
                entries.append((r, idx, e))
    exprs = [e for _, _, e in entries]
    repl, reduced = sp.cse(exprs, symbols=sp.numbered_symbols("t"), optimizations="basic")
    pr = Printer()
    used = set()
    for e in list(exprs) + [d for _, d in repl]:
        used |= {str(x) for x in e.free_symbols}
    needed = set(used)
    for sym, e in reversed(kin):
        if str(sym) in needed:
            needed |= {str(x) for x in e.free_symbols}
    L = []
    L.append("// Generated by payload/generate/gen_wrist_regressor.py; do not edit by hand.")
    L.append("// Wrist rows of the arm's inverse-dynamics regressor in its base parameters, and the")
    L.append("// grouping of the wrist links' parameters into them. See the generator for the layout.")
    L.append('#include "payload/wrist_regressor.hpp"')
    L.append("")
    L.append("#include <cmath>")
    L.append("")
    L.append("namespace kxmc {")
    L.append("namespace detail {")
    L.append("")
    L.append("void wrist_rigid_regressor(const double q[6], const double qd[6], const double qdd[6],")
    L.append("                           double y[3][kWristRigidParams]) noexcept {")
    for k in range(6):
        for nm, src in (("s%d" % (k + 1), "std::sin(q[%d])" % k), ("c%d" % (k + 1), "std::cos(q[%d])" % k),
                        ("qd%d" % (k + 1), "qd[%d]" % k), ("qdd%d" % (k + 1), "qdd[%d]" % k)):
            if nm in needed:
                L.append("    const double %s = %s;" % (nm, src))
    for sym, e in kin:
        if str(sym) in needed:
            L.append("    const double %s = %s;" % (sym, pr.doprint(e)))
    for sym, e in repl:
        L.append("    const double %s = %s;" % (sym, pr.doprint(e)))
    L.append("    for (int r = 0; r < 3; ++r) {")
    L.append("        for (int k = 0; k < kWristRigidParams; ++k) {")
    L.append("            y[r][k] = 0.0;")
    L.append("        }")
    L.append("    }")
    for (r, idx, _), e in zip(entries, reduced):
        L.append("    y[%d][%d] = %s;" % (r, idx, pr.doprint(e)))
    L.append("}")
    L.append("")
    L.append("void wrist_base_parameters(const double link[27], double base[kWristRigidParams]) noexcept {")
    for idx, key in enumerate(kept):
        w, name = key
        body = "link[%d]" % (9 * w + PARAM_NAMES.index(name))
        grouped = False
        for ekey, comb in coeffs.items():
            if key in comb:
                v, grouped = sp.Rational(comb[key]), True
                src = "link[%d]" % (9 * ekey[0] + PARAM_NAMES.index(ekey[1]))
                term = src if abs(v) == 1 else "%s * %s" % (pr.doprint(abs(v)), src)
                body += (" - " if v < 0 else " + ") + term
        if sign[key] < 0:
            body = "-(%s)" % body
        label = BASE_NAMES[KEPT.index(name)] if grouped else name
        L.append("    base[%d] = %s;  // %s%d" % (idx, body, label, w + 4))
    L.append("}")
    L.append("")
    L.append("}  // namespace detail")
    L.append("}  // namespace kxmc")
    path = os.path.join(ROOT, "payload", "wrist_regressor.cpp")
    with open(path, "w") as fh:
        fh.write("\n".join(L) + "\n")
    print("wrote %s: %d entries, %d subexpressions" % (path, len(entries), len(repl)))
    for key, comb in coeffs.items():
        print("  column %s%d =" % (key[1], key[0] + 4),
              " + ".join("%s %s%d" % (v, kk[1], kk[0] + 4) for kk, v in comb.items()) or "0")


def main():
    kin, cols, syms = substituted()
    kept, coeffs = dependencies(kin, cols, syms)
    emit(kin, cols, syms, kept, coeffs)


if __name__ == "__main__":
    main()
