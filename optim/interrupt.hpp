// Stopping a fit from outside: the objective the optimisers evaluate asks a caller's check
// now and then, and throws FitInterrupted when it says stop. Results, counts and lines of a
// fit that is not stopped are unchanged: the check only reads.
#pragma once

#include <cstddef>
#include <stdexcept>

namespace ferrule {

// Asked between evaluations; true stops the fit. It may take a lock (the interpreter's) and
// should be cheap.
using InterruptCheck = bool (*)(void *context);

struct FitInterrupted : std::runtime_error {
    FitInterrupted() : std::runtime_error("the fit was interrupted") {}
};

// Asks the check once per about kWork values evaluated (a few milliseconds of likelihood
// terms), so a long series is checked at every evaluation and a short one every so many.
class InterruptPoll {
public:
    static constexpr std::size_t kWork = std::size_t{1} << 20;

    InterruptPoll(InterruptCheck check, void *context, std::size_t valuesPerEvaluation)
        : check_(check), context_(context), step_(valuesPerEvaluation + 1) {}

    // Called before each evaluation; throws FitInterrupted when the check says stop.
    void operator()() {
        if (check_ == nullptr) {
            return;
        }
        done_ += step_;
        if (done_ >= kWork) {
            done_ = 0;
            if (check_(context_)) {
                throw FitInterrupted();
            }
        }
    }

private:
    InterruptCheck check_;
    void *context_;
    std::size_t step_;
    std::size_t done_ = 0;
};

} // namespace ferrule
