// Jones-Pewsey: the sinh-arcsinh distribution of the raw value itself. With the map T of
// sinh_asinh.hpp, z = (x - mu)/sigma and T(z) standard normal. Everything but the
// likelihood terms is the sinh-arcsinh family's. Censoring is judged on T(x) (T is
// increasing, so that is x against the threshold); a censored value contributes the mass
// the model itself puts beyond the threshold, Phi(T((L - mu)/sigma)) below the left one and
// 1 - Phi(T((R - mu)/sigma)) above the right one.
#pragma once

#include <cmath>

#include "core/families/sinh_asinh.hpp"

namespace ferrule {

struct JonesPewsey : SinhAsinh {
    static constexpr const char *key = "jones_pewsey";
    static constexpr const char *title = "Jones-Pewsey";
    static constexpr bool modelsRawValue = true;
    // Only delta's limits: epsilon and mu act on the standardised value here, and their box
    // edges are no ridge of the sinh-arcsinh map's kind.
    static constexpr bool kRidgeLimits = false;
    static bool atDegenerateLimit(const Params &, const double *q, double) { return atDeltaLimit(q); }

    // What an uncensored term needs at one parameter point, computed once per evaluation.
    struct Terms {
        Params p;
        double logDelta;
        double logSigma;
        double logNormalConstant; // -1/2 log(2 pi)
    };
    static Terms terms(const Params &p) { return {p, std::log(p.delta), std::log(p.sigma), -0.5 * std::log(kTwoPi)}; }

    // Log Jacobian of x -> T((x - mu)/sigma) given z = (x - mu)/sigma and a = delta asinh(z) + epsilon:
    // log cosh(a) + log delta - 1/2 log(z^2 + 1) - log sigma, added in that order.
    static double jacobianTerm(double z, double a, double logDelta, double logSigma) {
        return std::log(std::cosh(a)) + logDelta - 0.5 * std::log(z * z + 1.0) - logSigma;
    }

    static double termLogJacobian(double x, const Params &p) {
        const double z = (x - p.mu) / p.sigma;
        return jacobianTerm(z, p.delta * std::asinh(z) + p.epsilon, std::log(p.delta), std::log(p.sigma));
    }

    // The standardised threshold mapped by T is standard normal under the model.
    static double thresholdScore(double threshold, double, const Params &p) {
        return forward((threshold - p.mu) / p.sigma, p);
    }

    // That Jacobian plus the standard normal log density of s = T(z); y serves only in the
    // censoring test.
    static double uncensoredTerm(double, double x, const Terms &t) {
        const Params &p = t.p;
        const double z = (x - p.mu) / p.sigma;
        const double a = p.delta * std::asinh(z) + p.epsilon;
        const double s = std::sinh(a);
        return jacobianTerm(z, a, t.logDelta, t.logSigma) + (t.logNormalConstant - 0.5 * ((s - 0.0) * (s - 0.0)));
    }
};

} // namespace ferrule
