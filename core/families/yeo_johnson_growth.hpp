// The slope g'(a) and curvature g''(a) of g(a) = expm1(a)/a, which give the Yeo-Johnson
// map's first and second derivatives in its power, shared by the scalar and the vector
// derivatives: (e^a (a - 1) + 1)/a^2 and (e^a (a^2 - 2a + 2) - 2)/a^3, whose terms cancel
// near 0, so below |a| = 1 their Taylor series
//   g'(a) = sum_j (j + 1) a^j / (j + 2)!,   g''(a) = sum_j a^j / ((j + 3) j!),   j = 0 .. 18,
// whose first omitted terms are below 1e-17 of the sums. Data only: no code, so the vector
// kernels built for each instruction set may include it.
#pragma once

#include <array>
#include <cstddef>

namespace ferrule::yeo_johnson_growth {

inline constexpr double kSeriesBelow = 1.0;
inline constexpr std::size_t kTerms = 19;

// (j + 1)/(j + 2)!, j = 0 .. kTerms - 1, each rounded once.
inline constexpr std::array<double, kTerms> kCoefficients = [] {
    std::array<double, kTerms> c{};
    long double factorial = 2.0L; // (j + 2)!
    for (std::size_t j = 0; j < kTerms; ++j) {
        c[j] = static_cast<double>(static_cast<long double>(j + 1) / factorial);
        factorial *= static_cast<long double>(j + 3);
    }
    return c;
}();

// 1/((j + 3) j!), j = 0 .. kTerms - 1, each rounded once.
inline constexpr std::array<double, kTerms> kCurvatureCoefficients = [] {
    std::array<double, kTerms> c{};
    long double factorial = 1.0L; // j!
    for (std::size_t j = 0; j < kTerms; ++j) {
        c[j] = static_cast<double>(1.0L / (static_cast<long double>(j + 3) * factorial));
        factorial *= static_cast<long double>(j + 1);
    }
    return c;
}();

} // namespace ferrule::yeo_johnson_growth
