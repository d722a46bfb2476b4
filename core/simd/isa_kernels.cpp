// The vector kernels of one instruction set (FERRULE_SIMD_ISA): blocks of kWidth values,
// the last one padded, so every value goes through the same vector code.
#include <cmath>

#include "core/simd/family_lanes.hpp"
#include "core/simd/gradient_lanes.hpp"

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
// The thresholds are mapped by L's own transform, so that a value equal to one counts as
// censored.
template <class L> void normalTerms(const TermPoint &at, const double *x, double *out, std::size_t n) {
    const Pack ends = L::forward(loadPartial(&at.left, 1, at.right), at.t0, at.t1);
    const double tL = ends[0], tR = ends[1];
    blocks(x, out, n, [&](Pack v) {
        Pack jacobian;
        const Pack y = L::forwardAndJacobian(v, at.t0, at.t1, jacobian);
        const Sides side = classify(v, y, at.left, at.right, tL, tR);
        const Pack d = y - at.mu;
        const Pack uncensored = (jacobian + (at.normalConstant - d * d / at.twoVariance)) - at.logInside;
        return select(side.none, uncensored, select(side.left, splat(at.below), splat(at.above)));
    });
}

// Yeo-Johnson's term from one log1p and one exp (YeoJohnsonSlopes) rather than a logarithm
// and a power: the derivatives it also gives are left unused, and the compiler drops them.
struct YeoJohnsonTermLanes {
    static Pack forward(Pack x, double lambda, double) { return YeoJohnsonSlopes::forward(x, &lambda); }
    static Pack forwardAndJacobian(Pack x, double lambda, double, Pack &jacobian) {
        Pack dy[1], dJ[1];
        return YeoJohnsonSlopes::slopes(x, &lambda, jacobian, dy, dJ);
    }
};

// Where Jones-Pewsey's values stand: censoring judged on T(x) = sinh(delta asinh x + epsilon).
// Strictly inside the thresholds a value is uncensored wherever T(x) is finite, which
// |x| < sinh((700 - |epsilon|)/delta) ensures (then |delta asinh x + epsilon| < 700): a pack
// of such values needs neither asinh nor sinh of x.
struct JonesPewseySides {
    const TermPoint &at;
    double tL, tR, bound;
    JonesPewseySides(const TermPoint &point, double lowEnd, double highEnd) : at(point), tL(lowEnd), tR(highEnd) {
        const double reach = (700.0 - std::fabs(at.t1)) / at.t0;
        // (No std::min: an inline function compiled here for one instruction set could serve
        // callers built for another.)
        bound = reach > 0.0 ? std::sinh(reach < 711.0 ? reach : 711.0) : 0.0;
    }
    Sides operator()(Pack v) const {
        const Mask plain = (at.left < v) & (v < at.right) & (fabs(v) < bound);
        if (!any(~plain)) {
            return Sides{plain, plain & ~plain};
        }
        return classify(v, sinh(at.t0 * asinh(v) + at.t1), at.left, at.right, tL, tR);
    }
};

// Jones-Pewsey's term, the density that of x itself: with z = (x - mu)/sigma,
// a = delta asinh(z) + epsilon and s = sinh(a),
// log(cosh(a)/sqrt(z^2 + 1)) + log delta - log sigma + (-1/2 log(2 pi) - s^2/2).
void jonesPewseyTerms(const TermPoint &at, const double *x, double *out, std::size_t n) {
    const JonesPewseySides sides(at, at.tL, at.tR);
    blocks(x, out, n, [&](Pack v) {
        const Sides side = sides(v);
        const Pack z = (v - at.mu) / at.sigma;
        const Pack a = at.t0 * asinh(z) + at.t1;
        Pack s, c;
        sinhCosh(a, s, c);
        const Pack uncensored =
            log(c / sqrt(z * z + 1.0)) + at.logDelta - at.logSigma + (at.normalConstant - 0.5 * (s * s));
        return select(side.none, uncensored, select(side.left, splat(at.below), splat(at.above)));
    });
}

// The gradient rows (vector_kernels.hpp) of n values, kWidth at a time, the last pack padded.
// op(v, w, out) fills out[r], r < kRows, for the values v of weights w.
template <std::size_t kRows = kGradientRows, class Op>
void gradientBlocks(const double *x, const double *weight, double *rows, std::size_t n, Op op) {
    for (std::size_t i = 0; i < n; i += kWidth) {
        Pack out[kRows] = {};
        const std::size_t m = n - i < static_cast<std::size_t>(kWidth) ? n - i : kWidth;
        const bool whole = m == static_cast<std::size_t>(kWidth);
        op(whole ? load(x + i) : loadPartial(x + i, m, 0.0), whole ? load(weight + i) : loadPartial(weight + i, m, 0.0),
           out);
        for (std::size_t r = 0; r < kRows; ++r) {
            if (whole) {
                store(rows + r * n + i, out[r]);
            } else {
                storePartial(rows + r * n + i, out[r], m);
            }
        }
    }
}

// The censored rows: a value's weight on its side, 0 elsewhere; the uncensored rows zeroed
// where the value is censored.
inline void sideRows(const Sides &side, Pack w, Pack *out, std::size_t slopes) {
    const Pack zero = splat(0.0);
    for (std::size_t r = kTermRow; r < kSlopeRow + slopes; ++r) {
        out[r] = select(side.none, out[r] * w, zero);
    }
    out[kLeftRow] = select(side.left, w, zero);
    out[kRightRow] = select(side.none | side.left, zero, w);
}

// A family whose T(x) is modelled as normal: with r = (y - mu)/sigma the term is
// J + (-1/2 log(2 pi sigma^2) - (y - mu)^2/(2 sigma^2)), its derivatives
// -r/sigma dy/dt + dJ/dt, r/sigma in mu and (r^2 - 1)/sigma in sigma.
template <class S>
void normalGradients(const TermPoint &at, const double *x, const double *weight, double *rows, std::size_t n) {
    const double t[2] = {at.t0, at.t1};
    const Pack ends = S::forward(loadPartial(&at.left, 1, at.right), t);
    const double tL = ends[0], tR = ends[1];
    gradientBlocks(x, weight, rows, n, [&](Pack v, Pack w, Pack *out) {
        Pack jacobian, dy[S::kT], dJ[S::kT];
        const Pack y = S::slopes(v, t, jacobian, dy, dJ);
        const Sides side = classify(v, y, at.left, at.right, tL, tR);
        const Pack d = y - at.mu;
        const Pack r = d / at.sigma;
        out[kTermRow] = jacobian + (at.normalConstant - d * d / at.twoVariance);
        for (int j = 0; j < S::kT; ++j) {
            out[kSlopeRow + j] = -r / at.sigma * dy[j] + dJ[j];
        }
        out[kSlopeRow + S::kT] = r / at.sigma;
        out[kSlopeRow + S::kT + 1] = (r * r - 1.0) / at.sigma;
        sideRows(side, w, out, S::kT + 2);
    });
}

// The same rows with the uncensored terms' second derivatives after them: with r as above,
//   d2/dti dtj = -(dy/dti dy/dtj)/sigma^2 - r/sigma d2y/dti dtj + d2J/dti dtj,
//   d2/dt dmu = dy/dt/sigma^2, d2/dt dsigma = 2 r dy/dt/sigma^2, d2/dmu2 = -1/sigma^2,
//   d2/dmu dsigma = -2 r/sigma^2, d2/dsigma2 = (1 - 3 r^2)/sigma^2.
template <class S>
void normalCurvatures(const TermPoint &at, const double *x, const double *weight, double *rows, std::size_t n) {
    constexpr std::size_t kT = S::kT, kP = kT + 2;
    const double t[2] = {at.t0, at.t1};
    const Pack ends = S::forward(loadPartial(&at.left, 1, at.right), t);
    const double tL = ends[0], tR = ends[1];
    const double inverseVariance = 1.0 / (at.sigma * at.sigma);
    gradientBlocks<kCurvatureRow + pairCount(kP)>(x, weight, rows, n, [&](Pack v, Pack w, Pack *out) {
        Pack jacobian, dy[kT], dJ[kT], dyy[pairCount(kT)], dJJ[pairCount(kT)];
        const Pack y = S::curvatures(v, t, jacobian, dy, dJ, dyy, dJJ);
        const Sides side = classify(v, y, at.left, at.right, tL, tR);
        const Pack d = y - at.mu;
        const Pack r = d / at.sigma;
        out[kTermRow] = jacobian + (at.normalConstant - d * d / at.twoVariance);
        for (std::size_t j = 0; j < kT; ++j) {
            out[kSlopeRow + j] = -r / at.sigma * dy[j] + dJ[j];
        }
        out[kSlopeRow + kT] = r / at.sigma;
        out[kSlopeRow + kT + 1] = (r * r - 1.0) / at.sigma;
        sideRows(side, w, out, kT + 2);
        Pack *h = out + kCurvatureRow;
        for (std::size_t i = 0; i < kT; ++i) {
            for (std::size_t j = i; j < kT; ++j) {
                h[pairIndex(i, j, kP)] = -(dy[i] * dy[j]) * inverseVariance - r / at.sigma * dyy[pairIndex(i, j, kT)] +
                                         dJJ[pairIndex(i, j, kT)];
            }
            h[pairIndex(i, kT, kP)] = dy[i] * inverseVariance;
            h[pairIndex(i, kT + 1, kP)] = 2.0 * r * dy[i] * inverseVariance;
        }
        h[pairIndex(kT, kT, kP)] = splat(-inverseVariance);
        h[pairIndex(kT, kT + 1, kP)] = -2.0 * r * inverseVariance;
        h[pairIndex(kT + 1, kT + 1, kP)] = (1.0 - 3.0 * (r * r)) * inverseVariance;
        const Pack zero = splat(0.0);
        for (std::size_t k = 0; k < pairCount(kP); ++k) {
            h[k] = select(side.none, h[k] * w, zero);
        }
    });
}

// Jones-Pewsey, censoring judged on T(x) as in its terms: with z = (x - mu)/sigma, A = asinh z,
// a = delta A + epsilon, s = sinh a, w = 1/sqrt(z^2 + 1) and d/da of the term
// tanh a - s cosh a, the derivatives (jones_pewsey_gradient.hpp) are
// byA A + 1/delta, byA, -byZ/sigma and -(byZ z + 1)/sigma, byZ = byA delta w - z w^2; with
// kSecond also the second derivatives, from those in (delta, epsilon, z) with
// byA2 = sech^2 a - cosh 2a (jones_pewsey_gradient.hpp).
template <bool kSecond>
void jonesPewseyRows(const TermPoint &at, const double *x, const double *weight, double *rows, std::size_t n) {
    const Pack ends = SinhAsinhLanes::forward(loadPartial(&at.left, 1, at.right), at.t0, at.t1);
    const JonesPewseySides sides(at, ends[0], ends[1]);
    constexpr std::size_t kRows = kSecond ? kCurvatureRow + pairCount(4) : kGradientRows;
    gradientBlocks<kRows>(x, weight, rows, n, [&](Pack v, Pack weights, Pack *out) {
        const Sides side = sides(v);
        const Pack z = (v - at.mu) / at.sigma;
        const Pack asinhZ = asinh(z);
        const Pack a = at.t0 * asinhZ + at.t1;
        Pack s, c;
        sinhCosh(a, s, c);
        const Pack zz = z * z + 1.0;
        out[kTermRow] = log(c / sqrt(zz)) + at.logDelta - at.logSigma + (at.normalConstant - 0.5 * (s * s));
        const Pack w = 1.0 / sqrt(zz);
        const Pack byA = tanhFrom(a, s, c) - s * c;
        const Pack byZ = byA * at.t0 * w - z * w * w;
        out[kSlopeRow] = byA * asinhZ + 1.0 / at.t0;
        out[kSlopeRow + 1] = byA;
        out[kSlopeRow + 2] = -byZ / at.sigma;
        out[kSlopeRow + 3] = -byZ * z / at.sigma - 1.0 / at.sigma;
        sideRows(side, weights, out, 4);
        if constexpr (kSecond) {
            const double delta = at.t0, iv = 1.0 / (at.sigma * at.sigma);
            const Pack byA2 = 1.0 / (c * c) - (c * c + s * s);
            const Pack w2 = w * w;
            const Pack tz0 = byA2 * asinhZ * delta * w + byA * w, tz1 = byA2 * delta * w;
            const Pack fzz = byA2 * (delta * delta) * w2 - byA * delta * z * w2 * w - w2 * w2 * (1.0 - z * z);
            Pack *h = out + kCurvatureRow;
            h[0] = byA2 * asinhZ * asinhZ - 1.0 / (delta * delta);
            h[1] = byA2 * asinhZ;
            h[2] = -tz0 / at.sigma;
            h[3] = -z * tz0 / at.sigma;
            h[4] = byA2;
            h[5] = -tz1 / at.sigma;
            h[6] = -z * tz1 / at.sigma;
            h[7] = fzz * iv;
            h[8] = (z * fzz + byZ) * iv;
            h[9] = (z * z * fzz + 2.0 * z * byZ) * iv + iv;
            const Pack zero = splat(0.0);
            for (std::size_t k = 0; k < pairCount(4); ++k) {
                h[k] = select(side.none, h[k] * weights, zero);
            }
        }
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
    {normalGradients<YeoJohnsonSlopes>, normalGradients<LogSinhSlopes>, normalGradients<SinhAsinhSlopes>,
     jonesPewseyRows<false>},
    {normalCurvatures<YeoJohnsonSlopes>, normalCurvatures<LogSinhSlopes>, normalCurvatures<SinhAsinhSlopes>,
     jonesPewseyRows<true>},
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
