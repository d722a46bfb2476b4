"""Back-transforms give values as the data were recorded: scores and probabilities in a
censored region map to its threshold, unless the raw inverse is asked for (censor=False),
alike for one fit, a grid and ferrule.xarray."""

import numpy as np
import pytest
from api_support import quiet_fit, rain

import ferrule

Z = np.array([-3.0, -0.2, 0.0, 1.5])


@pytest.fixture(scope="module")
def dry():
    x = rain()
    return x, quiet_fit(x, "yeo_johnson", left=0.0, seed=1)


def test_scores_below_the_left_threshold_give_the_threshold(dry):
    _, fit = dry
    z_left = float(fit.to_normal(0.0))
    assert Z[0] < z_left < Z[-1]
    got = fit.from_normal(Z)
    raw = fit.from_normal(Z, censor=False)
    assert got[0] == 0.0 and raw[0] < 0.0  # -3 is a dry day, not negative rain
    np.testing.assert_array_equal(got, np.maximum(raw, 0.0))
    assert fit.ppf(1e-4) == 0.0 and fit.ppf(1e-4, censor=False) < 0.0


def test_grid_and_xarray_take_the_same_keyword(dry):
    xr = pytest.importorskip("xarray")
    import ferrule.xarray as fx

    x, fit = dry
    values = np.stack([x, x])
    grid = ferrule.fit_grid(values, left=0.0, seed=1)
    z = np.broadcast_to(Z, (2, Z.size))
    for censor in (True, False):
        expected = np.broadcast_to(fit.from_normal(Z, censor=censor), z.shape)
        np.testing.assert_allclose(grid.from_normal(z, censor=censor), expected, rtol=1e-12)
    params = fx.fit(xr.DataArray(values, dims=("station", "time")), left=0.0, seed=1)
    scores = xr.DataArray(z, dims=("station", "time"))
    assert float(fx.inverse(params, scores).min()) == 0.0
    assert float(fx.inverse(params, scores, censor=False).min()) < 0.0
    p = xr.DataArray([1e-4, 0.9], dims="time")
    assert float(fx.ppf(params, p).min()) == 0.0
    assert float(fx.ppf(params, p, censor=False).min()) < 0.0
