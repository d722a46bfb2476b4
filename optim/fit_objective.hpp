// What every optimiser evaluates (FitObjective) and returns (FitResult).
#pragma once

#include "core/transformation.hpp"

namespace ferrule {

// The censored likelihood of one data series, bound to one transformation.
struct FitObjective {
    using Operation = double (Transformation::*)(const Vector &, const Vector &, double, double, bool);

    Operation operation; // &Transformation::negLogLik or &Transformation::logLik
    bool isMap;
    double right;
    double left;
    Vector data; // own copy, already rescaled when rescaling was asked for
    Transformation &transformation;

    double operator()(const Vector &x) const { return (transformation.*operation)(x, data, left, right, isMap); }
};

struct FitResult {
    int count;     // optimiser-specific: iterations, generation index or evaluations
    Vector params; // best search vector
};

// Non-owning view of any callable double(const Vector &): lets the optimisers run
// on a FitObjective in production and on analytic functions in tests, without
// copying the objective or its data.
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
