// Sorting a long vector in pieces that report to a Checkpoint, so that a stop request is
// answered within a block: runs of Checkpoint::kBlock elements sorted one at a time, then
// merged pairwise, a pass at a time. The result is that of std::sort (elements that
// compare equal, such as -0.0 and 0.0, may come in another order).
#pragma once

#include <algorithm>
#include <vector>

#include "core/checkpoint.hpp"

namespace ferrule {

template <class T> void checkedSort(std::vector<T> &v, const Checkpoint &checkpoint) {
    const std::size_t n = v.size(), block = Checkpoint::kBlock;
    for (std::size_t from = 0; from < n; from += block) {
        const std::size_t to = std::min(from + block, n);
        std::sort(v.begin() + from, v.begin() + to);
        checkpoint.done(to - from);
    }
    if (n <= block) {
        return;
    }
    std::vector<T> merged(n);
    for (std::size_t width = block; width < n; width *= 2) {
        for (std::size_t low = 0; low < n; low += 2 * width) {
            const std::size_t middle = std::min(low + width, n), high = std::min(low + 2 * width, n);
            std::merge(v.begin() + low, v.begin() + middle, v.begin() + middle, v.begin() + high, merged.begin() + low);
            checkpoint.done(high - low);
        }
        v.swap(merged);
    }
}

} // namespace ferrule
