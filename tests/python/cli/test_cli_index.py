"""`ferrule index`: scores of a NetCDF variable written whole, fitted parameters reused."""

import numpy as np
import pandas as pd
import pytest
import xarray as xr
from cli_support import run_ferrule


@pytest.fixture
def data_file(tmp_path):
    rng = np.random.default_rng(4)
    time = pd.date_range("1991-01-01", "2004-12-01", freq="MS")
    values = np.where(rng.random((2, 2, time.size)) < 0.1, 0.0,
                      rng.gamma(2.0, 40.0, size=(2, 2, time.size)).round(1))  # fmt: skip
    values[0, 0] = np.nan  # sea
    xr.Dataset({"pr": (("lat", "lon", "time"), values, {"units": "mm/month"})},
               coords={"lat": [1.0, 2.0], "lon": [3.0, 4.0], "time": time}).to_netcdf(
        tmp_path / "in.nc", engine="h5netcdf")  # fmt: skip
    return tmp_path


def test_index_writes_scores_and_reuses_saved_parameters(data_file):
    common = ("--var", "pr", "--zeros", "random", "--clip", "3")
    first = run_ferrule("index", "in.nc", *common, "--accumulate", "3", "--calibration",
                        "1991-2000", "--family", "yjt", "--seed", "5", "--out", "spi3.nc",
                        "--save-params", "params.nc", cwd=data_file)  # fmt: skip
    assert first.returncode == 0, first.stderr
    assert "3 of 4" not in first.stderr and "written to spi3.nc" in first.stderr
    again = run_ferrule("index", "in.nc", *common, "--params", "params.nc", "--out", "z.nc",
                        cwd=data_file)  # fmt: skip
    assert again.returncode == 0, again.stderr
    with xr.open_dataset(data_file / "spi3.nc") as one, xr.open_dataset(data_file / "z.nc") as two:
        xr.testing.assert_identical(one.load(), two.load())
        spi = one["spi"]
        assert spi.attrs["long_name"] == ("standardized precipitation index (3-month "
                                          "accumulation, calendar-month fits, 1991–2000 "
                                          "calibration)")  # fmt: skip
        assert float(abs(spi).max()) <= 3.0
        with xr.open_dataset(data_file / "params.nc") as params:
            valid = params["valid"].sel(month=spi["time.month"]).drop_vars("month").load()
        complete = spi.isel(lat=1, time=slice(2, None))
        xr.testing.assert_equal(
            complete.notnull(), valid.isel(lat=1, time=slice(2, None)).transpose(*complete.dims)
        )
    # Fit options that differ from the saved parameters' are refused, nothing written.
    for argv, message in [
        (("--accumulate", "6"), "accumulate 6 cannot change them"),
        (("--groupby", "season"), "groupby 'season' cannot change them"),
        (("--calibration", "1991-2004"), "a calibration period cannot change them"),
        (("--save-params", "p2.nc"), "the parameters are saved in 'params.nc' already"),
    ]:
        refused = run_ferrule("index", "in.nc", "--params", "params.nc", *argv, "--out", "w.nc",
                              cwd=data_file)  # fmt: skip
        assert refused.returncode == 2 and message in refused.stderr, argv
    # Only the finished files are left in the folder.
    assert sorted(p.name for p in data_file.iterdir()) == ["in.nc", "params.nc", "spi3.nc", "z.nc"]


@pytest.mark.parametrize(
    ("argv", "message"),
    [
        (("--calibration", "1991"), "expected years such as 1991-2020"),
        (("--accumulate", "2W"), "not a whole number of the series' steps"),
        (("--groupby", "month", "--window", "3"), "groupby='dayofyear' only"),
        (("--adequate", "2"), "--adequate takes a level in [0, 1] or none"),
    ],
)
def test_unusable_options_exit_with_status_2(data_file, argv, message):
    result = run_ferrule("index", "in.nc", *argv, "--out", "z.nc", cwd=data_file)
    assert result.returncode == 2 and message in result.stderr
    assert not (data_file / "z.nc").exists()
