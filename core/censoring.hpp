// Which values the likelihood counts as censored: the one place that decides it.
#pragma once

#include <cmath>
#include <cstdint>

namespace ferrule {

// -1 left-censored, 0 uncensored, +1 right-censored.
enum class Censoring : std::int8_t { Left = -1, None = 0, Right = 1 };

// A value x with transform y = T(x), thresholds L < R in the same units and their
// transforms tL, tR under the same parameters:
// - a value whose transform is undefined (NaN) beyond a threshold counts as lying at that
//   threshold (log-sinh with lambda x + epsilon < 0 below the left one);
// - uncensored when tL < y < tR, both strict;
// - also uncensored when L < x < R and y is finite, even if y rounds onto (or past) a
//   transformed threshold: Yeo-Johnson with lambda < 0 maps +inf to the finite -1/lambda,
//   onto which the transforms of large values round, and counting them as censored there
//   would give them probability mass 1. (A transform that overflows to +-inf stays with
//   the censored terms below, whose mass beyond an infinite threshold is 0: its density
//   term would be inf - inf.)
// - otherwise left-censored when y <= tL, else right-censored (a NaN value or threshold
//   fails both tests above and lands on the right).
inline Censoring classify(double x, double y, double left, double right, double tL, double tR) {
    if (std::isnan(y)) {
        if (x < left) {
            y = tL;
        } else if (x > right) {
            y = tR;
        }
    }
    if (tL < y && y < tR) {
        return Censoring::None;
    }
    if (left < x && x < right && std::isfinite(y)) {
        return Censoring::None;
    }
    return y <= tL ? Censoring::Left : Censoring::Right;
}

} // namespace ferrule
