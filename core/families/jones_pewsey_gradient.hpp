// First and second derivatives of the Jones-Pewsey likelihood terms, for the analytic
// gradient and Hessian of the censored likelihood (likelihood_gradient.hpp). The raw value is
// standardised first, z = (x - mu)/sigma, and s = T(z) = sinh(delta asinh z + epsilon) is
// standard normal, so the mass below a threshold t is Phi(T((t - mu)/sigma)).
//
// Second derivatives are taken in (delta, epsilon, z) and carried to (mu, sigma) by
// dz/dmu = -1/sigma, dz/dsigma = -z/sigma, d2z/dmu dsigma = 1/sigma^2, d2z/dsigma2 = 2z/sigma^2:
//   d2/dt dmu = -f_tz/sigma, d2/dt dsigma = -z f_tz/sigma, d2/dmu2 = f_zz/sigma^2,
//   d2/dmu dsigma = (z f_zz + f_z)/sigma^2, d2/dsigma2 = (z^2 f_zz + 2 z f_z)/sigma^2
// (the term's -log sigma adds 1/sigma^2 to the last).
#pragma once

#include <array>
#include <cmath>

#include "core/families/jones_pewsey.hpp"
#include "core/families/sinh_asinh_gradient.hpp"

namespace ferrule {

struct JonesPewseyGradient : SinhAsinhGradient {
    using F = JonesPewsey;
    static constexpr bool kCurvature = true;

    // A function f of (delta, epsilon, z) with its first and second derivatives there:
    // d = (f_delta, f_epsilon, f_z), dd = the upper triangle by rows.
    struct InZ {
        std::array<double, 3> d;
        std::array<double, 6> dd;
    };

    // The second derivatives of f in (delta, epsilon, mu, sigma), full and row-major; extra is
    // added to d2/dsigma2.
    static void toNatural(const InZ &f, double z, const Params &p, double extra, double *h) {
        const double iv = 1.0 / (p.sigma * p.sigma);
        const std::array<double, 2> tz{f.dd[2], f.dd[4]};
        const double zz = f.dd[5];
        h[0] = f.dd[0];
        h[1] = h[4] = f.dd[1];
        h[5] = f.dd[3];
        for (std::size_t i = 0; i < 2; ++i) {
            h[i * 4 + 2] = h[2 * 4 + i] = -tz[i] / p.sigma;
            h[i * 4 + 3] = h[3 * 4 + i] = -z * tz[i] / p.sigma;
        }
        h[10] = zz * iv;
        h[11] = h[14] = (z * zz + f.d[2]) * iv;
        h[15] = (z * z * zz + 2.0 * z * f.d[2]) * iv + extra;
    }

    // With A = asinh z, w = 1/sqrt(z^2 + 1), a = delta A + epsilon, B = tanh a - sinh a cosh a
    // and B' = sech^2 a - cosh 2a (d/da of B): the term's
    //   f_delta = B A + 1/delta, f_epsilon = B, f_z = B delta w - z w^2,
    //   f_delta2 = B' A^2 - 1/delta^2, f_delta epsilon = B' A, f_epsilon2 = B',
    //   f_delta z = B' A delta w + B w, f_epsilon z = B' delta w,
    //   f_zz = B' delta^2 w^2 - B delta z w^3 - w^4 (1 - z^2).
    static double curvature(double x, double y, const F::Terms &t, double *g, double *h) {
        const Params &p = t.p;
        const double z = (x - p.mu) / p.sigma;
        const double asinhZ = std::asinh(z);
        const double a = p.delta * asinhZ + p.epsilon;
        const double w = 1.0 / std::sqrt(z * z + 1.0);
        const double sinh = std::sinh(a), cosh = std::cosh(a);
        const double byA = std::tanh(a) - sinh * cosh;
        const double byA2 = 1.0 / (cosh * cosh) - std::cosh(2.0 * a);
        InZ f;
        f.d = {byA * asinhZ + 1.0 / p.delta, byA, byA * p.delta * w - z * w * w};
        f.dd = {byA2 * asinhZ * asinhZ - 1.0 / (p.delta * p.delta),
                byA2 * asinhZ,
                byA2 * asinhZ * p.delta * w + byA * w,
                byA2,
                byA2 * p.delta * w,
                byA2 * p.delta * p.delta * w * w - byA * p.delta * z * w * w * w - w * w * w * w * (1.0 - z * z)};
        std::array<double, 16> full{};
        toNatural(f, z, p, 1.0 / (p.sigma * p.sigma), full.data());
        for (std::size_t i = 0, k = 0; i < 4; ++i) {
            for (std::size_t j = i; j < 4; ++j, ++k) {
                h[k] = full[i * 4 + j];
            }
        }
        return uncensored(x, y, t, g);
    }

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

    // The score with its second derivatives (full, row-major): with S = sinh a, c = cosh a,
    //   S_delta2 = S A^2, S_delta epsilon = S A, S_epsilon2 = S, S_delta z = S A delta w + c w,
    //   S_epsilon z = S delta w, S_zz = S delta^2 w^2 - c delta z w^3.
    static double scoreCurvature(double threshold, const Params &p, double *dz, double *dzz) {
        const double s = score(threshold, p, dz);
        const double z = (threshold - p.mu) / p.sigma;
        const double asinhZ = std::asinh(z);
        const double a = p.delta * asinhZ + p.epsilon;
        const double w = 1.0 / std::sqrt(z * z + 1.0);
        const double cosh = std::cosh(a);
        InZ f;
        f.d = {cosh * asinhZ, cosh, cosh * p.delta * w};
        f.dd = {s * asinhZ * asinhZ,
                s * asinhZ,
                s * asinhZ * p.delta * w + cosh * w,
                s,
                s * p.delta * w,
                s * p.delta * p.delta * w * w - cosh * p.delta * z * w * w * w};
        toNatural(f, z, p, 0.0, dzz);
        return s;
    }
};

} // namespace ferrule
