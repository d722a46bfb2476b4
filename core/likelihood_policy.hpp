// How the censored likelihood evaluates the normal masses of its censored terms: a policy
// type of CensoredLikelihood, in the manner of Boost.Math's policies. The exact layer and
// the public layer run the same likelihood with different policies.
#pragma once

#include <cmath>

#include "core/normal.hpp"
#include "core/standard_normal.hpp"

namespace ferrule {

// The exact layer: log Phi(z) and log(1 - Phi(z)) with the short approximation of
// normalCdf, logarithms taken directly. Deep tails round to a mass of 0 (log -inf) and
// moderately deep ones carry the approximation's absolute error of about 1e-7.
struct ExactNormalMass {
    static double logBelow(double z) { return std::log(normalCdf(z)); }
    static double logAbove(double z) { return std::log(1.0 - normalCdf(z)); }
};

// The public layer: log Phi to full precision in both tails (1 - Phi(z) = Phi(-z)), so the
// likelihood of a fit is the sum of the log-probabilities its distribution reports.
struct AccurateNormalMass {
    static double logBelow(double z) { return standardNormalLogCdf(z); }
    static double logAbove(double z) { return standardNormalLogCdf(-z); }
};

} // namespace ferrule
