// Which instruction set's kernels run: the widest this machine supports, chosen once.
#include "core/simd/vector_kernels.hpp"

namespace ferrule::simd {

std::size_t supportedKernels(const VectorKernels **out, std::size_t capacity) {
    std::size_t count = 0;
    const auto add = [&](const VectorKernels *k) {
        if (count < capacity) {
            out[count] = k;
        }
        ++count;
    };
    // __builtin_cpu_supports also checks that the operating system saves the wide registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
        add(kernels512());
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        add(kernels256());
    }
    add(kernels128());
    return count;
}

const VectorKernels &activeKernels() {
    static const VectorKernels *const active = [] {
        const VectorKernels *best = nullptr;
        supportedKernels(&best, 1);
        return best;
    }();
    return *active;
}

} // namespace ferrule::simd
