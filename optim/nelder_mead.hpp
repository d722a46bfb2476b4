// Nelder-Mead downhill simplex search (Nelder & Mead 1965), minimising.
#pragma once

#include <vector>

#include "optim/message_sink.hpp"
#include "optim/objective.hpp"

namespace ferrule {

// Starts from 5 % steps of start when initialSimplex is empty. count = iterations
// completed when the stopping test succeeded, or maxIterations (then limitReached, and the
// line "<count>: Reached maximum number of allowed iterations. The result may not be
// optimal" goes to the sink). The objective must be a function of the point alone: a
// vertex that did not move keeps its value, so no point is evaluated twice.
FitResult nelderMead(const Vector &start, const std::vector<Vector> &initialSimplex, ObjectiveRef objective,
                     double tolX, double tolF, int maxIterations, MessageSink &sink);

} // namespace ferrule
