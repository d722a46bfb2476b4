// The Hessian of the likelihood in the search coordinates q from that in the natural
// parameters p = p(q), for the local methods of the public layer's fits:
//   d2/dqi dqj = sum_k,l dpk/dqi d2/dpk dpl dpl/dqj + sum_k d/dpk d2pk/dqi dqj.
#pragma once

#include <array>
#include <cstddef>

namespace ferrule {

// A family's decoding at one point: jacobian[k P + i] = dpk/dqi and
// second[(k P + i) P + j] = d2pk/dqi dqj, zero where not set.
template <std::size_t P> struct SearchDecoding {
    std::array<double, P * P> jacobian{};
    std::array<double, P * P * P> second{};

    // search receives the Hessian in q (row-major) from the gradient natural and Hessian
    // hessian (row-major) in p.
    void curvature(const double *natural, const double *hessian, double *search) const {
        for (std::size_t i = 0; i < P; ++i) {
            for (std::size_t j = 0; j < P; ++j) {
                double s = 0.0;
                for (std::size_t k = 0; k < P; ++k) {
                    for (std::size_t l = 0; l < P; ++l) {
                        s += jacobian[k * P + i] * hessian[k * P + l] * jacobian[l * P + j];
                    }
                    s += natural[k] * second[(k * P + i) * P + j];
                }
                search[i * P + j] = s;
            }
        }
    }
};

} // namespace ferrule
