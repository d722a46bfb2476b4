// Derivatives of the Jones-Pewsey likelihood terms, for the analytic gradient of the
// censored likelihood (likelihood_gradient.hpp). The raw value is standardised first,
// z = (x - mu)/sigma, and s = T(z) = sinh(delta asinh z + epsilon) is standard normal, so the
// mass below a threshold t is Phi(T((t - mu)/sigma)).
#pragma once

#include <cmath>

#include "core/families/jones_pewsey.hpp"
#include "core/families/sinh_asinh_gradient.hpp"

namespace ferrule {

struct JonesPewseyGradient : SinhAsinhGradient {
    using F = JonesPewsey;

    // term = log cosh a + log delta - 1/2 log(z^2 + 1) - log sigma - 1/2 log(2 pi) - s^2/2 with
    // A = asinh z, a = delta A + epsilon, s = sinh a; w = 1/sqrt(z^2 + 1) = dA/dz, and
    // d/da of the term is tanh a - s cosh a.
    static double uncensored(double x, double, const F::Terms &t, double *g) {
        const Params &p = t.p;
        const double z = (x - p.mu) / p.sigma;
        const double asinhZ = std::asinh(z);
        const double a = p.delta * asinhZ + p.epsilon;
        const double w = 1.0 / std::sqrt(z * z + 1.0);
        const double byA = std::tanh(a) - std::sinh(a) * std::cosh(a);
        const double byZ = byA * p.delta * w - z * w * w;
        g[0] = byA * asinhZ + 1.0 / p.delta;
        g[1] = byA;
        g[2] = -byZ / p.sigma;
        g[3] = -byZ * z / p.sigma - 1.0 / p.sigma;
        return F::uncensoredTerm(0.0, x, t);
    }

    // The standard normal score of a threshold, T((t - mu)/sigma), and its derivatives.
    static double score(double threshold, const Params &p, double *dz) {
        const double z = (threshold - p.mu) / p.sigma;
        const double asinhZ = std::asinh(z);
        const double a = p.delta * asinhZ + p.epsilon;
        const double cosh = std::cosh(a);
        const double byZ = cosh * p.delta / std::sqrt(z * z + 1.0);
        dz[0] = cosh * asinhZ;
        dz[1] = cosh;
        dz[2] = -byZ / p.sigma;
        dz[3] = -byZ * z / p.sigma;
        return std::sinh(a);
    }
};

} // namespace ferrule
