// The censored log-likelihood of one series with its analytic gradient in the search
// coordinates, for the local methods of the public layer's fits.
//
// With the natural parameters p = decode(q), a value's term and its derivatives are
//   uncensored        the family's term (normal models: log phi((y - mu)/sigma) - log sigma + J(x))
//   left-censored     log Phi(zL)          d/dp = phi(zL)/Phi(zL) dzL/dp
//   right-censored    log Phi(-zR)         d/dp = -phi(zR)/Phi(-zR) dzR/dp
// where z is the family's score of a threshold ((T(t) - mu)/sigma for normal models), and the
// chain rule through the family's decoding gives d/dq. Censored masses use the accurate
// log Phi of the fitted distribution. Sums run over the distinct values in sorted order,
// each term weighted by its multiplicity: the same order at every call.
#pragma once

#include <array>
#include <cmath>
#include <vector>

#include "core/censored_likelihood.hpp"
#include "core/families/jones_pewsey_gradient.hpp"
#include "core/families/log_sinh_gradient.hpp"
#include "core/families/sinh_asinh_gradient.hpp"
#include "core/families/yeo_johnson_gradient.hpp"
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

template <class F> class LikelihoodGradient {
public:
    using G = GradientOf<F>;
    static constexpr std::size_t kParams = F::kParams;

    LikelihoodGradient(const PreparedSeries &series, bool isMap)
        : series_(series), isMap_(isMap), counts_(series.distinct().size(), 0.0) {
        for (const std::uint32_t slot : series.slots()) {
            counts_[slot] += 1.0;
        }
    }

    // log L at q (prior added when asked); g receives d log L / dq.
    double operator()(const double *q, double *g) const {
        const typename F::Params p = F::decode(q);
        std::array<double, kParams> natural{}, term{};
        double s = 0.0;
        if (F::outOfRange(p)) {
            for (std::size_t j = 0; j < kParams; ++j) {
                g[j] = 0.0;
            }
            return kOutOfRangeTerm * static_cast<double>(series_.values().size());
        }
        const typename F::Terms terms = F::terms(p);
        const double left = series_.left(), right = series_.right();
        const double tL = F::forward(left, p), tR = F::forward(right, p);
        double nLeft = 0.0, nRight = 0.0;
        const Vector &distinct = series_.distinct();
        for (std::size_t d = 0; d < distinct.size(); ++d) {
            const double x = distinct[d];
            const double y = F::forward(x, p);
            switch (classify(x, y, left, right, tL, tR)) {
            case Censoring::None:
                s += counts_[d] * G::uncensored(x, y, terms, term.data());
                for (std::size_t j = 0; j < kParams; ++j) {
                    natural[j] += counts_[d] * term[j];
                }
                break;
            case Censoring::Left:
                nLeft += counts_[d];
                break;
            default:
                nRight += counts_[d];
            }
        }
        if (nLeft > 0.0) {
            s += nLeft * censored(G::score(left, p, term.data()), 1.0, nLeft, term, natural);
        }
        if (nRight > 0.0) {
            s += nRight * censored(G::score(right, p, term.data()), -1.0, nRight, term, natural);
        }
        if (isMap_) {
            s += F::logPrior(p);
            G::priorGradient(p, natural.data());
        }
        G::toSearch(q, p, natural.data(), g);
        return s;
    }

private:
    // log Phi(side z), adding count d/dp of it to natural: d log Phi(v)/dv = phi(v)/Phi(v).
    static double censored(double z, double side, double count, const std::array<double, kParams> &dz,
                           std::array<double, kParams> &natural) {
        const double v = side * z;
        const double logMass = standardNormalLogCdf(v);
        const double ratio = side * std::exp(-0.5 * v * v - 0.5 * std::log(kTwoPi) - logMass);
        for (std::size_t j = 0; j < kParams; ++j) {
            natural[j] += count * ratio * dz[j];
        }
        return logMass;
    }

    const PreparedSeries &series_;
    bool isMap_;
    Vector counts_; // multiplicity of each distinct value
};

} // namespace ferrule
