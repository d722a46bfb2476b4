// The array functions of ferrule._core: the same numbers as the Transformation classes,
// seeds of their own, cells fitted on any number of threads with the same results.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/family_bindings.hpp"
#include "api/kernels.hpp"
#include "api/transformation.hpp"
#include "core/standard_normal.hpp"
#include "identity_cases.hpp"
#include "optim_test_support.hpp"
#include "test_support.hpp"

namespace ferrule::test {
namespace {

using kernels::familyByKey;

TEST(Registry, KeysNameTheirKernelsAndCarryTheirFacts) {
    for (const FamilyId id : kFamilies) {
        const FamilyInfo info = familyInfo(id);
        EXPECT_EQ(familyByKey(info.key), id);
        withFamily(id, [&](auto kernel) {
            using F = decltype(kernel);
            EXPECT_EQ(info.start, Vector(F::start.begin(), F::start.end()));
            EXPECT_EQ(info.lower, Vector(F::lower.begin(), F::lower.end()));
            EXPECT_EQ(info.upper, Vector(F::upper.begin(), F::upper.end()));
            EXPECT_EQ(info.transformationNames.size(), F::kTransParams);
            EXPECT_EQ(kernels::parameterCount(id), F::kParams);
        });
    }
    EXPECT_TRUE(familyInfo(FamilyId::JonesPewsey).modelsRawValue);
    EXPECT_FALSE(familyBinding(FamilyId::LogSinh).hasShift);
    EXPECT_STREQ(familyBinding(FamilyId::JonesPewsey).gridClass, "");
    EXPECT_THROW(familyByKey("box_cox"), std::invalid_argument);
}

// The fit of one series equals the kestrel path: Nelder-Mead as optimParams (lines
// included), differential evolution seeded as the optimiser run on an engine of that seed.
TEST(Kernels, FitsEqualTheTransformationsAndTheSeededOptimiser) {
    const Vector data = rainSeries(60, 3);
    YeoJohnsonTransformation model(1.0, 0.25, 0.5);
    CoutCapture out;
    model.optimParams(data, true, false, 0.0, kInf);
    FitSettings settings;
    settings.rescale = true;
    settings.scale = 0.25;
    settings.shift = 0.5;
    settings.left = 0.0;
    const kernels::SeriesFit simplex = kernels::fit(FamilyId::YeoJohnson, data, settings, kernels::Masses::Exact);
    EXPECT_TRUE(sameVectorBits(simplex.report.result.params, model.optimisedParams));
    EXPECT_EQ(simplex.lines, out.lines());

    settings.method = Method::DifferentialEvolution;
    settings.seed = 77u;
    const kernels::SeriesFit evolution = kernels::fit(FamilyId::YeoJohnson, data, settings, kernels::Masses::Exact);
    Vector rescaled = data;
    for (double &x : rescaled) {
        x = (x + 0.5) * 0.25;
    }
    const PreparedSeries series(rescaled, (0.0 + 0.5) * 0.25, kInf);
    const CensoredLikelihood<YeoJohnson, ExactNormalMass> likelihood(series, false);
    const auto negLogLik = [&](const Vector &q) { return -likelihood.logLik(q.data()); };
    CollectingSink sink;
    std::mt19937 engine(77u);
    const FitResult direct =
        ferrule::differentialEvolution(model.lowerBounds(), model.upperBounds(), negLogLik, 0.9, 0.8, 25, engine, sink);
    EXPECT_TRUE(sameVectorBits(evolution.report.result.params, direct.params));
    EXPECT_EQ(evolution.report.result.count, direct.count);
    sink.lines.push_back("iterations: " + std::to_string(direct.count));
    EXPECT_EQ(evolution.lines, sink.lines);

    // The same seed twice: the same fit, for complex evolution too.
    settings.method = Method::ShuffledComplexEvolution;
    const kernels::SeriesFit a = kernels::fit(FamilyId::LogSinh, data, settings);
    const kernels::SeriesFit b = kernels::fit(FamilyId::LogSinh, data, settings);
    EXPECT_TRUE(sameVectorBits(a.report.result.params, b.report.result.params));
    EXPECT_EQ(a.report.result.evaluations, b.report.result.evaluations);
}

// Every cell fitted on its own series, for any thread count: equal to one fit per cell;
// a stop before cell k commits cells 0 .. k-1.
TEST(Kernels, CellFitsEqualOneFitPerCellForAnyThreadCount) {
    const std::size_t cells = 23, n = 30;
    Vector values;
    std::vector<double> left(cells, 0.0), right(cells, kInf);
    std::vector<std::int64_t> lengths(cells);
    std::vector<std::uint8_t> skip(cells, 0);
    std::vector<std::uint32_t> seeds(cells);
    for (std::size_t i = 0; i < cells; ++i) {
        const Vector series = rainSeries(static_cast<int>(n), static_cast<unsigned>(100 + i));
        values.insert(values.end(), series.begin(), series.end());
        lengths[i] = static_cast<std::int64_t>(n - i % 7);
        seeds[i] = static_cast<std::uint32_t>(9000 + i);
    }
    skip[4] = 1;
    for (const Method method : {Method::NelderMead, Method::DifferentialEvolution}) {
        FitSettings settings;
        settings.method = method;
        std::vector<Vector> expected(cells);
        for (std::size_t i = 0; i < cells; ++i) {
            FitSettings one = settings;
            one.left = left[i];
            one.seed = seeds[i];
            const Vector series(values.begin() + static_cast<std::ptrdiff_t>(i * n),
                                values.begin() + static_cast<std::ptrdiff_t>(i * n) + lengths[i]);
            expected[i] = kernels::fit(FamilyId::YeoJohnson, series, one).report.result.params;
        }
        for (const int threads : {1, 2, 3}) {
            const kernels::CellFits fits = kernels::fitCells(
                FamilyId::YeoJohnson, values.data(), cells, n, lengths.data(), left.data(), right.data(), skip.data(),
                nullptr, nullptr, seeds.data(), settings, threads, nullptr, nullptr);
            ASSERT_EQ(fits.committed, cells);
            EXPECT_FALSE(fits.stopped);
            for (std::size_t i = 0; i < cells; ++i) {
                EXPECT_EQ(fits.cells[i].skipped, i == 4);
                if (i != 4) {
                    EXPECT_TRUE(sameVectorBits(fits.cells[i].fit.report.result.params, expected[i]))
                        << "cell " << i << ", " << threads << " threads";
                }
            }
        }
    }
    struct Countdown {
        int left;
    } countdown{9};
    const auto stopAtNine = [](void *context) { return --static_cast<Countdown *>(context)->left < 0; };
    FitSettings settings;
    const kernels::CellFits stopped =
        kernels::fitCells(FamilyId::YeoJohnson, values.data(), cells, n, nullptr, left.data(), right.data(), nullptr,
                          nullptr, nullptr, nullptr, settings, 2, stopAtNine, &countdown);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.committed, 9u);
}

// The censoring each value gets is the likelihood's decision.
TEST(Kernels, CensoringMatchesTheLikelihoodsDecision) {
    const Vector data = {-1.0, 0.0, 0.3, 5.0, 1e6, kNaN, 80.0};
    const double q[] = {-50.0, 0.01, -2.0};
    std::vector<std::int8_t> sides(data.size());
    kernels::censoring(FamilyId::YeoJohnson, q, data.data(), data.size(), 0.0, 50.0, sides.data());
    // Below and at the left threshold: left; large values rounding onto T(50): inside;
    // NaN and above the right threshold: right.
    EXPECT_EQ(sides, (std::vector<std::int8_t>{-1, -1, 0, 0, 1, 1, 1}));
}

// Reference values from mpmath at 40 digits: ncdf(1), ncdf(-3), log(ncdf(-40)),
// sqrt(2) erfinv(0.95), and the root of ncdf(z) = 1e-300. The erfc form is within a few
// ulp (the argument z / sqrt 2 is rounded once).
TEST(StandardNormal, MatchesReferenceValues) {
    EXPECT_EQ(standardNormalCdf(0.0), 0.5);
    EXPECT_PRED_FORMAT2(WithinOneUlp, standardNormalCdf(1.0), 0.8413447460685429);
    EXPECT_NEAR(standardNormalCdf(-3.0), 0.0013498980316300946, 2e-15 * 0.0013498980316300946);
    EXPECT_NEAR(standardNormalLogCdf(-40.0), -804.6084420137538, 1e-12);
    EXPECT_NEAR(standardNormalQuantile(0.975), 1.9599639845400543, 2e-15);
    EXPECT_NEAR(standardNormalQuantile(1e-300), -37.0470962993612, 1e-12);
    EXPECT_EQ(standardNormalQuantile(0.0), -kInf);
    EXPECT_EQ(standardNormalQuantile(1.0), kInf);
    EXPECT_TRUE(std::isnan(standardNormalQuantile(1.5)));
    for (const double p : {1e-12, 0.01, 0.3, 0.5, 0.7, 0.99, 1.0 - 1e-9}) {
        EXPECT_NEAR(standardNormalCdf(standardNormalQuantile(p)), p, 4e-16 + 1e-15 * p) << "p = " << p;
    }
}

} // namespace
} // namespace ferrule::test
