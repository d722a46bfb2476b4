// Whether one long evaluation (the likelihood's terms, its gradient's rows) is shared among
// the threads or runs on one: the threads from kParallelFrom distinct values on, as long as
// they pay on this machine now. Each evaluation starts and joins its threads, which on a
// machine busy with other work can cost more than the evaluation itself (a thread the
// system runs late holds up the join), so the wall time per value of both ways is kept as
// a running average and the faster one taken, the other tried every kProbeEvery
// evaluations to follow a change of load; each kind of evaluation (Tag) keeps its own
// averages. The results do not depend on the choice: the
// pieces and the order of their sums are the same either way.
#pragma once

#include <omp.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferrule {

template <class Tag> class ThreadChoice {
public:
    static constexpr std::size_t kParallelFrom = 1 << 15;
    static constexpr std::uint64_t kProbeEvery = 64;

    // Times one evaluation of n values; threads() says how it runs.
    // (Short evaluations always run on one thread and read no clock.)
    explicit ThreadChoice(std::size_t n)
        : n_(n), threads_(choose(n)), started_(n >= kParallelFrom ? Clock::now() : Clock::time_point{}) {}
    ~ThreadChoice() {
        if (n_ >= kParallelFrom) {
            const double perValue = std::chrono::duration<double>(Clock::now() - started_).count() / n_;
            std::atomic<double> &cost = threads_ ? parallelCost() : serialCost();
            const double before = cost.load(std::memory_order_relaxed);
            cost.store(before == 0.0 ? perValue : 0.75 * before + 0.25 * perValue, std::memory_order_relaxed);
        }
    }
    ThreadChoice(const ThreadChoice &) = delete;
    ThreadChoice &operator=(const ThreadChoice &) = delete;

    bool threads() const { return threads_; }

private:
    using Clock = std::chrono::steady_clock;

    static bool choose(std::size_t n) {
        if (n < kParallelFrom || omp_get_max_threads() < 2) {
            return false;
        }
        const double parallel = parallelCost().load(std::memory_order_relaxed);
        const double serial = serialCost().load(std::memory_order_relaxed);
        if (parallel == 0.0 || serial == 0.0) {
            return parallel == 0.0; // each way once, the threads first
        }
        const bool faster = parallel < serial;
        const bool probe = calls().fetch_add(1, std::memory_order_relaxed) % kProbeEvery == kProbeEvery - 1;
        return probe ? !faster : faster;
    }

    // Seconds per value of each way, process-wide (0: not yet measured).
    static std::atomic<double> &parallelCost() {
        static std::atomic<double> cost{0.0};
        return cost;
    }
    static std::atomic<double> &serialCost() {
        static std::atomic<double> cost{0.0};
        return cost;
    }
    static std::atomic<std::uint64_t> &calls() {
        static std::atomic<std::uint64_t> count{0};
        return count;
    }

    std::size_t n_;
    bool threads_;
    Clock::time_point started_;
};

// Runs piece(k, buffer) for every k below `pieces`, an evaluation of n distinct values: on
// the threads as the choice of Tag says, each thread with a buffer of `width` doubles, the
// pieces handed out one at a time (a thread that the system runs late takes fewer); else
// in order on `serial`.
template <class Tag, class Piece>
void forEachPiece(std::size_t n, std::size_t pieces, std::size_t width, double *serial, const Piece &piece) {
    const ThreadChoice<Tag> choice(n);
    if (choice.threads()) {
#pragma omp parallel
        {
            std::vector<double> buffer(width);
#pragma omp for schedule(dynamic, 1)
            for (long long k = 0; k < static_cast<long long>(pieces); ++k) {
                piece(static_cast<std::size_t>(k), buffer.data());
            }
        }
    } else {
        for (std::size_t k = 0; k < pieces; ++k) {
            piece(k, serial);
        }
    }
}

} // namespace ferrule
