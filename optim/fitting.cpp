// Fitting entry points of Transformation: check the series against the censoring
// thresholds, optionally rescale, bind the censored likelihood, run one optimiser
// and store the best search vector in the object.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <utility>

#include "core/transformation.hpp"
#include "optim/differential_evolution.hpp"
#include "optim/fit_objective.hpp"
#include "optim/nelder_mead.hpp"
#include "optim/shuffled_complex_evolution.hpp"

namespace ferrule {

namespace {

constexpr const char *kLowWarningLeftForm =
    "Warning: in C++ optimParams() values below the specified left censor threshold have been detected and are "
    "being treated as equal to the censor threshold";
constexpr const char *kLowWarningPlainForm =
    "Warning: in C++ optimParams() values below the specified censor threshold have been detected and are being "
    "treated as equal to the censor threshold";
constexpr const char *kHighWarning =
    "Warning: in C++ optimParams() values above the specified right censor threshold have been detected and are "
    "being treated as equal to the censor threshold";
constexpr const char *kNoFiniteWarning =
    "Warning: in C++ optimParams() no finite objective value was found; the fitted parameters are NaN";

// Nelder-Mead settings of the default fit.
constexpr double kSimplexTolerance = 1e-5;
constexpr int kSimplexMaxIterations = 1000;
// Differential evolution settings.
constexpr double kDifferentialWeight = 0.9;
constexpr double kCrossoverProbability = 0.8;
constexpr int kPopulationSize = 25;
// Shuffled complex evolution tolerance on the change of the best log-likelihood.
constexpr double kComplexTolerance = 1e-5;

void requireData(const Vector &data) {
    // The threshold checks need a smallest and a largest value.
    if (data.empty()) {
        throw std::invalid_argument("cannot fit an empty data series: it must hold at least one value");
    }
}

// Judged on the raw series and raw thresholds, strictly: a value equal to a threshold
// does not warn, and a NaN threshold never does. Values beyond a threshold are not
// altered; the likelihood treats them as censored.
void warnBeyondThresholds(const Vector &data, double left, double right, const char *lowWarning) {
    const double smallest = *std::min_element(data.begin(), data.end());
    if (left > smallest) {
        std::cout << lowWarning << std::endl;
    }
    const double largest = *std::max_element(data.begin(), data.end());
    if (largest > right) {
        std::cout << kHighWarning << std::endl;
    }
}

// The steps every entry point takes before its optimiser: refuse an empty series, warn
// about values beyond the thresholds, rescale when asked and bind the likelihood.
FitObjective prepareFit(Transformation &t, const char *lowWarning, FitObjective::Operation operation, Vector data,
                        bool doRescale, bool isMap, double left, double right) {
    requireData(data);
    warnBeyondThresholds(data, left, right, lowWarning);
    if (doRescale) {
        data = t.rescaleMany(std::move(data));
        left = t.rescaleOne(left);
        right = t.rescaleOne(right);
    }
    return FitObjective{operation, isMap, right, left, std::move(data), t};
}

// Reports the optimiser's count and stores its best vector. An optimiser that found
// no finite objective value (differential evolution: empty params; shuffled complex
// evolution giving up on its initial sample: all NaN) leaves an all-NaN search vector
// of the family's length, so the natural parameters become NaN rather than stale.
Vector storeFit(Transformation &t, FitResult result) {
    std::cout << "iterations: " << result.count << std::endl;
    const bool noFiniteValue = result.params.empty() || std::all_of(result.params.begin(), result.params.end(),
                                                                    [](double x) { return std::isnan(x); });
    if (noFiniteValue) {
        std::cout << kNoFiniteWarning << std::endl;
        result.params.assign(t.startParams().size(), std::numeric_limits<double>::quiet_NaN());
    }
    t.setParams(result.params);
    t.optimisedParams = result.params;
    return result.params;
}

} // namespace

Vector Transformation::optimParams(Vector data, bool doRescale, bool isMap, double leftCensThresh,
                                   double rightCensThresh) {
    const FitObjective objective = prepareFit(*this, kLowWarningLeftForm, &Transformation::negLogLik, std::move(data),
                                              doRescale, isMap, leftCensThresh, rightCensThresh);
    return storeFit(
        *this, nelderMead(startParams(), {}, objective, kSimplexTolerance, kSimplexTolerance, kSimplexMaxIterations));
}

Vector Transformation::optimParamsDE(Vector data, bool doRescale, bool isMap, double leftCensThresh,
                                     double rightCensThresh) {
    const FitObjective objective = prepareFit(*this, kLowWarningPlainForm, &Transformation::negLogLik, std::move(data),
                                              doRescale, isMap, leftCensThresh, rightCensThresh);
    const Vector upper = upperBounds();
    const Vector lower = lowerBounds();
    return storeFit(*this, differentialEvolution(lower, upper, objective, kDifferentialWeight, kCrossoverProbability,
                                                 kPopulationSize));
}

Vector Transformation::optimParamsSCE(Vector data, bool doRescale, bool isMap, int maxConverge, int maxEval,
                                      double leftCensThresh, double rightCensThresh) {
    const FitObjective objective = prepareFit(*this, kLowWarningPlainForm, &Transformation::logLik, std::move(data),
                                              doRescale, isMap, leftCensThresh, rightCensThresh);
    const Vector upper = upperBounds();
    const Vector lower = lowerBounds();
    return storeFit(*this, shuffledComplexEvolution(lower, upper, maxEval, objective, kComplexTolerance, maxConverge));
}

} // namespace ferrule
