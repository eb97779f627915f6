// kxdemo: the arm geometries of the product line at a glance.
//
// For each model code (default: one of every family) it starts the simulated host, prints the
// flange pose at three joint poses, and the flange Jacobian of the library (Jacobian_com) at
// the first pose together with its largest deviation from a finite-difference Jacobian of the
// host's forward kinematics.
//
// Usage: kxdemo [model code ...]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kxmc/kxmc_numerics.h"
#include "simhost/kxsimhost.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

const double kPoses[3][6] = {
    {0, -90, 90, -90, -90, 0},    // ready pose, flange down
    {30, -120, 80, -60, 70, 10},  // reaching to the side
    {-45, -60, 45, 30, 100, 50},  // wrist turned
};

const char *family(uint32_t code) {
    if (code >= 1 && code <= 100) return "3 kg";
    if (code >= 201 && code <= 300) return "10 kg";
    if (code >= 301 && code <= 400) return "16 kg";
    if (code >= 401 && code <= 500) return "fifth family";
    if (code == 701 || (code >= 801 && code <= 900)) return "TZ (elbow offset)";
    if (code == 902) return "PX";
    if (code >= 1001 && code <= 1100) return "1001 family";
    return "5 kg (default)";
}

// Finite-difference Jacobian of the flange [m/rad; 1] from the host's forward kinematics.
void numeric_jacobian(const double q_deg[6], double J[6][6]) {
    const double h = 1e-6;  // [rad]
    const Trsf f0 = kxsim::flange_transform(q_deg);
    for (int k = 0; k < 6; ++k) {
        double qp[6], qm[6];
        for (int i = 0; i < 6; ++i) {
            qp[i] = qm[i] = q_deg[i];
        }
        qp[k] += h / kDeg;
        qm[k] -= h / kDeg;
        const Trsf fp = kxsim::flange_transform(qp), fm = kxsim::flange_transform(qm);
        for (int i = 0; i < 3; ++i) {
            J[i][k] = (fp.pos.v[i] - fm.pos.v[i]) / (2.0 * h) * 0.001;
        }
        // Angular rate: skew part of dR/dq R^T.
        double w[9];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                double s = 0.0;
                for (int l = 0; l < 3; ++l) {
                    s += (fp.rot.r[3 * r + l] - fm.rot.r[3 * r + l]) / (2.0 * h) * f0.rot.r[3 * c + l];
                }
                w[3 * r + c] = s;
            }
        }
        J[3][k] = 0.5 * (w[7] - w[5]);
        J[4][k] = 0.5 * (w[2] - w[6]);
        J[5][k] = 0.5 * (w[3] - w[1]);
    }
}

void show_model(uint32_t code) {
    kxsim::startup(code);
    const kxsim::ArmGeometry g = kxsim::arm_geometry(code);
    std::printf("\nmodel %u  %s   d1 %.0f  a2 %.0f  a3 %.0f  d4 %.0f  d5 %.0f  d6 %.0f mm\n", code,
                family(code), g.d[0] * 1000, g.a[1] * 1000, g.a[2] * 1000, g.d[3] * 1000,
                g.d[4] * 1000, g.d[5] * 1000);
    std::printf("  %-38s | %9s %9s %9s | %8s %8s %8s\n", "joints [deg]", "x [mm]", "y [mm]",
                "z [mm]", "a [deg]", "b [deg]", "c [deg]");
    std::printf("  %s\n", std::string(100, '-').c_str());
    for (const auto &q : kPoses) {
        float pose[6];
        jointTrsfToEndCartTCF_RT(1, q, pose);
        for (float &p : pose) {
            p = std::fabs(p) < 0.005f ? 0.0f : p;  // no "-0.00"
        }
        std::printf("  %6.0f %6.0f %6.0f %6.0f %6.0f %6.0f | %9.2f %9.2f %9.2f | %8.2f %8.2f %8.2f\n",
                    q[0], q[1], q[2], q[3], q[4], q[5], pose[0], pose[1], pose[2], pose[3],
                    pose[4], pose[5]);
    }
    double q_rad[6];
    for (int i = 0; i < 6; ++i) {
        q_rad[i] = kPoses[0][i] * kDeg;
    }
    double J[36];
    Jacobian_com(g.alpha, g.a, g.d, q_rad, J);
    double Jn[6][6];
    numeric_jacobian(kPoses[0], Jn);
    double worst = 0.0;
    std::printf("  Jacobian_com at the ready pose (rows vx vy vz [m/s], wx wy wz [rad/s] per rad/s):\n");
    const char *rows[6] = {"vx", "vy", "vz", "wx", "wy", "wz"};
    for (int r = 0; r < 6; ++r) {
        std::printf("    %s", rows[r]);
        for (int c = 0; c < 6; ++c) {
            const double v = J[6 * r + c];
            std::printf(" %9.4f", std::fabs(v) < 5e-5 ? 0.0 : v);  // no "-0.0000"

            worst = std::fmax(worst, std::fabs(J[6 * r + c] - Jn[r][c]));
        }
        std::printf("\n");
    }
    std::printf("  largest deviation from the finite-difference Jacobian: %.1e\n", worst);
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<uint32_t> models = {0, 1, 201, 301, 401, 701, 902, 1001};
    if (argc > 1) {
        models.clear();
        for (int i = 1; i < argc; ++i) {
            char *end = nullptr;
            const unsigned long v = std::strtoul(argv[i], &end, 10);
            if (end == argv[i] || *end != '\0' || v > 0xffffffffUL) {
                std::fprintf(stderr, "kxdemo: not a model code: %s\nusage: kxdemo [model code ...]\n",
                             argv[i]);
                return 2;
            }
            models.push_back(static_cast<uint32_t>(v));
        }
    }
    std::printf("Flange pose of each arm geometry (x, y, z [mm]; a, b, c [deg] about X, Y, Z)\n");
    for (uint32_t m : models) {
        show_model(m);
    }
    return 0;
}
