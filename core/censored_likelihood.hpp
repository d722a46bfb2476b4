// The censored log-likelihood of one series: the hot path of every fit.
//
//   log L(q) = sum_i term_i + (log prior when asked),
//
// where, with the natural parameters p = decode(q), y_i = T(x_i), tL = T(L), tR = T(R):
//   uncensored  term_i = the family's density term at (y_i, x_i)
//   left        term_i = log Phi(zL)        (the mass the model puts below L)
//   right       term_i = log(1 - Phi(zR))   (the mass above R)
// as classify() (censoring.hpp) decides, and every term is kOutOfRangeTerm when the family
// refuses p. The scores zL, zR are the family's (F::thresholdScore): (tL - mu)/sigma when
// T(x) is modelled as normal, T((L - mu)/sigma) when the raw value is (Jones-Pewsey). The
// policy Mass (likelihood_policy.hpp) decides how Phi and its logarithm are evaluated, and
// whether the normal is renormalised to the transform's range (every uncensored term then
// has log M subtracted, M the normal's mass inside the range, and the censored masses are
// those inside the range over M); and through Mass::Evaluation how the terms are computed
// and in which order they are added: the exact layer one scalar term at a time and value by
// value in index order, the public layer with vector kernels and pairwise
// (core/pairwise_sum.hpp). The sum is held in doubles, so one -inf term makes it -inf and
// one NaN term NaN.
//
// The exact layer's speed without changing a bit: a term depends only on the value (and p),
// so each distinct value's term is computed once per evaluation and the sum then adds the
// terms in the order of the values, the same additions in the same order as one term per
// value. The distinct
// values and each value's slot among them are found once, when the series is prepared.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "core/bit_order.hpp"
#include "core/censoring.hpp"
#include "core/checkpoint.hpp"
#include "core/families/kernel_support.hpp"
#include "core/likelihood_policy.hpp"

namespace ferrule {

using Vector = std::vector<double>;

// A series as the likelihood sees it (rescaled when the fit rescales), its thresholds in
// the same units, and its distinct values: values[i] has the same bits as distinct[slot[i]].
// Its checkpoint is where the loops over it (preparing it, the gradient, the facts) report
// their work, so that a fit's caller can stop a long one (none by default).
class PreparedSeries {
public:
    PreparedSeries(Vector values, double left, double right, Checkpoint checkpoint = {})
        : values_(std::move(values)), left_(left), right_(right), slot_(values_.size()), checkpoint_(checkpoint) {
        // Distinct by bit pattern (so -0.0 and 0.0, or two NaN payloads, stay apart): order
        // the values by bits, then number each run of equal bits.
        const BitOrder order = bitOrder(values_, checkpoint_);
        for (std::size_t k = 0; k < order.patterns.size(); ++k) {
            if (k == 0 || order.patterns[k] != order.patterns[k - 1]) {
                distinct_.push_back(values_[order.positions[k]]);
                counts_.push_back(0.0);
            }
            counts_.back() += 1.0;
            slot_[order.positions[k]] = static_cast<std::uint32_t>(distinct_.size() - 1);
            checkpoint_.done();
        }
    }

    const Vector &values() const { return values_; }
    const Vector &distinct() const { return distinct_; }
    const Vector &counts() const { return counts_; } // how many values share each distinct one
    const std::vector<std::uint32_t> &slots() const { return slot_; }
    double left() const { return left_; }
    double right() const { return right_; }
    const Checkpoint &checkpoint() const { return checkpoint_; }

private:
    Vector values_;
    double left_;
    double right_;
    Vector distinct_;
    Vector counts_;
    std::vector<std::uint32_t> slot_;
    Checkpoint checkpoint_;
};

// Where one value stands at one parameter point: its censoring and its likelihood term.
template <class F, class Mass> struct ValueTerm {
    typename F::Params p;
    typename F::Terms terms; // the parts of an uncensored term fixed by p
    double left, right, tL, tR;
    CensoredMasses masses; // the censored terms, the same for every value on their side

    ValueTerm(const typename F::Params &params, double leftThreshold, double rightThreshold)
        : p(params), terms(F::terms(params)), left(leftThreshold), right(rightThreshold),
          tL(F::forward(leftThreshold, params)), tR(F::forward(rightThreshold, params)),
          masses(massesAt(params, leftThreshold, rightThreshold, tL, tR)) {}

    // Where an end of the line stands in the model: the score of T(+-inf), or +-inf where T
    // is undefined there (log-sinh below its domain, whose transform tends to -inf).
    static double rangeScore(double end, const typename F::Params &params) {
        const double t = F::forward(end, params);
        return F::thresholdScore(end, std::isnan(t) ? end : t, params);
    }

    static CensoredMasses massesAt(const typename F::Params &params, double left, double right, double tL, double tR) {
        const double zL = F::thresholdScore(left, tL, params);
        const double zR = F::thresholdScore(right, tR, params);
        if constexpr (Mass::kWithinRange) {
            const double inf = std::numeric_limits<double>::infinity();
            return Mass::masses(rangeScore(-inf, params), zL, zR, rangeScore(inf, params));
        } else {
            return Mass::masses(zL, zR);
        }
    }

    Censoring side(double x) const { return classify(x, F::forward(x, p), left, right, tL, tR); }

    // The likelihood term of x when the family accepts p (see F::outOfRange). A censored
    // term depends on its side alone.
    double term(double x) const {
        const double y = F::forward(x, p);
        switch (classify(x, y, left, right, tL, tR)) {
        case Censoring::None:
            return F::uncensoredTerm(y, x, terms) - masses.logInside; // x - 0.0 is x, bit for bit
        case Censoring::Left:
            return masses.below;
        default:
            return masses.above;
        }
    }

    // The log Jacobian in an uncensored term; 0 for a censored value.
    double logJacobian(double x) const { return side(x) == Censoring::None ? F::termLogJacobian(x, p) : 0.0; }
};

template <class F, class Mass> class CensoredLikelihood {
public:
    CensoredLikelihood(const PreparedSeries &series, bool isMap)
        : series_(series), isMap_(isMap), terms_(series.distinct().size()) {}

    // log L at the search vector q (F::kParams entries), the prior added when isMap.
    double logLik(const double *q) const { return logLikAt(F::decode(q)); }

    double logLikAt(const typename F::Params &p) const {
        const std::vector<std::uint32_t> &slots = series_.slots();
        double s = 0.0;
        if (F::outOfRange(p)) {
            for (std::size_t i = 0; i < slots.size(); ++i) {
                s = kOutOfRangeTerm + s;
            }
        } else {
            const ValueTerm<F, Mass> at(p, series_.left(), series_.right());
            s = Mass::Evaluation::template sumOfTerms<F>(at, series_, terms_);
        }
        if (isMap_) {
            s = F::logPrior(p) + s;
        }
        return s;
    }

private:
    const PreparedSeries &series_;
    bool isMap_;
    // Scratch: one term per distinct value, overwritten by every evaluation. The result is
    // a function of q and the series alone.
    mutable Vector terms_;
};

} // namespace ferrule
