"""Results in the kind of their input: a pandas Series keeps its index and name, an xarray
DataArray its dimensions, coordinates and name; anything else gives NumPy (a NumPy float
for a scalar)."""

from __future__ import annotations

import sys
from typing import Any

import numpy as np

__all__ = ["like"]


def like(original: object, result: np.ndarray) -> Any:
    """`result`, computed elementwise from `original`, as the same kind of object."""
    pandas = sys.modules.get("pandas")  # a Series exists only if pandas was imported
    if pandas is not None and isinstance(original, pandas.Series):
        return pandas.Series(result, index=original.index, name=original.name)
    xarray = sys.modules.get("xarray")
    if xarray is not None and isinstance(original, xarray.DataArray):
        return xarray.DataArray(result, coords=original.coords, dims=original.dims,
                                name=original.name)  # fmt: skip
    return result[()] if result.ndim == 0 else result
