// Differential evolution, rand/1/bin (Storn & Price 1997), minimising over a box.
#pragma once

#include "optim/fit_objective.hpp"

namespace ferrule {

// count = generation index (from 0) of convergence, or 1000 at the generation limit.
// params is empty when no member ends below 1e20.
FitResult differentialEvolution(const Vector &lower, const Vector &upper, ObjectiveRef objective, double weight,
                                double crossover, int populationSize);

} // namespace ferrule
