"""Group 7: continuous-valued series (every value distinct), each family with its default
method through ferrule.fit, against the NumPy likelihood with the same optimiser."""

import argparse
import time

import numpy as np
from _peer_families import PEER_LIKELIHOODS
from _peer_fits import START
from _report import print_table, ratio_text, seconds_text, target_cells
from _timing import median_time, median_times
from scipy.optimize import minimize

SIZES = (1_000, 10_000, 100_000, 1_000_000)
QUICK_SIZES = (1_000,)
TARGET = (">=", 2.0)
REPEATS = (5, 6.0)  # per side: max repeats, budget in seconds


def flows(n):
    """Streamflow-like values: lognormal, all distinct, none censored at 0."""
    return np.random.default_rng(n).lognormal(1.0, 0.8, n)


def ferrule_fit(family, x, fast=False):
    import ferrule

    return ferrule.fit(x, family, left=0.0, scale=1.0, seed=1, progress=False, fast=fast)


def scipy_nelder_mead(x):
    """SciPy's Nelder-Mead on the NumPy Yeo-Johnson likelihood, from the library's start."""
    return minimize(PEER_LIKELIHOODS["yeo_johnson"], START, args=(x,), method="Nelder-Mead")


def measure(family, n, quick, fast):
    x = flows(n)
    repeats, budget = (1, 0.0) if quick else REPEATS
    nll = PEER_LIKELIHOODS[family]
    if family == "yeo_johnson":
        ours, peer = median_times(
            (lambda: ferrule_fit(family, x, fast), repeats, budget),
            (lambda: scipy_nelder_mead(x), repeats, budget),
        )
        peer_seconds, peer_evaluations = peer.seconds, peer.result.nfev
    else:
        # SciPy has no shuffled complex evolution: the peer is credited with the NumPy
        # likelihood's time for as many evaluations as ferrule made, and no optimiser cost.
        ours = median_time(
            lambda: ferrule_fit(family, x, fast), max_repeats=repeats, budget_seconds=budget
        )
        one = median_time(
            lambda: nll(ours.result.search, x), max_repeats=max(repeats, 3), budget_seconds=2.0
        )
        peer_evaluations = ours.result.evaluations
        peer_seconds = one.seconds * peer_evaluations
    fit = ours.result
    # The peer's likelihood judges ferrule's optimum: the same number, to rounding.
    gap = -float(nll(fit.search, x)) - fit.loglik
    ratio = peer_seconds / ours.seconds
    return [
        family,
        n,
        seconds_text(ours.seconds),
        seconds_text(peer_seconds),
        ratio_text(ratio),
        *target_cells(ratio, TARGET),
        f"{fit.evaluations}/{peer_evaluations}",
        # Per evaluation: ferrule's whole fit time (gradients and optimiser included) over
        # its evaluations, against one NumPy likelihood.
        f"{1e6 * ours.seconds / fit.evaluations:.0f}/{1e6 * peer_seconds / peer_evaluations:.0f}",
        f"{gap:+.1e}",
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--fast", action="store_true", help="ferrule.fit(..., fast=True)")
    args = parser.parse_args()
    quick = args.quick
    ferrule_fit("yeo_johnson", flows(100))  # first-call costs stay out of the table
    started = time.perf_counter()
    rows = [
        measure(family, n, quick, args.fast)
        for family in PEER_LIKELIHOODS
        for n in (QUICK_SIZES if quick else SIZES)
    ]
    print_table(
        "continuous series: lognormal flows, each family's default method, peer NumPy",
        [
            "family",
            "n",
            "ferrule s",
            "peer s",
            "ratio",
            "target",
            "mark",
            "evals",
            "us/eval",
            "logL gap",
        ],
        rows,
        [
            f"ferrule: ferrule.fit(x, family, left=0, scale=1, seed=1, fast={args.fast}), vector"
            " kernels on every core; peer: the family's NumPy likelihood"
            " (benchmarks/_peer_families.py)",
            "Yeo-Johnson: SciPy Nelder-Mead timed; the others (shuffled complex evolution):"
            " the NumPy likelihood's time per evaluation x ferrule's evaluations, optimiser"
            " cost left out in the peer's favour",
            "ratio = peer time / ferrule time; logL gap = peer likelihood at ferrule's optimum"
            " - ferrule's",
            f"({time.perf_counter() - started:.0f} s)",
        ],
    )


if __name__ == "__main__":
    main()
