"""Cells and groups with too few wet values to fit: their dry values are scored from the
share of dry values, their wet values are NaN, and the library says so; on a small grid
and on the bundled Seattle series (src/ferrule/data/seattle_precipitation.csv) by day of
year."""

import io
import warnings
from importlib import resources

import numpy as np
import pandas as pd
import pytest
import xarray as xr
from scipy import stats

import ferrule
import ferrule.xarray as fx

DAYS = pd.date_range("1991-01-01", "1996-12-31", freq="D")
JULY = np.flatnonzero(DAYS.month == 7)
N_JULY = JULY.size  # 186 Julys days fitted per cell
# The dry score of each convention at dry probability p.
CONVENTIONS = {
    "upper": stats.norm.ppf,
    "center": lambda p: stats.norm.ppf(p / 2),
    "mean": lambda p: -stats.norm.pdf(stats.norm.ppf(p)) / p,
}


@pytest.fixture(scope="module")
def sparse_july():
    """Three cells of daily rain: July wet enough to fit, all dry, with 3 wet days."""
    rng = np.random.default_rng(8)
    wet = rng.random((3, DAYS.size)) < 0.5
    values = np.where(wet, np.round(rng.gamma(0.8, 6.0, size=wet.shape), 1) + 0.1, 0.0)
    values[1:, JULY] = 0.0
    values[2, JULY[:3]] = [1.5, 2.5, 4.0]
    return xr.DataArray(values, dims=("station", "time"), coords={"time": DAYS}, name="pr")


def test_dry_values_of_unfitted_groups_score_by_their_share(sparse_july):
    with pytest.warns(ferrule.InvalidFitWarning) as caught:
        params = fx.standardized_index_params(sparse_july, "yeo_johnson", seed=1)
    assert [str(w.message)[:86] for w in caught] == [
        "2 of 36 cell-groups with values have no valid fit (2 with fewer than 5 distinct values"
    ]
    july = params.sel(month=7)
    assert july["valid"].values.tolist() == [True, False, False]
    assert july["n"].values.tolist() == [N_JULY] * 3
    assert july["n_left"].values[1:].tolist() == [N_JULY, N_JULY - 3]
    dry_in_july = (sparse_july.values == 0) & (DAYS.month == 7)
    shares = {1: N_JULY / (N_JULY + 1), 2: (N_JULY - 3) / N_JULY}  # all dry: bounded below 1
    for zeros, score in CONVENTIONS.items():
        for p0 in ("model", "empirical"):
            with pytest.warns(ferrule.InvalidFitWarning, match="^3 of 6576 values have no score"):
                z = fx.standardized_index(sparse_july, params=params, zeros=zeros, p0=p0,
                                          clip=None)  # fmt: skip
            for cell, share in shares.items():
                dry = z.values[cell, dry_in_july[cell]]
                np.testing.assert_allclose(np.unique(dry), [score(share)], rtol=1e-12)
            wet = z.isel(station=2, time=JULY[:3])
            assert wet.isnull().all()
            assert int(z.isnull().sum()) == 3  # only the wet days without a model
    assert z.attrs["comment"].startswith("Where a cell and group has no valid fit")


def test_unfitted_groups_score_alike_in_memory_on_threads_and_with_dask(sparse_july):
    kwargs = {"family": "yeo_johnson", "seed": 1, "zeros": "random"}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        memory = fx.standardized_index(sparse_july, **kwargs)
        threads = fx.standardized_index(sparse_july, n_jobs=1, **kwargs)
        lazy = fx.standardized_index(sparse_july.chunk({"station": 1}), **kwargs).compute()
    xr.testing.assert_identical(threads, memory)
    xr.testing.assert_identical(lazy, memory)
    # The all-dry July draws from the bounded share: standard normal below Phi^-1(p0).
    dry = memory.isel(station=1, time=JULY).values
    assert np.isfinite(dry).all() and dry.max() < stats.norm.ppf(N_JULY / (N_JULY + 1))


def test_seattle_by_day_of_year_scores_every_dry_day():
    text = resources.files("ferrule").joinpath("data", "seattle_precipitation.csv").read_text()
    frame = pd.read_csv(io.StringIO(text), parse_dates=["date"])
    pr = xr.DataArray(frame["precipitation"].values, dims="time",
                      coords={"time": frame["date"].values}, name="pr")  # fmt: skip
    with pytest.warns(ferrule.InvalidFitWarning, match="cell-groups with values have no valid"):
        params = fx.standardized_index_params(pr, "yeo_johnson", groupby="dayofyear", window=3,
                                              seed=1, fast=True)  # fmt: skip
    unfitted = ~params["valid"]
    # Four summers give dry-season days a pool of 28 values with hardly any rain.
    assert int(unfitted.sum()) > 20 and int((params["n_left"] == params["n"]).sum()) >= 1
    with pytest.warns(ferrule.InvalidFitWarning, match="values have no score") as caught:
        z = fx.standardized_index(pr, params=params, zeros="upper", clip=None)
    assert np.isfinite(z.where(pr == 0, drop=True)).all()
    lacking = unfitted.sel(dayofyear=pr["time.dayofyear"]).values
    np.testing.assert_array_equal(z.isnull().values, lacking & (pr > 0).values)
    assert str(caught[-1].message).startswith(f"{int(z.isnull().sum())} of 1461 values")
