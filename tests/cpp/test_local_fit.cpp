// The analytic gradient and Hessian of the censored likelihood, the projected Newton polish
// and the thorough fit built on them.
#include <array>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "core/likelihood_gradient.hpp"
#include "optim/fit_series.hpp"
#include "optim/local_polish.hpp"

namespace ferrule::test {
namespace {

// A skewed positive series with ties and zeros, deterministic.
std::vector<double> skewedSeries(std::size_t n) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double v = std::exp(1.3 * std::sin(0.7 * static_cast<double>(i)) + 0.2 * std::cos(3.1 * i)) - 0.6;
        x[i] = v > 0.0 ? std::round(v * 100.0) / 100.0 : 0.0;
    }
    return x;
}

struct Censor {
    const char *name;
    double left, right;
};
constexpr Censor kCensoring[] = {{"none", -1e300, 1e300}, {"left", 0.0, 1e300}, {"both", 0.0, 3.0}};

// Central differences of the value against the analytic gradient, every search coordinate.
template <class F> void expectGradientMatches(const std::array<double, F::kParams> &q0) {
    const std::vector<double> data = skewedSeries(60);
    for (const Censor &c : kCensoring) {
        for (const bool prior : {false, true}) {
            SCOPED_TRACE(std::string(F::key) + " censoring " + c.name + (prior ? " prior" : ""));
            const PreparedSeries series(data, c.left, c.right);
            const LikelihoodGradient<F> likelihood(series, prior);
            std::array<double, F::kParams> g{}, scratch{};
            const double value = likelihood(q0.data(), g.data());
            ASSERT_TRUE(std::isfinite(value));
            for (std::size_t j = 0; j < F::kParams; ++j) {
                const double h = 1e-6 * std::max(1.0, std::fabs(q0[j]));
                auto up = q0, down = q0;
                up[j] += h;
                down[j] -= h;
                const double fd =
                    (likelihood(up.data(), scratch.data()) - likelihood(down.data(), scratch.data())) / (2.0 * h);
                EXPECT_NEAR(g[j], fd, 1e-5 * (1.0 + std::fabs(fd))) << "coordinate " << j;
            }
            // The same value as the public layer's likelihood, to rounding of the sums.
            const CensoredLikelihood<F, AccurateNormalMass> fits(series, prior);
            EXPECT_NEAR(value, fits.logLik(q0.data()), 1e-9 * std::fabs(value));
        }
    }
}

TEST(LikelihoodGradient, MatchesDifferencesForEveryFamilyCensoringAndPrior) {
    expectGradientMatches<YeoJohnson>({0.4, 0.7, -0.3});
    expectGradientMatches<YeoJohnson>({1e-5, 0.5, -0.2}); // the logarithm branch's neighbourhood
    expectGradientMatches<YeoJohnson>({-0.8, 0.3, 0.2});  // range bounded above: renormalised
    expectGradientMatches<YeoJohnson>({2.6, 0.3, 0.2});   // range bounded below
    expectGradientMatches<LogSinh>({-0.5, -1.5, 0.3, -0.2});
    expectGradientMatches<SinhAsinh>({0.45, 0.2, 0.3, 0.5});
    expectGradientMatches<JonesPewsey>({0.55, -0.1, 0.4, 0.4});
}

// Central differences of the analytic gradient against the analytic Hessian; asking for the
// Hessian leaves the value and the gradient's bits alone.
template <class F> void expectHessianMatches(const std::array<double, F::kParams> &q0, double shift = -0.4) {
    constexpr std::size_t kP = F::kParams;
    std::vector<double> data = skewedSeries(60);
    for (double &v : data) {
        v += shift; // by default both signs, both branches of the map
    }
    for (const Censor &c : kCensoring) {
        for (const bool prior : {false, true}) {
            SCOPED_TRACE(std::string(F::key) + " censoring " + c.name + (prior ? " prior" : ""));
            const PreparedSeries series(data, c.left, c.right);
            const LikelihoodGradient<F> likelihood(series, prior);
            std::array<double, kP> g{}, withHessian{}, up{}, down{};
            std::array<double, kP * kP> h{};
            const double value = likelihood(q0.data(), g.data());
            EXPECT_EQ(value, likelihood(q0.data(), withHessian.data(), h.data()));
            EXPECT_EQ(g, withHessian);
            for (std::size_t j = 0; j < kP; ++j) {
                const double step = 1e-5 * std::max(1.0, std::fabs(q0[j]));
                auto qUp = q0, qDown = q0;
                qUp[j] += step;
                qDown[j] -= step;
                likelihood(qUp.data(), up.data());
                likelihood(qDown.data(), down.data());
                for (std::size_t i = 0; i < kP; ++i) {
                    const double fd = (up[i] - down[i]) / (2.0 * step);
                    EXPECT_NEAR(h[i * kP + j], fd, 1e-6 * (1.0 + std::fabs(fd))) << "entry " << i << ", " << j;
                }
            }
        }
    }
}

TEST(LikelihoodHessian, MatchesDifferencesOfTheGradient) {
    static_assert(LikelihoodGradient<YeoJohnson>::kHasHessian && LikelihoodGradient<JonesPewsey>::kHasHessian);
    expectHessianMatches<YeoJohnson>({0.4, 0.7, -0.3});
    expectHessianMatches<YeoJohnson>({3e-8, 0.5, -0.2});       // the logarithm branch, x >= 0
    expectHessianMatches<YeoJohnson>({2.0 - 3e-8, 0.5, -0.2}); // and x < 0
    expectHessianMatches<YeoJohnson>({-0.8, 0.3, 0.2});        // range bounded above: renormalised
    expectHessianMatches<YeoJohnson>({2.6, 0.3, 0.2});         // range bounded below
    expectHessianMatches<LogSinh>({-0.5, -1.5, 0.3, -0.2}, 0.0);
    expectHessianMatches<LogSinh>({1.5, -4.0, 0.8, 0.5}, 0.0); // nearly linear above the smallest values
    expectHessianMatches<SinhAsinh>({0.45, 0.2, 0.3, 0.5});
    expectHessianMatches<SinhAsinh>({0.7, -0.6, -0.2, 0.3});
    expectHessianMatches<JonesPewsey>({0.55, -0.1, 0.4, 0.4});
    expectHessianMatches<JonesPewsey>({0.3, 0.5, -0.3, 0.6});
}

// f = w (x0 - 3)^2 + v (x1 - x0^2)^2, a curved valley with its gradient and Hessian.
auto curvedValley(double w, double v) {
    return [w, v](const double *x, double *g, double *h) {
        const double a = x[0] - 3.0, b = x[1] - x[0] * x[0];
        g[0] = 2.0 * w * a - 4.0 * v * b * x[0];
        g[1] = 2.0 * v * b;
        if (h != nullptr) {
            h[0] = 2.0 * w + 8.0 * v * x[0] * x[0] - 4.0 * v * b;
            h[1] = h[2] = -4.0 * v * x[0];
            h[3] = 2.0 * v;
        }
        return w * a * a + v * b * b;
    };
}

// f = (x0 - 3)^2 + 10 (x1 - x0^2)^2 on [-2, 2] x [-1, 5]: the box holds x0 at 2, x1 at 4.
// With the Hessian given, each step costs one call; without it, differences of the gradient.
TEST(LocalPolish, ReachesConstrainedAndFreeMinima) {
    const auto rosenbrock = curvedValley(1.0, 10.0);
    std::int64_t evaluations[2] = {};
    for (const bool analytic : {false, true}) {
        SCOPED_TRACE(analytic ? "analytic Hessian" : "difference Hessian");
        const GradientRef f(rosenbrock, analytic);
        PolishResult boxed = localPolish(f, {-1.2, 1.0}, {-2.0, -1.0}, {2.0, 5.0});
        EXPECT_NEAR(boxed.params[0], 2.0, 1e-9);
        EXPECT_NEAR(boxed.params[1], 4.0, 1e-6);
        EXPECT_TRUE(boxed.converged);
        PolishResult free = localPolish(f, {-1.2, 1.0}, {-10.0, -10.0}, {10.0, 20.0});
        EXPECT_NEAR(free.params[0], 3.0, 1e-6);
        EXPECT_NEAR(free.params[1], 9.0, 1e-5);
        EXPECT_TRUE(free.converged);
        evaluations[analytic] = free.evaluations;
    }
    EXPECT_LT(evaluations[1], evaluations[0]);
    EXPECT_LT(evaluations[0], 200);
}

// A narrow curved valley, f = (x0 - 3)^2 / 100 + 1000 (x1 - x0^2)^2 from (-1, 2): whole
// Newton steps leave the valley floor and crawl; with x1 settled at each trial point the
// step follows the profile (x0 - 3)^2 / 100 and reaches (3, 9) in a few steps.
TEST(LocalPolish, SettlingTheLastCoordinatesFollowsACurvedValley) {
    const auto valley = curvedValley(0.01, 1000.0);
    const GradientRef f(valley, true);
    const Vector lower{-10.0, -10.0}, upper{10.0, 100.0};
    const PolishResult whole = localPolish(f, {-1.0, 2.0}, lower, upper, 15);
    const PolishResult settled = localPolish(f, {-1.0, 2.0}, lower, upper, 15, 1e-7, 1e-11, 1);
    EXPECT_FALSE(whole.converged);
    EXPECT_TRUE(settled.converged);
    EXPECT_NEAR(settled.params[0], 3.0, 1e-5);
    EXPECT_NEAR(settled.params[1], 9.0, 1e-4);
    EXPECT_LT(settled.evaluations, 60);
}

// The thorough fit is never worse than the single run it starts from, and repeats exactly.
TEST(ThoroughFit, NeverWorseThanOneRunAndRepeatable) {
    const std::vector<double> data = skewedSeries(40);
    for (const Method method : {Method::NelderMead, Method::ShuffledComplexEvolution}) {
        FitSettings settings;
        settings.method = method;
        settings.left = 0.0;
        settings.seed = 6;
        CollectingSink sink;
        const FitReport single = fitSeries<LogSinh, AccurateNormalMass>(data, settings, sink);
        settings.thorough = true;
        const FitReport first = fitSeries<LogSinh, AccurateNormalMass>(data, settings, sink);
        const FitReport again = fitSeries<LogSinh, AccurateNormalMass>(data, settings, sink);
        const PreparedSeries series(data, 0.0, std::numeric_limits<double>::infinity());
        const CensoredLikelihood<LogSinh, AccurateNormalMass> likelihood(series, false);
        EXPECT_GE(likelihood.logLik(first.result.params.data()), likelihood.logLik(single.result.params.data()));
        EXPECT_EQ(first.result.params, again.result.params);
        EXPECT_GT(first.strategy.polishEvaluations, 0);
    }
}

} // namespace
} // namespace ferrule::test
