"""Group 2: a grid of series fitted by Nelder-Mead on 1 and 2 OpenMP threads, and the SciPy loop."""

import argparse
import json
import statistics
import time
from pathlib import Path

import numpy as np
from _ferrule_calls import fit_grid_nelder_mead
from _peer_fits import fit_nelder_mead as peer_nelder_mead
from _peer_likelihood import negative_log_likelihood
from _rain import LEFT, RIGHT, rain_series
from _report import print_table, ratio_text, seconds_text, target_cells
from _workers import run_worker

SHAPE = (100, 100, 40)
QUICK_SHAPE = (6, 6, 40)
ROUNDS = 3  # ferrule grid fits per thread count, 1 and 2 threads taking turns
PEER_CELLS = 250  # the SciPy loop is timed on this many cells, spread over the grid
QUICK_PEER_CELLS = 12
THREADS_TARGET = (">=", 1.8)
SAME_OPTIMUM = 1e-2  # log-likelihoods this close count as the same optimum


def grid_values(shape):
    return rain_series(int(np.prod(shape)), seed=40_000).reshape(shape)


def sampled_cells(shape, count):
    """Flat indices of ``count`` cells evenly spread over the grid."""
    cells = shape[0] * shape[1]
    return np.unique(np.linspace(0, cells - 1, min(count, cells)).astype(int))


def log_likelihoods(fits, series):
    """Each cell's log-likelihood at its fitted search vector, by the peer's likelihood."""
    return np.array(
        [
            -negative_log_likelihood(np.asarray(q), x, LEFT, RIGHT)
            for q, x in zip(fits, series, strict=True)
        ]
    )


def worker(shape, cells):
    """Time one ferrule grid fit in this process; print its seconds and the sampled cells' fits."""
    values = grid_values(shape)
    before = time.perf_counter()
    fits = fit_grid_nelder_mead(values, LEFT, RIGHT)
    seconds = time.perf_counter() - before
    sampled = fits.reshape(shape[0] * shape[1], -1)[cells]
    print(json.dumps({"seconds": seconds, "fits": sampled.tolist()}))


def ferrule_seconds(shape, cells, rounds):
    """Median seconds per thread count (fresh processes, taking turns), and the 1-thread fits."""
    arguments = [json.dumps(shape), json.dumps(cells.tolist())]
    seconds = {1: [], 2: []}
    for _ in range(rounds):
        for threads in seconds:
            result = run_worker(Path(__file__), arguments, threads=threads)
            seconds[threads].append(result["seconds"])
            if threads == 1:
                fits = result["fits"]
    return {t: statistics.median(s) for t, s in seconds.items()}, fits


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--worker", nargs=2, metavar=("SHAPE", "CELLS"))
    args = parser.parse_args()
    if args.worker:
        worker(tuple(json.loads(args.worker[0])), np.array(json.loads(args.worker[1]), dtype=int))
        return

    shape = QUICK_SHAPE if args.quick else SHAPE
    rounds = 1 if args.quick else ROUNDS
    cells = sampled_cells(shape, QUICK_PEER_CELLS if args.quick else PEER_CELLS)
    ours, ferrule_fits = ferrule_seconds(shape, cells, rounds)

    series = grid_values(shape).reshape(-1, shape[2])[cells]
    before = time.perf_counter()
    peer_fits = [peer_nelder_mead(x, LEFT, RIGHT, 0) for x in series]
    total_cells = shape[0] * shape[1]
    peer = (time.perf_counter() - before) * total_cells / len(cells)

    def row(label, numerator, denominator, target=None):
        ratio = numerator / denominator
        times = [seconds_text(numerator), seconds_text(denominator)]
        return [label, *times, ratio_text(ratio), *target_cells(ratio, target)]

    ours_loglik = log_likelihoods(ferrule_fits, series)
    peer_loglik = log_likelihoods(peer_fits, series)
    print_table(
        f"grid: {shape[0]} x {shape[1]} locations of {shape[2]} values, Nelder-Mead",
        ["comparison", "numerator s", "denominator s", "ratio", "target", "mark"],
        [
            row("ferrule 1 thread / ferrule 2 threads", ours[1], ours[2], THREADS_TARGET),
            row("SciPy loop / ferrule 1 thread", peer, ours[1]),
            row("SciPy loop / ferrule 2 threads", peer, ours[2]),
        ],
        [
            "ferrule: PyYJTvectorized.optim_params, each run in a fresh process with "
            f"OMP_NUM_THREADS=1 or 2, the two taking turns; median of {rounds} runs each",
            f"SciPy loop: Nelder-Mead timed on {len(cells)} of {total_cells} cells (spread over "
            f"the grid) and scaled by {total_cells / len(cells):.4g} to the whole grid",
            f"optimum check on those cells (peer's likelihood): summed logL ferrule "
            f"{ours_loglik.sum():.4f}, SciPy {peer_loglik.sum():.4f}; logL lower by more than "
            f"{SAME_OPTIMUM:g} on {np.count_nonzero(ours_loglik < peer_loglik - SAME_OPTIMUM)} "
            f"cells for ferrule, on {np.count_nonzero(peer_loglik < ours_loglik - SAME_OPTIMUM)} "
            "for SciPy",
        ],
    )


if __name__ == "__main__":
    main()
