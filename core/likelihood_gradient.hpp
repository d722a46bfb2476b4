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
// log Phi of the fitted distribution. The uncensored terms and their derivatives come from
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
template <class G> struct NormalModelGradient : G {
    using F = typename G::F;
    using Params = typename F::Params;
    static constexpr std::size_t kT = F::kTransParams;

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

    static double score(double threshold, const Params &p, double *dz) {
        const double y = F::forward(threshold, p);
        std::array<double, kT> dy{};
        G::derivatives(threshold, y, p, dy.data(), nullptr);
        const double z = (y - p.mu) / p.sigma;
        for (std::size_t j = 0; j < kT; ++j) {
            dz[j] = dy[j] / p.sigma;
        }
        dz[kT] = -1.0 / p.sigma;
        dz[kT + 1] = -z / p.sigma;
        return z;
    }
};

template <class F> struct GradientOf;
template <> struct GradientOf<YeoJohnson> : NormalModelGradient<YeoJohnsonGradient> {};
template <> struct GradientOf<LogSinh> : NormalModelGradient<LogSinhGradient> {};
template <> struct GradientOf<SinhAsinh> : NormalModelGradient<SinhAsinhGradient> {};
template <> struct GradientOf<JonesPewsey> : JonesPewseyGradient {};

// Whether a family's range can be bounded: it then gives the slope of the range's ends.
template <class G, class = void> struct HasRangeEnds : std::false_type {};
template <class G> struct HasRangeEnds<G, std::void_t<decltype(&G::rangeEndSlope)>> : std::true_type {};

// How the rows of core/simd/vector_kernels.hpp (each value's weighted term and derivatives,
// its censored weight) are computed for a run of distinct values: by the vector kernels of
// the machine (the fits), or one scalar value at a time (the reference of the tests).
struct VectorGradientRows {
    template <class F> struct At {
        simd::TermPoint point;
        simd::GradientMap map;
        At(const typename F::Params &p, double left, double right)
            : point(VectorEvaluation::point<F>(ValueTerm<F, AccurateNormalMass>(p, left, right))),
              map(simd::activeKernels().gradients[VectorEvaluation::familyIndex<F>()]) {}
        void operator()(const double *x, const double *w, double *rows, std::size_t n) const {
            map(point, x, w, rows, n);
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
        void operator()(const double *x, const double *w, double *rows, std::size_t n) const {
            std::array<double, F::kParams> g{};
            for (std::size_t i = 0; i < n; ++i) {
                for (std::size_t r = 0; r < simd::kGradientRows; ++r) {
                    rows[r * n + i] = 0.0;
                }
                const double y = F::forward(x[i], terms.p);
                switch (classify(x[i], y, left, right, tL, tR)) {
                case Censoring::None:
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
public:
    static constexpr std::size_t kParams = F::kParams;
    static constexpr std::size_t kPiece = 2048;

    LikelihoodGradient(const PreparedSeries &series, bool isMap)
        : series_(series), isMap_(isMap), pieceSums_(simd::kGradientRows * ((distinctCount() + kPiece - 1) / kPiece)),
          rows_(simd::kGradientRows * std::min(kPiece, distinctCount())) {}

    // log L at q (prior added when asked); g receives d log L / dq.
    double operator()(const double *q, double *g) const {
        const typename F::Params p = F::decode(q);
        if (F::outOfRange(p)) {
            for (std::size_t j = 0; j < kParams; ++j) {
                g[j] = 0.0;
            }
            return kOutOfRangeTerm * static_cast<double>(series_.values().size());
        }
        const double left = series_.left(), right = series_.right();
        const std::array<double, simd::kGradientRows> total = rowSums(typename Rows::template At<F>(p, left, right));
        double s = total[simd::kTermRow];
        std::array<double, kParams> natural{}, term{};
        for (std::size_t j = 0; j < kParams; ++j) {
            natural[j] = total[simd::kSlopeRow + j];
        }
        const double nLeft = total[simd::kLeftRow], nRight = total[simd::kRightRow];
        // The ends of the range (infinite scores where it is unbounded).
        std::array<double, kParams> dzB{}, dzT{};
        const double inf = std::numeric_limits<double>::infinity();
        const double zB = rangeEnd(-inf, p, dzB), zT = rangeEnd(inf, p, dzT);
        if (nLeft > 0.0) {
            const double zL = G::score(left, p, term.data());
            s += nLeft * between(zB, dzB, zL, term, nLeft, natural);
        }
        if (nRight > 0.0) {
            std::array<double, kParams> dzR{};
            const double zR = G::score(right, p, dzR.data());
            s += nRight * between(zR, dzR, zT, dzT, nRight, natural);
        }
        if (std::isfinite(zB) || std::isfinite(zT)) {
            const double n = static_cast<double>(series_.values().size());
            s -= n * between(zB, dzB, zT, dzT, -n, natural);
        }
        if (isMap_) {
            s += F::logPrior(p);
            G::priorGradient(p, natural.data());
        }
        G::toSearch(q, p, natural.data(), g);
        return s;
    }

private:
    using G = GradientOf<F>;

    std::size_t distinctCount() const { return series_.distinct().size(); }

    // The sums of the rows over the distinct values, in the order above.
    template <class At> std::array<double, simd::kGradientRows> rowSums(const At &at) const {
        const std::size_t n = distinctCount();
        const std::size_t pieces = pieceSums_.size() / simd::kGradientRows;
        const double *x = series_.distinct().data();
        const auto piece = [&](std::size_t k, double *rows) {
            const std::size_t from = k * kPiece, m = std::min(kPiece, n - from);
            at(x + from, series_.counts().data() + from, rows, m);
            for (std::size_t r = 0; r < simd::kGradientRows; ++r) {
                const double *row = rows + r * m;
                pieceSums_[k * simd::kGradientRows + r] = pairwiseSum(m, [row](std::size_t i) { return row[i]; });
            }
        };
        forEachPiece<G>(n, pieces, simd::kGradientRows * kPiece, rows_.data(), piece);
        std::array<double, simd::kGradientRows> total{};
        for (std::size_t r = 0; r < simd::kGradientRows; ++r) {
            total[r] = pairwiseSum(pieces, [&](std::size_t k) { return pieceSums_[k * simd::kGradientRows + r]; });
        }
        return total;
    }

    // The score of an end of the transform's range and its derivatives in the natural
    // parameters (zero where the score is infinite).
    static double rangeEnd(double end, const typename F::Params &p, std::array<double, kParams> &dz) {
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
            }
        }
        return z;
    }

    // log(Phi(b) - Phi(a)), adding count d/dp of it to natural.
    static double between(double a, const std::array<double, kParams> &da, double b,
                          const std::array<double, kParams> &db, double count, std::array<double, kParams> &natural) {
        const double logMass = logNormalMassBetween(a, b);
        const double logRoot = -0.5 * std::log(kTwoPi);
        const double wa = std::isfinite(a) ? std::exp(-0.5 * a * a + logRoot - logMass) : 0.0;
        const double wb = std::isfinite(b) ? std::exp(-0.5 * b * b + logRoot - logMass) : 0.0;
        for (std::size_t j = 0; j < kParams; ++j) {
            natural[j] += count * (wb * db[j] - wa * da[j]);
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
