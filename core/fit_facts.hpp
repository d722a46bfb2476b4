// The facts a fitted optimum is judged on, computed once where the fit ends: what the
// likelihood says there, how the map treats the data, how much of the fitted normal the map's
// range holds, whether the model gives its own data back, and where the point stands in the
// search box. Facts only: the verdicts and their words belong to the public layer.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/box_optimum.hpp"
#include "core/censored_likelihood.hpp"
#include "core/checked_sort.hpp"
#include "core/likelihood_gradient.hpp"
#include "core/ridge_limit.hpp"
#include "core/standard_normal.hpp"

namespace ferrule {

struct FitFacts {
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    double logLik = kNaN;       // at the optimum, without prior, in the units of the fit
    double logPosterior = kNaN; // with the prior; NaN when the fit has none
    std::int64_t nLeft = 0;     // values the likelihood counts as censored on each side
    std::int64_t nRight = 0;
    // Distinct uncensored values, two whose relative gap is below kRoundingApart counting
    // as one (sums of decimal amounts taken in another order differ only by rounding).
    std::int64_t distinctUncensored = 0;
    std::int64_t saturatedPairs = 0;  // neighbours among them with one transformed value
    std::int64_t decreasingSteps = 0; // neighbours whose transforms go down
    std::int64_t undefinedValues = 0; // values between the thresholds where T is NaN
    std::int64_t misplacedValues = 0; // censored between the thresholds or uncensored beyond
    // Standard deviation of what sigma scales: T(x) of the uncensored values, x itself for
    // a family that models the raw value. NaN with fewer than two of them.
    double spread = kNaN;
    // Normal mass the fitted model leaves beyond the map's range (scores of T(-inf), T(+inf)).
    double massBeyondRange = kNaN;
    // Largest relative error of the model's inverse at its own extreme uncensored values:
    // |x' - x| / max(|x|, range of the values), x' from the standard score of x; inf where
    // x' is not finite.
    double roundTripError = kNaN;
    // Bit j: search coordinate j at its lower / upper bound, outside its box, and (for one
    // on a bound) a constrained optimum there (box_optimum.hpp).
    std::uint32_t atLower = 0;
    std::uint32_t atUpper = 0;
    std::uint32_t outsideBox = 0;
    std::uint32_t constrained = 0;
    bool degenerateLimit = false; // the family's own degenerate limit (F::atDegenerateLimit)
    // For a family with limits along ridges of unidentified parameters (F::kRidgeLimits):
    // the log-likelihood of a limit's map, matched to T on the data, or of a probe further
    // along the ridge with the other parameters settled, less that of the fit, the largest
    // over the ridges' limits, and which limit fits alike (the family's number k >= 1; 0 for
    // none): ridge_limit.hpp. Near zero or above: the data do not tell the fit from the
    // limit, which is as good or better.
    double limitGain = kNaN;
    int limit = 0;
};

namespace facts_detail {

inline constexpr double kRoundingApart = 1e-12;

// What the fitted model makes standard normal before standardising: T(x), or for a family
// that models the raw value T((x - mu) / sigma).
template <class F> double transformed(double x, const typename F::Params &p) {
    if constexpr (F::modelsRawValue) {
        return F::forward((x - p.mu) / p.sigma, p);
    } else {
        return F::forward(x, p);
    }
}

// x back from its standard score r, as the fitted distribution inverts it.
template <class F> double roundTrip(double x, const typename F::Params &p) {
    const double r = F::thresholdScore(x, F::forward(x, p), p);
    if constexpr (F::modelsRawValue) {
        return p.mu + p.sigma * F::inverse(r, p);
    } else {
        return F::inverse(p.mu + p.sigma * r, p);
    }
}

} // namespace facts_detail

// The facts of the optimum q of a fit of `series` (in the units of the fit), the prior
// counted when isMap. Mass: the likelihood policy of the fit.
template <class F, class Mass> FitFacts fitFacts(const PreparedSeries &series, const double *q, bool isMap) {
    using namespace facts_detail;
    FitFacts facts;
    const Vector &distinct = series.distinct();
    std::vector<std::int64_t> counts(distinct.size(), 0);
    for (const std::uint32_t slot : series.slots()) {
        ++counts[slot];
        series.checkpoint().done();
    }
    const double left = series.left(), right = series.right();
    if (std::any_of(q, q + F::kParams, [](double v) { return std::isnan(v); })) {
        // No optimum: the thresholds alone say which values are censored.
        for (std::size_t d = 0; d < distinct.size(); ++d) {
            facts.nLeft += distinct[d] <= left ? counts[d] : 0;
            facts.nRight += distinct[d] >= right ? counts[d] : 0;
        }
        return facts;
    }
    const BoxPlace place = boxPlace<F>(q);
    facts.atLower = place.atLower;
    facts.atUpper = place.atUpper;
    facts.outsideBox = place.outsideBox;
    const typename F::Params p = F::decode(q);
    facts.logLik = CensoredLikelihood<F, Mass>(series, false).logLik(q);
    if (isMap) {
        facts.logPosterior = F::logPrior(p) + facts.logLik; // the order the likelihood adds it
    }

    // Each distinct value's side, and what sigma scales where it is uncensored: x itself for
    // a family that models the raw value, else T(x).
    const ValueTerm<F, Mass> at(p, left, right);
    std::vector<double> uncensored;
    std::vector<char> isUncensored(distinct.size(), 0);
    std::vector<double> scaled(distinct.size(), 0.0);
    for (std::size_t d = 0; d < distinct.size(); ++d) {
        series.checkpoint().done();
        const double x = distinct[d];
        const Censoring side = at.side(x);
        const bool between = left < x && x < right;
        facts.nLeft += side == Censoring::Left ? counts[d] : 0;
        facts.nRight += side == Censoring::Right ? counts[d] : 0;
        facts.misplacedValues += between != (side == Censoring::None) ? counts[d] : 0;
        facts.undefinedValues += between && std::isnan(transformed<F>(x, p)) ? counts[d] : 0;
        if (side == Censoring::None) {
            uncensored.push_back(x);
            isUncensored[d] = 1;
            scaled[d] = F::modelsRawValue ? x : F::forward(x, p);
        }
    }

    // Its spread over every uncensored value (two passes, in index order).
    const std::int64_t nUncensored = static_cast<std::int64_t>(series.values().size()) - facts.nLeft - facts.nRight;
    if (nUncensored >= 2) {
        double sum = 0.0, squares = 0.0;
        for (const std::uint32_t slot : series.slots()) {
            sum += isUncensored[slot] != 0 ? scaled[slot] : 0.0;
            series.checkpoint().done();
        }
        const double mean = sum / static_cast<double>(nUncensored);
        for (const std::uint32_t slot : series.slots()) {
            const double v = scaled[slot] - mean;
            squares += isUncensored[slot] != 0 ? v * v : 0.0;
            series.checkpoint().done();
        }
        facts.spread = std::sqrt(squares / static_cast<double>(nUncensored));
    }

    // Distinct values in order, rounding duplicates merged, and their transforms.
    checkedSort(uncensored, series.checkpoint());
    std::vector<double> kept;
    for (const double x : uncensored) {
        if (kept.empty() || x - kept.back() > kRoundingApart * std::fabs(x)) {
            kept.push_back(x);
        }
    }
    facts.distinctUncensored = static_cast<std::int64_t>(kept.size());
    double previous = std::numeric_limits<double>::quiet_NaN();
    for (const double x : kept) {
        series.checkpoint().done();
        const double y = transformed<F>(x, p);
        if (std::isnan(y)) {
            continue;
        }
        facts.saturatedPairs += y == previous ? 1 : 0;
        facts.decreasingSteps += y < previous ? 1 : 0;
        previous = y;
    }

    // The normal mass outside the scores the map reaches (a negative sigma turns them round).
    const double inf = std::numeric_limits<double>::infinity();
    const double bottom = ValueTerm<F, Mass>::rangeScore(-inf, p), top = ValueTerm<F, Mass>::rangeScore(inf, p);
    facts.massBeyondRange = standardNormalCdf(std::min(bottom, top)) + standardNormalCdf(-std::max(bottom, top));

    if (!kept.empty()) {
        const double lowest = kept.front(), highest = kept.back();
        const double unit = std::max(highest - lowest, std::numeric_limits<double>::min());
        facts.roundTripError = 0.0;
        for (const double x : {lowest, highest}) {
            const double back = roundTrip<F>(x, p);
            const double error = std::isfinite(back) ? std::fabs(back - x) / std::max(std::fabs(x), unit) : inf;
            facts.roundTripError = std::max(facts.roundTripError, error);
        }
        facts.degenerateLimit = F::atDegenerateLimit(p, q, lowest);
    }

    // The limits along the family's ridges near the fit, without a search (ridge_limit.hpp).
    const RidgeLimit ridge = ridgeLimit<F>(series, isUncensored, p);
    facts.limitGain = ridge.gain;
    facts.limit = ridge.limit;

    if (place.onBound() != 0) {
        std::array<double, F::kParams> g{};
        LikelihoodGradient<F>(series, isMap)(q, g.data());
        facts.constrained = constrainedBits(place, g);
    }
    return facts;
}

} // namespace ferrule
