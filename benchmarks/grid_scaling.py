"""Grid fitting speed: one Nelder-Mead fit per cell of a rain-like grid, serially, on two
threads, and on a dask cluster of two worker processes.

Run with the package installed: ``python -P benchmarks/grid_scaling.py [--quick]``.
The grid is 200 x 200 cells of 365 days (``--quick``: 20 x 20), seeded; every run must
give the same numbers, which the script checks. Prints cells per second of each run and
the speed-ups over the serial one. Needs xarray and dask[distributed] for the cluster run
(skipped, and said so, without them).
"""

import argparse
import time
import warnings

import numpy as np

import ferrule

SEED = 20240601


def rain_grid(cells: int, days: int) -> np.ndarray:
    """Daily rain: about 40 % dry days, skewed wet amounts, a few sea cells."""
    rng = np.random.default_rng(SEED)
    wetness = rng.uniform(0.5, 2.0, size=(cells, cells, 1))
    values = np.maximum(rng.gamma(0.7, 6.0 * wetness, size=(cells, cells, days)) - 2.0, 0.0)
    values[: max(cells // 20, 1), : max(cells // 20, 1)] = np.nan
    return values


def timed(call):
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        result = call()
    return result, time.perf_counter() - start


def on_cluster(values: np.ndarray, workers: int):
    """The xarray route on a LocalCluster: blocks of rows on each worker process."""
    try:
        import xarray as xr
        from distributed import Client, LocalCluster
    except ImportError as err:
        return None, f"skipped ({err.name} is not installed)"

    from ferrule._xarray_dataset import dataset_to_grid

    da = xr.DataArray(values, dims=("y", "x", "time")).chunk({"y": max(values.shape[0] // 8, 1)})
    with (
        LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=None) as cluster,
        Client(cluster) as client,
    ):
        lazy = ferrule.xarray.fit(da, left=0.0, seed=SEED, n_jobs=1)
        grid, seconds = timed(lambda: dataset_to_grid(client.compute(lazy).result()))
    return (grid, seconds), None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a 20 x 20 grid (smoke test)")
    args = parser.parse_args()
    size = 20 if args.quick else 200
    values = rain_grid(size, 365)
    cells = size * size
    print(f"grid {size} x {size} cells x 365 days, Nelder-Mead, left-censored at 0")

    runs = {}
    for jobs in (1, 2):
        runs[f"threads={jobs}"] = timed(
            lambda jobs=jobs: ferrule.fit_grid(
                values, left=0.0, seed=SEED, n_jobs=jobs, progress=False
            )  # fmt: skip
        )
    cluster, why = on_cluster(values, workers=2)
    if cluster is not None:
        runs["dask 2 workers"] = cluster

    serial_grid, serial_seconds = runs["threads=1"]
    print(f"{'run':<16} {'seconds':>9} {'cells/s':>9} {'speed-up':>9}")
    for name, (grid, seconds) in runs.items():
        if grid != serial_grid:
            raise SystemExit(f"{name} gave other numbers than the serial fit")
        print(f"{name:<16} {seconds:9.2f} {cells / seconds:9.1f} {serial_seconds / seconds:9.2f}")
    if why:
        print(f"dask 2 workers   {why}")


if __name__ == "__main__":
    main()
