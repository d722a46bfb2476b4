// The values of a series ordered by their bit patterns (read as unsigned 64-bit integers),
// with the position of each: what PreparedSeries numbers its distinct values by. A short
// series is sorted by comparisons; a long one by a radix sort on the patterns, linear in
// its length, streaming through memory, and reporting its work to a Checkpoint so that a
// stop request is answered within a block. Both give the same patterns in the same order
// (positions of equal patterns may come in another order).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include "core/checkpoint.hpp"

namespace ferrule {

struct BitOrder {
    std::vector<std::uint64_t> patterns;  // ascending
    std::vector<std::uint32_t> positions; // patterns[k] is the value at positions[k]
};

namespace bit_order_detail {

inline std::uint64_t bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// From this many values on, the radix sort.
inline constexpr std::size_t kRadixFrom = std::size_t{1} << 16;
// Digits of 11 bits: six passes over 64 bits, counts that fit the first-level cache.
inline constexpr int kDigitBits = 11;
inline constexpr int kPasses = (64 + kDigitBits - 1) / kDigitBits;
inline constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;

inline std::size_t digit(std::uint64_t pattern, int pass) {
    return static_cast<std::size_t>(pattern >> (pass * kDigitBits)) & (kBuckets - 1);
}

} // namespace bit_order_detail

inline BitOrder bitOrder(const std::vector<double> &values, const Checkpoint &checkpoint) {
    using namespace bit_order_detail;
    const std::size_t n = values.size();
    BitOrder out;
    out.positions.resize(n);
    std::iota(out.positions.begin(), out.positions.end(), 0u);
    if (n < kRadixFrom) {
        std::sort(out.positions.begin(), out.positions.end(),
                  [&values](std::uint32_t a, std::uint32_t b) { return bits(values[a]) < bits(values[b]); });
        out.patterns.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            out.patterns[k] = bits(values[out.positions[k]]);
        }
        return out;
    }
    // Least significant digit first, each pass stable: after the last, the patterns are in
    // order. A pass whose digit is the same for every value moves nothing and is skipped.
    std::vector<std::uint64_t> &patterns = out.patterns;
    patterns.resize(n);
    std::vector<std::array<std::size_t, kBuckets>> counts(kPasses);
    for (std::size_t i = 0; i < n; ++i) {
        patterns[i] = bits(values[i]);
        for (int pass = 0; pass < kPasses; ++pass) {
            ++counts[pass][digit(patterns[i], pass)];
        }
        checkpoint.done();
    }
    std::vector<std::uint64_t> nextPatterns(n);
    std::vector<std::uint32_t> nextPositions(n);
    for (int pass = 0; pass < kPasses; ++pass) {
        std::array<std::size_t, kBuckets> &start = counts[pass];
        if (start[digit(patterns[0], pass)] == n) {
            continue;
        }
        std::size_t sum = 0;
        for (std::size_t &c : start) {
            sum += std::exchange(c, sum);
        }
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t k = start[digit(patterns[i], pass)]++;
            nextPatterns[k] = patterns[i];
            nextPositions[k] = out.positions[i];
            checkpoint.done();
        }
        patterns.swap(nextPatterns);
        out.positions.swap(nextPositions);
    }
    return out;
}

} // namespace ferrule
