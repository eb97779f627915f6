// Parameter vectors of the self-test torque: grouping of a rigid-body link set onto the
// family's chain (layout in selftest_parameters.hpp), the family tables and the flange
// point-mass terms.
#include "jointid/selftest_parameters.hpp"

#include "dynamics/arm_parameters.hpp"
#include "jointid/selftest_regressor.hpp"

namespace kxmc {
namespace {

using detail::SelftestChain;

constexpr double kTwistSin[6] = {1.0, 0.0, 0.0, 1.0, -1.0, 0.0};  // sin(alpha_j)
constexpr double kTwistCos[6] = {0.0, 1.0, 1.0, 0.0, 0.0, 1.0};   // cos(alpha_j)

// Adds a point mass m at p (joint-frame coordinates) to a link's inertia about the origin
// (xx, xy, xz, yy, yz, zz) and first moment (mx, my, mz).
void add_point_mass(double m, const double p[3], double link[9]) noexcept {
    const double x = p[0], y = p[1], z = p[2];
    link[0] += m * (y * y + z * z);
    link[1] -= m * x * y;
    link[2] -= m * x * z;
    link[3] += m * (x * x + z * z);
    link[4] -= m * y * z;
    link[5] += m * (x * x + y * y);
    link[6] += m * x;
    link[7] += m * y;
    link[8] += m * z;
}

void group_on_chain(const SelftestChain &chain, const SelftestLinkSet &links,
                    double theta[54]) noexcept {
    const double a[6] = {0.0, chain.a2, chain.a3, 0.0, 0.0, 0.0};
    const double d[6] = {chain.d1, 0.0, 0.0, chain.d4, chain.d5, chain.d6};
    double grouped[6][9] = {};
    double outboard_mass = 0.0;  // mass of links j+1..6 folded into link j [kg]
    for (int j = 5; j >= 0; --j) {
        // Link j's own parameters in its joint frame: F_j = J_j Tx(a_j) Rx(alpha_j).
        const double s = kTwistSin[j], c = kTwistCos[j];
        const double *cf = &links.centre[3 * j];
        const double p[3] = {a[j] + cf[0], c * cf[1] - s * cf[2], s * cf[1] + c * cf[2]};
        const double *ic = &links.inertia[6 * j];
        const double i_f[3][3] = {{ic[0], ic[1], ic[2]}, {ic[1], ic[3], ic[4]}, {ic[2], ic[4], ic[5]}};
        const double rx[3][3] = {{1.0, 0.0, 0.0}, {0.0, c, -s}, {0.0, s, c}};
        double i_j[3][3] = {};
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 3; ++k) {
                for (int u = 0; u < 3; ++u) {
                    for (int v = 0; v < 3; ++v) {
                        i_j[r][k] += rx[r][u] * i_f[u][v] * rx[k][v];
                    }
                }
            }
        }
        double *g = grouped[j];
        g[0] += i_j[0][0];
        g[1] += i_j[0][1];
        g[2] += i_j[0][2];
        g[3] += i_j[1][1];
        g[4] += i_j[1][2];
        g[5] += i_j[2][2];
        add_point_mass(links.mass[j], p, g);
        // Everything outboard of link j hangs at J_{j+1}'s origin, fixed in link j:
        // Tx(a_j) Rx(alpha_j) Tz(d_{j+1}) from J_j.
        if (j < 5) {
            const double o[3] = {a[j], -s * d[j + 1], c * d[j + 1]};
            add_point_mass(outboard_mass, o, g);
        }
        outboard_mass += links.mass[j];
    }
    for (int j = 0; j < 6; ++j) {
        for (int k = 0; k < 9; ++k) {
            theta[9 * j + k] = grouped[j][k];
        }
    }
}

SelftestLinkSet links_of_model(unsigned model_code) noexcept {
    const StandardArmParameters &set = standard_arm_parameters(model_code);
    SelftestLinkSet links{};
    for (int i = 0; i < 6; ++i) {
        links.mass[i] = static_cast<double>(set.masses[i]);
    }
    for (int i = 0; i < 18; ++i) {
        links.centre[i] = 1e-3 * static_cast<double>(set.centres[i]);  // mm -> m
    }
    for (int i = 0; i < 36; ++i) {
        links.inertia[i] = 1e-6 * static_cast<double>(set.inertias[i]);  // kg mm^2 -> kg m^2
    }
    return links;
}

struct ParameterTable {
    double theta[4][54];
};

ParameterTable build_parameter_table() noexcept {
    ParameterTable table{};
    int row = 0;
    for (const SelftestChain &chain : detail::kSelftestChains) {
        group_on_chain(chain, links_of_model(chain.model), table.theta[row]);
        ++row;
    }
    return table;
}

// Built once at load; the rigid-body sets are constant-initialised tables, so they are ready
// before this dynamic initialisation runs.
const ParameterTable kParameterTable = build_parameter_table();

}  // namespace

bool selftest_group_parameters(int family, const SelftestLinkSet &links, double theta[54]) noexcept {
    const SelftestChain *chain = detail::selftest_chain(family);
    if (chain == nullptr) {
        return false;
    }
    group_on_chain(*chain, links, theta);
    return true;
}

const double *selftest_parameters(int family) noexcept {
    int row = 0;
    for (const SelftestChain &chain : detail::kSelftestChains) {
        if (chain.family == family) {
            return kParameterTable.theta[row];
        }
        ++row;
    }
    return nullptr;
}

bool selftest_point_mass_terms(int family, double m, double delta[54]) noexcept {
    SelftestLinkSet payload{};
    payload.mass[5] = m;  // at the origin of link 6's frame, the flange
    return selftest_group_parameters(family, payload, delta);
}

void selftest_point_mass_terms(double m, double delta[54]) noexcept {
    static_cast<void>(selftest_point_mass_terms(5, m, delta));
}

}  // namespace kxmc
