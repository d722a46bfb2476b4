// The vector kernels of one instruction set (FERRULE_SIMD_ISA): blocks of kWidth values,
// the last one padded, so every value goes through the same vector code.
#include "core/simd/family_lanes.hpp"

#include "core/simd/vector_kernels.hpp"

namespace ferrule::simd {

namespace FERRULE_SIMD_NS {
namespace {

template <class Op> void blocks(const double *in, double *out, std::size_t n, Op op) {
    std::size_t i = 0;
    for (; i + kWidth <= n; i += kWidth) {
        store(out + i, op(load(in + i)));
    }
    if (i < n) {
        storePartial(out + i, op(loadPartial(in + i, n - i, 0.0)), n - i);
    }
}

void yjForward(const double *t, const double *x, double *out, std::size_t n) {
    blocks(x, out, n, [l = t[0]](Pack v) { return YeoJohnsonLanes::forward(v, l); });
}
void yjInverse(const double *t, const double *y, double *out, std::size_t n) {
    blocks(y, out, n, [l = t[0]](Pack v) { return YeoJohnsonLanes::inverse(v, l); });
}
void yjLogJacobian(const double *t, const double *x, double *out, std::size_t n) {
    blocks(x, out, n, [l = t[0]](Pack v) { return YeoJohnsonLanes::logJacobian(v, l); });
}

template <class L> void forward2(const double *t, const double *x, double *out, std::size_t n) {
    blocks(x, out, n, [a = t[0], b = t[1]](Pack v) { return L::forward(v, a, b); });
}
template <class L> void inverse2(const double *t, const double *y, double *out, std::size_t n) {
    blocks(y, out, n, [a = t[0], b = t[1]](Pack v) { return L::inverse(v, a, b); });
}
template <class L> void logJacobian2(const double *t, const double *x, double *out, std::size_t n) {
    blocks(x, out, n, [a = t[0], b = t[1]](Pack v) { return L::logJacobian(v, a, b); });
}

// The likelihood term of each value: its censoring as classify() decides, the censored
// terms as given, the uncensored one the normal log density of y plus the log Jacobian,
// less log M where the normal is renormalised to a bounded range (x - 0 is x, bit for bit).
template <class L> void normalTerms(const TermPoint &at, const double *x, double *out, std::size_t n) {
    blocks(x, out, n, [&at](Pack v) {
        Pack jacobian;
        const Pack y = L::forwardAndJacobian(v, at.t0, at.t1, jacobian);
        const Sides side = classify(v, y, at.left, at.right, at.tL, at.tR);
        const Pack d = y - at.mu;
        const Pack uncensored = (jacobian + (at.normalConstant - d * d / at.twoVariance)) - at.logInside;
        return select(side.none, uncensored, select(side.left, splat(at.below), splat(at.above)));
    });
}

struct YeoJohnsonTermLanes {
    static Pack forwardAndJacobian(Pack x, double lambda, double, Pack &jacobian) {
        return YeoJohnsonLanes::forwardAndJacobian(x, lambda, jacobian);
    }
};

// Jones-Pewsey: censoring judged on T(x), the density that of x itself: with
// z = (x - mu)/sigma, a = delta asinh(z) + epsilon and s = sinh(a),
// log cosh(a) + log delta - 1/2 log(z^2 + 1) - log sigma + (-1/2 log(2 pi) - s^2/2).
void jonesPewseyTerms(const TermPoint &at, const double *x, double *out, std::size_t n) {
    blocks(x, out, n, [&at](Pack v) {
        // Strictly inside the thresholds a value is uncensored wherever T(x) = sinh(a) is
        // finite, which |a| < 709 ensures: then classify() needs no sinh.
        const Pack a0 = at.t0 * asinh(v) + at.t1;
        const Mask plain = (at.left < v) & (v < at.right) & (fabs(a0) < 709.0);
        const Sides side =
            any(~plain) ? classify(v, sinh(a0), at.left, at.right, at.tL, at.tR) : Sides{plain, plain & ~plain};
        const Pack z = (v - at.mu) / at.sigma;
        const Pack a = at.t0 * asinh(z) + at.t1;
        const Pack s = sinh(a);
        const Pack uncensored =
            log(cosh(a)) + at.logDelta - 0.5 * log(z * z + 1.0) - at.logSigma + (at.normalConstant - 0.5 * (s * s));
        return select(side.none, uncensored, select(side.left, splat(at.below), splat(at.above)));
    });
}

void normalCdf(const double *z, double *out, std::size_t n) {
    blocks(z, out, n, [](Pack v) { return StandardNormalLanes::cdf(v); });
}
void normalLogCdf(const double *z, double *out, std::size_t n) {
    blocks(z, out, n, [](Pack v) { return StandardNormalLanes::logCdf(v); });
}

// Families in FamilyId order: Yeo-Johnson, log-sinh, sinh-arcsinh, Jones-Pewsey.
const VectorKernels kKernels{
    kIsaName,
    {yjForward, forward2<LogSinhLanes>, forward2<SinhAsinhLanes>, forward2<SinhAsinhLanes>},
    {yjInverse, inverse2<LogSinhLanes>, inverse2<SinhAsinhLanes>, inverse2<SinhAsinhLanes>},
    {yjLogJacobian, logJacobian2<LogSinhLanes>, logJacobian2<SinhAsinhLanes>, logJacobian2<SinhAsinhLanes>},
    {normalTerms<YeoJohnsonTermLanes>, normalTerms<LogSinhLanes>, normalTerms<SinhAsinhLanes>, jonesPewseyTerms},
    normalCdf,
    normalLogCdf,
};

} // namespace
} // namespace FERRULE_SIMD_NS

#if FERRULE_SIMD_ISA == 512
const VectorKernels *kernels512() { return &isa512::kKernels; }
#elif FERRULE_SIMD_ISA == 256
const VectorKernels *kernels256() { return &isa256::kKernels; }
#else
const VectorKernels *kernels128() { return &isa128::kKernels; }
#endif

} // namespace ferrule::simd
