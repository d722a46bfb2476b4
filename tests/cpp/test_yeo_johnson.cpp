// Yeo-Johnson: forward and inverse branches, the strict 1e-7 switch, the Jacobian,
// the likelihood term, the decoding and the prior.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "core/censoring.hpp"
#include "test_support.hpp"

namespace ferrule::test {
namespace {

struct MapCase {
    double lambda;
    double x;
    double y;
};

void PrintTo(const MapCase &c, std::ostream *os) { *os << "lambda=" << c.lambda << " x=" << c.x << " y=" << c.y; }

class YeoJohnsonForward : public ::testing::TestWithParam<MapCase> {};

TEST_P(YeoJohnsonForward, MatchesReference) {
    const MapCase c = GetParam();
    const YeoJohnsonTransformation t(c.lambda);
    EXPECT_PRED_FORMAT2(WithinOneUlp, t.transformOne(c.x), c.y);
    EXPECT_TRUE(sameBits(yeoJohnsonForward(c.x, c.lambda), t.transformOne(c.x)));
}

// References: closed forms where the arithmetic is exact, otherwise Python with
// math.pow / math.log on the same expression, e.g. (math.pow(4, 2e-7) - 1) / 2e-7.
INSTANTIATE_TEST_SUITE_P(Values, YeoJohnsonForward,
                         ::testing::Values(
                             // lambda = 1 is the identity on both sides
                             MapCase{1.0, 3.0, 3.0}, MapCase{1.0, -3.0, -3.0}, MapCase{1.0, 0.0, 0.0},
                             // x = 0 maps to 0 for any power, including both log branches
                             MapCase{-1.5, 0.0, 0.0}, MapCase{0.0, 0.0, 0.0}, MapCase{2.0, -0.0, 0.0},
                             // lambda = 0: log(x + 1) above zero, -((1 - x)^2 - 1)/2 below
                             MapCase{0.0, 3.0, 1.3862943611198906}, MapCase{0.0, -3.0, -7.5},
                             // lambda = 2: ((x + 1)^2 - 1)/2 above zero, -log(1 - x) below
                             MapCase{2.0, 3.0, 7.5}, MapCase{2.0, -3.0, -1.3862943611198906},
                             // lambda = 0.5: (sqrt(4) - 1)/0.5 and -(4^1.5 - 1)/1.5
                             MapCase{0.5, 3.0, 2.0}, MapCase{0.5, -3.0, -4.666666666666667},
                             // inside the tolerance the logarithm is used ...
                             MapCase{5e-8, 3.0, 1.3862943611198906}, MapCase{2.0 - 5e-8, -3.0, -1.3862943611198906},
                             // ... outside it the power formula, visibly different from the logarithm
                             MapCase{2e-7, 3.0, 1.386294553595846}, MapCase{2.0 + 2e-7, -3.0, -1.3862941692043793}));

// The tests are strict: |lambda| exactly 1e-7 is still the logarithm, the next double up
// is the power formula (Python: (math.pow(4, nb) - 1) / nb with nb = nextafter(1e-7, 1)).
TEST(YeoJohnsonSwitch, ExactToleranceTakesLogarithm) {
    for (double x : {0.0, 0.3, 3.0, 1e6}) {
        EXPECT_TRUE(sameBits(yeoJohnsonForward(x, 1e-7), std::log(x + 1.0))) << "x = " << x;
        EXPECT_TRUE(sameBits(yeoJohnsonForward(x, -1e-7), std::log(x + 1.0))) << "x = " << x;
        EXPECT_TRUE(sameBits(YeoJohnsonTransformation(1e-7).invTransformOne(std::log(x + 1.0)),
                             std::exp(std::log(x + 1.0)) - 1.0));
    }
    const double justOutside = std::nextafter(1e-7, 1.0);
    EXPECT_PRED_FORMAT2(WithinOneUlp, yeoJohnsonForward(3.0, justOutside), 1.3862944570064426);
    EXPECT_NE(yeoJohnsonForward(3.0, justOutside), std::log(4.0));
}

class YeoJohnsonInverse : public ::testing::TestWithParam<MapCase> {};

TEST_P(YeoJohnsonInverse, MatchesReference) {
    const MapCase c = GetParam();
    EXPECT_PRED_FORMAT2(WithinOneUlp, YeoJohnsonTransformation(c.lambda).invTransformOne(c.y), c.x);
}

// Closed forms: (0.5*2 + 1)^2 - 1 = 3; 1 - (1 + 2*7.5)^(1/2) = -3; 1 - (1 + 1.5*x)^(1/1.5)
// at y = -14/3 gives -3; Python math.exp(math.log(4)) - 1 = 3.0 and 1 - exp(log 4) = -3.0.
INSTANTIATE_TEST_SUITE_P(Values, YeoJohnsonInverse,
                         ::testing::Values(MapCase{0.5, 3.0, 2.0}, MapCase{0.0, -3.0, -7.5}, MapCase{2.0, 3.0, 7.5},
                                           MapCase{0.0, 3.0, 1.3862943611198906},
                                           MapCase{2.0, -3.0, -1.3862943611198906}, MapCase{1.0, -2.5, -2.5},
                                           MapCase{0.5, -3.0, -4.666666666666667}));

// J(x) = log((x + 1)^(lambda - 1)) or log((1 - x)^(1 - lambda)); with lambda = 0.5 at
// x = +-3 these are log(1/2) and log(2) (Python math.log).
TEST(YeoJohnsonJacobian, PowerThenLogarithm) {
    const YeoJohnsonTransformation t;
    const auto jac = [&](double lambda, double x) {
        return censoredLogJacobian(t, {lambda, 0.0, 1.0}, 0.0, x, -kInf, kInf);
    };
    EXPECT_PRED_FORMAT2(WithinOneUlp, jac(0.5, 3.0), -0.6931471805599453);
    EXPECT_PRED_FORMAT2(WithinOneUlp, jac(0.5, -3.0), 0.6931471805599453);
    for (double x : {-7.0, -1.0, 0.0, 1.0, 7.0}) {
        EXPECT_EQ(jac(1.0, x), 0.0) << "x = " << x;
    }
    // The power is formed first: (1e300 + 1)^2 overflows to +inf and (1e300 + 1)^-4 underflows
    // to 0, where (lambda - 1) log(x + 1) would be finite.
    EXPECT_EQ(jac(3.0, 1e300), kInf);
    EXPECT_EQ(jac(-3.0, 1e300), -kInf);
    EXPECT_EQ(jac(-1.0, -1e300), kInf);
}

// Uncensored: -1/2 log(2 pi sigma^2) - (y - mu)^2/(2 sigma^2) + J(x); lambda = 0.5, x = 3,
// y = 2, mu = 1, sigma = 2 gives -2.4302328943245635 (Python:
// -0.5*log(6.283185307179586*2*2) - 1/(2*2*2) + log(pow(4, -0.5))).
TEST(YeoJohnsonDensity, UncensoredTermIsNormalDensityPlusJacobian) {
    YeoJohnsonTransformation t;
    const Vector q = {0.5, 1.0, std::log(2.0)};
    const Vector p = t.setParams(q);
    ASSERT_EQ(p[2], 2.0);
    EXPECT_PRED_FORMAT2(WithinOneUlp, t.logDensity(q, 3.0, -kInf, kInf, false), -2.4302328943245635);
    // x = 3 equal to a threshold: the left tail mass log Phi((2 - 1)/2), not the density.
    EXPECT_TRUE(sameBits(t.logDensity(q, 3.0, 3.0, 10.0, false), std::log(normalCdf(0.5))));
}

// Identity map, mu = 0, sigma = 1: the value -20 sits on the left threshold, where
// Phi(-20) is exactly 0, so the objective is +inf.
TEST(YeoJohnsonDensity, ZeroMassTermMakesObjectiveInfinite) {
    YeoJohnsonTransformation t;
    EXPECT_EQ(t.negLogLik({1.0, 0.0, 0.0}, {1.0, -20.0, 2.0}, -20.0, 100.0, false), kInf);
}

// Decoding {lambda, mu, log sigma}; exp(0.01) = 1.010050167084168 (Python math.exp).
TEST(YeoJohnsonParams, StartPointAndBoxDecode) {
    YeoJohnsonTransformation t(0.3, 2.0, 1.0);
    EXPECT_EQ(t.startParams(), (Vector{1.0, 0.01, 0.01}));
    EXPECT_EQ(t.lowerBounds(), (Vector{-100.0, -100.0, -100.0}));
    EXPECT_EQ(t.upperBounds(), (Vector{100.0, 100.0, 100.0}));
    const Vector p = t.setParams(t.startParams());
    EXPECT_EQ(p[0], 1.0);
    EXPECT_EQ(p[1], 0.01);
    EXPECT_PRED_FORMAT2(WithinOneUlp, p[2], 1.010050167084168);
    EXPECT_EQ(t.params().lambda, 1.0);
    EXPECT_EQ(t.params().mu, 0.01);
    EXPECT_EQ(t.params().sigma, p[2]);
    EXPECT_EQ(t.getScaleShift(), (Vector{2.0, 1.0}));
}

// Normal(1, 0.4) log density of lambda: -1/2 log(1.0053096491487339) at the mode and
// -0.5026478013305173 at 1.4, bit for bit (Python: -0.5*log(1.0053096491487339) - 0.4**2/0.32000000000000006);
// mu and sigma carry no prior.
TEST(YeoJohnsonParams, PriorIsNormalOnLambdaOnly) {
    YeoJohnsonTransformation t;
    t.setParams({1.0, 5.0, 3.0});
    EXPECT_PRED_FORMAT2(WithinOneUlp, t.logPrior(), -0.5 * std::log(1.0053096491487339));
    t.setParams({1.4, -3.0, -2.0});
    EXPECT_EQ(t.logPrior(), -0.5026478013305173);
    // Same density written with sd 0.4 directly (independent of the folded constants).
    const double sd = 0.4;
    const double direct = -std::log(sd * std::sqrt(2.0 * M_PI)) - 0.5 * (0.4 / sd) * (0.4 / sd);
    EXPECT_NEAR(t.logPrior(), direct, 1e-14);
}

} // namespace
} // namespace ferrule::test
