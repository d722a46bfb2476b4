"""Turning a grid of series into the rows the cell fitter takes: one row per cell, its valid
values compacted to the front, per-cell thresholds and rescaling (by the rules of a
series, cell by cell), and which cells to leave out and why."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from ferrule._input import (
    cell_place,
    cell_scales,
    check_rescaled,
    check_settings,
    extremes,
    infinite_counts,
    infinite_phrase,
    per_cell,
)
from ferrule._validity import MIN_DISTINCT

__all__ = [
    "Cells",
    "cell_seeds",
    "left_out_kind",
    "prepare_cells",
]

Array = npt.NDArray[np.float64]

MASKED = "masked"
ALL_MISSING = "all values are missing"
# A cell with fewer values than distinct values a valid fit needs cannot be fitted.
TOO_FEW = "only {} values (at least {} are needed)"


def left_out_kind(reason: str) -> str:
    """What the cells left out for `reason` have, without the numbers, so that cells alike
    are counted together: "all values missing", "too few values" or "infinite values"."""
    if reason == ALL_MISSING:
        return "all values missing"
    if reason.startswith(TOO_FEW.partition("{")[0]):
        return "too few values"
    return "infinite values"


@dataclass(frozen=True)
class Cells:
    """The cells of a grid, flattened in C order."""

    shape: tuple[int, ...]  # the cell shape
    rows: Array  # (ncells, n): each cell's non-NaN values first, in their order
    lengths: npt.NDArray[np.int64]  # valid values per cell
    n_nan: npt.NDArray[np.int64]  # NaN values per cell
    skip: npt.NDArray[np.bool_]  # left out, by the caller's mask or because unfittable
    reason: npt.NDArray[np.str_]  # why a cell is left out ("" for the others)
    automatic: npt.NDArray[np.bool_]  # left out by this module rather than by the mask
    left: Array
    right: Array
    scale: Array
    shift: Array

    @property
    def size(self) -> int:
        return self.rows.shape[0]

    def series(self, i: int) -> Array:
        return self.rows[i, : self.lengths[i]]


def prepare_cells(
    grid: Array,
    *,
    left: npt.ArrayLike,
    right: npt.ArrayLike,
    scale: npt.ArrayLike | str,
    shift: npt.ArrayLike,
    mask: npt.ArrayLike | None,
) -> Cells:
    """Rows, lengths, per-cell settings and the cells left out, for a grid whose series lie
    along its last axis."""
    shape = grid.shape[:-1]
    rows = np.ascontiguousarray(grid.reshape(-1, grid.shape[-1]))
    ncells = rows.shape[0]
    lo, hi = per_cell(left, shape, "left"), per_cell(right, shape, "right")
    sh = per_cell(shift, shape, "shift")
    masked = np.zeros(ncells, dtype=bool) if mask is None else per_cell(mask, shape, "mask", bool)

    missing = np.isnan(rows)
    n_nan = missing.sum(axis=1)
    if n_nan.any():
        # A stable sort moves each row's valid values to the front in their order.
        order = np.argsort(missing, axis=1, kind="stable")
        rows = np.ascontiguousarray(np.take_along_axis(rows, order, axis=1))
    lengths = rows.shape[1] - n_nan
    # Settings read from a map are NaN where the data are (the sea): only the cells with
    # values to fit need them.
    needed = ~masked & (lengths > 0)
    check_settings(lo, hi, sh, needed, cell_place(shape))

    reason = np.full(ncells, "", dtype=object)
    infinite = infinite_counts(rows, lo, hi)
    for i in np.flatnonzero(infinite):
        reason[i] = infinite_phrase(int(infinite[i]))
    short = lengths < MIN_DISTINCT
    for i in np.flatnonzero(short):
        reason[i] = TOO_FEW.format(lengths[i], MIN_DISTINCT)
    reason[lengths == 0] = ALL_MISSING
    reason[masked] = MASKED
    automatic = (reason != "") & ~masked
    skip = automatic | masked
    low, high = extremes(rows)
    sc = cell_scales(scale, shape, low, high, sh, needed)
    check_rescaled(low, high, lo, hi, sc, sh, needed & ~skip, cell_place(shape))
    return Cells(
        shape, rows, lengths.astype(np.int64), n_nan.astype(np.int64), skip,
        reason.astype(str), automatic, lo, hi, sc, sh,
    )  # fmt: skip


def cell_seeds(base: int, indices: npt.NDArray[np.int64]) -> npt.NDArray[np.uint32]:
    """Each cell's 32-bit seed from the base seed and the cell's flat index in the whole
    grid, so that it does not depend on how the grid is split into blocks or threads."""
    return np.array(
        [np.random.SeedSequence(base, spawn_key=(int(i),)).generate_state(1)[0] for i in indices],
        dtype=np.uint32,
    )
