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
#include "core/fit_facts.hpp"
#include "optim/fit_monitor.hpp"
#include "optim/fit_strategy.hpp"
#include "optim/message_sink.hpp"
#include "optim/run_method.hpp"

namespace ferrule {

struct FitSettings : RunSettings {
    bool rescale = false; // fit (x + shift) * scale, thresholds likewise
    double scale = 1.0;
    double shift = 0.0;
    bool isMap = false; // add the family's log prior
    double left = -std::numeric_limits<double>::infinity();
    double right = std::numeric_limits<double>::infinity();
    // Restarts and a polish until the optimum is reached (fit_strategy.hpp) rather than
    // one run of the optimiser.
    bool thorough = false;
    FitMonitor monitor; // polled between evaluations; none by default
    bool facts = false; // compute the facts of the optimum (FitReport::facts)
};

struct FitReport {
    FitResult result;           // best search vector (all NaN when no finite value), count, evaluations
    bool lowValues = false;     // some value below the left threshold
    bool highValues = false;    // some value above the right threshold
    bool noFiniteValue = false; // the optimiser found no finite objective value
    StrategyReport strategy;    // what a thorough fit ran
    FitFacts facts;             // the optimum's facts when the settings ask for them
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

// The settings the optimisers run with, under the names of this front end too.
using namespace run_detail;

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

    MonitorCounter counter(settings.monitor);
    const PreparedSeries series(std::move(data), left, right, counter.checkpoint());
    const CensoredLikelihood<F, Mass> likelihood(series, settings.isMap);
    const auto negLogLik = [&likelihood, &counter](const Vector &q) {
        counter.evaluated();
        return -likelihood.logLik(q.data());
    };

    if (settings.thorough) {
        report.result = thoroughFit<F>(series, settings.isMap, settings, negLogLik, sink, report.strategy);
    } else {
        report.result = runMethod<F>(settings, negLogLik, settings.seed, sink);
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
    if (settings.facts) {
        report.facts = fitFacts<F, Mass>(series, params.data(), settings.isMap);
    }
    return report;
}

} // namespace ferrule
