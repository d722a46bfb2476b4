// Helpers shared by the optimiser tests: capturing std::cout and objectives that
// record where they were evaluated.
#pragma once

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "optim/fit_objective.hpp"

namespace ferrule::test {

// Redirects std::cout into a string for the lifetime of the object.
class CoutCapture {
public:
    CoutCapture() : previous_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(previous_); }
    CoutCapture(const CoutCapture &) = delete;
    CoutCapture &operator=(const CoutCapture &) = delete;

    std::string text() const { return buffer_.str(); }

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::istringstream in(buffer_.str());
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

private:
    std::ostringstream buffer_;
    std::streambuf *previous_;
};

// Wraps a function of the search vector and keeps every point it was evaluated at,
// in order, with the value returned.
template <class F> class Recorder {
public:
    explicit Recorder(F f) : f_(std::move(f)) {}

    double operator()(const Vector &x) const {
        const double value = f_(x);
        points.push_back(x);
        values.push_back(value);
        return value;
    }

    mutable std::vector<Vector> points;
    mutable std::vector<double> values;

private:
    F f_;
};

template <class F> Recorder<F> record(F f) { return Recorder<F>(std::move(f)); }

// Default stream formatting of a double, as the optimisers print it.
inline std::string streamed(double x) {
    std::ostringstream out;
    out << x;
    return out.str();
}

// A right-skewed series of 24 positive values; with the left threshold 1 the first
// two are censored.
inline Vector skewedSeries() {
    return {0.3, 0.6, 1.1, 1.4, 1.9,  2.3,  2.8,  3.1,  3.9,  4.4,  5.0,  5.6,
            6.3, 7.1, 8.0, 9.2, 10.5, 12.1, 14.0, 16.4, 19.5, 23.8, 29.9, 38.0};
}
inline constexpr double kSeriesLeft = 1.0;
inline constexpr double kSeriesRight = 1000.0;

inline bool sameVectorBits(const Vector &a, const Vector &b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

} // namespace ferrule::test
