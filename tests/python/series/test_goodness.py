"""Goodness of fit with censored values: plotting positions, PPCC, Anderson-Darling, and
Fit.goodness_of_fit as the report and the figures use it."""

import math
from statistics import NormalDist

import numpy as np
import pytest

import ferrule
from ferrule._goodness import (
    conditional_anderson_darling,
    plotting_positions,
    probability_plot_correlation,
)

STANDARD = NormalDist()


def test_plotting_positions_rank_uncensored_values_within_the_whole_sample():
    # Hand derivation: n = 2 + 3 + 1 = 6, ranks 3, 4, 5, Blom (i - 0.375) / 6.25.
    assert plotting_positions(2, 3, 1) == pytest.approx([0.42, 0.58, 0.74], abs=1e-15)


def test_ppcc_is_one_for_values_on_the_censored_sample_line():
    n_left, n_inside, n_right = 40, 55, 5
    q = [STANDARD.inv_cdf(p) for p in plotting_positions(n_left, n_inside, n_right)]
    z = 0.5 + 2.0 * np.array(q)  # any straight line through the Q-Q points
    assert probability_plot_correlation(z[::-1], n_left, n_right) == pytest.approx(1.0, abs=1e-12)
    # Ranked as if nothing were censored, the same points bend away from a line.
    assert probability_plot_correlation(z, 0, 0) < 0.99


def test_ppcc_is_nan_when_too_few_values_to_judge():
    assert math.isnan(probability_plot_correlation(np.array([0.1, 0.2]), 0, 0))
    assert math.isnan(probability_plot_correlation(np.array([1.0, 1.0, 1.0]), 0, 0))


def anderson_darling_by_integral(u):
    """Independent reference: A^2 = n * integral_0^1 (F_n(t) - t)^2 / (t (1 - t)) dt.

    On an interval [a, b] where the empirical distribution function is the constant c, the
    integrand splits as c^2/t + (1 - c)^2/(1 - t) - 1, so the piece is
    c^2 log(b/a) - (1 - c)^2 log((1 - b)/(1 - a)) - (b - a)."""
    u = sorted(u)
    n = len(u)
    edges = [0.0, *u, 1.0]
    total = 0.0
    for i in range(n + 1):
        a, b, c = edges[i], edges[i + 1], i / n
        piece = -(b - a)
        if c > 0:
            piece += c * c * math.log(b / a)
        if c < 1:
            piece -= (1 - c) ** 2 * math.log((1 - b) / (1 - a))
        total += piece
    return n * total


@pytest.mark.parametrize(
    "u, p_left, p_right",
    [
        ([0.1, 0.35, 0.5, 0.8], 0.0, 1.0),  # nothing censored
        ([0.05, 0.07, 0.6, 0.61, 0.9, 0.97], 0.0, 1.0),
        ([0.2, 0.45, 0.5, 0.9], 0.3, 1.0),  # 30 % of the fitted mass below the left threshold
        ([0.01, 0.5, 0.99], 0.6, 0.9),  # censored on both sides
    ],
)
def test_conditional_anderson_darling_matches_the_integral_definition(u, p_left, p_right):
    # z placed so that the conditional probability of each value is the given u.
    z = [STANDARD.inv_cdf(p_left + v * (p_right - p_left)) for v in u]
    z_left = -math.inf if p_left == 0 else STANDARD.inv_cdf(p_left)
    z_right = math.inf if p_right == 1 else STANDARD.inv_cdf(p_right)
    got = conditional_anderson_darling(np.array(z[::-1]), z_left, z_right)
    assert got == pytest.approx(anderson_darling_by_integral(u), rel=1e-9)


def test_conditional_anderson_darling_is_inf_for_a_value_outside_the_fitted_range():
    assert conditional_anderson_darling(np.array([-0.5, 0.3, 1.2]), -0.5, math.inf) == math.inf
    assert conditional_anderson_darling(np.array([-0.6, 0.3]), -0.5, math.inf) == math.inf


RAIN = np.maximum(np.random.default_rng(7).gamma(0.8, 4.0, 300) - 1.0, 0.0)


def test_goodness_ranks_the_censored_values_below_and_leaves_nan_out():
    data = np.r_[RAIN, np.nan, np.nan]
    fit = ferrule.fit(data, left=0.0, nan_policy="omit", seed=3)
    result = fit.goodness_of_fit(data)
    # Blom positions of the whole sorted sample (NaN gone); the dry days take the lowest ranks.
    n, dry = RAIN.size, int(np.sum(RAIN == 0.0))
    blom = [STANDARD.inv_cdf((i - 0.375) / (n + 0.25)) for i in range(1, n + 1)]
    assert (result.n_left, result.n_right) == (dry, 0) == (fit.n_left, fit.n_right)
    np.testing.assert_allclose(result.quantiles, blom[dry:], rtol=1e-12)
    np.testing.assert_array_equal(result.scores, np.sort(fit.to_normal(RAIN[RAIN > 0.0])))
    assert result.ppcc == pytest.approx(np.corrcoef(result.scores, blom[dry:])[0, 1], abs=1e-12)


def test_goodness_of_a_fit_without_an_optimum_is_nan():
    data = np.r_[RAIN, np.nan]
    result = ferrule.fit(data, nan_policy="propagate", seed=3).goodness_of_fit(data)
    assert math.isnan(result.ppcc) and math.isnan(result.anderson_darling)
    assert result.scores.size == result.quantiles.size == 0


def test_the_plot_draws_the_goodness_of_fit_points():
    pytest.importorskip("matplotlib")
    fit = ferrule.fit(RAIN, left=0.0, seed=3)
    qq = fit.plot(RAIN).axes[1]
    result = fit.goodness_of_fit(RAIN)
    np.testing.assert_array_equal(qq.lines[0].get_xdata(), result.quantiles)
    np.testing.assert_array_equal(qq.lines[0].get_ydata(), result.scores)
