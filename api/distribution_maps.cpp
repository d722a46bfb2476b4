// The fitted distribution's maps: the transformation and the normal distribution function
// by the vector kernels over pieces of values, the scores, the renormalisation and the
// thresholds value by value in the same pass.
#include "api/distribution_maps.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "api/element_pieces.hpp"
#include "core/likelihood_policy.hpp"
#include "core/simd/vector_kernels.hpp"
#include "core/standard_normal.hpp"

namespace ferrule::kernels {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Below exp(kLogTiny) a probability leaves the normal doubles and loses its precision.
constexpr double kLogTiny = -700.0;
// A score within 1e-4 / max(1, |end|) of a finite end of the range is "near" it: there
// the mass to the end is d phi(m) (1 + (m^2 - 1) d^2 / 24) to double precision.
const double kLogNear = std::log(1e-4);
const double kHalfLogTwoPi = 0.5 * std::log(kTwoPi);

// z with log Phi(z) = logP: Phi^-1(exp(logP)) while exp(logP) is a normal double, further
// out Newton's method on log Phi (concave, so the steps from the tail's leading term
// -sqrt(-2 logP), left of the root, stay left of it and converge).
double quantileOfLog(double logP) {
    if (!(logP < kLogTiny)) {
        return standardNormalQuantile(std::exp(logP));
    }
    if (logP == -kInf) {
        return -kInf;
    }
    double z = -std::sqrt(-2.0 * logP);
    for (int k = 0; k < 12; ++k) {
        const double logCdf = standardNormalLogCdf(z);
        const double step = (logCdf - logP) * std::exp(logCdf + 0.5 * z * z + kHalfLogTwoPi); // times Phi/phi
        z -= step;
        if (std::fabs(step) <= 1e-15 * std::fabs(z)) {
            break;
        }
    }
    return z;
}

// A finite end of the range of T that T(u) approaches as u -> side * inf, and the score
// distance d of T(u) to it, in logs, from u itself: near the end T(u) rounds onto it and
// the difference of the scores cancels, while d keeps its precision. Only Yeo-Johnson has
// such an end: lambda < 0, u >= 0: -1/lambda - T(u) = (u + 1)^lambda / -lambda (the top);
// lambda > 2, u <= 0: T(u) - 1/(2 - lambda) = (1 - u)^(2 - lambda) / (lambda - 2) (the bottom).
struct RangeEnd {
    bool present = false;
    double side = 0.0;     // +1: the top, -1: the bottom
    double score = 0.0;    // the raw score of the end
    double power = 0.0;    // lambda, or 2 - lambda
    double logScale = 0.0; // log(-lambda sigma), or log((lambda - 2) sigma)

    // log d of the value u; +inf on the other half-line, far from the end.
    double logDistance(double u) const {
        const double v = side * u;
        return v >= 0.0 ? power * std::log1p(v) - logScale : kInf;
    }
    double valueAt(double logD) const { return side * std::expm1((logScale + logD) / power); }

    bool near(double logD) const { return logD < kLogNear - std::log(std::max(1.0, std::fabs(score))); }

    // log of the normal mass between the end and the score d from it, d near.
    double logMass(double logD) const {
        const double d = std::exp(logD);
        const double m = score - side * 0.5 * d;
        return logD - 0.5 * m * m - kHalfLogTwoPi + std::log1p((m * m - 1.0) * d * d / 24.0);
    }
    // log d of the score whose mass to the end is exp(logM), by fixed-point steps on
    // logMass (each shrinks the error by a factor of about |m| d / 2); NaN unless near.
    double logDistanceOfMass(double logM) const {
        double logD = logM + 0.5 * score * score + kHalfLogTwoPi;
        if (!near(logD)) {
            return kNaN;
        }
        for (int k = 0; k < 6; ++k) {
            const double d = std::exp(logD);
            const double m = score - side * 0.5 * d;
            logD = logM + 0.5 * m * m + kHalfLogTwoPi - std::log1p((m * m - 1.0) * d * d / 24.0);
        }
        return near(logD) ? logD : kNaN;
    }
};

class Distribution {
public:
    explicit Distribution(const DistributionModel &model)
        : m_(model), kernels_(simd::activeKernels()), family_(static_cast<int>(model.family)) {
        const FamilyInfo info = familyInfo(model.family);
        raw_ = info.modelsRawValue;
        const bool finite = std::isfinite(model.t[0]) && std::isfinite(model.t[1]);
        domainEdge_ = info.boundedBelow && finite;
        logSigma_ = std::log(model.sigma);
        logScale_ = std::log(model.scale);

        double ends[2] = {-kInf, kInf};
        kernels_.forward[family_](m_.t, ends, tEnds_, 2);
        double a[2], r[2];
        rawOfU(ends, 2, a, r);
        range_ = {r[0], r[1], logNormalMassBetween(std::min(r[0], r[1]), std::max(r[0], r[1]))};
        renormalised_ = !(range_.logInside == 0.0);
        massInside_ = std::exp(range_.logInside);
        const double lambda = model.t[0];
        if (renormalised_ && model.family == FamilyId::YeoJohnson && model.sigma > 0.0 && std::isfinite(lambda)) {
            if (lambda < 0.0) {
                top_ = {true, 1.0, range_.top, lambda, std::log(-lambda) + logSigma_};
            } else if (lambda > 2.0) {
                bottom_ = {true, -1.0, range_.bottom, 2.0 - lambda, std::log(lambda - 2.0) + logSigma_};
            }
        }

        const double thresholds[2] = {m_.left, m_.right};
        double u[2], z[2];
        scores(thresholds, 2, u, a, r, z);
        zLeft_ = z[0];
        massBelow_ = logMassBelow(r[0], u[0]) - range_.logInside;
        massAbove_ = logMassAbove(r[1], u[1]) - range_.logInside;
        kernels_.normalCdf(&zLeft_, &cdfLeft_, 1);
        if (!std::isfinite(m_.left)) {
            cdfLeft_ = -1.0;
        }
    }

    ScoreRange range() const { return range_; }

    // One piece of at most kPiece values.
    void map(DistributionMap which, bool censor, const double *in, double *out, std::size_t n) const {
        std::vector<double> buffer(4 * n);
        double *u = buffer.data(), *a = u + n, *r = a + n, *z = r + n;
        switch (which) {
        case DistributionMap::ToNormal:
            scores(in, n, u, a, r, out);
            return;
        case DistributionMap::Cdf:
        case DistributionMap::Sf:
        case DistributionMap::LogSf:
            tail(which, in, out, n, u, a, r, z);
            return;
        case DistributionMap::LogPdf:
            logPdf(in, out, n, u, a, r, z);
            return;
        case DistributionMap::FromNormal:
            values(in, n, out, a, std::vector<unsigned char>(n).data());
            if (censor) {
                for (std::size_t i = 0; i < n; ++i) {
                    out[i] = clipped(out[i]);
                }
            }
            return;
        case DistributionMap::Ppf:
            quantiles(censor, in, out, n, z, a);
            return;
        }
    }

private:
    // The raw scores r of values u of the continuous variable; a: the arguments of T.
    void rawOfU(const double *u, std::size_t n, double *a, double *r) const {
        for (std::size_t i = 0; i < n; ++i) {
            a[i] = raw_ ? (u[i] - m_.mu) / m_.sigma : u[i];
        }
        kernels_.forward[family_](m_.t, a, r, n);
        for (std::size_t i = 0; i < n; ++i) {
            if (!raw_) {
                r[i] = (r[i] - m_.mu) / m_.sigma;
            }
            // Below its domain (log-sinh: lambda u + epsilon < 0) the map is undefined: no
            // mass lies there.
            if (domainEdge_ && std::isnan(r[i]) && !std::isnan(u[i])) {
                r[i] = -kInf;
            }
        }
    }

    // Standard normal scores z of data values x (and their u, a, r on the way).
    void scores(const double *x, std::size_t n, double *u, double *a, double *r, double *z) const {
        for (std::size_t i = 0; i < n; ++i) {
            u[i] = (x[i] + m_.shift) * m_.scale;
        }
        rawOfU(u, n, a, r);
        for (std::size_t i = 0; i < n; ++i) {
            z[i] = renormalised_ ? score(r[i], u[i]) : r[i];
        }
    }

    // log of the normal mass between the bottom of the range and r, or r and the top.
    double logMassBelow(double r, double u) const {
        if (bottom_.present) {
            const double logD = bottom_.logDistance(u);
            if (bottom_.near(logD)) {
                return bottom_.logMass(logD);
            }
        }
        return logNormalMassBetween(range_.bottom, r);
    }
    double logMassAbove(double r, double u) const {
        if (top_.present) {
            const double logD = top_.logDistance(u);
            if (top_.near(logD)) {
                return top_.logMass(logD);
            }
        }
        return logNormalMassBetween(r, range_.top);
    }

    // Phi^-1 of the renormalised distribution function, in the tail that keeps precision.
    double score(double r, double u) const {
        const double below = logMassBelow(r, u) - range_.logInside;
        if (std::exp(below) <= 0.5) {
            return quantileOfLog(below);
        }
        return -quantileOfLog(logMassAbove(r, u) - range_.logInside);
    }

    // The inverse of score on one side: the raw score whose mass to the `end` of the range
    // is the normal's mass beyond |z| times M (`beyond` = Phi(-|z|)), or, near a finite
    // end, the value u itself (near = 1).
    double rawOnSide(const RangeEnd &end, double endScore, double beyond, double absZ, double &u,
                     unsigned char &near) const {
        if (end.present) {
            const double logD = end.logDistanceOfMass(standardNormalLogCdf(-absZ) + range_.logInside);
            if (logD == logD) {
                u = end.valueAt(logD);
                near = 1;
                return kNaN;
            }
        }
        const double mass = beyond * massInside_;
        if (mass < std::exp(kLogTiny)) {
            return quantileOfLog(standardNormalLogCdf(-absZ) + range_.logInside);
        }
        return standardNormalQuantile(standardNormalCdf(endScore) + mass);
    }

    double rawOfScore(double z, double &u, unsigned char &near) const {
        if (std::isinf(z)) {
            // The ends of the line, not a round trip through the ends of the range, whose
            // rounding could put them beyond it.
            u = z;
            near = 1;
            return kNaN;
        }
        if (z <= 0.0) {
            return rawOnSide(bottom_, range_.bottom, standardNormalCdf(z), -z, u, near);
        }
        return -rawOnSide(top_, -range_.top, standardNormalCdf(-z), z, u, near);
    }

    // Values x of the continuous variable at scores z; where the range of T is bounded the
    // scores at its ends give -inf or +inf and those strictly beyond it NaN.
    void values(const double *z, std::size_t n, double *x, double *y, unsigned char *near) const {
        for (std::size_t i = 0; i < n; ++i) {
            near[i] = 0;
            const double r = renormalised_ ? rawOfScore(z[i], x[i], near[i]) : z[i];
            y[i] = raw_ ? r : m_.mu + m_.sigma * r;
        }
        std::vector<double> inverse(n);
        kernels_.inverse[family_](m_.t, y, inverse.data(), n);
        for (std::size_t i = 0; i < n; ++i) {
            double u = x[i]; // given by rawOfScore itself where near[i]
            if (near[i] == 0) {
                if (raw_) {
                    u = m_.mu + m_.sigma * inverse[i];
                } else if (y[i] > tEnds_[1] || y[i] < tEnds_[0]) {
                    u = kNaN;
                } else {
                    // Decided here rather than by the inverse map, which is not defined
                    // beyond the range (Yeo-Johnson with lambda < 0 maps y = +inf to u = -1).
                    u = y[i] >= tEnds_[1] ? kInf : (y[i] <= tEnds_[0] ? -kInf : inverse[i]);
                }
            }
            x[i] = u / m_.scale - m_.shift;
        }
    }

    double clipped(double x) const { return x < m_.left ? m_.left : (x > m_.right ? m_.right : x); }

    // cdf, sf and logsf of the observed (clipped) variable.
    void tail(DistributionMap which, const double *x, double *out, std::size_t n, double *u, double *a, double *r,
              double *z) const {
        scores(x, n, u, a, r, z);
        if (which != DistributionMap::Cdf) {
            for (std::size_t i = 0; i < n; ++i) {
                z[i] = -z[i];
            }
        }
        (which == DistributionMap::LogSf ? kernels_.normalLogCdf : kernels_.normalCdf)(z, r, n);
        const double below = which == DistributionMap::Cdf ? 0.0 : (which == DistributionMap::Sf ? 1.0 : 0.0);
        const double above = which == DistributionMap::Cdf ? 1.0 : (which == DistributionMap::Sf ? 0.0 : -kInf);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = x[i] >= m_.right ? above : (x[i] < m_.left ? below : r[i]);
        }
    }

    // The log density of the continuous variable inside the thresholds, the log point
    // masses on them.
    void logPdf(const double *x, double *out, std::size_t n, double *u, double *a, double *r, double *jacobian) const {
        for (std::size_t i = 0; i < n; ++i) {
            u[i] = (x[i] + m_.shift) * m_.scale;
        }
        rawOfU(u, n, a, r);
        kernels_.logJacobian[family_](m_.t, a, jacobian, n);
        const bool leftMass = std::isfinite(m_.left), rightMass = std::isfinite(m_.right);
        for (std::size_t i = 0; i < n; ++i) {
            const double v = x[i];
            double value = -kInf;
            if (m_.left < v && v < m_.right) {
                value =
                    ((((-0.5 * r[i]) * r[i] - kHalfLogTwoPi) + jacobian[i] - logSigma_) + logScale_) - range_.logInside;
            }
            if (v == m_.left && leftMass) {
                value = massBelow_;
            }
            if (v == m_.right && rightMass) {
                value = massAbove_;
            }
            out[i] = std::isnan(v) ? kNaN : value;
        }
    }

    void quantiles(bool censor, const double *p, double *out, std::size_t n, double *z, double *y) const {
        std::vector<double> x(n);
        for (std::size_t i = 0; i < n; ++i) {
            z[i] = standardNormalQuantile(p[i]);
        }
        values(z, n, x.data(), y, std::vector<unsigned char>(n).data());
        for (std::size_t i = 0; i < n; ++i) {
            double v = x[i];
            if (censor) {
                v = p[i] <= cdfLeft_ ? m_.left : clipped(v);
            }
            out[i] = p[i] >= 0.0 && p[i] <= 1.0 ? v : kNaN;
        }
    }

    DistributionModel m_;
    const simd::VectorKernels &kernels_;
    int family_;
    bool raw_ = false, domainEdge_ = false, renormalised_ = false;
    double logSigma_ = 0.0, logScale_ = 0.0;
    double tEnds_[2] = {0.0, 0.0}; // T(-inf), T(+inf)
    ScoreRange range_{};
    double massInside_ = 1.0;
    RangeEnd bottom_, top_;
    double zLeft_ = 0.0, cdfLeft_ = 0.0, massBelow_ = 0.0, massAbove_ = 0.0;
};

} // namespace

ScoreRange scoreRange(const DistributionModel &model) { return Distribution(model).range(); }

void distributionMap(const DistributionModel &model, DistributionMap map, bool censor, const double *in, double *out,
                     std::size_t n, int threads) {
    const Distribution distribution(model);
    mapPieces(in, out, n, threads,
              [&](const double *from, double *to, std::size_t m) { distribution.map(map, censor, from, to, m); });
}

} // namespace ferrule::kernels
