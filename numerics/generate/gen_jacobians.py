#!/usr/bin/env python3
"""Generates numerics/closed_form_jacobians.cpp: closed-form flange Jacobians of the four arm
families as straight-line code.

For each family the standard Denavit-Hartenberg chain (twists pi/2, 0, 0, pi/2, -pi/2, 0;
a1 = a4 = a5 = a6 = 0; d2 = d3 = 0) is multiplied out symbolically with the family's lengths
as exact rationals; column i of the base-frame geometric Jacobian is
[z_{i-1} x (p_6 - p_{i-1}); z_{i-1}]. Every entry is simplified into sums of sines and cosines
of joint-angle sums (joints 2, 3 and 4 have parallel axes), then common subexpressions are
shared across the 36 entries.

Usage: python3 numerics/generate/gen_jacobians.py [output.cpp]
Needs sympy. The output is committed; rerun after changing a geometry here.
"""

import os
import sys

import sympy as sp
from sympy.printing.cxx import CXX17CodePrinter
from sympy.printing.precedence import PRECEDENCE

# Lengths in metres: d1, a2, a3, d4, d5, d6. d1 shifts every joint origin along the first
# axis and drops out of the Jacobian; it is listed so the geometry reads complete.
FAMILIES = [
    ("kx3_jacob", "3-kg arm (model codes 1-100)",
     ("0.14", "-0.28", "-0.24", "0.102", "0.102", "0.1")),
    ("kx5_jacob", "5-kg arm (model codes 101-200)",
     ("0.152", "-0.425", "-0.395", "0.102", "0.102", "0.1")),
    ("kx10_jacob", "10-kg arm (model code 201 parameter set)",
     ("0.18", "-0.7", "-0.586", "0.195", "0.114", "0.106")),
    ("kx16_jacob", "16-kg arm (model code 301 parameter set)",
     ("0.18", "-0.52", "-0.4", "0.195", "0.114", "0.106")),
]

ALPHA = [sp.pi / 2, 0, 0, sp.pi / 2, -sp.pi / 2, 0]
Q = sp.symbols("q1:7", real=True)


def dh_link(alpha, a, d, theta):
    ca, sa = sp.cos(alpha), sp.sin(alpha)
    ct, st = sp.cos(theta), sp.sin(theta)
    return sp.Matrix([[ct, -st * ca, st * sa, a * ct],
                      [st, ct * ca, -ct * sa, a * st],
                      [0, sa, ca, d],
                      [0, 0, 0, 1]])


def simplify(e):
    # trigsimp folds products of sines and cosines into angle sums; the outer expand leaves
    # one exact coefficient per term, so the constants read as lengths (0.425, not 17/40).
    return sp.expand(sp.trigsimp(sp.expand(e)))


def jacobian(lengths):
    d1, a2, a3, d4, d5, d6 = (sp.Rational(x) for x in lengths)
    a = [0, a2, a3, 0, 0, 0]
    d = [d1, 0, 0, d4, d5, d6]
    frames = [sp.eye(4)]
    for i in range(6):
        frames.append((frames[-1] * dh_link(ALPHA[i], a[i], d[i], Q[i])).applyfunc(simplify))
    p6 = frames[6][:3, 3]
    J = sp.zeros(6, 6)
    for i in range(6):
        z = frames[i][:3, 2]
        lin = z.cross(p6 - frames[i][:3, 3])
        for r in range(3):
            J[r, i] = lin[r]
            J[3 + r, i] = z[r]
    return J.applyfunc(simplify)


class Printer(CXX17CodePrinter):
    """C++ with std:: maths, q[i] for the joint angles, exact constants as double literals
    and small integer powers as products."""

    def _print_Symbol(self, expr):
        name = expr.name
        if name.startswith("q") and name[1:].isdigit():
            return "q[%d]" % (int(name[1:]) - 1)
        return name

    def _print_Rational(self, expr):
        return self._print_Float(sp.Float(expr, 17))

    def _print_Integer(self, expr):
        return "%d.0" % int(expr)

    def _print_Float(self, expr):
        text = repr(float(expr))
        return text if ("." in text or "e" in text) else text + ".0"

    def _print_Pow(self, expr):
        base, exp = expr.as_base_exp()
        if exp.is_Integer and 1 < int(exp) <= 4:
            b = self.parenthesize(base, PRECEDENCE["Mul"])
            return "*".join([b] * int(exp))
        return super()._print_Pow(expr)


def wrap(line, indent, width=100):
    """Breaks a long assignment before '+' or '-' operators at nesting depth 0."""
    if len(line) <= width:
        return [line]
    out, cur, depth, i = [], "", 0, 0
    while i < len(line):
        ch = line[i]
        depth += ch == "("
        depth -= ch == ")"
        if (depth == 0 and ch == " " and line[i + 1:i + 3] in ("+ ", "- ")
                and len(cur) > width - 30):
            out.append(cur)
            cur = " " * (indent + 4)
            i += 1
            continue
        cur += ch
        i += 1
    out.append(cur)
    return out


def emit_function(name, title, lengths):
    J = jacobian(lengths)
    entries = [J[r, c] for r in range(6) for c in range(6)]
    subs, reduced = sp.cse(entries, symbols=sp.numbered_symbols("x"))
    pr = Printer()
    d1, a2, a3, d4, d5, d6 = lengths
    lines = [
        "// %s: d1 %s, a2 %s, a3 %s, d4 %s, d5 %s, d6 %s [m]." % (title, d1, a2, a3, d4, d5, d6),
        "int %s(const double *q, const double * /*unused1*/, const double * /*unused2*/," % name,
        "    double **rows) {",
        "    if (!rows_valid(rows)) {",
        "        return -1;",
        "    }",
    ]
    for sym, expr in subs:
        lines += wrap("    const double %s = %s;" % (sym, pr.doprint(expr)), 4)
    for k, expr in enumerate(reduced):
        lines += wrap("    rows[%d][%d] = %s;" % (k // 6, k % 6, pr.doprint(expr)), 4)
    lines += ["    return 0;", "}", ""]
    return lines


HEADER = """\
// Closed-form flange Jacobians of the four arm families: the base-frame geometric Jacobian
// of the standard Denavit-Hartenberg chain (twists pi/2, 0, 0, pi/2, -pi/2, 0) with each
// family's lengths, rows 0-2 linear velocity [m/s per rad/s], rows 3-5 angular velocity.
//
// GENERATED by numerics/generate/gen_jacobians.py (sympy): do not edit by hand; change the
// geometry in the generator and rerun it. Straight-line code with shared subexpressions:
// no loops, no matrix products, no allocation.
#include <cmath>

#include "kxmc/kxmc_numerics.h"

namespace {

bool rows_valid(double *const *rows) {
    if (rows == nullptr) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        if (rows[i] == nullptr) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" {
"""


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.join(here, "..", "closed_form_jacobians.cpp")
    out_path = sys.argv[1] if len(sys.argv) > 1 else default_out
    lines = HEADER.splitlines() + [""]
    for name, title, lengths in FAMILIES:
        lines += emit_function(name, title, lengths)
    lines += ["}  // extern \"C\"", ""]
    with open(out_path, "w") as f:
        f.write("\n".join(lines))
    print("wrote", os.path.normpath(out_path))


if __name__ == "__main__":
    main()
