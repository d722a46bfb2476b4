// The vector kernels of the likelihood's gradient and Hessian: each value's term and first
// and second derivatives close to the scalar formulas over a table of families, parameters and
// censoring, the same bits wherever a value sits in a block, and the whole gradient and
// Hessian the same on any thread count.
#include <omp.h>

#include <array>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "core/likelihood_gradient.hpp"
#include "identity_cases.hpp"
#include "test_support.hpp"

namespace ferrule::test {
namespace {

constexpr double kEps = 2.220446049250313e-16;

// Values of both signs across the scales of a series, the left threshold 0 among them.
const Vector kValues{0.0, 1e-9, 1e-3, 0.05, 0.3, 1.0, 2.5, 7.0, 30.0, 150.0, 1e3, 5e4, -1e-6, -0.4, -2.0, -25.0};

struct Censor {
    const char *name;
    double left, right;
};
constexpr Censor kCensoring[] = {{"none", -kInf, kInf}, {"left", 0.0, kInf}, {"both", 0.0, 20.0}};

using Rows = std::vector<Vector>;

// The gradient rows, and with curvature the second-derivative rows after them.
template <class F, class Kind>
Rows rowsOf(const std::array<double, F::kParams> &natural, const Censor &c, const Vector &x, const Vector &w,
            bool curvature = false) {
    const typename F::Params p = F::fromNatural(natural.data());
    const std::size_t count = curvature ? simd::kCurvatureRow + simd::pairCount(F::kParams) : simd::kGradientRows;
    Vector flat(count * x.size());
    typename Kind::template At<F>(p, c.left, c.right)(x.data(), w.data(), flat.data(), x.size(), curvature);
    Rows rows(count);
    for (std::size_t r = 0; r < count; ++r) {
        rows[r].assign(flat.begin() + r * x.size(), flat.begin() + (r + 1) * x.size());
    }
    return rows;
}

// Within `ulps` ulp of max(|scalar|, 1) times (1 + |log|x||): the terms add numbers of size 1
// (log sigma, the normal's constant), and the vector formulas take exp and sinh of a, whose
// error grows with |a|, about the logarithm of the value.
template <class F>
void expectRowsClose(const std::array<double, F::kParams> &natural, double ulps, bool curvature = false) {
    const Vector w(kValues.size(), 3.0);
    for (const Censor &c : kCensoring) {
        const Rows vector = rowsOf<F, VectorGradientRows>(natural, c, kValues, w, curvature);
        const Rows scalar = rowsOf<F, ScalarGradientRows>(natural, c, kValues, w, curvature);
        for (std::size_t r = 0; r < vector.size(); ++r) {
            for (std::size_t i = 0; i < kValues.size(); ++i) {
                const double v = vector[r][i], s = scalar[r][i];
                const double bound = ulps * kEps * std::max(std::fabs(s), 1.0) *
                                     (1.0 + std::fabs(std::log(std::fabs(kValues[i]) + 1e-300)));
                const bool close = std::isfinite(s) ? std::fabs(v - s) <= bound : sameBits(v, s) || v == s;
                EXPECT_TRUE(close || (std::isnan(s) && std::isnan(v)))
                    << F::key << " t0 = " << natural[0] << " censoring " << c.name << " row " << r
                    << " x = " << kValues[i] << ": vector " << v << ", scalar " << s;
            }
        }
    }
}

// Powers at the identity, in the logarithm branch, near the series switch, bounded ranges;
// log-sinh nearly linear and strongly curved; sinh-arcsinh light and heavy tails.
// The second derivatives cancel more (1 - 3 r^2 in sigma), so their bound is wider.
TEST(VectorGradient, RowsAreCloseToTheScalarFormulas) {
    for (const double lambda : {1.0, 0.3, 1e-8, -0.7, 2.6, 2.0, 1.9999999}) {
        expectRowsClose<YeoJohnson>({lambda, 0.5, 1.3}, 16.0);
        expectRowsClose<YeoJohnson>({lambda, 0.5, 1.3}, 64.0, true);
    }
    for (const auto &[lambda, epsilon] : {std::pair{1.0, 0.5}, {0.03, 0.01}, {2.0, 1e-4}, {0.5, 3.0}}) {
        expectRowsClose<LogSinh>({lambda, epsilon, 0.8, 0.9}, 16.0);
        expectRowsClose<LogSinh>({lambda, epsilon, 0.8, 0.9}, 64.0, true);
    }
    for (const auto &[delta, epsilon] : {std::pair{1.0, 0.0}, {0.4, -0.8}, {2.5, 1.2}}) {
        expectRowsClose<SinhAsinh>({delta, epsilon, 0.2, 1.1}, 16.0);
        expectRowsClose<SinhAsinh>({delta, epsilon, 0.2, 1.1}, 64.0, true);
        expectRowsClose<JonesPewsey>({delta, epsilon, 0.3, 2.0}, 16.0);
        expectRowsClose<JonesPewsey>({delta, epsilon, 0.3, 2.0}, 64.0, true);
    }
}

// Each value alone gives the bits it gives in a block of all of them.
TEST(VectorGradient, AValueGivesTheSameBitsWhereverItSits) {
    const Vector w(kValues.size(), 1.0);
    const Rows whole = rowsOf<SinhAsinh, VectorGradientRows>({0.7, 0.3, 0.1, 1.2}, kCensoring[2], kValues, w);
    const Rows curved = rowsOf<YeoJohnson, VectorGradientRows>({0.3, 0.1, 1.2}, kCensoring[2], kValues, w, true);
    for (std::size_t i = 0; i < kValues.size(); ++i) {
        const Rows alone =
            rowsOf<SinhAsinh, VectorGradientRows>({0.7, 0.3, 0.1, 1.2}, kCensoring[2], {kValues[i]}, {1.0});
        for (std::size_t r = 0; r < simd::kGradientRows; ++r) {
            EXPECT_TRUE(sameBits(alone[r][0], whole[r][i])) << "row " << r << " x = " << kValues[i];
        }
        const Rows curvedAlone =
            rowsOf<YeoJohnson, VectorGradientRows>({0.3, 0.1, 1.2}, kCensoring[2], {kValues[i]}, {1.0}, true);
        for (std::size_t r = 0; r < curved.size(); ++r) {
            EXPECT_TRUE(sameBits(curvedAlone[r][0], curved[r][i])) << "curvature row " << r << " x = " << kValues[i];
        }
    }
}

// Enough distinct values for the pieces to go to the threads: one thread and two give the
// same bits, value and gradient.
TEST(VectorGradient, GivesTheSameBitsOnAnyThreadCount) {
    const Vector data = flowSeries(100000, 3);
    const PreparedSeries series(data, 1.0, 30.0);
    const double q[] = {-0.4, -1.2, 0.3, 0.2};
    const LikelihoodGradient<LogSinh> likelihood(series, true);
    const int threads = omp_get_max_threads();
    std::array<double, 4> one{}, two{};
    omp_set_num_threads(1);
    const double valueOne = likelihood(q, one.data());
    omp_set_num_threads(2);
    const double valueTwo = likelihood(q, two.data());
    omp_set_num_threads(threads);
    EXPECT_TRUE(sameBits(valueOne, valueTwo));
    for (std::size_t j = 0; j < one.size(); ++j) {
        EXPECT_TRUE(sameBits(one[j], two[j])) << "coordinate " << j;
    }
    // The scalar rows summed in the same order: the same gradient to rounding.
    std::array<double, 4> scalar{};
    const double value = LikelihoodGradient<LogSinh, ScalarGradientRows>(series, true)(q, scalar.data());
    EXPECT_NEAR(valueOne, value, 1e-12 * std::fabs(value));
    for (std::size_t j = 0; j < one.size(); ++j) {
        EXPECT_NEAR(one[j], scalar[j], 1e-10 * (1.0 + std::fabs(scalar[j]))) << "coordinate " << j;
    }
}

// The same for the analytic Hessian, which leaves the value and gradient's bits alone.
TEST(VectorGradient, HessianGivesTheSameBitsOnAnyThreadCount) {
    const Vector data = flowSeries(100000, 3);
    const PreparedSeries series(data, 1.0, 30.0);
    const double q[] = {0.2, 1.5, 0.1};
    const LikelihoodGradient<YeoJohnson> likelihood(series, true);
    const int threads = omp_get_max_threads();
    std::array<double, 3> plain{}, one{}, two{};
    std::array<double, 9> hessianOne{}, hessianTwo{};
    omp_set_num_threads(1);
    const double valuePlain = likelihood(q, plain.data());
    const double valueOne = likelihood(q, one.data(), hessianOne.data());
    omp_set_num_threads(2);
    const double valueTwo = likelihood(q, two.data(), hessianTwo.data());
    omp_set_num_threads(threads);
    EXPECT_TRUE(sameBits(valuePlain, valueOne) && sameBits(valueOne, valueTwo));
    for (std::size_t j = 0; j < one.size(); ++j) {
        EXPECT_TRUE(sameBits(plain[j], one[j]) && sameBits(one[j], two[j])) << "coordinate " << j;
    }
    for (std::size_t k = 0; k < hessianOne.size(); ++k) {
        EXPECT_TRUE(sameBits(hessianOne[k], hessianTwo[k])) << "entry " << k;
    }
}

} // namespace
} // namespace ferrule::test
