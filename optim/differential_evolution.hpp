// Differential evolution, rand/1/bin (Storn & Price 1997), minimising over a box.
#pragma once

#include <cstdint>

#include "optim/fit_objective.hpp"

namespace ferrule {

// count = generation index (from 0) of convergence, or 1000 at the generation limit.
// params is empty when no member ends below 1e20.
// Requires lower and upper of equal length n >= 1 and populationSize >= 3.
// Seeds its own engine from std::random_device, so repeated runs differ.
FitResult differentialEvolution(const Vector &lower, const Vector &upper, ObjectiveRef objective, double weight,
                                double crossover, int populationSize);

// The same search with its engine seeded from seed: reproducible runs.
FitResult differentialEvolution(const Vector &lower, const Vector &upper, ObjectiveRef objective, double weight,
                                double crossover, int populationSize, std::uint32_t seed);

} // namespace ferrule
