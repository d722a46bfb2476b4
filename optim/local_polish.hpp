// A bounded local method for the last stretch of a fit: projected Newton steps on a box,
// with the objective's analytic Hessian where it has one and differences of its analytic
// gradient otherwise, minimising.
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "optim/objective.hpp"

namespace ferrule {

// Non-owning view of a callable double(const double *x, double *gradient) giving the value
// at x and its gradient, both of the function to minimise; or of a callable
// double(const double *x, double *gradient, double *hessian) that also fills the Hessian
// (row-major) where hessian is not null, when hasHessian says it does.
class GradientRef {
public:
    template <class F>
    GradientRef(const F &f) // NOLINT: implicit on purpose
        : GradientRef(f, std::is_invocable_v<const F &, const double *, double *, double *>) {}

    template <class F>
    GradientRef(const F &f, bool hasHessian)
        : target_(&f), call_([](const void *t, const double *x, double *g, double *h) {
              if constexpr (std::is_invocable_v<const F &, const double *, double *, double *>) {
                  return (*static_cast<const F *>(t))(x, g, h);
              } else {
                  return (*static_cast<const F *>(t))(x, g);
              }
          }),
          hessian_(hasHessian) {}

    double operator()(const double *x, double *g, double *h = nullptr) const { return call_(target_, x, g, h); }
    bool hasHessian() const { return hessian_; }

private:
    const void *target_;
    double (*call_)(const void *, const double *, double *, double *);
    bool hessian_;
};

struct PolishResult {
    Vector params;                // the best point met, inside the box
    double value = 0.0;           // the function there
    std::int64_t evaluations = 0; // calls of the function with its gradient
    int iterations = 0;           // Newton steps taken
    bool converged = false;       // stopped by the gradient test, not by a failed step or the limit
};

// From start (clipped to [lower, upper]): each step fixes the coordinates held at a bound by
// the gradient, solves (H + nu I) d = -g on the others (H the analytic Hessian of the point,
// else forward differences of the gradient; nu = 0 unless H is not positive
// definite), and halves the projected step until the value falls by the Armijo rule. Stops
// when the free gradient is below gradientTolerance or a step gains less than
// valueTolerance, after maxIterations steps, or when no step helps. With an analytic
// Hessian and inner > 0, each trial point first settles its last `inner` coordinates (mu
// and sigma of a fit) by Newton steps of their own, so that a step along a narrow curved
// valley is judged by the likelihood profiled over them. Deterministic.
PolishResult localPolish(GradientRef f, Vector start, const Vector &lower, const Vector &upper, int maxIterations = 40,
                         double gradientTolerance = 1e-7, double valueTolerance = 1e-11, std::size_t inner = 0);

} // namespace ferrule
