// Fitting one series: check it against the censoring thresholds, rescale it when asked,
// bind the censored likelihood of a family to it and run one optimiser. A free function
// of its arguments: the caller decides where the lines go and what happens to the result.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/censored_likelihood.hpp"
#include "optim/differential_evolution.hpp"
#include "optim/fit_monitor.hpp"
#include "optim/message_sink.hpp"
#include "optim/nelder_mead.hpp"
#include "optim/random.hpp"
#include "optim/shuffled_complex_evolution.hpp"

namespace ferrule {

enum class Method { NelderMead, DifferentialEvolution, ShuffledComplexEvolution };

struct FitSettings {
    Method method = Method::NelderMead;
    bool rescale = false; // fit (x + shift) * scale, thresholds likewise
    double scale = 1.0;
    double shift = 0.0;
    bool isMap = false; // add the family's log prior
    double left = -std::numeric_limits<double>::infinity();
    double right = std::numeric_limits<double>::infinity();
    int maxConverge = 5;  // shuffled complex evolution: loops without change that end it
    int maxEval = 100000; // shuffled complex evolution: evaluation budget
    // Draws of the stochastic optimisers: a seed gives this fit an engine of its own;
    // without one, differential evolution seeds a fresh engine from the platform's entropy
    // and shuffled complex evolution draws from the process-wide stream.
    std::optional<std::uint32_t> seed;
    FitMonitor monitor; // polled between evaluations; none by default
};

struct FitReport {
    FitResult result;           // best search vector (all NaN when no finite value), count, evaluations
    bool lowValues = false;     // some value below the left threshold
    bool highValues = false;    // some value above the right threshold
    bool noFiniteValue = false; // the optimiser found no finite objective value
};

namespace fit_detail {

inline constexpr const char *kLowWarningLeftForm =
    "Warning: in C++ optimParams() values below the specified left censor threshold have been detected and are "
    "being treated as equal to the censor threshold";
inline constexpr const char *kLowWarningPlainForm =
    "Warning: in C++ optimParams() values below the specified censor threshold have been detected and are being "
    "treated as equal to the censor threshold";
inline constexpr const char *kHighWarning =
    "Warning: in C++ optimParams() values above the specified right censor threshold have been detected and are "
    "being treated as equal to the censor threshold";
inline constexpr const char *kNoFiniteWarning =
    "Warning: in C++ optimParams() no finite objective value was found; the fitted parameters are NaN";

// Nelder-Mead: start point, no initial simplex, both tolerances 1e-5, 1000 iterations.
inline constexpr double kSimplexTolerance = 1e-5;
inline constexpr int kSimplexMaxIterations = 1000;
// Differential evolution: weight F 0.9, crossover CR 0.8, 25 members.
inline constexpr double kDifferentialWeight = 0.9;
inline constexpr double kCrossoverProbability = 0.8;
inline constexpr int kPopulationSize = 25;
// Shuffled complex evolution: tolerance on the change of the best value.
inline constexpr double kComplexTolerance = 1e-5;

template <std::size_t N> Vector toVector(const std::array<double, N> &a) { return Vector(a.begin(), a.end()); }

} // namespace fit_detail

// Mass: how the likelihood evaluates its censored masses (likelihood_policy.hpp).
template <class F, class Mass> FitReport fitSeries(Vector data, const FitSettings &settings, MessageSink &sink) {
    using namespace fit_detail;
    // The threshold checks need a smallest and a largest value.
    if (data.empty()) {
        throw std::invalid_argument("cannot fit an empty data series: it must hold at least one value");
    }
    FitReport report;
    // Judged on the raw series and raw thresholds, strictly: a value equal to a threshold
    // does not warn, and a NaN threshold never does. The likelihood treats the values
    // beyond a threshold as censored, as the lines announce.
    double left = settings.left;
    double right = settings.right;
    if (left > *std::min_element(data.begin(), data.end())) {
        report.lowValues = true;
        sink.line(settings.method == Method::NelderMead ? kLowWarningLeftForm : kLowWarningPlainForm);
    }
    if (*std::max_element(data.begin(), data.end()) > right) {
        report.highValues = true;
        sink.line(kHighWarning);
    }
    if (settings.rescale) {
        for (double &x : data) {
            x = (x + settings.shift) * settings.scale;
        }
        left = (left + settings.shift) * settings.scale;
        right = (right + settings.shift) * settings.scale;
    }

    const PreparedSeries series(std::move(data), left, right);
    const CensoredLikelihood<F, Mass> likelihood(series, settings.isMap);
    MonitorCounter counter(settings.monitor);
    const auto negLogLik = [&likelihood, &counter](const Vector &q) {
        counter.evaluated();
        return -likelihood.logLik(q.data());
    };

    switch (settings.method) {
    case Method::NelderMead:
        report.result = nelderMead(toVector(F::start), {}, negLogLik, kSimplexTolerance, kSimplexTolerance,
                                   kSimplexMaxIterations, sink);
        break;
    case Method::DifferentialEvolution: {
        std::mt19937 engine(settings.seed ? *settings.seed : entropySeed());
        report.result = differentialEvolution(toVector(F::lower), toVector(F::upper), negLogLik, kDifferentialWeight,
                                              kCrossoverProbability, kPopulationSize, engine, sink);
        break;
    }
    case Method::ShuffledComplexEvolution: {
        const Vector upper = toVector(F::upper);
        const Vector lower = toVector(F::lower);
        if (settings.seed) {
            std::mt19937 engine(*settings.seed);
            EngineUniformSource uniform(engine);
            report.result = shuffledComplexEvolution(lower, upper, settings.maxEval, negLogLik, kComplexTolerance,
                                                     settings.maxConverge, uniform);
        } else {
            ProcessUniformSource uniform;
            report.result = shuffledComplexEvolution(lower, upper, settings.maxEval, negLogLik, kComplexTolerance,
                                                     settings.maxConverge, uniform);
        }
        break;
    }
    }

    sink.line(formatLine("iterations: ", report.result.count));
    // An optimiser that found no finite objective value (differential evolution: empty
    // params; shuffled complex evolution giving up on its initial sample: all NaN) leaves an
    // all-NaN search vector of the family's length, so the parameters become NaN, not stale.
    Vector &params = report.result.params;
    if (params.empty() || std::all_of(params.begin(), params.end(), [](double x) { return std::isnan(x); })) {
        report.noFiniteValue = true;
        sink.line(kNoFiniteWarning);
        params.assign(F::kParams, std::numeric_limits<double>::quiet_NaN());
    }
    return report;
}

} // namespace ferrule
