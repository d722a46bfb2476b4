// Helpers shared by the core tests: an ulp comparison and the family table that
// lets every family run the same invariants as a typed test.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "api/transformation.hpp"

namespace ferrule::test {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Distance in units in the last place, via the monotone mapping of doubles to integers.
inline std::uint64_t ulpDistance(double a, double b) {
    auto ordered = [](double d) {
        std::int64_t i;
        std::memcpy(&i, &d, sizeof d);
        return i < 0 ? std::numeric_limits<std::int64_t>::min() - i : i;
    };
    const std::int64_t ia = ordered(a);
    const std::int64_t ib = ordered(b);
    return ia > ib ? static_cast<std::uint64_t>(ia) - static_cast<std::uint64_t>(ib)
                   : static_cast<std::uint64_t>(ib) - static_cast<std::uint64_t>(ia);
}

// Use as EXPECT_PRED_FORMAT2(WithinOneUlp, actual, expected).
inline ::testing::AssertionResult WithinOneUlp(const char *actualExpr, const char *expectedExpr, double actual,
                                               double expected) {
    if (std::isfinite(actual) && std::isfinite(expected) && ulpDistance(actual, expected) <= 1) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << actualExpr << " = " << ::testing::PrintToString(actual)
                                         << " is not within 1 ulp of " << expectedExpr << " = "
                                         << ::testing::PrintToString(expected) << " (distance "
                                         << ulpDistance(actual, expected) << " ulp)";
}

// Bitwise identity, so that -0.0 and +0.0 (or two NaNs) are told apart.
inline bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline std::vector<double> linspace(double from, double to, int n) {
    std::vector<double> out;
    for (int i = 0; i < n; ++i) {
        out.push_back(from + (to - from) * i / (n - 1));
    }
    return out;
}

// Where a raw threshold stands in the model's standard normal, with the natural parameters
// p set in t: (T(L) - mu)/sigma when T(x) is modelled as normal, T((L - mu)/sigma) when the
// raw value is (Jones-Pewsey).
template <class T> double thresholdScore(const T &t, const Vector &p, double threshold) {
    const double mu = p[p.size() - 2];
    const double sigma = p[p.size() - 1];
    if (T::Kernel::modelsRawValue) {
        return t.transformOne((threshold - mu) / sigma);
    }
    return (t.transformOne(threshold) - mu) / sigma;
}

// A family's likelihood term for a value x with transform y, judged against the transformed
// thresholds tL and tR alone, with the natural parameters p: the shape every family shares
// (the refusal of out-of-range parameters, then the density term, then the censored masses
// of the exact layer). Jones-Pewsey's masses read the raw threshold, recovered as T^-1(tL).
template <class T> double censoredLogDensity(const T &, const Vector &p, double y, double x, double tL, double tR) {
    using F = typename T::Kernel;
    const typename F::Params P = F::fromNatural(p.data());
    if (F::outOfRange(P)) {
        return kOutOfRangeTerm;
    }
    if (tL < y && y < tR) {
        return F::uncensoredTerm(y, x, F::terms(P));
    }
    const CensoredMasses masses = ExactNormalMass::masses(F::thresholdScore(F::inverse(tL, P), tL, P),
                                                          F::thresholdScore(F::inverse(tR, P), tR, P));
    return y <= tL ? masses.below : masses.above;
}

// The log Jacobian of the same term; 0 for a censored value.
template <class T> double censoredLogJacobian(const T &, const Vector &p, double y, double x, double tL, double tR) {
    using F = typename T::Kernel;
    return tL < y && y < tR ? F::termLogJacobian(x, F::fromNatural(p.data())) : 0.0;
}

// Per-family data for the shared invariants. Values lie in the family's domain; search
// points lie inside the box and keep the likelihood data of the tests away from tails
// whose mass rounds to zero, so objectives stay finite.
template <class T> struct Family;

template <> struct Family<YeoJohnsonTransformation> {
    static YeoJohnsonTransformation make(const Vector &trans, double scale = 1.0, double shift = 0.0) {
        return YeoJohnsonTransformation(trans[0], scale, shift);
    }
    static Vector transParams() { return {0.7}; }
    static std::vector<Vector> searchPoints() { return {{0.6, 0.4, 0.3}, {1.3, 2.0, 0.5}, {-0.5, 2.0, 1.0}}; }
    static std::vector<Vector> transGrid() {
        std::vector<Vector> grid;
        for (double lambda : {-2.0, -1.0, -0.5, 0.0, 5e-8, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 4.0}) {
            grid.push_back({lambda});
        }
        return grid;
    }
    static std::vector<double> values() { return linspace(-10.0, 10.0, 41); }
    static double forward(double x, const Vector &trans) { return yeoJohnsonForward(x, trans[0]); }
    // The map whose derivative the log Jacobian is.
    static double jacobianMap(double x, const Vector &p) { return yeoJohnsonForward(x, p[0]); }
};

template <> struct Family<LogSinhTransformation> {
    static LogSinhTransformation make(const Vector &trans, double scale = 1.0, double shift = 0.0) {
        return LogSinhTransformation(trans[0], trans[1], scale, shift);
    }
    static Vector transParams() { return {0.8, 0.3}; }
    // Offsets exp(q1) at most 1, so the likelihood terms are not the out-of-range sentinel.
    static std::vector<Vector> searchPoints() {
        return {{-0.3, -1.2, 0.5, 0.2}, {0.5, -0.1, 1.5, 0.0}, {-1.5, -3.0, -0.2, 0.8}};
    }
    static std::vector<Vector> transGrid() {
        std::vector<Vector> grid;
        for (double lambda : {0.05, 0.5, 1.0, 2.0, 5.0}) {
            for (double epsilon : {0.01, 0.5, 1.0}) {
                grid.push_back({lambda, epsilon});
            }
        }
        return grid;
    }
    static std::vector<double> values() { return linspace(0.0, 10.0, 41); }
    static double forward(double x, const Vector &trans) { return logSinhForward(x, trans[0], trans[1]); }
    static double jacobianMap(double x, const Vector &p) { return logSinhForward(x, p[0], p[1]); }
};

template <class T> struct SinhAsinhFamilyData {
    static T make(const Vector &trans, double scale = 1.0, double shift = 0.0) {
        return T(trans[0], trans[1], scale, shift);
    }
    static Vector transParams() { return {1.3, -0.4}; }
    static std::vector<Vector> searchPoints() {
        return {{0.5, 0.2, 0.3, 0.8}, {0.3, -0.5, -0.6, 0.7}, {0.55, 0.4, 0.1, 0.85}};
    }
    static std::vector<Vector> transGrid() {
        std::vector<Vector> grid;
        for (double delta : {0.3, 0.5, 1.0, 2.0, 5.0}) {
            for (double epsilon : {-1.0, 0.0, 0.5, 2.0}) {
                grid.push_back({delta, epsilon});
            }
        }
        return grid;
    }
    static std::vector<double> values() { return linspace(-10.0, 10.0, 41); }
    static double forward(double x, const Vector &trans) { return sinhAsinhForward(x, trans[0], trans[1]); }
    // Jones-Pewsey models the raw value: its Jacobian is that of x -> T((x - mu)/sigma).
    static double jacobianMap(double x, const Vector &p) {
        if constexpr (std::is_same_v<T, JonesPewseyTransformation>) {
            return sinhAsinhForward((x - p[2]) / p[3], p[0], p[1]);
        } else {
            return sinhAsinhForward(x, p[0], p[1]);
        }
    }
};

template <> struct Family<SinhAsinhTransformation> : SinhAsinhFamilyData<SinhAsinhTransformation> {};
template <> struct Family<JonesPewseyTransformation> : SinhAsinhFamilyData<JonesPewseyTransformation> {};

using AllFamilies = ::testing::Types<YeoJohnsonTransformation, LogSinhTransformation, SinhAsinhTransformation,
                                     JonesPewseyTransformation>;

struct FamilyNames {
    template <class T> static std::string GetName(int) {
        if constexpr (std::is_same_v<T, YeoJohnsonTransformation>) {
            return "YeoJohnson";
        } else if constexpr (std::is_same_v<T, LogSinhTransformation>) {
            return "LogSinh";
        } else if constexpr (std::is_same_v<T, SinhAsinhTransformation>) {
            return "SinhAsinh";
        } else {
            return "JonesPewsey";
        }
    }
};

} // namespace ferrule::test
