// The normal distribution as the likelihood evaluates it: the log density and the
// distribution function by Abramowitz & Stegun 7.1.26. Every family's terms use these
// two, so their values agree bit for bit.
#pragma once

#include <cmath>

namespace ferrule {

// 2 pi as the likelihood writes it.
inline constexpr double kTwoPi = 6.283185307179586;

// -1/2 log(2 pi sigma^2) - (y - mu)^2 / (2 sigma^2); sigma is squared first, then scaled.
inline double normalLogDensity(double y, double mu, double sigma) {
    const double variance = sigma * sigma;
    return -0.5 * std::log(kTwoPi * variance) - (y - mu) * (y - mu) / (2.0 * variance);
}

// The same density with its parts that depend on mu and sigma alone computed once, for a
// likelihood that evaluates it at many y with one (mu, sigma): the same operations on the
// same numbers, so the same results.
struct NormalDensity {
    double mu;
    double constant;    // -1/2 log(2 pi sigma^2)
    double twoVariance; // 2 sigma^2

    NormalDensity(double mean, double sigma)
        : mu(mean), constant(-0.5 * std::log(kTwoPi * (sigma * sigma))), twoVariance(2.0 * (sigma * sigma)) {}

    double operator()(double y) const { return constant - (y - mu) * (y - mu) / twoVariance; }
};

// Phi(z) = (1 + erf(z / sqrt 2)) / 2 with erf from Abramowitz & Stegun 7.1.26:
// erf(a) ~ 1 - t (a1 + t (a2 + t (a3 + t (a4 + t a5)))) exp(-a^2), t = 1 / (1 + p a),
// accurate to about 1e-7. No tail formula: Phi is exactly 0 below about -8.3758 and
// 1 above about 8.2454, so a censored mass there has the logarithm -inf. z = 0 counts as
// positive, which gives Phi(0) = 0.5000000005.
inline double normalCdf(double z) {
    const double sign = z < 0 ? -1.0 : 1.0;
    const double a = std::fabs(z) / std::sqrt(2.0);
    const double t = 1.0 / (1.0 + 0.3275911 * a);
    const double e = std::exp(-a * a);
    const double poly =
        t * (0.254829592 + t * (-0.284496736 + t * (1.421413741 + t * (-1.453152027 + t * 1.061405429))));
    return ((1.0 - poly * e) * sign + 1.0) * 0.5;
}

} // namespace ferrule
