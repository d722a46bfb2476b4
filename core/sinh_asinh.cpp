#include "core/sinh_asinh.hpp"

#include <cmath>
#include <stdexcept>

#include "core/likelihood.hpp"

namespace ferrule {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// log T'(x) for T(x) = sinh(delta asinh(x) + epsilon): the product and quotient
// delta cosh(delta asinh(x) + epsilon) / sqrt(x^2 + 1) first, then one logarithm.
double sinhAsinhLogJacobian(double x, double delta, double epsilon) {
    return std::log(delta * std::cosh(delta * std::asinh(x) + epsilon) / std::sqrt(x * x + 1.0));
}

// Log Jacobian of x -> T((x - mu)/sigma) given z = (x - mu)/sigma and a = delta asinh(z) + epsilon.
double jonesPewseyJacobianTerm(double z, double a, double delta, double sigma) {
    return std::log(std::cosh(a)) + std::log(delta) - 0.5 * std::log(z * z + 1.0) - std::log(sigma);
}

double jonesPewseyLogJacobian(double x, double delta, double epsilon, double mu, double sigma) {
    const double z = (x - mu) / sigma;
    return jonesPewseyJacobianTerm(z, delta * std::asinh(z) + epsilon, delta, sigma);
}

// Jones-Pewsey density of x: that Jacobian plus the standard normal log density of
// s = T((x - mu)/sigma).
double jonesPewseyLogDensity(double x, double delta, double epsilon, double mu, double sigma) {
    const double z = (x - mu) / sigma;
    const double a = delta * std::asinh(z) + epsilon;
    const double s = std::sinh(a);
    return jonesPewseyJacobianTerm(z, a, delta, sigma) + (-0.5 * std::log(kTwoPi) - 0.5 * ((s - 0.0) * (s - 0.0)));
}

} // namespace

double sinhAsinhForward(double x, double delta, double epsilon) { return std::sinh(delta * std::asinh(x) + epsilon); }

template <SinhAsinhDensity Kind> double SinhAsinhFamily<Kind>::transformOne(double x) const {
    return sinhAsinhForward(x, delta, epsilon);
}

template <SinhAsinhDensity Kind> double SinhAsinhFamily<Kind>::invTransformOne(double y) const {
    return std::sinh((std::asinh(y) - epsilon) / delta);
}

// Every search coordinate lies in (-1, 1); the first and last in (0, 1).
template <SinhAsinhDensity Kind> Vector SinhAsinhFamily<Kind>::startParams() const { return {0.5, 0.5, 0.5, 0.5}; }
template <SinhAsinhDensity Kind> Vector SinhAsinhFamily<Kind>::lowerBounds() const {
    return {0.001, -0.999, -0.999, 0.001};
}
template <SinhAsinhDensity Kind> Vector SinhAsinhFamily<Kind>::upperBounds() const {
    return {0.999, 0.999, 0.999, 0.999};
}

// q = {delta/(1+delta), eps/sqrt(1+eps^2), mu/sqrt(1+mu^2), sigma/(sigma+delta)}: the last
// coordinate fixes the ratio sigma/delta, so sigma is decoded with the new delta.
template <SinhAsinhDensity Kind> Vector SinhAsinhFamily<Kind>::setParams(const Vector &q) {
    if (q.size() < 4) {
        throw std::invalid_argument("sinh-arcsinh search vector needs 4 entries");
    }
    delta = q[0] / (1.0 - q[0]);
    epsilon = q[1] / std::sqrt(1.0 - q[1] * q[1]);
    mu = q[2] / std::sqrt(1.0 - q[2] * q[2]);
    sigma = q[3] * delta / (1.0 - q[3]);
    return {delta, epsilon, mu, sigma};
}

// Normal prior on delta/(1+delta) (mean 0.5, sd 0.05: constants 2 pi 0.05^2 and 2 0.05^2)
// plus a standard normal prior on eps/sqrt(1+eps^2).
template <SinhAsinhDensity Kind> double SinhAsinhFamily<Kind>::logPrior() const {
    const double u = delta / (delta + 1.0) - 0.5;
    const double w = epsilon / std::sqrt(epsilon * epsilon + 1.0) - 0.0;
    return -0.5 * std::log(0.015707963267948967) - u * u / 0.005000000000000001 +
           (-0.5 * std::log(kTwoPi) - 0.5 * (w * w));
}

template <SinhAsinhDensity Kind> Vector SinhAsinhFamily<Kind>::getTransformationParams() const {
    return {delta, epsilon};
}

template <SinhAsinhDensity Kind> Vector SinhAsinhFamily<Kind>::getDistributionParams() const {
    return {delta, epsilon, mu, sigma};
}

// Censored values give the same mass in both kinds; only the uncensored term differs.
template <SinhAsinhDensity Kind>
double SinhAsinhFamily<Kind>::censoredLogDensity(const Vector &p, double y, double x, double tL, double tR) const {
    if (tL < y && y < tR) {
        if constexpr (Kind == SinhAsinhDensity::JonesPewsey) {
            return jonesPewseyLogDensity(x, p[0], p[1], p[2], p[3]);
        } else {
            return sinhAsinhLogJacobian(x, p[0], p[1]) + normalLogDensity(y, p[2], p[3]);
        }
    }
    return censoredTerm(y, tL, tR, p[2], p[3]);
}

template <SinhAsinhDensity Kind>
double SinhAsinhFamily<Kind>::censoredLogJacobian(const Vector &p, double y, double x, double tL, double tR) const {
    if (tL < y && y < tR) {
        if constexpr (Kind == SinhAsinhDensity::JonesPewsey) {
            return jonesPewseyLogJacobian(x, p[0], p[1], p[2], p[3]);
        } else {
            return sinhAsinhLogJacobian(x, p[0], p[1]);
        }
    }
    return 0.0;
}

template class SinhAsinhFamily<SinhAsinhDensity::TransformedNormal>;
template class SinhAsinhFamily<SinhAsinhDensity::JonesPewsey>;

} // namespace ferrule
