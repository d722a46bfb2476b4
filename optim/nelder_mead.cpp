// Nelder-Mead downhill simplex search (Nelder & Mead 1965), minimising.
#include "optim/nelder_mead.hpp"

#include <cmath>

#include "optim/point_memo.hpp"

namespace ferrule {

namespace {

// Reflection, expansion and contraction coefficients and the shrink factor, written
// into the formulas below as (c - w) + c, (r - c) + r, (w - c) * 0.5 + c and
// (v - best) * 0.5 + best.
constexpr double kHalf = 0.5;

// Start simplex: vertex i moves component i of the start by start_i / 20 (a 5 % step,
// none for a zero component); vertex n is the start itself.
std::vector<Vector> startSimplex(const Vector &start) {
    const std::size_t n = start.size();
    std::vector<Vector> simplex(n + 1, start);
    for (std::size_t i = 0; i < n; ++i) {
        simplex[i][i] = start[i] + start[i] / 20.0;
    }
    return simplex;
}

} // namespace

FitResult nelderMead(const Vector &start, const std::vector<Vector> &initialSimplex, ObjectiveRef objective,
                     double tolX, double tolF, int maxIterations, MessageSink &sink) {
    const std::size_t n = start.size();
    const double dn = static_cast<double>(n);

    std::vector<Vector> simplex;
    Vector previousSum(n, 0.0);
    if (initialSimplex.empty()) {
        simplex = startSimplex(start);
        // What the vertex sum of the start simplex would be without the steps.
        for (std::size_t i = 0; i < n; ++i) {
            previousSum[i] = static_cast<double>(n + 1) * start[i];
        }
    } else {
        simplex = initialSimplex;
    }
    const std::size_t vertices = simplex.size();

    double previousMean = 1e10;
    int iteration = 0;
    // The vertex ranked best in the latest ranking, kept as a copy: when every value
    // ties, the best vertex is also the worst and its slot is replaced afterwards.
    Vector bestVertex = simplex[0];

    // A vertex's value, kept until the vertex moves: the reflection, expansion or contraction
    // that replaces the worst vertex brings its value along; a shrink marks the moved
    // vertices stale, and they are valued at the start of the next iteration. A point met
    // before (a collapsed simplex revisits points) takes its value from the memo.
    Vector values(vertices);
    std::vector<bool> stale(vertices, true);
    PointMemo evaluate(objective);
    Vector centroid(n);
    Vector vertexSum(n);
    Vector reflected(n);
    Vector trial(n); // the expansion or the contraction point

    while (iteration < maxIterations) {
        double total = 0.0;
        for (std::size_t k = 0; k < vertices; ++k) {
            if (stale[k]) {
                values[k] = evaluate(simplex[k]);
                stale[k] = false;
            }
            total += values[k];
        }
        const double mean = total / dn;

        // Lowest index wins among equal values, for the best and for the worst.
        std::size_t best = 0;
        std::size_t worst = 0;
        for (std::size_t k = 0; k < vertices; ++k) {
            if (values[best] > values[k]) {
                best = k;
            }
            if (values[k] > values[worst]) {
                worst = k;
            }
        }
        bestVertex = simplex[best];
        // Largest value strictly below the worst; stays at best when there is none.
        std::size_t second = best;
        for (std::size_t k = 0; k < vertices; ++k) {
            if (values[worst] > values[k] && values[k] > values[second]) {
                second = k;
            }
        }

        for (std::size_t i = 0; i < n; ++i) {
            double partial = 0.0;
            for (std::size_t k = 0; k < vertices; ++k) {
                if (k != worst) {
                    partial += simplex[k][i];
                }
            }
            centroid[i] = partial / dn;
            vertexSum[i] = partial + simplex[worst][i];
        }

        // Converged when either the vertex sum or the mean value has stopped moving.
        double movement = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            movement += std::fabs(previousSum[i] - vertexSum[i]);
        }
        const double dX = movement / dn;
        const double dF = std::fabs(mean - previousMean);
        previousMean = mean;
        if (tolX > dX || tolF > dF) {
            break;
        }
        previousSum = vertexSum;

        Vector &w = simplex[worst];
        for (std::size_t i = 0; i < n; ++i) {
            reflected[i] = (centroid[i] - w[i]) + centroid[i];
        }
        const double fReflected = evaluate(reflected);

        if (values[best] <= fReflected && fReflected <= values[second]) {
            w = reflected;
            values[worst] = fReflected;
        } else if (fReflected < values[best]) {
            for (std::size_t i = 0; i < n; ++i) {
                trial[i] = (reflected[i] - centroid[i]) + reflected[i];
            }
            const double fExpanded = evaluate(trial);
            // A tie keeps the reflection.
            if (fReflected > fExpanded) {
                w = trial;
                values[worst] = fExpanded;
            } else {
                w = reflected;
                values[worst] = fReflected;
            }
        } else if (fReflected > values[second]) {
            for (std::size_t i = 0; i < n; ++i) {
                trial[i] = (w[i] - centroid[i]) * kHalf + centroid[i];
            }
            const double fContracted = evaluate(trial);
            if (fContracted < values[worst]) {
                w = trial;
                values[worst] = fContracted;
            } else {
                // Shrink towards the best vertex; the shrunk vertices are evaluated
                // at the start of the next iteration.
                const Vector &b = simplex[best];
                for (std::size_t k = 0; k < vertices; ++k) {
                    if (k == best) {
                        continue;
                    }
                    for (std::size_t i = 0; i < n; ++i) {
                        simplex[k][i] = (simplex[k][i] - b[i]) * kHalf + b[i];
                    }
                    stale[k] = true;
                }
            }
        }
        // Otherwise the reflection's value is NaN and the simplex stays as it is.

        ++iteration;
    }

    const bool limitReached = iteration == maxIterations;
    if (limitReached) {
        sink.line(
            formatLine(iteration, ": Reached maximum number of allowed iterations. The result may not be optimal"));
    }
    return FitResult{iteration, bestVertex, evaluate.evaluations(), limitReached};
}

} // namespace ferrule
