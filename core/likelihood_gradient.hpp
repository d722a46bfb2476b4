// The censored log-likelihood of one series with its analytic gradient in the search
// coordinates, for the local methods of the public layer's fits.
//
// With the natural parameters p = decode(q), a value's term and its derivatives are
//   uncensored        the family's term (normal models: log phi((y - mu)/sigma) - log sigma + J(x))
//   left-censored     log Phi(zL)          d/dp = phi(zL)/Phi(zL) dzL/dp
//   right-censored    log Phi(-zR)         d/dp = -phi(zR)/Phi(-zR) dzR/dp
// where z is the family's score of a threshold ((T(t) - mu)/sigma for normal models), and the
// chain rule through the family's decoding gives d/dq. Where the transform's range is
// bounded (scores zB < zT of its ends, Yeo-Johnson with lambda < 0 or > 2) the normal is
// renormalised to it as in the likelihood: the censored masses are those between zB and
// the threshold's score, and every value's term loses log M, M = Phi(zT) - Phi(zB); the
// derivative of log(Phi(b) - Phi(a)) is phi(b)/M(a, b) in b and -phi(a)/M(a, b) in a. Censored masses use the accurate
// log Phi of the fitted distribution. The second derivatives follow from phi'(z) = -z phi(z):
// with wa = phi(a)/M, wb = phi(b)/M and v = wb db - wa da,
//   d2 log M = wb d2b - wa d2a - b wb db db' + a wa da da' - v v'.
// The uncensored terms and their derivatives come from
// the vector kernels (core/simd) over the distinct values, each weighted by its multiplicity,
// and are summed in the fixed order that LikelihoodGradient describes.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "core/censored_likelihood.hpp"
#include "core/families/jones_pewsey_gradient.hpp"
#include "core/families/log_sinh_gradient.hpp"
#include "core/families/sinh_asinh_gradient.hpp"
#include "core/families/yeo_johnson_gradient.hpp"
#include "core/pairwise_sum.hpp"
#include "core/simd/thread_choice.hpp"
#include "core/simd/vector_kernels.hpp"
#include "core/standard_normal.hpp"

namespace ferrule {

// The uncensored term and the threshold score of a family whose T(x) is modelled as
// normal, from the derivatives of its map.
// Whether a family's map gives its second derivatives: its likelihood's Hessian is then analytic.
template <class G, class = void> struct HasSecondDerivatives : std::false_type {};
template <class G> struct HasSecondDerivatives<G, std::void_t<decltype(&G::secondDerivatives)>> : std::true_type {};

template <class G> struct NormalModelGradient : G {
    using F = typename G::F;
    using Params = typename F::Params;
    static constexpr std::size_t kT = F::kTransParams;
    static constexpr std::size_t kP = F::kParams;
    static constexpr bool kCurvature = HasSecondDerivatives<G>::value;

    // r = (y - mu)/sigma: d/dmu = r/sigma, d/dsigma = (r^2 - 1)/sigma and
    // d/dtheta = -r/sigma dy/dtheta + dJ/dtheta.
    static double uncensored(double x, double y, const typename F::Terms &t, double *g) {
        const Params &p = t.p;
        std::array<double, kT> dy{}, dJ{};
        G::derivatives(x, y, p, dy.data(), dJ.data());
        const double r = (y - p.mu) / p.sigma;
        for (std::size_t j = 0; j < kT; ++j) {
            g[j] = -r / p.sigma * dy[j] + dJ[j];
        }
        g[kT] = r / p.sigma;
        g[kT + 1] = (r * r - 1.0) / p.sigma;
        return F::uncensoredTerm(y, x, t);
    }

    // The term with its second derivatives, upper triangle by rows (simd::pairIndex):
    //   d2/dti dtj = -(dy/dti dy/dtj)/sigma^2 - r/sigma d2y/dti dtj + d2J/dti dtj,
    //   d2/dt dmu = dy/dt/sigma^2, d2/dt dsigma = 2 r dy/dt/sigma^2, d2/dmu2 = -1/sigma^2,
    //   d2/dmu dsigma = -2 r/sigma^2, d2/dsigma2 = (1 - 3 r^2)/sigma^2.
    static double curvature(double x, double y, const typename F::Terms &t, double *g, double *h) {
        const Params &p = t.p;
        std::array<double, kT> dy{}, dJ{};
        std::array<double, simd::pairCount(kT)> dyy{}, dJJ{};
        G::derivatives(x, y, p, dy.data(), dJ.data());
        G::secondDerivatives(x, y, p, dyy.data(), dJJ.data());
        const double r = (y - p.mu) / p.sigma, iv = 1.0 / (p.sigma * p.sigma);
        for (std::size_t i = 0; i < kT; ++i) {
            for (std::size_t j = i; j < kT; ++j) {
                h[simd::pairIndex(i, j, kP)] = -(dy[i] * dy[j]) * iv - r / p.sigma * dyy[simd::pairIndex(i, j, kT)] +
                                               dJJ[simd::pairIndex(i, j, kT)];
            }
            h[simd::pairIndex(i, kT, kP)] = dy[i] * iv;
            h[simd::pairIndex(i, kT + 1, kP)] = 2.0 * r * dy[i] * iv;
        }
        h[simd::pairIndex(kT, kT, kP)] = -iv;
        h[simd::pairIndex(kT, kT + 1, kP)] = -2.0 * r * iv;
        h[simd::pairIndex(kT + 1, kT + 1, kP)] = (1.0 - 3.0 * (r * r)) * iv;
        return uncensored(x, y, t, g);
    }

    static double score(double threshold, const Params &p, double *dz) {
        const double y = F::forward(threshold, p);
        std::array<double, kT> dy{};
        G::derivatives(threshold, y, p, dy.data(), nullptr);
        return scoreOf(y, dy.data(), p, dz);
    }

    // The score with its second derivatives dzz (kP square, row-major).
    static double scoreCurvature(double threshold, const Params &p, double *dz, double *dzz) {
        const double y = F::forward(threshold, p);
        std::array<double, kT> dy{};
        std::array<double, simd::pairCount(kT)> dyy{};
        G::derivatives(threshold, y, p, dy.data(), nullptr);
        G::secondDerivatives(threshold, y, p, dyy.data(), nullptr);
        const double z = scoreOf(y, dy.data(), p, dz);
        secondOfScore(z, dy.data(), dyy.data(), p, dzz);
        return z;
    }

    // z = (y - mu)/sigma and its derivatives, given y and dy/dt.
    static double scoreOf(double y, const double *dy, const Params &p, double *dz) {
        const double z = (y - p.mu) / p.sigma;
        for (std::size_t j = 0; j < kT; ++j) {
            dz[j] = dy[j] / p.sigma;
        }
        dz[kT] = -1.0 / p.sigma;
        dz[kT + 1] = -z / p.sigma;
        return z;
    }

    // d2z: d2y/dt2/sigma in t, -dy/dt/sigma^2 in t and sigma, 1/sigma^2 in mu and sigma,
    // 2 z/sigma^2 in sigma; 0 elsewhere.
    static void secondOfScore(double z, const double *dy, const double *dyy, const Params &p, double *dzz) {
        const double iv = 1.0 / (p.sigma * p.sigma);
        for (std::size_t k = 0; k < kP * kP; ++k) {
            dzz[k] = 0.0;
        }
        for (std::size_t i = 0; i < kT; ++i) {
            for (std::size_t j = i; j < kT; ++j) {
                dzz[i * kP + j] = dzz[j * kP + i] = dyy[simd::pairIndex(i, j, kT)] / p.sigma;
            }
            dzz[i * kP + kT + 1] = dzz[(kT + 1) * kP + i] = -dy[i] * iv;
        }
        dzz[kT * kP + kT + 1] = dzz[(kT + 1) * kP + kT] = iv;
        dzz[(kT + 1) * kP + kT + 1] = 2.0 * z * iv;
    }
};

template <class F> struct GradientOf;
template <> struct GradientOf<YeoJohnson> : NormalModelGradient<YeoJohnsonGradient> {};
template <> struct GradientOf<LogSinh> : NormalModelGradient<LogSinhGradient> {};
template <> struct GradientOf<SinhAsinh> : NormalModelGradient<SinhAsinhGradient> {};
template <> struct GradientOf<JonesPewsey> : JonesPewseyGradient {};

// Whether the likelihood of a family has an analytic Hessian (else local methods difference
// its gradient).
template <class G, class = void> struct HasCurvature : std::false_type {};
template <class G> struct HasCurvature<G, std::void_t<decltype(G::kCurvature)>> : std::bool_constant<G::kCurvature> {};

// Whether a family's range can be bounded: it then gives the slope of the range's ends.
template <class G, class = void> struct HasRangeEnds : std::false_type {};
template <class G> struct HasRangeEnds<G, std::void_t<decltype(&G::rangeEndSlope)>> : std::true_type {};

// How the rows of core/simd/vector_kernels.hpp (each value's weighted term and derivatives,
// its censored weight) are computed for a run of distinct values: by the vector kernels of
// the machine (the fits), or one scalar value at a time (the reference of the tests).
struct VectorGradientRows {
    template <class F> struct At {
        simd::TermPoint point;
        simd::GradientMap map, curvatureMap;
        At(const typename F::Params &p, double left, double right)
            : point(VectorEvaluation::shapePoint<F>(F::terms(p), left, right)),
              map(simd::activeKernels().gradients[VectorEvaluation::familyIndex<F>()]),
              curvatureMap(simd::activeKernels().curvatures[VectorEvaluation::familyIndex<F>()]) {}
        // With curvature, the second-derivative rows too (a family with an analytic Hessian).
        void operator()(const double *x, const double *w, double *rows, std::size_t n, bool curvature) const {
            (curvature ? curvatureMap : map)(point, x, w, rows, n);
        }
    };
};

struct ScalarGradientRows {
    template <class F> struct At {
        typename F::Terms terms;
        double left, right, tL, tR;
        At(const typename F::Params &p, double leftThreshold, double rightThreshold)
            : terms(F::terms(p)), left(leftThreshold), right(rightThreshold), tL(F::forward(left, p)),
              tR(F::forward(right, p)) {}
        void operator()(const double *x, const double *w, double *rows, std::size_t n, bool curvature) const {
            constexpr std::size_t kPairs = simd::pairCount(F::kParams);
            const std::size_t count = curvature ? simd::kCurvatureRow + kPairs : simd::kGradientRows;
            std::array<double, F::kParams> g{};
            std::array<double, kPairs> h{};
            for (std::size_t i = 0; i < n; ++i) {
                for (std::size_t r = 0; r < count; ++r) {
                    rows[r * n + i] = 0.0;
                }
                const double y = F::forward(x[i], terms.p);
                switch (classify(x[i], y, left, right, tL, tR)) {
                case Censoring::None:
                    if constexpr (HasCurvature<GradientOf<F>>::value) {
                        if (curvature) {
                            GradientOf<F>::curvature(x[i], y, terms, g.data(), h.data());
                            for (std::size_t k = 0; k < kPairs; ++k) {
                                rows[(simd::kCurvatureRow + k) * n + i] = w[i] * h[k];
                            }
                        }
                    }
                    rows[simd::kTermRow * n + i] = w[i] * GradientOf<F>::uncensored(x[i], y, terms, g.data());
                    for (std::size_t j = 0; j < F::kParams; ++j) {
                        rows[(simd::kSlopeRow + j) * n + i] = w[i] * g[j];
                    }
                    break;
                case Censoring::Left:
                    rows[simd::kLeftRow * n + i] = w[i];
                    break;
                default:
                    rows[simd::kRightRow * n + i] = w[i];
                }
            }
        }
    };
};

// The likelihood and its gradient over the distinct values (sorted, each weighted by its
// multiplicity), cut into pieces of kPiece consecutive values. Each row of a piece is summed
// pairwise (pairwise_sum.hpp), then the pieces' sums pairwise in piece order: the order is a
// function of the number of distinct values alone, so the result is the same on any thread
// count. Pieces go to the threads only where ThreadChoice (core/simd/thread_choice.hpp) finds
// that they pay; on one thread no allocation per call.
template <class F, class Rows = VectorGradientRows> class LikelihoodGradient {
    using G = GradientOf<F>;

public:
    static constexpr std::size_t kParams = F::kParams;
    static constexpr std::size_t kPiece = 2048;
    // Whether h of operator() receives the Hessian.
    static constexpr bool kHasHessian = HasCurvature<G>::value;

    LikelihoodGradient(const PreparedSeries &series, bool isMap)
        : series_(series), isMap_(isMap), pieceSums_(kRowsMost * ((distinctCount() + kPiece - 1) / kPiece)),
          rows_(kRowsMost * std::min(kPiece, distinctCount())) {}

    // log L at q (prior added when asked); g receives d log L / dq and, where the family has
    // an analytic Hessian and h is given, h the second derivatives (kParams square, row-major).
    double operator()(const double *q, double *g, double *h = nullptr) const {
        const typename F::Params p = F::decode(q);
        const bool curvature = kHasHessian && h != nullptr;
        if (F::outOfRange(p)) {
            std::fill(g, g + kParams, 0.0);
            if (curvature) {
                std::fill(h, h + kParams * kParams, 0.0);
            }
            return kOutOfRangeTerm * static_cast<double>(series_.values().size());
        }
        const double left = series_.left(), right = series_.right();
        const typename Rows::template At<F> at(p, left, right);
        const std::array<double, kRowsMost> total =
            curvature ? rowSums<kCurvatureRows>(at) : rowSums<kGradientRows>(at);
        double s = total[simd::kTermRow];
        Square natural2{};
        Params natural{}, term{};
        for (std::size_t j = 0; j < kParams; ++j) {
            natural[j] = total[simd::kSlopeRow + j];
        }
        Square *second = curvature ? &natural2 : nullptr;
        if (curvature) {
            for (std::size_t i = 0; i < kParams; ++i) {
                for (std::size_t j = i; j < kParams; ++j) {
                    natural2[i * kParams + j] = natural2[j * kParams + i] =
                        total[simd::kCurvatureRow + simd::pairIndex(i, j, kParams)];
                }
            }
        }
        const double nLeft = total[simd::kLeftRow], nRight = total[simd::kRightRow];
        // The ends of the range (infinite scores where it is unbounded).
        Params dzB{}, dzT{};
        Square dzzB{}, dzzT{}, dzz{};
        const double inf = std::numeric_limits<double>::infinity();
        const double zB = rangeEnd(-inf, p, dzB, dzzB), zT = rangeEnd(inf, p, dzT, dzzT);
        if (nLeft > 0.0) {
            const double zL = score(left, p, term, dzz, curvature);
            s += nLeft * between({zB, dzB, dzzB}, {zL, term, dzz}, nLeft, natural, second);
        }
        if (nRight > 0.0) {
            const double zR = score(right, p, term, dzz, curvature);
            s += nRight * between({zR, term, dzz}, {zT, dzT, dzzT}, nRight, natural, second);
        }
        if (std::isfinite(zB) || std::isfinite(zT)) {
            const double n = static_cast<double>(series_.values().size());
            s -= n * between({zB, dzB, dzzB}, {zT, dzT, dzzT}, -n, natural, second);
        }
        if (isMap_) {
            s += F::logPrior(p);
            G::priorGradient(p, natural.data());
            if constexpr (kHasHessian) {
                if (curvature) {
                    G::priorCurvature(p, natural2.data());
                }
            }
        }
        G::toSearch(q, p, natural.data(), g);
        if constexpr (kHasHessian) {
            if (curvature) {
                G::toSearchCurvature(q, p, natural.data(), natural2.data(), h);
            }
        }
        return s;
    }

private:
    using Params = std::array<double, kParams>;
    using Square = std::array<double, kParams * kParams>;
    static constexpr std::size_t kGradientRows = simd::kGradientRows;
    static constexpr std::size_t kCurvatureRows = simd::kCurvatureRow + simd::pairCount(kParams);
    static constexpr std::size_t kRowsMost = kHasHessian ? kCurvatureRows : kGradientRows;

    // A score with its first and (where wanted) second derivatives in the natural parameters.
    struct Score {
        double z;
        const Params &dz;
        const Square &dzz;
    };

    std::size_t distinctCount() const { return series_.distinct().size(); }

    // The sums of the first R rows over the distinct values, in the order above.
    template <std::size_t R, class At> std::array<double, kRowsMost> rowSums(const At &at) const {
        const std::size_t n = distinctCount();
        const std::size_t pieces = pieceSums_.size() / kRowsMost;
        const double *x = series_.distinct().data();
        const auto piece = [&](std::size_t k, double *rows) {
            const std::size_t from = k * kPiece, m = std::min(kPiece, n - from);
            at(x + from, series_.counts().data() + from, rows, m, R > kGradientRows);
            for (std::size_t r = 0; r < R; ++r) {
                const double *row = rows + r * m;
                pieceSums_[k * kRowsMost + r] = pairwiseSum(m, [row](std::size_t i) { return row[i]; });
            }
        };
        forEachPiece<G>(n, pieces, R * kPiece, rows_.data(), piece);
        std::array<double, kRowsMost> total{};
        for (std::size_t r = 0; r < R; ++r) {
            total[r] = pairwiseSum(pieces, [&](std::size_t k) { return pieceSums_[k * kRowsMost + r]; });
        }
        return total;
    }

    // A threshold's score, with its second derivatives when asked.
    static double score(double threshold, const typename F::Params &p, Params &dz, Square &dzz, bool curvature) {
        if constexpr (kHasHessian) {
            if (curvature) {
                return G::scoreCurvature(threshold, p, dz.data(), dzz.data());
            }
        }
        return G::score(threshold, p, dz.data());
    }

    // The score of an end of the transform's range and its derivatives in the natural
    // parameters (zero where the score is infinite).
    static double rangeEnd(double end, const typename F::Params &p, Params &dz, Square &dzz) {
        const double z = ValueTerm<F, AccurateNormalMass>::rangeScore(end, p);
        if constexpr (HasRangeEnds<G>::value) {
            if (std::isfinite(z)) {
                constexpr std::size_t kT = F::kTransParams;
                std::array<double, kT> dt{};
                G::rangeEndSlope(end, p, dt.data());
                for (std::size_t j = 0; j < kT; ++j) {
                    dz[j] = dt[j] / p.sigma;
                }
                dz[kT] = -1.0 / p.sigma;
                dz[kT + 1] = -z / p.sigma;
                if constexpr (kHasHessian) {
                    std::array<double, simd::pairCount(kT)> dtt{};
                    G::rangeEndCurvature(end, p, dtt.data());
                    G::secondOfScore(z, dt.data(), dtt.data(), p, dzz.data());
                }
            }
        }
        return z;
    }

    // log(Phi(b) - Phi(a)), adding count times its gradient to natural and, when second is
    // given, count times its Hessian to second.
    static double between(const Score &a, const Score &b, double count, Params &natural, Square *second) {
        const double logMass = logNormalMassBetween(a.z, b.z);
        const double logRoot = -0.5 * std::log(kTwoPi);
        const double wa = std::isfinite(a.z) ? std::exp(-0.5 * a.z * a.z + logRoot - logMass) : 0.0;
        const double wb = std::isfinite(b.z) ? std::exp(-0.5 * b.z * b.z + logRoot - logMass) : 0.0;
        Params v{};
        for (std::size_t j = 0; j < kParams; ++j) {
            v[j] = wb * b.dz[j] - wa * a.dz[j];
            natural[j] += count * v[j];
        }
        if (second != nullptr) {
            const double za = std::isfinite(a.z) ? a.z * wa : 0.0, zb = std::isfinite(b.z) ? b.z * wb : 0.0;
            for (std::size_t i = 0; i < kParams; ++i) {
                for (std::size_t j = 0; j < kParams; ++j) {
                    const std::size_t k = i * kParams + j;
                    const double d2 =
                        wb * b.dzz[k] - wa * a.dzz[k] - zb * b.dz[i] * b.dz[j] + za * a.dz[i] * a.dz[j] - v[i] * v[j];
                    (*second)[k] += count * d2;
                }
            }
        }
        return logMass;
    }

    const PreparedSeries &series_;
    bool isMap_;
    // Scratch, overwritten by every call: each piece's row sums, one piece's rows.
    mutable Vector pieceSums_;
    mutable Vector rows_;
};

} // namespace ferrule
