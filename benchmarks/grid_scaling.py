"""Group 5: grid fitting through the public layer, one Nelder-Mead fit per cell of a rain-like
grid: ``ferrule.fit_grid`` serially and on two threads, and ``ferrule.xarray.fit`` on a dask
cluster of two worker processes.

Run by ``benchmarks/run.py``, or alone with the package installed:
``python benchmarks/grid_scaling.py [--quick]``. The grid is 100 x 100 cells of 365 days
(``--quick``: 20 x 20), seeded; every run must give the same numbers as the serial one,
which the script checks (it fails otherwise). The cluster run needs xarray and
dask[distributed]; without them it is skipped, and said so.
"""

import argparse
import time
import warnings

import numpy as np
from _report import print_table, ratio_text, seconds_text, target_cells

import ferrule

SEED = 20240601
SIZE, QUICK_SIZE = 100, 20
DAYS = 365
WORKERS = 2
THREADS_TARGET = (">=", 1.8)  # as the kernel's own grid loop in group 2


def rain_grid(cells: int, days: int) -> np.ndarray:
    """Daily rain: about 40 % dry days, skewed wet amounts, a few sea cells."""
    rng = np.random.default_rng(SEED)
    wetness = rng.uniform(0.5, 2.0, size=(cells, cells, 1))
    values = np.maximum(rng.gamma(0.7, 6.0 * wetness, size=(cells, cells, days)) - 2.0, 0.0)
    values[: max(cells // 20, 1), : max(cells // 20, 1)] = np.nan
    return values


def timed(call):
    """The result of ``call()`` and its wall-clock seconds, the grid's warnings silenced."""
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        result = call()
    return result, time.perf_counter() - start


def on_cluster(values: np.ndarray, workers: int):
    """The xarray route on a LocalCluster: blocks of rows on each worker process. Returns
    ((grid, seconds), None), or (None, why it was skipped)."""
    try:
        import xarray as xr
        from distributed import Client, LocalCluster
    except ImportError as err:
        return None, f"skipped ({err.name} is not installed)"

    from ferrule._grid.io import dataset_to_grid

    da = xr.DataArray(values, dims=("y", "x", "time")).chunk({"y": max(values.shape[0] // 8, 1)})
    with (
        LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=None) as cluster,
        Client(cluster) as client,
    ):
        lazy = ferrule.xarray.fit(da, left=0.0, seed=SEED, n_jobs=1)
        # Only the computation is timed: the cluster's start-up is not the fit's.
        grid, seconds = timed(lambda: dataset_to_grid(client.compute(lazy).result()))
    return (grid, seconds), None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a 20 x 20 grid (smoke run)")
    args = parser.parse_args()
    size = QUICK_SIZE if args.quick else SIZE
    values = rain_grid(size, DAYS)

    # label -> (grid, seconds); the first is the serial run the others are compared with.
    runs = {
        f"{jobs} thread{'s' if jobs > 1 else ''}": timed(
            lambda jobs=jobs: ferrule.fit_grid(
                values, left=0.0, seed=SEED, n_jobs=jobs, progress=False
            )
        )
        for jobs in (1, 2)
    }
    cluster, skipped = on_cluster(values, workers=WORKERS)
    if cluster is not None:
        runs[f"dask {WORKERS} workers"] = cluster
    serial_grid, serial = runs["1 thread"]
    for label, (grid, _) in runs.items():
        if grid != serial_grid:
            raise SystemExit(f"the run on {label} gave other numbers than the serial fit")

    rows = []
    for label, (_, seconds) in list(runs.items())[1:]:
        ratio = serial / seconds
        target = THREADS_TARGET if label == "2 threads" else None
        rows.append([f"fit 1 thread / fit {label}", seconds_text(serial), seconds_text(seconds),
                     ratio_text(ratio), *target_cells(ratio, target)])  # fmt: skip
    cells = size * size
    rates = ", ".join(f"{label} {cells / seconds:.0f}" for label, (_, seconds) in runs.items())
    print_table(
        f"grid scaling: {size} x {size} cells of {DAYS} days, Nelder-Mead, left-censored at 0",
        ["comparison", "numerator s", "denominator s", "ratio", "target", "mark"],
        rows,
        [
            "ferrule.fit_grid in this process with n_jobs=1 and 2, and ferrule.xarray.fit of "
            f"row blocks on a dask LocalCluster of {WORKERS} single-threaded worker processes "
            "(its start-up not timed); one run each",
            f"cells per second: {rates}",
            "every run gave the serial run's numbers, bit for bit"
            + ("" if cluster else f"; dask {WORKERS} workers {skipped}"),
        ],
    )


if __name__ == "__main__":
    main()
