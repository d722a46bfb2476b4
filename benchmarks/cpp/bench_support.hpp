// What both microbenchmarks share: reading the series the Python driver wrote, timing
// callables, and the "bench <key> <value>" lines the driver parses.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
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

// A measured call, repeated `repeats` times per batch.
using Repeated = std::function<void(long repeats)>;

template <class F> Repeated repeated(F call) {
    return [call](long repeats) {
        for (long i = 0; i < repeats; ++i) {
            call();
        }
    };
}

// Median seconds per call of each measurement over `batches` batches. Each batch repeats
// its call often enough to last about minSeconds / batches, so the clock's resolution is no
// issue; the measurements take turns batch by batch, so a change of machine load during the
// run falls on all of them alike.
inline std::vector<double> secondsPerCall(const std::vector<Repeated> &measurements, double minSeconds,
                                          int batches = 7) {
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](const Repeated &run, long repeats) {
        const auto start = Clock::now();
        run(repeats);
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    std::vector<long> repeats;
    for (const Repeated &run : measurements) {
        long r = 1;
        while (seconds(run, r) * batches < minSeconds && r < (1L << 40)) {
            r *= 2;
        }
        repeats.push_back(r);
    }
    std::vector<std::vector<double>> perCall(measurements.size());
    for (int b = 0; b < batches; ++b) {
        for (std::size_t m = 0; m < measurements.size(); ++m) {
            perCall[m].push_back(seconds(measurements[m], repeats[m]) / static_cast<double>(repeats[m]));
        }
    }
    std::vector<double> medians;
    for (std::vector<double> &times : perCall) {
        std::nth_element(times.begin(), times.begin() + batches / 2, times.end());
        medians.push_back(times[static_cast<std::size_t>(batches / 2)]);
    }
    return medians;
}

inline void report(const char *key, double value) { std::printf("bench %s %.17g\n", key, value); }

} // namespace ferrule::bench
