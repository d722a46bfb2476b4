// How close a point of a family with limits along ridges of unidentified parameters
// (F::kRidgeLimits) stands to those limits, told by the likelihood. A limit with a map of its
// own (F::kMapLimits: sinh-arcsinh's epsilon -> +-inf) has it matched to T on the data by an
// affine change (mean and spread over the uncensored values), which the normal's mu and
// sigma would absorb, and its log-likelihood compared with the point's. A limit whose family
// keeps a free parameter of its own (Yeo-Johnson's lambda -> +-inf, sinh-arcsinh's
// delta -> inf along its step) is probed: the first search coordinate moved further towards
// the limit (F::ridgeProbe, within the search box), every other coordinate settled by Newton
// steps there; where the likelihood falls a proper optimum lies at the point or further on,
// where it does not the point is on the ridge. One rule for a fit's facts and for the
// default fit's choice among its candidate points.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/censored_likelihood.hpp"
#include "core/likelihood_gradient.hpp"
#include "core/likelihood_policy.hpp"
#include "core/normal.hpp"
#include "core/small_solve.hpp"

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
// Newton steps that settle a probe's other coordinates, and the gradient (relative to
// 1 + |log L|) below which they have settled.
inline constexpr int kSettleSteps = 40;
inline constexpr double kSettled = 1e-9;

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

// log L at q with every search coordinate but the first settled: damped Newton steps from q
// (the Hessian's block shifted until its negative is positive definite), each taken only
// when the likelihood rises; q moves to the best point met, so the value is never above the
// profile there. NaN where q's own value is not finite.
template <class F> double settleLogLik(const LikelihoodGradient<F> &likelihood, std::array<double, F::kParams> &q) {
    constexpr std::size_t n = F::kParams, m = n - 1;
    std::array<double, n> g{}, gt{};
    std::array<double, n * n> h{}, ht{};
    double value = likelihood(q.data(), g.data(), h.data());
    if (!std::isfinite(value)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if constexpr (LikelihoodGradient<F>::kHasHessian) {
        std::vector<double> block(m * m), rhs(m), step;
        for (int k = 0; k < kSettleSteps; ++k) {
            double largest = 0.0, scale = 0.0;
            for (std::size_t a = 0; a < m; ++a) {
                rhs[a] = g[a + 1];
                largest = std::max(largest, std::fabs(g[a + 1]));
                for (std::size_t b = 0; b < m; ++b) {
                    block[a * m + b] = -h[(a + 1) * n + b + 1];
                }
                scale = std::max(scale, std::fabs(block[a * m + a]));
            }
            if (largest <= kSettled * (1.0 + std::fabs(value))) {
                break;
            }
            bool solved = smallCholeskySolve(block, m, 0.0, rhs, step);
            for (double nu = 1e-8 * std::max(scale, 1e-8); !solved && nu < 1e12 * std::max(scale, 1.0); nu *= 10.0) {
                solved = smallCholeskySolve(block, m, nu, rhs, step);
            }
            bool accepted = false;
            for (double t = 1.0; solved && t > 1e-6 && !accepted; t *= 0.5) {
                std::array<double, n> trial = q;
                for (std::size_t a = 0; a < m; ++a) {
                    trial[a + 1] += t * step[a];
                }
                const double v = likelihood(trial.data(), gt.data(), ht.data());
                if (std::isfinite(v) && v > value) {
                    q = trial;
                    g = gt;
                    h = ht;
                    value = v;
                    accepted = true;
                }
            }
            if (!accepted) {
                break;
            }
        }
    }
    return value;
}

// Probes of a ridge beyond a point, each further towards the limit than the last; the search
// box ends them sooner. One: the settling of a probe far beyond the point, from starts
// matched on the data, is not reliable enough to tell a fall of the likelihood from a
// settle that failed.
inline constexpr int kProbes = 1;
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// The gain of ridge limit k's probes at p: the profile of the likelihood (every search
// coordinate but the first settled, from mu and sigma matched on the data to the last
// point's) at each probe in turn, less the highest before it: its least value. At least
// -kLimitGap: the likelihood does not fall along the ridge as far as the probes reach, so
// no proper optimum lies further on and the point is the ridge's. Below: it falls (the point
// is a proper optimum, or one lies further on). NaN where the family has no probe at p.
template <class F>
double probeGain(const PreparedSeries &series, const std::vector<char> &isUncensored, const typename F::Params &p,
                 int k) {
    const LikelihoodGradient<F> likelihood(series, false);
    std::array<double, F::kParams> q = GradientOf<F>::encode(p);
    double highest = settleLogLik<F>(likelihood, q);
    double gain = kNaN;
    typename F::Params from = F::decode(q.data());
    for (int s = 0; s < kProbes && std::isfinite(highest) && !(gain < -kLimitGap); ++s) {
        typename F::Params probe = from;
        if (!F::ridgeProbe(from, k, probe)) {
            break;
        }
        const auto [mean, spread] =
            uncensoredMoments(series, isUncensored, [&from](double x) { return F::forward(x, from); });
        const auto [probeMean, probeSpread] =
            uncensoredMoments(series, isUncensored, [&probe](double x) { return F::forward(x, probe); });
        // Two starts, the better settled one kept: the normal matched on the data's mean and
        // spread (N(mu, sigma) of a + b T'(x) is N((mu - a) / b, sigma / b) of T'(x)), and,
        // where T's range has a finite end, on the data's mean and that end (a normal that
        // stands against the end keeps its place there).
        const double b = spread / probeSpread, a = mean - b * probeMean;
        std::array<std::pair<double, double>, 2> starts{{{(from.mu - a) / b, from.sigma / b}, {kNaN, kNaN}}};
        for (const double side : {-1.0, 1.0}) {
            const double end = F::forward(side * kInf, from), probeEnd = F::forward(side * kInf, probe);
            if (std::isfinite(end) && std::isfinite(probeEnd)) {
                const double sigma = from.sigma * (probeEnd - probeMean) / (end - mean);
                starts[1] = {probeMean - sigma * (mean - from.mu) / from.sigma, sigma};
            }
        }
        double value = kNaN;
        std::array<double, F::kParams> settled{};
        for (const auto &[mu, sigma] : starts) {
            probe.mu = mu;
            probe.sigma = sigma;
            std::array<double, F::kParams> at = GradientOf<F>::encode(probe);
            const double v =
                std::isfinite(mu) && sigma > 0.0 && std::isfinite(sigma) ? settleLogLik<F>(likelihood, at) : kNaN;
            if (std::isfinite(v) && !(v <= value)) {
                value = v;
                settled = at;
            }
        }
        if (!std::isfinite(value)) {
            break;
        }
        q = settled;
        gain = std::isnan(gain) ? value - highest : std::min(gain, value - highest);
        highest = std::max(highest, value);
        from = F::decode(q.data());
    }
    return gain;
}

} // namespace ridge_detail

template <class F, class = void> struct HasRidgeLimits : std::false_type {};
template <class F> struct HasRidgeLimits<F, std::void_t<decltype(F::kRidgeLimits)>> {
    static constexpr bool value = F::kRidgeLimits;
};

// The ridge limits at parameters p, isUncensored[d] telling whether distinct value d is
// uncensored at p.
template <class F>
RidgeLimit ridgeLimit(const PreparedSeries &series, const std::vector<char> &isUncensored,
                      const typename F::Params &p) {
    using namespace ridge_detail;
    RidgeLimit out;
    if constexpr (HasRidgeLimits<F>::value) {
        std::array<double, F::kLimits + 1> gains{};
        gains.fill(std::numeric_limits<double>::quiet_NaN());
        if constexpr (F::kMapLimits > 0) {
            const auto map = [&p](double x) { return F::forward(x, p); };
            const double fitted = logLikOfMap(series, isUncensored, p.mu, p.sigma, 0.0, 1.0, map,
                                              [&p](double x) { return F::mapLogJacobian(x, p); });
            const auto [mean, spread] = uncensoredMoments(series, isUncensored, map);
            for (int k = 1; k <= F::kMapLimits; ++k) {
                const auto limitMap = [&p, k](double x) { return F::limitForward(x, p, k); };
                const auto [limitMean, limitSpread] = uncensoredMoments(series, isUncensored, limitMap);
                const double b = spread / limitSpread, a = mean - b * limitMean;
                gains[k] = logLikOfMap(series, isUncensored, p.mu, p.sigma, a, b, limitMap,
                                       [&p, k](double x) { return F::limitLogJacobian(x, p, k); }) -
                           fitted;
            }
        }
        for (int k = F::kMapLimits + 1; k <= F::kLimits; ++k) {
            gains[k] = probeGain<F>(series, isUncensored, p, k);
        }
        for (int k = F::kFirstRidgeLimit; k <= F::kLimits; ++k) {
            if (std::isfinite(gains[k]) && !(gains[k] <= out.gain)) {
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
