// Data-driven start points for the local searches: for each transformation parameter of a
// small grid per family, mu and sigma are the mean and standard deviation of the
// transformed uncensored values (Jones-Pewsey: of the raw values), and the start is the
// grid point of highest likelihood.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/likelihood_gradient.hpp"
#include "optim/objective.hpp"

namespace ferrule {

// The best of the grid's points (the family's own start point among them), its objective
// value, and how many evaluations it took.
struct StartPoint {
    Vector q;
    double value;
    std::int64_t evaluations;
};

template <class F> StartPoint momentStart(const PreparedSeries &series, ObjectiveRef objective) {
    using G = GradientOf<F>;
    constexpr std::size_t kT = F::kTransParams;
    StartPoint best{Vector(F::start.begin(), F::start.end()), 0.0, 1};
    best.value = objective(best.q);
    double largest = 0.0;
    for (const double x : series.distinct()) {
        if (series.left() < x && x < series.right() && std::isfinite(x)) {
            largest = std::max(largest, std::fabs(x));
        }
    }
    for (const auto &theta : G::startGrid) {
        std::array<double, F::kParams> natural{};
        for (std::size_t j = 0; j < kT; ++j) {
            natural[j] = theta[j];
        }
        if (G::startScalesWithData) {
            natural[0] = largest > 0.0 ? theta[0] / largest : theta[0];
        }
        natural[kT] = 0.0;
        natural[kT + 1] = 1.0;
        const typename F::Params shape = F::fromNatural(natural.data());
        double sum = 0.0, squares = 0.0, count = 0.0;
        for (const double x : series.values()) {
            if (series.left() < x && x < series.right()) {
                const double y = F::modelsRawValue ? x : F::forward(x, shape);
                sum += y;
                squares += y * y;
                count += 1.0;
            }
        }
        if (count < 2.0) {
            continue;
        }
        const double mean = sum / count;
        const double sd = std::sqrt(std::max(squares / count - mean * mean, 0.0));
        if (!(std::isfinite(mean) && sd > 0.0 && std::isfinite(sd))) {
            continue;
        }
        natural[kT] = mean;
        natural[kT + 1] = sd;
        const auto q = G::encode(F::fromNatural(natural.data()));
        Vector point(q.begin(), q.end());
        const double value = objective(point);
        ++best.evaluations;
        if (value < best.value || (std::isnan(best.value) && !std::isnan(value))) {
            best.q = std::move(point);
            best.value = value;
        }
    }
    return best;
}

} // namespace ferrule
