#!/usr/bin/env python3
"""Centres of mass and inertia tensors of an arm whose description states only link lengths and
masses: each link is taken as the 5-kg arm's link of the same place, scaled to this arm's size.

Link i spans one length of the chain (d1, a2, a3, d4, d5, d6). A link that is geometrically
similar to the 5-kg arm's, scaled by s = |L_i| / |L_i(5 kg)| in every direction and carrying the
mass m_i, has its centre at s * c and its inertia about the centre at (m_i / m_i(5 kg)) * s^2 * I
(every second moment scales with the mass and the square of the size, so the tensor stays
positive definite and keeps the triangle inequality).

    python3 estimate_links.py 180 -700 -586 195 114 106  12.7 19.57 3.87 2.17 2.0 0.35

prints the com and inertia lines for the arm's description file.
"""
import sys

LENGTHS_5KG = [152.0, -425.0, -395.0, 102.0, 102.0, 100.0]
MASSES_5KG = [4.64, 10.08, 2.71, 1.56, 1.56, 0.36]
COM_5KG = [(-0.19, -18.28, 2.26), (212.47, 0.0, 121.2), (122.62, 0.17, 12.59),
           (0.05, -2.33, 14.68), (-0.05, 2.33, 14.68), (0.93, 0.81, -20.05)]
INERTIA_5KG = [(9383.91, -58.83, -33.05, 7742.20, 222.87, 9324.49),
               (20604.96, 280.19, 2.62, 438994.31, -2.68, 435456.0),
               (3575.41, 95.7, 224.85, 71482.85, 3.43, 71119.15),
               (1625.95, -2.85, -3.47, 1580.2, 61.31, 1255.26),
               (1625.95, -2.85, 3.47, 1580.2, -61.31, 1255.26),
               (230.09, 0.13, 0.98, 230.49, 0.85, 359.3)]


def fmt(v):
    return ("%.6g" % v).rjust(10)


def main(argv):
    if len(argv) != 12:
        sys.exit(__doc__)
    lengths = [float(x) for x in argv[:6]]
    masses = [float(x) for x in argv[6:]]
    for i in range(6):
        s = abs(lengths[i]) / abs(LENGTHS_5KG[i])
        print("com%d     " % (i + 1) + " ".join(fmt(s * c) for c in COM_5KG[i]))
    for i in range(6):
        s = abs(lengths[i]) / abs(LENGTHS_5KG[i])
        k = masses[i] / MASSES_5KG[i] * s * s
        print("inertia%d " % (i + 1) + " ".join(fmt(k * v) for v in INERTIA_5KG[i]))


if __name__ == "__main__":
    main(sys.argv[1:])
