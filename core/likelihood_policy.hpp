// How the censored likelihood evaluates the normal masses of its censored terms, and
// (Evaluation) how it computes and adds up the terms of the values: a policy type of
// CensoredLikelihood, in the manner of Boost.Math's policies. The exact layer and the
// public layer run the same likelihood with different policies.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/normal.hpp"
#include "core/simd/vector_terms.hpp"
#include "core/standard_normal.hpp"

namespace ferrule {

// One scalar term per distinct value (ValueTerm::term), and a running sum value by value
// in index order.
struct ScalarEvaluation {
    template <class F, class At>
    static void terms(const At &at, const std::vector<double> &distinct, std::vector<double> &out) {
        for (std::size_t d = 0; d < distinct.size(); ++d) {
            out[d] = at.term(distinct[d]);
        }
    }
    static double sum(const std::vector<double> &terms, const std::vector<std::uint32_t> &slots) {
        double s = 0.0;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            s = terms[slots[i]] + s;
        }
        return s;
    }
};

// The exact layer: log Phi(z) and log(1 - Phi(z)) with the short approximation of
// normalCdf, logarithms taken directly. Deep tails round to a mass of 0 (log -inf) and
// moderately deep ones carry the approximation's absolute error of about 1e-7.
struct ExactNormalMass {
    using Evaluation = ScalarEvaluation;
    static double logBelow(double z) { return std::log(normalCdf(z)); }
    static double logAbove(double z) { return std::log(1.0 - normalCdf(z)); }
};

// The public layer: log Phi to full precision in both tails (1 - Phi(z) = Phi(-z)), so the
// likelihood of a fit is the sum of the log-probabilities its distribution reports; the
// terms by the vector kernels and the sum pairwise (VectorEvaluation).
struct AccurateNormalMass {
    using Evaluation = VectorEvaluation;
    static double logBelow(double z) { return standardNormalLogCdf(z); }
    static double logAbove(double z) { return standardNormalLogCdf(-z); }
};

} // namespace ferrule
