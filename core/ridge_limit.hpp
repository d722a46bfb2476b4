// How close a point of a family with limits along ridges of unidentified parameters
// (F::kEpsilonLimits: sinh-arcsinh's epsilon -> +-inf) stands to those limits, told by the
// likelihood: each limit's map is matched to T on the data by an affine change (mean and
// spread over the uncensored values), which the normal's mu and sigma would absorb, and its
// log-likelihood compared with the point's. One rule for a fit's facts and for the default
// fit's choice among its candidate points.
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/censored_likelihood.hpp"
#include "core/likelihood_policy.hpp"
#include "core/normal.hpp"

namespace ferrule {

// A point whose likelihood a ridge limit reaches within this (the gain at least -kLimitGap)
// is that limit: the data cannot tell the two apart (well inside the 1.92 of a 95 %
// likelihood interval), so a run that stopped there stopped somewhere on the ridge. Proper
// optima of real series lie 0.2 to hundreds below their limits, ends on a ridge 0.06 or less.
inline constexpr double kLimitGap = 0.1;

// The log-likelihood of the nearest ridge limit less the point's (NaN for a family without
// ridges), and which limit fits alike (the family's number k >= 1, the first within
// kSameLimit of the gain; 0 for none).
struct RidgeLimit {
    double gain = std::numeric_limits<double>::quiet_NaN();
    int limit = 0;

    bool reached() const { return gain >= -kLimitGap; }
};

namespace ridge_detail {

// Limits whose gains differ by less than this are the same limit on the data.
inline constexpr double kSameLimit = 0.01;

// Mean and standard deviation of map(x) over the uncensored distinct values, counts as
// weights, in their order (two passes).
template <class Map>
std::pair<double, double> uncensoredMoments(const PreparedSeries &series, const std::vector<char> &isUncensored,
                                            Map map) {
    double n = 0.0, sum = 0.0, squares = 0.0;
    for (std::size_t d = 0; d < series.distinct().size(); ++d) {
        n += isUncensored[d] != 0 ? series.counts()[d] : 0.0;
        sum += isUncensored[d] != 0 ? series.counts()[d] * map(series.distinct()[d]) : 0.0;
    }
    const double mean = sum / n;
    for (std::size_t d = 0; d < series.distinct().size(); ++d) {
        const double v = map(series.distinct()[d]) - mean;
        squares += isUncensored[d] != 0 ? series.counts()[d] * v * v : 0.0;
    }
    return {mean, std::sqrt(squares / n)};
}

// The log-likelihood of the distinct values (counts as weights, in their order) when the
// normal N(mu, sigma) models a + b map(x), with log map'(x) the map's log Jacobian; the
// thresholds' masses from the same map.
template <class Map, class Jacobian>
double logLikOfMap(const PreparedSeries &series, const std::vector<char> &isUncensored, double mu, double sigma,
                   double a, double b, Map map, Jacobian jacobian) {
    const double inf = std::numeric_limits<double>::infinity();
    const double zL = (a + b * map(series.left()) - mu) / sigma, zR = (a + b * map(series.right()) - mu) / sigma;
    const double below = logNormalMassBetween(-inf, zL), above = logNormalMassBetween(zR, inf);
    const double logDensityConstant = -0.5 * std::log(kTwoPi) - std::log(sigma) + std::log(b);
    double sum = 0.0;
    for (std::size_t d = 0; d < series.distinct().size(); ++d) {
        const double x = series.distinct()[d];
        double term = x <= series.left() ? below : above;
        if (isUncensored[d] != 0) {
            const double z = (a + b * map(x) - mu) / sigma;
            term = logDensityConstant - 0.5 * z * z + jacobian(x);
        }
        sum += series.counts()[d] * term;
    }
    return sum;
}

} // namespace ridge_detail

template <class F, class = void> struct HasRidgeLimits : std::false_type {};
template <class F> struct HasRidgeLimits<F, std::void_t<decltype(F::kEpsilonLimits)>> {
    static constexpr bool value = F::kEpsilonLimits;
};

// The ridge limits at parameters p, isUncensored[d] telling whether distinct value d is
// uncensored at p.
template <class F>
RidgeLimit ridgeLimit(const PreparedSeries &series, const std::vector<char> &isUncensored,
                      const typename F::Params &p) {
    using namespace ridge_detail;
    RidgeLimit out;
    if constexpr (HasRidgeLimits<F>::value) {
        const auto map = [&p](double x) { return F::forward(x, p); };
        const double fitted = logLikOfMap(series, isUncensored, p.mu, p.sigma, 0.0, 1.0, map,
                                          [&p](double x) { return F::mapLogJacobian(x, p); });
        const auto [mean, spread] = uncensoredMoments(series, isUncensored, map);
        std::array<double, F::kLimits + 1> gains{};
        for (int k = 1; k <= F::kLimits; ++k) {
            const auto limitMap = [&p, k](double x) { return F::limitForward(x, p, k); };
            const auto [limitMean, limitSpread] = uncensoredMoments(series, isUncensored, limitMap);
            const double b = spread / limitSpread, a = mean - b * limitMean;
            gains[k] = logLikOfMap(series, isUncensored, p.mu, p.sigma, a, b, limitMap,
                                   [&p, k](double x) { return F::limitLogJacobian(x, p, k); }) -
                       fitted;
            if (k >= F::kFirstRidgeLimit && std::isfinite(gains[k]) && !(gains[k] <= out.gain)) {
                out.gain = gains[k];
            }
        }
        // Where the map is near affine on the data the limits agree: the first of them named.
        for (int k = F::kLimits; k >= 1; --k) {
            out.limit = gains[k] >= out.gain - kSameLimit ? k : out.limit;
        }
    }
    return out;
}

// The same at the search point q, its censoring as the likelihood (policy Mass) sees it.
template <class F, class Mass> RidgeLimit ridgeLimitAt(const PreparedSeries &series, const double *q) {
    if constexpr (!HasRidgeLimits<F>::value) {
        return {};
    } else {
        const typename F::Params p = F::decode(q);
        const ValueTerm<F, Mass> at(p, series.left(), series.right());
        std::vector<char> isUncensored(series.distinct().size(), 0);
        for (std::size_t d = 0; d < series.distinct().size(); ++d) {
            isUncensored[d] = at.side(series.distinct()[d]) == Censoring::None ? 1 : 0;
        }
        return ridgeLimit<F>(series, isUncensored, p);
    }
}

} // namespace ferrule
