// Shuffled complex evolution (Duan, Sorooshian & Gupta 1992), minimising over a box.
#pragma once

#include <vector>

#include "optim/objective.hpp"
#include "optim/random.hpp"

namespace ferrule {

// An initial-sample slot whose draws are all outside the box or valued at 1e30 or
// higher gives up after this many draws: the valid part of the box is then almost
// surely below 0.1 %, and a hopeless fit stops at a tenth of the default budget.
inline constexpr int kMaxSampleDraws = 10000;

// count = objective evaluations, initial sample included; limitReached when the search
// stopped because count exceeded maxEval. Draws its uniforms from `uniform`. Requires lower
// and upper of equal length n >= 1. When some slot of the initial sample exhausts
// kMaxSampleDraws the search ends there and params is n NaNs. Writes no lines.
FitResult shuffledComplexEvolution(const Vector &lower, const Vector &upper, int maxEval, ObjectiveRef objective,
                                   double tolerance, int maxConverge, UniformSource &uniform);

// Sizes that follow from the number of search parameters n.
struct ComplexSizes {
    int complexes;  // n
    int members;    // m = 2n + 1 per complex
    int population; // n * m
    int subComplex; // q = n + 1 members evolved together
};
ComplexSizes complexSizes(int n);

// Complex c receives the population indices at ranking positions c, c + n, ...,
// c + (m - 1) n, so each complex lists its members best first.
void dealComplexes(const std::vector<int> &ranking, const ComplexSizes &sizes,
                   std::vector<std::vector<int>> &complexes);

} // namespace ferrule
