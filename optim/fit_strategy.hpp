// The public layer's default fit: what it takes to reach the optimum.
//   Nelder-Mead: from the best moment start point, restarted from its own result (a fresh
//     simplex of 5 % steps) until a restart gains less than kRestartGain;
//   differential evolution / shuffled complex evolution: independent runs, the first with
//     the fit's seed and the others with seeds derived from it, until two of them agree on
//     the best optimum and it is not on the box's edge (at most kMaxRuns runs); the polished
//     moment start is one more candidate;
// then every end point is polished by projected Newton steps with the analytic gradient
// (local_polish.hpp) and the best point by the likelihood itself is kept: never worse than
// the runs' own best. Everything is a function of the series, settings and seed, so a fit
// repeats on any thread.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/likelihood_gradient.hpp"
#include "optim/local_polish.hpp"
#include "optim/run_method.hpp"
#include "optim/start_points.hpp"

namespace ferrule {

// What the default fit ran, beside the result.
struct StrategyReport {
    int runs = 1;                       // runs of the named optimiser, restarts included
    std::int64_t polishEvaluations = 0; // value-and-gradient calls of the polish
    double polishGain = 0.0;            // log-likelihood the polish added to the best run
    bool polished = false;              // the polish ended by its convergence test
};

namespace strategy_detail {

// A restart of Nelder-Mead that gains less than this (relative to 1 + |value|) ends them.
inline constexpr double kRestartGain = 1e-9;
inline constexpr int kMaxRestarts = 8;
// Stochastic runs: two ends within this log-likelihood count as the same optimum.
inline constexpr double kSameOptimum = 1e-3;
inline constexpr int kMaxRuns = 4;

// Run k's seed: the fit's seed for the first, a SplitMix64 mix of (seed, k) for the others.
inline std::uint32_t derivedSeed(std::uint32_t seed, int run) {
    if (run == 0) {
        return seed;
    }
    std::uint64_t z =
        (static_cast<std::uint64_t>(seed) << 32 | static_cast<std::uint32_t>(run)) + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
}

// Simplex around x: vertex i moves coordinate i by 5 % (0.00025 for a coordinate near 0),
// the last vertex is x itself (so nelderMead's start is x).
inline std::vector<Vector> simplexAround(const Vector &x) {
    std::vector<Vector> simplex(x.size() + 1, x);
    for (std::size_t i = 0; i < x.size(); ++i) {
        simplex[i][i] += std::fabs(x[i]) > 5e-3 ? 0.05 * x[i] : 0.00025;
    }
    return simplex;
}

// Whether a coordinate of q sits on the box's bound.
template <std::size_t N>
bool onEdge(const Vector &q, const std::array<double, N> &lower, const std::array<double, N> &upper) {
    for (std::size_t j = 0; j < N && j < q.size(); ++j) {
        if (q[j] <= lower[j] || q[j] >= upper[j]) {
            return true;
        }
    }
    return false;
}

inline bool better(double a, double b) { return a < b || (std::isnan(b) && !std::isnan(a)); }

} // namespace strategy_detail

template <class F>
FitResult thoroughFit(const PreparedSeries &series, bool isMap, const RunSettings &settings, ObjectiveRef objective,
                      MessageSink &sink, StrategyReport &report) {
    using namespace strategy_detail;
    const LikelihoodGradient<F> likelihood(series, isMap);
    const auto minusLogLik = [&likelihood](const double *q, double *g) {
        const double value = likelihood(q, g);
        for (std::size_t j = 0; j < F::kParams; ++j) {
            g[j] = -g[j];
        }
        return -value;
    };
    const auto &lower = GradientOf<F>::localLower;
    const auto &upper = GradientOf<F>::localUpper;
    const Vector boxLower(lower.begin(), lower.end()), boxUpper(upper.begin(), upper.end());

    std::int64_t evaluations = 0;
    // Polish from an end point; the polished point replaces it only when the likelihood
    // itself (not the gradient's own sum) says it is better.
    const auto polishFrom = [&](const Vector &end, double endValue) {
        PolishResult polished = localPolish(minusLogLik, end, boxLower, boxUpper);
        report.polishEvaluations += polished.evaluations;
        const double value = objective(polished.params);
        ++evaluations;
        if (better(value, endValue)) {
            return std::make_pair(polished.params, std::make_pair(value, polished.converged));
        }
        return std::make_pair(end, std::make_pair(endValue, polished.converged && value == endValue));
    };

    FitResult best{0, {}, 0, false};
    double bestValue = std::numeric_limits<double>::quiet_NaN();
    double bestRunValue = bestValue;
    int count = 0;
    report.runs = 0;
    if (settings.method == Method::NelderMead) {
        const StartPoint start = momentStart<F>(series, objective);
        evaluations += start.evaluations;
        FitResult run = runMethod<F>(settings, objective, settings.seed, sink, simplexAround(start.q));
        double value = objective(run.params);
        evaluations += run.evaluations + 1;
        count += run.count;
        report.runs = 1;
        for (int restart = 0; restart < kMaxRestarts; ++restart) {
            FitResult again = runMethod<F>(settings, objective, settings.seed, sink, simplexAround(run.params));
            const double againValue = objective(again.params);
            evaluations += again.evaluations + 1;
            count += again.count;
            ++report.runs;
            const bool gained = againValue < value - kRestartGain * (1.0 + std::fabs(value));
            if (better(againValue, value)) {
                run = std::move(again);
                value = againValue;
            }
            if (!gained) {
                break;
            }
        }
        bestRunValue = value;
        auto [params, outcome] = polishFrom(run.params, value);
        best = std::move(run);
        best.params = std::move(params);
        bestValue = outcome.first;
        report.polished = outcome.second;
    } else {
        // The polished moment start (moved into the box) is one more candidate; the runs
        // must agree among themselves.
        std::vector<double> ends;
        StartPoint start = momentStart<F>(series, objective);
        for (std::size_t j = 0; j < F::kParams; ++j) {
            start.q[j] = std::clamp(start.q[j], lower[j], upper[j]);
        }
        start.value = objective(start.q);
        evaluations += start.evaluations + 1;
        auto [startParams, startOutcome] = polishFrom(start.q, start.value);
        for (int k = 0; k < kMaxRuns; ++k) {
            std::optional<std::uint32_t> seed;
            if (settings.seed) {
                seed = derivedSeed(*settings.seed, k);
            }
            FitResult run = runMethod<F>(settings, objective, seed, sink);
            ++report.runs;
            evaluations += run.evaluations;
            count += run.count;
            if (run.params.empty() || std::isnan(run.params[0])) {
                continue;
            }
            const double runValue = objective(run.params);
            ++evaluations;
            if (better(runValue, bestRunValue)) {
                bestRunValue = runValue;
            }
            auto [params, outcome] = polishFrom(run.params, runValue);
            ends.push_back(outcome.first);
            if (better(outcome.first, bestValue)) {
                bestValue = outcome.first;
                best = std::move(run);
                best.params = std::move(params);
                report.polished = outcome.second;
            }
            // Done when two runs agree on the best optimum, unless it lies on the box's edge
            // (the degenerate limits of a family live there): then every run is made.
            const bool agreed = std::count_if(ends.begin(), ends.end(),
                                              [&](double v) { return std::fabs(v - bestValue) <= kSameOptimum; }) >= 2;
            if (agreed && !onEdge(best.params, lower, upper)) {
                break;
            }
        }
        if (better(startOutcome.first, bestValue) && !best.params.empty()) {
            bestValue = startOutcome.first;
            best.params = startParams;
            report.polished = startOutcome.second;
        }
        if (best.params.empty()) {
            best.params.assign(F::kParams, std::numeric_limits<double>::quiet_NaN());
        }
    }
    report.polishGain = std::isfinite(bestRunValue) && std::isfinite(bestValue) ? bestRunValue - bestValue : 0.0;
    best.count = count;
    best.evaluations = evaluations + report.polishEvaluations;
    // best.limitReached stays the best run's: a run stopped by its budget is reported so,
    // polished or not.
    return best;
}

} // namespace ferrule
