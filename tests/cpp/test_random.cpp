// The draw constructions of the stochastic optimisers, checked bit for bit against
// values derived by hand from raw mt19937 outputs.
//
// Raw outputs of mt19937 seeded with 5489 (the engine's default seed), from
//   python -c "import numpy as np; g = np.random.MT19937(); g._legacy_seeding(5489); print(g.random_raw(4))"
// (legacy seeding is the reference init_genrand, the same as std::mt19937(5489)):
//   o0 = 3499211612, o1 = 581869302, o2 = 3890346734, o3 = 3586334585
#include <algorithm>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "optim/random.hpp"

namespace ferrule {
namespace {

constexpr std::uint32_t kO0 = 3499211612u;
constexpr std::uint32_t kO1 = 581869302u;

std::mt19937 seeded() { return std::mt19937(5489u); }

// The engine's state once static initialisation is over and before any test draws.
std::mt19937 engineAtStart;

class CaptureEngineAtStart : public ::testing::Environment {
public:
    void SetUp() override { engineAtStart = processEngine; }
};
[[maybe_unused]] ::testing::Environment *const kCaptureEngine =
    ::testing::AddGlobalTestEnvironment(new CaptureEngineAtStart);

TEST(ProcessEngine, IsSeededWith5489BeforeAnyCall) {
    EXPECT_TRUE(engineAtStart == std::mt19937(5489u));
    std::mt19937 copy = engineAtStart;
    EXPECT_EQ(copy(), kO0);
}

TEST(ProcessEngine, UnitUniformIsTheCanonicalDrawOfTheProcessEngine) {
    EXPECT_EQ(unitUniform.lo, 0.0);
    EXPECT_EQ(unitUniform.hi, 1.0);
    processEngine.seed(5489u);
    std::mt19937 reference = seeded();
    for (int i = 0; i < 4; ++i) {
        const double drawn = processUniform();
        EXPECT_EQ(drawn, canonical(reference)) << "draw " << i;
    }
    EXPECT_TRUE(processEngine == reference);
}

TEST(ProcessEngine, ConcurrentDrawsNeverTearTheEngineState) {
    // Two threads draw at once. Every draw takes two whole outputs under the lock, so
    // together they consume exactly the first 2 * kDraws canonical values of a fresh
    // engine, each once, and leave the engine where a single thread would.
    constexpr int kDraws = 20000;
    processEngine.seed(5489u);
    std::vector<double> first(kDraws);
    std::vector<double> second(kDraws);
    std::thread other([&second] {
        for (double &d : second) {
            d = processUniform();
        }
    });
    for (double &d : first) {
        d = processUniform();
    }
    other.join();
    std::vector<double> drawn = first;
    drawn.insert(drawn.end(), second.begin(), second.end());
    std::sort(drawn.begin(), drawn.end());
    std::mt19937 reference = seeded();
    std::vector<double> expected(2 * kDraws);
    for (double &d : expected) {
        d = canonical(reference);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(drawn, expected);
    EXPECT_TRUE(processEngine == reference);
}

// canonical(a, b) = (b * 2^21 + (a >> 11)) * 2^-53, exact for every output pair.
struct CanonicalCase {
    std::uint32_t a;
    std::uint32_t b;
    double expected;
};

class CanonicalFromOutputs : public ::testing::TestWithParam<CanonicalCase> {};

TEST_P(CanonicalFromOutputs, ScalesThe53BitInteger) {
    EXPECT_EQ(canonicalFromOutputs(GetParam().a, GetParam().b), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Draws, CanonicalFromOutputs,
    ::testing::Values(
        // Both zero gives 0.
        CanonicalCase{0u, 0u, 0.0},
        // The low 11 bits of a are dropped: 0x7ff >> 11 = 0.
        CanonicalCase{0x7ffu, 0u, 0.0},
        // The smallest step: a >> 11 = 1, so 2^-53.
        CanonicalCase{0x800u, 0u, 0x1p-53},
        // b is the high part: b = 1 gives 2^21 * 2^-53 = 2^-32.
        CanonicalCase{0u, 1u, 0x1p-32},
        // Largest value: (2^32 - 1) * 2^21 + (2^21 - 1) = 2^53 - 1, times 2^-53 = 1 - 2^-53 < 1.
        CanonicalCase{0xffffffffu, 0xffffffffu, 0x1.fffffffffffffp-1},
        // First two outputs of seed 5489: (581869302 * 2^21 + (3499211612 >> 11)) * 2^-53, exact in Python:
        //   float((581869302 << 21) + (3499211612 >> 11)) * 2.0**-53 = 0x1.1574f7b6848dcp-3
        CanonicalCase{kO0, kO1, 0x1.1574f7b6848dcp-3}));

TEST(Canonical, DrawsTwoOutputsFirstOneLow) {
    std::mt19937 engine = seeded();
    // See the case above; the second pair (o2, o3) gives, in the same way,
    //   float((3586334585 << 21) + (3890346734 >> 11)) * 2.0**-53 = 0x1.ab863ef3cfc3fp-1
    EXPECT_EQ(canonical(engine), 0x1.1574f7b6848dcp-3);
    EXPECT_EQ(canonical(engine), 0x1.ab863ef3cfc3fp-1);
    std::mt19937 reference = seeded();
    reference.discard(4);
    EXPECT_TRUE(engine == reference);
}

TEST(UniformReal, ScalesTheCanonicalDraw) {
    std::mt19937 engine = seeded();
    // -2 + (3 - -2) * 0x1.1574f7b6848dcp-3 in Python floats = -0x1.5296e52ded276p+0
    EXPECT_EQ((UniformReal{-2.0, 3.0}(engine)), -0x1.5296e52ded276p+0);
}

// Uniform integer in [0, k] for the shuffle, drawn from seed 5489.
struct ShuffleIndexCase {
    std::uint32_t k;
    std::uint32_t expected;
    int outputsUsed;
};

class ShuffleIndex : public ::testing::TestWithParam<ShuffleIndexCase> {};

TEST_P(ShuffleIndex, DividesWithRejection) {
    std::mt19937 engine = seeded();
    EXPECT_EQ(shuffleIndex(engine, GetParam().k), GetParam().expected);
    std::mt19937 reference = seeded();
    reference.discard(static_cast<unsigned long long>(GetParam().outputsUsed));
    EXPECT_TRUE(engine == reference) << "outputs drawn differ from " << GetParam().outputsUsed;
}

INSTANTIATE_TEST_SUITE_P(
    Draws, ShuffleIndex,
    ::testing::Values(
        // m = 1: every output is accepted (2^32 - 1 mod 1 = 0 = m - 1), result 0.
        ShuffleIndexCase{0u, 0u, 1},
        // m = 2 divides 2^32: accepted; 3499211612 mod 2 = 0.
        ShuffleIndexCase{1u, 0u, 1},
        // m = 3: 3499211612 / 3 = 1166403870 < 4294967295 / 3 = 1431655765, accepted;
        // 3499211612 = 3 * 1166403870 + 2.
        ShuffleIndexCase{2u, 2u, 1},
        // m = 2^31 + 1: floor((2^32 - 1) / m) = 1 and (2^32 - 1) mod m = 2^31 - 2 != m - 1, so an
        // output r is accepted only when r < m. o0 = 3499211612 >= m is rejected; o1 = 581869302 < m
        // is accepted and is its own remainder.
        ShuffleIndexCase{0x80000000u, kO1, 2},
        // m = 2^32 (held without wrapping): (2^32 - 1) mod m = m - 1, every output accepted as it is.
        ShuffleIndexCase{0xffffffffu, kO0, 1}));

// Uniform integer in [0, n - 1] by multiply-and-reject, drawn from seed 5489.
struct UniformBelowCase {
    std::uint32_t n;
    std::uint32_t expected;
    int outputsUsed;
};

class UniformBelow : public ::testing::TestWithParam<UniformBelowCase> {};

TEST_P(UniformBelow, MultipliesAndRejects) {
    std::mt19937 engine = seeded();
    EXPECT_EQ(uniformBelow(engine, GetParam().n), GetParam().expected);
    std::mt19937 reference = seeded();
    reference.discard(static_cast<unsigned long long>(GetParam().outputsUsed));
    EXPECT_TRUE(engine == reference) << "outputs drawn differ from " << GetParam().outputsUsed;
}

INSTANTIATE_TEST_SUITE_P(
    Draws, UniformBelow,
    ::testing::Values(
        // n = 1: t = (2^32 - 1) mod 1 = 0, nothing rejected; high word of o0 * 1 is 0.
        UniformBelowCase{1u, 0u, 1},
        // n = 3: t = (2^32 - 3) mod 3 = 1; o0 * 3 = 10497634836 = 2 * 2^32 + 1907700244, low word >= 1.
        UniformBelowCase{3u, 2u, 1},
        // n = 3 * 2^30: t = 2^30 mod n = 2^30. The low word of r * n is (3r mod 4) * 2^30:
        // o0 mod 4 = 0 gives 0 < t, rejected; o1 mod 4 = 2 gives 2^31, accepted, and the high
        // word is floor(3 * 581869302 / 4) = floor(436401976.5) = 436401976.
        UniformBelowCase{3u << 30, 436401976u, 2},
        // n = 2^31 + 1: t = (2^31 - 1) mod n = 2^31 - 1. o0 is even, so the low word of
        // o0 * 2^31 + o0 is o0 = 3499211612 >= t; high word floor(o0 / 2 + o0 / 2^32) = 1749605806.
        UniformBelowCase{0x80000001u, 1749605806u, 1}));

TEST(Shuffle, IsFisherYatesFromTheFront) {
    std::mt19937 engine = seeded();
    std::vector<int> items{0, 1, 2, 3, 4};
    shuffle(items, engine);
    // j = 1: o0 mod 2 = 0, swap 1 and 0 -> 1 0 2 3 4
    // j = 2: o1 mod 3 = 0 (digit sum 42), swap 2 and 0 -> 2 0 1 3 4
    // j = 3: o2 = 3890346734, m = 4 divides 2^32, o2 mod 4 = 2, swap 3 and 2 -> 2 0 3 1 4
    // j = 4: o3 = 3586334585, 3586334585 / 5 = 717266917 < 858993459, accepted; o3 mod 5 = 0,
    //        swap 4 and 0 -> 4 0 3 1 2
    EXPECT_EQ(items, (std::vector<int>{4, 0, 3, 1, 2}));
    std::mt19937 reference = seeded();
    reference.discard(4);
    EXPECT_TRUE(engine == reference);
}

TEST(Shuffle, ShortSequencesDrawNothing) {
    for (std::size_t length : {0u, 1u}) {
        std::mt19937 engine = seeded();
        std::vector<int> items(length, 7);
        shuffle(items, engine);
        EXPECT_EQ(items, std::vector<int>(length, 7));
        EXPECT_TRUE(engine == seeded());
    }
}

} // namespace
} // namespace ferrule
