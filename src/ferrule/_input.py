"""The rules every fit applies to what it is given, each in one place: conversion to
float64, the NaN policy, infinite values, thresholds, shift and scale, counts.

A series is one cell: ``ferrule.fit``, ``ferrule.fit_grid`` and ``ferrule.xarray`` run the
same rules and refuse with the same messages, a refused value as an
:class:`~ferrule.ArgumentError` naming its keyword (and, in a grid, the cell)."""

from __future__ import annotations

import math
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._errors import ArgumentError
from ferrule._validity import counted

__all__ = [
    "NAN_POLICIES",
    "Series",
    "as_float_array",
    "as_series",
    "auto_scale",
    "cell_scales",
    "check_finite_left",
    "check_numbers",
    "check_rescaled",
    "check_settings",
    "checked_scale",
    "checked_thresholds",
    "extremes",
    "finite_left",
    "grid_array",
    "infinite_counts",
    "infinite_phrase",
    "per_cell",
    "positive_int",
    "series_axis",
    "unwrap_pandas",
]

Array = npt.NDArray[np.float64]
Mask = npt.NDArray[np.bool_]
# Where a refused setting lies: "" for a series, " (cell (i, j))" for cell i of a grid.
Where = Callable[[int], str]
NAN_POLICIES = ("raise", "omit", "propagate")
# The optimisers count in C ints.
LARGEST_COUNT = 2**31 - 1
# 10.0 ** 308 is the largest power of ten a double holds.
_LARGEST_POWER = 308


def _series_place(i: int) -> str:
    return ""


def cell_place(shape: tuple[int, ...]) -> Where:
    """The place of flat cell i of a grid of `shape`, as refusals name it."""
    return lambda i: f" (cell {tuple(int(k) for k in np.unravel_index(i, shape))})"


# ---- conversion ---------------------------------------------------------------------------
@dataclass(frozen=True)
class Series:
    values: Array  # what the fit sees: NaN dropped under "omit"
    n_nan: int  # NaN values in the input
    n_dropped: int  # of which dropped


def as_float_array(data: object) -> Array:
    """One conversion of a series to a fresh, writable, contiguous float64 array."""
    if isinstance(data, (str, bytes)):
        raise TypeError("data must be an array-like of numbers, got a string")
    masked = None
    if isinstance(data, np.ma.MaskedArray):
        # Masked entries (a NetCDF variable's fill values, as netCDF4 reads them) are missing
        # observations: their stored values are no data.
        masked = np.ma.getmaskarray(data)
        data = np.ma.getdata(data)
    data = unwrap_pandas(data)
    try:
        array = np.asarray(data)
    except (TypeError, ValueError) as err:
        raise TypeError(f"data must be an array-like of numbers: {err}") from None
    _refuse_kind(array.dtype)
    if array.dtype.kind == "O" and any(isinstance(v, (str, bytes)) for v in array.flat):
        # NumPy would read "1.5" as a number; text in an array of objects is refused as
        # it is in an array of strings.
        _refuse_kind(np.dtype(str))
    if array.ndim == 0:
        raise ArgumentError("data", "data must be a one-dimensional series of numbers, got "
                            f"a single {type(data).__name__}")  # fmt: skip
    if array.ndim > 1:
        raise ArgumentError(
            "data",
            f"data must be one-dimensional, got an array of shape {array.shape}; "
            "fit one series at a time (select a column or use .ravel())",
        )
    try:
        values = np.array(array, dtype=np.float64, order="C", copy=True)
    except (TypeError, ValueError) as err:
        raise TypeError(f"data must hold numbers only: {err}") from None
    if masked is not None:
        values[masked] = np.nan
    return values


def unwrap_pandas(data: object) -> object:
    """A pandas (or xarray) object's values as a NumPy array, its missing values NaN;
    anything else as it is."""
    if type(data).__module__.startswith("xarray."):
        return _xarray_values(data)
    if not hasattr(data, "to_numpy"):
        return data
    if getattr(data, "dtype", None) is None:
        # A data frame: one dtype per column, nullable ones too; a column of dates or text
        # is refused as that column alone would be, not read as numbers.
        for name, dtype in getattr(data, "dtypes", {}).items():
            try:
                _refuse_kind(dtype)
            except TypeError as err:
                raise TypeError(f"column {name!r}: {err}; select the numeric columns") from None
        try:
            return data.to_numpy(dtype=np.float64, na_value=np.nan)  # type: ignore[attr-defined]
        except (TypeError, ValueError):
            return data.to_numpy()  # type: ignore[attr-defined]
    return _pandas_values(data)


def _xarray_values(data: Any) -> object:
    """A DataArray's values (a dask-backed one computed); a Dataset is refused, as it may
    hold several variables."""
    if hasattr(data, "data_vars"):
        names = ", ".join(map(repr, data.data_vars))
        raise TypeError(f"got an xarray Dataset (variables {names}); pass one of its "
                        "variables, e.g. ds['pr']")  # fmt: skip
    values = np.asarray(data.values)
    _refuse_kind(values.dtype)
    return values


def _pandas_values(data: Any) -> object:
    """The values of a pandas (or xarray) object, its missing values as NaN."""
    dtype = getattr(data, "dtype", None)
    _refuse_kind(dtype)
    if getattr(dtype, "kind", "O") in "iuf":
        # Nullable integer and float dtypes too: pd.NA becomes NaN.
        return data.to_numpy(dtype=np.float64, na_value=np.nan)
    # Other dtypes (object, category, string) are converted as NumPy would, so that text
    # is refused as it is in an array rather than read as numbers.
    try:
        return data.to_numpy(na_value=np.nan)
    except (TypeError, ValueError):
        return data.to_numpy()


def _refuse_kind(dtype: Any) -> None:
    kind = getattr(dtype, "kind", None)
    if kind in ("U", "S"):
        raise TypeError(
            "data must be numbers, got strings; convert them first (e.g. pandas.to_numeric)"
        )
    if kind is not None and kind in "bcmMV":
        raise TypeError(f"data must be real numbers, got values of dtype {dtype}")


def grid_array(values: npt.ArrayLike, axis: int) -> Array:
    """A grid as float64 with its series along the last axis."""
    if isinstance(values, (str, bytes)):
        raise TypeError("values must be an array of numbers, got a string")
    array = np.asarray(unwrap_pandas(values))
    check_numbers(array.dtype)
    if array.ndim == 0:
        raise ArgumentError("values", "values must hold at least one series, got a single number")
    axis = series_axis(axis, array.shape)
    if array.shape[axis] == 0:
        raise ArgumentError("values", "the series axis is empty: there are no values to fit")
    return np.moveaxis(array.astype(np.float64, copy=False), axis, -1)


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
        raise ArgumentError("axis", f"axis {axis} is out of range for values of shape {shape}")
    return int(axis) % len(shape)


def per_cell(value: npt.ArrayLike, shape: tuple[int, ...], name: str, dtype: type = np.float64):
    """A scalar or array broadcast to the cell shape, flattened."""
    array = np.asarray(value, dtype=dtype)
    try:
        return np.broadcast_to(array, shape).reshape(-1).copy()
    except ValueError:
        raise ArgumentError(
            name, f"{name} of shape {array.shape} does not broadcast to the cell shape {shape}"
        ) from None


# ---- missing and infinite values --------------------------------------------------------
def as_series(data: object, nan_policy: str, left: float, right: float) -> Series:
    """The series to fit, after the NaN policy; infinite values only beyond a threshold."""
    if nan_policy not in NAN_POLICIES:
        raise ArgumentError(
            "nan_policy", f"nan_policy must be one of {NAN_POLICIES}, got {nan_policy!r}"
        )
    values = as_float_array(data)
    nan = np.isnan(values)
    n_nan = int(nan.sum())
    if n_nan and nan_policy == "raise":
        raise ArgumentError("data", f"data hold {counted(n_nan, 'NaN value')} (missing values); "
                            'pass nan_policy="omit" to fit without them')  # fmt: skip
    if n_nan and nan_policy == "omit":
        values = values[~nan]
    infinite = int(infinite_counts(values[np.newaxis], np.array([left]), np.array([right]))[0])
    if infinite:
        raise ArgumentError("data", f"data hold {infinite_phrase(infinite)}")
    if values.size == 0:
        raise ArgumentError(
            "data", "no values to fit" + (" once the NaN values are omitted" if n_nan else "")
        )
    return Series(values, n_nan, n_nan if nan_policy == "omit" else 0)


def infinite_counts(rows: Array, left: Array, right: Array) -> npt.NDArray[np.int64]:
    """Infinite values per row that do not lie beyond a finite threshold of their row."""
    with np.errstate(invalid="ignore"):
        bad = np.isinf(rows)
        bad &= ~((rows == -np.inf) & (left > -np.inf)[:, None])
        bad &= ~((rows == np.inf) & (right < np.inf)[:, None])
    return bad.sum(axis=1)


def infinite_phrase(count: int) -> str:
    """Why `count` infinite values cannot be fitted."""
    return f"{counted(count, 'infinite value')}, accepted only beyond a finite censoring threshold"


# ---- thresholds, shift and scale --------------------------------------------------------
def _number(value: object, what: str) -> float:
    if isinstance(value, (str, bytes)):
        raise TypeError(f"{what} must be a number, got the text {value!r}")
    try:
        return float(value)  # type: ignore[arg-type]
    except (TypeError, ValueError):
        raise TypeError(f"{what} must be a number, got {type(value).__name__}") from None


def checked_thresholds(left: float, right: float, shift: float) -> tuple[float, float, float]:
    """The thresholds and shift of one series as floats, or why they cannot be used."""
    left = _number(left, "the left threshold")
    right = _number(right, "the right threshold")
    shift = _number(shift, "shift")
    check_settings(np.array([left]), np.array([right]), np.array([shift]), np.array([True]))
    return left, right, shift


def check_settings(
    left: Array, right: Array, shift: Array, needed: Mask, where: Where = _series_place
) -> None:
    """Thresholds that are numbers and in order, and a finite shift, where `needed`."""
    for name, values in (("left", left), ("right", right)):
        for i in np.flatnonzero(needed & np.isnan(values)):
            raise ArgumentError(name, f"the {name} threshold is NaN{where(i)}")
    for i in np.flatnonzero(needed & ~(left < right)):
        raise ArgumentError("left", f"the left threshold ({left[i]:g}) must be below the right "
                            f"one ({right[i]:g}){where(i)}")  # fmt: skip
    for i in np.flatnonzero(needed & ~np.isfinite(shift)):
        raise ArgumentError("shift", f"shift must be a finite number, got {shift[i]}{where(i)}")


def checked_scale(scale: float | str, values: Array, shift: float) -> float:
    """A positive finite factor, or for "auto" the power of ten of the series' magnitude."""
    if _automatic(scale):
        low, high = extremes(values[np.newaxis])
        return _power_of_ten(float(low[0]), float(high[0]), shift)
    scale = _number(scale, "scale")
    _check_scales(np.array([scale]), np.array([True]))
    return scale


def cell_scales(
    scale: npt.ArrayLike | str,
    shape: tuple[int, ...],
    low: Array,
    high: Array,
    shift: Array,
    needed: Mask,
) -> Array:
    """Each cell's scale: given, or chosen from its extremes by the rule of a series."""
    where = cell_place(shape)
    if _automatic(scale):
        out = np.ones(low.size)
        for i, (a, b, s) in enumerate(
            zip(low.tolist(), high.tolist(), shift.tolist(), strict=True)
        ):
            try:
                out[i] = _power_of_ten(a, b, s)
            except ArgumentError as error:
                raise ArgumentError(
                    error.argument, error.template + where(i), error.mentions
                ) from None
        return out
    out = per_cell(scale, shape, "scale")
    _check_scales(out, needed, where)
    return out


def _automatic(scale: object) -> bool:
    if isinstance(scale, str) and scale != "auto":
        raise ArgumentError("scale", f"scale must be a positive number or 'auto', got {scale!r}")
    return isinstance(scale, str)


def _check_scales(scale: Array, needed: Mask, where: Where = _series_place) -> None:
    for i in np.flatnonzero(needed & ~((scale > 0.0) & np.isfinite(scale))):
        raise ArgumentError("scale", f"scale must be a positive finite number, got {scale[i]}"
                            f"{where(i)}")  # fmt: skip


def extremes(rows: Array) -> tuple[Array, Array]:
    """The lowest and highest finite value of each row (NaN for a row without one)."""
    finite = np.isfinite(rows)
    low = np.min(rows, axis=1, where=finite, initial=np.inf)
    high = np.max(rows, axis=1, where=finite, initial=-np.inf)
    empty = ~finite.any(axis=1)
    low[empty], high[empty] = np.nan, np.nan
    return low, high


def auto_scale(values: npt.ArrayLike, shift: float = 0.0) -> float:
    """The scale ``scale="auto"`` chooses: the power of ten that brings the largest finite
    ``|x + shift|`` into [1, 10).

    Parameters
    ----------
    values : array_like
        The series, in data units; NaN and infinite values play no part.
    shift : float, default 0.0
        Added to the values before scaling.

    Returns
    -------
    float
        ``10**-k``; 1 when no finite value differs from ``-shift``.

    Raises
    ------
    ArgumentError
        The largest ``|x + shift|`` is too small for a power of ten to bring to 1
        (``argument`` is ``"scale"``).

    Examples
    --------
    >>> import ferrule
    >>> ferrule.auto_scale([12.0, 250.0, 3.5])
    0.01
    >>> ferrule.auto_scale([0.002, 0.004], shift=1.0)
    1.0
    """
    low, high = extremes(np.asarray(values, dtype=np.float64).reshape(1, -1))
    return _power_of_ten(float(low[0]), float(high[0]), float(shift))


def _power_of_ten(low: float, high: float, shift: float) -> float:
    """The power of ten 10^-k that brings the largest finite |x + shift| into [1, 10),
    from the lowest and highest finite value (NaN: none); |x + shift| is largest at one of
    them, as rounding keeps order."""
    largest = max(abs(low + shift), abs(high + shift)) if not math.isnan(low) else 0.0
    if not largest > 0.0:
        return 1.0
    if math.isinf(largest):
        raise ArgumentError(
            "shift",
            "x + shift overflows to infinity for the largest value: pass a smaller {shift} "
            "(or {scale})",
            ("shift", "scale"),
        )
    power = -math.floor(math.log10(largest))
    if power > _LARGEST_POWER:
        raise ArgumentError(
            "scale",
            f"the largest |x + shift| is {largest:g}, too small to be brought to 1 by a power "
            "of ten; pass {scale} (or {shift})",
            ("scale", "shift"),
        )
    return 10.0**power


def check_rescaled(
    low: Array,
    high: Array,
    left: Array,
    right: Array,
    scale: Array,
    shift: Array,
    needed: Mask,
    where: Where = _series_place,
) -> None:
    """Refuses a shift or scale that carries finite values or thresholds to infinity, where
    the likelihood would count them as censored at an infinite threshold. (x + shift) *
    scale keeps order, so the extremes and the finite thresholds tell."""
    ends = np.stack([low, high, left, right])
    with np.errstate(over="ignore", invalid="ignore"):
        shifted = ends + shift
        rescaled = shifted * scale
    given = np.isfinite(ends)  # no values (NaN) and infinite thresholds have nothing to carry
    for i in np.flatnonzero(needed & ~(np.isfinite(rescaled) | ~given).all(axis=0)):
        largest = max(abs(low[i]), abs(high[i])) if not math.isnan(low[i]) else 0.0
        argument = "scale" if (np.isfinite(shifted[:, i]) | ~given[:, i]).all() else "shift"
        raise ArgumentError(
            argument,
            f"(x + shift) * scale overflows with shift {shift[i]:g} and scale {scale[i]:g}: "
            f"the largest |x| is {largest:g}; pass a smaller {{scale}} or {{shift}}{where(i)}",
            ("scale", "shift"),
        )


def finite_left(left: Array, scale: Array, shift: Array) -> Mask:
    """Where the left threshold stays finite in the units of the fit."""
    with np.errstate(over="ignore", invalid="ignore"):
        return np.isfinite((left + shift) * scale)


def check_finite_left(
    info: _core.FamilyInfo, left: Array, scale: Array, shift: Array, needed: Mask
) -> None:
    """A family whose map is undefined at -inf needs a finite left threshold."""
    if info.bounded_below and not finite_left(left, scale, shift)[needed].all():
        raise ArgumentError("left", f"{info.title} needs a finite left threshold: its map is "
                            "undefined at -inf (pass {left})", ("left",))  # fmt: skip


# ---- counts -------------------------------------------------------------------------------
def positive_int(value: int, name: str) -> int:
    """A count the optimisers take: an integer from 1 to 2**31 - 1."""
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise ArgumentError(name, f"{name} must be a positive integer, got {value!r}")
    if not 1 <= value <= LARGEST_COUNT:
        raise ArgumentError(
            name, f"{name} must be an integer from 1 to {LARGEST_COUNT}, got {value!r}"
        )
    return int(value)
