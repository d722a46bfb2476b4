// Element maps of long arrays split into fixed pieces handed to the threads: a value's
// result does not depend on the piece it falls in, so any split and thread count give the
// same bits.
#pragma once

#include <omp.h>

#include <algorithm>
#include <cstddef>

namespace ferrule::kernels {

// Below this many elements a map runs on one thread: starting the others costs more.
inline constexpr std::size_t kParallelFrom = 1 << 15;
// Pieces handed to the threads; each is mapped on its own.
inline constexpr std::size_t kPiece = 1 << 12;

// kernel(in + from, out + from, m) over consecutive pieces of at most kPiece elements, on
// `threads` threads (every core when threads < 1).
template <class Kernel> void mapPieces(const double *in, double *out, std::size_t n, int threads, Kernel kernel) {
    if (threads < 1) {
        threads = omp_get_max_threads();
    }
    const auto pieces = static_cast<long long>((n + kPiece - 1) / kPiece);
    const auto piece = [&](long long k) {
        const std::size_t from = static_cast<std::size_t>(k) * kPiece;
        kernel(in + from, out + from, std::min(kPiece, n - from));
    };
    if (threads > 1 && n >= kParallelFrom) {
#pragma omp parallel for schedule(static) num_threads(threads)
        for (long long k = 0; k < pieces; ++k) {
            piece(k);
        }
    } else {
        for (long long k = 0; k < pieces; ++k) {
            piece(k);
        }
    }
}

} // namespace ferrule::kernels
