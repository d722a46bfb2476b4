// Shuffled complex evolution (Duan, Sorooshian & Gupta 1992), maximising over a box.
#pragma once

#include "optim/fit_objective.hpp"

namespace ferrule {

// count = objective evaluations, initial sample included. Draws from processEngine.
FitResult shuffledComplexEvolution(const Vector &lower, const Vector &upper, int maxEval, ObjectiveRef objective,
                                   double tolerance, int maxConverge);

} // namespace ferrule
