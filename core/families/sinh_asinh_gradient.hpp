// Derivatives of the sinh-arcsinh map with respect to delta and epsilon, for the analytic
// gradient of the censored likelihood (likelihood_gradient.hpp), and the bounded search
// coordinates of the natural parameters; Jones-Pewsey shares the coordinates.
#pragma once

#include <array>
#include <cmath>

#include "core/families/search_curvature.hpp"
#include "core/families/sinh_asinh.hpp"

namespace ferrule {

struct SinhAsinhGradient {
    using F = SinhAsinh;
    using Params = F::Params;

    // Where a local method may move: the box of the searches.
    static constexpr std::array<double, F::kParams> localLower = F::lower;
    static constexpr std::array<double, F::kParams> localUpper = F::upper;
    // Starts: (delta, epsilon).
    static constexpr std::array<std::array<double, 2>, 9> startGrid{{{0.5, -1.0},
                                                                     {0.5, 0.0},
                                                                     {0.5, 1.0},
                                                                     {1.0, -1.0},
                                                                     {1.0, 0.0},
                                                                     {1.0, 1.0},
                                                                     {2.0, -1.0},
                                                                     {2.0, 0.0},
                                                                     {2.0, 1.0}}};
    static constexpr bool startScalesWithData = false;

    // With A = asinh x and a = delta A + epsilon: y = sinh a, dy/ddelta = A cosh a,
    // dy/depsilon = cosh a; J = log delta + log cosh a - 1/2 log(x^2 + 1) has
    // dJ/ddelta = 1/delta + A tanh a and dJ/depsilon = tanh a.
    static void derivatives(double x, double, const Params &p, double *dy, double *dJ) {
        const double asinhX = std::asinh(x);
        const double a = p.delta * asinhX + p.epsilon;
        const double cosh = std::cosh(a);
        dy[0] = asinhX * cosh;
        dy[1] = cosh;
        if (dJ != nullptr) {
            const double tanh = std::tanh(a);
            dJ[0] = 1.0 / p.delta + asinhX * tanh;
            dJ[1] = tanh;
        }
    }

    // d2y: A^2 sinh a, A sinh a, sinh a; d2J: -1/delta^2 + A^2 sech^2 a, A sech^2 a, sech^2 a
    // (upper triangles by rows).
    static void secondDerivatives(double x, double, const Params &p, double *dyy, double *dJJ) {
        const double asinhX = std::asinh(x);
        const double a = p.delta * asinhX + p.epsilon;
        const double sinh = std::sinh(a);
        dyy[0] = asinhX * asinhX * sinh;
        dyy[1] = asinhX * sinh;
        dyy[2] = sinh;
        if (dJJ != nullptr) {
            const double cosh = std::cosh(a);
            const double sech2 = 1.0 / (cosh * cosh);
            dJJ[0] = -1.0 / (p.delta * p.delta) + asinhX * asinhX * sech2;
            dJJ[1] = asinhX * sech2;
            dJJ[2] = sech2;
        }
    }

    // The prior is normal in q0 = delta/(1 + delta) and in q1 = epsilon/sqrt(1 + epsilon^2).
    static void priorGradient(const Params &p, double *g) {
        const double u = p.delta / (p.delta + 1.0) - 0.5;
        const double w = p.epsilon / std::sqrt(p.epsilon * p.epsilon + 1.0);
        g[0] += -2.0 * u / 0.005000000000000001 / ((p.delta + 1.0) * (p.delta + 1.0));
        g[1] += -w / std::pow(p.epsilon * p.epsilon + 1.0, 1.5);
    }
    // Its second derivatives: with D = delta + 1 and E = epsilon^2 + 1,
    // -2/0.005 (1/D^4 - 2u/D^3) and -(1 - 3 epsilon^2)/E^3.
    static void priorCurvature(const Params &p, double *h) {
        const double u = p.delta / (p.delta + 1.0) - 0.5;
        const double d = p.delta + 1.0, e = p.epsilon * p.epsilon + 1.0;
        h[0] += -2.0 / 0.005000000000000001 * (1.0 / (d * d * d * d) - 2.0 * u / (d * d * d));
        h[5] += -(1.0 - 3.0 * p.epsilon * p.epsilon) / (e * e * e);
    }

    // delta = q0/(1 - q0), epsilon = q1/sqrt(1 - q1^2), mu likewise from q2, and
    // sigma = q3 delta/(1 - q3), which moves with delta too.
    static void toSearch(const double *q, const Params &p, const double *natural, double *search) {
        const double dDelta = 1.0 / ((1.0 - q[0]) * (1.0 - q[0]));
        search[0] = (natural[0] + p.sigma / p.delta * natural[3]) * dDelta;
        search[1] = natural[1] / std::pow(1.0 - q[1] * q[1], 1.5);
        search[2] = natural[2] / std::pow(1.0 - q[2] * q[2], 1.5);
        search[3] = natural[3] * p.delta / ((1.0 - q[3]) * (1.0 - q[3]));
    }

    // With D = 1/(1 - q0)^2: ddelta/dq0 = D, d2delta/dq0^2 = 2/(1 - q0)^3; depsilon/dq1 =
    // (1 - q1^2)^(-3/2), d2epsilon/dq1^2 = 3 q1 (1 - q1^2)^(-5/2), mu likewise in q2; sigma =
    // delta r, r = q3/(1 - q3): dsigma/dq0 = r D, dsigma/dq3 = delta/(1 - q3)^2,
    // d2sigma/dq0^2 = 2 r/(1 - q0)^3, d2sigma/dq0 dq3 = D/(1 - q3)^2, d2sigma/dq3^2 = 2 delta/(1 - q3)^3.
    static void toSearchCurvature(const double *q, const Params &p, const double *natural, const double *hessian,
                                  double *search) {
        SearchDecoding<4> d;
        const double a = 1.0 - q[0], b = 1.0 - q[3], r = q[3] / b;
        const double dDelta = 1.0 / (a * a), ddDelta = 2.0 / (a * a * a);
        d.jacobian[0] = dDelta;
        d.second[0] = ddDelta;
        for (std::size_t k = 1; k <= 2; ++k) {
            const double s = 1.0 - q[k] * q[k];
            d.jacobian[k * 4 + k] = 1.0 / std::pow(s, 1.5);
            d.second[(k * 4 + k) * 4 + k] = 3.0 * q[k] / std::pow(s, 2.5);
        }
        d.jacobian[12] = r * dDelta;
        d.jacobian[15] = p.delta / (b * b);
        d.second[(3 * 4 + 0) * 4 + 0] = r * ddDelta;
        d.second[(3 * 4 + 0) * 4 + 3] = d.second[(3 * 4 + 3) * 4 + 0] = dDelta / (b * b);
        d.second[(3 * 4 + 3) * 4 + 3] = 2.0 * p.delta / (b * b * b);
        d.curvature(natural, hessian, search);
    }

    static std::array<double, F::kParams> encode(const Params &p) {
        return {p.delta / (1.0 + p.delta), p.epsilon / std::sqrt(1.0 + p.epsilon * p.epsilon),
                p.mu / std::sqrt(1.0 + p.mu * p.mu), p.sigma / (p.sigma + p.delta)};
    }
};

} // namespace ferrule
