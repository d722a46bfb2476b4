// How the censored likelihood evaluates the normal masses of its censored terms, and
// (Evaluation) how it computes and adds up the terms of the values: a policy type of
// CensoredLikelihood, in the manner of Boost.Math's policies. The exact layer and the
// public layer run the same likelihood with different policies.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/families/kernel_support.hpp"
#include "core/normal.hpp"
#include "core/simd/vector_terms.hpp"
#include "core/standard_normal.hpp"

namespace ferrule {

// What the censored terms of one parameter point are: the log masses below the left and
// above the right threshold, and the log mass the model has inside the transform's range,
// which every uncensored term has subtracted.
struct CensoredMasses {
    double below;
    double above;
    double logInside;
};

// log(Phi(b) - Phi(a)) for a <= b, without cancellation: the difference is taken in the
// tail that holds the interval (lower tails where b <= 0, upper ones where a >= 0), else
// as 1 minus the two tails. -inf for an empty interval, NaN for a NaN bound.
inline double logNormalMassBetween(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (!(a < b)) {
        return -std::numeric_limits<double>::infinity();
    }
    if (b <= 0.0) {
        const double upper = standardNormalLogCdf(b);
        return upper + std::log1p(-std::exp(standardNormalLogCdf(a) - upper));
    }
    if (a >= 0.0) {
        const double upper = standardNormalLogCdf(-a);
        return upper + std::log1p(-std::exp(standardNormalLogCdf(-b) - upper));
    }
    return std::log1p(-(standardNormalCdf(a) + standardNormalCdf(-b)));
}

// One scalar term per distinct value (ValueTerm::term), and a running sum value by value
// in index order.
struct ScalarEvaluation {
    template <class F, class At, class Series>
    static double sumOfTerms(const At &at, const Series &series, std::vector<double> &terms) {
        const std::vector<double> &distinct = series.distinct();
        for (std::size_t d = 0; d < distinct.size(); ++d) {
            terms[d] = at.term(distinct[d]);
        }
        double s = 0.0;
        for (const std::uint32_t slot : series.slots()) {
            s = terms[slot] + s;
        }
        return s;
    }
};

// The exact layer: log Phi(zL) and log(1 - Phi(zR)) with the short approximation of
// normalCdf, logarithms taken directly, and the normal as it is, whatever mass lies beyond
// the transform's range. Deep tails round to a mass of 0 (log -inf) and moderately deep
// ones carry the approximation's absolute error of about 1e-7.
struct ExactNormalMass {
    using Evaluation = ScalarEvaluation;
    static constexpr bool kWithinRange = false;
    static CensoredMasses masses(double zL, double zR) {
        return {std::log(normalCdf(zL)), std::log(1.0 - normalCdf(zR)), 0.0};
    }
};

// The public layer: a proper distribution in data units. Where the transform's range is
// bounded (Yeo-Johnson with lambda < 0 or > 2), the normal is renormalised to the scores
// (zBottom, zTop) the range reaches, so no mass lies beyond what the inverse can map
// back; every mass is log Phi to full precision in both tails. A fit's likelihood is then
// the sum of the log-probabilities its distribution reports; the terms by the vector
// kernels and the sum pairwise (VectorEvaluation).
struct AccurateNormalMass {
    static inline const double kLeastLogInside = std::log(std::numeric_limits<double>::min());
    using Evaluation = VectorEvaluation;
    static constexpr bool kWithinRange = true;
    static CensoredMasses masses(double zBottom, double zL, double zR, double zTop) {
        // A negative sigma (outside the model, reachable by the unbounded simplex) turns the
        // range around; its mass is that between the two scores all the same.
        const double inside =
            zBottom <= zTop ? logNormalMassBetween(zBottom, zTop) : logNormalMassBetween(zTop, zBottom);
        // A normal with less than the smallest normal double of its mass inside the range is
        // refused: renormalised, its density is a difference of squared scores of the order
        // of -log(mass), so far beyond the range (sigma 1e-44, scores 1e45) that rounding
        // alone makes log-likelihoods of 1e76. No fit of data inside the range lives there.
        if (!(inside >= kLeastLogInside)) {
            return {kOutOfRangeTerm, kOutOfRangeTerm, -kOutOfRangeTerm};
        }
        return {logNormalMassBetween(zBottom, zL) - inside, logNormalMassBetween(zR, zTop) - inside, inside};
    }
};

} // namespace ferrule
