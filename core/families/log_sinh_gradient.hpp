// First and second derivatives of the log-sinh map with respect to lambda and epsilon, for
// the analytic gradient and Hessian of the censored likelihood (likelihood_gradient.hpp), and
// the search coordinates {log lambda, log epsilon, mu/sigma, log sigma} of the natural parameters.
#pragma once

#include <array>
#include <cmath>

#include "core/families/log_sinh.hpp"
#include "core/families/search_curvature.hpp"

namespace ferrule {

struct LogSinhGradient {
    using F = LogSinh;
    using Params = F::Params;

    // Where a local method may move: the box of the searches, with epsilon at most 1 (above
    // it the likelihood refuses the parameters).
    static constexpr std::array<double, F::kParams> localLower = F::lower;
    static constexpr std::array<double, F::kParams> localUpper{10.0, 0.0, 10.0, 10.0};
    // Starts: lambda times the largest value, and epsilon.
    static constexpr std::array<std::array<double, 2>, 12> startGrid{{{0.1, 0.01},
                                                                      {0.1, 0.1},
                                                                      {0.1, 1.0},
                                                                      {1.0, 0.01},
                                                                      {1.0, 0.1},
                                                                      {1.0, 1.0},
                                                                      {5.0, 0.01},
                                                                      {5.0, 0.1},
                                                                      {5.0, 1.0},
                                                                      {20.0, 0.01},
                                                                      {20.0, 0.1},
                                                                      {20.0, 1.0}}};
    static constexpr bool startScalesWithData = true;

    // With u = lambda x + epsilon and y = log(sinh u)/lambda: dy/du = coth(u)/lambda, so
    // dy/dlambda = (x coth u - y)/lambda and dy/depsilon = coth(u)/lambda. The log Jacobian
    // J = -log tanh u has dJ/du = -2/sinh(2u), which underflows to 0 in the linear limit.
    static void derivatives(double x, double y, const Params &p, double *dy, double *dJ) {
        const double u = p.lambda * x + p.epsilon;
        const double coth = 1.0 / std::tanh(u);
        dy[0] = (x * coth - y) / p.lambda;
        dy[1] = coth / p.lambda;
        if (dJ != nullptr) {
            const double slope = -2.0 / std::sinh(2.0 * u);
            dJ[0] = x * slope;
            dJ[1] = slope;
        }
    }

    // With c = coth u and dc/du = 1 - c^2 = -1/sinh^2 u (formed so, without cancellation):
    //   d2y/dlambda2 = (x^2 (1 - c^2) - 2 dy/dlambda)/lambda,
    //   d2y/dlambda depsilon = (x (1 - c^2) - dy/depsilon)/lambda, d2y/depsilon2 = (1 - c^2)/lambda;
    // d2J/du2 = -2 coth(2u) dJ/du, times x^2, x and 1. Upper triangles by rows.
    static void secondDerivatives(double x, double y, const Params &p, double *dyy, double *dJJ) {
        const double u = p.lambda * x + p.epsilon;
        const double coth = 1.0 / std::tanh(u);
        const double sinh = std::sinh(u);
        const double dc = -1.0 / (sinh * sinh);
        const double byLambda = (x * coth - y) / p.lambda, byEpsilon = coth / p.lambda;
        dyy[0] = (x * x * dc - 2.0 * byLambda) / p.lambda;
        dyy[1] = (x * dc - byEpsilon) / p.lambda;
        dyy[2] = dc / p.lambda;
        if (dJJ != nullptr) {
            const double curvature = -2.0 * (-2.0 / std::sinh(2.0 * u)) / std::tanh(2.0 * u);
            dJJ[0] = x * x * curvature;
            dJJ[1] = x * curvature;
            dJJ[2] = curvature;
        }
    }

    static void priorGradient(const Params &p, double *g) { g[0] += -std::log(p.lambda) / p.lambda; }
    static void priorCurvature(const Params &p, double *h) {
        h[0] += (std::log(p.lambda) - 1.0) / (p.lambda * p.lambda);
    }

    // lambda = e^q0, epsilon = e^q1, sigma = e^q3 and mu = q2 sigma.
    static void toSearch(const double *, const Params &p, const double *natural, double *search) {
        search[0] = natural[0] * p.lambda;
        search[1] = natural[1] * p.epsilon;
        search[2] = natural[2] * p.sigma;
        search[3] = natural[3] * p.sigma + natural[2] * p.mu;
    }

    // dlambda/dq0 = d2lambda/dq0^2 = lambda, likewise epsilon in q1 and sigma in q3;
    // dmu/dq2 = d2mu/dq2 dq3 = sigma, dmu/dq3 = d2mu/dq3^2 = mu.
    static void toSearchCurvature(const double *, const Params &p, const double *natural, const double *hessian,
                                  double *search) {
        SearchDecoding<4> d;
        d.jacobian[0] = d.second[0] = p.lambda;
        d.jacobian[5] = d.second[(1 * 4 + 1) * 4 + 1] = p.epsilon;
        d.jacobian[10] = p.sigma;
        d.jacobian[11] = p.mu;
        d.second[(2 * 4 + 2) * 4 + 3] = d.second[(2 * 4 + 3) * 4 + 2] = p.sigma;
        d.second[(2 * 4 + 3) * 4 + 3] = p.mu;
        d.jacobian[15] = d.second[(3 * 4 + 3) * 4 + 3] = p.sigma;
        d.curvature(natural, hessian, search);
    }

    static std::array<double, F::kParams> encode(const Params &p) {
        return {std::log(p.lambda), std::log(p.epsilon), p.mu / p.sigma, std::log(p.sigma)};
    }
};

} // namespace ferrule
