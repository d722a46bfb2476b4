// How the public layer's likelihood evaluates and adds its terms: every distinct value's
// term by the vector kernels (core/simd), weighted by its multiplicity, long series split
// across the cores, and the sum in the pairwise order of core/pairwise_sum.hpp, piece by
// piece. The exact layer keeps one scalar term per value and a running sum in index order
// (ScalarEvaluation in likelihood_policy.hpp).
//
// The result is a function of the parameters and the series alone: a term does not depend
// on where its value falls among the pieces or the threads, and the order of the sum is
// fixed by the number of distinct values.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "core/families/registry.hpp"
#include "core/pairwise_sum.hpp"
#include "core/simd/thread_choice.hpp"
#include "core/simd/vector_kernels.hpp"

namespace ferrule {

struct VectorEvaluation {
    static constexpr std::size_t kPiece = 1 << 12;

    template <class F> static constexpr int familyIndex() {
        if constexpr (std::is_same_v<F, YeoJohnson>) {
            return static_cast<int>(FamilyId::YeoJohnson);
        } else if constexpr (std::is_same_v<F, LogSinh>) {
            return static_cast<int>(FamilyId::LogSinh);
        } else if constexpr (std::is_same_v<F, SinhAsinh>) {
            return static_cast<int>(FamilyId::SinhAsinh);
        } else {
            static_assert(std::is_same_v<F, JonesPewsey>, "a family of the registry");
            return static_cast<int>(FamilyId::JonesPewsey);
        }
    }

    // The parts of a point that the gradient kernels read: the parameters, the density's
    // constants and the raw thresholds (those kernels map the thresholds themselves and add
    // no censored mass), without the censored masses that only the terms need.
    template <class F> static simd::TermPoint shapePoint(const typename F::Terms &terms, double left, double right) {
        simd::TermPoint tp{};
        const auto t = F::transformation(terms.p);
        tp.t0 = t[0];
        if constexpr (F::kTransParams > 1) {
            tp.t1 = t[1];
        }
        tp.mu = terms.p.mu;
        tp.sigma = terms.p.sigma;
        if constexpr (F::modelsRawValue) {
            tp.normalConstant = terms.logNormalConstant;
            tp.logDelta = terms.logDelta;
            tp.logSigma = terms.logSigma;
        } else {
            tp.normalConstant = terms.normal.constant;
            tp.twoVariance = terms.normal.twoVariance;
        }
        tp.left = left;
        tp.right = right;
        return tp;
    }

    template <class F, class At> static simd::TermPoint point(const At &at) {
        simd::TermPoint tp = shapePoint<F>(at.terms, at.left, at.right);
        // The thresholds mapped by the same vector code as the values, so that a value equal
        // to a threshold maps onto its transform bit for bit and counts as censored.
        const double t[2] = {tp.t0, tp.t1};
        const double thresholds[2] = {at.left, at.right};
        double mapped[2];
        simd::activeKernels().forward[familyIndex<F>()](t, thresholds, mapped, 2);
        tp.tL = mapped[0];
        tp.tR = mapped[1];
        tp.below = at.masses.below;
        tp.above = at.masses.above;
        tp.logInside = at.masses.logInside;
        return tp;
    }

    // The sum of the terms of a series at the point `at` (a ValueTerm): each distinct value's
    // term times its multiplicity, over the distinct values in their sorted order, cut into
    // pieces of kPiece; each piece summed pairwise (pairwise_sum.hpp), then the pieces' sums
    // pairwise in piece order. The order is fixed by the number of distinct values, so the
    // sum is the same on any thread count, whichever way ThreadChoice takes. `scratch` holds
    // one piece's terms and the pieces' sums (grown once when short).
    template <class F, class At, class Series>
    static double sumOfTerms(const At &at, const Series &series, std::vector<double> &scratch) {
        const simd::TermPoint tp = point<F>(at);
        const simd::TermMap map = simd::activeKernels().terms[familyIndex<F>()];
        const std::vector<double> &distinct = series.distinct();
        const std::vector<double> &counts = series.counts();
        const std::size_t n = distinct.size();
        const std::size_t pieces = (n + kPiece - 1) / kPiece;
        const std::size_t buffer = std::min(n, kPiece);
        if (scratch.size() < buffer + pieces) {
            scratch.resize(buffer + pieces);
        }
        double *const pieceSums = scratch.data() + buffer;
        const auto piece = [&](std::size_t k, double *terms) {
            const std::size_t from = k * kPiece, m = std::min(kPiece, n - from);
            map(tp, distinct.data() + from, terms, m);
            const double *w = counts.data() + from;
            pieceSums[k] = pairwiseSum(m, [terms, w](std::size_t i) { return w[i] * terms[i]; });
        };
        forEachPiece<F>(n, pieces, kPiece, scratch.data(), piece);
        return pairwiseSum(pieces, [pieceSums](std::size_t k) { return pieceSums[k]; });
    }
};

} // namespace ferrule
