// What both microbenchmarks share: reading the series the Python driver wrote, timing a
// callable, and the "bench <key> <value>" lines the driver parses.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ferrule::bench {

// One value per line, written with enough digits to round-trip.
inline std::vector<double> readSeries(const std::string &path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    std::vector<double> values;
    double x;
    while (in >> x) {
        values.push_back(x);
    }
    return values;
}

// Median over `batches` batches of the seconds per call; each batch repeats the call
// often enough to last about minSeconds / batches, so the clock's resolution is no issue.
template <class F> double secondsPerCall(F call, double minSeconds, int batches = 7) {
    using Clock = std::chrono::steady_clock;
    long repeats = 1;
    for (;;) {
        const auto start = Clock::now();
        for (long i = 0; i < repeats; ++i) {
            call();
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed * batches >= minSeconds || repeats > (1L << 40)) {
            break;
        }
        repeats *= 2;
    }
    std::vector<double> perCall;
    for (int b = 0; b < batches; ++b) {
        const auto start = Clock::now();
        for (long i = 0; i < repeats; ++i) {
            call();
        }
        perCall.push_back(std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(repeats));
    }
    std::nth_element(perCall.begin(), perCall.begin() + batches / 2, perCall.end());
    return perCall[static_cast<std::size_t>(batches / 2)];
}

inline void report(const char *key, double value) { std::printf("bench %s %.17g\n", key, value); }

} // namespace ferrule::bench
