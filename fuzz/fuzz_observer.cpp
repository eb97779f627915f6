// Fuzz harness of the momentum observer and the joint-space dynamics matrices: the observer fed
// with matrices of the arm's state, with arbitrary or null ones, for any joint and collision
// level, inside torque cycles; the matrices computed into caller blocks designated by arbitrary
// headers.
#include <cstdint>
#include <vector>

#include "fuzz_host.hpp"
#include "kxmc/kxmcforcetorque.h"

using kxfuzz::any_double;
using kxfuzz::any_float;
using kxfuzz::any_int;
using kxfuzz::fill;

namespace {

constexpr double kPi = 3.14159265358979323846;

// A caller's matrix of exactly rows x cols on the heap (so that any write past it is seen),
// with a header that designates a block of it, or an invalid block (negative, reversed, of the
// wrong size) that must be refused. A valid-size block always fits the buffer: the caller's
// duty the interface states.
struct Buffer {
    std::vector<std::vector<double>> storage;
    std::vector<double *> rows;
    MatHead head{};

    Buffer(FuzzedDataProvider &in, int want_rows, int want_cols) {
        const int first_row = in.ConsumeIntegralInRange<int>(-2, 2);
        const int first_col = in.ConsumeIntegralInRange<int>(-2, 2);
        const bool right_size = in.ConsumeIntegralInRange<int>(0, 3) != 0;
        const int n_rows =
            right_size ? want_rows : in.ConsumeIntegralInRange<int>(-2, want_rows + 2);
        const int n_cols =
            right_size ? want_cols : in.ConsumeIntegralInRange<int>(-2, want_cols + 2);
        head.firstRow = first_row;
        head.lastRow = first_row + n_rows - 1;
        head.firstCol = first_col;
        head.lastCol = first_col + n_cols - 1;
        // The buffer covers the designated block where it lies at non-negative indices.
        const int rows_needed = head.lastRow + 1 > 0 ? head.lastRow + 1 : 0;
        const int cols_needed = head.lastCol + 1 > 0 ? head.lastCol + 1 : 0;
        storage.assign(static_cast<std::size_t>(rows_needed),
                       std::vector<double>(static_cast<std::size_t>(cols_needed), 0.0));
        for (auto &r : storage) rows.push_back(cols_needed > 0 ? r.data() : nullptr);
        if (!rows.empty() && in.ConsumeIntegralInRange<int>(0, 15) == 0) {
            rows[in.ConsumeIntegralInRange<std::size_t>(0, rows.size() - 1)] = nullptr;
        }
        head.rows =
            rows.empty() || in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : rows.data();
    }
};

// Joint angles [rad] and rates [rad/s]: arbitrary values or the arm's own state.
void joints(FuzzedDataProvider &in, double q[6], double qd[6]) {
    const bool own = in.ConsumeBool();
    for (int j = 0; j < 6; ++j) {
        q[j] = own ? mpb.jointPos[j] * kPi / 180.0 : any_double(in);
        qd[j] = own ? mpb.actualJointVel[j] * kPi / 180.0 : any_double(in);
    }
}

void matrices(FuzzedDataProvider &in) {
    double q[6], qd[6];
    joints(in, q, qd);
    const double *qp = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : q;
    const double *qdp = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : qd;
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0: {
            Buffer b(in, 6, 6);
            com_M_matrix(qp, b.head);
            break;
        }
        case 1: {
            Buffer b(in, 6, 6);
            com_C_matrix(qp, qdp, b.head);
            break;
        }
        default: {
            Buffer b(in, 6, 1);
            com_G_matrix(qp, b.head);
            break;
        }
    }
}

// The observer's matrices of this cycle: of the arm's state (as the host computes them),
// arbitrary values, or null.
struct Dynamics {
    double M[36], V[36], g[6];
};

void own_dynamics(Dynamics &d) {
    double q[6], qd[6];
    for (int j = 0; j < 6; ++j) {
        q[j] = mpb.jointPos[j] * kPi / 180.0;
        qd[j] = mpb.actualJointVel[j] * kPi / 180.0;
    }
    double *m_rows[6], *v_rows[6], *g_rows[6];
    for (int i = 0; i < 6; ++i) {
        m_rows[i] = d.M + 6 * i;
        v_rows[i] = d.V + 6 * i;
        g_rows[i] = d.g + i;
    }
    com_M_matrix(q, MatHead{0, 5, 0, 5, 0, m_rows});
    com_C_matrix(q, qd, MatHead{0, 5, 0, 5, 0, v_rows});
    com_G_matrix(q, MatHead{0, 5, 0, 0, 0, g_rows});
}

void observer(FuzzedDataProvider &in, int &budget) {
    Dynamics d{};
    const int source = in.ConsumeIntegralInRange<int>(0, 3);
    if (source == 1) {
        fill(in, d.M);
        fill(in, d.V);
        fill(in, d.g);
    }
    const bool null_m = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const bool null_v = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const bool null_g = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const bool with_torque_cycle = in.ConsumeBool();
    const bool null_thr = in.ConsumeBool();
    const uint32_t fixed_joint = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 6)
                                                  : static_cast<uint32_t>(any_int(in));
    const bool every_joint = in.ConsumeBool();
    kxfuzz::run_cycles(in, budget, [&](int k) {
        if (source != 1) own_dynamics(d);
        if (source == 2 && in.remaining_bytes() > 0) {
            // One arbitrary element in an otherwise sound set.
            switch (in.ConsumeIntegralInRange<int>(0, 2)) {
                case 0:
                    d.M[in.ConsumeIntegralInRange<int>(0, 35)] = any_double(in);
                    break;
                case 1:
                    d.V[in.ConsumeIntegralInRange<int>(0, 35)] = any_double(in);
                    break;
                default:
                    d.g[in.ConsumeIntegralInRange<int>(0, 5)] = any_double(in);
                    break;
            }
        }
        if (with_torque_cycle) gravityTorqueControl(mpb.jointPos);
        double thr[6];
        const uint32_t j = every_joint ? static_cast<uint32_t>(k % 6) : fixed_joint;
        kxmcMomentumObserver(j, static_cast<uint32_t>(any_int(in)), null_m ? nullptr : d.M,
                             null_v ? nullptr : d.V, null_g ? nullptr : d.g,
                             static_cast<uint32_t>(any_int(in)), null_thr ? nullptr : thr);
    });
}

void observer_settings(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            mpb.collisionLevel[in.ConsumeIntegralInRange<int>(0, 5)] = any_float(in);
            break;
        case 1:
            mcb.speedRatioA = any_double(in);
            mcb.speedRatioB = any_double(in);
            break;
        case 2: {
            double rate[6];
            fill(in, rate);
            for (int j = 0; j < 6; ++j) mpb.actualJointVel[j] = rate[j];
            break;
        }
        default: {
            int32_t current[6];
            fill(in, current);
            for (int j = 0; j < 6; ++j) how.jointCurrent[j] = static_cast<int16_t>(current[j]);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr kxfuzz::Operation kOps[] = {kxfuzz::poke,
                                          kxfuzz::no_cycles<observer_settings>,
                                          kxfuzz::no_cycles<matrices>,
                                          observer,
                                          observer,
                                          observer};
    return kxfuzz::run_input(data, size, kOps);
}
