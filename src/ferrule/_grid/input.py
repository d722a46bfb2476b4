"""Turning a grid of series into the rows the cell fitter takes: one row per cell, its valid
values compacted to the front, per-cell thresholds and rescaling, and which cells to leave
out and why."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from ferrule._data import auto_scale, unwrap_pandas
from ferrule._validity import MIN_DISTINCT

__all__ = [
    "Cells",
    "cell_seeds",
    "check_numbers",
    "left_out_kind",
    "prepare_cells",
    "series_axis",
    "series_last",
]

Array = npt.NDArray[np.float64]

MASKED = "masked"
ALL_MISSING = "all values are missing"
# A cell with fewer values than distinct values a valid fit needs cannot be fitted.
TOO_FEW = "only {} values (at least {} are needed)"
INFINITE = "{} infinite values, accepted only beyond a finite censoring threshold"


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


def series_last(values: npt.ArrayLike, axis: int) -> Array:
    """The grid as float64 with the series along the last axis."""
    array = _numbers(values)
    if array.ndim == 0:
        raise ValueError("values must hold at least one series, got a single number")
    axis = series_axis(axis, array.shape)
    if array.shape[axis] == 0:
        raise ValueError("the series axis is empty: there are no values to fit")
    return np.moveaxis(array.astype(np.float64, copy=False), axis, -1)


def _numbers(values: npt.ArrayLike) -> np.ndarray:
    if isinstance(values, (str, bytes)):
        raise TypeError("values must be an array of numbers, got a string")
    array = np.asarray(unwrap_pandas(values))
    check_numbers(array.dtype)
    return array


def check_numbers(dtype: np.dtype) -> None:
    """Refuses booleans, dates, strings and objects: a grid holds real numbers."""
    if dtype.kind not in "fiu":
        hint = (
            " (text or dates among them? select the numeric columns)" if dtype.kind in "OUS" else ""
        )
        raise TypeError(f"values must be real numbers, got an array of dtype {dtype}{hint}")


def series_axis(axis: int, shape: tuple[int, ...]) -> int:
    """`axis` as a non-negative axis of an array of `shape`."""
    if isinstance(axis, bool) or not isinstance(axis, (int, np.integer)):
        raise TypeError(f"axis must be an integer, got {type(axis).__name__}")
    if not -len(shape) <= axis < len(shape):
        raise ValueError(f"axis {axis} is out of range for values of shape {shape}")
    return int(axis) % len(shape)


def per_cell(value: npt.ArrayLike, shape: tuple[int, ...], name: str, dtype: type = np.float64):
    """A scalar or array broadcast to the cell shape, flattened."""
    array = np.asarray(value, dtype=dtype)
    try:
        return np.broadcast_to(array, shape).reshape(-1).copy()
    except ValueError:
        raise ValueError(
            f"{name} of shape {array.shape} does not broadcast to the cell shape {shape}"
        ) from None


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
    _check_settings(lo, hi, sh, needed, shape)

    reason = np.full(ncells, "", dtype=object)
    infinite = _infinite_counts(rows, lo, hi)
    for i in np.flatnonzero(infinite):
        reason[i] = INFINITE.format(infinite[i])
    short = lengths < MIN_DISTINCT
    for i in np.flatnonzero(short):
        reason[i] = TOO_FEW.format(lengths[i], MIN_DISTINCT)
    reason[lengths == 0] = ALL_MISSING
    reason[masked] = MASKED
    automatic = (reason != "") & ~masked
    skip = automatic | masked
    sc = _scales(scale, shape, rows, lengths, sh, needed)
    return Cells(
        shape, rows, lengths.astype(np.int64), n_nan.astype(np.int64), skip,
        reason.astype(str), automatic, lo, hi, sc, sh,
    )  # fmt: skip


def _where(i: int, shape: tuple[int, ...]) -> str:
    """Cell `i` of the flat cells as its position in the cell shape."""
    return str(tuple(int(k) for k in np.unravel_index(i, shape)) if shape else ())


def _check_settings(
    left: Array, right: Array, shift: Array, needed: npt.NDArray[np.bool_], shape: tuple[int, ...]
) -> None:
    """Thresholds in order and a finite shift in every cell that will be fitted."""
    for i in np.flatnonzero(needed & (np.isnan(left) | np.isnan(right))):
        raise ValueError(f"a censoring threshold is NaN in cell {_where(i, shape)}, which has "
                         "values to fit")  # fmt: skip
    for i in np.flatnonzero(needed & ~(left < right)):
        raise ValueError(
            f"the left threshold ({left[i]:g}) must be below the right one ({right[i]:g}) in "
            f"every cell (cell {_where(i, shape)})"
        )
    for i in np.flatnonzero(needed & ~np.isfinite(shift)):
        raise ValueError(f"shift must be finite in every cell with values to fit (cell "
                         f"{_where(i, shape)})")  # fmt: skip


def _infinite_counts(rows: Array, left: Array, right: Array) -> npt.NDArray[np.int64]:
    """Infinite values per cell that are not beyond a finite threshold (as ferrule.fit)."""
    with np.errstate(invalid="ignore"):
        bad = np.isinf(rows)
        bad &= ~((rows == -np.inf) & (left > -np.inf)[:, None])
        bad &= ~((rows == np.inf) & (right < np.inf)[:, None])
    return bad.sum(axis=1)


def _scales(
    scale: npt.ArrayLike | str,
    shape: tuple[int, ...],
    rows: Array,
    lengths: npt.NDArray[np.int64],
    shift: Array,
    needed: npt.NDArray[np.bool_],
) -> Array:
    """Each cell's scale: given, or chosen from its values by the rule of ``ferrule.fit``."""
    if isinstance(scale, str):
        if scale != "auto":
            raise ValueError(f"scale must be positive numbers or 'auto', got {scale!r}")
        out = np.ones(rows.shape[0])
        for i in np.flatnonzero(lengths > 0):
            out[i] = auto_scale(rows[i, : lengths[i]], float(shift[i]))
        return out
    out = per_cell(scale, shape, "scale")
    for i in np.flatnonzero(needed & ~((out > 0.0) & np.isfinite(out))):
        raise ValueError(f"scale must be a positive finite number in every cell with values "
                         f"to fit (cell {_where(i, shape)})")  # fmt: skip
    return out


def cell_seeds(base: int, indices: npt.NDArray[np.int64]) -> npt.NDArray[np.uint32]:
    """Each cell's 32-bit seed from the base seed and the cell's flat index in the whole
    grid, so that it does not depend on how the grid is split into blocks or threads."""
    return np.array(
        [np.random.SeedSequence(base, spawn_key=(int(i),)).generate_state(1)[0] for i in indices],
        dtype=np.uint32,
    )
