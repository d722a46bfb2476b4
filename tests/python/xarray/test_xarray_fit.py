"""ferrule.xarray: DataArrays fitted along a named dimension (per group too), in memory or
chunk by chunk, applied back to DataArrays, written to NetCDF and read back."""

import dataclasses
import subprocess
import sys
import warnings

import numpy as np
import pandas as pd
import pytest
import xarray as xr

import ferrule
import ferrule.xarray as fx
from ferrule._grid.io import dataset_to_grid

TIME = pd.date_range("2001-01-01", periods=400, freq="D")


def rain_array(seed=0):
    rng = np.random.default_rng(seed)
    values = np.maximum(rng.gamma(0.8, 4.0, size=(3, 4, TIME.size)) - 1.0, 0.0)
    values[0, 0] = np.nan  # sea
    values[1, 2, ::5] = np.nan  # missing days
    return xr.DataArray(
        values,
        dims=("lat", "lon", "time"),
        coords={"lat": [10.0, 10.5, 11.0], "lon": [1.0, 1.5, 2.0, 2.5], "time": TIME,
                "height": ("lat", [5.0, 6.0, 7.0])},
        attrs={"units": "mm/day", "source": "synthetic"},
        name="pr",
    )  # fmt: skip


def quietly(call, *args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        return call(*args, **kwargs)


def test_fit_keeps_coordinates_and_attributes_and_records_the_settings():
    da = rain_array()
    params = quietly(fx.fit, da, left=0.0, seed=4)
    assert dict(params.sizes) == {"lat": 3, "lon": 4, "search_coordinate": 3}
    for name in ("lat", "lon", "height"):
        xr.testing.assert_identical(params[name], da[name])
    assert "time" not in params.coords
    assert params.attrs["units"] == "mm/day" and params.attrs["source"] == "synthetic"
    assert {k: params.attrs[k] for k in ("ferrule_family", "ferrule_method",
            "ferrule_base_seed", "ferrule_dim", "ferrule_groupby", "ferrule_variable")} == {
        "ferrule_family": "yeo_johnson", "ferrule_method": "nelder_mead",
        "ferrule_base_seed": 4, "ferrule_dim": "time", "ferrule_groupby": "",
        "ferrule_variable": "pr",
    }  # fmt: skip
    for name in ("lambda", "mu", "sigma", "loglik", "valid", "reason", "seed"):
        assert params[name].dims == ("lat", "lon")
    # The same numbers as fit_grid on the NumPy array.
    grid = quietly(ferrule.fit_grid, da.values, left=0.0, seed=4)
    assert dataset_to_grid(params) == grid
    assert params["reason"].values[0, 0] == "all values are missing"


def test_fit_along_a_dimension_that_is_not_last():
    da = rain_array().transpose("time", "lon", "lat")
    params = quietly(fx.fit, da, left=0.0, seed=4)
    assert params["mu"].dims == ("lon", "lat")
    expected = quietly(fx.fit, rain_array(), left=0.0, seed=4)
    xr.testing.assert_identical(params["mu"], expected["mu"].transpose("lon", "lat"))


@pytest.mark.parametrize("groupby", ["time.month", "month"])
def test_fit_per_month_gives_each_group_its_own_model_and_seed(groupby):
    da = rain_array()
    params = quietly(fx.fit, da, groupby=groupby, left=0.0, seed=4)
    assert params["lambda"].dims == ("month", "lat", "lon")
    np.testing.assert_array_equal(params["month"], np.arange(1, 13))
    assert params.attrs["ferrule_groupby"] == "time.month"
    position, month, cell = 2, 3, (2, 1)  # March, the cell lat=11.0, lon=1.5
    series = da.values[cell][da["time.month"].values == month]
    seed = np.random.SeedSequence(4, spawn_key=(position * 12 + 2 * 4 + 1,)).generate_state(1)
    assert params["seed"].values[(position, *cell)] == seed[0]
    single = quietly(ferrule.fit, series, left=0.0, seed=int(seed[0]))
    assert params["lambda"].values[(position, *cell)] == single.params["lambda"]
    assert params["loglik"].values[(position, *cell)] == single.loglik


@pytest.mark.parametrize(
    "chunks",
    [{"lat": 1}, {"lat": 2, "lon": 3}, {"time": 150}, {"lat": 1, "lon": 1, "time": 100}],
    ids=["rows", "blocks", "time-chunked", "cells"],
)
@pytest.mark.parametrize("groupby", [None, "time.season"])
def test_chunked_input_gives_the_in_memory_result(chunks, groupby):
    da = rain_array(seed=1)
    expected = quietly(fx.fit, da, groupby=groupby, method="sce", left=0.0, seed=9)
    lazy = fx.fit(da.chunk(chunks), groupby=groupby, method="sce", left=0.0, seed=9)
    assert lazy["mu"].chunks is not None  # nothing fitted yet
    xr.testing.assert_identical(lazy.compute(), expected)


def test_per_cell_settings_as_dataarrays_broadcast_against_the_cells():
    da = rain_array()
    left = xr.DataArray([0.0, 0.5, 1.0], dims="lat", coords={"lat": da["lat"]})
    mask = xr.DataArray([False, True, False, False], dims="lon", coords={"lon": da["lon"]})
    params = quietly(fx.fit, da, left=left, mask=mask, seed=2)
    np.testing.assert_array_equal(params["left"].values[:, 0], [0.0, 0.5, 1.0])
    assert (params["reason"].values[:, 1] == "masked").all()
    chunked = fx.fit(da.chunk({"lat": 2}), left=left, mask=mask, seed=2).compute()
    xr.testing.assert_identical(chunked, params)


MAPS = [(fx.transform, "to_normal"), (fx.inverse, "from_normal"), (fx.cdf, "cdf"),
        (fx.ppf, "ppf")]  # fmt: skip


def new_data(what, da):
    rng = np.random.default_rng(7)
    if what == "from_normal":
        return da.copy(data=rng.standard_normal(da.shape))
    if what == "ppf":
        return da.copy(data=rng.uniform(size=da.shape))
    return da


@pytest.mark.parametrize(("function", "what"), MAPS, ids=[m[1] for m in MAPS])
def test_maps_apply_each_cells_fit_and_keep_the_coordinates(function, what):
    da = rain_array()
    params = quietly(fx.fit, da, left=0.0, seed=4)
    x = new_data(what, da)
    out = function(params, x)
    assert out.dims == da.dims and out.name == "pr"
    xr.testing.assert_identical(out["time"], da["time"])
    grid = dataset_to_grid(params)
    np.testing.assert_array_equal(out.values, getattr(grid, what)(x.values))
    # Scores and probabilities have no units; values and quantiles those of the data.
    assert out.attrs["units"] == ("1" if what in ("to_normal", "cdf") else "mm/day")
    chunked = function(params, x.chunk({"lat": 1, "time": 100}))
    assert chunked.chunks is not None
    xr.testing.assert_identical(chunked.compute(), out)


@pytest.mark.parametrize(("function", "what"), MAPS, ids=[m[1] for m in MAPS])
def test_grouped_maps_apply_each_values_group(function, what):
    da = rain_array()
    params = quietly(fx.fit, da, groupby="time.month", left=0.0, seed=4)
    x = new_data(what, da)
    out = function(params, x)
    grid = dataset_to_grid(params)
    months = da["time.month"].values
    for position, month in enumerate(range(1, 13)):
        sub = dataset_to_grid(params.isel(month=position))
        days = months == month
        np.testing.assert_array_equal(out.values[..., days],
                                      getattr(sub, what)(x.values[..., days]))  # fmt: skip
    assert grid.shape == (12, 3, 4)
    xr.testing.assert_identical(function(params, x.chunk({"lon": 2})).compute(), out)


def test_parameters_survive_a_netcdf_file(tmp_path):
    da = rain_array()
    params = quietly(fx.fit, da, groupby="time.month", left=0.0, seed=4)
    params.to_netcdf(tmp_path / "params.nc", engine="h5netcdf")
    with xr.open_dataset(tmp_path / "params.nc", engine="h5netcdf") as back:
        back = back.load()
    xr.testing.assert_identical(back, params)
    xr.testing.assert_identical(fx.transform(back, da), fx.transform(params, da))
    assert ferrule.load_grid(tmp_path / "params.nc") == dataset_to_grid(params)


@pytest.mark.parametrize(
    ("call", "error", "match"),
    [
        (lambda da, p: fx.fit(da.to_dataset()), TypeError, "select one variable"),
        (lambda da, p: fx.fit(da, dim="day"), ValueError, "no dimension 'day'"),
        (lambda da, p: fx.fit(da.isel(time=[])), ValueError, "'time' is empty"),
        (lambda da, p: fx.fit(da, groupby="time.nope"), ValueError, "cannot group"),
        (lambda da, p: fx.fit(da, groupby="height"), ValueError, "not along 'time'"),
        (lambda da, p: fx.fit(da, left=np.zeros(5)), ValueError, "does not broadcast"),
        (lambda da, p: fx.fit(da, left=xr.DataArray([0.0], dims="x")), ValueError, "lack"),
        (lambda da, p: fx.transform(p.drop_attrs(), da), ValueError, "ferrule.xarray.fit"),
        (lambda da, p: fx.transform(p, da, dim="day"), ValueError, "no dimension 'day'"),
        (lambda da, p: fx.transform(p, da.values), TypeError, "DataArray"),
        (lambda da, p: fx.transform(p.isel(month=[0]), da), ValueError, "no fit for month 2"),
    ],
    ids=["dataset", "dim", "empty-dim", "group", "group-dim", "option-shape", "option-dims",
         "not-params", "transform-dim", "transform-numpy", "missing-group"],
)  # fmt: skip
def test_unusable_calls_are_refused(call, error, match):
    da = rain_array()
    params = quietly(fx.fit, da.isel(lat=[1], lon=[1]), groupby="time.month", seed=1)
    with pytest.raises(error, match=match):
        quietly(call, da.isel(lat=[1], lon=[1]), params)


def test_without_xarray_the_module_says_what_to_install():
    code = "import sys; sys.modules['xarray'] = None\nimport ferrule.xarray"
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 1
    assert "ImportError: ferrule.xarray needs the xarray package" in result.stderr
    assert "pip install 'ferrule[xarray]'" in result.stderr


def test_a_selected_station_or_region_is_transformed_by_its_own_cells():
    da = rain_array()
    params = quietly(fx.fit, da, left=0.0, seed=4)
    whole = fx.transform(params, da)
    station = fx.transform(params, da.sel(lat=10.5, lon=2.0))
    assert station.dims == ("time",)
    xr.testing.assert_identical(station, whole.sel(lat=10.5, lon=2.0))
    region = da.sel(lat=[11.0, 10.5], lon=slice(1.5, 2.5))
    xr.testing.assert_identical(
        fx.transform(params, region), whole.sel(lat=[11.0, 10.5], lon=slice(1.5, 2.5))
    )
    with pytest.raises(ValueError, match=r"the parameters hold no fit for lon 1.01, 1.51"):
        fx.transform(params, da.assign_coords(lon=da["lon"] + 0.01))


def test_per_cell_settings_are_taken_at_the_cells_labels():
    da = rain_array()
    # A map of thresholds over a larger region, in another order.
    wide = xr.DataArray([0.3, 0.2, 0.1, 0.0], dims="lat", coords={"lat": [11.5, 11.0, 10.5, 10.0]})
    params = quietly(fx.fit, da, left=wide, seed=2)
    np.testing.assert_array_equal(params["left"].values[:, 0], [0.0, 0.1, 0.2])
    short = xr.DataArray([True, False], dims="lat", coords={"lat": [10.0, 10.5]})
    with pytest.raises(ValueError, match=r"mask has no value for lat 11.0"):
        fx.fit(da, mask=short, seed=2)
    with pytest.raises(ValueError, match=r"mask has no value for lat 11.0"):
        fx.fit(da.chunk({"lat": 1}), mask=short, seed=2)


def test_values_without_a_group_label_belong_to_no_group():
    da = rain_array()
    regime = np.where(np.arange(TIME.size) % 50 == 0, np.nan, np.arange(TIME.size) % 2)
    labelled = da.assign_coords(regime=("time", regime))
    params = quietly(fx.fit, labelled, groupby="regime", left=0.0, seed=4)
    np.testing.assert_array_equal(params["regime"], [0.0, 1.0])
    kept = ~np.isnan(regime)
    expected = quietly(fx.fit, labelled.isel(time=kept), groupby="regime", left=0.0, seed=4)
    xr.testing.assert_identical(params, expected)
    z = fx.transform(params, labelled)
    assert np.isnan(z.values[..., ~kept]).all()
    xr.testing.assert_identical(z.isel(time=kept), fx.transform(params, labelled.isel(time=kept)))
    with pytest.raises(ValueError, match="every value of 'regime' is missing"):
        fx.fit(labelled.assign_coords(regime=("time", np.full(TIME.size, np.nan))),
               groupby="regime")  # fmt: skip


def test_an_interrupted_grouped_fit_counts_every_groups_cells(monkeypatch):
    from ferrule.xarray import _fit as _xarray_fit

    real, calls = _xarray_fit.run_grid, []

    def stopped_in_the_second_group(*args, **kwargs):
        calls.append(1)
        run = real(*args, **kwargs)
        return dataclasses.replace(run, interrupted=len(calls) == 2)

    monkeypatch.setattr(_xarray_fit, "run_grid", stopped_in_the_second_group)
    da = rain_array()
    with pytest.raises(ferrule.GridFitInterrupted) as stopped:
        quietly(fx.fit, da, groupby="time.month", left=0.0, seed=4)
    # Two months of twelve, the sea cell of each not fitted.
    assert str(stopped.value).startswith("grid fit interrupted after 22 of 144 cells")
    assert stopped.value.partial.sizes["month"] == 2


@pytest.mark.parametrize("chunks", [None, {"lat": 2}])
def test_values_that_are_not_numbers_are_refused_before_fitting(chunks):
    da = rain_array() > 1.0  # wet days as booleans
    if chunks:
        da = da.chunk(chunks)
    with pytest.raises(TypeError, match="values must be real numbers, got an array of dtype bool"):
        fx.fit(da, seed=1)


def test_warnings_point_at_the_callers_line():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        fx.fit(rain_array(), groupby="time.season", left=0.0, seed=4)
    masked = [w for w in caught if w.category is ferrule.MaskedCellsWarning]
    assert len(masked) == 1 and all(w.filename == __file__ for w in caught)
    assert str(masked[0].message).startswith("4 of 48 cells were not fitted (4 with all values")


def test_family_comes_second_as_in_ferrule_fit_and_groupby_takes_either_form():
    da = rain_array()
    by_position = quietly(fx.fit, da, "sinh_asinh", dim="time", seed=2)
    assert by_position.attrs["ferrule_family"] == "sinh_asinh"
    short = quietly(fx.fit, da, groupby="season", left=0.0, seed=3)
    long = quietly(fx.fit, da, groupby="time.season", left=0.0, seed=3)
    xr.testing.assert_identical(short, long)
    assert short.attrs["ferrule_groupby"] == "time.season"
    xr.testing.assert_identical(fx.transform(short, da), fx.transform(long, da))
