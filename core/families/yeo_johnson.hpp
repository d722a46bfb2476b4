// Yeo-Johnson power transformation of values of either sign, with one power lambda;
// T(x) is modelled as normal with mean mu and standard deviation sigma.
// Search vector {lambda, mu, log sigma}.
#pragma once

#include <array>
#include <cmath>
#include <limits>

#include "core/families/kernel_support.hpp"
#include "core/normal.hpp"

namespace ferrule {

struct YeoJohnson {
    static constexpr const char *key = "yeo_johnson";
    static constexpr const char *title = "Yeo-Johnson";
    static constexpr std::size_t kTransParams = 1;
    static constexpr std::size_t kParams = kTransParams + 2;
    static constexpr std::array<const char *, kTransParams> transformationNames{"lambda"};
    // Transformation parameters that must lie above zero: none, lambda is any real number.
    static constexpr std::array<const char *, 0> positiveNames{};
    static constexpr bool modelsRawValue = false;
    // Defined on the whole line: any left threshold, -inf included, will do.
    static constexpr bool boundedBelow = false;

    struct Params {
        double lambda;
        double mu;
        double sigma;
    };

    // What an uncensored term needs at one parameter point, computed once per evaluation.
    struct Terms {
        Params p;
        NormalDensity normal;
    };
    static Terms terms(const Params &p) { return {p, NormalDensity(p.mu, p.sigma)}; }

    // lambda = 1 is the identity; the box bounds lambda, mu and log sigma to [-100, 100].
    static constexpr std::array<double, kParams> start{1.0, 0.01, 0.01};
    static constexpr std::array<double, kParams> lower{-100.0, -100.0, -100.0};
    static constexpr std::array<double, kParams> upper{100.0, 100.0, 100.0};

    // Powers within this distance of 0 (x >= 0) or 2 (x < 0) take the logarithm branch;
    // the tests are strict, so exactly 1e-7 away is already the logarithm. They are written
    // as !(|d| <= tol) so that a NaN power takes the power branch and gives NaN.
    static constexpr double kPowerTol = 1e-7;

    static Params decode(const double *q) { return {q[0], q[1], std::exp(q[2])}; }
    static Params fromNatural(const double *p) { return {p[0], p[1], p[2]}; }
    static std::array<double, kParams> natural(const Params &p) { return {p.lambda, p.mu, p.sigma}; }
    static std::array<double, kTransParams> transformation(const Params &p) { return {p.lambda}; }
    static Params withTransformation(const double *t) { return {t[0], kUnsetParam, kUnsetParam}; }

    // ((x + 1)^lambda - 1) / lambda for x >= 0, -((1 - x)^(2 - lambda) - 1) / (2 - lambda)
    // for x < 0, with logarithms at the singular powers; no series near the switch points.
    static double forward(double x, double lambda) {
        if (x >= 0) {
            if (!(std::fabs(lambda) <= kPowerTol)) {
                return (std::pow(x + 1.0, lambda) - 1.0) / lambda;
            }
            return std::log(x + 1.0);
        }
        if (!(std::fabs(lambda - 2.0) <= kPowerTol)) {
            return -(std::pow(1.0 - x, 2.0 - lambda) - 1.0) / (2.0 - lambda);
        }
        return -std::log(1.0 - x);
    }
    static double forward(double x, const Params &p) { return forward(x, p.lambda); }

    static double inverse(double y, const Params &p) {
        const double lambda = p.lambda;
        if (y >= 0) {
            if (!(std::fabs(lambda) <= kPowerTol)) {
                return std::pow(lambda * y + 1.0, 1.0 / lambda) - 1.0;
            }
            return std::exp(y) - 1.0;
        }
        if (!(std::fabs(lambda - 2.0) <= kPowerTol)) {
            return 1.0 - std::pow(1.0 - (2.0 - lambda) * y, 1.0 / (2.0 - lambda));
        }
        return 1.0 - std::exp(-y);
    }

    // log T'(x): the power is formed first and then its logarithm taken, so an
    // overflowing or underflowing power gives +inf or -inf. A NaN power gives NaN even at
    // x = 0, where pow(1, NaN) would be 1.
    static double mapLogJacobian(double x, const Params &p) {
        if (std::isnan(p.lambda)) {
            return p.lambda;
        }
        if (x >= 0) {
            return std::log(std::pow(x + 1.0, p.lambda - 1.0));
        }
        return std::log(std::pow(1.0 - x, 1.0 - p.lambda));
    }
    static double termLogJacobian(double x, const Params &p) { return mapLogJacobian(x, p); }

    // Normal log density of y plus the log Jacobian at x.
    static double uncensoredTerm(double y, double x, const Terms &t) { return t.normal(y) + mapLogJacobian(x, t.p); }

    static bool outOfRange(const Params &) { return false; }

    // Where a transformed threshold t = T(threshold) stands in the fitted normal: the
    // censored masses are Phi of this score and its complement.
    static double thresholdScore(double, double t, const Params &p) { return (t - p.mu) / p.sigma; }

    // The extreme-power limit (lambda > 2 or < 0, where one end of T's range is finite):
    // the fitted normal centred on that end or beyond it (mu within kHalfNormal sigma of the
    // end, or outside the range), so that the data lie in one tail of a normal whose sigma
    // grows without bound along a ridge and whose mu the data no longer determine.
    static constexpr double kHalfNormal = 1e-6;
    static bool atDegenerateLimit(const Params &p, const double *, double) {
        const double inf = std::numeric_limits<double>::infinity();
        const double bottom = forward(-inf, p.lambda), top = forward(inf, p.lambda);
        const double near = kHalfNormal * p.sigma;
        return (std::isfinite(bottom) && p.mu < bottom + near) || (std::isfinite(top) && p.mu > top - near);
    }

    // The limits lambda -> -inf and +inf (kLimitPowerLow, kLimitPowerHigh): where lambda < 0 or
    // > 2 one end of T's range is finite and the normal is renormalised to the range; the data
    // pile up near that end in one tail of the normal, and along a ridge towards the limit
    // (an extreme-value law of log(1 +- x)) the likelihood keeps rising slowly with mu and
    // sigma following, the limit keeping a free parameter of its own (where the normal stands
    // against the end). Probed (ridge_limit.hpp): each probe moves lambda to twice its
    // distance from the nearer power of the unbounded range (0 or 2) plus one, within the box;
    // mu and sigma are settled there.
    static constexpr int kLimits = 2;
    static constexpr int kMapLimits = 0;
    static constexpr int kFirstRidgeLimit = 1;
    static constexpr int kLimitPowerLow = 1, kLimitPowerHigh = 2;
    static constexpr bool kRidgeLimits = true;
    static bool ridgeProbe(const Params &from, int k, Params &probe) {
        probe.lambda = 2.0 * from.lambda - 1.0;
        return (k == kLimitPowerLow ? from.lambda < 0.0 : from.lambda > 2.0) && lower[0] <= probe.lambda &&
               probe.lambda <= upper[0];
    }

    // Normal prior on lambda with mean 1 and sd 0.4: the constants are 2 pi 0.4^2 and 2 0.4^2.
    static double logPrior(const Params &p) {
        return -0.5 * std::log(1.0053096491487339) - (p.lambda - 1.0) * (p.lambda - 1.0) / 0.32000000000000006;
    }
};

} // namespace ferrule
