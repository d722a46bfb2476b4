"""Fitting speed: single-location fits per family and optimiser, and a grid fit.

Run with the package installed: ``python -P benchmarks/bench_fits.py [--quick]``.
Seeded data; wall-clock medians of a few repeats. Where SciPy is installed, the
uncensored Yeo-Johnson maximum-likelihood fit of ``scipy.stats.yeojohnson`` is timed on
the same series for comparison (it has no censoring, so it does less work).
"""

import argparse
import os
import statistics
import sys
import time

import numpy as np

from ferrule import kestrel

FAMILIES = {
    "PyYJT": kestrel.PyYJT,
    "PyLogSinh": kestrel.PyLogSinh,
    "PySinhAsinh": kestrel.PySinhAsinh,
    "PyJPT": kestrel.PyJPT,
}
OPTIMISERS = ["optim_params", "optim_paramsSCE", "optim_paramsDE"]


class quiet_stdout:
    """Send the fits' native console lines to /dev/null while timing."""

    def __enter__(self):
        sys.stdout.flush()
        self.saved = os.dup(1)
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.close(devnull)

    def __exit__(self, *exc):
        os.dup2(self.saved, 1)
        os.close(self.saved)


def median_seconds(call, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        with quiet_stdout():
            call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def rain(n, seed):
    rng = np.random.default_rng(seed)
    return np.maximum(rng.gamma(0.8, 1.0, size=n) - 0.2, 0.0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller series, one repeat")
    args = parser.parse_args()
    sizes = [200] if args.quick else [200, 2000]
    repeats = 1 if args.quick else 3

    print(f"{'family':<12} {'optimiser':<16} {'n':>6} {'seconds':>9}")
    for n in sizes:
        data = rain(n, seed=n)
        for name, cls in FAMILIES.items():
            for method in OPTIMISERS:
                model = cls()
                seconds = median_seconds(
                    lambda m=model, f=method, d=data: getattr(m, f)(d, 0.0, np.inf, False, False),
                    repeats,
                )
                print(f"{name:<12} {method:<16} {n:>6} {seconds:>9.4f}")

    try:
        from scipy import stats
    except ImportError:
        print("scipy not installed: no comparison")
    else:
        for n in sizes:
            data = rain(n, seed=n)
            seconds = median_seconds(lambda d=data: stats.yeojohnson(d), repeats)
            print(f"{'scipy YJ':<12} {'yeojohnson':<16} {n:>6} {seconds:>9.4f}")

    side = 4 if args.quick else 10
    values = np.stack([rain(200, seed=s) for s in range(side * side)]).reshape(side, side, 200)
    ones = np.ones((side, side))
    grid = kestrel.PyYJTvectorized(ones, ones, 0.0 * ones)
    seconds = median_seconds(
        lambda: grid.optim_params(values, 0.0, np.inf, False, False, False), repeats
    )
    print(f"grid {side}x{side} of 200 values, optim_params: {seconds:.4f} s")


if __name__ == "__main__":
    main()
