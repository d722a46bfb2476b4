"""xarray objects wherever an array is taken, NetCDF files of either format, and Ctrl-C
under every dask scheduler."""

import _thread
import signal
import threading
import warnings

import numpy as np
import pytest
from cli_support import run_ferrule

import ferrule

xr = pytest.importorskip("xarray")
RNG = np.random.default_rng(21)
RAIN = RNG.gamma(2.0, size=(3, 80))


def _plotted(figure):
    """What a figure shows: the data drawn on each panel."""
    return [line.get_xydata().tolist() for axes in figure.axes for line in axes.get_lines()]


def _quiet(call):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        return call()


@pytest.mark.parametrize(
    "call",
    [
        lambda data: ferrule.fit(data[0], seed=1).params,
        lambda data: ferrule.fit_grid(data, seed=1).mu.tolist(),
        lambda data: _plotted(ferrule.fit(RAIN[0], seed=1).plot(data[0])),
    ],
    ids=["fit", "fit_grid", "plot"],
)
@pytest.mark.parametrize(
    "wrap",
    [
        lambda a: xr.DataArray(a, dims=("x", "time")),
        lambda a: xr.Dataset({"pr": (("x", "time"), a)})["pr"],
    ],
    ids=["DataArray", "Dataset-variable"],
)
def test_xarray_objects_are_taken_as_their_values(call, wrap):
    pytest.importorskip("matplotlib")
    assert _quiet(lambda: call(wrap(RAIN))) == _quiet(lambda: call(RAIN))


def test_fit_grid_refuses_a_date_column_as_fit_does():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"day": pd.date_range("2001-01-01", periods=80), "mm": RAIN[0]})
    with pytest.raises(TypeError, match="column 'day'.*datetime64"):
        ferrule.fit_grid(frame, axis=0)
    with pytest.raises(TypeError, match="datetime64"):
        ferrule.fit(frame["day"])


def test_fit_grid_and_transform_read_netcdf3_files(tmp_path):
    pytest.importorskip("scipy")
    data = tmp_path / "rain.nc"
    netcdf3 = {"engine": "scipy", "format": "NETCDF3_64BIT"}
    xr.Dataset({"pr": (("x", "time"), RAIN)}).to_netcdf(data, **netcdf3)
    params, z = tmp_path / "params.nc", tmp_path / "z.nc"
    fitted = run_ferrule("fit-grid", data, "--out", params, "--seed", "1")
    assert fitted.returncode == 0, fitted.stderr
    assert params.read_bytes().startswith(b"\x89HDF")  # written as NetCDF4
    done = run_ferrule("transform", params, data, "--out", z)
    assert done.returncode == 0, done.stderr
    with xr.open_dataset(z) as scores:
        assert scores["pr"].shape == RAIN.shape and np.isfinite(scores["pr"]).all()


# A Ctrl-C that lands in a garbage-collector callback (distributed, once imported, installs
# one) is printed and dropped by Python, as for any user: the keys are pressed again.
@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
@pytest.mark.parametrize("scheduler", ["synchronous", "threads"])
def test_ctrl_c_during_a_dask_fit_raises(scheduler):
    dask = pytest.importorskip("dask")
    import ferrule.xarray as fx

    # Several seconds of fits (settled Yeo-Johnson fits of 200 values take about 0.3 ms each),
    # interrupted early in the first chunks.
    values = RNG.gamma(2.0, size=(20000, 200))
    da = xr.DataArray(values, dims=("x", "time")).chunk({"x": 200})
    lazy = fx.fit(da, dim="time", seed=1)
    done = threading.Event()

    def press_ctrl_c():
        while not done.wait(0.5):
            _thread.interrupt_main()

    presser = threading.Thread(target=press_ctrl_c)
    # Python's own handler, also where a launcher started the tests with SIGINT ignored
    # (interrupt_main does nothing then).
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    with dask.config.set(scheduler=scheduler), pytest.raises(KeyboardInterrupt):
        presser.start()
        try:
            _quiet(lazy.load)
        finally:
            done.set()
            presser.join()
            signal.signal(signal.SIGINT, previous)
