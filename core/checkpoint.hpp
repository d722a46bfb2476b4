// Where the long loops of a fit let its caller stop it: a loop reports the work it has
// done, and after every kBlock items the caller's check runs (a fit's monitor: Ctrl-C, a
// progress bar), which may throw to stop the fit. The loops hold nothing that needs more
// than destructors to unwind, and none runs inside a parallel region.
#pragma once

#include <cstddef>

namespace ferrule {

class Checkpoint {
public:
    // Items between two checks: a millisecond or so of work on one value each, so a check
    // (a lock and a flag) costs nothing and a stop request waits little.
    static constexpr std::size_t kBlock = std::size_t{1} << 16;

    Checkpoint() = default;
    Checkpoint(void (*check)(void *context), void *context) : check_(check), context_(context) {}

    // `items` more items done; the check runs once a block has built up since the last.
    void done(std::size_t items = 1) const {
        if (check_ == nullptr) {
            return;
        }
        pending_ += items;
        if (pending_ >= kBlock) {
            pending_ = 0;
            check_(context_);
        }
    }

private:
    void (*check_)(void *) = nullptr;
    void *context_ = nullptr;
    mutable std::size_t pending_ = 0; // items since the last check
};

} // namespace ferrule
