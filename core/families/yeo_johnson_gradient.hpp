// First and second derivatives of the Yeo-Johnson map with respect to its power, for the
// analytic gradient and Hessian of the censored likelihood (likelihood_gradient.hpp), and
// the search coordinates {lambda, mu, log sigma} as functions of the natural parameters.
#pragma once

#include <array>
#include <cmath>

#include "core/families/search_curvature.hpp"
#include "core/families/yeo_johnson.hpp"
#include "core/families/yeo_johnson_growth.hpp"

namespace ferrule {

namespace yeo_johnson_detail {

// A series in a by Horner's rule, highest coefficient first.
inline double horner(const std::array<double, yeo_johnson_growth::kTerms> &c, double a) {
    double s = c[yeo_johnson_growth::kTerms - 1];
    for (std::size_t j = yeo_johnson_growth::kTerms - 1; j-- > 0;) {
        s = s * a + c[j];
    }
    return s;
}

// g'(a) for g(a) = expm1(a)/a (yeo_johnson_growth.hpp): the series below |a| = 1, the
// closed form above.
inline double growthSlope(double a) {
    using namespace yeo_johnson_growth;
    if (std::fabs(a) < kSeriesBelow) {
        return horner(kCoefficients, a);
    }
    return (std::exp(a) * (a - 1.0) + 1.0) / (a * a);
}

// g''(a): the series below |a| = 1, the closed form above.
inline double growthCurvature(double a) {
    using namespace yeo_johnson_growth;
    if (std::fabs(a) < kSeriesBelow) {
        return horner(kCurvatureCoefficients, a);
    }
    return (std::exp(a) * ((a - 2.0) * a + 2.0) - 2.0) / (a * a * a);
}

} // namespace yeo_johnson_detail

struct YeoJohnsonGradient {
    using F = YeoJohnson;
    using Params = F::Params;

    // Where a local method may move: the box of the searches.
    static constexpr std::array<double, F::kParams> localLower = F::lower;
    static constexpr std::array<double, F::kParams> localUpper = F::upper;
    // Powers tried for a start: mu and sigma are the moments of T(x) for each.
    static constexpr std::array<std::array<double, 1>, 11> startGrid{
        {{-2.0}, {-1.5}, {-1.0}, {-0.5}, {0.0}, {0.25}, {0.5}, {0.75}, {1.0}, {1.5}, {2.0}}};
    static constexpr bool startScalesWithData = false;

    // y = T(x) with dy/dlambda, and dJ/dlambda of the log Jacobian J = (lambda - 1) log(x + 1)
    // (x >= 0) or (1 - lambda) log(1 - x) (x < 0). With l = log(x + 1), y = l g(lambda l), so
    // dy/dlambda = l^2 g'(lambda l); likewise with m = log(1 - x) and 2 - lambda for x < 0.
    static void derivatives(double x, double, const Params &p, double *dy, double *dJ) {
        if (x >= 0) {
            const double l = std::log1p(x);
            dy[0] = l * l * yeo_johnson_detail::growthSlope(p.lambda * l);
            if (dJ != nullptr) {
                dJ[0] = l;
            }
        } else {
            const double m = std::log1p(-x);
            dy[0] = m * m * yeo_johnson_detail::growthSlope((2.0 - p.lambda) * m);
            if (dJ != nullptr) {
                dJ[0] = -m;
            }
        }
    }

    // d2y/dlambda2 = l^3 g''(lambda l) (x >= 0) or -m^3 g''((2 - lambda) m) (x < 0); J is
    // linear in lambda.
    static void secondDerivatives(double x, double, const Params &p, double *dyy, double *dJJ) {
        const double l = std::log1p(std::fabs(x));
        const double e = x >= 0 ? p.lambda : 2.0 - p.lambda;
        const double c = l * l * l * yeo_johnson_detail::growthCurvature(e * l);
        dyy[0] = x >= 0 ? c : -c;
        if (dJJ != nullptr) {
            dJJ[0] = 0.0;
        }
    }

    // d/dlambda of the end of a bounded range: T(+inf) = -1/lambda for lambda < 0 and
    // T(-inf) = 1/(2 - lambda) for lambda > 2 (the likelihood renormalises the normal to it).
    static void rangeEndSlope(double end, const Params &p, double *dt) {
        dt[0] = end > 0 ? 1.0 / (p.lambda * p.lambda) : 1.0 / ((2.0 - p.lambda) * (2.0 - p.lambda));
    }

    // The second derivative of that end: -2/lambda^3, or 2/(2 - lambda)^3.
    static void rangeEndCurvature(double end, const Params &p, double *dtt) {
        const double e = end > 0 ? p.lambda : 2.0 - p.lambda;
        dtt[0] = (end > 0 ? -2.0 : 2.0) / (e * e * e);
    }

    static void priorGradient(const Params &p, double *g) { g[0] += -2.0 * (p.lambda - 1.0) / 0.32000000000000006; }
    static void priorCurvature(const Params &, double *h) { h[0] += -2.0 / 0.32000000000000006; }

    // d/dq from d/d(lambda, mu, sigma): only sigma = exp(q2) is not the identity.
    static void toSearch(const double *, const Params &p, const double *natural, double *search) {
        search[0] = natural[0];
        search[1] = natural[1];
        search[2] = natural[2] * p.sigma;
    }

    // The Hessian in q from that in the natural parameters: dsigma/dq2 = d2sigma/dq2^2 = sigma.
    static void toSearchCurvature(const double *, const Params &p, const double *natural, const double *hessian,
                                  double *search) {
        SearchDecoding<3> d;
        d.jacobian = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, p.sigma};
        d.second[(2 * 3 + 2) * 3 + 2] = p.sigma;
        d.curvature(natural, hessian, search);
    }

    static std::array<double, F::kParams> encode(const Params &p) { return {p.lambda, p.mu, std::log(p.sigma)}; }
};

} // namespace ferrule
