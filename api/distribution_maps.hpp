// A fitted distribution's maps in data units, one pass per value: the functions behind
// ferrule._distribution (to_normal, from_normal, cdf, sf, logsf, logpdf, ppf).
//
// The model: u = (x + shift) * scale is the value the transformation T sees; the raw score
// r = (T(u) - mu) / sigma (normal families) or T((u - mu) / sigma) (Jones-Pewsey) is a
// standard normal restricted to the scores T reaches, (bottom, top), and renormalised by
// the normal mass M between them; the observed variable is the continuous one clipped to
// [left, right]. Where M = 1 the standard normal score z of a value is r itself, otherwise
// z = Phi^-1(F(x)) with F the renormalised distribution function, taken in log space so
// that a finite value has a finite score and a finite score a finite value.
#pragma once

#include <cstddef>

#include "core/families/registry.hpp"

namespace ferrule::kernels {

struct DistributionModel {
    FamilyId family;
    double t[2]; // the transformation parameters (t[1] unused by Yeo-Johnson)
    double mu, sigma, scale, shift, left, right;
};

// The raw scores of both ends of the line and log M, the normal mass between them (0 when
// the range is the whole line). A negative sigma (an invalid fit) turns the range around.
struct ScoreRange {
    double bottom, top, logInside;
};
ScoreRange scoreRange(const DistributionModel &model);

enum class DistributionMap { ToNormal, FromNormal, Cdf, Sf, LogSf, LogPdf, Ppf };

// out[i] = the map of in[i] (in and out may be the same array). `censor` (FromNormal, Ppf)
// puts the values beyond a threshold on it, as the data were recorded. Long arrays are
// split across `threads` threads (every core when threads < 1): the same bits for any count.
void distributionMap(const DistributionModel &model, DistributionMap map, bool censor, const double *in, double *out,
                     std::size_t n, int threads);

} // namespace ferrule::kernels
