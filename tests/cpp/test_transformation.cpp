// Base-class behaviour shared by every family: construction, getters, rescaling,
// batch operations, the per-value views logDensity/logJacobian, and the map itself
// (round trip, derivative).
#include <cmath>
#include <stdexcept>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace ferrule::test {
namespace {

template <class T> class TransformationTest : public ::testing::Test {};
TYPED_TEST_SUITE(TransformationTest, AllFamilies, FamilyNames);

TYPED_TEST(TransformationTest, FreshObjectHoldsConstructorValuesAndUnsetDistribution) {
    using F = Family<TypeParam>;
    const Vector trans = F::transParams();
    const TypeParam t = F::make(trans, 2.5, -0.75);

    Vector expected = trans;
    expected.push_back(-9999.0);
    expected.push_back(-9999.0);
    EXPECT_EQ(t.getDistributionParams(), expected);
    EXPECT_EQ(t.getTransformationParams(), trans);
    EXPECT_TRUE(t.optimisedParams.empty());
    EXPECT_EQ(t.getScaleShift(), (Vector{2.5, -0.75}));
    EXPECT_EQ(static_cast<std::size_t>(t.numTransParams()), trans.size());
}

// A NaN transformation parameter makes every map NaN at every value, 0 included (where
// Yeo-Johnson's pow(1, NaN) = 1 and a NaN power failing |lambda| > tol once gave finite values).
TYPED_TEST(TransformationTest, NaNParameterGivesNaNMaps) {
    using F = Family<TypeParam>;
    const Vector good = F::transParams();
    for (std::size_t k = 0; k < good.size(); ++k) {
        Vector trans = good;
        trans[k] = std::nan("");
        const TypeParam t = F::make(trans);
        for (double x : {0.0, 1.0, 3.5}) {
            EXPECT_TRUE(std::isnan(t.transformOne(x))) << "parameter " << k << ", x = " << x;
            EXPECT_TRUE(std::isnan(t.invTransformOne(x))) << "parameter " << k << ", y = " << x;
            EXPECT_TRUE(std::isnan(F::forward(x, trans))) << "parameter " << k << ", x = " << x;
            using K = typename TypeParam::Kernel;
            EXPECT_TRUE(std::isnan(K::mapLogJacobian(x, K::withTransformation(trans.data()))))
                << "parameter " << k << ", x = " << x;
        }
    }
}

TYPED_TEST(TransformationTest, SearchBoxHasFamilyLengthAndContainsStart) {
    const TypeParam t = Family<TypeParam>::make(Family<TypeParam>::transParams());
    const Vector start = t.startParams();
    const Vector lower = t.lowerBounds();
    const Vector upper = t.upperBounds();
    const std::size_t n = static_cast<std::size_t>(t.numTransParams()) + 2;
    ASSERT_EQ(start.size(), n);
    ASSERT_EQ(lower.size(), n);
    ASSERT_EQ(upper.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_LT(lower[i], start[i]) << "coordinate " << i;
        EXPECT_LT(start[i], upper[i]) << "coordinate " << i;
    }
}

TYPED_TEST(TransformationTest, SetParamsStoresDecodingAndTransformUsesIt) {
    using F = Family<TypeParam>;
    TypeParam t = F::make(F::transParams());
    for (const Vector &q : F::searchPoints()) {
        const Vector p = t.setParams(q);
        ASSERT_EQ(p.size(), q.size());
        EXPECT_EQ(t.getDistributionParams(), p);
        const Vector trans(p.begin(), p.begin() + t.numTransParams());
        EXPECT_EQ(t.getTransformationParams(), trans);
        // transformOne and the explicit-parameter forward function are one formula.
        for (double x : F::values()) {
            EXPECT_TRUE(sameBits(t.transformOne(x), F::forward(x, trans))) << "x = " << x;
        }
    }
}

TYPED_TEST(TransformationTest, ShortSearchVectorIsRejected) {
    using F = Family<TypeParam>;
    TypeParam t = F::make(F::transParams());
    Vector q = F::searchPoints().front();
    q.pop_back();
    EXPECT_THROW(t.setParams(q), std::invalid_argument);
    EXPECT_THROW(t.logDensity(q, 1.0, -1.0, 5.0, false), std::invalid_argument);
    EXPECT_THROW(t.negLogLik(q, {1.0}, -1.0, 5.0, false), std::invalid_argument);
    EXPECT_THROW(t.setParams({}), std::invalid_argument);
    // A refused vector leaves the object as it was.
    EXPECT_EQ(t.getTransformationParams(), F::transParams());
}

TYPED_TEST(TransformationTest, PerValueViewsLeaveDecodedParamsButNotOptimised) {
    using F = Family<TypeParam>;
    for (const Vector &q : F::searchPoints()) {
        TypeParam reference = F::make(F::transParams());
        const Vector decoded = reference.setParams(q);

        TypeParam t = F::make(F::transParams());
        t.logDensity(q, 1.5, 0.5, 8.0, false);
        EXPECT_EQ(t.getDistributionParams(), decoded);

        TypeParam u = F::make(F::transParams(), 2.0, 0.1);
        u.logJacobian(q, 1.5, 0.5, 8.0, true);
        EXPECT_EQ(u.getDistributionParams(), decoded);
        EXPECT_TRUE(u.optimisedParams.empty());
        EXPECT_TRUE(sameBits(u.transformOne(2.25), reference.transformOne(2.25)));
    }
}

// The likelihood terms read the natural parameters from their vector argument, not from
// the members: an object holding other parameters gives the same terms.
TYPED_TEST(TransformationTest, LikelihoodTermsReadParamsFromArgument) {
    using F = Family<TypeParam>;
    const TypeParam other = F::make(F::transParams());
    for (const Vector &q : F::searchPoints()) {
        TypeParam holder = F::make(F::transParams());
        const Vector p = holder.setParams(q);
        for (double x : {0.3, 1.0, 2.5, 4.0}) {
            const double y = holder.transformOne(x);
            const double tL = holder.transformOne(0.5);
            const double tR = holder.transformOne(3.0);
            EXPECT_TRUE(
                sameBits(censoredLogDensity(other, p, y, x, tL, tR), censoredLogDensity(holder, p, y, x, tL, tR)))
                << "x = " << x;
            EXPECT_TRUE(
                sameBits(censoredLogJacobian(other, p, y, x, tL, tR), censoredLogJacobian(holder, p, y, x, tL, tR)))
                << "x = " << x;
        }
    }
}

// With do_rescale the value and both thresholds are rescaled before anything else,
// and nothing else changes (no factor for the rescaling enters the result).
TYPED_TEST(TransformationTest, RescaledViewsEqualViewsOfRescaledInputs) {
    using F = Family<TypeParam>;
    TypeParam t = F::make(F::transParams(), 1.7, 0.3);
    const double left = 0.4;
    const double right = 5.0;
    for (const Vector &q : F::searchPoints()) {
        for (double x : {0.0, 0.2, 0.4, 1.0, 2.5, 5.0, 7.0}) {
            const double rx = t.rescaleOne(x);
            const double rl = t.rescaleOne(left);
            const double rr = t.rescaleOne(right);
            EXPECT_TRUE(sameBits(t.logDensity(q, x, left, right, true), t.logDensity(q, rx, rl, rr, false)))
                << "x = " << x;
            EXPECT_TRUE(sameBits(t.logJacobian(q, x, left, right, true), t.logJacobian(q, rx, rl, rr, false)))
                << "x = " << x;
        }
    }
}

TYPED_TEST(TransformationTest, BatchOperationsApplyPerValueOperationsInOrder) {
    using F = Family<TypeParam>;
    const TypeParam t = F::make(F::transParams(), 1.7, 0.3);
    const Vector xs = F::values();
    const Vector ys = t.transformMany(xs);
    const Vector back = t.invTransformMany(ys);
    const Vector scaled = t.rescaleMany(xs);
    const Vector unscaled = t.invRescaleMany(scaled);
    ASSERT_EQ(ys.size(), xs.size());
    ASSERT_EQ(back.size(), xs.size());
    ASSERT_EQ(scaled.size(), xs.size());
    ASSERT_EQ(unscaled.size(), xs.size());
    for (std::size_t i = 0; i < xs.size(); ++i) {
        EXPECT_TRUE(sameBits(ys[i], t.transformOne(xs[i])));
        EXPECT_TRUE(sameBits(back[i], t.invTransformOne(ys[i])));
        EXPECT_TRUE(sameBits(scaled[i], t.rescaleOne(xs[i])));
        EXPECT_TRUE(sameBits(unscaled[i], t.invRescaleOne(scaled[i])));
    }
    EXPECT_TRUE(t.transformMany({}).empty());
    EXPECT_TRUE(t.invTransformMany({}).empty());
    EXPECT_TRUE(t.rescaleMany({}).empty());
    EXPECT_TRUE(t.invRescaleMany({}).empty());
}

TYPED_TEST(TransformationTest, InverseUndoesForwardOverParameterGrid) {
    using F = Family<TypeParam>;
    for (const Vector &trans : F::transGrid()) {
        const TypeParam t = F::make(trans);
        for (double x : F::values()) {
            const double back = t.invTransformOne(t.transformOne(x));
            EXPECT_NEAR(back, x, 1e-9 * std::fmax(1.0, std::fabs(x)))
                << "params " << ::testing::PrintToString(trans) << ", x = " << x;
        }
    }
}

// log T'(x) against a central difference of the map (for Jones-Pewsey the map of the
// raw value, x -> T((x - mu)/sigma)); values are interior, so no threshold interferes.
TYPED_TEST(TransformationTest, LogJacobianMatchesFiniteDifference) {
    using F = Family<TypeParam>;
    TypeParam t = F::make(F::transParams());
    for (const Vector &q : F::searchPoints()) {
        const Vector p = t.setParams(q);
        for (double x : F::values()) {
            if (x == 0.0) {
                continue; // Yeo-Johnson switches formula here; the one-sided pieces still agree
            }
            const double h = 1e-6 * std::fmax(1.0, std::fabs(x));
            const double slope = (F::jacobianMap(x + h, p) - F::jacobianMap(x - h, p)) / (2.0 * h);
            const double logJ = censoredLogJacobian(t, p, t.transformOne(x), x, -kInf, kInf);
            EXPECT_NEAR(logJ, std::log(slope), 1e-6) << "q " << ::testing::PrintToString(q) << ", x = " << x;
        }
    }
}

// Closed form: (0 + 1) * 2 = 2 and 2 / 2 - 1 = 0.
TEST(Rescaling, AddsShiftBeforeScalingAndInvertsInReverseOrder) {
    const YeoJohnsonTransformation t(1.0, 2.0, 1.0);
    EXPECT_EQ(t.rescaleOne(0.0), 2.0);
    EXPECT_EQ(t.invRescaleOne(2.0), 0.0);
    // (3 + 1) * 2 = 8, not 3 * 2 + 1.
    EXPECT_EQ(t.rescaleOne(3.0), 8.0);
    EXPECT_EQ(t.invRescaleOne(8.0), 3.0);
}

} // namespace
} // namespace ferrule::test
