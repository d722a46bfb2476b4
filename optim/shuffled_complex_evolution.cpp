// Shuffled complex evolution (Duan, Sorooshian & Gupta 1992), minimising over a box:
// a ranked population is dealt into complexes, each complex is evolved by
// simplex-like steps on random sub-complexes, and the complexes are shuffled
// together again, until the best value stops changing.
#include "optim/shuffled_complex_evolution.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "optim/random.hpp"

namespace ferrule {

namespace {

// Values at or above these mark points the search cannot use: an initial-sample
// point is drawn again, an evolution candidate is replaced by a random one. (The search
// is the maximisation of minus the objective written as a minimisation: every value,
// bound and comparison is the negated one, which IEEE arithmetic mirrors exactly.)
constexpr double kSampleCeiling = 1e30;
constexpr double kInvalidCandidate = 1e10;
// Initial previous best value of the loop; the first loop then always counts as a
// change unless its best value is itself near 1e30.
constexpr double kInitialPrevious = 1e30;
// Relative change test applies only to best values away from 0.
constexpr double kRelativeFloor = 1e-6;
// Value given to a candidate when every random replacement failed: worse than the
// worst member by a clear margin, so the contraction is taken.
constexpr double kGiveUpMargin = 100.0;

using Ranked = std::pair<double, int>;

// Ascending by value alone (best first); the unstable sort leaves ties where it puts
// them. NaN ranks after every number, which keeps the order a strict weak ordering (the
// sort would otherwise be undefined); without NaN it is a plain value comparison.
bool ranksAbove(const Ranked &a, const Ranked &b) {
    return a.first < b.first || (std::isnan(b.first) && !std::isnan(a.first));
}

class ComplexEvolution {
public:
    ComplexEvolution(const Vector &lower, const Vector &upper, ObjectiveRef objective, UniformSource &uniform)
        : lower_(lower), upper_(upper), objective_(objective), uniform_(uniform), n_(lower.size()),
          sizes_(complexSizes(static_cast<int>(lower.size()))),
          points_(static_cast<std::size_t>(sizes_.population), Vector(n_)),
          values_(static_cast<std::size_t>(sizes_.population)), complexes_(static_cast<std::size_t>(sizes_.complexes)),
          ranking_(points_.size()), centroid_(n_), candidate_(n_), low_(n_), high_(n_) {
        rankedPopulation_.reserve(points_.size());
        rankedComplex_.reserve(static_cast<std::size_t>(sizes_.members));
        rankedSub_.reserve(static_cast<std::size_t>(sizes_.subComplex));
        rankPosition_.resize(static_cast<std::size_t>(sizes_.members));
        chosen_.reserve(static_cast<std::size_t>(sizes_.subComplex));
    }

    // Fills every slot with a uniform point valued below 1e30 (or NaN, which also
    // ends the redraws). False when a slot exhausted its draws.
    bool sample() {
        for (std::size_t b = 0; b < points_.size(); ++b) {
            Vector &x = points_[b];
            double value = kSampleCeiling;
            int draws = 0;
            while (value >= kSampleCeiling) {
                if (draws == kMaxSampleDraws) {
                    return false;
                }
                ++draws;
                for (std::size_t k = 0; k < n_; ++k) {
                    x[k] = lower_[k] + (upper_[k] - lower_[k]) * uniform_.next();
                }
                if (inBox(x)) {
                    value = evaluate(x);
                }
            }
            values_[b] = value;
        }
        return true;
    }

    void rankPopulation() {
        rankedPopulation_.clear();
        for (std::size_t b = 0; b < points_.size(); ++b) {
            rankedPopulation_.emplace_back(values_[b], static_cast<int>(b));
        }
        std::sort(rankedPopulation_.begin(), rankedPopulation_.end(), ranksAbove);
        for (std::size_t k = 0; k < ranking_.size(); ++k) {
            ranking_[k] = rankedPopulation_[k].second;
        }
    }

    void evolveAll(int steps) {
        dealComplexes(ranking_, sizes_, complexes_);
        for (const std::vector<int> &complex : complexes_) {
            evolveComplex(complex, steps);
        }
    }

    int best() const { return ranking_[0]; }
    double value(int slot) const { return values_[static_cast<std::size_t>(slot)]; }
    const Vector &point(int slot) const { return points_[static_cast<std::size_t>(slot)]; }
    std::int64_t evaluations() const { return evaluations_; }

private:
    // A NaN coordinate counts as inside.
    bool inBox(const Vector &x) const {
        for (std::size_t d = 0; d < n_; ++d) {
            if (x[d] < lower_[d] || x[d] > upper_[d]) {
                return false;
            }
        }
        return true;
    }

    double evaluate(const Vector &x) {
        ++evaluations_;
        return objective_(x);
    }

    // Evolves one complex (population indices, best first) in place.
    void evolveComplex(const std::vector<int> &complex, int steps) {
        const auto m = static_cast<std::size_t>(sizes_.members);
        const auto q = static_cast<std::size_t>(sizes_.subComplex);
        const double dm = static_cast<double>(m);
        const double dn = static_cast<double>(n_);

        for (std::size_t k = 0; k < m; ++k) {
            rankPosition_[k] = static_cast<int>(k);
        }
        // Reflection factor, halved after each reflection that leaves the box and kept
        // across the selections of this call.
        double alpha = 1.0;

        for (std::size_t selection = 0; selection < m; ++selection) {
            // Sub-complex: q distinct members, every rank equally likely.
            chosen_.clear();
            while (chosen_.size() < q) {
                const double u = uniform_.next();
                std::size_t k = 0;
                while (k + 1 < m && !(u <= static_cast<double>(k + 1) / dm)) {
                    ++k;
                }
                const int slot = complex[static_cast<std::size_t>(rankPosition_[k])];
                if (std::find(chosen_.begin(), chosen_.end(), slot) == chosen_.end()) {
                    chosen_.push_back(slot);
                }
            }

            for (int step = 0; step < steps; ++step) {
                rankedSub_.clear();
                for (const int slot : chosen_) {
                    rankedSub_.emplace_back(values_[static_cast<std::size_t>(slot)], slot);
                }
                std::sort(rankedSub_.begin(), rankedSub_.end(), ranksAbove);
                const auto w = static_cast<std::size_t>(rankedSub_[q - 1].second);
                const Vector &worst = points_[w];
                const double worstValue = values_[w];

                for (std::size_t d = 0; d < n_; ++d) {
                    double sum = 0.0;
                    for (std::size_t j = 0; j + 1 < q; ++j) {
                        sum += points_[static_cast<std::size_t>(rankedSub_[j].second)][d];
                    }
                    centroid_[d] = sum / dn;
                }

                for (std::size_t d = 0; d < n_; ++d) {
                    candidate_[d] = (centroid_[d] - worst[d]) * alpha + centroid_[d];
                }
                double value;
                if (inBox(candidate_)) {
                    value = evaluate(candidate_);
                    alpha = 1.0;
                } else {
                    alpha *= 0.5;
                    value = kInvalidCandidate;
                }

                // Random points in the complex's bounding box replace an unusable
                // candidate; after n + 1 of them the step gives up on replacing.
                std::size_t attempts = 0;
                while (!inBox(candidate_) || value >= kInvalidCandidate) {
                    if (attempts == 0) {
                        boundComplex(complex);
                    }
                    ++attempts;
                    for (std::size_t d = 0; d < n_; ++d) {
                        candidate_[d] = uniform_.next() * (high_[d] - low_[d]) + low_[d];
                    }
                    if (inBox(candidate_)) {
                        value = evaluate(candidate_);
                    }
                    if (attempts > n_) {
                        value = worstValue + kGiveUpMargin;
                        break;
                    }
                }

                if (value < worstValue) {
                    points_[w] = candidate_;
                    values_[w] = value;
                } else {
                    // Contraction towards the centroid, taken whether or not it improves.
                    for (std::size_t d = 0; d < n_; ++d) {
                        centroid_[d] = (worst[d] + centroid_[d]) * 0.5;
                    }
                    if (inBox(centroid_)) {
                        value = evaluate(centroid_);
                    }
                    points_[w] = centroid_;
                    values_[w] = value;
                }
            }

            rankedComplex_.clear();
            for (std::size_t k = 0; k < m; ++k) {
                rankedComplex_.emplace_back(values_[static_cast<std::size_t>(complex[k])], static_cast<int>(k));
            }
            std::sort(rankedComplex_.begin(), rankedComplex_.end(), ranksAbove);
            for (std::size_t k = 0; k < m; ++k) {
                rankPosition_[k] = rankedComplex_[k].second;
            }
        }
    }

    // Per coordinate, the smallest and largest value over the complex's members.
    void boundComplex(const std::vector<int> &complex) {
        for (std::size_t d = 0; d < n_; ++d) {
            double lo = points_[static_cast<std::size_t>(complex[0])][d];
            double hi = lo;
            for (std::size_t k = 1; k < complex.size(); ++k) {
                const double x = points_[static_cast<std::size_t>(complex[k])][d];
                if (x < lo) {
                    lo = x;
                }
                if (x > hi) {
                    hi = x;
                }
            }
            low_[d] = lo;
            high_[d] = hi;
        }
    }

    const Vector &lower_;
    const Vector &upper_;
    ObjectiveRef objective_;
    UniformSource &uniform_;
    std::size_t n_;
    ComplexSizes sizes_;
    std::vector<Vector> points_;
    Vector values_;
    std::vector<std::vector<int>> complexes_;
    std::vector<int> ranking_; // population indices, best first
    std::int64_t evaluations_ = 0;

    // Working storage, reused by every step.
    std::vector<Ranked> rankedPopulation_;
    std::vector<Ranked> rankedComplex_;
    std::vector<Ranked> rankedSub_;
    std::vector<int> rankPosition_; // rank -> position in the complex
    std::vector<int> chosen_;       // sub-complex, population indices in the order drawn
    Vector centroid_;
    Vector candidate_;
    Vector low_;
    Vector high_;
};

// The count is an int; a run that overshoots INT_MAX evaluations reports INT_MAX.
int reportedCount(std::int64_t evaluations) {
    return static_cast<int>(std::min<std::int64_t>(evaluations, std::numeric_limits<int>::max()));
}

} // namespace

ComplexSizes complexSizes(int n) {
    const int m = 2 * n + 1;
    return ComplexSizes{n, m, n * m, n + 1};
}

void dealComplexes(const std::vector<int> &ranking, const ComplexSizes &sizes,
                   std::vector<std::vector<int>> &complexes) {
    complexes.resize(static_cast<std::size_t>(sizes.complexes));
    for (int c = 0; c < sizes.complexes; ++c) {
        std::vector<int> &complex = complexes[static_cast<std::size_t>(c)];
        complex.resize(static_cast<std::size_t>(sizes.members));
        for (int k = 0; k < sizes.members; ++k) {
            complex[static_cast<std::size_t>(k)] = ranking[static_cast<std::size_t>(c + k * sizes.complexes)];
        }
    }
}

FitResult shuffledComplexEvolution(const Vector &lower, const Vector &upper, int maxEval, ObjectiveRef objective,
                                   double tolerance, int maxConverge, UniformSource &uniform) {
    ComplexEvolution search(lower, upper, objective, uniform);
    if (!search.sample()) {
        return FitResult{reportedCount(search.evaluations()),
                         Vector(lower.size(), std::numeric_limits<double>::quiet_NaN()), search.evaluations()};
    }
    search.rankPopulation();
    if (maxConverge < 1) {
        return FitResult{reportedCount(search.evaluations()), search.point(0), search.evaluations()};
    }

    bool limitReached = false;
    double previous = kInitialPrevious;
    int unchanged = 0; // consecutive loops without significant change
    int steps = 1;     // evolution steps per sub-complex
    for (;;) {
        search.evolveAll(steps);
        search.rankPopulation();
        const double bestValue = search.value(search.best());

        // A NaN makes every comparison false: a significant change.
        const double change = std::fabs(bestValue - previous);
        const bool insignificant =
            std::fabs(bestValue) > kRelativeFloor ? change <= std::fabs(previous * tolerance) : change <= tolerance;
        if (insignificant) {
            ++unchanged;
            steps = unchanged + 1;
        } else {
            unchanged = 0;
            steps = 1;
        }
        if (unchanged >= maxConverge) {
            break;
        }
        if (search.evaluations() > maxEval) {
            limitReached = true;
            break;
        }
        previous = bestValue;
    }
    return FitResult{reportedCount(search.evaluations()), search.point(search.best()), search.evaluations(),
                     limitReached};
}

} // namespace ferrule
