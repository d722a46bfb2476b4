"""The index's scoring in one pass over the cells against each cell scored by its own
one-series model, on a grid of mixed families; the goodness-of-fit test by rows that stops
the search of "auto"."""

import warnings

import numpy as np
import pandas as pd
import pytest
import xarray as xr

import ferrule
import ferrule.xarray as fx
from ferrule import _core
from ferrule._distribution import Model
from ferrule._goodness import anderson_darling_rows, conditional_anderson_darling, normality_p_value
from ferrule._names import family_info
from ferrule.xarray._index_cells import FAMILY_CODES, ZEROS, _draws, score_cells, zero_scores

MONTHS = pd.date_range("1991-01-01", periods=240, freq="MS")


@pytest.fixture(scope="module")
def mixed():
    """A 3 x 4 monthly grid (a sea cell, missing months) fitted with "auto": every family
    and some groups without a valid fit."""
    rng = np.random.default_rng(3)
    rain = np.maximum(rng.gamma(0.7, 40.0, size=(3, 4, MONTHS.size)) - 15.0, 0.0)
    rain[0, 0] = np.nan
    rain[1, 1, ::7] = np.nan
    da = xr.DataArray(rain, dims=("y", "x", "time"), coords={"time": MONTHS}, name="pr")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        params = fx.standardized_index_params(da, seed=2)
    fits = {name: params[name].transpose("month", "y", "x").values for name in params}
    assert set(np.unique(fits["family"])) == {-1, 0, 1, 2, 3}
    return rain, fits, MONTHS.month.values - 1


def one_cell(x, fit, zeros, empirical, draws):
    """One cell's scores in one group, by its own model."""
    info = family_info(FAMILY_CODES[int(fit["family"])])
    model = Model(info.key, tuple(float(fit[n]) for n in info.transformation_names),
                  *(float(fit[n]) for n in ("mu", "sigma", "scale", "shift", "left", "right")),
                  info.models_raw_value)  # fmt: skip
    p0_model = float(model.cdf(np.array([float(fit["left"])]))[0])
    if empirical:
        p0 = float(fit["n_left"]) / float(fit["n"])
        with np.errstate(divide="ignore", invalid="ignore"):
            z = -_core.ndtri(np.minimum((1.0 - p0) * model.sf(x) / (1.0 - p0_model), 1.0))
    else:
        p0, z = p0_model, model.to_normal(x)
    dry = x <= float(fit["left"])
    z[dry] = zero_scores(np.array(p0), zeros, None if draws is None else draws[dry])
    z[np.isnan(x)] = np.nan
    return z


@pytest.mark.parametrize("zeros", ZEROS)
@pytest.mark.parametrize("empirical", [False, True])
def test_one_pass_equals_each_cell_by_its_own_model(mixed, zeros, empirical):
    rain, fits, months = mixed
    index = np.arange(12).reshape(3, 4)
    got = score_cells(rain, fits, months, zeros=zeros, empirical=empirical, clip=None,
                      base_seed=5, index=index)  # fmt: skip
    expected = np.full(rain.shape, np.nan)
    for cell in np.ndindex(3, 4):
        u = _draws(5, int(index[cell]), MONTHS.size) if zeros == "random" else None
        for g in range(12):
            fit = {name: value[(g, *cell)] for name, value in fits.items()}
            if fit["family"] < 0:
                continue
            at = months == g
            expected[(*cell, at)] = one_cell(rain[(*cell, at)], fit, zeros, empirical,
                                              None if u is None else u[at])  # fmt: skip
    np.testing.assert_array_equal(got, expected)
    assert np.isfinite(got).mean() > 0.8


def test_anderson_darling_by_rows_equals_one_series_and_its_p_value_the_table():
    rng = np.random.default_rng(4)
    u = rng.random((3, 40))
    u[1, 25:] = np.nan
    u[2, 0] = 0.0  # where the fit puts no mass
    a2, n = anderson_darling_rows(u)
    one = [conditional_anderson_darling(_core.ndtri(row[~np.isnan(row)]), -np.inf, np.inf)
           for row in u]  # fmt: skip
    np.testing.assert_allclose(a2, one, rtol=1e-12)
    assert n.tolist() == [40, 25, 40] and a2[2] == np.inf
    # The 10 %, 5 % and 1 % points of the normality test with estimated mean and variance.
    levels = normality_p_value(np.array([0.631, 0.752, 1.035]) / (1 + 0.75 / 50 + 2.25 / 2500), 50)
    np.testing.assert_allclose(levels, [0.10, 0.05, 0.01], atol=0.001)
    assert normality_p_value(np.inf, 40) == 0.0
