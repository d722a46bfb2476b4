"""`ferrule fit-grid` and `ferrule transform`: NetCDF in, NetCDF out, clear refusals."""

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


def run(*argv, cwd):
    return subprocess.run([sys.executable, "-m", "ferrule", *argv], cwd=cwd,
                          capture_output=True, text=True, timeout=300)  # fmt: skip


@pytest.fixture
def data_file(tmp_path):
    rng = np.random.default_rng(2)
    values = np.maximum(rng.gamma(0.8, 4.0, size=(2, 3, 365)) - 1.0, 0.0)
    values[0, 0] = np.nan
    dataset = xr.Dataset(
        {"pr": (("lat", "lon", "time"), values, {"units": "mm/day"}),
         "tas": (("lat", "lon", "time"), values + 270.0)},
        coords={"lat": [1.0, 2.0], "lon": [3.0, 4.0, 5.0],
                "time": pd.date_range("2010-01-01", periods=365)},
    )  # fmt: skip
    dataset.to_netcdf(tmp_path / "in.nc", engine="h5netcdf")
    return dataset


@pytest.mark.parametrize(("groupby", "family"), [(None, "yjt"), ("month", "yjt"), (None, "auto")])
def test_fit_grid_then_transform_round_trip(groupby, family, data_file, tmp_path):
    grouping = ["--groupby", groupby] if groupby else []
    fitted = run("fit-grid", "in.nc", "--var", "pr", "--left", "0", "--seed", "3", "--family",
                 family, *grouping, "--out", "params.nc", cwd=tmp_path)  # fmt: skip
    assert fitted.returncode == 0, fitted.stderr
    assert fitted.stdout == ""
    # The sea cell is reported once, as a warning line, not as a traceback.
    lines = fitted.stderr.splitlines()
    assert lines[0].startswith("ferrule: warning: ")
    assert "cells fitted" in lines[-1] and "params.nc" in lines[-1]
    with xr.open_dataset(tmp_path / "params.nc", engine="h5netcdf") as params:
        params = params.load()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        expected = fx.fit(data_file["pr"], family, left=0.0, seed=3,
                          groupby=f"time.{groupby}" if groupby else None)  # fmt: skip
    assert dataset_to_grid(params) == dataset_to_grid(expected)
    assert params.attrs["units"] == "mm/day"

    done = run("transform", "params.nc", "in.nc", "--var", "pr", "--out", "z.nc", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    with xr.open_dataset(tmp_path / "z.nc", engine="h5netcdf") as z:
        z = z.load()
    xr.testing.assert_identical(z["pr"], fx.transform(expected, data_file["pr"]))


@pytest.mark.parametrize(
    ("argv", "message"),
    [
        (["fit-grid", "in.nc", "--out", "p.nc"], "holds 2 variables (pr, tas): name one"),
        (["fit-grid", "in.nc", "--var", "rain", "--out", "p.nc"], "has no variable 'rain'"),
        (["fit-grid", "in.nc", "--var", "pr", "--dim", "day", "--out", "p.nc"],
         "has no dimension 'day'"),
        (["fit-grid", "nothing.nc", "--var", "pr", "--out", "p.nc"], "no such file"),
        (["fit-grid", "in.nc", "--var", "pr", "--family", "nope", "--out", "p.nc"],
         "unknown family 'nope'"),
        (["fit-grid", "in.nc", "--var", "pr", "--groupby", "fortnight", "--out", "p.nc"],
         "cannot group by 'time.fortnight'"),
        (["fit-grid", "in.nc", "--var", "pr", "--family", "logsinh", "--out", "p.nc"],
         "finite left threshold"),
        (["fit-grid", "in.nc", "--var", "pr"], "the following arguments are required: --out"),
        (["fit-grid", "in.nc", "--var", "pr", "--seed", "-1", "--out", "p.nc"],
         "not negative"),
        (["transform", "in.nc", "in.nc", "--var", "pr", "--out", "z.nc"],
         "was not written by ferrule fit-grid"),
        (["fit-grid", "notes.txt", "--var", "pr", "--out", "p.nc"], "cannot read 'notes.txt'"),
        (["fit-grid", "in.nc", "--var", "pr", "--seed", "4294967296", "--out", "p.nc"],
         "argument --seed: a seed is a number from 0 to 4294967295"),
        (["fit-grid", "in.nc", "--var", "pr", "--out", "in.nc"],
         "--out in.nc is the input file"),
        (["transform", "in.nc", "in.nc", "--var", "pr", "--out", "./in.nc"],
         "--out ./in.nc is the input file"),
        (["fit-grid", "in.nc", "--var", "pr", "--out", "nowhere/p.nc"],
         "--out nowhere/p.nc: the folder 'nowhere' does not exist"),
    ],
    ids=["which-variable", "variable", "dimension", "file", "family", "group", "log-sinh",
         "out", "seed", "not-params", "not-netcdf", "seed-range", "out-is-in",
         "transform-out-is-in", "out-folder"],
)  # fmt: skip
def test_unusable_input_exits_with_status_2(argv, message, data_file, tmp_path):
    (tmp_path / "notes.txt").write_text("not a NetCDF file\n")
    before = (tmp_path / "in.nc").read_bytes()
    result = run(*argv, cwd=tmp_path)
    assert result.returncode == 2
    assert message in result.stderr
    assert "Traceback" not in result.stderr
    assert result.stderr.splitlines()[-1].startswith("ferrule: error: ")
    # Refused before any fit, and the data left as they were.
    assert "cells fitted" not in result.stderr
    assert (tmp_path / "in.nc").read_bytes() == before


def test_without_xarray_the_commands_say_what_to_install(data_file, tmp_path):
    code = (
        "import sys; sys.modules['xarray'] = None\nfrom ferrule.cli import main\n"
        "sys.exit(main(['fit-grid', 'in.nc', '--var', 'pr', '--out', 'p.nc']))"
    )
    result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True,
                            text=True)  # fmt: skip
    assert result.returncode == 2
    assert result.stderr == (
        "ferrule: error: fit-grid and transform need xarray and h5netcdf: "
        "pip install 'ferrule[xarray]'\n"
    )


@pytest.mark.parametrize(("command", "words"), [
    ("fit-grid", ["--var", "--dim", "--groupby", "--out", "--left", "--seed", "--jobs"]),
    ("transform", ["PARAMS.nc", "IN.nc", "--var", "--out"]),
])  # fmt: skip
def test_help_describes_each_command(command, words, tmp_path):
    result = run(command, "--help", cwd=tmp_path)
    assert result.returncode == 0
    for word in words:
        assert word in result.stdout
    assert command in run("--help", cwd=tmp_path).stdout
