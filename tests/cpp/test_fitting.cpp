// The fitting entry points: threshold warnings, rescaling, the optimiser settings
// and how the best search vector is stored.
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "optim/random.hpp"
#include "optim/shuffled_complex_evolution.hpp"
#include "optim_test_support.hpp"
#include "test_support.hpp"

namespace ferrule::test {
namespace {

const std::string kLowLeft = "Warning: in C++ optimParams() values below the specified left censor threshold have "
                             "been detected and are being treated as equal to the censor threshold";
const std::string kLowPlain = "Warning: in C++ optimParams() values below the specified censor threshold have been "
                              "detected and are being treated as equal to the censor threshold";
const std::string kHigh = "Warning: in C++ optimParams() values above the specified right censor threshold have been "
                          "detected and are being treated as equal to the censor threshold";
const std::string kNoFinite =
    "Warning: in C++ optimParams() no finite objective value was found; the fitted parameters are NaN";

// A right-skewed sample: squares of evenly spread normal-ish scores, a few zeros.
Vector skewedSample() {
    Vector data;
    for (int i = 0; i < 40; ++i) {
        const double z = -1.5 + 3.0 * i / 39.0;
        data.push_back(z < -1.2 ? 0.0 : (z + 1.2) * (z + 1.2));
    }
    return data;
}

enum class Fit { NelderMead, DE, SCE };

Vector runFit(YeoJohnsonTransformation &t, Fit fit, Vector data, bool rescale, bool isMap, double left, double right) {
    switch (fit) {
    case Fit::NelderMead:
        return t.optimParams(std::move(data), rescale, isMap, left, right);
    case Fit::DE:
        return t.optimParamsDE(std::move(data), rescale, isMap, left, right);
    case Fit::SCE:
        return t.optimParamsSCE(std::move(data), rescale, isMap, 5, 100000, left, right);
    }
    return {};
}

struct WarningCase {
    const char *name;
    Fit fit;
    Vector data;
    double left;
    double right;
    std::vector<std::string> expectedWarnings; // lines before the optimiser's own
};

class FitWarnings : public ::testing::TestWithParam<WarningCase> {};

TEST_P(FitWarnings, PrintsEachWarningOnceLowFirst) {
    const WarningCase &c = GetParam();
    YeoJohnsonTransformation t;
    CoutCapture out;
    runFit(t, c.fit, c.data, false, false, c.left, c.right);
    const std::vector<std::string> lines = out.lines();
    ASSERT_GE(lines.size(), c.expectedWarnings.size() + 1);
    for (std::size_t i = 0; i < c.expectedWarnings.size(); ++i) {
        EXPECT_EQ(lines[i], c.expectedWarnings[i]) << "line " << i;
    }
    for (std::size_t i = c.expectedWarnings.size(); i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind("Warning:", 0), std::string::npos) << "unexpected warning: " << lines[i];
    }
    EXPECT_EQ(lines.back().rfind("iterations: ", 0), 0u) << lines.back();
}

INSTANTIATE_TEST_SUITE_P(
    Fitting, FitWarnings,
    ::testing::Values(WarningCase{"NoneAtThresholds", Fit::NelderMead, {0.0, 1.0, 2.0, 5.0}, 0.0, 5.0, {}},
                      WarningCase{"LowLeftForm", Fit::NelderMead, {-1.0, -2.0, 1.0, 2.0}, 0.0, 10.0, {kLowLeft}},
                      WarningCase{"HighOnly", Fit::NelderMead, {0.5, 1.0, 12.0, 11.0}, 0.0, 10.0, {kHigh}},
                      WarningCase{"BothNelderMead", Fit::NelderMead, {12.0, -1.0, 1.0}, 0.0, 10.0, {kLowLeft, kHigh}},
                      WarningCase{"BothDE", Fit::DE, {12.0, -1.0, 1.0, 2.0}, 0.0, 10.0, {kLowPlain, kHigh}},
                      WarningCase{"BothSCE", Fit::SCE, {12.0, -1.0, 1.0, 2.0}, 0.0, 10.0, {kLowPlain, kHigh}},
                      WarningCase{"NaNThresholdsNeverWarn", Fit::NelderMead, {-5.0, 1.0, 50.0}, NAN, NAN, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Fitting, WarningsJudgeRawValuesWhenRescaling) {
    // A negative scale flips the order: the raw series lies inside [0, 10] and must not
    // warn, although its rescaled values lie outside the rescaled thresholds.
    YeoJohnsonTransformation t(1.0, -1.0, 0.0);
    CoutCapture out;
    t.optimParams({1.0, 2.0, 3.0, 4.0}, true, false, 0.0, 10.0);
    for (const std::string &line : out.lines()) {
        EXPECT_EQ(line.rfind("Warning:", 0), std::string::npos) << line;
    }
}

TEST(Fitting, EmptySeriesIsRefusedBeforeAnythingIsPrintedOrChanged) {
    for (Fit fit : {Fit::NelderMead, Fit::DE, Fit::SCE}) {
        YeoJohnsonTransformation t(0.5);
        CoutCapture out;
        EXPECT_THROW(runFit(t, fit, {}, false, false, 0.0, 1.0), std::invalid_argument);
        EXPECT_EQ(out.text(), "");
        EXPECT_TRUE(t.optimisedParams.empty());
        EXPECT_EQ(t.getDistributionParams(), (Vector{0.5, kUnsetParam, kUnsetParam}));
    }
}

class FitStorage : public ::testing::TestWithParam<Fit> {};

TEST_P(FitStorage, StoresTheReturnedSearchVectorAndItsDecoding) {
    YeoJohnsonTransformation t;
    CoutCapture out;
    const Vector best = runFit(t, GetParam(), skewedSample(), false, false, 0.0, 1e6);
    ASSERT_EQ(best.size(), 3u);
    EXPECT_TRUE(sameVectorBits(t.optimisedParams, best));
    YeoJohnsonTransformation decoded;
    EXPECT_EQ(t.getDistributionParams(), decoded.setParams(best));
    // The best vector is at least as good as the start point.
    YeoJohnsonTransformation probe;
    const Vector data = skewedSample();
    EXPECT_LE(probe.negLogLik(best, data, 0.0, 1e6, false),
              probe.negLogLik(probe.startParams(), data, 0.0, 1e6, false));
    EXPECT_EQ(out.lines().back().rfind("iterations: ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Fitting, FitStorage, ::testing::Values(Fit::NelderMead, Fit::DE, Fit::SCE));

TEST(Fitting, RescalingFitsTheRescaledSeries) {
    // Fitting (x + 1) * 2 without rescaling and x with rescaling (scale 2, shift 1)
    // is the same deterministic search.
    Vector raw = skewedSample();
    Vector rescaled;
    for (double x : raw) {
        rescaled.push_back((x + 1.0) * 2.0);
    }
    YeoJohnsonTransformation direct;
    YeoJohnsonTransformation viaRescale(1.0, 2.0, 1.0);
    CoutCapture out;
    const Vector a = direct.optimParams(rescaled, false, false, (0.0 + 1.0) * 2.0, (1e6 + 1.0) * 2.0);
    const Vector b = viaRescale.optimParams(raw, true, false, 0.0, 1e6);
    EXPECT_TRUE(sameVectorBits(a, b));
}

TEST(Fitting, DifferentialEvolutionPrintsTheFirstLowerBoundFirst) {
    YeoJohnsonTransformation yj;
    LogSinhTransformation ls;
    SinhAsinhTransformation sa;
    const Vector data = skewedSample();
    CoutCapture out;
    yj.optimParamsDE(data, false, false, -1.0, 1e6);
    ls.optimParamsDE(data, false, false, -1.0, 1e6);
    sa.optimParamsDE(data, false, false, -1.0, 1e6);
    std::vector<std::string> firsts;
    bool atStart = true;
    for (const std::string &line : out.lines()) {
        if (atStart) {
            firsts.push_back(line);
        }
        atStart = line.rfind("iterations: ", 0) == 0;
    }
    EXPECT_EQ(firsts, (std::vector<std::string>{"-100", "-10", "0.001"}));
}

// The front end hands maxConverge and maxEval to the optimiser in their places: each
// setting decides one of the two runs, and both runs match a direct call of the
// optimiser on the same likelihood from the same engine state.
TEST(Fitting, ShuffledComplexEvolutionGetsItsLimitsInTheirPlaces) {
    const std::mt19937 engineAtStart = processEngine;
    const double inf = INFINITY;
    std::vector<int> counts;
    for (const auto &[maxConverge, maxEval] : {std::pair{5, 100000}, std::pair{100000, 400}}) {
        processEngine.seed(5489u);
        YeoJohnsonTransformation fitted;
        CoutCapture out;
        const Vector best = fitted.optimParamsSCE(skewedSample(), false, true, maxConverge, maxEval, 0.0, inf);

        processEngine.seed(5489u);
        YeoJohnsonTransformation direct;
        const ModelObjective objective{&Transformation::logLik, true, inf, 0.0, skewedSample(), direct};
        const FitResult expected = maximiseByComplexEvolution(direct.lowerBounds(), direct.upperBounds(), maxEval,
                                                              objective, 1e-5, maxConverge);

        EXPECT_EQ(out.lines().back(), "iterations: " + std::to_string(expected.count));
        EXPECT_EQ(best, expected.params);
        counts.push_back(expected.count);
    }
    // The first run stops on convergence, the second on its evaluation budget: at the
    // end of the shuffle in which the count passes 400, well before convergence.
    EXPECT_GT(counts[1], 400);
    EXPECT_LT(counts[1], counts[0]);
    processEngine = engineAtStart;
}

TEST(Fitting, NoFiniteObjectiveLeavesNaNParametersAndWarns) {
    // Sinh-arcsinh maps NaN to NaN and +inf to +inf for every point of its box.
    // NaN thresholds make every censored term NaN: differential evolution finds no
    // member below 1e20. A NaN value with an infinite right threshold is right-censored
    // with mass log(1 - Phi(inf)) = -inf everywhere: the complex evolution's initial
    // sample gives up.
    const double inf = INFINITY;
    SinhAsinhTransformation de;
    SinhAsinhTransformation sce;
    CoutCapture out;
    const Vector deBest = de.optimParamsDE({1.0, 2.0}, false, false, NAN, NAN);
    const std::vector<std::string> deLines = out.lines();
    const Vector sceBest = sce.optimParamsSCE({NAN}, false, false, 5, 100000, -inf, inf);
    const std::vector<std::string> allLines = out.lines();
    const std::vector<std::string> sceLines(allLines.begin() + deLines.size(), allLines.end());
    for (const auto &[t, best, lines] : {std::tie(de, deBest, deLines), std::tie(sce, sceBest, sceLines)}) {
        ASSERT_EQ(best.size(), 4u);
        EXPECT_EQ(t.optimisedParams.size(), 4u);
        for (double v : best) {
            EXPECT_TRUE(std::isnan(v));
        }
        for (double v : t.getDistributionParams()) {
            EXPECT_TRUE(std::isnan(v));
        }
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2].rfind("iterations: ", 0), 0u);
        EXPECT_EQ(lines.back(), kNoFinite);
    }
}

} // namespace
} // namespace ferrule::test
