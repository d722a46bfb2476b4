"""The fitted distribution's maps in one pass per value: the same bits on any thread count
and split, and no infinity for a finite value or probability in the deep tails of a
Yeo-Johnson fit whose range is bounded (its normal renormalised to that range)."""

import functools

import numpy as np
import pytest

import ferrule
from ferrule import _core

MAPS = [
    ("to_normal", True),
    ("from_normal", True),
    ("from_normal", False),
    ("cdf", True),
    ("sf", True),
    ("logsf", True),
    ("logpdf", True),
    ("ppf", True),
    ("ppf", False),
]


@functools.cache
def lognormal_fit(side):
    """The lognormal flows that ran Yeo-Johnson's lambda below 0 (mirrored: above 2)."""
    x = side * np.random.default_rng(7).lognormal(2, 1.2, 3000)
    return ferrule.fit(x, "yjt", seed=3, scale=1.0)


def fields(fit):
    return ((fit.params["lambda"],), fit.mu, fit.sigma, fit.scale, fit.shift, fit.left, fit.right)


@pytest.mark.parametrize(("which", "censor"), MAPS)
def test_every_map_repeats_on_any_thread_count_and_split(which, censor):
    rng = np.random.default_rng(3)
    values = rng.gamma(0.7, 30.0, 70_001) - 3.0
    values[::997] = np.resize(
        [1e300, -1e300, 0.0, np.nan, np.inf, -np.inf, 1e-300], values[::997].size
    )
    if which == "ppf":
        values = np.where(np.isfinite(values), rng.random(values.size), values)
    rain = np.maximum(rng.gamma(0.8, 4.0, 1500) - 1.0, 0.0)
    for fit in (lognormal_fit(1.0), ferrule.fit(rain, "yjt", left=0.0, seed=2)):
        run = functools.partial(
            _core.distribution_map, "yeo_johnson", fields(fit), which, censor=censor
        )
        one = run(values, n_threads=1)
        assert np.array_equal(one, run(values, n_threads=2), equal_nan=True)
        pieces = np.concatenate([run(p, n_threads=2) for p in np.array_split(values, 5)])
        assert np.array_equal(one, pieces, equal_nan=True)


@pytest.mark.parametrize(
    ("side", "p"),
    [(1.0, [1e-300, 1e-100, 1e-20]), (-1.0, [1e-20, 1e-10])],
    ids=["bounded above", "bounded below"],
)
def test_deep_tails_of_a_bounded_range_stay_finite_and_invert(side, p):
    fit = lognormal_fit(side)
    assert fit._model.log_inside < 0.0
    # Values far beyond the data: T(u) rounds onto the end of its range there.
    x = side * np.array([1e2, 1e4, 1e10, 1e50, 1e100, 1e200, 1e300])
    z = fit.to_normal(x)
    assert np.isfinite(z).all() and np.all(np.diff(side * z) > 0)
    assert np.isfinite(fit.logpdf(x)).all() and np.isfinite(fit.logsf(x)).all()
    np.testing.assert_allclose(fit.from_normal(z, censor=False), x, rtol=1e-9)
    # Scores whose mass beyond them is below the rounding of the mass beyond the end.
    deep = side * np.array([6.0, 8.0, 12.0, 15.0])
    back = fit.from_normal(deep, censor=False)
    assert np.isfinite(back).all() and np.all(np.diff(side * back) > 0)
    np.testing.assert_allclose(fit.to_normal(back), deep, rtol=1e-12)
    # Tiny probabilities of the lower tail, unbounded above it and near its end below.
    q = fit.ppf(p, censor=False)
    assert np.isfinite(q).all()
    np.testing.assert_allclose(fit.cdf(q), p, rtol=1e-9)
