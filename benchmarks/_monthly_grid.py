"""Group 9: the standardised-index job, cell-months per second on 2 threads.

A 40 x 40 grid of monthly totals over 30 years (synthetic gamma totals with dry months,
censored at 0), each calendar month of each cell one series of 30 values: 19 200
cell-months fitted by ``fit_grid`` per family, by the default fit and by ``fast=True``.
Peers: xclim's and climate-indices' gamma fits are timed beside when they are installed.
"""

import argparse
import importlib.util
import time
import warnings

import numpy as np
from _report import print_table, ratio_text, target_cells

import ferrule
from ferrule import _core

FAMILIES = {"yeo_johnson": 20_000, "log_sinh": 5_000, "sinh_asinh": 5_000, "jones_pewsey": 5_000}
SHAPE = (40, 40)
QUICK_SHAPE = (2, 2)
YEARS = 30
THREADS = 2
COST_TARGET = ("<=", 3.0)  # default fit's time over one run's


def monthly_totals(shape, seed=21):
    rng = np.random.default_rng(seed)
    cells = shape + (12, YEARS)
    wet = rng.random(cells) > 0.1
    return np.where(wet, np.round(rng.gamma(1.5, 40.0, cells), 1), 0.0)


def cell_months_per_second(values, family, fast):
    """Cell-months per second of fit_grid, and its GridFit."""
    before = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        grid = ferrule.fit_grid(values, family, left=0.0, seed=1, n_jobs=THREADS, fast=fast)
    return values[..., 0].size / (time.perf_counter() - before), grid


def cell_loop_per_second(values, family, fast):
    """The C++ cell loop alone (what fit_grid runs before judging each cell in Python)."""
    rows = np.ascontiguousarray(values.reshape(-1, values.shape[-1]))
    ncells = rows.shape[0]
    method = next(i.default_method for i in _core.FAMILIES if i.key == family)
    before = time.perf_counter()
    _core.fit_cells(
        family, rows, np.zeros(ncells), np.full(ncells, np.inf), np.zeros(ncells, dtype=bool),
        method=method, rescale=True, scale=np.full(ncells, 0.01),
        seeds=np.arange(ncells, dtype=np.uint32), n_threads=THREADS, fast=fast,
    )  # fmt: skip
    return ncells / (time.perf_counter() - before)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    values = monthly_totals(QUICK_SHAPE if args.quick else SHAPE)
    rows = []
    for family, target in FAMILIES.items():
        default, thorough = cell_months_per_second(values, family, False)
        fast, single = cell_months_per_second(values, family, True)
        # How far one run falls short: cells where the default fit is higher by more than
        # 0.01 log-lik, and cells where it is lower than a valid one-run fit (a one-run fit at
        # a degenerate limit may be higher, and the default rightly keeps a proper optimum).
        gain = np.nan_to_num(thorough.loglik - single.loglik, nan=0.0)
        loop = [cell_loop_per_second(values, family, f) for f in (False, True)]
        mark = "PASS" if default >= target else "MISS"
        cost = fast / default
        rows.append([family, f"{default:,.0f}", f"{fast:,.0f}", f">={target:,}", mark,
                     f"{loop[0]:,.0f}", f"{loop[1]:,.0f}", ratio_text(cost),
                     *target_cells(cost, COST_TARGET), f"{np.mean(gain > 0.01):.1%}",
                     int(np.sum((gain < -1e-9) & single.valid))])  # fmt: skip
    peers = [name for name in ("xclim", "climate_indices") if importlib.util.find_spec(name)]
    print_table(
        f"monthly grid: {values[..., 0].size:,} cell-months of {YEARS} values, {THREADS} threads",
        ["family", "default /s", "fast /s", "target", "mark", "C++ loop default /s",
         "C++ loop fast /s", "cost", "target", "mark", "fast short", "worse"],
        rows,
        ["/s: cell-months per second of fit_grid (judging each cell in Python included) and of "
         "its C++ cell loop alone; cost: fit_grid time, default fit over fast (one run); "
         "fast short: cell-months where one run ends more than 0.01 log-lik below the "
         "default fit; worse: cell-months where the default fit is below a valid one run",
         f"gamma peers: {', '.join(peers)} installed (see the index benchmark)" if peers else
         "gamma peers: xclim and climate-indices not installed in this environment"],
    )  # fmt: skip


if __name__ == "__main__":
    main()
