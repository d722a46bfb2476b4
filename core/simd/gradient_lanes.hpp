// The derivatives of the likelihood's uncensored terms on packs of values, for the analytic
// gradient of the public layer's fits (core/likelihood_gradient.hpp): the formulas of
// core/families/*_gradient.hpp, with the transcendental functions shared between the
// transform, its Jacobian and their derivatives where the scalar code calls them anew.
// Each family gives forward() (the transform that decides a value's censoring, thresholds
// included) and slopes(): y, the log Jacobian J and dy/dt, dJ/dt for the transformation
// parameters t. Included after core/simd/family_lanes.hpp, in its namespace.
#pragma once

#include "core/families/yeo_johnson_growth.hpp"
#include "core/simd/family_lanes.hpp"

namespace ferrule::simd::FERRULE_SIMD_NS {

// tanh a = sinh a / cosh a where both are finite; beyond |a| = 20 it is +-1 to double precision.
inline Pack tanhFrom(Pack a, Pack s, Pack c) {
    return select(fabs(a) > 20.0, select(a < 0.0, splat(-1.0), splat(1.0)), s / c);
}

struct YeoJohnsonSlopes {
    static constexpr int kT = 1;

    // With e = lambda (x >= 0) or 2 - lambda (x < 0), l = log1p(|x|) and a = e l:
    // y = +-(e^a - 1)/e (+-l within the power tolerance), J = (e - 1) l, dJ/dlambda = +-l and
    // dy/dlambda = l^2 g'(a) (yeo_johnson_gradient.hpp). One log1p and one exp serve all.
    static Pack slopes(Pack x, const double *t, Pack &jacobian, Pack *dy, Pack *dJ) {
        return derivatives<false>(x, t, jacobian, dy, dJ, nullptr, nullptr);
    }

    // The same with d2y/dlambda2 = +-l^3 g''(a) and d2J/dlambda2 = 0, from the same log1p and exp.
    static Pack curvatures(Pack x, const double *t, Pack &jacobian, Pack *dy, Pack *dJ, Pack *dyy, Pack *dJJ) {
        return derivatives<true>(x, t, jacobian, dy, dJ, dyy, dJJ);
    }

    static Pack forward(Pack x, const double *t) {
        Pack jacobian, dy[kT], dJ[kT];
        return slopes(x, t, jacobian, dy, dJ);
    }

    // g'(a) given e^a: the series below |a| = 1, the closed form above.
    static Pack growthSlope(Pack a, Pack power) {
        using namespace yeo_johnson_growth;
        return belowSeries(a, (power * (a - 1.0) + 1.0) / (a * a), kCoefficients);
    }

    // g''(a) given e^a, likewise.
    static Pack growthCurvature(Pack a, Pack power) {
        using namespace yeo_johnson_growth;
        return belowSeries(a, (power * ((a - 2.0) * a + 2.0) - 2.0) / (a * a * a), kCurvatureCoefficients);
    }

private:
    template <bool kSecond>
    static Pack derivatives(Pack x, const double *t, Pack &jacobian, Pack *dy, Pack *dJ, Pack *dyy, Pack *dJJ) {
        const Mask pos = x >= 0.0;
        const Pack e = select(pos, splat(t[0]), splat(2.0 - t[0]));
        const Pack l = log1p(fabs(x));
        const Pack a = e * l;
        const Pack power = exp(a);
        jacobian = (e - 1.0) * l;
        dJ[0] = select(pos, l, -l);
        dy[0] = l * l * growthSlope(a, power);
        if constexpr (kSecond) {
            const Pack c = l * l * l * growthCurvature(a, power);
            dyy[0] = select(pos, c, -c);
            dJJ[0] = splat(0.0);
        }
        const Pack r = select(fabs(e) <= YeoJohnsonLanes::kPowerTol, l, (power - 1.0) / e);
        return select(pos, r, -r);
    }

    // The Taylor series of the coefficients c where |a| < 1, closed elsewhere.
    template <std::size_t N> static Pack belowSeries(Pack a, Pack closed, const std::array<double, N> &c) {
        const Mask series = fabs(a) < yeo_johnson_growth::kSeriesBelow;
        if (!any(series)) {
            return closed;
        }
        Pack s = splat(c[N - 1]);
        for (std::size_t j = N - 1; j-- > 0;) {
            s = s * a + c[j];
        }
        return select(series, s, closed);
    }
};

struct LogSinhSlopes {
    static constexpr int kT = 2;

    // With u = lambda x + epsilon, e = e^(-2u) and m = 1 - e (LogSinhLanes::parts):
    // coth u = (1 + e)/m, dy/dlambda = (x coth u - y)/lambda, dy/depsilon = coth u/lambda and
    // dJ/du = -2/sinh(2u) = -4e/(m (1 + e)).
    static Pack slopes(Pack x, const double *t, Pack &jacobian, Pack *dy, Pack *dJ) {
        return derivatives<false>(x, t, jacobian, dy, dJ, nullptr, nullptr);
    }

    // The same with the second derivatives (log_sinh_gradient.hpp): 1 - coth^2 u = -4e/m^2
    // and d2J/du2 = -2 coth(2u) dJ/du, coth(2u) = (1 + e^2)/(m (1 + e)).
    static Pack curvatures(Pack x, const double *t, Pack &jacobian, Pack *dy, Pack *dJ, Pack *dyy, Pack *dJJ) {
        return derivatives<true>(x, t, jacobian, dy, dJ, dyy, dJJ);
    }

    static Pack forward(Pack x, const double *t) { return LogSinhLanes::forward(x, t[0], t[1]); }

private:
    template <bool kSecond>
    static Pack derivatives(Pack x, const double *t, Pack &jacobian, Pack *dy, Pack *dJ, Pack *dyy, Pack *dJJ) {
        const double lambda = t[0];
        const LogSinhLanes::Parts p = LogSinhLanes::parts(x, lambda, t[1]);
        const Pack y = LogSinhLanes::forwardOf(p, lambda);
        const Pack coth = LogSinhLanes::cothOf(p);
        jacobian = log(coth);
        dy[0] = (x * coth - y) / lambda;
        dy[1] = coth / lambda;
        const Pack slope = -4.0 * p.e / (p.m * (1.0 + p.e));
        dJ[0] = x * slope;
        dJ[1] = slope;
        if constexpr (kSecond) {
            const Pack dc = -4.0 * p.e / (p.m * p.m);
            dyy[0] = (x * x * dc - 2.0 * dy[0]) / lambda;
            dyy[1] = (x * dc - dy[1]) / lambda;
            dyy[2] = dc / lambda;
            const Pack curvature = -2.0 * ((1.0 + p.e * p.e) / (p.m * (1.0 + p.e))) * slope;
            dJJ[0] = x * x * curvature;
            dJJ[1] = x * curvature;
            dJJ[2] = curvature;
        }
        return y;
    }
};

struct SinhAsinhSlopes {
    static constexpr int kT = 2;

    // With A = asinh x and a = delta A + epsilon: y = sinh a, J = log(delta cosh a/sqrt(x^2 + 1))
    // (as the likelihood's term), dy/ddelta = A cosh a, dy/depsilon = cosh a,
    // dJ/ddelta = 1/delta + A tanh a, dJ/depsilon = tanh a.
    static Pack slopes(Pack x, const double *t, Pack &jacobian, Pack *dy, Pack *dJ) {
        return derivatives<false>(x, t, jacobian, dy, dJ, nullptr, nullptr);
    }

    // The same with d2y = (A^2, A, 1) sinh a and d2J = (-1/delta^2 + A^2, A, 1) sech^2 a.
    static Pack curvatures(Pack x, const double *t, Pack &jacobian, Pack *dy, Pack *dJ, Pack *dyy, Pack *dJJ) {
        return derivatives<true>(x, t, jacobian, dy, dJ, dyy, dJJ);
    }

    static Pack forward(Pack x, const double *t) { return SinhAsinhLanes::forward(x, t[0], t[1]); }

private:
    template <bool kSecond>
    static Pack derivatives(Pack x, const double *t, Pack &jacobian, Pack *dy, Pack *dJ, Pack *dyy, Pack *dJJ) {
        const double delta = t[0];
        const Pack asinhX = asinh(x);
        const Pack a = delta * asinhX + t[1];
        Pack s, c;
        sinhCosh(a, s, c);
        jacobian = log(delta * c / sqrt(x * x + 1.0));
        const Pack th = tanhFrom(a, s, c);
        dy[0] = asinhX * c;
        dy[1] = c;
        dJ[0] = 1.0 / delta + asinhX * th;
        dJ[1] = th;
        if constexpr (kSecond) {
            const Pack sech2 = 1.0 / (c * c);
            dyy[0] = asinhX * asinhX * s;
            dyy[1] = asinhX * s;
            dyy[2] = s;
            dJJ[0] = -1.0 / (delta * delta) + asinhX * asinhX * sech2;
            dJJ[1] = asinhX * sech2;
            dJJ[2] = sech2;
        }
        return s;
    }
};

} // namespace ferrule::simd::FERRULE_SIMD_NS
