// Nelder-Mead simplex search: the start simplex, ranking and tie rules, the stopping
// test, the four moves and the limit message, on analytic objectives whose course
// can be followed by hand.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/transformation.hpp"
#include "optim/nelder_mead.hpp"
#include "optim_test_support.hpp"

namespace ferrule {
namespace {

using test::CoutCapture;
using test::kSeriesLeft;
using test::kSeriesRight;
using test::ModelObjective;
using test::nelderMead;
using test::record;
using test::sameVectorBits;
using test::skewedSeries;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kLimitMessage = ": Reached maximum number of allowed iterations. The result may not be optimal";

// Minimum 0 at (1, -2).
const auto bowl = [](const Vector &x) { return (x[0] - 1.0) * (x[0] - 1.0) + 10.0 * (x[1] + 2.0) * (x[1] + 2.0); };

// Vertex 0 of the start simplex from start {s0, s1}: component 0 moved by s0 / 20.
Vector firstVertex(const Vector &start) {
    Vector v = start;
    v[0] = start[0] + start[0] / 20.0;
    return v;
}

TEST(NelderMead, ConvergesOnAQuadraticBowlWithoutMessage) {
    CoutCapture out;
    const FitResult result = nelderMead({3.0, 3.0}, {}, bowl, 1e-5, 1e-5, 1000);
    EXPECT_EQ(out.text(), "");
    EXPECT_GT(result.count, 0);
    EXPECT_LT(result.count, 1000);
    // Minimum of the bowl at (1, -2); the mean-value test stops within about sqrt(1e-5).
    EXPECT_NEAR(result.params[0], 1.0, 1e-2);
    EXPECT_NEAR(result.params[1], -2.0, 1e-2);
}

TEST(NelderMead, IsDeterministic) {
    const FitResult a = nelderMead({3.0, 3.0}, {}, bowl, 1e-5, 1e-5, 1000);
    const FitResult b = nelderMead({3.0, 3.0}, {}, bowl, 1e-5, 1e-5, 1000);
    EXPECT_EQ(a.count, b.count);
    EXPECT_TRUE(sameVectorBits(a.params, b.params));
}

// maxIterations of 0 or below: nothing is evaluated and vertex 0 is returned; only a
// limit of exactly 0 equals the final count, so only it writes the message.
struct LimitCase {
    int maxIterations;
    std::string expectedOutput;
};

class NelderMeadNoIteration : public ::testing::TestWithParam<LimitCase> {};

TEST_P(NelderMeadNoIteration, ReturnsVertexZeroUnevaluated) {
    auto objective = record(bowl);
    CoutCapture out;
    const FitResult result = nelderMead({3.0, 4.0}, {}, objective, 1e-5, 1e-5, GetParam().maxIterations);
    EXPECT_EQ(out.text(), GetParam().expectedOutput);
    EXPECT_EQ(result.count, 0);
    EXPECT_TRUE(objective.points.empty());
    // Vertex 0 = start with component 0 moved by 3 / 20.
    EXPECT_TRUE(sameVectorBits(result.params, firstVertex({3.0, 4.0})));
}

INSTANTIATE_TEST_SUITE_P(Limits, NelderMeadNoIteration,
                         ::testing::Values(LimitCase{0, "0" + kLimitMessage + "\n"}, LimitCase{-1, ""},
                                           LimitCase{-1000, ""}));

TEST(NelderMead, LimitMessageCarriesTheCount) {
    auto objective = record(bowl);
    CoutCapture out;
    const FitResult result = nelderMead({3.0, 3.0}, {}, objective, 1e-5, 1e-5, 5);
    EXPECT_EQ(out.text(), "5" + kLimitMessage + "\n");
    EXPECT_EQ(result.count, 5);
    // The start simplex's n + 1 = 3 values once, then per iteration the reflection and at
    // most one more point (n more after a shrink); vertices that did not move keep their values.
    EXPECT_GE(objective.points.size(), 3u + 5u);
    EXPECT_LE(objective.points.size(), 3u + 5u * 4u);
    EXPECT_EQ(result.evaluations, static_cast<std::int64_t>(objective.points.size()));
}

TEST(NelderMead, NeverEvaluatesAPointTwice) {
    for (const Vector &start : {Vector{3.0, 3.0}, Vector{0.0, 3.0}, Vector{-2.0, 7.0}}) {
        auto objective = record(bowl);
        const FitResult result = nelderMead(start, {}, objective, 1e-5, 1e-5, 1000);
        EXPECT_EQ(test::distinctPoints(objective.points), objective.points.size());
        EXPECT_EQ(result.evaluations, static_cast<std::int64_t>(objective.points.size()));
    }
}

TEST(NelderMead, ZeroStartComponentStaysZero) {
    // Start component 0 is 0, so its 5 % step is 0 and every vertex, reflection,
    // expansion, contraction and shrink keeps it at exactly 0, though the minimum
    // lies at x0 = 1.
    auto objective = record(bowl);
    const FitResult result = nelderMead({0.0, 3.0}, {}, objective, 1e-5, 1e-5, 1000);
    ASSERT_FALSE(objective.points.empty());
    for (const Vector &x : objective.points) {
        ASSERT_EQ(x[0], 0.0);
    }
    EXPECT_EQ(result.params[0], 0.0);
    EXPECT_NEAR(result.params[1], -2.0, 1e-2);
}

TEST(NelderMead, TinyStartStopsAtIterationZero) {
    // The first vertex sum is compared with 3 * start: dX is about (1e-6 + 2e-6) / 20 / 2
    // = 7.5e-8 < tolX, so the search stops after the 3 start vertices are valued.
    // x0 + x1 is smallest at vertex 2, the unmoved start.
    auto objective = record([](const Vector &x) { return x[0] + x[1]; });
    CoutCapture out;
    const FitResult result = nelderMead({1e-6, 2e-6}, {}, objective, 1e-5, 1e-5, 1000);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(result.count, 0);
    EXPECT_EQ(objective.points.size(), 3u);
    EXPECT_TRUE(sameVectorBits(result.params, {1e-6, 2e-6}));
}

TEST(NelderMead, MeanValueDividesByTheParameterCount) {
    // n = 1 and a constant 5e9: the mean is (5e9 + 5e9) / 1 = 1e10, equal to the initial
    // previous mean, so dF = 0 < tolF stops the search at iteration 0 after two values.
    // Dividing by n + 1 would give 5e9 and no stop.
    auto objective = record([](const Vector &) { return 5e9; });
    const FitResult result = nelderMead({1.0}, {}, objective, 1e-5, 1e-5, 1000);
    EXPECT_EQ(result.count, 0);
    EXPECT_EQ(objective.points.size(), 2u);
}

TEST(NelderMead, NaNObjectiveStopsAtIterationOne) {
    // Every value is NaN: the reflection is never taken, the vertex sum stops moving
    // and dX = 0 < tolX at iteration 1. Iteration 0 does not stop: dX is about
    // (1/20 + 2/20) / 2 and dF is NaN. With NaN values vertex 0 stays ranked best.
    auto objective = record([](const Vector &) { return kNaN; });
    CoutCapture out;
    const FitResult result = nelderMead({1.0, 2.0}, {}, objective, 1e-5, 1e-5, 1000);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(result.count, 1);
    // 3 vertices + reflection in iteration 0; iteration 1 has nothing new to evaluate.
    EXPECT_EQ(objective.points.size(), 4u);
    EXPECT_TRUE(sameVectorBits(result.params, firstVertex({1.0, 2.0})));
}

TEST(NelderMead, ConstantObjectiveStopsByTheMeanAtIterationOne) {
    // All values tie: best = worst = vertex 0, the reflection (equal value, within
    // [best, second]) replaces it; the mean then repeats and dF = 0 stops at iteration 1.
    auto objective = record([](const Vector &) { return 2.0; });
    const FitResult result = nelderMead({1.0, 2.0}, {}, objective, 1e-5, 1e-5, 1000);
    EXPECT_EQ(result.count, 1);
    EXPECT_EQ(objective.points.size(), 4u);
    // The reflection of vertex 0 through the centroid of vertices 1 and 2 sits in slot 0,
    // which iteration 1 ranks best (all values tie): the result without the stopping tests.
    auto again = record([](const Vector &) { return 2.0; });
    const FitResult second = nelderMead({1.0, 2.0}, {}, again, 0.0, 0.0, 2);
    EXPECT_TRUE(sameVectorBits(second.params, again.points[3]));
}

TEST(NelderMead, LimitReturnsTheVertexRankedBestNotTheLaterStep) {
    // A constant objective ties every vertex, so vertex 0 is ranked best and is also the
    // worst that the reflection replaces in the same iteration; stopped by the limit,
    // the result is still the vertex as it was ranked.
    auto objective = record([](const Vector &) { return 2.0; });
    CoutCapture out;
    const FitResult result = nelderMead({1.0, 2.0}, {}, objective, 1e-5, 1e-5, 1);
    EXPECT_EQ(out.text(), "1" + kLimitMessage + "\n");
    EXPECT_EQ(result.count, 1);
    ASSERT_EQ(objective.points.size(), 4u);
    EXPECT_FALSE(sameVectorBits(objective.points[3], firstVertex({1.0, 2.0})));
    EXPECT_TRUE(sameVectorBits(result.params, firstVertex({1.0, 2.0})));
}

TEST(NelderMead, LowestIndexWinsAmongEqualBestValues) {
    // Start {1, 1}: vertices (1.05, 1), (1, 1.05), (1, 1). -(x0 + x1) is -2.05 at both
    // vertex 0 and vertex 1 (1.05 + 1 and 1 + 1.05 round alike): vertex 0 is best.
    auto objective = record([](const Vector &x) { return -(x[0] + x[1]); });
    CoutCapture out;
    const FitResult result = nelderMead({1.0, 1.0}, {}, objective, 0.0, 0.0, 1);
    EXPECT_TRUE(sameVectorBits(result.params, {1.05, 1.0}));
}

TEST(NelderMead, LowestIndexWinsAmongEqualWorstValues) {
    // x0 + x1 is 2.05 at vertices 0 and 1: vertex 0 is the worst and is the one replaced;
    // vertex 1 enters iteration 1 unchanged.
    auto objective = record([](const Vector &x) { return x[0] + x[1]; });
    CoutCapture out;
    nelderMead({1.0, 1.0}, {}, objective, 0.0, 0.0, 1);
    // The reflection (point 3) goes through the centroid of the other two: reflecting
    // vertex 0 = (1.05, 1) through (1, 1.025), not vertex 1 = (1, 1.05) through (1.025, 1).
    ASSERT_GE(objective.points.size(), 4u);
    const Vector centroid{(1.0 + 1.0) / 2.0, (1.05 + 1.0) / 2.0};
    EXPECT_TRUE(
        sameVectorBits(objective.points[3], {(centroid[0] - 1.05) + centroid[0], (centroid[1] - 1.0) + centroid[1]}));
}

// n = 1 from start 1: vertex 0 = 1.05 (worst), vertex 1 = 1 (best and second), centroid
// 1, reflection r = (1 - 1.05) + 1 ~ 0.95 below the best, expansion e = (r - 1) + r ~ 0.9.
// With the floor 0.96 both r and e value 0.96: the tie keeps r. With the floor 0.5, e is
// better and replaces vertex 0.
struct ExpansionCase {
    double floor;
    bool expansionTaken;
};

class NelderMeadExpansion : public ::testing::TestWithParam<ExpansionCase> {};

TEST_P(NelderMeadExpansion, IsTakenOnlyWhenStrictlyBetter) {
    const double floor = GetParam().floor;
    auto objective = record([floor](const Vector &x) { return std::fmax(x[0], floor); });
    CoutCapture out;
    const FitResult result = nelderMead({1.0}, {}, objective, 0.0, 0.0, 2);
    // Iteration 0 evaluates vertex 0, vertex 1, r, e; slot 0 then holds r or e, which is
    // below vertex 1's value and so ranked best in iteration 1: the result.
    ASSERT_GE(objective.points.size(), 4u);
    const Vector &reflection = objective.points[2];
    const Vector &expansion = objective.points[3];
    EXPECT_TRUE(sameVectorBits(result.params, GetParam().expansionTaken ? expansion : reflection));
}

INSTANTIATE_TEST_SUITE_P(Ties, NelderMeadExpansion,
                         ::testing::Values(ExpansionCase{0.96, false}, ExpansionCase{0.5, true}));

TEST(NelderMead, FailedContractionShrinksWithoutEvaluating) {
    // Start {1, 1}: v0 = (1.05, 1), v1 = (1, 1.05), v2 = (1, 1). Values: 0 at v2, 1 at v0
    // and v1, 5 elsewhere. Vertex 0 is the worst (lowest index), the second worst stays
    // at the best (no value strictly between), the reflection (5) is worse than it, and
    // the contraction (5) is not below the worst (1): shrink towards v2.
    const Vector v0{1.05, 1.0};
    const Vector v1{1.0, 1.05};
    const Vector v2{1.0, 1.0};
    auto objective = record([&](const Vector &x) {
        if (sameVectorBits(x, v2)) {
            return 0.0;
        }
        if (sameVectorBits(x, v0) || sameVectorBits(x, v1)) {
            return 1.0;
        }
        return 5.0;
    });
    CoutCapture out;
    nelderMead({1.0, 1.0}, {}, objective, 0.0, 0.0, 2);
    // Iteration 0: v0, v1, v2, reflection, contraction; the shrink costs nothing, so
    // iteration 1 starts at evaluation 5 with (v - v2) * 0.5 + v2 for v0 and v1, and v2,
    // which did not move, keeps its value.
    ASSERT_GE(objective.points.size(), 7u);
    EXPECT_TRUE(sameVectorBits(objective.points[5], {(1.05 - 1.0) * 0.5 + 1.0, 1.0}));
    EXPECT_TRUE(sameVectorBits(objective.points[6], {1.0, (1.05 - 1.0) * 0.5 + 1.0}));
    EXPECT_EQ(test::distinctPoints(objective.points), objective.points.size());
}

TEST(NelderMead, GivenSimplexIsUsedAsItComes) {
    // The vertex sum of the given simplex is compared with zeros; starting from a
    // simplex around the bowl's minimum the search ends close to it.
    const std::vector<Vector> simplex{{1.5, -2.0}, {1.0, -1.5}, {1.0, -2.0}};
    auto objective = record(bowl);
    const FitResult result = nelderMead({100.0, 100.0}, simplex, objective, 1e-5, 1e-5, 1000);
    ASSERT_GE(objective.points.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(sameVectorBits(objective.points[k], simplex[k]));
    }
    EXPECT_NEAR(result.params[0], 1.0, 1e-2);
    EXPECT_NEAR(result.params[1], -2.0, 1e-2);
}

// The censored Yeo-Johnson likelihood of a skewed series, two values censored.
class NelderMeadOnLikelihood : public ::testing::Test {
protected:
    YeoJohnsonTransformation model{1.0};
    ModelObjective objective{&Transformation::negLogLik, false, kSeriesRight, kSeriesLeft, skewedSeries(), model};
};

TEST_F(NelderMeadOnLikelihood, ConvergesFromTheFamilyStart) {
    CoutCapture out;
    const FitResult result = nelderMead(model.startParams(), {}, objective, 1e-5, 1e-5, 1000);
    EXPECT_EQ(out.text(), "");
    EXPECT_GT(result.count, 0);
    EXPECT_LT(result.count, 1000);
    const double best = objective(result.params);
    ASSERT_TRUE(std::isfinite(best));
    EXPECT_LT(best, objective(model.startParams()));
    const FitResult again = nelderMead(model.startParams(), {}, objective, 1e-5, 1e-5, 1000);
    EXPECT_EQ(again.count, result.count);
    EXPECT_TRUE(sameVectorBits(again.params, result.params));
}

TEST_F(NelderMeadOnLikelihood, ZeroStartComponentStaysZero) {
    // mu starts at 0: no step in it, and the whole search keeps it at 0.
    auto recorded = record([this](const Vector &x) { return objective(x); });
    CoutCapture out;
    const FitResult result = nelderMead({1.0, 0.0, 0.01}, {}, recorded, 1e-5, 1e-5, 1000);
    for (const Vector &x : recorded.points) {
        ASSERT_EQ(x[1], 0.0);
    }
    EXPECT_EQ(result.params[1], 0.0);
}

TEST_F(NelderMeadOnLikelihood, LimitMessageAfterFewIterations) {
    CoutCapture out;
    const FitResult result = nelderMead(model.startParams(), {}, objective, 1e-5, 1e-5, 3);
    EXPECT_EQ(out.lines(), std::vector<std::string>{"3" + kLimitMessage});
    EXPECT_EQ(result.count, 3);
}

} // namespace
} // namespace ferrule
