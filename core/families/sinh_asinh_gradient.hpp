// Derivatives of the sinh-arcsinh map with respect to delta and epsilon, for the analytic
// gradient of the censored likelihood (likelihood_gradient.hpp), and the bounded search
// coordinates of the natural parameters; Jones-Pewsey shares the coordinates.
#pragma once

#include <array>
#include <cmath>

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

    // The prior is normal in q0 = delta/(1 + delta) and in q1 = epsilon/sqrt(1 + epsilon^2).
    static void priorGradient(const Params &p, double *g) {
        const double u = p.delta / (p.delta + 1.0) - 0.5;
        const double w = p.epsilon / std::sqrt(p.epsilon * p.epsilon + 1.0);
        g[0] += -2.0 * u / 0.005000000000000001 / ((p.delta + 1.0) * (p.delta + 1.0));
        g[1] += -w / std::pow(p.epsilon * p.epsilon + 1.0, 1.5);
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

    static std::array<double, F::kParams> encode(const Params &p) {
        return {p.delta / (1.0 + p.delta), p.epsilon / std::sqrt(1.0 + p.epsilon * p.epsilon),
                p.mu / std::sqrt(1.0 + p.mu * p.mu), p.sigma / (p.sigma + p.delta)};
    }
};

} // namespace ferrule
