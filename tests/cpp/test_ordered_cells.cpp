// Work on many cells at once, committed in cell order: whatever the thread count, the
// committed cells are a prefix of the serial loop's, with the same results.
#include <atomic>
#include <vector>

#include <gtest/gtest.h>

#include "optim/ordered_cells.hpp"

namespace ferrule {
namespace {

class OrderedCells : public ::testing::TestWithParam<int> {};

TEST_P(OrderedCells, CommitsEveryCellInOrder) {
    const std::size_t count = 103;
    std::vector<double> work(count, 0.0);
    std::vector<std::size_t> order;
    const std::size_t committed = runOrderedCells(
        count, GetParam(), [&](std::size_t i) { work[i] = static_cast<double>(i) * 0.5; },
        [&](std::size_t i) {
            EXPECT_EQ(work[i], static_cast<double>(i) * 0.5) << "committed before its work";
            order.push_back(i);
            return true;
        });
    EXPECT_EQ(committed, count);
    ASSERT_EQ(order.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

TEST_P(OrderedCells, StopsBeforeTheCellItRefuses) {
    for (const std::size_t refused : {std::size_t{0}, std::size_t{5}, std::size_t{40}, std::size_t{99}}) {
        std::atomic<std::size_t> worked{0};
        std::vector<std::size_t> order;
        const std::size_t committed = runOrderedCells(
            100, GetParam(), [&](std::size_t) { ++worked; },
            [&](std::size_t i) {
                if (i == refused) {
                    return false;
                }
                order.push_back(i);
                return true;
            });
        EXPECT_EQ(committed, refused);
        EXPECT_EQ(order.size(), refused);
        // Cells are worked on a block at a time: never the ones after the refused block.
        EXPECT_LE(worked.load(), refused + kCellsPerThreadAndBlock * static_cast<std::size_t>(GetParam()));
    }
}

TEST_P(OrderedCells, NoCellsNothingDone) {
    bool called = false;
    EXPECT_EQ(runOrderedCells(
                  0, GetParam(), [&](std::size_t) { called = true; },
                  [&](std::size_t) {
                      called = true;
                      return true;
                  }),
              0u);
    EXPECT_FALSE(called);
}

INSTANTIATE_TEST_SUITE_P(Threads, OrderedCells, ::testing::Values(1, 2, 3));

} // namespace
} // namespace ferrule
