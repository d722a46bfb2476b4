// How the public layer's likelihood evaluates and adds its terms: every distinct value's
// term by the vector kernels (core/simd), long series split across the cores, and the sum
// in the pairwise order of core/pairwise_sum.hpp. The exact layer keeps one scalar term per
// value and a running sum in index order (ScalarEvaluation in censored_likelihood.hpp).
//
// The result is a function of the parameters and the series alone: a term does not depend
// on where its value falls among the pieces or the threads, and the order of the sum is
// fixed by the number of values.
#pragma once

#include <omp.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "core/families/registry.hpp"
#include "core/pairwise_sum.hpp"
#include "core/simd/vector_kernels.hpp"

namespace ferrule {

struct VectorEvaluation {
    // Below this many distinct values the terms are computed on one thread.
    static constexpr std::size_t kParallelFrom = 1 << 15;
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

    template <class F, class At> static simd::TermPoint point(const At &at) {
        simd::TermPoint tp{};
        const auto t = F::transformation(at.p);
        tp.t0 = t[0];
        if constexpr (F::kTransParams > 1) {
            tp.t1 = t[1];
        }
        tp.mu = at.p.mu;
        tp.sigma = at.p.sigma;
        if constexpr (F::modelsRawValue) {
            tp.normalConstant = at.terms.logNormalConstant;
            tp.logDelta = at.terms.logDelta;
            tp.logSigma = at.terms.logSigma;
        } else {
            tp.normalConstant = at.terms.normal.constant;
            tp.twoVariance = at.terms.normal.twoVariance;
        }
        tp.left = at.left;
        tp.right = at.right;
        // The thresholds mapped by the same vector code as the values, so that a value equal
        // to a threshold maps onto its transform bit for bit and counts as censored.
        const double thresholds[2] = {at.left, at.right};
        double mapped[2];
        simd::activeKernels().forward[familyIndex<F>()](t.data(), thresholds, mapped, 2);
        tp.tL = mapped[0];
        tp.tR = mapped[1];
        tp.below = at.masses.below;
        tp.above = at.masses.above;
        tp.logInside = at.masses.logInside;
        return tp;
    }

    // out[d] = the term of distinct[d] at the point `at` (a ValueTerm).
    template <class F, class At>
    static void terms(const At &at, const std::vector<double> &distinct, std::vector<double> &out) {
        const simd::TermPoint tp = point<F>(at);
        const simd::TermMap map = simd::activeKernels().terms[familyIndex<F>()];
        const std::size_t n = distinct.size();
        const auto pieces = static_cast<long long>((n + kPiece - 1) / kPiece);
        const auto piece = [&](long long k) {
            const std::size_t from = static_cast<std::size_t>(k) * kPiece;
            map(tp, distinct.data() + from, out.data() + from, std::min(kPiece, n - from));
        };
        if (n >= kParallelFrom && omp_get_max_threads() > 1) {
            // Pieces handed out one at a time: a thread that the system runs late takes fewer.
#pragma omp parallel for schedule(dynamic, 1)
            for (long long k = 0; k < pieces; ++k) {
                piece(k);
            }
        } else {
            for (long long k = 0; k < pieces; ++k) {
                piece(k);
            }
        }
    }

    // The sum of terms[slots[i]] over the values, pairwise.
    static double sum(const std::vector<double> &terms, const std::vector<std::uint32_t> &slots) {
        return pairwiseSum(slots.size(), [&](std::size_t i) { return terms[slots[i]]; });
    }
};

} // namespace ferrule
