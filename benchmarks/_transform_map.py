"""Group 3: the Yeo-Johnson map of a long series, ferrule's transform_many against NumPy."""

import argparse
import json
from pathlib import Path

import numpy as np
from _ferrule_calls import make_array_transformer, make_transformer
from _rain import rain_series
from _report import print_table, ratio_text, seconds_text, target_cells
from _timing import median_times
from _workers import run_worker

LAMBDA = 0.3
SIZE = 1_000_000
QUICK_SIZE = 10_000
REPEATS = (21, 10.0)  # per side: max repeats, budget in seconds
TARGETS = {1: (">=", 1.0), 2: (">=", 1.8)}


def numpy_map(x, lam):
    """The map as a NumPy user writes it: both branches evaluated, np.where picks."""
    with np.errstate(all="ignore"):  # each branch is NaN on the other's half-line
        return np.where(
            x >= 0,
            ((x + 1.0) ** lam - 1.0) / lam,
            -((1.0 - x) ** (2.0 - lam) - 1.0) / (2.0 - lam),
        )


def worker(size, max_repeats, budget):
    """Time both maps in this process (its OMP_NUM_THREADS is set by the caller)."""
    x = rain_series(size, seed=size)
    kestrel_map = make_transformer(LAMBDA)
    array_map = make_array_transformer(LAMBDA)
    ours, kestrel, peer = median_times(
        (lambda: array_map(x), max_repeats, budget),
        (lambda: kestrel_map(x), max_repeats, budget),
        (lambda: numpy_map(x, LAMBDA), max_repeats, budget),
    )
    assert np.array_equal(ours.result, kestrel.result)
    difference = float(
        np.max(np.abs(ours.result - peer.result) / np.maximum(1.0, np.abs(peer.result)))
    )
    print(
        json.dumps(
            {
                "ferrule": ours.seconds,
                "kestrel": kestrel.seconds,
                "numpy": peer.seconds,
                "repeats": f"{ours.repeats}/{kestrel.repeats}/{peer.repeats}",
                "difference": difference,
            }
        )
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--worker", nargs=3, metavar=("SIZE", "REPEATS", "BUDGET"))
    args = parser.parse_args()
    if args.worker:
        size, repeats, budget = args.worker
        worker(int(size), int(repeats), float(budget))
        return

    size = QUICK_SIZE if args.quick else SIZE
    repeats, budget = (1, 0.0) if args.quick else REPEATS
    rows = []
    differences = []
    for threads in (1, 2):
        result = run_worker(Path(__file__), [size, repeats, budget], threads=threads)
        ratio = result["numpy"] / result["ferrule"]
        kestrel_ratio = result["numpy"] / result["kestrel"]
        differences.append(result["difference"])
        times = [seconds_text(result[side]) for side in ("ferrule", "kestrel", "numpy")]
        marks = target_cells(ratio, TARGETS[threads])
        rows.append(
            [
                threads,
                result["repeats"],
                *times,
                ratio_text(ratio),
                *marks,
                ratio_text(kestrel_ratio),
            ]
        )
    print_table(
        f"transform_many: {size} rain values, Yeo-Johnson lambda {LAMBDA}, peer NumPy np.where",
        [
            "threads",
            "repeats",
            "array s",
            "kestrel s",
            "numpy s",
            "ratio",
            "target",
            "mark",
            "kestrel ratio",
        ],
        rows,
        [
            "each row in its own process with OMP_NUM_THREADS set; NumPy's map is single-threaded",
            "array: the public layer's array path (ferrule._core.forward, used by Fit.to_normal);"
            " kestrel: PyYJT.transform_many, the same numbers bit for bit, whose result is built"
            " as a list of Python floats handed to np.fromiter as its interface defines",
            "ratio = NumPy time / array time; kestrel ratio = NumPy time / kestrel time;"
            " medians of the repeats (array/kestrel/NumPy)",
            f"largest relative difference between the two maps: {max(differences):.2e}",
        ],
    )


if __name__ == "__main__":
    main()
