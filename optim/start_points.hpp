// Data-driven start points for the local searches: for each transformation parameter of a
// small grid per family, mu and sigma are those of the normal through the transformed
// uncensored values (Jones-Pewsey: the raw values), the family's own start point is one
// more; the starts come ranked by likelihood, best first. Without censored values mu and
// sigma are the mean and standard deviation; with them, the line of a normal
// quantile-quantile plot through the uncensored values at their ranks in the whole series
// (the censored values hold the lowest or highest ranks), so that a series with many
// censored values does not start far above its own optimum.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/checked_sort.hpp"
#include "core/likelihood_gradient.hpp"
#include "core/standard_normal.hpp"
#include "optim/objective.hpp"

namespace ferrule {

// One start, inside the local box, with its objective value.
struct StartPoint {
    Vector q;
    double value;
    int grid; // its entry in the family's start grid; -1 for the family's own start
};

struct StartPoints {
    std::vector<StartPoint> ranked; // lowest objective first; NaN values last
    std::int64_t evaluations = 0;
};

template <class F> StartPoints momentStarts(const PreparedSeries &series, ObjectiveRef objective) {
    using G = GradientOf<F>;
    constexpr std::size_t kT = F::kTransParams;
    StartPoints out;
    const auto add = [&](Vector q, int grid) {
        for (std::size_t j = 0; j < F::kParams; ++j) {
            q[j] = std::clamp(q[j], G::localLower[j], G::localUpper[j]);
        }
        const double value = objective(q);
        ++out.evaluations;
        out.ranked.push_back({std::move(q), value, grid});
    };
    add(Vector(F::start.begin(), F::start.end()), -1);
    double largest = 0.0;
    for (const double x : series.distinct()) {
        series.checkpoint().done();
        if (series.left() < x && x < series.right() && std::isfinite(x)) {
            largest = std::max(largest, std::fabs(x));
        }
    }
    // Uncensored values in ascending order with the normal quantiles of their plotting
    // positions (rank + 1/2)/n in the whole series.
    Vector sorted, quantiles;
    std::size_t below = 0;
    for (const double x : series.values()) {
        series.checkpoint().done();
        if (x <= series.left()) {
            ++below;
        } else if (x < series.right()) {
            sorted.push_back(x);
        }
    }
    const bool censored = sorted.size() < series.values().size();
    checkedSort(sorted, series.checkpoint());
    const double n = static_cast<double>(series.values().size());
    for (std::size_t i = 0; i < sorted.size() && censored; ++i) {
        series.checkpoint().done();
        quantiles.push_back(standardNormalQuantile((static_cast<double>(below + i) + 0.5) / n));
    }
    for (std::size_t entry = 0; entry < G::startGrid.size(); ++entry) {
        const auto &theta = G::startGrid[entry];
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
        double mean = 0.0, sd = 0.0;
        if (sorted.size() < 2) {
            continue;
        }
        if (censored) {
            // Least squares of T(x) on the quantiles: slope sigma, intercept mu.
            double my = 0.0, mz = 0.0;
            Vector y(sorted.size());
            for (std::size_t i = 0; i < sorted.size(); ++i) {
                series.checkpoint().done();
                y[i] = F::modelsRawValue ? sorted[i] : F::forward(sorted[i], shape);
                my += y[i];
                mz += quantiles[i];
            }
            my /= static_cast<double>(y.size());
            mz /= static_cast<double>(y.size());
            double syz = 0.0, szz = 0.0;
            for (std::size_t i = 0; i < y.size(); ++i) {
                syz += (y[i] - my) * (quantiles[i] - mz);
                szz += (quantiles[i] - mz) * (quantiles[i] - mz);
            }
            sd = szz > 0.0 ? syz / szz : 0.0;
            mean = my - sd * mz;
        } else {
            double sum = 0.0, squares = 0.0;
            for (const double x : sorted) {
                series.checkpoint().done();
                const double y = F::modelsRawValue ? x : F::forward(x, shape);
                sum += y;
                squares += y * y;
            }
            const double count = static_cast<double>(sorted.size());
            mean = sum / count;
            sd = std::sqrt(std::max(squares / count - mean * mean, 0.0));
        }
        if (!(std::isfinite(mean) && sd > 0.0 && std::isfinite(sd))) {
            continue;
        }
        natural[kT] = mean;
        natural[kT + 1] = sd;
        const auto q = G::encode(F::fromNatural(natural.data()));
        add(Vector(q.begin(), q.end()), static_cast<int>(entry));
    }
    // Stable: equal values keep the grid's order, so the ranking is the same on every run.
    std::stable_sort(out.ranked.begin(), out.ranked.end(), [](const StartPoint &a, const StartPoint &b) {
        return a.value < b.value || (std::isnan(b.value) && !std::isnan(a.value));
    });
    return out;
}

} // namespace ferrule
