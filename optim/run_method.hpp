// One run of the optimiser a fit names, on an objective to minimise, with an optional
// engine seed (without one, differential evolution seeds a fresh engine from the
// platform's entropy and shuffled complex evolution draws from the process-wide stream).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>

#include "optim/differential_evolution.hpp"
#include "optim/message_sink.hpp"
#include "optim/nelder_mead.hpp"
#include "optim/random.hpp"
#include "optim/shuffled_complex_evolution.hpp"

namespace ferrule {

enum class Method { NelderMead, DifferentialEvolution, ShuffledComplexEvolution };

namespace run_detail {

// Nelder-Mead: both tolerances 1e-5, 1000 iterations.
inline constexpr double kSimplexTolerance = 1e-5;
inline constexpr int kSimplexMaxIterations = 1000;
// Differential evolution: weight F 0.9, crossover CR 0.8, 25 members.
inline constexpr double kDifferentialWeight = 0.9;
inline constexpr double kCrossoverProbability = 0.8;
inline constexpr int kPopulationSize = 25;
// Shuffled complex evolution: tolerance on the change of the best value.
inline constexpr double kComplexTolerance = 1e-5;

template <std::size_t N> Vector toVector(const std::array<double, N> &a) { return Vector(a.begin(), a.end()); }

} // namespace run_detail

struct RunSettings {
    Method method = Method::NelderMead;
    int maxConverge = 5;  // shuffled complex evolution: loops without change that end it
    int maxEval = 100000; // shuffled complex evolution: evaluation budget
    // Draws of the stochastic optimisers: a seed gives this fit an engine of its own;
    // without one, differential evolution seeds a fresh engine from the platform's entropy
    // and shuffled complex evolution draws from the process-wide stream.
    std::optional<std::uint32_t> seed;
};

// Nelder-Mead starts from `simplex` when it is given, else from the family's start point.
template <class F>
FitResult runMethod(const RunSettings &settings, ObjectiveRef objective, std::optional<std::uint32_t> seed,
                    MessageSink &sink, const std::vector<Vector> &simplex = {}) {
    using namespace run_detail;
    const int maxConverge = settings.maxConverge;
    const int maxEval = settings.maxEval;
    switch (settings.method) {
    case Method::NelderMead:
        return nelderMead(simplex.empty() ? toVector(F::start) : simplex.back(), simplex, objective, kSimplexTolerance,
                          kSimplexTolerance, kSimplexMaxIterations, sink);
    case Method::DifferentialEvolution: {
        std::mt19937 engine(seed ? *seed : entropySeed());
        return differentialEvolution(toVector(F::lower), toVector(F::upper), objective, kDifferentialWeight,
                                     kCrossoverProbability, kPopulationSize, engine, sink);
    }
    case Method::ShuffledComplexEvolution:
    default: {
        const Vector upper = toVector(F::upper);
        const Vector lower = toVector(F::lower);
        if (seed) {
            std::mt19937 engine(*seed);
            EngineUniformSource uniform(engine);
            return shuffledComplexEvolution(lower, upper, maxEval, objective, kComplexTolerance, maxConverge, uniform);
        }
        ProcessUniformSource uniform;
        return shuffledComplexEvolution(lower, upper, maxEval, objective, kComplexTolerance, maxConverge, uniform);
    }
    }
}

} // namespace ferrule
