// The families' maps and the standard normal distribution on packs of values: the same
// formulas, in the same order of operations, as the scalar kernels of core/families and
// core/standard_normal.hpp, with branches taken lane by lane. Only the transcendental
// functions differ (SLEEF's instead of the C library's), so a result lies within a few
// ulp of the scalar one, more where the formula itself cancels (a power near 1 minus 1).
// Included after core/simd/lanes.hpp, in its namespace.
#pragma once

#include "core/simd/lanes.hpp"

namespace ferrule::simd::FERRULE_SIMD_NS {

inline constexpr double kLog2 = 0.6931471805599453;

struct YeoJohnsonLanes {
    static constexpr double kPowerTol = 1e-7;

    // x >= 0: ((x + 1)^l - 1)/l, or log(x + 1) at |l| <= tol; x < 0: the mirror image with
    // 2 - l. Both sides are one power of a base and an exponent chosen lane by lane. A NaN
    // power fails the tolerance test and gives NaN, here and in the inverse.
    static Pack forward(Pack x, double lambda) {
        const Mask pos = x >= 0.0;
        const Pack base = select(pos, x + 1.0, 1.0 - x);
        const Pack e = select(pos, splat(lambda), splat(2.0 - lambda));
        const Mask useLog = fabs(e) <= kPowerTol;
        Pack r = (pow(base, e) - 1.0) / e;
        if (any(useLog)) {
            r = select(useLog, log(base), r);
        }
        return select(pos, r, -r);
    }

    static Pack inverse(Pack y, double lambda) {
        const Mask pos = y >= 0.0;
        const Pack e = select(pos, splat(lambda), splat(2.0 - lambda));
        const Mask useExp = fabs(e) <= kPowerTol;
        const Pack p = pow(select(pos, e * y + 1.0, 1.0 - e * y), 1.0 / e);
        Pack r = select(pos, p - 1.0, 1.0 - p);
        if (any(useExp)) {
            const Pack ex = exp(select(pos, y, -y));
            r = select(useExp, select(pos, ex - 1.0, 1.0 - ex), r);
        }
        return r;
    }

    // log((x + 1)^(l - 1)) or log((1 - x)^(1 - l)) as (e - 1) log(base), as the likelihood's
    // terms take it (forwardAndJacobian): the logarithm of the power would overflow.
    static Pack logJacobian(Pack x, double lambda) {
        const Mask pos = x >= 0.0;
        const Pack base = select(pos, x + 1.0, 1.0 - x);
        const Pack power = select(pos, splat(lambda), splat(2.0 - lambda)) - 1.0;
        return select(power == 0.0, splat(0.0), power * log(base)); // 0, also at an infinite base
    }

    // The transform y and the log Jacobian of an uncensored likelihood term together. The
    // Jacobian is (e - 1) log(base) (e = lambda, or 2 - lambda below 0), one logarithm that
    // serves both: more accurate than the logarithm of a power, which also overflows.
    static Pack forwardAndJacobian(Pack x, double lambda, Pack &jacobian) {
        const Mask pos = x >= 0.0;
        const Pack base = select(pos, x + 1.0, 1.0 - x);
        const Pack e = select(pos, splat(lambda), splat(2.0 - lambda));
        const Pack logBase = log(base);
        jacobian = (e - 1.0) * logBase;
        const Pack r = select(fabs(e) <= kPowerTol, logBase, (pow(base, e) - 1.0) / e);
        return select(pos, r, -r);
    }
};

struct LogSinhLanes {
    // With u = lambda x + epsilon and e = e^(-2u), sinh u = e^u (1 - e)/2, so
    //   log sinh u = u - log 2 + log(1 - e),   log coth u = log((1 + e)/(1 - e)),
    // one exponential and two logarithms instead of sinh, tanh and two logarithms (the log
    // Jacobian, which vanishes as u grows, to an absolute 1e-16 like the terms it joins). log(1 - e) is
    // log1p(-e) where e <= 1/4 and log(-expm1(-2u)) nearer u = 0, where 1 - e would cancel.
    // Past the overflow of sinh, e = 0 and log sinh u = u - log 2 exactly; at u = 0 the
    // transform is -inf, below it 1 - e < 0 and both are NaN, as log(sinh u) is.
    struct Parts {
        Pack u, e, m, logM; // m = 1 - e
    };
    static Parts parts(Pack x, double lambda, double epsilon) {
        Parts p;
        p.u = lambda * x + epsilon;
        p.e = exp(-2.0 * p.u);
        p.m = 1.0 - p.e;
        p.logM = log1p(-p.e);
        const Mask near = p.e > 0.25;
        if (any(near)) {
            const Pack m = -expm1(-2.0 * p.u);
            p.m = select(near, m, p.m);
            p.logM = select(near, log(m), p.logM);
        }
        return p;
    }
    static Pack forwardOf(const Parts &p, double lambda) { return (1.0 / lambda) * ((p.u - kLog2) + p.logM); }

    static Pack forward(Pack x, double lambda, double epsilon) { return forwardOf(parts(x, lambda, epsilon), lambda); }

    static Pack inverse(Pack y, double lambda, double epsilon) {
        // log of the largest finite double: from there on asinh(e^v) is v + log 2.
        constexpr double kLogMaxDouble = 709.782712893384;
        const Pack v = lambda * y;
        const double k = 1.0 / lambda;
        const Mask over = v >= kLogMaxDouble;
        return select(over, k * (kLog2 + (v - epsilon)), k * (asinh(exp(select(over, splat(0.0), v))) - epsilon));
    }

    static Pack cothOf(const Parts &p) { return (1.0 + p.e) / p.m; }

    static Pack logJacobian(Pack x, double lambda, double epsilon) { return log(cothOf(parts(x, lambda, epsilon))); }

    static Pack forwardAndJacobian(Pack x, double lambda, double epsilon, Pack &jacobian) {
        const Parts p = parts(x, lambda, epsilon);
        jacobian = log(cothOf(p));
        return forwardOf(p, lambda);
    }
};

// Sinh-arcsinh and Jones-Pewsey share the map.
struct SinhAsinhLanes {
    static Pack forward(Pack x, double delta, double epsilon) { return sinh(delta * asinh(x) + epsilon); }
    static Pack inverse(Pack y, double delta, double epsilon) { return sinh((asinh(y) - epsilon) / delta); }
    static Pack logJacobian(Pack x, double delta, double epsilon) {
        return log(delta * cosh(delta * asinh(x) + epsilon) / sqrt(x * x + 1.0));
    }

    // One asinh and one sinhCosh serve the transform and the Jacobian.
    static Pack forwardAndJacobian(Pack x, double delta, double epsilon, Pack &jacobian) {
        const Pack a = delta * asinh(x) + epsilon;
        Pack s, c;
        sinhCosh(a, s, c);
        jacobian = log(delta * c / sqrt(x * x + 1.0));
        return s;
    }
};

// Where a value stands at one parameter point, lane by lane, as classify() in
// core/censoring.hpp decides it: -1 left-censored, 0 uncensored, +1 right-censored.
struct Sides {
    Mask none, left; // uncensored; left-censored (right-censored: neither)
};
inline Sides classify(Pack x, Pack y, double left, double right, double tL, double tR) {
    const Mask nan = y != y;
    y = select(nan & (x < left), splat(tL), select(nan & (x > right), splat(tR), y));
    const Mask finite = (y - y) == 0.0;
    const Mask none = ((tL < y) & (y < tR)) | ((left < x) & (x < right) & finite);
    return {none, ~none & (y <= tL)};
}

struct StandardNormalLanes {
    static constexpr double kSqrt2 = 1.4142135623730951;
    static constexpr double kTwoPi = 6.283185307179586;

    static Pack cdf(Pack z) { return 0.5 * erfc(-z / kSqrt2); }

    // log Phi(z): log1p(-Phi(-z)) above 0, the asymptotic series of the Mills ratio where
    // erfc underflows.
    static Pack logCdf(Pack z) {
        const Mask far = z <= -37.5;
        const Mask upper = z > 0.0;
        Pack r = log(cdf(z));
        if (any(upper)) {
            r = select(upper, log1p(-cdf(-z)), r);
        }
        if (any(far)) {
            const Pack rr = 1.0 / (z * z);
            const Pack series = 1.0 - rr * (1.0 - rr * (3.0 - rr * (15.0 - rr * 105.0)));
            const Pack tail = -0.5 * z * z - log(select(far, -z, splat(1.0))) - 0.5 * std::log(kTwoPi) + log(series);
            r = select(far, tail, r);
        }
        return r;
    }
};

} // namespace ferrule::simd::FERRULE_SIMD_NS
