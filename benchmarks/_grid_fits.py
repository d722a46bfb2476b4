"""Group 2: a grid of series fitted by Nelder-Mead on 1 and 2 OpenMP threads, and the SciPy loop."""

import argparse
import json
from pathlib import Path

import numpy as np
from _ferrule_calls import fit_grid_nelder_mead
from _peer_fits import fit_nelder_mead as peer_nelder_mead
from _peer_likelihood import negative_log_likelihood
from _rain import LEFT, RIGHT, rain_series
from _report import print_table, ratio_text, seconds_text, target_cells
from _timing import median_time
from _workers import run_worker

SHAPE = (100, 100, 40)
QUICK_SHAPE = (6, 6, 40)
PEER_CELLS = 250  # the SciPy loop is timed on this many cells, spread over the grid
QUICK_PEER_CELLS = 12
REPEATS = (3, 60.0)  # ferrule grid fits: max repeats, budget in seconds
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


def worker(rows, cols, n, max_repeats, budget, cells):
    """Time the ferrule grid fit in this process; print the timing and the sampled cells' fits."""
    values = grid_values((rows, cols, n))
    timing = median_time(
        lambda: fit_grid_nelder_mead(values, LEFT, RIGHT),
        max_repeats=max_repeats,
        budget_seconds=budget,
    )
    fits = timing.result.reshape(rows * cols, -1)[cells]
    print(json.dumps({"seconds": timing.seconds, "repeats": timing.repeats, "fits": fits.tolist()}))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument(
        "--worker", nargs=6, metavar=("ROWS", "COLS", "N", "REPEATS", "BUDGET", "CELLS")
    )
    args = parser.parse_args()
    if args.worker:
        rows, cols, n, repeats, budget, cells = args.worker
        cell_list = np.array(json.loads(cells), dtype=int)
        worker(int(rows), int(cols), int(n), int(repeats), float(budget), cell_list)
        return

    shape = QUICK_SHAPE if args.quick else SHAPE
    repeats, budget = (1, 0.0) if args.quick else REPEATS
    cells = sampled_cells(shape, QUICK_PEER_CELLS if args.quick else PEER_CELLS)
    arguments = [*shape, repeats, budget, json.dumps(cells.tolist())]
    script = Path(__file__)
    one, two = (run_worker(script, arguments, threads=t) for t in (1, 2))

    series = grid_values(shape).reshape(-1, shape[2])[cells]
    peer_fit = median_time(
        lambda: [peer_nelder_mead(x, LEFT, RIGHT, 0) for x in series],
        max_repeats=1,
        budget_seconds=0.0,
    )
    total_cells = shape[0] * shape[1]
    peer_seconds = peer_fit.seconds * total_cells / len(cells)
    ours = log_likelihoods(one["fits"], series)
    peer = log_likelihoods(peer_fit.result, series)

    def row(label, numerator, denominator, target=None):
        ratio = numerator / denominator
        return [
            label,
            seconds_text(numerator),
            seconds_text(denominator),
            ratio_text(ratio),
            *target_cells(ratio, target),
        ]

    rows = [
        row("ferrule 1 thread / ferrule 2 threads", one["seconds"], two["seconds"], THREADS_TARGET),
        row("SciPy loop / ferrule 1 thread", peer_seconds, one["seconds"]),
        row("SciPy loop / ferrule 2 threads", peer_seconds, two["seconds"]),
    ]
    print_table(
        f"grid: {shape[0]} x {shape[1]} locations of {shape[2]} values, Nelder-Mead",
        ["comparison", "numerator s", "denominator s", "ratio", "target", "mark"],
        rows,
        [
            f"ferrule: PyYJTvectorized.optim_params in subprocesses with OMP_NUM_THREADS=1 and 2, "
            f"median of {one['repeats']} and {two['repeats']} runs",
            f"SciPy loop: Nelder-Mead timed on {len(cells)} of {total_cells} cells (spread over "
            f"the grid) and scaled by {total_cells / len(cells):.4g} to the whole grid",
            f"optimum check on those cells (peer's likelihood): summed logL ferrule "
            f"{ours.sum():.4f}, SciPy {peer.sum():.4f}; logL lower by more than "
            f"{SAME_OPTIMUM:g} on {np.count_nonzero(ours < peer - SAME_OPTIMUM)} cells for "
            f"ferrule, on {np.count_nonzero(peer < ours - SAME_OPTIMUM)} for SciPy",
        ],
    )


if __name__ == "__main__":
    main()
