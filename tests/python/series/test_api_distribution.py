"""The fitted distribution in data units: maps, cdf/ppf/pdf, censored point masses, sampling."""

import functools

import numpy as np
import pytest
from api_support import FAMILY_KEYS, flows, quiet_fit, rain

from ferrule import _core, kestrel

# Every family on a censored rain series (left threshold 0) and on an uncensored one.
CASES = [(key, kind) for key in FAMILY_KEYS for kind in ("rain", "flows")]


@functools.cache
def fitted(key, kind):
    # The flows are positive: left=0 censors none of them (log-sinh needs a finite one).
    return quiet_fit(_data(kind), key, left=0.0, seed=11)


def _data(kind):
    return rain() if kind == "rain" else flows()


def _inner_grid(fit, kind, n=7):
    """Points strictly inside the thresholds, spanning the bulk of the data."""
    data = _data(kind)
    return np.quantile(data[data > fit.left], np.linspace(0.05, 0.95, n))


@pytest.mark.parametrize(("key", "kind"), CASES)
def test_to_normal_follows_each_familys_convention(key, kind):
    fit = fitted(key, kind)
    info = next(info for info in _core.FAMILIES if info.key == key)
    model = getattr(kestrel, info.kestrel_class)(*fit.params.values())
    x = _inner_grid(fit, kind)
    u = (x + fit.shift) * fit.scale
    ends = np.array([-np.inf, np.inf])
    if key == "jones_pewsey":
        raw, (bottom, top) = model.transform_many((u - fit.mu) / fit.sigma), ends
    else:
        raw = (model.transform_many(u) - fit.mu) / fit.sigma
        bottom, top = np.nan_to_num((model.transform_many(ends) - fit.mu) / fit.sigma, nan=-np.inf)
    if np.isinf([bottom, top]).all():
        np.testing.assert_allclose(fit.to_normal(x), raw, rtol=1e-12, atol=1e-12)
    else:  # the score of the normal renormalised to the range the transform reaches
        lo, hi = _core.ndtr(np.array([bottom, top]))
        expected = _core.ndtri((_core.ndtr(raw) - lo) / (hi - lo))
        np.testing.assert_allclose(fit.to_normal(x), expected, rtol=1e-9, atol=1e-9)


@pytest.mark.parametrize(("key", "kind"), CASES)
def test_to_normal_and_from_normal_invert_each_other(key, kind):
    fit = fitted(key, kind)
    # Scores of the values above the left threshold (below it a log-sinh can crowd the
    # normal's mass against its domain edge, beyond what doubles resolve).
    z = np.linspace(max(-2.5, float(fit.to_normal(fit.left))), 2.5, 12)[1:]
    np.testing.assert_allclose(fit.to_normal(fit.from_normal(z)), z, atol=1e-8)
    x = _inner_grid(fit, kind)
    np.testing.assert_allclose(fit.from_normal(fit.to_normal(x)), x, rtol=1e-9)


@pytest.mark.parametrize("side", [1.0, -1.0], ids=["bounded above", "bounded below"])
def test_a_bounded_range_holds_the_whole_renormalised_distribution(side):
    # Yeo-Johnson with lambda < 0 (> 2) maps the line onto a half-line bounded above (below);
    # the normal is renormalised to it, so every finite probability has a finite value.
    x = side * np.random.default_rng(7).lognormal(2, 1.2, 3000)
    fit = quiet_fit(x, "yjt", seed=1, scale=1.0)
    assert (fit.params["lambda"] < 0.0) if side > 0 else (fit.params["lambda"] > 2.0)
    assert np.isfinite(fit.from_normal([-8.0, 8.0])).all()
    z = np.array([-5.0, -3.0, 0.0, 3.0, 5.0])
    x = fit.from_normal(z)
    # Phi(5) = 1 - 2.9e-7 carries a relative rounding of about 1e-10 into its upper tail.
    np.testing.assert_allclose(fit.ppf(_core.ndtr(z)), x, rtol=1e-7)
    np.testing.assert_allclose(fit.to_normal(x), z, atol=1e-7)
    assert fit.ppf(1.0 if side > 0 else 0.0) == side * np.inf
    assert np.isfinite(fit.sample(20000, seed=1)).all()


@pytest.mark.parametrize(
    ("sigma", "n", "seed"), [(1.2, 3000, 3), (3.0, 100, 0)], ids=["moderate", "wide"]
)
def test_lognormal_flows_give_a_usable_yeo_johnson_model(sigma, n, seed):
    # The likelihood without renormalisation ran lambda to -6.8 and -51, exploiting the
    # mass lost beyond the range: ppf(0.99) = inf, infinite samples, data not inverted.
    x = np.random.default_rng(7 if seed == 3 else 0).lognormal(2 if seed == 3 else 0, sigma, n)
    fit = quiet_fit(x, "yjt", seed=seed)
    assert fit.valid
    assert np.isfinite(fit.ppf([0.5, 0.99, 1 - 1e-12])).all()
    assert np.isfinite(fit.sample(50000, seed=2)).all()
    np.testing.assert_allclose(fit.from_normal(fit.to_normal(x)), x, rtol=1e-9)
    assert fit.logpdf(x).sum() == pytest.approx(fit.loglik, rel=1e-12)


@pytest.mark.parametrize(("key", "kind"), CASES)
def test_cdf_and_ppf_invert_each_other_inside_the_thresholds(key, kind):
    fit = fitted(key, kind)
    x = _inner_grid(fit, kind)
    np.testing.assert_allclose(fit.ppf(fit.cdf(x)), x, rtol=1e-8)
    low = float(fit.cdf(fit.left)) if np.isfinite(fit.left) else 0.0
    p = np.linspace(low, 1.0, 13)[1:-1]
    np.testing.assert_allclose(fit.cdf(fit.ppf(p)), p, atol=1e-10)
    assert np.all(np.diff(fit.cdf(np.linspace(x[0], x[-1], 50))) > 0)


@pytest.mark.parametrize(("key", "kind"), CASES)
def test_cdf_is_the_integral_of_the_pdf(key, kind):
    fit = fitted(key, kind)
    a, b = _inner_grid(fit, kind, 2)
    grid = np.linspace(a, b, 40001)
    integral = np.trapezoid(fit.pdf(grid), grid)
    assert integral == pytest.approx(float(fit.cdf(b) - fit.cdf(a)), abs=1e-7)


@pytest.mark.parametrize("key", FAMILY_KEYS)
def test_censored_point_mass_at_the_left_threshold(key):
    fit = fitted(key, "rain")
    mass = float(fit.cdf(0.0))
    assert 0.2 < mass < 0.6  # about a third of the days are dry
    assert fit.cdf(-1e-9) == 0.0 and fit.sf(-1.0) == 1.0 and fit.logsf(-1.0) == 0.0
    assert float(fit.pdf(0.0)) == pytest.approx(mass, rel=1e-12)
    assert fit.logpdf(-0.5) == -np.inf
    assert fit.ppf(0.0) == 0.0 and fit.ppf(mass * 0.999) == 0.0 and fit.ppf(mass * 1.001) > 0.0
    assert np.isnan(fit.ppf([-0.1, 1.1, np.nan])).all()


def test_right_threshold_clips_from_above():
    data = np.minimum(flows(), 6.0)
    fit = quiet_fit(data, "yeo_johnson", right=6.0, seed=2)
    above = float(fit.sf(6.0 - 1e-12))
    assert fit.n_right == int(np.sum(data >= 6.0)) and above > 0.0
    assert fit.cdf(6.0) == 1.0 and fit.sf(6.0) == 0.0 and fit.logsf(7.0) == -np.inf
    assert float(fit.pdf(6.0)) == pytest.approx(above, rel=1e-9)
    assert fit.ppf(1.0) == 6.0 and fit.ppf(1.0 - above / 2) == 6.0
    assert fit.logpdf(6.5) == -np.inf


@pytest.mark.parametrize(("key", "kind"), CASES)
def test_samples_follow_the_cdf(key, kind):
    fit = fitted(key, kind)
    n = 4000
    sample = np.sort(fit.sample(n, seed=1234))
    assert sample.min() >= fit.left and sample.max() <= fit.right
    values, last = np.unique(sample, return_index=False, return_counts=True)
    empirical = np.cumsum(last) / n
    before = empirical - last / n
    model = fit.cdf(values)
    gap = max(np.max(np.abs(empirical - model)), np.max(np.abs(before[1:] - model[1:] + 0.0)))
    assert gap < 1.63 / np.sqrt(n)  # Kolmogorov-Smirnov at the 1 % level
    drawn = fit.sample(5, seed=7)
    assert np.array_equal(drawn, fit.sample(5, seed=np.random.default_rng(7)))
    with pytest.warns(DeprecationWarning, match="seed="):
        assert np.array_equal(drawn, fit.sample(5, rng=7))
    with pytest.raises(TypeError, match="not both"):
        fit.sample(5, seed=7, rng=7)


@pytest.mark.parametrize("key", FAMILY_KEYS)
@pytest.mark.parametrize("kind", ["rain", "flows"])
@pytest.mark.parametrize("scale", [1.0, 0.1, 0.025])
def test_data_unit_loglik_is_the_sum_of_the_log_densities_and_masses(key, kind, scale):
    data = _data(kind)
    fit = quiet_fit(data, key, left=0.0, scale=scale, method="nelder-mead")
    assert fit.scale == scale
    total = float(np.sum(fit.logpdf(data)))
    # The censored masses of the fit's likelihood and of logpdf are both log Phi to full
    # precision, and each censored value counts its own model's mass: equal to rounding.
    assert fit.loglik == pytest.approx(total, rel=1e-12, abs=0)


def test_scalar_arguments_give_numpy_floats_and_shapes_are_kept():
    fit = fitted("yeo_johnson", "flows")
    assert isinstance(fit.cdf(1.0), np.float64)
    assert fit.ppf(np.full((2, 3), 0.5)).shape == (2, 3)
    assert fit.sample((4, 2), seed=0).shape == (4, 2)
