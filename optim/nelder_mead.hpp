// Nelder-Mead downhill simplex search (Nelder & Mead 1965), minimising.
#pragma once

#include <vector>

#include "optim/fit_objective.hpp"

namespace ferrule {

// Starts from 5 % steps of start when initialSimplex is empty. count = iterations
// completed when the stopping test succeeded, or maxIterations.
FitResult nelderMead(const Vector &start, const std::vector<Vector> &initialSimplex, ObjectiveRef objective,
                     double tolX, double tolF, int maxIterations);

} // namespace ferrule
