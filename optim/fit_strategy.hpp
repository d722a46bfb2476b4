// The public layer's default fit: what it takes to reach the optimum.
//   The deterministic starts (start_points.hpp), the kStarts best distinct ones and the two
//     ends of the family's start grid polished by projected Newton steps with the analytic
//     gradient (local_polish.hpp). When the polished starts settle it (two of them converged
//     to one point of the best value, a proper optimum off the box's edge or a constrained
//     one on the family's own bound, and none to another optimum) that point is the fit and
//     no optimiser runs; the starts that had not converged but end at the best point or
//     near its value are first polished on as a run's end would be;
//   otherwise runs of the named optimiser, each end polished in turn: first exactly the
//     single run of a fast fit; then Nelder-Mead restarted from the best point (a fresh
//     simplex of 5 % steps) while a restart gains more than kSameOptimum, or differential
//     evolution / shuffled complex evolution with seeds derived from the fit's seed (at most
//     kMaxRuns runs), the valley of each end whose polish did not converge followed by
//     Nelder-Mead restarts (and that of the best start when every run ended below it);
//   until two ends, starts included, agree on the best optimum, its polish converged and it
//     is not on the box's edge (the degenerate limits of a family live there) unless it is a
//     constrained optimum on the family's own bound. A run's end is polished with mu and
//     sigma settled at each trial point (kNuisance).
// The best point by the likelihood itself is kept, a proper optimum before an improper point:
// the family's degenerate limit (F::atDegenerateLimit), a point on a ridge that the ridge's
// limit fits as well (ridge_limit.hpp, the rule the fit's verdict applies), or a point the
// box refuses (box_optimum.hpp). Everything is a function of the series, settings and seed,
// so a fit repeats on any thread.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/box_optimum.hpp"
#include "core/likelihood_gradient.hpp"
#include "core/ridge_limit.hpp"
#include "optim/local_polish.hpp"
#include "optim/run_method.hpp"
#include "optim/start_points.hpp"

namespace ferrule {

// What the default fit ran, beside the result.
struct StrategyReport {
    int runs = 1;                       // optimiser runs, restarts and valleys' Nelder-Mead runs
                                        // included (0: the polished starts agreed and none was
                                        // needed)
    std::int64_t polishEvaluations = 0; // value-and-gradient calls of the polish
    double polishGain = 0.0;            // log-likelihood the polish added to the best run
    bool polished = false;              // the polish ended by its convergence test
};

namespace strategy_detail {

// Two ends within this log-likelihood count as the same optimum; a Nelder-Mead restart that
// gains less ends the restarts (on a ridge towards a degenerate limit each restart gains a
// little less, and the rest of the ridge is worth less than the benchmark's 0.01).
inline constexpr double kSameOptimum = 1e-3;
inline constexpr int kMaxRestarts = 8;
inline constexpr int kMaxRuns = 4;
// Distinct deterministic starts polished, best first, before any optimiser runs.
inline constexpr std::size_t kStarts = 4;
// Two polished starts end at one point when every search coordinate agrees within this
// (relative to 1 + |q|): equal values far apart are a flat ridge, which the runs explore.
inline constexpr double kSamePoint = 1e-3;
// Newton steps of a polish: a start's few (one that has not converged by then is crawling
// towards a degenerate limit, and the runs decide), a run's end more.
inline constexpr int kStartSteps = 15;
inline constexpr int kEndSteps = 40;
// A proper start that has not converged in its few steps goes on when it ends at the best
// start's point or within this log-likelihood of it (heading to the best point or beside it).
inline constexpr double kHeading = 0.1;
// The search coordinates of mu and sigma, last in every family: a run's end is polished
// with them settled at each trial point (local_polish.hpp), which follows the narrow curved
// valleys that tie a short series' transformation to mu and sigma.
inline constexpr std::size_t kNuisance = 2;

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

// Whether the best point may end the search where it stands on the polish's box. A proper
// point on the family's own bound is a constrained optimum (the improper test of
// box_optimum.hpp vouches for it: the likelihood does not rise inward), so it may; a bound only
// the polish has cuts the search short, and an improper point on any bound lies on a ridge
// the box cuts: there the runs, which search the family's whole box, decide.
template <class F> bool mayEndOnEdge(const Vector &q, bool improper) {
    const auto &lower = GradientOf<F>::localLower;
    const auto &upper = GradientOf<F>::localUpper;
    const std::uint32_t ownBound = improper || q.size() != F::kParams ? 0 : boxPlace<F>(q.data()).onBound();
    for (std::size_t j = 0; j < F::kParams && j < q.size(); ++j) {
        if ((q[j] <= lower[j] || q[j] >= upper[j]) && (ownBound & (1u << j)) == 0) {
            return false;
        }
    }
    return true;
}

inline bool better(double a, double b) { return a < b || (std::isnan(b) && !std::isnan(a)); }

inline bool samePoint(const Vector &a, const Vector &b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t j = 0; j < a.size(); ++j) {
        if (!(std::fabs(a[j] - b[j]) <= kSamePoint * (1.0 + std::fabs(b[j])))) {
            return false;
        }
    }
    return true;
}

// A polished run's end, and whether the run stopped at its budget.
struct ValleyEnd {
    Vector q;
    double value;
    bool converged;
    bool limitReached;
};

// A polished start's end.
struct StartEnd {
    Vector q;
    double value;
    bool converged;
    bool improper;
};

} // namespace strategy_detail

template <class F>
FitResult thoroughFit(const PreparedSeries &series, bool isMap, const RunSettings &settings, ObjectiveRef objective,
                      MessageSink &sink, StrategyReport &report) {
    using namespace strategy_detail;
    const LikelihoodGradient<F> likelihood(series, isMap);
    const auto minusLogLik = [&likelihood, &series](const double *q, double *g, double *h) {
        series.checkpoint().done(series.distinct().size());
        const double value = likelihood(q, g, h);
        for (std::size_t j = 0; j < F::kParams; ++j) {
            g[j] = -g[j];
        }
        for (std::size_t k = 0; h != nullptr && k < F::kParams * F::kParams; ++k) {
            h[k] = -h[k];
        }
        return -value;
    };
    const GradientRef minusLogLikRef(minusLogLik, LikelihoodGradient<F>::kHasHessian);
    const auto &lower = GradientOf<F>::localLower;
    const auto &upper = GradientOf<F>::localUpper;
    const Vector boxLower(lower.begin(), lower.end()), boxUpper(upper.begin(), upper.end());

    // A proper optimum is kept before a degenerate limit of the family, however much the
    // likelihood gains on the ridge towards it (the limit is not a model of the data), and
    // before a point the box refuses. The ridge test costs a few passes over the distinct
    // values: it runs per candidate end, never per evaluation.
    double lowest = std::numeric_limits<double>::infinity();
    for (const double x : series.distinct()) {
        if (x > series.left() && x < series.right()) {
            lowest = std::min(lowest, x);
        }
    }
    std::int64_t evaluations = 0;
    const auto logLikGradient = [&](const double *q, double *g) {
        ++evaluations;
        return likelihood(q, g);
    };
    const auto degenerate = [&](const Vector &q) {
        return q.size() == F::kParams && (F::atDegenerateLimit(F::decode(q.data()), q.data(), lowest) ||
                                          offBoxOptimum<F>(logLikGradient, q.data()) ||
                                          ridgeLimitAt<F, AccurateNormalMass>(series, q.data()).reached());
    };
    const auto preferred = [](double value, bool limit, double than, bool thanLimit) {
        if (limit != thanLimit && !std::isnan(value) && !std::isnan(than)) {
            return !limit;
        }
        return better(value, than);
    };

    // Polish from an end point; the polished point replaces it only when the likelihood
    // itself (not the gradient's own sum) says it is better.
    const auto polishFrom = [&](const Vector &end, double endValue, int steps, std::size_t inner) {
        PolishResult polished = localPolish(minusLogLikRef, end, boxLower, boxUpper, steps, 1e-7, 1e-11, inner);
        report.polishEvaluations += polished.evaluations;
        const double value = objective(polished.params);
        ++evaluations;
        // A polish that slides from a proper end onto the ridge of a degenerate limit is
        // not taken.
        if (better(value, endValue) && (degenerate(end) || !degenerate(polished.params))) {
            return std::make_pair(polished.params, std::make_pair(value, polished.converged));
        }
        return std::make_pair(end, std::make_pair(endValue, polished.converged && value == endValue));
    };

    // The deterministic starts, the best few distinct ones polished; each end is a candidate.
    FitResult best{0, {}, 0, false};
    double bestValue = std::numeric_limits<double>::quiet_NaN();
    bool bestConverged = false;
    bool bestDegenerate = false;
    std::vector<StartEnd> polishedStarts;
    std::vector<const Vector *> polishedFrom;
    const StartPoints starts = momentStarts<F>(series, objective);
    evaluations += starts.evaluations;
    // Beside the best few, the two ends of the family's start grid: the best starts tend to
    // lie in one basin, and another optimum lies the farthest from them.
    const int lastEntry = static_cast<int>(GradientOf<F>::startGrid.size()) - 1;
    for (const StartPoint &start : starts.ranked) {
        if (std::isnan(start.value)) {
            break;
        }
        if (polishedFrom.size() >= kStarts && start.grid != 0 && start.grid != lastEntry) {
            continue;
        }
        if (std::any_of(polishedFrom.begin(), polishedFrom.end(), [&](const Vector *q) { return *q == start.q; })) {
            continue;
        }
        polishedFrom.push_back(&start.q);
        auto [params, outcome] = polishFrom(start.q, start.value, kStartSteps, 0);
        const bool limit = degenerate(params);
        if (preferred(outcome.first, limit, bestValue, bestDegenerate)) {
            bestValue = outcome.first;
            best.params = params;
            bestConverged = outcome.second;
            bestDegenerate = limit;
        }
        polishedStarts.push_back({std::move(params), outcome.first, outcome.second, limit});
    }
    // The starts settle it when two of them converged to the best end's point, a proper
    // optimum (off the box's edge, or a constrained one on the family's bound), and no start
    // converged to another proper optimum (two optima: the runs decide between them and
    // whatever else there is).
    const auto countSettling = [&] {
        std::size_t settling = 0, elsewhere = 0;
        for (const StartEnd &end : polishedStarts) {
            const bool agrees = std::fabs(end.value - bestValue) <= kSameOptimum && samePoint(end.q, best.params);
            settling += end.converged && !end.improper && agrees ? 1 : 0;
            elsewhere += end.converged && !end.improper && !agrees ? 1 : 0;
        }
        return !bestDegenerate && settling >= 2 && elsewhere == 0 && mayEndOnEdge<F>(best.params, bestDegenerate);
    };
    // Proper starts that have not converged in their few steps but end at the best point or
    // near its value are heading to it or to an optimum beside it: they go on as a run's end
    // would (more steps, mu and sigma settled at each trial point), so that they may settle
    // the fit without a run, or show the second optimum that calls for the runs. The others
    // stay as they are (the runs decide what lies beyond them).
    bool settled = countSettling();
    if (!settled && !bestDegenerate) {
        bool continued = false;
        for (StartEnd &end : polishedStarts) {
            if (end.converged || end.improper ||
                !(end.value - bestValue <= kHeading || samePoint(end.q, best.params))) {
                continue;
            }
            auto [params, outcome] = polishFrom(end.q, end.value, kEndSteps, kNuisance);
            end.improper = degenerate(params);
            end.q = std::move(params);
            end.value = outcome.first;
            end.converged = outcome.second;
            continued = true;
        }
        if (continued) {
            bestValue = std::numeric_limits<double>::quiet_NaN();
            bestDegenerate = false;
            for (const StartEnd &end : polishedStarts) {
                if (preferred(end.value, end.improper, bestValue, bestDegenerate)) {
                    bestValue = end.value;
                    best.params = end.q;
                    bestConverged = end.converged;
                    bestDegenerate = end.improper;
                }
            }
            settled = countSettling();
        }
    }
    std::vector<double> startEnds;
    for (const StartEnd &end : polishedStarts) {
        startEnds.push_back(end.value);
    }
    if (settled) {
        // The starts settle it: the runs would only confirm the optimum.
        report.runs = 0;
        report.polished = true;
        report.polishGain = 0.0;
        best.evaluations = evaluations + report.polishEvaluations;
        return best;
    }
    const auto agreeing = [&](const std::vector<double> &ends) {
        return std::count_if(ends.begin(), ends.end(),
                             [&](double v) { return std::fabs(v - bestValue) <= kSameOptimum; });
    };
    const Vector startParams = best.params;
    const double startValue = bestValue;
    const bool startConverged = bestConverged;

    // Runs of the named optimiser, each end polished: the first exactly the single run of a
    // fast fit (so the default is never worse than it), then Nelder-Mead restarted from the
    // best point or stochastic runs with derived seeds, until two ends (starts included)
    // agree on the best optimum, it converged and it may end where it stands on the box.
    std::vector<double> ends = startEnds;
    double bestRunValue = std::numeric_limits<double>::quiet_NaN();
    int count = 0;
    bool runBest = false;
    report.runs = 0;
    const bool simplex = settings.method == Method::NelderMead;
    const int maxRuns = simplex ? 1 + kMaxRestarts : kMaxRuns;
    // A run's end, polished, becomes the best point when the likelihood and propriety prefer
    // it; nothing for a run with no end. Its value joins the ends, or replaces the last of
    // them when replacesEnd (a run that continues the valley of that end: one search, one
    // end). A run that continues the valley of `continued` reports that end's budget, unless
    // its own end converged.
    const auto takeRun = [&](FitResult run, bool replacesEnd, const ValleyEnd *continued) -> std::optional<ValleyEnd> {
        ++report.runs;
        evaluations += run.evaluations;
        count += run.count;
        if (run.params.empty() || std::isnan(run.params[0])) {
            return std::nullopt;
        }
        const double runValue = objective(run.params);
        ++evaluations;
        if (better(runValue, bestRunValue)) {
            bestRunValue = runValue;
        }
        auto [params, outcome] = polishFrom(run.params, runValue, kEndSteps, kNuisance);
        if (replacesEnd) {
            ends.back() = outcome.first;
        } else {
            ends.push_back(outcome.first);
        }
        if (continued != nullptr) {
            run.limitReached = continued->limitReached && !outcome.second;
        }
        const bool limit = degenerate(params);
        ValleyEnd end{params, outcome.first, outcome.second, run.limitReached};
        if (preferred(outcome.first, limit, bestValue, bestDegenerate) ||
            (!runBest && outcome.first == bestValue && limit == bestDegenerate)) {
            bestValue = outcome.first;
            best = std::move(run);
            best.params = std::move(params);
            bestConverged = outcome.second;
            bestDegenerate = limit;
            runBest = true;
        }
        return end;
    };
    // An end whose polish did not converge sits in a long curved valley (towards a ridge's
    // limit a proper optimum often lies further along it, or off it) that Newton steps in
    // the search coordinates follow slowly: Nelder-Mead restarted from it follows it, as in
    // a Nelder-Mead fit, each end polished, while a restart gains more than kSameOptimum.
    RunSettings local = settings;
    local.method = Method::NelderMead;
    const auto followValley = [&](ValleyEnd end, bool replacesEnd) {
        for (int k = 0; k < kMaxRestarts && !end.converged; ++k) {
            std::optional<ValleyEnd> next =
                takeRun(runMethod<F>(local, objective, settings.seed, sink, simplexAround(end.q)), replacesEnd, &end);
            if (!next) {
                return;
            }
            replacesEnd = true;
            const bool gained = next->value < end.value - kSameOptimum;
            end = std::move(*next);
            if (!gained) {
                return;
            }
        }
    };
    // Nelder-Mead restarts from the best point, or from the last end where that is higher
    // though improper (a run that stopped part-way up a valley towards a ridge's limit may yet
    // reach a proper optimum further on), while either climbs by more than kSameOptimum.
    std::optional<ValleyEnd> last;
    for (int k = 0; k < maxRuns; ++k) {
        std::optional<std::uint32_t> seed = settings.seed;
        if (!simplex && settings.seed) {
            seed = derivedSeed(*settings.seed, k);
        }
        const bool fromLast = last && better(last->value, bestValue);
        const Vector from = fromLast ? last->q : runBest ? best.params : startParams;
        const double before = bestValue, lastBefore = fromLast ? last->value : bestValue;
        std::optional<ValleyEnd> end = takeRun(simplex && k > 0 && !from.empty()
                                                   ? runMethod<F>(settings, objective, seed, sink, simplexAround(from))
                                                   : runMethod<F>(settings, objective, seed, sink),
                                               false, nullptr);
        if (!end) {
            continue;
        }
        const bool climbed = end->value < lastBefore - kSameOptimum;
        if (!simplex) {
            followValley(std::move(*end), true);
        } else {
            last = std::move(end);
        }
        if (bestConverged && agreeing(ends) >= 2 && mayEndOnEdge<F>(best.params, bestDegenerate)) {
            break;
        }
        if (simplex && k > 0 && !(bestValue < before - kSameOptimum) && !climbed) {
            break;
        }
    }
    // A start that every run ended below, its polish cut short: its valley too.
    if (!simplex && !runBest && !startConverged && !startParams.empty()) {
        followValley({startParams, startValue, false, false}, false);
    }
    report.polished = bestConverged;
    if (!runBest) {
        // A polished start beat every run: it is the fit, the runs' counts with it.
        best.params = startParams;
        best.limitReached = false;
        bestValue = startValue;
        report.polished = startConverged;
    }
    if (best.params.empty()) {
        best.params.assign(F::kParams, std::numeric_limits<double>::quiet_NaN());
    }
    report.polishGain = std::isfinite(bestRunValue) && std::isfinite(bestValue) ? bestRunValue - bestValue : 0.0;
    best.count = count;
    best.evaluations = evaluations + report.polishEvaluations;
    // best.limitReached stays the best run's, unless the polish carried the best point to a
    // stationary point: that is an optimum however its run stopped.
    best.limitReached = best.limitReached && !report.polished;
    return best;
}

} // namespace ferrule
