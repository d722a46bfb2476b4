// Log-sinh: forward and inverse including the overflow branch at M = log(DBL_MAX), the
// Jacobian, the offset limits of the likelihood term, the decoding and the prior.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "core/censoring.hpp"
#include "test_support.hpp"

namespace ferrule::test {
namespace {

const double kM = std::log(std::numeric_limits<double>::max()); // 709.782712893384

struct LogSinhCase {
    double lambda;
    double epsilon;
    double x;
    double y;
};

void PrintTo(const LogSinhCase &c, std::ostream *os) {
    *os << "lambda=" << c.lambda << " epsilon=" << c.epsilon << " x=" << c.x << " y=" << c.y;
}

class LogSinhForward : public ::testing::TestWithParam<LogSinhCase> {};

TEST_P(LogSinhForward, MatchesReference) {
    const LogSinhCase c = GetParam();
    const LogSinhTransformation t(c.lambda, c.epsilon);
    EXPECT_PRED_FORMAT2(WithinOneUlp, t.transformOne(c.x), c.y);
    EXPECT_TRUE(sameBits(logSinhForward(c.x, c.lambda, c.epsilon), t.transformOne(c.x)));
}

// Stated values: log(sinh(1)) = 0.16143936157119557, (1/2) log(sinh(6.5)) =
// 2.9034252795540465, and on the overflow branch 710 - log 2 = 709.3068528194401.
// At 711, sinh itself overflows; the branch gives 711 - log 2 = 710.3068528194401 (Python).
INSTANTIATE_TEST_SUITE_P(Values, LogSinhForward,
                         ::testing::Values(LogSinhCase{1.0, 0.0, 1.0, 0.16143936157119557},
                                           LogSinhCase{2.0, 0.5, 3.0, 2.9034252795540465},
                                           LogSinhCase{1.0, 0.0, 710.0, 709.3068528194401},
                                           LogSinhCase{1.0, 0.0, 711.0, 710.3068528194401}));

// The result is multiplied by k = 1/lambda rather than divided by lambda; with lambda = 3,
// epsilon = 0.5 the two round differently (Python: (1/3)*log(sinh(u)) = 2.435617568968291 vs
// log(sinh(u))/3 = 2.4356175689682913 at x = 2.5; inverse at y = 3: 3.0643823947891464 vs
// 3.064382394789147).
TEST(LogSinhMap, ScalesByReciprocalOfLambda) {
    const LogSinhTransformation t(3.0, 0.5);
    EXPECT_EQ(t.transformOne(2.5), 2.435617568968291);
    EXPECT_EQ(t.transformOne(4.0), 3.9356176064753887);
    EXPECT_EQ(t.invTransformOne(3.0), 3.0643823947891464);
}

TEST(LogSinhMap, OverflowBranchStartsAtM) {
    ASSERT_EQ(kM, 709.782712893384);
    // u = 2 * (M/2) = M exactly. Both formulas meet here (Python gives
    // 0.5*(M - log 2) == 0.5*log(sinh(M)) == 354.54478285641204): the switch is seamless.
    EXPECT_PRED_FORMAT2(WithinOneUlp, logSinhForward(kM / 2.0, 2.0, 0.0), 354.54478285641204);
    EXPECT_TRUE(sameBits(logSinhForward(kM / 2.0, 2.0, 0.0), 0.5 * (kM - std::log(2.0))));

    // The inverse at v = lambda*y = M exactly takes k*(log 2 + (v - epsilon)) =
    // 593.3369111460623; the asinh(exp(v)) formula would round to 593.3369111460622 (Python).
    const LogSinhTransformation t(0.5, 413.80740450091275);
    const double y = 2.0 * kM;
    ASSERT_EQ(0.5 * y, kM);
    EXPECT_EQ(t.invTransformOne(y), 593.3369111460623);
    // One step below M the asinh formula is used.
    const double below = std::nextafter(kM, 0.0);
    EXPECT_TRUE(sameBits(t.invTransformOne(2.0 * below), 2.0 * (std::asinh(std::exp(below)) - 413.80740450091275)));
}

// T(710) is on the overflow branch, T^-1 of it (v = 709.3 < M) on the asinh branch.
TEST(LogSinhMap, InverseOfOverflowValueReturnsOriginal) {
    const LogSinhTransformation t(1.0, 0.0);
    EXPECT_NEAR(t.invTransformOne(t.transformOne(710.0)), 710.0, 1e-12);
    EXPECT_NEAR(t.invTransformOne(t.transformOne(5000.0)), 5000.0, 1e-9);
}

// Outside the domain (lambda x + epsilon <= 0): -inf at zero, NaN below.
TEST(LogSinhMap, OutsideDomainGivesMinusInfinityOrNaN) {
    EXPECT_EQ(logSinhForward(-0.5, 2.0, 1.0), -kInf);
    EXPECT_TRUE(std::isnan(logSinhForward(-1.0, 2.0, 1.0)));
}

// J = log(1/tanh(u)): tanh, reciprocal, then log. At u = 1 that is 0.2723414689118317,
// one ulp away from -log(tanh(1)) = 0.2723414689118316 (Python); at u = 30, tanh is 1 and
// J is exactly 0.
TEST(LogSinhJacobian, ReciprocalOfTanhThenLogarithm) {
    const LogSinhTransformation t;
    EXPECT_EQ(censoredLogJacobian(t, {1.0, 0.0, 0.0, 1.0}, 0.0, 1.0, -kInf, kInf), 0.2723414689118317);
    EXPECT_EQ(censoredLogJacobian(t, {0.5, 1.0, 0.0, 1.0}, 0.0, 0.0, -kInf, kInf), 0.2723414689118317);
    EXPECT_EQ(censoredLogJacobian(t, {1.0, 0.5, 0.0, 1.0}, 0.0, 29.5, -kInf, kInf), 0.0);
    EXPECT_EQ(censoredLogJacobian(t, {1.0, 0.5, 0.0, 1.0}, 0.0, 1.0, 0.0, 0.0), 0.0);
}

// With lambda = 0.5, epsilon = 1, mu = 0.2, sigma = 1.5 and x = 2: y = 2.5767347452283365 and
// J + normal log density = -2.543072277497053 (Python, same expression order).
// epsilon = 1 is the upper limit itself and still evaluates normally; so does exp(-20).
TEST(LogSinhDensity, OffsetLimitsAreInclusive) {
    const LogSinhTransformation t;
    const double y = logSinhForward(2.0, 0.5, 1.0);
    EXPECT_PRED_FORMAT2(WithinOneUlp, y, 2.5767347452283365);
    EXPECT_PRED_FORMAT2(WithinOneUlp, censoredLogDensity(t, {0.5, 1.0, 0.2, 1.5}, y, 2.0, -kInf, kInf),
                        -2.543072277497053);
    const double lowest = std::exp(-20.0);
    ASSERT_EQ(lowest, 2.061153622438558e-09);
    const double term = censoredLogDensity(t, {0.5, lowest, 0.2, 1.5}, 0.0, 2.0, 1.0, 3.0);
    EXPECT_TRUE(sameBits(term, std::log(normalCdf((1.0 - 0.2) / 1.5))));
}

// Outside [exp(-20), 1] every term is the sentinel -1e20, censored or not; the Jacobian
// has no such check.
TEST(LogSinhDensity, OffsetOutsideLimitsGivesSentinel) {
    const LogSinhTransformation t;
    const double justAbove = std::nextafter(1.0, 2.0);
    const double justBelow = std::nextafter(2.061153622438558e-09, 0.0);
    for (double epsilon : {justAbove, 2.0, 22026.465794806718, justBelow, 4.5399929762484854e-05 * 1e-5}) {
        const Vector p = {0.5, epsilon, 0.2, 1.5};
        EXPECT_EQ(censoredLogDensity(t, p, 2.0, 2.0, -kInf, kInf), -1e20) << "epsilon = " << epsilon;
        EXPECT_EQ(censoredLogDensity(t, p, 0.0, 0.0, 1.0, 3.0), -1e20) << "left-censored, epsilon = " << epsilon;
        EXPECT_EQ(censoredLogDensity(t, p, 5.0, 5.0, 1.0, 3.0), -1e20) << "right-censored, epsilon = " << epsilon;
        EXPECT_EQ(censoredLogDensity(t, p, kNaN, 0.0, kNaN, kNaN), -1e20) << "NaN, epsilon = " << epsilon;
        EXPECT_NE(censoredLogJacobian(t, p, 2.0, 2.0, -kInf, kInf), -1e20);
    }
}

// Each of n terms is -1e20, so the objective is n * 1e20 (summed: -1e20, -2e20, -3e20).
TEST(LogSinhDensity, OutOfRangeOffsetPushesObjectiveToSentinelMultiple) {
    LogSinhTransformation t;
    const Vector q = {0.0, 0.5, 0.0, 0.0}; // epsilon = exp(0.5) > 1
    EXPECT_EQ(t.negLogLik(q, {1.0, 2.0, 3.0}, 0.0, 10.0, false), -((-1e20 + -1e20) + -1e20));
    EXPECT_EQ(t.logLik(q, {1.0, 2.0, 3.0}, 0.0, 10.0, false), (-1e20 + -1e20) + -1e20);
}

// Decoding {log lambda, log epsilon, mu/sigma, log sigma}: {0,0,0,0} -> {1,1,0,1}; the
// start point gives lambda = exp(-0.01) = 0.9900498337491681, epsilon = exp(-1.01) =
// 0.3642189795715233, mu = -1.01*exp(1.01) = -2.7730570251670854 (Python math.exp).
TEST(LogSinhParams, DecodingOfZeroAndStartPoint) {
    LogSinhTransformation t(0.7, 0.2, 3.0, 0.0);
    EXPECT_EQ(t.setParams({0.0, 0.0, 0.0, 0.0}), (Vector{1.0, 1.0, 0.0, 1.0}));
    EXPECT_EQ(t.startParams(), (Vector{-0.01, -1.01, -1.01, 1.01}));
    EXPECT_EQ(t.lowerBounds(), (Vector{-10.0, -10.0, -10.0, -10.0}));
    EXPECT_EQ(t.upperBounds(), (Vector{10.0, 10.0, 10.0, 10.0}));
    const Vector p = t.setParams(t.startParams());
    EXPECT_PRED_FORMAT2(WithinOneUlp, p[0], 0.9900498337491681);
    EXPECT_PRED_FORMAT2(WithinOneUlp, p[1], 0.3642189795715233);
    EXPECT_PRED_FORMAT2(WithinOneUlp, p[2], -2.7730570251670854);
    EXPECT_TRUE(sameBits(p[3], std::exp(1.01)));
    EXPECT_EQ(t.getDistributionParams(), p);
    EXPECT_EQ(t.getTransformationParams(), (Vector{p[0], p[1]}));
}

// Standard normal on log lambda: -1/2 log(2 pi) = -0.9189385332046727 at lambda = 1 and
// -1.4189385332046727 at log lambda = 1 (Python); epsilon, mu, sigma carry no prior.
TEST(LogSinhParams, PriorIsStandardNormalOnLogLambda) {
    LogSinhTransformation t;
    t.setParams({0.0, -3.0, 4.0, 2.0});
    EXPECT_PRED_FORMAT2(WithinOneUlp, t.logPrior(), -0.9189385332046727);
    t.setParams({1.0, 0.5, -4.0, -2.0});
    EXPECT_PRED_FORMAT2(WithinOneUlp, t.logPrior(), -1.4189385332046727);
    t.setParams({-1.0, 0.5, -4.0, -2.0});
    EXPECT_PRED_FORMAT2(WithinOneUlp, t.logPrior(), -1.4189385332046727);
}

} // namespace
} // namespace ferrule::test
