// The sum of many likelihood terms without the error growth of one running sum.
//
// Order: the n terms are cut into blocks of kSumBlock consecutive terms (the last one
// shorter); each block is summed in index order from 0.0, and the block sums are combined
// pairwise: a range of blocks is split in two halves (the first holding ceil(m/2) of its m
// blocks), each half summed the same way, and the result is first + second. The rounding
// error grows with log2(n / kSumBlock) + kSumBlock rather than with n, and the order is a
// function of n alone, so a sum repeats exactly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ferrule {

inline constexpr std::size_t kSumBlock = 64;

// The sum of term(i) for i in [0, n) in the order above.
template <class Term> double pairwiseSum(std::size_t n, const Term &term) {
    const auto block = [&](std::size_t from) {
        const std::size_t to = from + kSumBlock < n ? from + kSumBlock : n;
        double s = 0.0;
        for (std::size_t i = from; i < to; ++i) {
            s = s + term(i);
        }
        return s;
    };
    const auto blocks = [&](const auto &self, std::size_t first, std::size_t count) -> double {
        if (count == 1) {
            return block(first * kSumBlock);
        }
        const std::size_t half = (count + 1) / 2;
        return self(self, first, half) + self(self, first + half, count - half);
    };
    const std::size_t count = (n + kSumBlock - 1) / kSumBlock;
    return count == 0 ? 0.0 : blocks(blocks, 0, count);
}

} // namespace ferrule
