// The normal distribution function, the censoring branches shared by all families and
// the fitting objective negLogLik/logLik.
#include <cmath>

#include <gtest/gtest.h>

#include "core/censoring.hpp"
#include "core/likelihood_policy.hpp"
#include "test_support.hpp"

namespace ferrule::test {
namespace {

// ---- normalCdf ----

// At z = 0: t = 1, e = 1 and the five coefficients sum to 0.999999999, so the result is
// (1 - 0.999999999 + 1) / 2 = 0.5000000005 (value stated for this approximation).
TEST(NormalCdf, CentreIsOffByHalfTheCoefficientResidual) {
    EXPECT_PRED_FORMAT2(WithinOneUlp, normalCdf(0.0), 0.5000000005);
}

// Stated values 0.841344736 / 0.158655264; the exact Phi(1) = 0.8413447460685429 is
// 0.5 * (1 + math.erf(1 / math.sqrt(2))) in Python.
TEST(NormalCdf, UnitArgumentsMatchStatedValuesAndExactPhi) {
    EXPECT_NEAR(normalCdf(1.0), 0.841344736, 5e-10);
    EXPECT_NEAR(normalCdf(-1.0), 0.158655264, 5e-10);
    EXPECT_NEAR(normalCdf(1.0), 0.8413447460685429, 1e-7);
    EXPECT_NEAR(normalCdf(-1.0), 1.0 - 0.8413447460685429, 1e-7);
}

// Crossovers found by bisecting the same arithmetic in Python doubles: Phi is exactly 0
// from -8.375776218300611 down and 1 - Phi exactly 0 from 8.245351479135861 up.
TEST(NormalCdf, TailsReachExactZeroWithoutTailFormula) {
    EXPECT_EQ(normalCdf(-8.3759), 0.0);
    EXPECT_EQ(normalCdf(-40.0), 0.0);
    EXPECT_GT(normalCdf(-8.3757), 0.0);
    EXPECT_EQ(1.0 - normalCdf(8.2455), 0.0);
    EXPECT_EQ(1.0 - normalCdf(40.0), 0.0);
    EXPECT_GT(1.0 - normalCdf(8.2453), 0.0);
    EXPECT_EQ(std::log(normalCdf(-9.0)), -kInf);
}

// Exact Phi at a few points (Python: 0.5 * (1 + math.erf(z / math.sqrt(2)))); the
// approximation error of formula 7.1.26 is below 1e-7 everywhere.
TEST(NormalCdf, StaysWithinApproximationErrorOfExactPhi) {
    const struct {
        double z;
        double phi;
    } cases[] = {{-3.0, 0.0013498980316301035},
                 {-0.5, 0.3085375387259869},
                 {0.25, 0.5987063256829237},
                 {2.0, 0.9772498680518208}};
    for (const auto &c : cases) {
        EXPECT_NEAR(normalCdf(c.z), c.phi, 1e-7) << "z = " << c.z;
    }
}

// log(Phi(b) - Phi(a)) in each tail and across the centre. References: SciPy,
// log_ndtr(b) + log1p(-exp(log_ndtr(a) - log_ndtr(b))) in the lower tail (mirrored in the
// upper), log(ndtr(b) - ndtr(a)) across the centre.
TEST(NormalMassBetween, KeepsPrecisionInBothTails) {
    const struct {
        double a, b, logMass;
    } cases[] = {{-1.0, 1.0, -0.38171514630212616},  {5.0, 6.0, -15.068446096529454},
                 {-40.0, -39.0, -765.0831565643776}, {-0.5, 30.0, -0.36894641528865635},
                 {-kInf, 0.0, std::log(0.5)},        {0.0, kInf, std::log(0.5)}};
    for (const auto &c : cases) {
        EXPECT_NEAR(logNormalMassBetween(c.a, c.b), c.logMass, 1e-13 * std::fabs(c.logMass)) << c.a << ", " << c.b;
    }
    EXPECT_EQ(logNormalMassBetween(2.0, 2.0), -kInf);
    EXPECT_EQ(logNormalMassBetween(3.0, 2.0), -kInf);
    EXPECT_TRUE(std::isnan(logNormalMassBetween(kNaN, 2.0)));
}

// Closed form: -1/2 log(2 pi * 4) - 1/8 = -1.737085713764618 (Python math.log).
TEST(NormalLogDensity, MatchesClosedForm) {
    EXPECT_PRED_FORMAT2(WithinOneUlp, normalLogDensity(2.0, 1.0, 2.0), -1.737085713764618);
}

// sigma^2 is formed first: 2 pi * (sigma * sigma) and (2 pi * sigma) * sigma differ in the last
// bit at these sigmas (Python: -0.5*math.log(6.283185307179586*(s*s)) - 1/(2*(s*s))).
TEST(NormalLogDensity, SquaresSigmaBeforeScalingIt) {
    EXPECT_EQ(normalLogDensity(1.0, 0.0, 1.7), -1.6225771648896803);
    EXPECT_EQ(normalLogDensity(1.0, 0.0, 3.3), -2.1587746839544257);
}

// ---- censoring branches and the objective, for every family ----

template <class T> class LikelihoodTest : public ::testing::Test {
protected:
    using F = Family<T>;
    T t = F::make(F::transParams());
    // Thresholds inside every family's domain; data covers both censored sides.
    static constexpr double kLeft = 0.5;
    static constexpr double kRight = 6.0;
    Vector data() const { return {1.0, 0.2, 7.5, 3.0, kLeft, 0.5 * kRight, kRight, 2.0}; }
};
TYPED_TEST_SUITE(LikelihoodTest, AllFamilies, FamilyNames);

// Left test first with <=, then everything else is right-censored; a value equal to a
// threshold is censored.
TYPED_TEST(LikelihoodTest, ThresholdValuesAreCensoredWithTheirTailMass) {
    const double L = TestFixture::kLeft;
    const double R = TestFixture::kRight;
    for (const Vector &q : Family<TypeParam>::searchPoints()) {
        const Vector p = this->t.setParams(q);
        const double leftMass = std::log(normalCdf(thresholdScore(this->t, p, L)));
        const double rightMass = std::log(1.0 - normalCdf(thresholdScore(this->t, p, R)));

        for (double x : {L, 0.25 * L}) {
            EXPECT_TRUE(sameBits(this->t.logDensity(q, x, L, R, false), leftMass)) << "x = " << x;
            EXPECT_TRUE(sameBits(this->t.logJacobian(q, x, L, R, false), 0.0)) << "x = " << x;
        }
        for (double x : {R, 2.0 * R}) {
            EXPECT_TRUE(sameBits(this->t.logDensity(q, x, L, R, false), rightMass)) << "x = " << x;
            EXPECT_TRUE(sameBits(this->t.logJacobian(q, x, L, R, false), 0.0)) << "x = " << x;
        }
        // A NaN value fails both comparisons and falls to the right-censored branch.
        EXPECT_TRUE(sameBits(this->t.logDensity(q, kNaN, L, R, false), rightMass));
        EXPECT_TRUE(sameBits(this->t.logJacobian(q, kNaN, L, R, false), 0.0));
        // Strictly inside: a density, not a tail mass, and the Jacobian of the family.
        const double inside = 2.0;
        EXPECT_NE(this->t.logDensity(q, inside, L, R, false), leftMass);
        EXPECT_NE(this->t.logDensity(q, inside, L, R, false), rightMass);
        EXPECT_TRUE(sameBits(this->t.logJacobian(q, inside, L, R, false),
                             censoredLogJacobian(this->t, p, this->t.transformOne(inside), inside, -kInf, kInf)));
    }
}

TYPED_TEST(LikelihoodTest, ObjectiveIsNegatedSumOfTermsInIndexOrder) {
    const Vector data = this->data();
    for (const Vector &q : Family<TypeParam>::searchPoints()) {
        double s = 0.0;
        for (double x : data) {
            s = this->t.logDensity(q, x, TestFixture::kLeft, TestFixture::kRight, false) + s;
        }
        const double prior = this->t.logPrior();
        const double mapSum = prior + s;
        EXPECT_TRUE(sameBits(this->t.negLogLik(q, data, TestFixture::kLeft, TestFixture::kRight, false), -s));
        EXPECT_TRUE(sameBits(this->t.negLogLik(q, data, TestFixture::kLeft, TestFixture::kRight, true), -mapSum));
    }
}

TYPED_TEST(LikelihoodTest, LogLikIsExactNegationAndMapAddsThePrior) {
    const Vector data = this->data();
    for (const Vector &q : Family<TypeParam>::searchPoints()) {
        for (bool isMap : {false, true}) {
            const double neg = this->t.negLogLik(q, data, TestFixture::kLeft, TestFixture::kRight, isMap);
            const double pos = this->t.logLik(q, data, TestFixture::kLeft, TestFixture::kRight, isMap);
            EXPECT_TRUE(sameBits(pos, -neg));
        }
        const double mle = this->t.negLogLik(q, data, TestFixture::kLeft, TestFixture::kRight, false);
        const double map = this->t.negLogLik(q, data, TestFixture::kLeft, TestFixture::kRight, true);
        const double prior = this->t.logPrior();
        ASSERT_TRUE(std::isfinite(mle));
        EXPECT_NEAR(mle - map, prior, 1e-12 * std::fmax(1.0, std::fabs(mle)));
    }
}

// The negated empty sum is -0.0; with the prior it is -logPrior().
TYPED_TEST(LikelihoodTest, EmptyDataGivesNegativeZeroOrNegatedPrior) {
    const Vector q = Family<TypeParam>::searchPoints().front();
    const double mle = this->t.negLogLik(q, {}, TestFixture::kLeft, TestFixture::kRight, false);
    EXPECT_EQ(mle, 0.0);
    EXPECT_TRUE(std::signbit(mle));
    EXPECT_FALSE(std::signbit(this->t.logLik(q, {}, TestFixture::kLeft, TestFixture::kRight, false)));

    const double map = this->t.negLogLik(q, {}, TestFixture::kLeft, TestFixture::kRight, true);
    EXPECT_TRUE(sameBits(map, -this->t.logPrior()));
}

TYPED_TEST(LikelihoodTest, ObjectiveLeavesDecodedParamsAndKeepsOptimised) {
    using F = Family<TypeParam>;
    for (const Vector &q : F::searchPoints()) {
        TypeParam reference = F::make(F::transParams());
        const Vector decoded = reference.setParams(q);
        this->t.negLogLik(q, this->data(), TestFixture::kLeft, TestFixture::kRight, true);
        EXPECT_EQ(this->t.getDistributionParams(), decoded);
        EXPECT_TRUE(this->t.optimisedParams.empty());
    }
}

// Thresholds 50 standard deviations out in the model have exactly zero tail mass: the
// censored terms are -inf, nothing is clipped.
TYPED_TEST(LikelihoodTest, ZeroTailMassGivesMinusInfinity) {
    using F = Family<TypeParam>;
    const Vector q = F::searchPoints().front();
    const Vector p = this->t.setParams(q);
    const double mu = p[p.size() - 2];
    const double sigma = p[p.size() - 1];
    double tL = mu - 50.0 * sigma;
    double tR = mu + 50.0 * sigma;
    if (TypeParam::Kernel::modelsRawValue) { // T((L - mu)/sigma) = -50 and its right twin
        tL = this->t.transformOne(mu + sigma * this->t.invTransformOne(-50.0));
        tR = this->t.transformOne(mu + sigma * this->t.invTransformOne(50.0));
    }
    EXPECT_EQ(censoredLogDensity(this->t, p, tL, 1.0, tL, tR), -kInf);
    EXPECT_EQ(censoredLogDensity(this->t, p, tR, 1.0, tL, tR), -kInf);
}

// Unbounded thresholds leave every finite value uncensored for the families defined on
// the whole line: the term is the normal density of T(x) plus the log Jacobian.
template <class T> class WholeLineLikelihoodTest : public ::testing::Test {};
using WholeLineNormalFamilies = ::testing::Types<YeoJohnsonTransformation, SinhAsinhTransformation>;
TYPED_TEST_SUITE(WholeLineLikelihoodTest, WholeLineNormalFamilies, FamilyNames);

TYPED_TEST(WholeLineLikelihoodTest, InfiniteThresholdsCensorNothing) {
    using F = Family<TypeParam>;
    TypeParam t = F::make(F::transParams());
    for (const Vector &q : F::searchPoints()) {
        const Vector p = t.setParams(q);
        const double mu = p[p.size() - 2];
        const double sigma = p[p.size() - 1];
        for (double x : {-1e6, -10.0, -0.5, 0.5, 10.0, 1e6}) {
            const double jac = t.logJacobian(q, x, -kInf, kInf, false);
            EXPECT_NE(jac, 0.0) << "x = " << x;
            const double expected = normalLogDensity(t.transformOne(x), mu, sigma) + jac;
            EXPECT_PRED_FORMAT2(WithinOneUlp, t.logDensity(q, x, -kInf, kInf, false), expected) << "x = " << x;
        }
    }
}

// A NaN threshold (log-sinh below its domain) fails the uncensored and left tests, so a
// value outside the thresholds takes the right branch, whose mass is NaN here: the
// objective is NaN. A value strictly between the thresholds keeps its density term.
TEST(LikelihoodNaN, NaNThresholdsCensorOnlyValuesOutsideThem) {
    LogSinhTransformation t(1.0, 0.5);
    const Vector q = {0.0, std::log(0.5), 0.1, 0.2};
    const Vector p = t.setParams(q);
    // Left threshold -5 gives lambda x + epsilon < 0, so T(-5) is NaN.
    ASSERT_TRUE(std::isnan(t.transformOne(-5.0)));
    const double inside = normalLogDensity(t.transformOne(2.0), p[2], p[3]) + t.logJacobian(q, 2.0, -5.0, 10.0, false);
    EXPECT_TRUE(sameBits(t.logDensity(q, 2.0, -5.0, 10.0, false), inside));
    EXPECT_NE(t.logJacobian(q, 2.0, -5.0, 10.0, false), 0.0);
    const double tR = t.transformOne(10.0);
    const double rightMass = std::log(1.0 - normalCdf((tR - p[2]) / p[3]));
    EXPECT_TRUE(sameBits(t.logDensity(q, 12.0, -5.0, 10.0, false), rightMass));
    EXPECT_TRUE(std::isnan(t.negLogLik(q, {1.0, 2.0}, -5.0, -5.0, false)));
}

// A value below the left threshold where log-sinh is undefined (lambda x + epsilon < 0)
// is censored at the threshold, like any other value below it; a NaN value still takes
// the right branch.
TEST(LikelihoodNaN, ValueBeyondThresholdOutsideTheDomainIsCensoredThere) {
    LogSinhTransformation t;
    const Vector q = {0.0, std::log(0.5), 0.1, 0.2}; // lambda 1, epsilon 0.5
    const double left = 0.2;
    const double right = 10.0;
    const Vector p = t.setParams(q);
    ASSERT_TRUE(std::isnan(t.transformOne(-1.0)));
    const double leftMass = std::log(normalCdf((t.transformOne(left) - p[2]) / p[3]));
    const double rightMass = std::log(1.0 - normalCdf((t.transformOne(right) - p[2]) / p[3]));
    EXPECT_TRUE(sameBits(t.logDensity(q, -1.0, left, right, false), leftMass));
    EXPECT_TRUE(sameBits(t.logDensity(q, left, left, right, false), leftMass));
    EXPECT_EQ(t.logJacobian(q, -1.0, left, right, false), 0.0);
    EXPECT_TRUE(sameBits(t.logDensity(q, kNaN, left, right, false), rightMass));
    EXPECT_TRUE(
        sameBits(t.negLogLik(q, {-1.0, 3.0}, left, right, false), t.negLogLik(q, {left, 3.0}, left, right, false)));
}

} // namespace
} // namespace ferrule::test
