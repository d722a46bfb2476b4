// The standard normal distribution to full double precision, for the fitted distribution
// in data units (cdf, ppf, sampling) and for the censored masses of the public layer's
// likelihood (likelihood_policy.hpp). The exact layer keeps its own approximation (normal.hpp).
#pragma once

#include <cmath>
#include <limits>

#include "core/normal.hpp"

namespace ferrule {

// Phi(z) = erfc(-z / sqrt 2) / 2: no cancellation in either tail.
inline double standardNormalCdf(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

// log Phi(z). Above 0, log1p(-Phi(-z)) keeps the tiny mass beyond z that log(Phi(z)) would
// round away; where erfc would underflow (z < -37.5) the asymptotic series of the Mills
// ratio takes over: Phi(z) = phi(z) / |z| (1 - 1/z^2 + 3/z^4 - 15/z^6 + 105/z^8 ...).
inline double standardNormalLogCdf(double z) {
    if (z > 0.0) {
        return std::log1p(-standardNormalCdf(-z));
    }
    if (z > -37.5) {
        return std::log(standardNormalCdf(z));
    }
    const double r = 1.0 / (z * z);
    const double series = 1.0 - r * (1.0 - r * (3.0 - r * (15.0 - r * 105.0)));
    return -0.5 * z * z - std::log(-z) - 0.5 * std::log(kTwoPi) + std::log(series);
}

// The quantile function by Wichura's algorithm AS 241 (PPND16, relative accuracy about
// 1e-16): a rational approximation in q = p - 1/2 near the centre and in
// r = sqrt(-log(min(p, 1 - p))) in the tails. 0 and 1 give -inf and +inf, anything
// outside [0, 1] NaN.
inline double standardNormalQuantile(double p) {
    if (!(p >= 0.0 && p <= 1.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (p == 0.0) {
        return -std::numeric_limits<double>::infinity();
    }
    if (p == 1.0) {
        return std::numeric_limits<double>::infinity();
    }
    const double q = p - 0.5;
    if (std::fabs(q) <= 0.425) {
        const double r = 0.180625 - q * q;
        return q *
               (((((((r * 2509.0809287301226727 + 33430.575583588128105) * r + 67265.770927008700853) * r +
                    45921.953931549871457) *
                       r +
                   13731.693765509461125) *
                      r +
                  1971.5909503065514427) *
                     r +
                 133.14166789178437745) *
                    r +
                3.387132872796366608) /
               (((((((r * 5226.495278852545925 + 28729.085735721942674) * r + 39307.89580009271061) * r +
                    21213.794301586595867) *
                       r +
                   5394.1960214247511077) *
                      r +
                  687.1870074920579083) *
                     r +
                 42.313330701600911252) *
                    r +
                1.0);
    }
    double r = q < 0.0 ? p : 1.0 - p;
    r = std::sqrt(-std::log(r));
    double value;
    if (r <= 5.0) {
        r -= 1.6;
        value = (((((((r * 7.7454501427834140764e-4 + 0.0227238449892691845833) * r + 0.24178072517745061177) * r +
                     1.27045825245236838258) *
                        r +
                    3.64784832476320460504) *
                       r +
                   5.7694972214606914055) *
                      r +
                  4.6303378461565452959) *
                     r +
                 1.42343711074968357734) /
                (((((((r * 1.05075007164441684324e-9 + 5.475938084995344946e-4) * r + 0.0151986665636164571966) * r +
                     0.14810397642748007459) *
                        r +
                    0.68976733498510000455) *
                       r +
                   1.6763848301838038494) *
                      r +
                  2.05319162663775882187) *
                     r +
                 1.0);
    } else {
        r -= 5.0;
        value = (((((((r * 2.01033439929228813265e-7 + 2.71155556874348757815e-5) * r + 0.0012426609473880784386) * r +
                     0.026532189526576123093) *
                        r +
                    0.29656057182850489123) *
                       r +
                   1.7848265399172913358) *
                      r +
                  5.4637849111641143699) *
                     r +
                 6.6579046435011037772) /
                (((((((r * 2.04426310338993978564e-15 + 1.4215117583164458887e-7) * r + 1.8463183175100546818e-5) * r +
                     7.868691311456132591e-4) *
                        r +
                    0.0148753612908506148525) *
                       r +
                   0.13692988092273580531) *
                      r +
                  0.59983220655588793769) *
                     r +
                 1.0);
    }
    return q < 0.0 ? -value : value;
}

} // namespace ferrule
