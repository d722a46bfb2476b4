"""Group 1: single-location fits, ferrule against SciPy and spotpy, per optimiser and size."""

import argparse
import itertools

from _ferrule_calls import SINGLE_FITS
from _peer_fits import PEER_FITS
from _peer_likelihood import negative_log_likelihood
from _rain import LEFT, RIGHT, rain_series
from _report import print_table, ratio_text, seconds_text, target_cells
from _timing import median_times

SIZES = (20, 40, 100, 300, 2000, 10_000)
QUICK_SIZES = (20, 100)
# (max repeats, budget in seconds) per side; spotpy and SciPy's evolution are slow.
FERRULE_REPEATS = (7, 8.0)
PEER_REPEATS = {
    "nelder-mead": (7, 4.0),
    "differential-evolution": (5, 8.0),
    "complex-evolution": (5, 8.0),
}
TITLES = {
    "nelder-mead": "Nelder-Mead",
    "differential-evolution": "differential evolution",
    "complex-evolution": "shuffled complex evolution",
}
# Log-likelihoods this close count as the same optimum.
SAME_OPTIMUM = 1e-2


def target(optimiser, n):
    """The speed target of peer time / ferrule time, as (comparison, bound)."""
    if optimiser == "differential-evolution":
        return (">=", 20)
    if optimiser == "complex-evolution":
        return (">=", 10)
    if n <= 100:
        return (">=", 30)
    if n >= 2000:
        return (">=", 3)
    return (">", 1)


def optimum_check(ferrule_loglik, peer_loglik):
    """Which side, if either, stopped at a clearly worse point."""
    difference = peer_loglik - ferrule_loglik
    if abs(difference) <= max(SAME_OPTIMUM, 1e-6 * abs(ferrule_loglik)):
        return "same optimum"
    return "peer worse" if difference < 0 else "ferrule worse"


def measure(optimiser, n, quick):
    x = rain_series(n, seed=n)
    ferrule_fit = SINGLE_FITS[optimiser]
    peer_fit = PEER_FITS[optimiser][1]
    ferrule_repeats, ferrule_budget = (1, 0.0) if quick else FERRULE_REPEATS
    peer_repeats, peer_budget = (1, 0.0) if quick else PEER_REPEATS[optimiser]
    seeds = itertools.count(1)
    ours, peer = median_times(
        (lambda: ferrule_fit(x, LEFT, RIGHT), ferrule_repeats, ferrule_budget),
        (lambda: peer_fit(x, LEFT, RIGHT, next(seeds)), peer_repeats, peer_budget),
    )
    # One likelihood judges both optima: the peer's exact NumPy one.
    ours_loglik = -negative_log_likelihood(ours.result, x, LEFT, RIGHT)
    peer_loglik = -negative_log_likelihood(peer.result, x, LEFT, RIGHT)
    ratio = peer.seconds / ours.seconds
    target_text, mark = target_cells(ratio, target(optimiser, n))
    return [
        n,
        f"{ours.repeats}/{peer.repeats}",
        seconds_text(ours.seconds),
        seconds_text(peer.seconds),
        ratio_text(ratio),
        target_text,
        mark,
        f"{ours_loglik:.4f}",
        f"{peer_loglik:.4f}",
        f"{peer_loglik - ours_loglik:+.2e}",
        optimum_check(ours_loglik, peer_loglik),
    ]


def warm_up():
    """One untimed fit per optimiser and side, so imports and first-call costs stay out."""
    x = rain_series(20, seed=0)
    for optimiser, fit in SINGLE_FITS.items():
        fit(x, LEFT, RIGHT)
        PEER_FITS[optimiser][1](x, LEFT, RIGHT, 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true")
    quick = parser.parse_args().quick
    warm_up()
    headers = [
        "n", "repeats", "ferrule s", "peer s", "ratio", "target", "mark",
        "logL ferrule", "logL peer", "peer-ferrule", "optimum",
    ]  # fmt: skip
    for optimiser, (peer_name, _) in PEER_FITS.items():
        rows = [measure(optimiser, n, quick) for n in (QUICK_SIZES if quick else SIZES)]
        notes = [
            "ratio = peer time / ferrule time (>1: ferrule is faster); medians of the repeats "
            "(ferrule/peer), the two sides called in turn",
            "logL: both optima judged by the peer's NumPy likelihood (exact normal CDF)",
        ]
        if optimiser == "differential-evolution":
            notes.append("ferrule's differential evolution seeds itself afresh on every call")
        print_table(f"single fits: {TITLES[optimiser]}, peer {peer_name}", headers, rows, notes)


if __name__ == "__main__":
    main()
