"""Turning what users pass as a series into the float64 array a fit works on."""

import math
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from ferrule._errors import ArgumentError

__all__ = ["NAN_POLICIES", "Series", "as_float_array", "as_series", "auto_scale", "unwrap_pandas"]

NAN_POLICIES = ("raise", "omit", "propagate")


@dataclass(frozen=True)
class Series:
    values: npt.NDArray[np.float64]  # what the fit sees: NaN dropped under "omit"
    n_nan: int  # NaN values in the input
    n_dropped: int  # of which dropped


def as_float_array(data: object) -> npt.NDArray[np.float64]:
    """One conversion to a fresh, writable, contiguous float64 array."""
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
        raise ValueError(
            f"data must be a one-dimensional series of numbers, got a single {type(data).__name__}"
        )
    if array.ndim > 1:
        raise ValueError(
            f"data must be one-dimensional, got an array of shape {array.shape}; "
            "fit one series at a time (select a column or use .ravel())"
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


def as_series(data: object, nan_policy: str, left: float, right: float) -> Series:
    """The series to fit, after the NaN policy; infinite values only beyond a threshold."""
    if nan_policy not in NAN_POLICIES:
        raise ValueError(f"nan_policy must be one of {NAN_POLICIES}, got {nan_policy!r}")
    values = as_float_array(data)
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
            f"data hold {int(infinite.sum())} infinite value{'s' if infinite.sum() > 1 else ''}, "
            "which are not measurements; "
            "infinite values are accepted only beyond a finite censoring threshold"
        )
    if values.size == 0:
        raise ValueError("no values to fit" + (" once the NaN values are omitted" if n_nan else ""))
    return Series(values, n_nan, n_nan if nan_policy == "omit" else 0)


# 10.0 ** 308 is the largest power of ten a double holds.
_LARGEST_POWER = 308


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
    array = np.asarray(values, dtype=np.float64)
    with np.errstate(over="ignore"):  # an overflow is refused below, in words
        shifted = np.abs(array[np.isfinite(array)] + shift)
    largest = float(np.max(shifted)) if shifted.size else 0.0
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
