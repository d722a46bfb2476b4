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

inline bool sameVectorBits(const Vector &a, const Vector &b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

} // namespace ferrule::test
