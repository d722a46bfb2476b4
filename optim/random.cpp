#include "optim/random.hpp"

#include <mutex>

namespace ferrule {

// Dynamic initialisation of this translation unit, before the extension module's
// initialisation can run any fit.
std::mt19937 processEngine{5489u};
const UniformReal unitUniform{0.0, 1.0};

double UniformReal::operator()(std::mt19937 &engine) const { return lo + (hi - lo) * canonical(engine); }

namespace {
// Fits on different threads (grid fits run without the interpreter lock) may draw at
// the same time. Each draw takes the engine's two outputs under this lock, so the
// state never tears; draws of a single thread are exactly those of an unguarded engine.
std::mutex processEngineMutex;
} // namespace

double processUniform() {
    const std::lock_guard<std::mutex> lock(processEngineMutex);
    return unitUniform(processEngine);
}

std::uint32_t entropySeed() {
    std::random_device source;
    return static_cast<std::uint32_t>(source());
}

double canonical(std::mt19937 &engine) {
    const std::uint32_t a = static_cast<std::uint32_t>(engine());
    const std::uint32_t b = static_cast<std::uint32_t>(engine());
    return canonicalFromOutputs(a, b);
}

// Accepts r when its quotient lies in a complete block of m outputs, so every
// remainder is equally likely; when m divides 2^32 every output is accepted.
// m is held in 64 bits so that k = 2^32 - 1 does not wrap it to 0.
std::uint32_t shuffleIndex(std::mt19937 &engine, std::uint32_t k) {
    constexpr std::uint64_t kMaxOutput = 4294967295u;
    const std::uint64_t m = static_cast<std::uint64_t>(k) + 1;
    const bool everyOutput = kMaxOutput % m == m - 1;
    const std::uint64_t blocks = kMaxOutput / m;
    for (;;) {
        const std::uint64_t r = engine();
        if (r / m < blocks || everyOutput) {
            return static_cast<std::uint32_t>(r % m);
        }
    }
}

// p = r * n; its high word is the result. Rejecting low words below (2^32 - n) mod n
// leaves exactly floor(2^32 / n) outputs for every result.
std::uint32_t uniformBelow(std::mt19937 &engine, std::uint32_t n) {
    const std::uint32_t threshold = static_cast<std::uint32_t>(0u - n) % n;
    for (;;) {
        const std::uint64_t p = static_cast<std::uint64_t>(static_cast<std::uint32_t>(engine())) * n;
        if (static_cast<std::uint32_t>(p) >= threshold) {
            return static_cast<std::uint32_t>(p >> 32);
        }
    }
}

} // namespace ferrule
