// How a caller watches a long fit and stops it: a poll between objective evaluations.
#pragma once

#include <cstdint>

namespace ferrule {

struct FitMonitor {
    // Called on the fitting thread with the number of objective evaluations made so far,
    // after every `every` of them; true stops the fit (FitStopped is thrown out of the
    // optimiser, which holds nothing that needs more than its destructors).
    bool (*poll)(void *context, std::int64_t evaluations) = nullptr;
    void *context = nullptr;
    std::int64_t every = 1;
};

struct FitStopped {};

// Counts the evaluations and polls the monitor; true when the monitor asks to stop.
class MonitorCounter {
public:
    explicit MonitorCounter(const FitMonitor &monitor) : monitor_(monitor) {}

    void evaluated() {
        ++evaluations_;
        if (monitor_.poll != nullptr && evaluations_ % monitor_.every == 0 &&
            monitor_.poll(monitor_.context, evaluations_)) {
            throw FitStopped{};
        }
    }

private:
    const FitMonitor &monitor_;
    std::int64_t evaluations_ = 0;
};

} // namespace ferrule
