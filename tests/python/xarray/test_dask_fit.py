"""The same grid fitted serially, on threads, on dask's threaded scheduler and on a
dask.distributed cluster of processes gives the same numbers, for every optimiser."""

import warnings

import dask
import numpy as np
import pytest
import xarray as xr
from distributed import Client, LocalCluster

import ferrule
import ferrule.xarray as fx
from ferrule._grid.io import dataset_to_grid

METHODS = ["nelder_mead", "differential_evolution", "shuffled_complex_evolution"]


@pytest.fixture(scope="module")
def client():
    # Two single-threaded worker processes: small, since a cluster is slow to start.
    with (
        LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                     dashboard_address=None) as cluster,
        Client(cluster, set_as_default=False) as connected,
    ):  # fmt: skip
        yield connected


def rain_array():
    rng = np.random.default_rng(3)
    values = np.maximum(rng.gamma(0.8, 4.0, size=(4, 3, 150)) - 1.0, 0.0)
    values[3, 2] = np.nan
    return xr.DataArray(values, dims=("y", "x", "time"),
                        coords={"y": np.arange(4.0), "x": np.arange(3.0)})  # fmt: skip


def quiet_grid(values, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        return ferrule.fit_grid(values, **kwargs)


@pytest.mark.parametrize("method", METHODS)
def test_serial_threads_dask_threads_and_a_cluster_agree(method, client):
    da = rain_array()
    serial = quiet_grid(da.values, method=method, left=0.0, seed=21, n_jobs=1)
    threads = quiet_grid(da.values, method=method, left=0.0, seed=21, n_jobs=2)
    lazy = fx.fit(da.chunk({"y": 1, "x": 2}), method=method, left=0.0, seed=21)
    with dask.config.set(scheduler="threads"):
        on_threads = lazy.compute()
    on_cluster = client.compute(lazy).result()
    assert serial == threads
    assert dataset_to_grid(on_threads) == serial
    assert dataset_to_grid(on_cluster) == serial
    assert serial.fitted.sum() == 11


def test_a_cluster_transforms_with_the_parameters_as_plain_arrays(client):
    da = rain_array()
    params = fx.fit(da.chunk({"y": 2}), left=0.0, seed=5)
    z = fx.transform(params, da.chunk({"y": 2, "time": 50}))
    computed = client.compute(z).result()
    expected = dataset_to_grid(params.compute()).to_normal(da.values)
    np.testing.assert_array_equal(computed.values, expected)
