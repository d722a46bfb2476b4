// Differential evolution, rand/1/bin (Storn & Price 1997), minimising over a box.
#pragma once

#include <random>

#include "optim/message_sink.hpp"
#include "optim/objective.hpp"

namespace ferrule {

// count = generation index (from 0) of convergence, or 1000 at the generation limit
// (then limitReached). params is empty when no member ends below 1e20. Draws from engine,
// which the caller seeds. Requires lower and upper of equal length n >= 1 and
// populationSize >= 3. The objective must be a function of the point alone: each member
// keeps its value until it is replaced, so only trial points are evaluated.
FitResult differentialEvolution(const Vector &lower, const Vector &upper, ObjectiveRef objective, double weight,
                                double crossover, int populationSize, std::mt19937 &engine, MessageSink &sink);

} // namespace ferrule
