"""The public maps run on vector kernels: the same bits on any thread count and for any
split of the values, and close to the exact classes' maps."""

import numpy as np
import pytest

import ferrule
from ferrule import _core, kestrel

FAMILY_PARAMS = {
    "yeo_johnson": [0.37],
    "log_sinh": [0.2, 0.05],
    "sinh_asinh": [1.3, -0.4],
    "jones_pewsey": [0.8, 0.3],
}


def values(n=100_003):
    x = np.random.default_rng(1).gamma(0.7, 5.0, n) - 1.0
    tails = x[::997]
    tails[:] = np.resize([1e8, -1e6, 0.0, np.nan, np.inf, 1e-300, -0.0], tails.size)
    return x


@pytest.mark.parametrize("family", sorted(FAMILY_PARAMS))
def test_array_maps_repeat_on_any_thread_count(family):
    x = values()
    t = FAMILY_PARAMS[family]
    with np.errstate(all="ignore"):
        for name in ("forward", "inverse", "log_jacobian"):
            one = getattr(_core, name)(family, t, x, n_threads=1)
            assert np.array_equal(
                one, getattr(_core, name)(family, t, x, n_threads=2), equal_nan=True
            )


def test_a_fits_maps_repeat_for_any_split_of_the_values():
    x = values()
    fit = ferrule.fit(np.random.default_rng(2).gamma(2.0, 1.0, 3000), "sinh_asinh", seed=2)
    for name in ("to_normal", "cdf", "logpdf"):
        whole = getattr(fit, name)(x)
        pieces = np.concatenate([getattr(fit, name)(p) for p in np.array_split(x, 7)])
        assert np.array_equal(whole, pieces, equal_nan=True), name


def test_the_map_is_close_to_the_exact_classes():
    x = values()
    x = x[np.isfinite(x)]
    exact = kestrel.PyYJT(0.37).transform_many(x)
    np.testing.assert_allclose(
        _core.forward("yeo_johnson", [0.37], x), exact, rtol=4e-15, atol=1e-15
    )
