// Log-sinh transformation T(x) = (1/lambda) log(sinh(lambda x + epsilon)), defined where
// lambda x + epsilon > 0; T(x) is modelled as normal with mean mu and sd sigma.
// Search vector {log lambda, log epsilon, mu/sigma, log sigma}.
#pragma once

#include <array>
#include <cmath>
#include <limits>

#include "core/families/kernel_support.hpp"
#include "core/normal.hpp"

namespace ferrule {

struct LogSinh {
    static constexpr const char *key = "log_sinh";
    static constexpr const char *title = "log-sinh";
    static constexpr std::size_t kTransParams = 2;
    static constexpr std::size_t kParams = kTransParams + 2;
    static constexpr std::array<const char *, kTransParams> transformationNames{"lambda", "epsilon"};
    // Transformation parameters that must lie above zero: sinh(epsilon + lambda x) > 0 for x >= 0.
    static constexpr std::array<const char *, 2> positiveNames{"lambda", "epsilon"};
    static constexpr bool modelsRawValue = false;
    // Defined only where lambda x + epsilon > 0 (no mass lies below): a fit needs a finite
    // left threshold, as the map is undefined at -inf.
    static constexpr bool boundedBelow = true;

    struct Params {
        double lambda;
        double epsilon;
        double mu;
        double sigma;
    };

    // What an uncensored term needs at one parameter point, computed once per evaluation.
    struct Terms {
        Params p;
        NormalDensity normal;
    };
    static Terms terms(const Params &p) { return {p, NormalDensity(p.mu, p.sigma)}; }

    // Box: lambda, epsilon and sigma in [exp(-10), exp(10)], mu within ten sigma of zero.
    static constexpr std::array<double, kParams> start{-0.01, -1.01, -1.01, 1.01};
    static constexpr std::array<double, kParams> lower{-10.0, -10.0, -10.0, -10.0};
    static constexpr std::array<double, kParams> upper{10.0, 10.0, 10.0, 10.0};

    // log of the largest finite double (709.782712893384): from here on sinh overflows,
    // and log(sinh(u)) is replaced by its asymptote u - log 2.
    static inline const double kLogMaxDouble = std::log(std::numeric_limits<double>::max());
    static inline const double kLog2 = std::log(2.0);

    static Params decode(const double *q) {
        return {std::exp(q[0]), std::exp(q[1]), q[2] * std::exp(q[3]), std::exp(q[3])};
    }
    static Params fromNatural(const double *p) { return {p[0], p[1], p[2], p[3]}; }
    static std::array<double, kParams> natural(const Params &p) { return {p.lambda, p.epsilon, p.mu, p.sigma}; }
    static std::array<double, kTransParams> transformation(const Params &p) { return {p.lambda, p.epsilon}; }
    static Params withTransformation(const double *t) { return {t[0], t[1], kUnsetParam, kUnsetParam}; }

    // The product with the reciprocal k = 1/lambda, not a division by lambda.
    static double forward(double x, double lambda, double epsilon) {
        const double u = lambda * x + epsilon;
        const double k = 1.0 / lambda;
        if (u >= kLogMaxDouble) {
            return k * (u - kLog2);
        }
        return k * std::log(std::sinh(u));
    }
    static double forward(double x, const Params &p) { return forward(x, p.lambda, p.epsilon); }

    static double inverse(double y, const Params &p) {
        const double v = p.lambda * y;
        const double k = 1.0 / p.lambda;
        if (v >= kLogMaxDouble) {
            // asinh(exp(v)) = log 2 + v once exp(v) would overflow
            return k * (kLog2 + (v - p.epsilon));
        }
        return k * (std::asinh(std::exp(v)) - p.epsilon);
    }

    // log T'(x) with T'(x) = 1 / tanh(lambda x + epsilon): tanh, then reciprocal, then log.
    static double mapLogJacobian(double x, const Params &p) {
        return std::log(1.0 / std::tanh(p.lambda * x + p.epsilon));
    }
    static double termLogJacobian(double x, const Params &p) { return mapLogJacobian(x, p); }

    static double uncensoredTerm(double y, double x, const Terms &t) { return mapLogJacobian(x, t.p) + t.normal(y); }

    // Where a transformed threshold t = T(threshold) stands in the fitted normal: the
    // censored masses are Phi of this score and its complement.
    static double thresholdScore(double, double t, const Params &p) { return (t - p.mu) / p.sigma; }

    // The box lets epsilon reach exp(10); offsets above exp(0) = 1, or below exp(-20), are
    // excluded through the likelihood instead (every term is then kOutOfRangeTerm).
    static inline const double kEpsilonLow = std::exp(-20.0);
    static inline const double kEpsilonHigh = std::exp(0.0);
    static bool outOfRange(const Params &p) { return kEpsilonLow > p.epsilon || p.epsilon > kEpsilonHigh; }

    // The linear limit (lambda -> e^10, epsilon -> 1 in a search): where lambda x + epsilon
    // >= kLinearFrom on every uncensored value, T'(x) = coth(lambda x + epsilon) is 1 within
    // 5e-9, T is affine on the data and the fit is a normal of x itself, lambda unidentified.
    static constexpr double kLinearFrom = 10.0;
    static bool atDegenerateLimit(const Params &p, const double *, double lowest) {
        return p.lambda * lowest + p.epsilon >= kLinearFrom;
    }

    // Standard normal prior on log lambda.
    static double logPrior(const Params &p) {
        const double logLambda = std::log(p.lambda);
        return -0.5 * std::log(kTwoPi) - 0.5 * ((logLambda - 0.0) * (logLambda - 0.0));
    }
};

} // namespace ferrule
