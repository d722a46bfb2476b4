#include "core/likelihood.hpp"

#include <cmath>
#include <limits>

#include "core/transformation.hpp"

namespace ferrule {

namespace {
constexpr double kTwoPi = 6.283185307179586;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct CensoredTermCache {
    bool known = false;
    double value = 0.0;
};
} // namespace

double normalCdf(double z) {
    // Phi(z) = (1 + erf(z / sqrt 2)) / 2 with erf from Abramowitz & Stegun 7.1.26:
    // erf(a) ~ 1 - t (a1 + t (a2 + t (a3 + t (a4 + t a5)))) exp(-a^2), t = 1 / (1 + p a).
    // No tail formula: Phi is exactly 0 below about -8.3758 and 1 above about 8.2454.
    const double sign = z < 0 ? -1.0 : 1.0;
    const double a = std::fabs(z) / std::sqrt(2.0);
    const double t = 1.0 / (1.0 + 0.3275911 * a);
    const double e = std::exp(-a * a);
    const double poly =
        t * (0.254829592 + t * (-0.284496736 + t * (1.421413741 + t * (-1.453152027 + t * 1.061405429))));
    return ((1.0 - poly * e) * sign + 1.0) * 0.5;
}

// -1/2 log(2 pi sigma^2) - (y - mu)^2 / (2 sigma^2); sigma is squared first, then scaled.
double normalLogDensity(double y, double mu, double sigma) {
    const double variance = sigma * sigma;
    return -0.5 * std::log(kTwoPi * variance) - (y - mu) * (y - mu) / (2.0 * variance);
}

double censoredTerm(double y, double tL, double tR, double mu, double sigma) {
    if (y <= tL) {
        return std::log(normalCdf((tL - mu) / sigma)); // mass below the left threshold
    }
    return std::log(1.0 - normalCdf((tR - mu) / sigma)); // mass above the right threshold
}

double Transformation::negLogLik(const Vector &v, const Vector &data, double left, double right, bool isMap) {
    const Vector p = setParams(v);
    const double tL = transformOne(left);
    const double tR = transformOne(right);
    // Transforming value by value gives the same terms as transforming a copy of the
    // series first, without an allocation per evaluation on the hot path. A censored
    // term depends on its side of the thresholds only, so each side's term is computed
    // once per evaluation (rain series are often more than half dry days).
    double s = 0.0;
    CensoredTermCache leftTerm, rightTerm;
    for (const double x : data) {
        const double y = transformForCensoring(x, left, right, tL, tR);
        double term;
        if (tL < y && y < tR) {
            term = censoredLogDensity(p, y, x, tL, tR);
        } else if (roundsOntoThreshold(x, y, left, right)) {
            term = censoredLogDensity(p, y, x, -kInfinity, kInfinity);
        } else {
            CensoredTermCache &side = y <= tL ? leftTerm : rightTerm;
            if (!side.known) {
                side.value = censoredLogDensity(p, y, x, tL, tR);
                side.known = true;
            }
            term = side.value;
        }
        s = term + s;
    }
    if (isMap) {
        s = logPrior() + s;
    }
    return -s;
}

double Transformation::logLik(const Vector &v, const Vector &data, double left, double right, bool isMap) {
    return -negLogLik(v, data, left, right, isMap);
}

} // namespace ferrule
