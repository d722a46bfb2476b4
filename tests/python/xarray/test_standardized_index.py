"""Standardised indices on a small grid: each option's effect, the conventions for dry
values, fitting then scoring against one call, dask against memory."""

import warnings

import numpy as np
import pandas as pd
import pytest
import xarray as xr
from scipy import stats

import ferrule
import ferrule.xarray as fx

DAYS = pd.date_range("1991-01-01", "1998-12-31", freq="D")


def daily_rain(seed=0):
    """2 x 2 cells and a sea cell of daily rain, about 55 % dry days, a drier summer."""
    rng = np.random.default_rng(seed)
    wet_chance = 0.45 + 0.2 * np.cos(2 * np.pi * DAYS.day_of_year.values / 365.25)
    wet = rng.random((2, 3, DAYS.size)) < wet_chance
    values = np.where(wet, np.round(rng.gamma(0.7, 7.0, size=wet.shape), 1) + 0.1, 0.0)
    values[1, 2] = np.nan  # sea
    return xr.DataArray(values, dims=("lat", "lon", "time"),
                        coords={"lat": [50.0, 51.0], "lon": [4.0, 5.0, 6.0], "time": DAYS},
                        name="pr", attrs={"units": "mm/day",
                                          "standard_name": "precipitation_amount"})  # fmt: skip


def quietly(call, *args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        return call(*args, **kwargs)


@pytest.fixture(scope="module")
def rain():
    return daily_rain()


@pytest.fixture(scope="module")
def params(rain):
    return quietly(fx.standardized_index_params, rain, "yeo_johnson", seed=3)


def test_random_zeros_give_standard_normal_scores_where_others_share_one_dry_score(rain, params):
    land = rain.isel(lat=0)
    dry = (land <= 0.0).values
    scores = {zeros: quietly(fx.standardized_index, land, params=params, zeros=zeros).values
              for zeros in ("random", "center", "mean", "upper")}  # fmt: skip
    z = scores["random"]
    assert abs(z.mean()) < 0.03 and abs(z.std() - 1.0) < 0.03
    assert abs((z < -1.0).mean() - stats.norm.cdf(-1.0)) < 0.015
    months = land["time.month"].values
    for zeros in ("center", "mean", "upper"):
        for cell in range(z.shape[0]):
            for month in (1, 7):
                at = dry[cell] & (months == month)
                assert np.unique(scores[zeros][cell, at]).size == 1, (zeros, cell, month)
        assert (scores[zeros][dry] < 0).all() == (zeros != "upper")
        # Above the dry mass the conventions agree.
        np.testing.assert_array_equal(scores[zeros][~dry], z[~dry])
    # "mean" keeps the scores' average at 0, "center" lifts it (its dry score is higher).
    assert abs(scores["mean"].mean()) < 0.03 < scores["center"].mean()


def test_scores_follow_the_model_and_its_dry_probability(rain, params):
    """Above the threshold each score is the cell's and month's model score; at it, the
    convention on p0: the model's censored mass, or the share of dry values fitted."""
    cell = rain.isel(lat=0, lon=1)
    fit = params.isel(lat=0, lon=1).sel(month=1)
    # The index fits each cell and group as ferrule.fit does by default.
    model = ferrule.fit(cell.where(cell["time.month"] == 1, drop=True).values, "yeo_johnson",
                        left=0.0, seed=int(params.attrs["ferrule_base_seed"]))  # fmt: skip
    assert float(fit["mu"]) == pytest.approx(model.mu, rel=1e-6)
    january = cell["time.month"] == 1
    for p0, expected in (("model", model.cdf(0.0)), ("empirical", float(fit.n_left / fit.n))):
        z = quietly(fx.standardized_index, cell, params=params, zeros="upper", p0=p0)
        dry = float(np.unique(z.where(january & (cell == 0.0), drop=True))[0])
        assert stats.norm.cdf(dry) == pytest.approx(expected, rel=1e-6), p0
    z = quietly(fx.standardized_index, cell, params=params)
    wet = january & (cell > 0)
    np.testing.assert_allclose(z.where(wet, drop=True), model.to_normal(cell.where(wet, drop=True)),
                               rtol=1e-5)  # fmt: skip


def test_fitting_then_scoring_equals_one_call_and_dask_equals_memory(rain, params):
    one = quietly(fx.standardized_index, rain, "yeo_johnson", zeros="random", seed=3)
    two = quietly(fx.standardized_index, rain, params=params, zeros="random")
    xr.testing.assert_identical(one, two)
    chunked = rain.chunk({"lat": 1, "lon": 2})
    lazy_params = quietly(fx.standardized_index_params, chunked, "yeo_johnson", seed=3)
    xr.testing.assert_identical(lazy_params.compute(), params)
    lazy = quietly(fx.standardized_index, chunked, params=lazy_params, zeros="random")
    assert lazy.chunks is not None
    xr.testing.assert_identical(lazy.compute(), one)
    threads = quietly(fx.standardized_index_params, rain, "yeo_johnson", seed=3, n_jobs=1)
    xr.testing.assert_identical(threads, params)


def test_calibration_changes_the_parameters_only(rain, params):
    calibrated = quietly(fx.standardized_index_params, rain, "yeo_johnson", seed=3,
                         calibration=slice("1991", "1994"))  # fmt: skip
    assert calibrated.attrs["ferrule_calibration"] == ["1991-01-01", "1994-12-31"]
    assert (calibrated["n"] < params["n"]).where(params["valid"], True).all()
    assert not np.allclose(calibrated["mu"].fillna(0), params["mu"].fillna(0))
    z = quietly(fx.standardized_index, rain, "yeo_johnson", seed=3, calibration=("1991", "1994"))
    xr.testing.assert_identical(z, quietly(fx.standardized_index, rain, params=calibrated))
    land = z.isel(lat=0)
    assert not land.isnull().any()  # every value scored, in and after the calibration


@pytest.mark.parametrize(("accumulate", "steps"), [(3, 3), ("3D", 3), (None, 1)])
def test_accumulation_sums_complete_windows(rain, accumulate, steps):
    cell = rain.isel(lat=0, lon=0).copy()
    cell[10] = np.nan
    z = quietly(fx.standardized_index, cell, "yeo_johnson", groupby=None, accumulate=accumulate,
                seed=1)  # fmt: skip
    sums = cell.rolling(time=steps, min_periods=steps).sum()
    np.testing.assert_array_equal(z.isnull(), sums.isnull())
    assert int(z.isnull().sum()) == steps - 1 + steps
    assert z.attrs["ferrule_accumulate"] == steps
    assert ("3-day accumulation" in z.attrs["long_name"]) == (steps == 3)


def test_monthly_steps_are_named_without_a_stored_frequency(rain):
    monthly = rain.isel(lat=0, lon=0).resample(time="MS").sum()
    monthly["time"] = list(monthly["time"].values)  # as read from a file: no frequency
    z = quietly(fx.standardized_index, monthly, "yeo_johnson", groupby=None, accumulate=3, seed=1)
    assert "3-month accumulation" in z.attrs["long_name"]


def test_groups_without_a_valid_fit_are_reported(rain):
    with pytest.warns(ferrule.InvalidFitWarning, match="have no valid fit") as caught:
        fitted = fx.standardized_index_params(rain, "yeo_johnson", seed=1,
                                              calibration=slice("1991", "1991"))  # fmt: skip
    unfitted = int((~fitted["valid"] & fitted["valid"].any("month")).sum())
    assert unfitted > 0
    assert any(str(w.message).startswith(f"{unfitted} of ") for w in caught)
    # Scoring by such parameters later says how many values are left without a score.
    with pytest.warns(ferrule.InvalidFitWarning, match="values have no score") as caught:
        z = fx.standardized_index(rain, params=fitted)
    unscored = int((rain.notnull() & z.isnull()).sum())
    assert unscored > 0
    assert any(str(w.message).startswith(f"{unscored} of ") for w in caught)


def test_day_of_year_groups_pool_a_window_of_days(rain):
    cell = rain.isel(lat=0, lon=0)
    fitted = quietly(fx.standardized_index_params, cell, "yeo_johnson", groupby="dayofyear",
                     window=2, seed=1)  # fmt: skip
    assert fitted.sizes["dayofyear"] == 366
    years = len(set(DAYS.year))
    # Day 100: days 98 to 102 of every year; day 366 (leap years only) pools 364 to 2.
    assert int(fitted["n"].sel(dayofyear=100)) == 5 * years
    assert int(fitted["n"].sel(dayofyear=366)) == 4 * years + 2
    z = quietly(fx.standardized_index, cell, params=fitted)
    assert "day-of-year fits, ±2 days pooled" in z.attrs["long_name"]


def test_groups_fitted_in_batches_equal_groups_fitted_one_by_one(rain, monkeypatch):
    from ferrule.xarray import _index_cells

    row = rain.isel(lat=1)  # two land cells and the sea
    kwargs = {"groupby": "dayofyear", "window": 3, "calibration": ("1991", "1994"),
              "adequate": 0.25, "fast": True, "seed": 2}  # fmt: skip
    batched = quietly(fx.standardized_index_params, row, **kwargs)
    assert _index_cells._BATCH_VALUES >= 3 * 366 * batched["n"].max()  # one batch
    monkeypatch.setattr(_index_cells, "_BATCH_VALUES", 1)  # one group a batch
    xr.testing.assert_identical(quietly(fx.standardized_index_params, row, **kwargs), batched)


def test_clip_bounds_the_scores(rain, params):
    wide = quietly(fx.standardized_index, rain, params=params, clip=None)
    tight = quietly(fx.standardized_index, rain, params=params, clip=1.5)
    assert float(abs(wide).max()) > 1.5 and float(abs(tight).max()) == 1.5
    xr.testing.assert_equal(tight, wide.clip(-1.5, 1.5))


def test_auto_keeps_the_best_valid_family_of_those_fitted_in_turn(rain):
    """adequate=None fits every family and keeps the best; 0 stops at the first valid fit;
    0.25 stops in between, never below the best AIC."""
    cell = rain.isel(lat=0).sel(time=slice("1991", "1994"))
    auto = {level: quietly(fx.standardized_index_params, cell, groupby="season", seed=2,
                           adequate=level) for level in (None, 0.0, 0.25)}  # fmt: skip
    codes = auto[None]["family"].attrs["flag_meanings"].split()[1:]
    aics = xr.concat([quietly(fx.standardized_index_params, cell, key, groupby="season",
                              seed=2)["aic"] for key in codes], "f")  # fmt: skip
    best = aics.fillna(np.inf).argmin("f")
    np.testing.assert_array_equal(auto[None]["family"], best)
    np.testing.assert_array_equal(auto[None]["aic"], aics.min("f"))
    first = aics.notnull().argmax("f")
    np.testing.assert_array_equal(auto[0.0]["family"], first)
    np.testing.assert_array_equal(auto[0.0]["aic"], aics.isel(f=first))
    assert (auto[0.25]["aic"] >= auto[None]["aic"]).all()
    assert (auto[0.25]["aic"] <= auto[0.0]["aic"]).all()
    assert auto[0.25].attrs["ferrule_adequate"] == 0.25
    # Where the search stops depends on the cell alone: dask blocks give the same fits.
    lazy = quietly(fx.standardized_index_params, cell.chunk({"lon": 1}), groupby="season", seed=2,
                   adequate=0.25)  # fmt: skip
    xr.testing.assert_identical(lazy.compute(), auto[0.25])


def test_metadata_says_what_index_and_parameters_keep_their_own(rain, params, tmp_path):
    z = quietly(fx.standardized_index, rain, params=params)
    assert z.name == "spi" and z.attrs["units"] == "1"
    assert z.attrs["long_name"] == ("standardized precipitation index (calendar-month fits, "
                                    "1991–1998 calibration)")  # fmt: skip
    assert {z.attrs[k] for k in ("ferrule_zeros", "ferrule_p0", "ferrule_family")} == {
        "center", "model", "yeo_johnson"}  # fmt: skip
    assert "standard_name" not in params.attrs and "units" not in params.attrs
    params.to_netcdf(tmp_path / "p.nc")
    with xr.open_dataset(tmp_path / "p.nc") as back:
        xr.testing.assert_identical(quietly(fx.standardized_index, rain, params=back.load()), z)


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        ({"window": 3}, "applies with groupby='dayofyear' only"),
        ({"zeros": "lower"}, "zeros must be one of"),
        ({"p0": "fitted"}, "p0 must be 'model' or 'empirical'"),
        ({"calibration": slice("2030", "2040")}, "holds no values"),
        ({"accumulate": "7MS"}, "not a whole number of the series' steps"),
        ({"clip": -1.0}, "clip must be a positive number"),
        ({"adequate": 1.5}, "adequate must be a p-value level"),
    ],
)
def test_unusable_settings_are_refused(rain, kwargs, message):
    with pytest.raises(ValueError, match=message):
        fx.standardized_index(rain, "yeo_johnson", seed=1, **kwargs)


def test_parameters_refuse_other_fit_settings(rain, params):
    with pytest.raises(ValueError, match="accumulate 3 cannot change them"):
        fx.standardized_index(rain, params=params, accumulate=3)
