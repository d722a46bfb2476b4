// The array functions of ferrule._core: the family chosen at run time, explicit
// parameters, plain arrays, no state and no console output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "core/families/registry.hpp"
#include "optim/fit_series.hpp"

namespace ferrule::kernels {

// Family by registry key ("yeo_johnson", ...); std::invalid_argument for another name.
FamilyId familyByKey(const std::string &key);
std::size_t parameterCount(FamilyId family);

// out[i] = T(x[i]) (or its inverse, or log T'(x[i])) with the transformation parameters
// t; the arrays may be the same. Computed by the vector kernels (core/simd), within a few
// ulp of the scalar family kernels. Large arrays are split across `threads` threads (every core when
// threads < 1); every element is independent, so the result is the same for any thread count.
void forward(FamilyId family, const double *t, const double *x, double *out, std::size_t n, int threads);
void inverse(FamilyId family, const double *t, const double *y, double *out, std::size_t n, int threads);
void logJacobian(FamilyId family, const double *t, const double *x, double *out, std::size_t n, int threads);

// How the likelihood evaluates its censored masses: Accurate (full precision in both tails,
// the public layer's) or Exact (the kestrel classes' arithmetic, bit for bit).
enum class Masses { Accurate, Exact };

// Natural parameters (kParams of them) of the search vector q.
void decode(FamilyId family, const double *q, double *natural);

// The censored log-likelihood at q (prior added when isMap), and each value's censoring
// (-1 left, 0 uncensored, +1 right) as the likelihood decides it.
double logLikelihood(FamilyId family, const double *q, const double *data, std::size_t n, double left, double right,
                     bool isMap, Masses masses = Masses::Accurate);
void censoring(FamilyId family, const double *q, const double *data, std::size_t n, double left, double right,
               std::int8_t *out);

// The facts of the point q as the optimum of a fit of data (in the units of the fit),
// with the accurate masses: what the public layer judges a fit made elsewhere on.
FitFacts factsAt(FamilyId family, const double *q, const double *data, std::size_t n, double left, double right,
                 bool isMap);

// The standard normal distribution to full precision, element by element.
void standardNormalCdf(const double *z, double *out, std::size_t n, int threads);
void standardNormalLogCdf(const double *z, double *out, std::size_t n, int threads);
void standardNormalQuantile(const double *p, double *out, std::size_t n);

// One fit, its lines collected; with settings.facts, the facts of its optimum in its
// report. A fit that its monitor stopped (settings.monitor) is `stopped`, its report empty.
struct SeriesFit {
    FitReport report;
    std::vector<std::string> lines;
    bool stopped = false;
};
SeriesFit fit(FamilyId family, std::vector<double> data, const FitSettings &settings, Masses masses = Masses::Accurate);

// Fits of many cells (accurate masses): values is ncells x n (row-major), one row per cell, of which the
// first lengths[i] values are cell i's series (all n when lengths is null); left, right,
// scale, shift and seeds hold one entry per cell (scale, shift, seeds may be null: 1, 0,
// and no seed). Skipped cells are not fitted. results[i] is filled for committed cells.
// otherScale (may be null) offers a second scale per cell (NaN: none): the cell is also
// fitted at it, into CellFit::other, and the public layer keeps whichever of the two its
// rule of choice prefers (the scale is part of the model; the verdicts live there).
// stop() is asked on the calling thread before each commit and returns true to stop.
struct CellFit {
    SeriesFit fit;
    double scale = 1.0; // the scale of `fit`
    SeriesFit other;    // the fit at the other scale, when otherScale offered one
    double otherScale = std::numeric_limits<double>::quiet_NaN();
    bool skipped = false;
    std::exception_ptr error;
};
struct CellFits {
    std::vector<CellFit> cells;
    std::size_t committed = 0;
    bool stopped = false; // stop() asked to stop before every cell was committed
};
using StopCheck = bool (*)(void *context);
CellFits fitCells(FamilyId family, const double *values, std::size_t ncells, std::size_t n, const std::int64_t *lengths,
                  const double *left, const double *right, const std::uint8_t *skip, const double *scale,
                  const double *shift, const std::uint32_t *seeds, const FitSettings &settings, int threads,
                  StopCheck stop, void *context, const double *otherScale = nullptr);

} // namespace ferrule::kernels
