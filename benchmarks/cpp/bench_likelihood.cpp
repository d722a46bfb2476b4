// Cost of one evaluation of the censored Yeo-Johnson likelihood on a rain series, next to
// the scalar floor of one uncensored term (two pow and one log per value) and the cost of
// a plain running sum. Two evaluations are timed: the objective a fit minimises (its series
// prepared once per fit) and Transformation::negLogLik (which takes the raw series).
// Usage: bench_likelihood SERIES_FILE LAMBDA MU LOG_SIGMA MIN_SECONDS
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "api/transformation.hpp"
#include "bench_support.hpp"
#include "core/censored_likelihood.hpp"
#include "core/families/yeo_johnson.hpp"

namespace {

// Read through a volatile on every call and written to one at the end, so the compiler
// can neither hoist a loop out of the timing repeats nor drop its result.
volatile double gLambda = 0.0;
volatile double gSink = 0.0;

// The naive uncensored term of every value: the transform (one pow) and the log
// Jacobian formed as log of a power (one pow, one log), summed in order.
void uncensoredFloor(const std::vector<double> &values) {
    const double lambda = gLambda;
    double s = 0.0;
    for (const double x : values) {
        const double y = (std::pow(x + 1.0, lambda) - 1.0) / lambda;
        const double logJacobian = std::log(std::pow(x + 1.0, lambda - 1.0));
        s = (y + logJacobian) + s;
    }
    gSink = s;
}

void plainSum(const std::vector<double> &values) {
    double s = gLambda;
    for (const double x : values) {
        s = x + s;
    }
    gSink = s;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s SERIES_FILE LAMBDA MU LOG_SIGMA MIN_SECONDS\n", argv[0]);
        return 2;
    }
    using ferrule::bench::report;
    const std::vector<double> data = ferrule::bench::readSeries(argv[1]);
    const ferrule::Vector q = {std::strtod(argv[2], nullptr), std::strtod(argv[3], nullptr),
                               std::strtod(argv[4], nullptr)};
    const double minSeconds = std::strtod(argv[5], nullptr);
    gLambda = q[0];

    // The floor is the cost of an uncensored term, so it runs over the wet values only.
    std::vector<double> wet;
    for (const double x : data) {
        if (x > 0.0) {
            wet.push_back(x);
        }
    }
    const std::set<double> distinct(data.begin(), data.end());

    const double infinity = std::numeric_limits<double>::infinity();
    // What a fit evaluates: the series prepared once, then one likelihood per point.
    const ferrule::PreparedSeries series(data, 0.0, infinity);
    const ferrule::CensoredLikelihood<ferrule::YeoJohnson, ferrule::ExactNormalMass> likelihood(series, false);
    ferrule::YeoJohnsonTransformation model;
    using ferrule::bench::repeated;
    const std::vector<double> seconds =
        ferrule::bench::secondsPerCall({repeated([&] { gSink = -likelihood.logLik(q.data()); }),
                                        repeated([&] { gSink = model.negLogLik(q, data, 0.0, infinity, false); }),
                                        repeated([&] { uncensoredFloor(wet); }), repeated([&] { plainSum(data); })},
                                       minSeconds);
    const double fitObjective = seconds[0], evaluation = seconds[1], floorLoop = seconds[2], sumLoop = seconds[3];

    const double n = static_cast<double>(data.size());
    report("values", n);
    report("wet_values", static_cast<double>(wet.size()));
    report("distinct_values", static_cast<double>(distinct.size()));
    report("negloglik", model.negLogLik(q, data, 0.0, infinity, false));
    report("fit_objective_ns", fitObjective * 1e9);
    report("evaluation_ns", evaluation * 1e9);
    report("floor_ns_per_value", floorLoop * 1e9 / static_cast<double>(wet.size()));
    report("addition_ns_per_value", sumLoop * 1e9 / n);
    return 0;
}
