// Projected Newton steps on a box with the analytic Hessian, or a difference Hessian of the
// analytic gradient.
#include "optim/local_polish.hpp"

#include <algorithm>
#include <cmath>

namespace ferrule {

namespace {

// Cholesky solve of (A + nu I) d = b on the free coordinates, factoring in `a` (a copy of A,
// reused from call to call so that a step allocates nothing); false when not positive definite.
bool choleskySolve(const std::vector<double> &matrix, std::size_t n, double nu, const std::vector<double> &b,
                   std::vector<double> &d, std::vector<double> &a) {
    a = matrix;
    for (std::size_t i = 0; i < n; ++i) {
        a[i * n + i] += nu;
    }
    for (std::size_t j = 0; j < n; ++j) {
        double diag = a[j * n + j];
        for (std::size_t k = 0; k < j; ++k) {
            diag -= a[j * n + k] * a[j * n + k];
        }
        if (!(diag > 0.0) || !std::isfinite(diag)) {
            return false;
        }
        diag = std::sqrt(diag);
        a[j * n + j] = diag;
        for (std::size_t i = j + 1; i < n; ++i) {
            double v = a[i * n + j];
            for (std::size_t k = 0; k < j; ++k) {
                v -= a[i * n + k] * a[j * n + k];
            }
            a[i * n + j] = v / diag;
        }
    }
    d = b;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < i; ++k) {
            d[i] -= a[i * n + k] * d[k];
        }
        d[i] /= a[i * n + i];
    }
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t k = i + 1; k < n; ++k) {
            d[i] -= a[k * n + i] * d[k];
        }
        d[i] /= a[i * n + i];
    }
    return true;
}

bool allFinite(const Vector &v) {
    return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

// The scratch of settleInner, sized once per polish.
struct InnerScratch {
    Vector block, rhs, step, trial, gt, ht, factor;
    InnerScratch(std::size_t n, std::size_t inner)
        : block(inner * inner), rhs(inner), trial(n), gt(n), ht(inner > 0 ? n * n : 0) {}
};

// Newton steps on the last `inner` coordinates of x alone, the others held (their block of
// the analytic Hessian h, shifted when not positive definite), each taken only when the
// value falls: x, its value fx, gradient g and Hessian h move to the inner optimum near x.
// On a narrow curved valley (the transformation's parameters tied to mu and sigma) a step of
// all the coordinates leaves the valley floor; settling mu and sigma at each trial point
// brings it back, so that the step is judged by the profile of the likelihood.
void settleInner(GradientRef f, Vector &x, double &fx, Vector &g, Vector &h, std::size_t inner, const Vector &lower,
                 const Vector &upper, double gradientTolerance, std::int64_t &evaluations, InnerScratch &scratch) {
    constexpr int kInnerSteps = 3;
    const std::size_t n = x.size();
    const std::size_t first = n - inner;
    Vector &block = scratch.block, &rhs = scratch.rhs, &step = scratch.step, &trial = scratch.trial, &gt = scratch.gt,
           &ht = scratch.ht;
    for (int k = 0; k < kInnerSteps; ++k) {
        double largest = 0.0, scale = 0.0;
        for (std::size_t a = 0; a < inner; ++a) {
            rhs[a] = -g[first + a];
            largest = std::max(largest, std::fabs(g[first + a]));
            for (std::size_t b = 0; b < inner; ++b) {
                block[a * inner + b] = h[(first + a) * n + first + b];
            }
            scale = std::max(scale, std::fabs(block[a * inner + a]));
        }
        if (largest <= gradientTolerance * (1.0 + std::fabs(fx)) || !allFinite(block)) {
            return;
        }
        bool solved = choleskySolve(block, inner, 0.0, rhs, step, scratch.factor);
        for (double nu = 1e-8 * std::max(scale, 1e-8); !solved && nu < 1e12 * std::max(scale, 1.0); nu *= 10.0) {
            solved = choleskySolve(block, inner, nu, rhs, step, scratch.factor);
        }
        if (!solved) {
            return;
        }
        bool accepted = false;
        for (double t = 1.0; t > 0.2 && !accepted; t *= 0.5) {
            trial = x;
            for (std::size_t a = 0; a < inner; ++a) {
                trial[first + a] = std::clamp(x[first + a] + t * step[a], lower[first + a], upper[first + a]);
            }
            if (trial == x) {
                return;
            }
            const double ft = f(trial.data(), gt.data(), ht.data());
            ++evaluations;
            if (std::isfinite(ft) && allFinite(gt) && ft < fx) {
                x.swap(trial);
                g.swap(gt);
                h.swap(ht);
                fx = ft;
                accepted = true;
            }
        }
        if (!accepted) {
            return;
        }
    }
}

} // namespace

PolishResult localPolish(GradientRef f, Vector start, const Vector &lower, const Vector &upper, int maxIterations,
                         double gradientTolerance, double valueTolerance, std::size_t inner) {
    const std::size_t n = start.size();
    PolishResult out;
    Vector &x = out.params;
    x = std::move(start);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = std::clamp(x[i], lower[i], upper[i]);
    }
    Vector g(n), trial(n), gt(n), shifted(n), gs(n);
    // The analytic Hessians of the point and of the trial, when the function gives them.
    const bool analytic = f.hasHessian();
    if (!analytic || inner >= n) {
        inner = 0;
    }
    Vector hx(analytic ? n * n : 0), ht(hx.size());
    InnerScratch scratch(n, inner);
    double fx = f(x.data(), g.data(), analytic ? hx.data() : nullptr);
    ++out.evaluations;
    if (inner > 0 && std::isfinite(fx) && allFinite(g)) {
        settleInner(f, x, fx, g, hx, inner, lower, upper, gradientTolerance, out.evaluations, scratch);
    }
    out.value = fx;
    if (!std::isfinite(fx) || !allFinite(g)) {
        return out;
    }
    std::vector<std::size_t> free;
    std::vector<double> hessian, rhs, step, factor;
    for (; out.iterations < maxIterations; ++out.iterations) {
        // A coordinate at a bound whose gradient pushes it outward stays there.
        free.clear();
        double largest = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const bool held = (x[i] <= lower[i] && g[i] > 0.0) || (x[i] >= upper[i] && g[i] < 0.0);
            if (!held) {
                free.push_back(i);
                largest = std::max(largest, std::fabs(g[i]));
            }
        }
        if (largest <= gradientTolerance * (1.0 + std::fabs(fx))) {
            out.converged = true;
            break;
        }
        // The analytic Hessian on the free coordinates, or forward differences of the
        // gradient, stepping inward from a bound, then symmetrised.
        const std::size_t m = free.size();
        hessian.assign(m * m, 0.0);
        bool finite = true;
        for (std::size_t a = 0; a < m && analytic; ++a) {
            for (std::size_t b = 0; b < m; ++b) {
                hessian[a * m + b] = hx[free[a] * n + free[b]];
            }
        }
        if (analytic) {
            finite = allFinite(hessian);
        }
        for (std::size_t b = 0; b < m && finite && !analytic; ++b) {
            const std::size_t j = free[b];
            double h = 1e-6 * std::max(1.0, std::fabs(x[j]));
            if (x[j] + h > upper[j]) {
                h = -h;
            }
            shifted = x;
            shifted[j] += h;
            f(shifted.data(), gs.data());
            ++out.evaluations;
            for (std::size_t a = 0; a < m; ++a) {
                hessian[a * m + b] = (gs[free[a]] - g[free[a]]) / h;
            }
            finite = allFinite(gs);
        }
        double scale = 0.0;
        for (std::size_t a = 0; a < m && finite; ++a) {
            for (std::size_t b = 0; b < a; ++b) {
                const double mean = 0.5 * (hessian[a * m + b] + hessian[b * m + a]);
                hessian[a * m + b] = hessian[b * m + a] = mean;
            }
            scale = std::max(scale, std::fabs(hessian[a * m + a]));
        }
        rhs.resize(m);
        for (std::size_t a = 0; a < m; ++a) {
            rhs[a] = -g[free[a]];
        }
        // Not positive definite (or not finite): shift the diagonal until it is; steepest
        // descent scaled by the largest curvature when nothing else works.
        bool solved = finite && choleskySolve(hessian, m, 0.0, rhs, step, factor);
        for (double nu = 1e-8 * std::max(scale, 1e-8); finite && !solved && nu < 1e12 * std::max(scale, 1.0);
             nu *= 10.0) {
            solved = choleskySolve(hessian, m, nu, rhs, step, factor);
        }
        if (!solved) {
            step = rhs;
            const double unit = std::max(scale, 1.0);
            for (double &s : step) {
                s /= unit;
            }
        }
        // Backtracking on the projected step: accept when the value falls by the Armijo rule.
        bool accepted = false;
        double t = 1.0;
        double ft = fx;
        for (int halving = 0; halving < 30; ++halving, t *= 0.5) {
            for (std::size_t i = 0; i < n; ++i) {
                trial[i] = x[i];
            }
            for (std::size_t a = 0; a < m; ++a) {
                const std::size_t i = free[a];
                trial[i] = std::clamp(x[i] + t * step[a], lower[i], upper[i]);
            }
            double slope = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                slope += g[i] * (trial[i] - x[i]);
            }
            if (trial == x) {
                break;
            }
            ft = f(trial.data(), gt.data(), analytic ? ht.data() : nullptr);
            ++out.evaluations;
            if (inner > 0 && std::isfinite(ft) && allFinite(gt)) {
                settleInner(f, trial, ft, gt, ht, inner, lower, upper, gradientTolerance, out.evaluations, scratch);
            }
            if (std::isfinite(ft) && allFinite(gt) && ft <= fx + 1e-4 * std::min(slope, 0.0) && ft <= fx) {
                accepted = true;
                break;
            }
        }
        if (!accepted) {
            break;
        }
        const double gain = fx - ft;
        x = trial;
        g = gt;
        hx.swap(ht);
        fx = ft;
        out.value = fx;
        if (gain <= valueTolerance * (1.0 + std::fabs(fx))) {
            out.converged = true;
            ++out.iterations;
            break;
        }
    }
    return out;
}

} // namespace ferrule
