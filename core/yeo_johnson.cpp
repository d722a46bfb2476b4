#include "core/yeo_johnson.hpp"

#include <cmath>
#include <stdexcept>

#include "core/likelihood.hpp"

namespace ferrule {

namespace {

// Powers within this distance of 0 (x >= 0) or 2 (x < 0) take the logarithm branch;
// the tests are strict, so exactly 1e-7 away is already the logarithm.
constexpr double kPowerTol = 1e-7;

// log T'(x): the power is formed first and then its logarithm taken, so an
// overflowing or underflowing power gives +inf or -inf.
double yeoJohnsonLogJacobian(double x, double lambda) {
    if (x >= 0) {
        return std::log(std::pow(x + 1.0, lambda - 1.0));
    }
    return std::log(std::pow(1.0 - x, 1.0 - lambda));
}

} // namespace

double yeoJohnsonForward(double x, double lambda) {
    if (x >= 0) {
        if (std::fabs(lambda) > kPowerTol) {
            return (std::pow(x + 1.0, lambda) - 1.0) / lambda;
        }
        return std::log(x + 1.0);
    }
    if (std::fabs(lambda - 2.0) > kPowerTol) {
        return -(std::pow(1.0 - x, 2.0 - lambda) - 1.0) / (2.0 - lambda);
    }
    return -std::log(1.0 - x);
}

double YeoJohnsonTransformation::transformOne(double x) const { return yeoJohnsonForward(x, lambda); }

double YeoJohnsonTransformation::invTransformOne(double y) const {
    if (y >= 0) {
        if (std::fabs(lambda) > kPowerTol) {
            return std::pow(lambda * y + 1.0, 1.0 / lambda) - 1.0;
        }
        return std::exp(y) - 1.0;
    }
    if (std::fabs(lambda - 2.0) > kPowerTol) {
        return 1.0 - std::pow(1.0 - (2.0 - lambda) * y, 1.0 / (2.0 - lambda));
    }
    return 1.0 - std::exp(-y);
}

// lambda = 1 is the identity; log sigma is bounded by the box, lambda and mu directly.
Vector YeoJohnsonTransformation::startParams() const { return {1.0, 0.01, 0.01}; }
Vector YeoJohnsonTransformation::lowerBounds() const { return {-100.0, -100.0, -100.0}; }
Vector YeoJohnsonTransformation::upperBounds() const { return {100.0, 100.0, 100.0}; }

Vector YeoJohnsonTransformation::setParams(const Vector &q) {
    if (q.size() < 3) {
        throw std::invalid_argument("Yeo-Johnson search vector needs 3 entries");
    }
    lambda = q[0];
    mu = q[1];
    sigma = std::exp(q[2]);
    return {lambda, mu, sigma};
}

// Normal prior on lambda with mean 1 and sd 0.4: the constants are 2 pi 0.4^2 and 2 0.4^2.
double YeoJohnsonTransformation::logPrior() const {
    return -0.5 * std::log(1.0053096491487339) - (lambda - 1.0) * (lambda - 1.0) / 0.32000000000000006;
}

Vector YeoJohnsonTransformation::getTransformationParams() const { return {lambda}; }
Vector YeoJohnsonTransformation::getDistributionParams() const { return {lambda, mu, sigma}; }

double YeoJohnsonTransformation::censoredLogDensity(const Vector &p, double y, double x, double tL, double tR) const {
    if (tL < y && y < tR) {
        return normalLogDensity(y, p[1], p[2]) + yeoJohnsonLogJacobian(x, p[0]);
    }
    return censoredTerm(y, tL, tR, p[1], p[2]);
}

double YeoJohnsonTransformation::censoredLogJacobian(const Vector &p, double y, double x, double tL, double tR) const {
    if (tL < y && y < tR) {
        return yeoJohnsonLogJacobian(x, p[0]);
    }
    return 0.0;
}

} // namespace ferrule
