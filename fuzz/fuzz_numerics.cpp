// Fuzz harness of the shared numerics: fixed- and variable-size matrix routines, determinants,
// inversions, the rotation difference, Jacobians and the filters, with arbitrary entries
// (NaN, infinities, huge values), counts and channel indices. Buffers always have the size the
// interface states for the counts passed; counts below 1 are passed too.
#include <cstdint>

#include "fuzz_host.hpp"
#include "kxmc/kxmcforcetorque.h"

using kxfuzz::any_double;
using kxfuzz::any_float;
using kxfuzz::any_int;
using kxfuzz::fill;

namespace {

constexpr int32_t kMaxEntries = 64;

// A count for a variable-size routine: within the buffers when positive, or any count below 1.
int32_t any_count(FuzzedDataProvider &in, int32_t max) {
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        const int32_t n = any_int(in);
        return n < 1 ? n : 0;
    }
    return in.ConsumeIntegralInRange<int32_t>(1, max);
}

void matrices(FuzzedDataProvider &in) {
    double a[kMaxEntries], b[kMaxEntries], p[kMaxEntries];
    fill(in, a);
    fill(in, b);
    switch (in.ConsumeIntegralInRange<int>(0, 17)) {
        case 0: MatrixMul(a, b, p); break;
        case 1: MatrixMul3(a, b, p); break;
        case 2: MatrixMul6(a, b, a); break;  // in place, as allowed
        case 3: MatrixMul6and1(a, b, p); break;
        case 4: transposeMatrix(a, p); break;
        case 5: crossProduct(a, b, p); break;
        case 6: {
            const int32_t r = any_count(in, 8), c = any_count(in, 8);
            if (in.ConsumeBool()) {
                MatrixAddDimen(r, c, a, b, a);
            } else {
                MatrixSubDimen(r, c, a, b, p);
            }
            break;
        }
        case 7: {
            const int32_t r = any_count(in, 8), n = any_count(in, 8), c = any_count(in, 8);
            MatrixMulDimen(r, n, c, a, b, p);
            break;
        }
        case 8: {
            const int32_t r = any_count(in, 8), n = any_count(in, 8);
            MatrixMulDimenSingle(r, n, any_int(in), a, b, p);
            break;
        }
        case 9: {
            const int32_t r = any_count(in, 8), c = any_count(in, 8);
            transposeMatrixDimen(r, c, a, p);
            break;
        }
        case 10:
            determinant(a, any_int(in));
            determinantDimen(any_int(in), a);
            determinantDimen4(any_int(in), a);
            break;
        case 11: inverseJacobi(a, in.ConsumeBool() ? a : p); break;
        case 12: invNxN(a, p); break;
        case 13: inv(a, a); break;
        case 14: {
            float fa[16], fb[16];
            fill(in, fa);
            if (in.ConsumeBool()) {
                invMatrix(fa, fb);
            } else {
                inverseMatrix4(fa, fa);
            }
            break;
        }
        case 15: inverseMatrix2(a, p); break;
        case 16: quattorpy(kxfuzz::any_trsf(in), kxfuzz::any_trsf(in), p); break;
        default:
            rt_InitInfAndNaN();
            rtIsNaN(a[0]);
            rtIsInf(a[1]);
            rtIsNaNF(any_float(in));
            rtIsInfF(any_float(in));
            break;
    }
}

void jacobians(FuzzedDataProvider &in) {
    double q[6], alpha[6], a[6], d[6], j[36];
    fill(in, q);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            fill(in, alpha);
            fill(in, a);
            fill(in, d);
            Jacobian_com(alpha, a, d, q, j);
            break;
        case 1: {
            double v[6], qdot[6];
            fill(in, v);
            EndvelToJointvel(q, v, qdot);
            break;
        }
        case 2: {
            float dh[6], fq[6], fj[36];
            fill(in, dh);
            fill(in, fq);
            velocityJacob(dh, fq, fj);
            break;
        }
        default: {
            double *rows[6];
            for (int i = 0; i < 6; ++i) {
                rows[i] = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : j + 6 * i;
            }
            switch (in.ConsumeIntegralInRange<int>(0, 3)) {
                case 0: kx3_jacob(q, nullptr, nullptr, rows); break;
                case 1: kx5_jacob(q, nullptr, nullptr, rows); break;
                case 2: kx10_jacob(q, nullptr, nullptr, rows); break;
                default: kx16_jacob(q, nullptr, nullptr, rows); break;
            }
            break;
        }
    }
}

void filters(FuzzedDataProvider &in) {
    double y;
    const int ch = any_int(in), k = any_int(in);
    switch (in.ConsumeIntegralInRange<int>(0, 8)) {
        case 0: buttord(ch, k, &y); break;
        case 1: TualEncoderbuttord(ch, k, &y); break;
        case 2: Fivebuttord(ch, k, &y); break;
        case 3: Loadbuttord(ch, k, &y); break;
        case 4: LoadPosbuttord(ch, k, &y); break;
        case 5: ForceCollisionbuttord(ch, k, &y); break;
        case 6: myfilter(ch, any_double(in), &y); break;
        case 7: init_lowpassfilter(&lowpassfilter, any_float(in), any_float(in)); break;
        default: {
            double x[6];
            float out[6];
            fill(in, x);
            lowpassfilterMain(&lowpassfilter, x, out);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr kxfuzz::Operation kOps[] = {kxfuzz::poke, kxfuzz::no_cycles<matrices>,
                                          kxfuzz::no_cycles<jacobians>, kxfuzz::no_cycles<filters>};
    return kxfuzz::run_input(data, size, kOps);
}
