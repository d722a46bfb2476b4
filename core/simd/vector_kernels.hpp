// Element maps on packs of values with SIMD transcendental functions, for the instruction
// set chosen at run time: the widest one that this processor and its operating system
// support among AVX-512F, AVX2 with FMA and SSE2. The public layer's maps and likelihood
// use them; the exact classes keep the scalar kernels.
//
// Within one process the chosen set is fixed, and a value's result depends on that value
// alone (not on its position in a block, the block split or the thread count), so results
// repeat exactly from run to run on one machine.
#pragma once

#include <cstddef>

namespace ferrule::simd {

// out[i] = f(in[i]) with parameters `params` (the transformation parameters of a family).
using ParamMap = void (*)(const double *params, const double *in, double *out, std::size_t n);
using PlainMap = void (*)(const double *in, double *out, std::size_t n);

// One parameter point of a family's censored likelihood, as the term kernels read it.
struct TermPoint {
    double t0, t1;              // the transformation parameters (t1 unused by Yeo-Johnson)
    double mu, sigma;           // the normal's (Jones-Pewsey: the standardisation's)
    double normalConstant;      // -1/2 log(2 pi sigma^2); Jones-Pewsey: -1/2 log(2 pi)
    double twoVariance;         // 2 sigma^2
    double logDelta, logSigma;  // Jones-Pewsey only
    double left, right, tL, tR; // the thresholds and their transforms
    double below, above;        // the terms of a left- and of a right-censored value
    double logInside;           // log M, taken off every uncensored term (0: the whole line)
};
// out[i] = the likelihood term of x[i] at that point.
using TermMap = void (*)(const TermPoint &at, const double *x, double *out, std::size_t n);

// The rows a gradient kernel writes for n values, row r at rows + r n: each value's weight
// times its uncensored term (log M not taken off) and times the term's derivatives in the
// natural parameters (transformation parameters, then mu and sigma; Yeo-Johnson leaves the
// fourth row alone), 0 for a censored value; then the weight of a left-censored value and
// that of a right-censored one, 0 otherwise.
inline constexpr std::size_t kGradientRows = 7;
inline constexpr std::size_t kTermRow = 0, kSlopeRow = 1, kLeftRow = 5, kRightRow = 6;
// The kernel maps the thresholds itself, with the formulas of its values (at.tL and at.tR
// are not read), so that a value equal to a threshold counts as censored.
using GradientMap = void (*)(const TermPoint &at, const double *x, const double *weight, double *rows, std::size_t n);
// A curvature kernel writes the gradient rows, then from row kCurvatureRow on each value's
// weight times its uncensored term's second derivatives in the natural parameters, the upper
// triangle by rows ((0, 0), (0, 1), ..., (1, 1), ...: pairIndex), 0 for a censored value.
inline constexpr std::size_t kCurvatureRow = kGradientRows;
constexpr std::size_t pairCount(std::size_t params) { return params * (params + 1) / 2; }
constexpr std::size_t pairIndex(std::size_t i, std::size_t j, std::size_t params) {
    return i * params - i * (i - 1) / 2 + (j - i); // i <= j
}
inline constexpr std::size_t kCurvatureRows = kCurvatureRow + pairCount(4);

// One instruction set's kernels; the maps of a family are indexed by its FamilyId.
struct VectorKernels {
    const char *name;
    ParamMap forward[4];
    ParamMap inverse[4];
    ParamMap logJacobian[4];
    TermMap terms[4];
    GradientMap gradients[4];
    GradientMap curvatures[4]; // null for a family whose Hessian is taken by differences
    PlainMap normalCdf;
    PlainMap normalLogCdf;
};

// The kernels built for each set (null when this build has none for it).
const VectorKernels *kernels512();
const VectorKernels *kernels256();
const VectorKernels *kernels128();

// Every set this machine can run, widest first; the first is the one in use.
std::size_t supportedKernels(const VectorKernels **out, std::size_t capacity);
const VectorKernels &activeKernels();

} // namespace ferrule::simd
