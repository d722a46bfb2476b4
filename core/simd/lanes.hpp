// Packs of doubles for one instruction set, and the transcendental functions on them.
//
// Included only by a translation unit compiled for one instruction set, which defines
// FERRULE_SIMD_ISA as 512, 256 or 128 (AVX-512F, AVX2 with FMA, SSE2). Everything lives in
// a namespace named after that set, so the copies built for different sets never meet at
// link time (an inline function compiled for AVX-512 must not serve the SSE2 caller).
//
// The arithmetic is plain IEEE (no contraction: the project builds with -ffp-contract=off);
// the functions are SLEEF's 1.0-ulp versions (erfc 1.5 ulp). A lane's result depends on
// that lane's inputs alone, never on its neighbours, so a value gives the same bits
// wherever it sits in a block.
#pragma once

#include <immintrin.h>
#include <sleef.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#if FERRULE_SIMD_ISA == 512
#define FERRULE_SIMD_NS isa512
#elif FERRULE_SIMD_ISA == 256
#define FERRULE_SIMD_NS isa256
#elif FERRULE_SIMD_ISA == 128
#define FERRULE_SIMD_NS isa128
#else
#error "FERRULE_SIMD_ISA must be 512, 256 or 128"
#endif

namespace ferrule::simd::FERRULE_SIMD_NS {

inline constexpr int kWidth = FERRULE_SIMD_ISA / 64;

typedef double Pack __attribute__((vector_size(FERRULE_SIMD_ISA / 8)));
typedef std::int64_t Mask __attribute__((vector_size(FERRULE_SIMD_ISA / 8))); // all ones where true

#if FERRULE_SIMD_ISA == 512
typedef __m512d Native;
#define FERRULE_SLEEF(name, acc) Sleef_##name##d8_##acc##avx512f
inline constexpr const char *kIsaName = "avx512f";
inline Pack sqrt(Pack x) { return (Pack)_mm512_sqrt_pd((Native)x); }
#elif FERRULE_SIMD_ISA == 256
typedef __m256d Native;
#define FERRULE_SLEEF(name, acc) Sleef_##name##d4_##acc##avx2
inline constexpr const char *kIsaName = "avx2";
inline Pack sqrt(Pack x) { return (Pack)_mm256_sqrt_pd((Native)x); }
#else
typedef __m128d Native;
#define FERRULE_SLEEF(name, acc) Sleef_##name##d2_##acc##sse2
inline constexpr const char *kIsaName = "sse2";
inline Pack sqrt(Pack x) { return (Pack)_mm_sqrt_pd((Native)x); }
#endif

inline Pack splat(double v) {
    Pack p;
    for (int i = 0; i < kWidth; ++i) {
        p[i] = v;
    }
    return p;
}

// Lane by lane: where m, a, else b.
inline Pack select(Mask m, Pack a, Pack b) { return m ? a : b; }
inline bool any(Mask m) {
    for (int i = 0; i < kWidth; ++i) {
        if (m[i] != 0) {
            return true;
        }
    }
    return false;
}
inline Pack fabs(Pack x) { return (Pack)((Mask)x & ~(Mask)splat(-0.0)); }

inline Pack pow(Pack x, Pack y) { return (Pack)FERRULE_SLEEF(pow, u10)((Native)x, (Native)y); }
inline Pack exp(Pack x) { return (Pack)FERRULE_SLEEF(exp, u10)((Native)x); }
inline Pack log(Pack x) { return (Pack)FERRULE_SLEEF(log, u10)((Native)x); }
// log1p x = log(u) x/(u - 1) with u = 1 + x rounded: the quotient corrects the rounding of
// u (Goldberg), within a few ulp, for a fraction of the cost of SLEEF's log1p. x where u is
// 1, log u where it is infinite.
inline Pack log1p(Pack x) {
    const Pack u = x + 1.0;
    const Pack logU = log(u);
    return select(u == 1.0, x, select(u == std::numeric_limits<double>::infinity(), logU, logU * (x / (u - 1.0))));
}
inline Pack expm1(Pack x) { return (Pack)FERRULE_SLEEF(expm1, u10)((Native)x); }
inline Pack tanh(Pack x) { return (Pack)FERRULE_SLEEF(tanh, u10)((Native)x); }
inline Pack erfc(Pack x) { return (Pack)FERRULE_SLEEF(erfc, u15)((Native)x); }

// x with the sign bit of s.
inline Pack withSignOf(Pack x, Pack s) {
    const Mask sign = (Mask)splat(-0.0);
    return (Pack)(((Mask)x & ~sign) | ((Mask)s & sign));
}

// sinh and cosh from one expm1: with m = e^|x| - 1, sinh|x| = (m + m/(m + 1))/2 (no
// cancellation near 0, no overflow of m^2) and cosh x = ((m + 1) + 1/(m + 1))/2, each within a few ulp. Beyond
// |x| = 700, where e^|x| nears overflow before sinh does, SLEEF's functions take over.
inline void sinhCosh(Pack x, Pack &sinhX, Pack &coshX) {
    const Pack m = expm1(fabs(x));
    const Pack e = m + 1.0;
    sinhX = withSignOf(0.5 * (m + m / e), x);
    coshX = 0.5 * (e + 1.0 / e);
    const Mask far = fabs(x) > 700.0;
    if (any(far)) {
        sinhX = select(far, (Pack)FERRULE_SLEEF(sinh, u10)((Native)x), sinhX);
        coshX = select(far, (Pack)FERRULE_SLEEF(cosh, u10)((Native)x), coshX);
    }
}
inline Pack sinh(Pack x) {
    Pack s, c;
    sinhCosh(x, s, c);
    return s;
}
inline Pack cosh(Pack x) {
    Pack s, c;
    sinhCosh(x, s, c);
    return c;
}

// asinh|x| = log1p(|x| + x^2/(1 + sqrt(x^2 + 1))), without cancellation near 0; beyond 1e150,
// where x^2 overflows, log|x| + log 2 to double precision. The sign is x's (also of -0).
inline Pack asinh(Pack x) {
    const Pack a = fabs(x);
    Pack r = log1p(a + a * a / (1.0 + sqrt(a * a + 1.0)));
    const Mask huge = a > 1e150;
    if (any(huge)) {
        r = select(huge, log(a) + 0.6931471805599453, r);
    }
    return withSignOf(r, x);
}

// Up to kWidth values from p; the lanes past n hold `pad`.
inline Pack loadPartial(const double *p, std::size_t n, double pad) {
    Pack v = splat(pad);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = p[i];
    }
    return v;
}
inline Pack load(const double *p) {
    Pack v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(double *p, Pack v) { std::memcpy(p, &v, sizeof v); }
inline void storePartial(double *p, Pack v, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        p[i] = v[i];
    }
}

} // namespace ferrule::simd::FERRULE_SIMD_NS
