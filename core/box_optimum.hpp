// Where a search point stands in its family's search box, and whether a point on a bound is
// a constrained optimum there (the likelihood does not rise into the box, so no point inward
// nearby is better). One rule for a fit's facts and for the default fit's choice of points.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "core/families/kernel_support.hpp"

namespace ferrule {

// A log-likelihood slope below this (per unit of a search coordinate) into the box is flat.
inline constexpr double kFlatGradient = 1e-4;

// Bit j: search coordinate j within kBoxEdgeFraction of the box's width of its lower /
// upper bound, or outside the box.
struct BoxPlace {
    std::uint32_t atLower = 0;
    std::uint32_t atUpper = 0;
    std::uint32_t outsideBox = 0;

    std::uint32_t onBound() const { return atLower | atUpper; }
};

template <class F> BoxPlace boxPlace(const double *q) {
    BoxPlace place;
    for (std::size_t j = 0; j < F::kParams; ++j) {
        const double tolerance = kBoxEdgeFraction * (F::upper[j] - F::lower[j]);
        const std::uint32_t bit = 1u << j;
        if (!(F::lower[j] <= q[j] && q[j] <= F::upper[j])) {
            place.outsideBox |= bit;
        }
        if (std::fabs(q[j] - F::lower[j]) <= tolerance) {
            place.atLower |= bit;
        }
        if (std::fabs(q[j] - F::upper[j]) <= tolerance) {
            place.atUpper |= bit;
        }
    }
    return place;
}

// The coordinates on a bound where the point holds, given g = d log L / dq there: inward is
// up from the lower bound and down from the upper one, and the slope that way is flat or
// falling.
template <std::size_t N> std::uint32_t constrainedBits(const BoxPlace &place, const std::array<double, N> &g) {
    std::uint32_t bits = 0;
    for (std::size_t j = 0; j < N; ++j) {
        const std::uint32_t bit = 1u << j;
        const bool lowerHolds = (place.atLower & bit) == 0 || g[j] <= kFlatGradient;
        const bool upperHolds = (place.atUpper & bit) == 0 || g[j] >= -kFlatGradient;
        if ((place.onBound() & bit) != 0 && lowerHolds && upperHolds) {
            bits |= bit;
        }
    }
    return bits;
}

// Whether q is no optimum the box allows: outside the box, or on a bound where a point
// inward is better. logLikGradient(q, g) gives log L and its gradient; called only on a bound.
template <class F, class Gradient> bool offBoxOptimum(const Gradient &logLikGradient, const double *q) {
    const BoxPlace place = boxPlace<F>(q);
    if (place.outsideBox != 0) {
        return true;
    }
    if (place.onBound() == 0) {
        return false;
    }
    std::array<double, F::kParams> g{};
    logLikGradient(q, g.data());
    return constrainedBits(place, g) != place.onBound();
}

} // namespace ferrule
