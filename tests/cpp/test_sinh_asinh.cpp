// Sinh-arcsinh and Jones-Pewsey: the shared map, decoding and prior, and the two
// likelihood terms that set the families apart.
#include <cmath>

#include <gtest/gtest.h>

#include "core/censoring.hpp"
#include "test_support.hpp"

namespace ferrule::test {
namespace {

// Stated values: with delta = 2, epsilon = 0.5, T(1) = 4.752693783039074 and
// T^-1(2) = 0.489518998818118.
TEST(SinhAsinhMap, StatedValues) {
    const SinhAsinhTransformation t(2.0, 0.5);
    EXPECT_PRED_FORMAT2(WithinOneUlp, t.transformOne(1.0), 4.752693783039074);
    EXPECT_PRED_FORMAT2(WithinOneUlp, t.invTransformOne(2.0), 0.489518998818118);
    EXPECT_TRUE(sameBits(sinhAsinhForward(1.0, 2.0, 0.5), t.transformOne(1.0)));
    const JonesPewseyTransformation j(2.0, 0.5);
    EXPECT_TRUE(sameBits(j.transformOne(1.0), t.transformOne(1.0)));
    EXPECT_TRUE(sameBits(j.invTransformOne(2.0), t.invTransformOne(2.0)));
}

// Bit-exact arithmetic order (Python, same expressions): the Jacobian forms
// delta*cosh(...)/sqrt(x^2 + 1) before its one logarithm (summing three logarithms gives
// 2.8044674552694815 at x = 2.5 and 0.5517727769652956 at x = 5 with delta = 1.3,
// epsilon = -0.4), and the inverse divides by delta (multiplying by 1/delta gives
// 0.31975765680703677 for delta = 3, epsilon = 0.5, y = 2).
TEST(SinhAsinhMap, ArithmeticOrderIsExact) {
    const SinhAsinhTransformation t;
    EXPECT_EQ(censoredLogJacobian(t, {2.0, 0.5, 0.0, 1.0}, 0.0, 2.5, -kInf, kInf), 2.804467455269481);
    EXPECT_EQ(censoredLogJacobian(t, {1.3, -0.4, 0.0, 1.0}, 0.0, 5.0, -kInf, kInf), 0.5517727769652958);
    EXPECT_EQ(SinhAsinhTransformation(3.0, 0.5).invTransformOne(2.0), 0.3197576568070368);
    EXPECT_EQ(JonesPewseyTransformation(1.3, -0.4).invTransformOne(5.0), 3.9662366286510857);
}

// delta = 1, epsilon = 0 is the identity up to rounding, with log Jacobian log(1) = 0.
TEST(SinhAsinhMap, UnitDeltaZeroEpsilonIsIdentity) {
    const SinhAsinhTransformation t(1.0, 0.0);
    for (double x : linspace(-50.0, 50.0, 101)) {
        EXPECT_NEAR(t.transformOne(x), x, 1e-13 * std::fmax(1.0, std::fabs(x)));
        EXPECT_NEAR(censoredLogJacobian(t, {1.0, 0.0, 0.0, 1.0}, x, x, -kInf, kInf), 0.0, 1e-15);
    }
}

// J = log(delta cosh(delta asinh(x) + epsilon) / sqrt(x^2 + 1)); at delta = 2, epsilon = 0.5,
// x = 0.7 it is 1.6326199424036478 (Python, same expression).
TEST(SinhAsinhDensity, JacobianAndUncensoredTerm) {
    SinhAsinhTransformation t;
    const Vector p = {2.0, 0.5, 1.0, 1.5};
    const double x = 0.7;
    const double y = t.transformOne(x);
    const double jac = 1.6326199424036478;
    EXPECT_PRED_FORMAT2(WithinOneUlp, censoredLogJacobian(t, p, y, x, -kInf, kInf), jac);
    EXPECT_PRED_FORMAT2(WithinOneUlp, censoredLogDensity(t, p, y, x, -kInf, kInf), jac + normalLogDensity(y, 1.0, 1.5));
}

// z = (x - mu)/sigma, a = delta asinh(z) + epsilon: log cosh a + log delta - log(z^2 + 1)/2
// - log sigma = 0.9571805360887693, plus the standard normal log density of sinh(a):
// -1.7847998047772682 (Python, same expression order), for delta = 2, epsilon = 0.5,
// mu = 1, sigma = 1.5, x = 1.7. y only decides censoring.
TEST(JonesPewseyDensity, UncensoredTermOfRawValue) {
    const JonesPewseyTransformation t;
    const Vector p = {2.0, 0.5, 1.0, 1.5};
    for (double y : {0.0, 3.0, -2.0}) {
        EXPECT_PRED_FORMAT2(WithinOneUlp, censoredLogJacobian(t, p, y, 1.7, -10.0, 10.0), 0.9571805360887693);
        EXPECT_PRED_FORMAT2(WithinOneUlp, censoredLogDensity(t, p, y, 1.7, -10.0, 10.0), -1.7847998047772682);
    }
}

// Both judge censoring alike, and a censored value contributes the mass its own model puts
// beyond the threshold: the sinh-arcsinh Phi((T(L) - mu)/sigma), the Jones-Pewsey
// Phi(T((L - mu)/sigma)). They agree where the standardisation is the identity (mu = 0,
// sigma = 1: search vector {1/2, 0.5/sqrt(1.25), 0, 1/2}); uncensored terms differ otherwise.
TEST(SinhAsinhFamilies, CensoredTermsAgreeUncensoredDifferUnlessStandard) {
    SinhAsinhTransformation sa;
    JonesPewseyTransformation jp;
    const double L = -1.0;
    const double R = 4.0;
    for (const Vector &q : {Vector{0.6, 0.2, 0.3, 0.4}, Vector{0.3, -0.5, -0.6, 0.7}}) {
        for (double x : {-3.0, L, R, 9.0}) {
            EXPECT_EQ(jp.logJacobian(q, x, L, R, false), 0.0);
        }
        // Both right masses round to 0 at R here; the left ones and the densities differ.
        for (double x : {-3.0, L, -0.5, 0.3, 2.0}) {
            EXPECT_NE(sa.logDensity(q, x, L, R, false), jp.logDensity(q, x, L, R, false)) << "x = " << x;
        }
    }
    const Vector standard = {0.5, 0.5 / std::sqrt(1.25), 0.0, 0.5};
    for (double x : {-3.0, L, R, 9.0}) {
        EXPECT_NEAR(sa.logDensity(standard, x, L, R, false), jp.logDensity(standard, x, L, R, false), 1e-12)
            << "x = " << x;
    }
    for (const Vector &p : {Vector{2.0, 0.5, 0.0, 1.0}, Vector{0.4, -1.2, 0.0, 1.0}}) {
        for (double x : linspace(-8.0, 8.0, 33)) {
            const double y = sinhAsinhForward(x, p[0], p[1]);
            const double scale = std::fmax(1.0, std::fabs(censoredLogDensity(sa, p, y, x, -kInf, kInf)));
            EXPECT_NEAR(censoredLogDensity(sa, p, y, x, -kInf, kInf), censoredLogDensity(jp, p, y, x, -kInf, kInf),
                        1e-13 * scale)
                << "x = " << x;
            EXPECT_NEAR(censoredLogJacobian(sa, p, y, x, -kInf, kInf), censoredLogJacobian(jp, p, y, x, -kInf, kInf),
                        1e-13)
                << "x = " << x;
        }
    }
}

// Both are densities of x on the whole line. Trapezoid rule after x = sinh(t), which
// turns the heavy tails of small delta into fast-decaying ones: integral of
// f(sinh t) cosh t dt over [-40, 40].
template <class T> double integrateDensity(const T &t, const Vector &p) {
    const double a = -40.0;
    const double b = 40.0;
    const int n = 80000;
    const double h = (b - a) / n;
    double sum = 0.0;
    for (int i = 0; i <= n; ++i) {
        const double s = a + h * i;
        const double x = std::sinh(s);
        const double y = sinhAsinhForward(x, p[0], p[1]);
        const double f = std::exp(censoredLogDensity(t, p, y, x, -kInf, kInf)) * std::cosh(s);
        sum += (i == 0 || i == n) ? 0.5 * f : f;
    }
    return sum * h;
}

TEST(SinhAsinhFamilies, DensitiesIntegrateToOne) {
    const SinhAsinhTransformation sa;
    const JonesPewseyTransformation jp;
    for (const Vector &p : {Vector{1.5, 0.3, 2.0, 0.7}, Vector{0.6, -0.8, -1.0, 2.5}, Vector{1.0, 0.0, 0.0, 1.0}}) {
        EXPECT_NEAR(integrateDensity(jp, p), 1.0, 1e-6) << ::testing::PrintToString(p);
        EXPECT_NEAR(integrateDensity(sa, p), 1.0, 1e-6) << ::testing::PrintToString(p);
    }
}

// Decoding: {0.5,0.5,0.5,0.5} -> {1, 1/sqrt(3), 1/sqrt(3), 1} (0.5/sqrt(0.75) =
// 0.5773502691896258, Python); q3 fixes sigma/delta, so {0.5, 0, 0, 0.75} gives sigma = 3
// and {0.75, 0, 0, 0.75} (delta = 3) gives sigma = 9.
TEST(SinhAsinhParams, DecodingScalesSigmaByDelta) {
    SinhAsinhTransformation t(2.0, 1.0, 1.5, -0.5);
    EXPECT_EQ(t.startParams(), (Vector{0.5, 0.5, 0.5, 0.5}));
    EXPECT_EQ(t.lowerBounds(), (Vector{0.001, -0.999, -0.999, 0.001}));
    EXPECT_EQ(t.upperBounds(), (Vector{0.999, 0.999, 0.999, 0.999}));
    const Vector p = t.setParams(t.startParams());
    EXPECT_EQ(p[0], 1.0);
    EXPECT_PRED_FORMAT2(WithinOneUlp, p[1], 0.5773502691896258);
    EXPECT_PRED_FORMAT2(WithinOneUlp, p[2], 0.5773502691896258);
    EXPECT_EQ(p[3], 1.0);
    EXPECT_EQ(t.setParams({0.5, 0.0, 0.0, 0.75}), (Vector{1.0, 0.0, 0.0, 3.0}));
    EXPECT_EQ(t.setParams({0.75, 0.0, 0.0, 0.75}), (Vector{3.0, 0.0, 0.0, 9.0}));
    EXPECT_EQ(t.getTransformationParams(), (Vector{3.0, 0.0}));
    EXPECT_EQ(t.getScaleShift(), (Vector{1.5, -0.5}));

    JonesPewseyTransformation j;
    EXPECT_EQ(j.setParams({0.75, 0.0, 0.0, 0.75}), (Vector{3.0, 0.0, 0.0, 9.0}));
}

// Prior: Normal(0.5, 0.05) on delta/(1+delta) plus standard normal on eps/sqrt(1+eps^2).
// At the start point (u = 0, w = 0.5): 1.0328552071446455; at delta = 3, epsilon = -0.4:
// -11.411110310096731, bit for bit (Python, same expression with 0.015707963267948967 and
// 0.005000000000000001). Both kinds share it; mu and sigma carry none.
TEST(SinhAsinhParams, PriorOnDeltaRatioAndEpsilonRatio) {
    SinhAsinhTransformation t;
    t.setParams({0.5, 0.5, 0.5, 0.5});
    EXPECT_EQ(t.logPrior(), 1.0328552071446455);
    t.setParams({0.5, 0.5, -0.9, 0.9});
    EXPECT_EQ(t.logPrior(), 1.0328552071446455);
    t = SinhAsinhTransformation(3.0, -0.4);
    const JonesPewseyTransformation j(3.0, -0.4);
    EXPECT_EQ(t.logPrior(), -11.411110310096731);
    EXPECT_TRUE(sameBits(j.logPrior(), t.logPrior()));
}

} // namespace
} // namespace ferrule::test
