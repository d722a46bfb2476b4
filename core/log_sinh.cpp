#include "core/log_sinh.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/likelihood.hpp"

namespace ferrule {

namespace {

// log of the largest finite double (709.782712893384): from here on sinh overflows,
// and log(sinh(u)) is replaced by its asymptote u - log 2.
const double kLogMaxDouble = std::log(std::numeric_limits<double>::max());
const double kLog2 = std::log(2.0);

// Offsets outside [exp(-20), exp(0)] make every likelihood term this sentinel.
constexpr double kOutOfRangeTerm = -1e20;

// log T'(x) with T'(x) = 1 / tanh(lambda x + epsilon): tanh, then reciprocal, then log.
double logSinhLogJacobian(double x, double lambda, double epsilon) {
    return std::log(1.0 / std::tanh(lambda * x + epsilon));
}

} // namespace

double logSinhForward(double x, double lambda, double epsilon) {
    const double u = lambda * x + epsilon;
    const double k = 1.0 / lambda;
    if (u >= kLogMaxDouble) {
        return k * (u - kLog2);
    }
    return k * std::log(std::sinh(u));
}

double LogSinhTransformation::transformOne(double x) const { return logSinhForward(x, lambda, epsilon); }

double LogSinhTransformation::invTransformOne(double y) const {
    const double v = lambda * y;
    const double k = 1.0 / lambda;
    if (v >= kLogMaxDouble) {
        // asinh(exp(v)) = log 2 + v once exp(v) would overflow
        return k * (kLog2 + (v - epsilon));
    }
    return k * (std::asinh(std::exp(v)) - epsilon);
}

// Box: lambda, epsilon and sigma in [exp(-10), exp(10)], mu within ten sigma of zero.
Vector LogSinhTransformation::startParams() const { return {-0.01, -1.01, -1.01, 1.01}; }
Vector LogSinhTransformation::lowerBounds() const { return {-10.0, -10.0, -10.0, -10.0}; }
Vector LogSinhTransformation::upperBounds() const { return {10.0, 10.0, 10.0, 10.0}; }

Vector LogSinhTransformation::setParams(const Vector &q) {
    if (q.size() < 4) {
        throw std::invalid_argument("log-sinh search vector needs 4 entries");
    }
    lambda = std::exp(q[0]);
    epsilon = std::exp(q[1]);
    mu = q[2] * std::exp(q[3]);
    sigma = std::exp(q[3]);
    return {lambda, epsilon, mu, sigma};
}

// Standard normal prior on log lambda.
double LogSinhTransformation::logPrior() const {
    const double logLambda = std::log(lambda);
    return -0.5 * std::log(6.283185307179586) - 0.5 * ((logLambda - 0.0) * (logLambda - 0.0));
}

Vector LogSinhTransformation::getTransformationParams() const { return {lambda, epsilon}; }
Vector LogSinhTransformation::getDistributionParams() const { return {lambda, epsilon, mu, sigma}; }

double LogSinhTransformation::censoredLogDensity(const Vector &p, double y, double x, double tL, double tR) const {
    // The box lets epsilon reach exp(10); offsets above 1 (or vanishingly small) are
    // excluded through the objective instead.
    if (std::exp(-20.0) > p[1]) {
        return kOutOfRangeTerm;
    }
    if (p[1] > std::exp(0.0)) {
        return kOutOfRangeTerm;
    }
    if (tL < y && y < tR) {
        return logSinhLogJacobian(x, p[0], p[1]) + normalLogDensity(y, p[2], p[3]);
    }
    return censoredTerm(y, tL, tR, p[2], p[3]);
}

double LogSinhTransformation::censoredLogJacobian(const Vector &p, double y, double x, double tL, double tR) const {
    if (tL < y && y < tR) {
        return logSinhLogJacobian(x, p[0], p[1]);
    }
    return 0.0;
}

} // namespace ferrule
