// Work on many cells (grid locations) at once, its results committed in cell order.
//
// work(i) runs on up to `threads` OpenMP threads, each cell independent of the others;
// commit(i) runs on the calling thread in increasing i, after work(i) and every commit
// before it. A block of cells is worked on together, then committed one by one; commit
// returns false to stop instead of committing cell i (an error in its work, an interrupt),
// and the cells after it are then neither committed nor worked on. work must not throw:
// it keeps an error with the cell's result, for commit to find. So whatever the thread count, the committed cells are
// exactly a prefix a serial loop would have committed, with the same results, in the same order.
#pragma once

#include <algorithm>
#include <cstddef>

namespace ferrule {

// Cells worked on per thread before a commit pass: enough to even out cells of unequal
// cost, few enough that an interrupt is noticed soon.
inline constexpr std::size_t kCellsPerThreadAndBlock = 8;

// Returns the number of cells committed.
template <class Work, class Commit>
std::size_t runOrderedCells(std::size_t count, int threads, Work &&work, Commit &&commit) {
    threads = std::max(threads, 1);
    const std::size_t block = threads == 1 ? 1 : kCellsPerThreadAndBlock * static_cast<std::size_t>(threads);
    std::size_t committed = 0;
    while (committed < count) {
        const std::size_t end = std::min(count, committed + block);
        const auto first = static_cast<long long>(committed);
        const auto last = static_cast<long long>(end);
        if (threads == 1) {
            for (long long i = first; i < last; ++i) {
                work(static_cast<std::size_t>(i));
            }
        } else {
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
            for (long long i = first; i < last; ++i) {
                work(static_cast<std::size_t>(i));
            }
        }
        for (std::size_t i = committed; i < end; ++i) {
            if (!commit(i)) {
                return i;
            }
        }
        committed = end;
    }
    return committed;
}

} // namespace ferrule
