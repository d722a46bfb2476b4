"""Turning what users pass as a series into the float64 array a fit works on."""

import math
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

__all__ = ["NAN_POLICIES", "Series", "as_series", "auto_scale", "unwrap_pandas"]

NAN_POLICIES = ("raise", "omit", "propagate")


@dataclass(frozen=True)
class Series:
    values: npt.NDArray[np.float64]  # what the fit sees: NaN dropped under "omit"
    n_nan: int  # NaN values in the input
    n_dropped: int  # of which dropped


def unwrap_pandas(data: object) -> object:
    """A pandas object (nullable dtypes too) as a NumPy array, its missing values NaN;
    anything else as it is."""
    to_numpy = getattr(data, "to_numpy", None)
    if to_numpy is None:
        return data
    try:
        return to_numpy(dtype=np.float64, na_value=np.nan)
    except (TypeError, ValueError):
        return to_numpy()


def _as_float_array(data: object) -> npt.NDArray[np.float64]:
    """One conversion to a fresh, writable, contiguous float64 array."""
    if isinstance(data, (str, bytes)):
        raise TypeError("data must be an array-like of numbers, got a string")
    data = unwrap_pandas(data)
    try:
        array = np.asarray(data)
    except (TypeError, ValueError) as err:
        raise TypeError(f"data must be an array-like of numbers: {err}") from None
    kind = array.dtype.kind
    if kind in "US":
        raise TypeError(
            "data must be numbers, got strings; convert them first (e.g. pandas.to_numeric)"
        )
    if kind in "bcmMV":
        raise TypeError(f"data must be real numbers, got values of dtype {array.dtype}")
    if array.ndim == 0:
        raise ValueError(
            f"data must be a one-dimensional series of numbers, got a single {type(data).__name__}"
        )
    if array.ndim > 1:
        raise ValueError(
            f"data must be one-dimensional, got an array of shape {array.shape}; "
            "fit one series at a time (select a column or use .ravel())"
        )
    try:
        return np.array(array, dtype=np.float64, order="C", copy=True)
    except (TypeError, ValueError) as err:
        raise TypeError(f"data must hold numbers only: {err}") from None


def as_series(data: object, nan_policy: str, left: float, right: float) -> Series:
    """The series to fit, after the NaN policy; infinite values only beyond a threshold."""
    if nan_policy not in NAN_POLICIES:
        raise ValueError(f"nan_policy must be one of {NAN_POLICIES}, got {nan_policy!r}")
    values = _as_float_array(data)
    nan = np.isnan(values)
    n_nan = int(nan.sum())
    if n_nan and nan_policy == "raise":
        raise ValueError(
            f"data hold {n_nan} NaN value{'s' if n_nan > 1 else ''} (missing values); "
            'pass nan_policy="omit" to fit without them'
        )
    if n_nan and nan_policy == "omit":
        values = values[~nan]
    infinite = np.isinf(values) & ~((values == -np.inf) & (left > -np.inf))
    infinite &= ~((values == np.inf) & (right < np.inf))
    if infinite.any():
        raise ValueError(
            f"data hold {int(infinite.sum())} infinite value(s), which are not measurements; "
            "infinite values are accepted only beyond a finite censoring threshold"
        )
    if values.size == 0:
        raise ValueError("no values to fit" + (" once the NaN values are omitted" if n_nan else ""))
    return Series(values, n_nan, n_nan if nan_policy == "omit" else 0)


def auto_scale(values: npt.NDArray[np.float64], shift: float) -> float:
    """The power of ten 10^-k that brings the largest finite |x + shift| into [1, 10)."""
    shifted = np.abs(values[np.isfinite(values)] + shift)
    largest = float(np.max(shifted)) if shifted.size else 0.0
    if not largest > 0.0:
        return 1.0
    return 10.0 ** -math.floor(math.log10(largest))
