// The vector kernels of every instruction set this machine runs: close to the scalar
// kernels over a table of families, parameters and values (tails, signs, non-finite
// values), and a value's result independent of its place in a block, the block split and
// the thread count; the public likelihood built on them, and its pairwise sum.
#include <omp.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/kernels.hpp"
#include "core/censored_likelihood.hpp"
#include "core/families/registry.hpp"
#include "core/pairwise_sum.hpp"
#include "core/simd/vector_kernels.hpp"
#include "core/standard_normal.hpp"
#include "identity_cases.hpp"
#include "optim_test_support.hpp"
#include "test_support.hpp"

namespace ferrule::test {
namespace {

constexpr double kEps = 2.220446049250313e-16;

std::vector<const simd::VectorKernels *> supported() {
    const simd::VectorKernels *k[3];
    const std::size_t n = simd::supportedKernels(k, 3);
    return {k, k + n};
}

// Same non-finite class, and finite results within `ulps` ulp of max(|scalar|, scale):
// scale is where a formula subtracts numbers near `scale` (a power near 1 minus 1, the
// logarithm of a number near 1), so the 1-ulp errors of the functions count there.
::testing::AssertionResult close(double vector, double scalar, double ulps, double scale) {
    if (std::isnan(scalar) || std::isinf(scalar)) {
        if (std::isnan(scalar) ? std::isnan(vector) : vector == scalar) {
            return ::testing::AssertionSuccess();
        }
    } else if (std::fabs(vector - scalar) <= ulps * kEps * std::max(std::fabs(scalar), scale)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "vector " << ::testing::PrintToString(vector) << ", scalar "
                                         << ::testing::PrintToString(scalar);
}

const Vector kValues{0.0,   -0.0,  1e-300, 1e-12, 0.3,   1.0,    2.5,    17.0, 1234.5, 1e6,     1e12,
                     1e200, -1e-9, -0.7,   -3.0,  -40.0, -1e5,   -1e250, kInf, -kInf,  kNaN,    700.0,
                     709.0, 709.5, 710.0,  800.0, 2e154, -3e160, 5.5e-3, 42.0, -1e-15, 123456.0};

struct MapCase {
    FamilyId family;
    std::vector<double> t; // transformation parameters
    double scale;          // the size of what the map's formula cancels
};

// Yeo-Johnson at the identity, at and just outside the logarithm switches, negative and
// large powers; log-sinh across its overflow switch; sinh-arcsinh heavy and light tails.
const std::vector<MapCase> kMapCases{
    {FamilyId::YeoJohnson, {1.0}, 1.0},      {FamilyId::YeoJohnson, {0.0}, 1.0},
    {FamilyId::YeoJohnson, {2.0}, 1.0},      {FamilyId::YeoJohnson, {5e-8}, 1.0},
    {FamilyId::YeoJohnson, {0.37}, 3.0},     {FamilyId::YeoJohnson, {-1.5}, 1.0},
    {FamilyId::YeoJohnson, {3.2}, 1.0},      {FamilyId::YeoJohnson, {kNaN}, 1.0},
    {FamilyId::LogSinh, {1.0, 0.5}, 2.0},    {FamilyId::LogSinh, {0.03, 0.01}, 40},
    {FamilyId::LogSinh, {2.0, 1e-4}, 1.0},   {FamilyId::SinhAsinh, {1.0, 0.0}, 1.0},
    {FamilyId::SinhAsinh, {0.4, -0.8}, 1.0}, {FamilyId::JonesPewsey, {2.5, 1.2}, 1.0},
};

template <class Scalar>
void expectClose(const simd::VectorKernels &k, const MapCase &c, simd::ParamMap map, Scalar scalar, bool composed,
                 const char *what) {
    Vector out(kValues.size());
    map(c.t.data(), kValues.data(), out.data(), kValues.size());
    for (std::size_t i = 0; i < kValues.size(); ++i) {
        const double expected = scalar(kValues[i]);
        const double ulps = composed ? 8.0 + 2.0 * std::fabs(std::log(std::fabs(expected))) : 8.0;
        EXPECT_TRUE(close(out[i], expected, ulps, c.scale))
            << k.name << " " << familyInfo(c.family).key << " " << what << " t0 = " << c.t[0] << " x = " << kValues[i];
    }
}

// A composed map adds one function's error per step, amplified by the step's condition:
// sinh(a) or exp(a) carries the error of a times |a| (about log|result|), so the tolerance
// of the composed maps grows with it; Yeo-Johnson's power is one function of its inputs.
TEST(VectorKernels, MapsAreCloseToTheScalarKernels) {
    for (const simd::VectorKernels *k : supported()) {
        for (const MapCase &c : kMapCases) {
            withFamily(c.family, [&](auto kernel) {
                using F = decltype(kernel);
                const typename F::Params p = F::withTransformation(c.t.data());
                const int f = static_cast<int>(c.family);
                const bool composed = c.family != FamilyId::YeoJohnson;
                expectClose(
                    *k, c, k->forward[f], [&](double x) { return F::forward(x, p); }, composed, "forward");
                expectClose(
                    *k, c, k->inverse[f], [&](double x) { return F::inverse(x, p); }, composed, "inverse");
                // Yeo-Johnson's vector log Jacobian is (e - 1) log(base), finite where the
                // scalar kernel's power overflows: the reference is that power in long double.
                const auto logJacobian = [&](double x) {
                    if (c.family != FamilyId::YeoJohnson || std::isnan(c.t[0])) {
                        return F::mapLogJacobian(x, p);
                    }
                    const long double e = x >= 0.0 ? c.t[0] - 1.0 : 1.0 - c.t[0];
                    return static_cast<double>(std::log(std::pow(x >= 0.0 ? 1.0L + x : 1.0L - x, e)));
                };
                expectClose(*k, c, k->logJacobian[f], logJacobian, composed, "log Jacobian");
            });
        }
    }
}

TEST(VectorKernels, StandardNormalIsCloseToTheScalarOne) {
    Vector z;
    for (double v = -45.0; v <= 40.0; v += 0.37) {
        z.push_back(v);
    }
    z.insert(z.end(), {-37.5, -37.49, 0.0, -0.0, kInf, -kInf, kNaN, -1e300});
    for (const simd::VectorKernels *k : supported()) {
        Vector cdf(z.size()), logCdf(z.size());
        k->normalCdf(z.data(), cdf.data(), z.size());
        k->normalLogCdf(z.data(), logCdf.data(), z.size());
        for (std::size_t i = 0; i < z.size(); ++i) {
            EXPECT_TRUE(close(cdf[i], standardNormalCdf(z[i]), 4.0, 0.0)) << k->name << " z = " << z[i];
            EXPECT_TRUE(close(logCdf[i], standardNormalLogCdf(z[i]), 8.0, 0.0)) << k->name << " z = " << z[i];
        }
    }
}

// Each value alone, each value at every position of a block and after a ragged split:
// the same bits.
TEST(VectorKernels, AValueGivesTheSameBitsWhereverItSits) {
    const double t[] = {0.37, 0.8};
    for (const simd::VectorKernels *k : supported()) {
        for (const simd::ParamMap map : {k->forward[0], k->inverse[1], k->logJacobian[2], k->forward[3]}) {
            Vector whole(kValues.size());
            map(t, kValues.data(), whole.data(), kValues.size());
            for (std::size_t i = 0; i < kValues.size(); ++i) {
                double alone;
                map(t, &kValues[i], &alone, 1);
                EXPECT_TRUE(sameBits(alone, whole[i])) << k->name << " x = " << kValues[i];
            }
            for (std::size_t shift = 1; shift < 9; ++shift) {
                Vector split(kValues.size());
                map(t, kValues.data(), split.data(), shift);
                map(t, kValues.data() + shift, split.data() + shift, kValues.size() - shift);
                EXPECT_TRUE(sameVectorBits(split, whole)) << k->name << " split at " << shift;
            }
        }
    }
}

TEST(VectorKernels, ArrayMapsGiveTheSameBitsOnAnyThreadCount) {
    Vector x = linspace(-30.0, 60.0, 70001);
    x[12345] = kNaN;
    const double t[] = {0.3, -0.4};
    for (const FamilyId family : kFamilies) {
        Vector one(x.size()), two(x.size()), three(x.size());
        for (const auto &map : {kernels::forward, kernels::inverse, kernels::logJacobian}) {
            map(family, t, x.data(), one.data(), x.size(), 1);
            map(family, t, x.data(), two.data(), x.size(), 2);
            map(family, t, x.data(), three.data(), x.size(), 3);
            EXPECT_TRUE(sameVectorBits(one, two));
            EXPECT_TRUE(sameVectorBits(one, three));
        }
    }
    Vector one(x.size()), two(x.size());
    kernels::standardNormalCdf(x.data(), one.data(), x.size(), 1);
    kernels::standardNormalCdf(x.data(), two.data(), x.size(), 2);
    EXPECT_TRUE(sameVectorBits(one, two));
}

} // namespace
} // namespace ferrule::test

namespace ferrule::test {
namespace {

// The public likelihood with the scalar evaluation: the reference of the vector one.
struct ScalarAccurateMass : AccurateNormalMass {
    using Evaluation = ScalarEvaluation;
};

// Over the identity series (censored on either side, ties, both signs) and points across
// each family's box: the vector terms and the pairwise sum stay within 1e-12 of the
// scalar terms summed in index order (relative to the sum of |terms|).
TEST(VectorLikelihood, IsCloseToTheScalarEvaluation) {
    for (const FamilyId family : kFamilies) {
        withFamily(family, [&](auto kernel) {
            using F = decltype(kernel);
            const Vector lower(F::lower.begin(), F::lower.end()), upper(F::upper.begin(), F::upper.end());
            for (const SeriesCase &c : seriesCases()) {
                const PreparedSeries series(c.data, c.left, c.right);
                const CensoredLikelihood<F, AccurateNormalMass> vector(series, true);
                const CensoredLikelihood<F, ScalarAccurateMass> scalar(series, true);
                for (const Vector &q : boxPoints(lower, upper, 40, 7)) {
                    const double v = vector.logLik(q.data()), s = scalar.logLik(q.data());
                    if (!std::isfinite(s)) {
                        EXPECT_TRUE(std::isnan(s) ? std::isnan(v) : v == s) << c.name << " " << F::key;
                        continue;
                    }
                    EXPECT_NEAR(v, s, 1e-12 * (1.0 + std::fabs(s))) << c.name << " " << F::key;
                }
            }
        });
    }
}

TEST(VectorLikelihood, GivesTheSameBitsOnAnyThreadCount) {
    const Vector data = flowSeries(100000, 3); // all distinct: the terms are split across threads
    const PreparedSeries series(data, 1.0, 30.0);
    const CensoredLikelihood<SinhAsinh, AccurateNormalMass> likelihood(series, false);
    const double q[] = {0.4, 0.2, 0.3, 0.6};
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    const double one = likelihood.logLik(q);
    omp_set_num_threads(2);
    const double two = likelihood.logLik(q);
    omp_set_num_threads(threads);
    EXPECT_TRUE(sameBits(one, two));
}

// A million terms of mixed size: the pairwise sum is within a few ulp of the exact sum
// (long double), where one running sum drifts by thousands.
TEST(PairwiseSum, KeepsLongSumsAccurate) {
    std::mt19937 engine(5);
    std::uniform_real_distribution<double> u(-3.0, 1.0);
    Vector terms(1000003);
    for (double &t : terms) {
        t = u(engine) * 0.1;
    }
    long double exact = 0.0L;
    double running = 0.0;
    for (const double t : terms) {
        exact += t;
        running += t;
    }
    const double pairwise = pairwiseSum(terms.size(), [&](std::size_t i) { return terms[i]; });
    EXPECT_LE(ulpDistance(pairwise, static_cast<double>(exact)), 16u);
    EXPECT_GT(ulpDistance(running, static_cast<double>(exact)), 64u);
    EXPECT_EQ(pairwiseSum(0, [](std::size_t) { return 1.0; }), 0.0);
}

} // namespace
} // namespace ferrule::test
