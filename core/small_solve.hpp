// Solves (A + nu I) d = b for a small symmetric A by Cholesky factors: the Newton steps of a
// few coordinates.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace ferrule {

// a: n x n row-major; false when A + nu I is not positive definite.
inline bool smallCholeskySolve(std::vector<double> a, std::size_t n, double nu, const std::vector<double> &b,
                               std::vector<double> &d) {
    for (std::size_t i = 0; i < n; ++i) {
        a[i * n + i] += nu;
    }
    for (std::size_t j = 0; j < n; ++j) {
        double diag = a[j * n + j];
        for (std::size_t k = 0; k < j; ++k) {
            diag -= a[j * n + k] * a[j * n + k];
        }
        if (!(diag > 0.0) || !std::isfinite(diag)) {
            return false;
        }
        diag = std::sqrt(diag);
        a[j * n + j] = diag;
        for (std::size_t i = j + 1; i < n; ++i) {
            double v = a[i * n + j];
            for (std::size_t k = 0; k < j; ++k) {
                v -= a[i * n + k] * a[j * n + k];
            }
            a[i * n + j] = v / diag;
        }
    }
    d = b;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < i; ++k) {
            d[i] -= a[i * n + k] * d[k];
        }
        d[i] /= a[i * n + i];
    }
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t k = i + 1; k < n; ++k) {
            d[i] -= a[k * n + i] * d[k];
        }
        d[i] /= a[i * n + i];
    }
    return true;
}

} // namespace ferrule
