// Objective evaluations of one Nelder-Mead fit against the distinct points it evaluates.
// The library's fit is rebuilt from its parts (the likelihood on the prepared series, the
// start point, tolerances and iteration limit) with a counting objective, and checked
// against the library's own fit of the same series.
// Usage: bench_nelder_mead_calls SERIES_FILE
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

#include "api/transformation.hpp"
#include "bench_support.hpp"
#include "core/censored_likelihood.hpp"
#include "core/families/yeo_johnson.hpp"
#include "optim/fit_series.hpp"
#include "optim/message_sink.hpp"
#include "optim/nelder_mead.hpp"

namespace {
// Points are told apart by their bits, so NaN coordinates compare as well as numbers do.
std::vector<std::uint64_t> bitsOf(const ferrule::Vector &q) {
    std::vector<std::uint64_t> bits(q.size());
    std::memcpy(bits.data(), q.data(), q.size() * sizeof(double));
    return bits;
}
} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SERIES_FILE\n", argv[0]);
        return 2;
    }
    using ferrule::bench::report;
    namespace settings = ferrule::fit_detail;
    const std::vector<double> data = ferrule::bench::readSeries(argv[1]);
    const double infinity = std::numeric_limits<double>::infinity();

    const ferrule::PreparedSeries series(data, 0.0, infinity);
    const ferrule::CensoredLikelihood<ferrule::YeoJohnson, ferrule::ExactNormalMass> likelihood(series, false);
    long evaluations = 0;
    std::set<std::vector<std::uint64_t>> points;
    const auto counting = [&](const ferrule::Vector &q) {
        ++evaluations;
        points.insert(bitsOf(q));
        return -likelihood.logLik(q.data());
    };
    ferrule::CollectingSink lines;
    const ferrule::Vector start(ferrule::YeoJohnson::start.begin(), ferrule::YeoJohnson::start.end());
    const ferrule::FitResult result =
        ferrule::nelderMead(start, {}, counting, settings::kSimplexTolerance, settings::kSimplexTolerance,
                            settings::kSimplexMaxIterations, lines);

    ferrule::YeoJohnsonTransformation library;
    const ferrule::Vector fitted = library.optimParams(data, false, false, 0.0, infinity);

    report("values", static_cast<double>(data.size()));
    report("iterations", result.count);
    report("evaluations", static_cast<double>(evaluations));
    report("reported_evaluations", static_cast<double>(result.evaluations));
    report("distinct_points", static_cast<double>(points.size()));
    report("matches_library_fit", result.params == fitted ? 1.0 : 0.0);
    return 0;
}
