"""What comes out is the kind that went in, and the package shows only its public face."""

import importlib.metadata

import numpy as np
import pandas as pd
import pytest
from api_support import quiet_fit, rain

import ferrule

MAPS = ["to_normal", "from_normal", "cdf", "sf", "logsf", "logpdf", "pdf", "ppf"]


@pytest.fixture(scope="module")
def fitted():
    return quiet_fit(rain(300, seed=3), "yeo_johnson", left=0.0, seed=1)


@pytest.mark.parametrize("what", MAPS)
def test_a_series_gives_a_series_and_a_dataarray_a_dataarray(fitted, what):
    xr = pytest.importorskip("xarray")
    values = np.array([0.1, 0.4, 0.7])  # probabilities and scores too
    series = pd.Series(values, index=pd.date_range("2001-01-01", periods=3), name="pr")
    out = getattr(fitted, what)(series)
    assert isinstance(out, pd.Series) and out.name == "pr" and out.index.equals(series.index)
    plain = getattr(fitted, what)(values)
    np.testing.assert_array_equal(out.to_numpy(), plain)
    da = xr.DataArray(values, dims="time", coords={"time": series.index}, name="pr")
    out = getattr(fitted, what)(da)
    assert isinstance(out, xr.DataArray) and out.name == "pr"
    xr.testing.assert_identical(out["time"], da["time"])
    assert isinstance(getattr(fitted, what)(0.5), np.float64)


def test_the_version_is_the_installed_one_and_dir_shows_public_names():
    assert ferrule.__version__ == importlib.metadata.version("ferrule")
    names = dir(ferrule)
    assert {"fit", "fit_grid", "Fit", "GridFit", "xarray", "__version__"} <= set(names)
    assert [n for n in names if n.startswith("_") and n != "__version__"] == []
    assert not {"Any", "importlib", "TYPE_CHECKING"} & set(names)
