#!/usr/bin/env python3
"""Generates the closed-form inverse-dynamics regressors of the self-test torque.

Every arm family's six-joint chain is the standard Denavit-Hartenberg chain with twists
90, 0, 0, 90, -90, 0 degrees; the families differ only in the lengths d1, a2, a3, d4, d5, d6,
so one regressor is generated with the lengths as inputs (the SelftestChain of the family).  The regressor
H(q, qd, qdd, g) (6 x 54) satisfies tau = H theta, where theta holds nine parameters per link:

    theta[9*(j-1) + 0..8] = XX, XY, XZ, YY, YZ, ZZ, MX, MY, MZ   of link j

expressed in the link's joint frame J_j: origin on the axis of joint j (the foot of the common
normal, O_{j-1} + d_j z_{j-1}), z along that axis, x along x_{j-1} turned by q_j.  In standard
DH terms J_j = F_{j-1} * Rz(q_j) * Tz(d_j) and F_j = J_j * Tx(a_j) * Rx(alpha_j).  The inertia
entries are the tensor about the origin of J_j (products as tensor entries), the M* entries
the first moments (mass times centre of mass).  The link masses do not appear: the origin of
J_j is fixed in link j-1, so the mass of link j (with everything outboard of it) acts as a
point mass at that origin and is folded into link j-1's parameters; link 1's mass sits on the
fixed axis of joint 1 and has no effect.  The folding is done in C++ by the code that builds
theta from a rigid-body parameter set (selftest_parameters.cpp).

The regressor is built from a Newton-Euler recursion in the joint frames: the forward pass
gives each link's angular velocity, angular acceleration and the acceleration of its origin
(gravity enters as a base acceleration -g); each parameter's wrench on its link is pushed
back to every joint that carries it, and the joint torque is the z moment.  Sympy's common
subexpression elimination turns the 6 x 54 entries into straight-line C++.

Run from the repository root:  /usr/bin/python3 jointid/generate/gen_selftest_regressor.py
"""
import os

import sympy as sp
from sympy.printing.c import C99CodePrinter

# The chain lengths, inputs of the generated function [m].
LENGTH_NAMES = ["d1", "a2", "a3", "d4", "d5", "d6"]

# Standard DH twists of joints 1..6 (alpha_j), as (sin, cos) to keep the algebra exact.
TWIST_SC = [(1, 0), (0, 1), (0, 1), (1, 0), (-1, 0), (0, 1)]
PARAM_NAMES = ["XX", "XY", "XZ", "YY", "YZ", "ZZ", "MX", "MY", "MZ"]

HERE = os.path.dirname(os.path.abspath(__file__))
OUT_DIR = os.path.dirname(HERE)


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def matvec(r, v):
    return [sum(r[i][k] * v[k] for k in range(3)) for i in range(3)]


def matTvec(r, v):
    return [sum(r[k][i] * v[k] for k in range(3)) for i in range(3)]


def build_regressor():
    d1, a2, a3, d4, d5, d6 = sp.symbols(LENGTH_NAMES)
    a_std = [0, a2, a3, 0, 0, 0]
    d_std = [d1, 0, 0, d4, d5, d6]
    s = sp.symbols("s1:7")
    c = sp.symbols("c1:7")
    qd = sp.symbols("qd1:7")
    qdd = sp.symbols("qdd1:7")
    g = sp.symbols("g1:4")

    # Joint-frame chain: J_j = J_{j-1} * Tx(a_{j-1}) Rx(alpha_{j-1}) Rz(q_j) Tz(d_j).
    rot = []   # R_{j-1,j}: J_j axes in J_{j-1}
    pos = []   # origin of J_j in J_{j-1}
    for j in range(6):
        sa, ca = (0, 1) if j == 0 else TWIST_SC[j - 1]
        a_prev = 0 if j == 0 else a_std[j - 1]
        rx = [[1, 0, 0], [0, ca, -sa], [0, sa, ca]]
        rz = [[c[j], -s[j], 0], [s[j], c[j], 0], [0, 0, 1]]
        r = [[sum(rx[i][k] * rz[k][l] for k in range(3)) for l in range(3)] for i in range(3)]
        rot.append(r)
        pos.append([a_prev, -sa * d_std[j], ca * d_std[j]])

    # Introduce named intermediates for the kinematic quantities so the expressions stay small.
    kin_syms = []
    kin_defs = []

    def name_vec(prefix, j, v):
        out = []
        for i, e in enumerate(v):
            e = sp.expand(e)
            if e.is_number:
                out.append(e)
                continue
            sym = sp.Symbol("%s%d%s" % (prefix, j + 1, "xyz"[i]))
            kin_syms.append(sym)
            kin_defs.append((sym, e))
            out.append(sym)
        return out

    # Re-run the forward pass on the named symbols so each level only refers to the previous.
    w_prev = [0, 0, 0]
    dw_prev = [0, 0, 0]
    acc_prev = name_vec("gb", -1, [-g[0], -g[1], -g[2]])
    wn, dwn, accn = [], [], []
    for j in range(6):
        r, p = rot[j], pos[j]
        acc_o = [acc_prev[i] + cross(dw_prev, p)[i] + cross(w_prev, cross(w_prev, p))[i]
                 for i in range(3)]
        acc_j = name_vec("a", j, matTvec(r, acc_o))
        w_in = matTvec(r, w_prev)
        w_j = name_vec("w", j, [w_in[0], w_in[1], w_in[2] + qd[j]])
        wz = cross(w_in, [0, 0, qd[j]])
        dw_in = matTvec(r, dw_prev)
        dw_j = name_vec("dw", j, [dw_in[0] + wz[0], dw_in[1] + wz[1], dw_in[2] + wz[2] + qdd[j]])
        wn.append(w_j)
        dwn.append(dw_j)
        accn.append(acc_j)
        w_prev, dw_prev, acc_prev = w_j, dw_j, acc_j

    # Per-link parameter wrenches about the link's joint-frame origin.
    H = [[sp.Integer(0)] * 54 for _ in range(6)]
    for j in range(6):
        wj, dwj, aj = wn[j], dwn[j], accn[j]
        for k, name in enumerate(PARAM_NAMES):
            if k < 6:
                idx = {"XX": (0, 0), "XY": (0, 1), "XZ": (0, 2), "YY": (1, 1), "YZ": (1, 2),
                       "ZZ": (2, 2)}[name]
                J = [[0] * 3 for _ in range(3)]
                J[idx[0]][idx[1]] = 1
                J[idx[1]][idx[0]] = 1
                f = [0, 0, 0]
                n = [a + b for a, b in zip(matvec(J, dwj), cross(wj, matvec(J, wj)))]
            else:
                ms = [0, 0, 0]
                ms[k - 6] = 1
                f = [a + b for a, b in zip(cross(dwj, ms), cross(wj, cross(wj, ms)))]
                n = cross(ms, aj)
            f = [sp.expand(e) for e in f]
            n = [sp.expand(e) for e in n]
            # Push back through the joints that carry link j.
            for i in range(j, -1, -1):
                H[i][9 * j + k] = n[2]
                if i == 0:
                    break
                r, p = rot[i], pos[i]
                f_prev = matvec(r, f)
                n_prev = [a + b for a, b in zip(matvec(r, n), cross(p, f_prev))]
                f = [sp.expand(e) for e in f_prev]
                n = [sp.expand(e) for e in n_prev]
    return kin_defs, H, (s, c, qd, qdd, g)


class Printer(C99CodePrinter):
    def _print_Pow(self, expr):
        if expr.exp == 2:
            b = self._print(expr.base)
            return "(%s * %s)" % (b, b)
        if expr.exp == 3:
            b = self._print(expr.base)
            return "(%s * %s * %s)" % (b, b, b)
        if expr.exp == -1:
            return "(1.0 / %s)" % self._print(expr.base)
        return super()._print_Pow(expr)

    def _print_Rational(self, expr):
        return repr(float(expr.p) / float(expr.q))

    def _print_Integer(self, expr):
        return "%d.0" % int(expr)


def emit():
    kin_defs, H, (s, c, qd, qdd, g) = build_regressor()
    entries = [(i, col, H[i][col]) for i in range(6) for col in range(54) if H[i][col] != 0]
    exprs = [e for _, _, e in entries]
    repl, reduced = sp.cse(exprs, symbols=sp.numbered_symbols("t"), optimizations="basic")
    pr = Printer()
    lines = []
    lines.append("// Generated by jointid/generate/gen_selftest_regressor.py; do not edit by hand.")
    lines.append("// Inverse-dynamics regressor of the standard arm chain for the lengths of a family's")
    lines.append("// chain. See the generator for the parameter layout.")
    lines.append('#include "jointid/selftest_regressor.hpp"')
    lines.append("")
    lines.append("#include <cmath>")
    lines.append("")
    lines.append("namespace kxmc {")
    lines.append("namespace detail {")
    lines.append("")
    lines.append("void selftest_chain_regressor(const SelftestChain &chain, const double q[6],")
    lines.append("                              const double qd[6], const double qdd[6],")
    lines.append("                              const double gravity[3], double h[6][54]) noexcept {")
    for nm in LENGTH_NAMES:
        lines.append("    const double %s = chain.%s;" % (nm, nm))
    for k in range(6):
        lines.append("    const double s%d = std::sin(q[%d]);" % (k + 1, k))
        lines.append("    const double c%d = std::cos(q[%d]);" % (k + 1, k))
    for k in range(6):
        lines.append("    const double qd%d = qd[%d];" % (k + 1, k))
        lines.append("    const double qdd%d = qdd[%d];" % (k + 1, k))
    for k in range(3):
        lines.append("    const double g%d = gravity[%d];" % (k + 1, k))
    used = set()
    for e in list(exprs) + [d for _, d in repl]:
        used |= {str(x) for x in e.free_symbols}
    # Kinematic intermediates, in dependency order; keep only what is referenced (transitively).
    needed = set(used)
    for sym, e in reversed(kin_defs):
        if str(sym) in needed:
            needed |= {str(x) for x in e.free_symbols}
    unused = []
    for k in range(6):
        for nm in ("s%d" % (k + 1), "c%d" % (k + 1), "qd%d" % (k + 1), "qdd%d" % (k + 1)):
            if nm not in needed:
                unused.append(nm)
    for k in range(3):
        if "g%d" % (k + 1) not in needed:
            unused.append("g%d" % (k + 1))
    unused += [nm for nm in LENGTH_NAMES if nm not in needed]
    for sym, e in kin_defs:
        if str(sym) in needed:
            lines.append("    const double %s = %s;" % (sym, pr.doprint(e)))
    for sym, e in repl:
        lines.append("    const double %s = %s;" % (sym, pr.doprint(e)))
    lines.append("    for (int i = 0; i < 6; ++i) {")
    lines.append("        for (int k = 0; k < 54; ++k) {")
    lines.append("            h[i][k] = 0.0;")
    lines.append("        }")
    lines.append("    }")
    for (i, col, _), e in zip(entries, reduced):
        lines.append("    h[%d][%d] = %s;" % (i, col, pr.doprint(e)))
    for nm in unused:
        lines.append("    static_cast<void>(%s);" % nm)
    lines.append("}")
    lines.append("")
    lines.append("}  // namespace detail")
    lines.append("}  // namespace kxmc")
    path = os.path.join(OUT_DIR, "selftest_chain_regressor.cpp")
    with open(path, "w") as fh:
        fh.write("\n".join(lines) + "\n")
    print("wrote %s: %d entries, %d subexpressions" % (path, len(entries), len(repl)))


def main():
    emit()


if __name__ == "__main__":
    main()
