// Differential evolution: the order of its draws (bit for bit from a known seed), the
// three evaluations per member, the convergence test on the spread of the values,
// the console lines, and the box handling.
#include <cmath>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/transformation.hpp"
#include "optim/differential_evolution.hpp"
#include "optim_test_support.hpp"

namespace ferrule {
namespace {

using test::CoutCapture;
using test::differentialEvolution;
using test::kSeriesLeft;
using test::kSeriesRight;
using test::ModelObjective;
using test::record;
using test::sameVectorBits;
using test::skewedSeries;
using test::streamed;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Minimum 0 at (1, -2).
const auto bowl = [](const Vector &x) { return (x[0] - 1.0) * (x[0] - 1.0) + 10.0 * (x[1] + 2.0) * (x[1] + 2.0); };

TEST(DifferentialEvolution, FirstMemberAndTrialFollowTheDrawOrder) {
    // Seed 5489, box [-1, 3] x [0, 8], 4 members, F = 0.9, CR = 0.3. Raw outputs o0 .. o13:
    //   3499211612 581869302 3890346734 3586334585 545404204 4161255391 3922919429
    //   949333985 2715962298 1323567403 418932835 2350294565 1196140740 809094426
    // Strata midpoints: parameter 0 -0.5 0.5 1.5 2.5, parameter 1 1 3 5 7 (exact).
    // Shuffle of parameter 0 (o0 mod 2 = 0, o1 mod 3 = 0, o2 mod 4 = 2): 1.5 -0.5 2.5 0.5.
    // Shuffle of parameter 1 (o3 mod 2 = 1, o4 mod 3 = 1, o5 mod 4 = 3): 1 5 3 7.
    // So member 0 = (1.5, 1), member 1 = (-0.5, 5), member 2 = (2.5, 3), member 3 = (0.5, 7).
    // Donors: shuffle of 0 1 2 3 with o6 mod 2 = 1, o7 mod 3 = 2, o8 mod 4 = 2: 0 1 3 2, so
    // a = 0, b = 1, c = 3. Mutant ((-0.5 - 0.5) * 0.9 + 1.5, (5 - 7) * 0.9 + 1) = (0.6, -0.8);
    // -0.8 is clamped to the lower bound 0.
    // jrand: high word of o9 * 2 = 2647134806 < 2^32 is 0.
    // U0 = canonical(o10, o11) = 0.547..., U1 = canonical(o12, o13) = 0.188... (Python:
    // float((o11 << 21) + (o10 >> 11)) * 2.0**-53, and likewise). Component 0 is jrand
    // (taken although 0.3 > U0 fails); 0.3 > U1 takes component 1 from the mutant. Had U0
    // not been drawn, U1 would be 0.547... and component 1 would stay 1.
    auto objective = record(bowl);
    CoutCapture out;
    differentialEvolution({-1.0, 0.0}, {3.0, 8.0}, objective, 0.9, 0.3, 4, 5489u);
    ASSERT_GE(objective.points.size(), 3u);
    EXPECT_TRUE(sameVectorBits(objective.points[0], {1.5, 1.0}));
    EXPECT_TRUE(sameVectorBits(objective.points[1], {0.6, 0.0}));
    // The trial (value 40.16) beats the member (value 90.25) and replaces it with its
    // value; members 1 .. 3 are valued once each, as the start dealt them, before their
    // own trials.
    EXPECT_TRUE(sameVectorBits(objective.points[2], {-0.5, 5.0}));
    EXPECT_TRUE(sameVectorBits(objective.points[4], {2.5, 3.0}));
    EXPECT_TRUE(sameVectorBits(objective.points[6], {0.5, 7.0}));
}

TEST(DifferentialEvolution, StartIsALatinHypercubeOfStratumMidpoints) {
    // Box [-1, 3] x [0, 8] x [2, 2], 4 members: generation 0 values member i first at
    // evaluation 2 i (then its trial), before it can change; per parameter those values are the midpoints
    // -0.5 0.5 1.5 2.5 and 1 3 5 7 (exact), and 2 for the fixed one, each once.
    auto objective = record(bowl);
    CoutCapture out;
    differentialEvolution({-1.0, 0.0, 2.0}, {3.0, 8.0, 2.0}, objective, 0.9, 0.8, 4);
    ASSERT_GE(objective.points.size(), 12u);
    std::vector<double> p0, p1;
    for (std::size_t i = 0; i < 4; ++i) {
        p0.push_back(objective.points[2 * i][0]);
        p1.push_back(objective.points[2 * i][1]);
        EXPECT_EQ(objective.points[2 * i][2], 2.0);
    }
    std::sort(p0.begin(), p0.end());
    std::sort(p1.begin(), p1.end());
    EXPECT_EQ(p0, (std::vector<double>{-0.5, 0.5, 1.5, 2.5}));
    EXPECT_EQ(p1, (std::vector<double>{1.0, 3.0, 5.0, 7.0}));
}

TEST(DifferentialEvolution, SameSeedSameRun) {
    CoutCapture out;
    const FitResult a = differentialEvolution({-5.0, -5.0}, {5.0, 5.0}, bowl, 0.9, 0.8, 25, 12345u);
    const FitResult b = differentialEvolution({-5.0, -5.0}, {5.0, 5.0}, bowl, 0.9, 0.8, 25, 12345u);
    EXPECT_EQ(a.count, b.count);
    EXPECT_TRUE(sameVectorBits(a.params, b.params));
}

TEST(DifferentialEvolution, EachCallDrawsItsOwnSeed) {
    // Two runs seeded from the platform's source; equal seeds would give equal first
    // evaluations, and the first evaluated member has 25^2 possible values.
    auto first = record(bowl);
    auto second = record(bowl);
    CoutCapture out;
    const FitResult a = differentialEvolution({-5.0, -5.0}, {5.0, 5.0}, first, 0.9, 0.8, 25);
    const FitResult b = differentialEvolution({-5.0, -5.0}, {5.0, 5.0}, second, 0.9, 0.8, 25);
    const bool sameCourse = first.points == second.points;
    EXPECT_FALSE(sameCourse && sameVectorBits(a.params, b.params));
}

// The first line is the first lower bound in the stream's default format.
struct FirstLineCase {
    double lower0;
    std::string line;
};

class DifferentialEvolutionFirstLine : public ::testing::TestWithParam<FirstLineCase> {};

TEST_P(DifferentialEvolutionFirstLine, ShowsTheFirstLowerBound) {
    CoutCapture out;
    differentialEvolution(
        {GetParam().lower0, 0.0}, {GetParam().lower0 + 1.0, 1.0}, [](const Vector &) { return 1.0; }, 0.9, 0.8, 25);
    ASSERT_FALSE(out.lines().empty());
    EXPECT_EQ(out.lines()[0], GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Console, DifferentialEvolutionFirstLine,
                         ::testing::Values(
                             // The families' first lower bounds.
                             FirstLineCase{-100.0, "-100"}, FirstLineCase{-10.0, "-10"}, FirstLineCase{0.001, "0.001"},
                             // Six significant digits, general format.
                             FirstLineCase{123.456789, "123.457"}, FirstLineCase{1e-7, "1e-07"}));

// All values equal: sd = 0 passes the test scale * 1e-6 >= sd after generation 0, also
// for a mean of 0 (scale floored at 1e-12). Evaluations: each member and its trial.
struct ConstantCase {
    double value;
    std::string best;
    bool found; // value below 1e20
};

class DifferentialEvolutionConstant : public ::testing::TestWithParam<ConstantCase> {};

TEST_P(DifferentialEvolutionConstant, ConvergesAfterGenerationZero) {
    const double value = GetParam().value;
    auto objective = record([value](const Vector &) { return value; });
    CoutCapture out;
    const FitResult result = differentialEvolution({-1.0, 0.0}, {1.0, 2.0}, objective, 0.9, 0.8, 5);
    EXPECT_EQ(out.text(), "-1\nDE converged after 0 iterations\nBest objective = " + GetParam().best + "\n");
    EXPECT_EQ(result.count, 0);
    ASSERT_EQ(objective.points.size(), 5u + 5u);
    if (GetParam().found) {
        // Every value ties, so every trial replaced its member (a tie replaces) and the
        // result is member 0 as its trial, evaluation 1, left it.
        EXPECT_TRUE(sameVectorBits(result.params, objective.points[1]));
    } else {
        EXPECT_TRUE(result.params.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Convergence, DifferentialEvolutionConstant,
                         ::testing::Values(ConstantCase{5.0, "5", true}, ConstantCase{0.0, "0", true},
                                           ConstantCase{-2.5e-3, "-0.0025", true},
                                           // 1e20 is not strictly below the running best 1e20.
                                           ConstantCase{1e20, "1e+20", false}));

// NaN everywhere, or +inf everywhere (inf - inf makes the spread NaN): the test never
// passes, every hundredth generation is reported, and no member is below 1e20.
struct NonFiniteCase {
    double value;
    std::string shown;
};

class DifferentialEvolutionNonFinite : public ::testing::TestWithParam<NonFiniteCase> {};

TEST_P(DifferentialEvolutionNonFinite, RunsEveryGeneration) {
    const double value = GetParam().value;
    auto objective = record([value](const Vector &) { return value; });
    CoutCapture out;
    const FitResult result = differentialEvolution({-1.0, 0.0}, {1.0, 2.0}, objective, 0.9, 0.8, 25);
    std::vector<std::string> expected{"-1"};
    for (int g = 0; g < 1000; g += 100) {
        expected.push_back("Iteration " + std::to_string(g) + ": best objective = " + GetParam().shown);
    }
    EXPECT_EQ(out.lines(), expected);
    EXPECT_EQ(result.count, 1000);
    EXPECT_TRUE(result.params.empty());
    // Each member once, then one trial per member and generation for 1000 generations;
    // the finish reuses the members' values.
    EXPECT_EQ(objective.points.size(), 25025u);
}

INSTANTIATE_TEST_SUITE_P(Convergence, DifferentialEvolutionNonFinite,
                         ::testing::Values(NonFiniteCase{kNaN, "nan"},
                                           NonFiniteCase{std::numeric_limits<double>::infinity(), "inf"}));

TEST(DifferentialEvolution, NaNMembersBlockConvergenceAndTheProgressShowsTheRest) {
    // NaN for x0 > 0.5: members starting there are never replaced (a NaN keeps the
    // member), so the mean stays NaN and the search runs to the limit; the progress
    // lines show the smallest of the other values, which never increases.
    auto objective = record([](const Vector &x) { return x[0] > 0.5 ? kNaN : bowl(x); });
    CoutCapture out;
    const FitResult result = differentialEvolution({-5.0, -5.0}, {5.0, 5.0}, objective, 0.9, 0.8, 25);
    const std::vector<std::string> lines = out.lines();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "-5");
    const std::regex progress(R"(Iteration (\d+): best objective = (\S+))");
    double previous = std::numeric_limits<double>::infinity();
    for (int k = 0; k < 10; ++k) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[1 + k], match, progress)) << lines[1 + k];
        EXPECT_EQ(match[1].str(), std::to_string(100 * k));
        const double best = std::stod(match[2].str());
        EXPECT_LE(best, previous);
        previous = best;
    }
    EXPECT_EQ(result.count, 1000);
    EXPECT_TRUE(result.limitReached);
    ASSERT_EQ(objective.values.size(), 25025u);
    // The result is a member with the smallest final value (NaN never taken): finite, and
    // no larger than the smallest value of the last progress line.
    ASSERT_EQ(result.params.size(), 2u);
    EXPECT_FALSE(std::isnan(objective(result.params)));
    const double lastShown = std::stod(lines.back().substr(lines.back().rfind(' ') + 1));
    EXPECT_LE(objective(result.params), lastShown * (1.0 + 1e-5));
}

TEST(DifferentialEvolution, ConvergenceLinesReportTheGenerationAndTheBestValue) {
    auto objective = record(bowl);
    CoutCapture out;
    const FitResult result = differentialEvolution({-5.0, -5.0}, {5.0, 5.0}, objective, 0.9, 0.8, 25);
    const std::vector<std::string> lines = out.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "-5");
    EXPECT_EQ(lines[lines.size() - 2], "DE converged after " + std::to_string(result.count) + " iterations");
    // Each member once, then one trial per member for g = 0 .. count.
    const std::size_t generations = static_cast<std::size_t>(result.count) + 1;
    ASSERT_EQ(objective.values.size(), 25u + 25u * generations);
    EXPECT_EQ(result.evaluations, static_cast<std::int64_t>(objective.values.size()));
    EXPECT_FALSE(result.limitReached);
    // The result is the member with the smallest final value, which the line shows.
    EXPECT_EQ(lines.back(), "Best objective = " + streamed(bowl(result.params)));
    // One progress line per hundred generations completed before convergence.
    EXPECT_EQ(lines.size(), 3u + (static_cast<std::size_t>(result.count) + 99) / 100);
    EXPECT_NEAR(result.params[0], 1.0, 1e-2);
    EXPECT_NEAR(result.params[1], -2.0, 1e-2);
}

TEST(DifferentialEvolution, MutantsAreClampedAndAFixedComponentStays) {
    // The bowl's minimum (1, -2) lies outside the box [2, 3] x {0.5} x [-1, 1] in x0 and
    // x1; mutants that leave the box are clamped, so every point valued lies inside, the
    // fixed component is exactly 0.5 throughout, and the search ends at the corner (2, 0.5).
    auto objective = record([](const Vector &x) { return bowl(x) + x[2] * x[2]; });
    CoutCapture out;
    const FitResult result = differentialEvolution({2.0, 0.5, -1.0}, {3.0, 0.5, 1.0}, objective, 0.9, 0.8, 25);
    for (const Vector &x : objective.points) {
        ASSERT_GE(x[0], 2.0);
        ASSERT_LE(x[0], 3.0);
        ASSERT_EQ(x[1], 0.5);
        ASSERT_GE(x[2], -1.0);
        ASSERT_LE(x[2], 1.0);
    }
    EXPECT_EQ(result.params[0], 2.0);
    EXPECT_EQ(result.params[1], 0.5);
    EXPECT_NEAR(result.params[2], 0.0, 1e-2);
}

TEST(DifferentialEvolution, WithoutCrossoverOnlyTheForcedComponentChanges) {
    // CR = 0: no uniform is below it, so the trial is the member except at jrand.
    auto objective = record([](const Vector &x) { return x[0] * x[0] + x[1] * x[1] + x[2] * x[2]; });
    CoutCapture out;
    differentialEvolution({-1.0, -1.0, -1.0}, {1.0, 1.0, 1.0}, objective, 0.9, 0.0, 10);
    ASSERT_GE(objective.points.size(), 20u);
    for (std::size_t i = 0; i < 10; ++i) {
        const Vector &member = objective.points[2 * i];
        const Vector &trial = objective.points[2 * i + 1];
        int changed = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            changed += member[k] != trial[k] ? 1 : 0;
        }
        EXPECT_LE(changed, 1) << "member " << i;
    }
}

// Fits of the censored likelihoods with the settings of the fitting front end: the
// first line is the family's first lower bound, the last lines match the count, and
// the result lies in the family's box with a finite value.
struct FamilyCase {
    std::string name;
    std::string firstLine;
};

class DifferentialEvolutionOnLikelihood : public ::testing::TestWithParam<FamilyCase> {};

template <class T> void checkFamilyFit(T model, const std::string &firstLine) {
    const ModelObjective objective{&Transformation::negLogLik, false, kSeriesRight, kSeriesLeft, skewedSeries(), model};
    const Vector lower = model.lowerBounds();
    const Vector upper = model.upperBounds();
    CoutCapture out;
    const FitResult result = differentialEvolution(lower, upper, objective, 0.9, 0.8, 25);
    const std::vector<std::string> lines = out.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], firstLine);
    if (result.count < 1000) {
        EXPECT_EQ(lines[lines.size() - 2], "DE converged after " + std::to_string(result.count) + " iterations");
    } else {
        EXPECT_EQ(lines.back().rfind("Iteration 900: best objective = ", 0), 0u);
    }
    ASSERT_EQ(result.params.size(), lower.size());
    for (std::size_t k = 0; k < lower.size(); ++k) {
        EXPECT_GE(result.params[k], lower[k]);
        EXPECT_LE(result.params[k], upper[k]);
    }
    EXPECT_LT(objective(result.params), 1e20);
}

TEST_P(DifferentialEvolutionOnLikelihood, FitsWithinTheFamilyBox) {
    const std::string &name = GetParam().name;
    if (name == "YeoJohnson") {
        checkFamilyFit(YeoJohnsonTransformation(1.0), GetParam().firstLine);
    } else if (name == "LogSinh") {
        checkFamilyFit(LogSinhTransformation(1.0, 0.01), GetParam().firstLine);
    } else if (name == "SinhAsinh") {
        checkFamilyFit(SinhAsinhTransformation(1.0, 0.0), GetParam().firstLine);
    } else {
        checkFamilyFit(JonesPewseyTransformation(1.0, 0.0), GetParam().firstLine);
    }
}

// First lower bounds of the families' boxes: -100, -10, 0.001, 0.001.
INSTANTIATE_TEST_SUITE_P(Families, DifferentialEvolutionOnLikelihood,
                         ::testing::Values(FamilyCase{"YeoJohnson", "-100"}, FamilyCase{"LogSinh", "-10"},
                                           FamilyCase{"SinhAsinh", "0.001"}, FamilyCase{"JonesPewsey", "0.001"}),
                         [](const ::testing::TestParamInfo<FamilyCase> &info) { return info.param.name; });

} // namespace
} // namespace ferrule
