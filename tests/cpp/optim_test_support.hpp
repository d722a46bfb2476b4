// Helpers shared by the optimiser tests: capturing std::cout and objectives that
// record where they were evaluated.
#pragma once

#include <cstdint>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "api/transformation.hpp"
#include "optim/differential_evolution.hpp"
#include "optim/message_sink.hpp"
#include "optim/nelder_mead.hpp"
#include "optim/objective.hpp"
#include "optim/random.hpp"
#include "optim/shuffled_complex_evolution.hpp"

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

// How many of the points differ from every earlier one, bit for bit.
inline std::size_t distinctPoints(const std::vector<Vector> &points) {
    std::set<std::vector<std::uint64_t>> seen;
    for (const Vector &x : points) {
        std::vector<std::uint64_t> bits(x.size());
        std::memcpy(bits.data(), x.data(), x.size() * sizeof(double));
        seen.insert(bits);
    }
    return seen.size();
}

// The censored likelihood of a series bound to a model: its negLogLik, or its logLik for
// a maximising search; evaluating it decodes the point into the model.
struct ModelObjective {
    using Operation = double (Transformation::*)(const Vector &, const Vector &, double, double, bool);
    Operation operation;
    bool isMap;
    double right;
    double left;
    Vector data;
    Transformation &model;

    double operator()(const Vector &x) const { return (model.*operation)(x, data, left, right, isMap); }
};

// The optimisers as the kestrel classes run them: lines to std::cout (which CoutCapture
// can catch), differential evolution on an engine of its own, shuffled complex evolution
// maximising (the objectives of its tests are hills) on the process-wide stream.
inline FitResult nelderMead(const Vector &start, const std::vector<Vector> &initialSimplex, ObjectiveRef objective,
                            double tolX, double tolF, int maxIterations) {
    StdoutSink sink;
    return ferrule::nelderMead(start, initialSimplex, objective, tolX, tolF, maxIterations, sink);
}

inline FitResult differentialEvolution(const Vector &lower, const Vector &upper, ObjectiveRef objective, double weight,
                                       double crossover, int populationSize, std::uint32_t seed) {
    StdoutSink sink;
    std::mt19937 engine(seed);
    return ferrule::differentialEvolution(lower, upper, objective, weight, crossover, populationSize, engine, sink);
}

inline FitResult differentialEvolution(const Vector &lower, const Vector &upper, ObjectiveRef objective, double weight,
                                       double crossover, int populationSize) {
    return differentialEvolution(lower, upper, objective, weight, crossover, populationSize, entropySeed());
}

inline FitResult maximiseByComplexEvolution(const Vector &lower, const Vector &upper, int maxEval,
                                            ObjectiveRef objective, double tolerance, int maxConverge) {
    ProcessUniformSource uniform;
    const auto negated = [&objective](const Vector &x) { return -objective(x); };
    return ferrule::shuffledComplexEvolution(lower, upper, maxEval, negated, tolerance, maxConverge, uniform);
}

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
