// The cases of the identity test: seeded series, every family and optimiser, rescaled
// and not, with and without the prior; each result written as text lines with hex floats.
#pragma once

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "api/transformation.hpp"
#include "optim/differential_evolution.hpp"
#include "optim/random.hpp"
#include "optim_test_support.hpp"

namespace ferrule::test {

inline std::string hex(double x) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%a", x);
    return buffer;
}

inline std::string hexList(const Vector &v) {
    std::string out;
    for (double x : v) {
        out += (out.empty() ? "" : " ") + hex(x);
    }
    return out;
}

// Daily rain: about 35 % dry days (0), wet amounts rounded to 0.1 mm, so many ties.
inline Vector rainSeries(int n, unsigned seed) {
    std::mt19937 engine(seed);
    Vector out;
    for (int i = 0; i < n; ++i) {
        const double wet = canonical(engine);
        const double u = canonical(engine);
        const double amount = 4.0 * std::pow(-std::log(1.0 - u), 1.3);
        out.push_back(wet < 0.35 ? 0.0 : std::round(amount * 10.0) / 10.0 + 0.1);
    }
    return out;
}

// A standard normal draw by Box-Muller from two canonical doubles.
inline double normalDraw(std::mt19937 &engine) {
    const double u1 = canonical(engine);
    const double u2 = canonical(engine);
    return std::sqrt(-2.0 * std::log(1.0 - u1)) * std::cos(6.283185307179586 * u2);
}

// Streamflow-like: lognormal, no ties, nothing censored.
inline Vector flowSeries(int n, unsigned seed) {
    std::mt19937 engine(seed);
    Vector out;
    for (int i = 0; i < n; ++i) {
        const double z = normalDraw(engine);
        out.push_back(std::exp(0.8 * z + 1.0));
    }
    return out;
}

// Values of both signs, skewed, with values beyond both thresholds of its case.
inline Vector twoSidedSeries(int n, unsigned seed) {
    std::mt19937 engine(seed);
    Vector out;
    for (int i = 0; i < n; ++i) {
        const double z = normalDraw(engine);
        out.push_back(z + 0.3 * z * z - 0.3);
    }
    return out;
}

struct SeriesCase {
    std::string name;
    Vector data;
    double left;
    double right;
    bool positiveOnly; // log-sinh needs lambda x + epsilon > 0 in reach
};

inline std::vector<SeriesCase> seriesCases() {
    return {
        {"rain40", rainSeries(40, 11), 0.0, INFINITY, true},
        {"rain300", rainSeries(300, 12), 0.0, INFINITY, true},
        {"flow40", flowSeries(40, 13), 0.0, INFINITY, true},
        {"flow300", flowSeries(300, 14), 0.0, INFINITY, true},
        {"both40", twoSidedSeries(40, 15), -1.0, 2.5, false},
        {"open300", twoSidedSeries(300, 16), -INFINITY, INFINITY, false},
    };
}

// Search vectors drawn uniformly in the family's box, for the likelihood records.
inline std::vector<Vector> boxPoints(const Vector &lower, const Vector &upper, int count, unsigned seed) {
    std::mt19937 engine(seed);
    std::vector<Vector> out;
    for (int i = 0; i < count; ++i) {
        Vector q;
        for (std::size_t k = 0; k < lower.size(); ++k) {
            q.push_back(lower[k] + (upper[k] - lower[k]) * canonical(engine));
        }
        out.push_back(q);
    }
    return out;
}

template <class T> struct FamilyCase {
    std::string name;
    // Constructor with (scale, shift) for the rescaled fits.
    T (*make)(double scale, double shift);
};

inline void addLines(std::vector<std::string> &out, const std::string &tag, const CoutCapture &capture) {
    for (const std::string &line : capture.lines()) {
        out.push_back(tag + " | " + line);
    }
}

template <class T> void familyRecords(std::vector<std::string> &out, const FamilyCase<T> &family, bool positiveOnly) {
    unsigned deSeed = 1000;
    for (const SeriesCase &series : seriesCases()) {
        if (positiveOnly && !series.positiveOnly) {
            continue;
        }
        for (const bool rescale : {false, true}) {
            for (const bool prior : {false, true}) {
                const std::string tag =
                    family.name + "/" + series.name + (rescale ? "/rescaled" : "/raw") + (prior ? "/map" : "/ml");
                const double scale = rescale ? 0.25 : 1.0;
                const double shift = rescale ? 0.5 : 0.0;

                T simplex = family.make(scale, shift);
                {
                    CoutCapture capture;
                    simplex.optimParams(series.data, rescale, prior, series.left, series.right);
                    addLines(out, tag + "/nm", capture);
                }
                out.push_back(tag + "/nm | params " + hexList(simplex.optimisedParams));
                out.push_back(tag + "/nm | natural " + hexList(simplex.getDistributionParams()));

                T complexes = family.make(scale, shift);
                processEngine.seed(5489u);
                {
                    CoutCapture capture;
                    complexes.optimParamsSCE(series.data, rescale, prior, 5, 100000, series.left, series.right);
                    addLines(out, tag + "/sce", capture);
                }
                out.push_back(tag + "/sce | params " + hexList(complexes.optimisedParams));
                out.push_back(tag + "/sce | natural " + hexList(complexes.getDistributionParams()));

                if (series.data.size() <= 40) {
                    T evolution = family.make(scale, shift);
                    Vector data = rescale ? evolution.rescaleMany(series.data) : series.data;
                    const double left = rescale ? evolution.rescaleOne(series.left) : series.left;
                    const double right = rescale ? evolution.rescaleOne(series.right) : series.right;
                    const PreparedSeries prepared(data, left, right);
                    const CensoredLikelihood<typename T::Kernel, ExactNormalMass> likelihood(prepared, prior);
                    const auto objective = [&](const Vector &q) { return -likelihood.logLik(q.data()); };
                    CollectingSink sink;
                    std::mt19937 engine(++deSeed);
                    const FitResult result = differentialEvolution(evolution.lowerBounds(), evolution.upperBounds(),
                                                                   objective, 0.9, 0.8, 25, engine, sink);
                    for (const std::string &line : sink.lines) {
                        out.push_back(tag + "/de | " + line);
                    }
                    out.push_back(tag + "/de | count " + std::to_string(result.count));
                    out.push_back(tag + "/de | params " + hexList(result.params));
                }

                T probe = family.make(scale, shift);
                const Vector data = rescale ? probe.rescaleMany(series.data) : series.data;
                const double left = rescale ? probe.rescaleOne(series.left) : series.left;
                const double right = rescale ? probe.rescaleOne(series.right) : series.right;
                std::string values;
                for (const Vector &q : boxPoints(probe.lowerBounds(), probe.upperBounds(), 12, 77)) {
                    values += " " + hex(probe.negLogLik(q, data, left, right, prior));
                }
                out.push_back(tag + "/negloglik |" + values);
                std::string terms;
                const Vector q = simplex.optimisedParams;
                for (std::size_t i = 0; i < series.data.size(); i += 7) {
                    terms += " " + hex(probe.logDensity(q, series.data[i], series.left, series.right, rescale));
                    terms += " " + hex(probe.logJacobian(q, series.data[i], series.left, series.right, rescale));
                }
                out.push_back(tag + "/terms |" + terms);
                const Vector sample(series.data.begin(), series.data.begin() + 40);
                out.push_back(tag + "/maps | " + hexList(simplex.transformMany(sample)) + " | " +
                              hexList(simplex.invTransformMany(sample)));
            }
        }
    }
}

inline std::vector<std::string> identityRecords() {
    std::vector<std::string> out;
    familyRecords(out,
                  FamilyCase<YeoJohnsonTransformation>{
                      "yeo_johnson", [](double s, double h) { return YeoJohnsonTransformation(1.0, s, h); }},
                  false);
    familyRecords(out,
                  FamilyCase<LogSinhTransformation>{
                      "log_sinh", [](double s, double) { return LogSinhTransformation(1.0, 0.0, s, 0.0); }},
                  true);
    familyRecords(out,
                  FamilyCase<SinhAsinhTransformation>{
                      "sinh_asinh", [](double s, double h) { return SinhAsinhTransformation(1.0, 0.0, s, h); }},
                  false);
    familyRecords(out,
                  FamilyCase<JonesPewseyTransformation>{
                      "jones_pewsey", [](double s, double h) { return JonesPewseyTransformation(1.0, 0.0, s, h); }},
                  false);
    return out;
}

} // namespace ferrule::test
