// Sinh-arcsinh map T(x) = sinh(delta asinh(x) + epsilon), delta > 0 setting the tail
// weight and epsilon the skewness; T(x) is modelled as normal with mean mu and sd sigma.
// Search vector {delta/(1+delta), eps/sqrt(1+eps^2), mu/sqrt(1+mu^2), sigma/(sigma+delta)}.
// Jones-Pewsey (jones_pewsey.hpp) shares everything but the likelihood terms.
#pragma once

#include <array>
#include <cmath>

#include "core/families/kernel_support.hpp"
#include "core/normal.hpp"

namespace ferrule {

struct SinhAsinh {
    static constexpr const char *key = "sinh_asinh";
    static constexpr const char *title = "sinh-arcsinh";
    static constexpr std::size_t kTransParams = 2;
    static constexpr std::size_t kParams = kTransParams + 2;
    static constexpr std::array<const char *, kTransParams> transformationNames{"delta", "epsilon"};
    // Transformation parameters that must lie above zero: delta, the tail weight.
    static constexpr std::array<const char *, 1> positiveNames{"delta"};
    static constexpr bool modelsRawValue = false;
    // Defined on the whole line: any left threshold, -inf included, will do.
    static constexpr bool boundedBelow = false;

    struct Params {
        double delta;
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

    // Every search coordinate lies in (-1, 1); the first and last in (0, 1).
    static constexpr std::array<double, kParams> start{0.5, 0.5, 0.5, 0.5};
    static constexpr std::array<double, kParams> lower{0.001, -0.999, -0.999, 0.001};
    static constexpr std::array<double, kParams> upper{0.999, 0.999, 0.999, 0.999};

    // The last coordinate fixes the ratio sigma/delta, so sigma is decoded with the new delta.
    static Params decode(const double *q) {
        const double delta = q[0] / (1.0 - q[0]);
        return {delta, q[1] / std::sqrt(1.0 - q[1] * q[1]), q[2] / std::sqrt(1.0 - q[2] * q[2]),
                q[3] * delta / (1.0 - q[3])};
    }
    static Params fromNatural(const double *p) { return {p[0], p[1], p[2], p[3]}; }
    static std::array<double, kParams> natural(const Params &p) { return {p.delta, p.epsilon, p.mu, p.sigma}; }
    static std::array<double, kTransParams> transformation(const Params &p) { return {p.delta, p.epsilon}; }
    static Params withTransformation(const double *t) { return {t[0], t[1], kUnsetParam, kUnsetParam}; }

    static double forward(double x, double delta, double epsilon) { return std::sinh(delta * std::asinh(x) + epsilon); }
    static double forward(double x, const Params &p) { return forward(x, p.delta, p.epsilon); }

    static double inverse(double y, const Params &p) { return std::sinh((std::asinh(y) - p.epsilon) / p.delta); }

    // log T'(x): the product and quotient delta cosh(delta asinh(x) + epsilon) / sqrt(x^2 + 1)
    // first, then one logarithm.
    static double mapLogJacobian(double x, const Params &p) {
        return std::log(p.delta * std::cosh(p.delta * std::asinh(x) + p.epsilon) / std::sqrt(x * x + 1.0));
    }
    static double termLogJacobian(double x, const Params &p) { return mapLogJacobian(x, p); }

    static double uncensoredTerm(double y, double x, const Terms &t) { return mapLogJacobian(x, t.p) + t.normal(y); }

    static bool outOfRange(const Params &) { return false; }

    // Where a transformed threshold t = T(threshold) stands in the fitted normal: the
    // censored masses are Phi of this score and its complement.
    static double thresholdScore(double, double t, const Params &p) { return (t - p.mu) / p.sigma; }

    // The limits of delta at either end of its box, where the parameters stop being told
    // apart: delta -> 0, where with sigma tied to delta T flattens to sinh(epsilon) +
    // delta cosh(epsilon) asinh(x); and delta -> inf, where T steepens into a step at
    // asinh(x) = -epsilon / delta and the likelihood climbs a ridge out of the box (a point
    // there is no proper optimum however the gradient points).
    static bool atDeltaLimit(const double *q) {
        const double edge = kBoxEdgeFraction * (upper[0] - lower[0]);
        return q[0] <= lower[0] + edge || q[0] >= upper[0] - edge;
    }

    // The limits epsilon -> -inf and +inf. With u = delta asinh(x) + epsilon, sinh(u) tends to
    // its one exponential, -e^-u / 2 or e^u / 2, an affine image of exp(-+delta asinh(x)): a
    // family with one parameter fewer, in which epsilon only trades against mu and sigma (the
    // point (delta, epsilon - t, mu e^t, sigma e^t) tends to the same limit as t grows). The
    // likelihood climbs a ridge towards it, or levels out on it, and the box of epsilon or of
    // mu cuts the ridge: a point on either box edge is that limit, not a proper optimum.
    // Points short of the edges are told by their likelihood: the facts' limitGain over the
    // epsilon limits (k >= kFirstRidgeLimit), with limitForward and limitLogJacobian the map
    // of limit k at the same parameters. Where T is near affine on the data every limit fits
    // it alike, and delta -> 0 (T's first order in delta, sinh(epsilon) + delta cosh(epsilon)
    // asinh(x)) is the one named.
    // The limit delta -> inf along T's step (kLimitDeltaHigh): with c = -epsilon / delta inside
    // the data, T(x) = sinh(delta (asinh(x) - c)) steepens on both sides of c while mu and
    // sigma follow, and the likelihood climbs slowly along a curved ridge (epsilon -> -inf with
    // it) whose limit keeps c free; no map at fixed parameters describes it, so it is probed
    // (ridge_limit.hpp): each probe doubles delta and epsilon (c held) within delta's box, and
    // settles epsilon, mu and sigma there.
    static constexpr int kLimits = 4;
    static constexpr int kMapLimits = 3;
    static constexpr int kFirstRidgeLimit = 2;
    static constexpr int kLimitDeltaLow = 1, kLimitEpsilonLow = 2, kLimitEpsilonHigh = 3, kLimitDeltaHigh = 4;
    static constexpr bool kRidgeLimits = true;
    static bool ridgeProbe(const Params &from, int k, Params &probe) {
        probe.delta = 2.0 * from.delta;
        probe.epsilon = 2.0 * from.epsilon;
        return k == kLimitDeltaHigh && from.delta > 1.0 && probe.delta / (1.0 + probe.delta) <= upper[0];
    }
    static double limitForward(double x, const Params &p, int k) {
        const double u = p.delta * std::asinh(x) + p.epsilon;
        if (k == kLimitDeltaLow) {
            return std::sinh(p.epsilon) + p.delta * std::cosh(p.epsilon) * std::asinh(x);
        }
        return k == kLimitEpsilonLow ? -0.5 * std::exp(-u) : 0.5 * std::exp(u);
    }
    static double limitLogJacobian(double x, const Params &p, int k) {
        const double u = p.delta * std::asinh(x) + p.epsilon;
        if (k == kLimitDeltaLow) {
            return std::log(p.delta * std::cosh(p.epsilon) / std::sqrt(x * x + 1.0));
        }
        return std::log(0.5 * p.delta / std::sqrt(x * x + 1.0)) + (k == kLimitEpsilonLow ? -u : u);
    }
    static bool atEpsilonLimit(const double *q) {
        for (std::size_t j = 1; j <= 2; ++j) {
            const double edge = kBoxEdgeFraction * (upper[j] - lower[j]);
            if (q[j] <= lower[j] + edge || q[j] >= upper[j] - edge) {
                return true;
            }
        }
        return false;
    }

    static bool atDegenerateLimit(const Params &, const double *q, double) {
        return atDeltaLimit(q) || atEpsilonLimit(q);
    }

    // Normal prior on delta/(1+delta) (mean 0.5, sd 0.05: constants 2 pi 0.05^2 and 2 0.05^2)
    // plus a standard normal prior on eps/sqrt(1+eps^2).
    static double logPrior(const Params &p) {
        const double u = p.delta / (p.delta + 1.0) - 0.5;
        const double w = p.epsilon / std::sqrt(p.epsilon * p.epsilon + 1.0) - 0.0;
        return -0.5 * std::log(0.015707963267948967) - u * u / 0.005000000000000001 +
               (-0.5 * std::log(kTwoPi) - 0.5 * (w * w));
    }
};

} // namespace ferrule
