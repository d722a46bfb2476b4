// What every optimiser minimises (an ObjectiveRef) and returns (a FitResult).
#pragma once

#include <cstdint>
#include <vector>

namespace ferrule {

using Vector = std::vector<double>;

struct FitResult {
    int count;                    // optimiser-specific: iterations, generation index or evaluations
    Vector params;                // best search vector
    std::int64_t evaluations = 0; // objective evaluations actually made
    bool limitReached = false;    // stopped by its iteration, generation or evaluation budget
};

// Non-owning view of any callable double(const Vector &): the optimisers run on the
// censored likelihood in fits and on analytic functions in tests, without copying it.
class ObjectiveRef {
public:
    template <class F>
    ObjectiveRef(const F &f) // NOLINT: implicit on purpose
        : target_(&f), call_([](const void *t, const Vector &x) { return (*static_cast<const F *>(t))(x); }) {}

    double operator()(const Vector &x) const { return call_(target_, x); }

private:
    const void *target_;
    double (*call_)(const void *, const Vector &);
};

} // namespace ferrule
