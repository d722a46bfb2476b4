"""Group 3: a fitted distribution's maps of a long series (to_normal, from_normal, cdf)
against the same expressions in NumPy (and SciPy's ndtr), on 1 and 2 threads."""

import argparse
import json
from pathlib import Path

import numpy as np
from _rain import rain_series
from _report import print_table, ratio_text, seconds_text, target_cells
from _timing import median_times
from _workers import run_worker

SIZE = 1_000_000
QUICK_SIZE = 10_000
REPEATS = (21, 10.0)  # per side: max repeats, budget in seconds
TARGETS = {1: (">=", 1.0), 2: (">=", 2.0)}
MAPS = ("to_normal", "from_normal", "cdf")


def numpy_map(x, lam):
    """The Yeo-Johnson map as a NumPy user writes it: both branches evaluated, np.where picks."""
    with np.errstate(all="ignore"):  # each branch is NaN on the other's half-line
        return np.where(
            x >= 0,
            ((x + 1.0) ** lam - 1.0) / lam,
            -((1.0 - x) ** (2.0 - lam) - 1.0) / (2.0 - lam),
        )


def numpy_inverse(y, lam):
    """Its inverse, the same way."""
    with np.errstate(all="ignore"):
        return np.where(
            y >= 0,
            (lam * y + 1.0) ** (1.0 / lam) - 1.0,
            1.0 - (1.0 - (2.0 - lam) * y) ** (1.0 / (2.0 - lam)),
        )


def fitted(scale):
    """A Yeo-Johnson fit of a rain series, `scale` times its units. At scale 1 its power lies
    in [0, 2]: the transformation reaches the whole line, so the fitted normal needs no
    renormalising and the plain expressions below are the model."""
    import ferrule

    return ferrule.fit(rain_series(2000, seed=1), "yeo_johnson", left=0.0, scale=scale)


def peers(fit):
    """The fit's maps in NumPy: the expressions of the family's definition."""
    from scipy.special import ndtr

    lam, mu, sigma, scale = fit.params["lambda"], fit.mu, fit.sigma, fit.scale
    return {
        "to_normal": lambda x: (numpy_map(x * scale, lam) - mu) / sigma,
        # Back-transforms stop at the left threshold, where dry days were recorded.
        "from_normal": lambda z: np.maximum(numpy_inverse(mu + sigma * z, lam) / scale, fit.left),
        "cdf": lambda x: np.where(x < 0.0, 0.0, ndtr((numpy_map(x * scale, lam) - mu) / sigma)),
    }


def worker(size, max_repeats, budget):
    """Time each map and its peer in this process (OMP_NUM_THREADS set by the caller)."""
    fit = fitted(1.0)
    x = rain_series(size, seed=size) + 0.01 * np.random.default_rng(size).random(size)
    z = np.random.default_rng(size).standard_normal(size)
    inputs = {"to_normal": x, "from_normal": z, "cdf": x}
    peer = peers(fit)
    out = {}
    for name in MAPS:
        v = inputs[name]
        ours, theirs = median_times(
            (lambda v=v, name=name: getattr(fit, name)(v), max_repeats, budget),
            (lambda v=v, name=name: peer[name](v), max_repeats, budget),
        )
        a, b = ours.result, theirs.result
        difference = float(np.max(np.abs(a - b) / np.maximum(1.0, np.abs(b))))
        out[name] = {
            "ferrule": ours.seconds,
            "numpy": theirs.seconds,
            "repeats": f"{ours.repeats}/{theirs.repeats}",
            "difference": difference,
        }
    print(json.dumps(out))


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
        for name in MAPS:
            r = result[name]
            ratio = r["numpy"] / r["ferrule"]
            differences.append(r["difference"])
            rows.append(
                [
                    name,
                    threads,
                    r["repeats"],
                    seconds_text(r["ferrule"]),
                    seconds_text(r["numpy"]),
                    ratio_text(ratio),
                    *target_cells(ratio, TARGETS[threads]),
                ]
            )
    print_table(
        f"maps of {size} values: a Yeo-Johnson Fit of rain (scale 1, left-censored at 0),"
        " peer NumPy np.where (+ SciPy ndtr)",
        ["map", "threads", "repeats", "ferrule s", "numpy s", "ratio", "target", "mark"],
        rows,
        [
            "each thread count in its own process with OMP_NUM_THREADS set; NumPy's maps are"
            " single-threaded",
            "ferrule: Fit.to_normal / Fit.from_normal / Fit.cdf (one C++ pass per value, vector"
            " kernels, every thread);"
            " ratio = NumPy time / ferrule time, medians of the repeats (ferrule/NumPy)",
            f"largest relative difference between the two sides: {max(differences):.2e}",
        ],
    )


if __name__ == "__main__":
    main()
