// How a caller watches a long fit and stops it: a poll between objective evaluations, and
// within the long loops over the series (through its Checkpoint).
#pragma once

#include <cstdint>

#include "core/checkpoint.hpp"

namespace ferrule {

struct FitMonitor {
    // Called on the fitting thread with the number of objective evaluations made so far,
    // after every `every` of them and after every block of work inside the loops over the
    // series; true stops the fit (FitStopped is thrown out of the optimiser, which holds
    // nothing that needs more than its destructors).
    bool (*poll)(void *context, std::int64_t evaluations) = nullptr;
    void *context = nullptr;
    std::int64_t every = 1;
};

struct FitStopped {};

// Counts the evaluations and polls the monitor; throws FitStopped when the monitor asks to
// stop.
class MonitorCounter {
public:
    explicit MonitorCounter(const FitMonitor &monitor) : monitor_(monitor) {}

    void evaluated() {
        ++evaluations_;
        if (monitor_.poll != nullptr && evaluations_ % monitor_.every == 0) {
            poll();
        }
    }

    // The checkpoint of the series the fit runs on: none without a monitor.
    Checkpoint checkpoint() {
        if (monitor_.poll == nullptr) {
            return {};
        }
        return {[](void *self) { static_cast<MonitorCounter *>(self)->poll(); }, this};
    }

private:
    void poll() const {
        if (monitor_.poll(monitor_.context, evaluations_)) {
            throw FitStopped{};
        }
    }

    const FitMonitor &monitor_;
    std::int64_t evaluations_ = 0;
};

} // namespace ferrule
