// Random draws of the stochastic optimisers. Every construction is written out here
// rather than taken from <random>'s distributions, whose draws differ between
// standard libraries: results must be bit-for-bit reproducible.
#pragma once

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace ferrule {

// Uniform double in [lo, hi): lo + (hi - lo) * canonical.
struct UniformReal {
    double lo;
    double hi;
    double operator()(std::mt19937 &engine) const;
};

// Process-wide engine of shuffled complex evolution in the kestrel classes, seeded with
// 5489 at static initialisation and never reseeded by the library.
extern std::mt19937 processEngine;
extern const UniformReal unitUniform; // [0, 1)

// unitUniform drawn from processEngine under a lock. Callers reach the process-wide
// engine only through this function, which is safe to call from several threads at once
// (the interleaving of their draws is then up to the scheduler).
double processUniform();

// The uniform [0, 1) draws of shuffled complex evolution: the process-wide stream, or an
// engine of one fit alone.
class UniformSource {
public:
    virtual double next() = 0;

protected:
    ~UniformSource() = default;
};

class ProcessUniformSource final : public UniformSource {
public:
    double next() override { return processUniform(); }
};

class EngineUniformSource final : public UniformSource {
public:
    explicit EngineUniformSource(std::mt19937 &engine) : engine_(engine) {}
    double next() override { return unitUniform(engine_); }

private:
    std::mt19937 &engine_;
};

// One 32-bit seed from the platform's non-deterministic source.
std::uint32_t entropySeed();

// The 53-bit integer b * 2^21 + (a >> 11) times 2^-53: the integer is exact in a
// double and the scaling by a power of two is exact, so the result lies in
// [0, 1 - 2^-53] and never rounds up to 1.
inline double canonicalFromOutputs(std::uint32_t a, std::uint32_t b) {
    const std::uint64_t bits = (static_cast<std::uint64_t>(b) << 21) + (a >> 11);
    return static_cast<double>(bits) * 0x1p-53;
}

// Canonical double in [0, 1) from two outputs, a drawn first, then b.
double canonical(std::mt19937 &engine);

// Uniform integer in [0, k], as the shuffle draws it (division with rejection).
std::uint32_t shuffleIndex(std::mt19937 &engine, std::uint32_t k);

// Uniform integer in [0, n - 1] by multiply-and-reject (n >= 1).
std::uint32_t uniformBelow(std::mt19937 &engine, std::uint32_t n);

// Fisher-Yates pass from the front: for j = 1 .. L-1 swap j with shuffleIndex(j).
template <class T> void shuffle(std::vector<T> &items, std::mt19937 &engine) {
    for (std::size_t j = 1; j < items.size(); ++j) {
        const std::size_t i = shuffleIndex(engine, static_cast<std::uint32_t>(j));
        if (i != j) {
            std::swap(items[j], items[i]);
        }
    }
}

} // namespace ferrule
