// The one censoring decision of the likelihood, and the distinct values a series is
// reduced to.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/censored_likelihood.hpp"
#include "core/censoring.hpp"
#include "core/checked_sort.hpp"
#include "test_support.hpp"

namespace ferrule::test {
namespace {

struct ClassifyCase {
    const char *name;
    double x, y, left, right, tL, tR;
    Censoring expected;
};

void PrintTo(const ClassifyCase &c, std::ostream *os) { *os << c.name; }

class Classify : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(Classify, FollowsTheRules) {
    const ClassifyCase &c = GetParam();
    EXPECT_EQ(classify(c.x, c.y, c.left, c.right, c.tL, c.tR), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, Classify,
                         ::testing::Values(
                             // Strictly between the transformed thresholds.
                             ClassifyCase{"inside", 1.0, 0.5, 0.0, 2.0, 0.0, 1.0, Censoring::None},
                             // At or beyond a threshold: the side, the left test first.
                             ClassifyCase{"at-left", 0.0, 0.0, 0.0, 2.0, 0.0, 1.0, Censoring::Left},
                             ClassifyCase{"below-left", -1.0, -0.5, 0.0, 2.0, 0.0, 1.0, Censoring::Left},
                             ClassifyCase{"at-right", 2.0, 1.0, 0.0, 2.0, 0.0, 1.0, Censoring::Right},
                             ClassifyCase{"above-right", 3.0, 1.5, 0.0, 2.0, 0.0, 1.0, Censoring::Right},
                             // A value strictly between the thresholds whose finite transform rounds onto (or
                             // past) a transformed threshold stays uncensored.
                             ClassifyCase{"rounds-onto-right", 5.0, 1.0, 0.0, kInf, 0.0, 1.0, Censoring::None},
                             ClassifyCase{"rounds-onto-left", -5.0, -1.0, -kInf, 0.0, -1.0, 0.0, Censoring::None},
                             ClassifyCase{"rounds-past-right", 5.0, 1.0000000000000002, 0.0, kInf, 0.0, 1.0,
                                          Censoring::None},
                             // ... but a transform that overflows stays with the censored terms.
                             ClassifyCase{"overflows", 5.0, kInf, 0.0, kInf, 0.0, kInf, Censoring::Right},
                             ClassifyCase{"overflows-low", -5.0, -kInf, -kInf, 0.0, -kInf, 0.0, Censoring::Left},
                             // An undefined transform beyond a threshold counts as lying at that threshold.
                             ClassifyCase{"undefined-below", -1.0, kNaN, 0.0, 2.0, 0.0, 1.0, Censoring::Left},
                             ClassifyCase{"undefined-above", 3.0, kNaN, 0.0, 2.0, 0.0, 1.0, Censoring::Right},
                             // NaN values, undefined transforms inside and NaN thresholds fall to the right.
                             ClassifyCase{"nan-value", kNaN, kNaN, 0.0, 2.0, 0.0, 1.0, Censoring::Right},
                             ClassifyCase{"undefined-inside", 1.0, kNaN, 0.0, 2.0, 0.0, 1.0, Censoring::Right},
                             ClassifyCase{"nan-thresholds-outside", 3.0, 0.5, 0.0, 2.0, kNaN, kNaN, Censoring::Right},
                             // With an undefined transformed threshold a value inside the thresholds keeps
                             // its density (log-sinh with an infinite left threshold).
                             ClassifyCase{"nan-threshold-inside", 1.0, 0.5, -kInf, 2.0, kNaN, 1.0, Censoring::None}),
                         [](const ::testing::TestParamInfo<ClassifyCase> &info) {
                             std::string name = info.param.name;
                             for (char &ch : name) {
                                 ch = ch == '-' ? '_' : ch;
                             }
                             return name;
                         });

std::uint64_t bitsOf(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

TEST(PreparedSeries, EveryValueHasTheBitsOfItsDistinctSlot) {
    const Vector values = {0.0, 1.5, 0.0, -0.0, 1.5, kNaN, 2.25, kNaN, 0.0, kInf};
    const PreparedSeries series(values, 0.0, kInf);
    // 0.0, -0.0, 1.5, NaN, 2.25, inf: -0.0 and 0.0 stay apart.
    EXPECT_EQ(series.distinct().size(), 6u);
    ASSERT_EQ(series.slots().size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(bitsOf(series.distinct()[series.slots()[i]]), bitsOf(values[i])) << "value " << i;
    }
    EXPECT_TRUE(PreparedSeries({}, 0.0, 1.0).distinct().empty());
}

// A series long enough for the radix sort: signed zeros, NaN payloads, infinities,
// negatives, repeats and many single values.
Vector longSeries(std::size_t n) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-50.0, 50.0);
    const double pool[] = {0.0, -0.0, kNaN, -kNaN, kInf, -kInf, 1.5, -1.5, 1e-300};
    Vector values(n);
    for (std::size_t i = 0; i < n; ++i) {
        values[i] = i % 3 == 0 ? pool[rng() % 9] : u(rng);
    }
    return values;
}

TEST(PreparedSeries, ALongSeriesHasItsDistinctBitsInOrderAndItsCounts) {
    const Vector values = longSeries(3 * Checkpoint::kBlock + 17);
    const PreparedSeries series(values, 0.0, kInf);
    std::vector<std::uint64_t> expected(values.size());
    std::transform(values.begin(), values.end(), expected.begin(), bitsOf);
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    ASSERT_EQ(series.distinct().size(), expected.size());
    std::vector<double> counted(expected.size(), 0.0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(bitsOf(series.distinct()[series.slots()[i]]), bitsOf(values[i])) << "value " << i;
        counted[series.slots()[i]] += 1.0;
    }
    for (std::size_t d = 0; d < expected.size(); ++d) {
        EXPECT_EQ(bitsOf(series.distinct()[d]), expected[d]) << "distinct value " << d;
    }
    EXPECT_EQ(series.counts(), counted);
}

// A check that throws stops the work at once; sorting in blocks gives std::sort's result.
TEST(Checkpoint, IsReachedOncePerBlockAndItsThrowStopsTheWork) {
    struct Stop {};
    int checks = 0;
    const Checkpoint counting([](void *n) { ++*static_cast<int *>(n); }, &checks);
    Vector values = longSeries(5 * Checkpoint::kBlock);
    for (double &x : values) {
        x = std::isnan(x) ? 0.0 : x;
    }
    Vector sorted = values;
    checkedSort(sorted, counting);
    Vector expected = values;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);      // -0.0 == 0.0: equal values may swap places
    EXPECT_EQ(checks, 5 + 3 + 2 + 1); // each block sorted, then each merge of three passes
    const Checkpoint stopping([](void *) { throw Stop{}; }, nullptr);
    EXPECT_THROW(PreparedSeries(values, 0.0, kInf, stopping), Stop);
    EXPECT_NO_THROW(PreparedSeries(Vector(values.begin(), values.begin() + 1000), 0.0, kInf, stopping));
}

// The likelihood over distinct values adds one term per value in index order: the same
// additions as the plain loop over values.
TEST(CensoredLikelihood, EqualsThePlainSumOfTermsInIndexOrder) {
    const Vector values = {0.0, 0.3, 0.0, 2.5, 0.3, 7.1, 0.0, 12.0, 2.5, 0.3, 40.0};
    const PreparedSeries series(values, 0.0, 30.0);
    for (const bool isMap : {false, true}) {
        const CensoredLikelihood<YeoJohnson, ExactNormalMass> likelihood(series, isMap);
        for (const Vector &q : {Vector{0.3, 0.8, -0.4}, Vector{-1.5, 0.2, 0.1}, Vector{1.0, 0.01, 0.01}}) {
            const YeoJohnson::Params p = YeoJohnson::decode(q.data());
            const ValueTerm<YeoJohnson, ExactNormalMass> at(p, 0.0, 30.0);
            double s = 0.0;
            for (const double x : values) {
                s = at.term(x) + s;
            }
            if (isMap) {
                s = YeoJohnson::logPrior(p) + s;
            }
            EXPECT_TRUE(sameBits(likelihood.logLik(q.data()), s));
        }
    }
}

} // namespace
} // namespace ferrule::test
