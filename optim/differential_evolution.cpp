// Differential evolution, rand/1/bin (Storn & Price 1997), minimising over a box:
// Latin-hypercube start, members replaced in place, mutants clamped to the box.
#include "optim/differential_evolution.hpp"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "optim/random.hpp"

namespace ferrule {

namespace {

constexpr int kMaxGenerations = 1000;
constexpr int kReportEvery = 100;
// Convergence: the spread of the objective values is at most this fraction of their
// mean magnitude, which is floored at kMinScale so a mean near 0 still allows it.
constexpr double kRelativeSpread = 1e-6;
constexpr double kMinScale = 1e-12;
// Members whose final value is not below this are never returned.
constexpr double kWorstAccepted = 1e20;

// Smallest objective value of the population for the progress lines; NaN values are
// passed over, and the result is NaN only when every value is NaN.
double smallestValue(const Eigen::VectorXd &fitness) {
    double smallest = std::numeric_limits<double>::quiet_NaN();
    for (Eigen::Index i = 0; i < fitness.size(); ++i) {
        if (fitness[i] < smallest || std::isnan(smallest)) {
            smallest = fitness[i];
        }
    }
    return smallest;
}

void copyMember(const Eigen::MatrixXd &population, Eigen::Index i, Vector &out) {
    for (Eigen::Index k = 0; k < population.cols(); ++k) {
        out[static_cast<std::size_t>(k)] = population(i, k);
    }
}

} // namespace

FitResult differentialEvolution(const Vector &lower, const Vector &upper, ObjectiveRef objective, double weight,
                                double crossover, int populationSize, std::mt19937 &engine, MessageSink &sink) {
    const auto n = static_cast<Eigen::Index>(lower.size());
    const Eigen::Index size = populationSize;
    const double dsize = static_cast<double>(populationSize);

    sink.line(formatLine(lower[0]));

    // Members are rows; each parameter's values are contiguous (column-major).
    Eigen::MatrixXd population(size, n);
    Eigen::VectorXd fitness = Eigen::VectorXd::Zero(size);

    // Latin hypercube: the midpoints of populationSize equal strata of each parameter's
    // range, dealt to the members in shuffled order.
    Vector strata(static_cast<std::size_t>(size));
    for (Eigen::Index i = 0; i < n; ++i) {
        const double width = upper[i] - lower[i];
        for (Eigen::Index j = 0; j < size; ++j) {
            strata[j] = width * ((static_cast<double>(j) + 0.5) / dsize) + lower[i];
        }
        shuffle(strata, engine);
        for (Eigen::Index j = 0; j < size; ++j) {
            population(j, i) = strata[j];
        }
    }

    // Each member's value, from its first evaluation until it is replaced (by the trial,
    // whose value it then takes).
    std::vector<bool> known(static_cast<std::size_t>(size), false);
    std::int64_t evaluations = 0;
    auto evaluate = [&](const Vector &x) {
        ++evaluations;
        return objective(x);
    };

    std::vector<int> donors(static_cast<std::size_t>(size));
    Vector member(static_cast<std::size_t>(n));
    Vector mutant(static_cast<std::size_t>(n));
    Vector trial(static_cast<std::size_t>(n));

    int count = kMaxGenerations;
    for (int g = 0; g < kMaxGenerations; ++g) {
        for (Eigen::Index i = 0; i < size; ++i) {
            // Three distinct donors; member i itself may be one of them.
            std::iota(donors.begin(), donors.end(), 0);
            shuffle(donors, engine);
            const Eigen::Index a = donors[0];
            const Eigen::Index b = donors[1];
            const Eigen::Index c = donors[2];

            for (Eigen::Index k = 0; k < n; ++k) {
                double v = (population(b, k) - population(c, k)) * weight + population(a, k);
                if (lower[k] > v) {
                    v = lower[k];
                } else if (v > upper[k]) {
                    v = upper[k];
                }
                mutant[k] = v;
            }

            // Binomial crossover; component jrand always comes from the mutant, but its
            // uniform is drawn all the same.
            const auto jrand = static_cast<Eigen::Index>(uniformBelow(engine, static_cast<std::uint32_t>(n)));
            for (Eigen::Index k = 0; k < n; ++k) {
                const double u = canonical(engine);
                trial[k] = (k == jrand || crossover > u) ? mutant[k] : population(i, k);
            }

            // A tie replaces the member; a NaN on either side keeps it.
            if (!known[static_cast<std::size_t>(i)]) {
                copyMember(population, i, member);
                fitness[i] = evaluate(member);
                known[static_cast<std::size_t>(i)] = true;
            }
            const double fTrial = evaluate(trial);
            if (fitness[i] >= fTrial) {
                for (Eigen::Index k = 0; k < n; ++k) {
                    population(i, k) = trial[k];
                }
                fitness[i] = fTrial;
            }
        }

        double total = 0.0;
        for (Eigen::Index i = 0; i < size; ++i) {
            total += fitness[i];
        }
        const double mean = total / dsize;
        // A NaN mean must give a NaN scale, so the test below fails.
        const double scale = std::isnan(mean) ? mean : std::max(kMinScale, std::fabs(mean));
        double squares = 0.0;
        for (Eigen::Index i = 0; i < size; ++i) {
            const double d = fitness[i] - mean;
            squares += d * d;
        }
        const double sd = std::sqrt(squares / (dsize - 1.0));

        if (scale * kRelativeSpread >= sd) {
            sink.line(formatLine("DE converged after ", g, " iterations"));
            sink.line(formatLine("Best objective = ", smallestValue(fitness)));
            count = g;
            break;
        }
        if (g % kReportEvery == 0) {
            sink.line(formatLine("Iteration ", g, ": best objective = ", smallestValue(fitness)));
        }
    }

    // The first of the smallest final values below 1e20; NaN is never taken.
    double bestValue = kWorstAccepted;
    Eigen::Index best = -1;
    for (Eigen::Index i = 0; i < size; ++i) {
        if (fitness[i] < bestValue) {
            bestValue = fitness[i];
            best = i;
        }
    }
    FitResult result{count, {}, evaluations, count == kMaxGenerations};
    if (best >= 0) {
        copyMember(population, best, member);
        result.params = member;
    }
    return result;
}

} // namespace ferrule
