"""A DataArray's series dimension and the group labels along it, checked with one set of
messages for the fits and the standardised index."""

from __future__ import annotations

from typing import Any

import numpy as np

from ferrule._grid.dataset import require_xarray
from ferrule._input import check_numbers

__all__ = ["group_labels", "series_array"]


def series_array(da: Any, dim: str) -> Any:
    """`da` with its series dimension `dim` last, once it is a DataArray of numbers with
    values along `dim`."""
    xr = require_xarray()
    if not isinstance(da, xr.DataArray):
        raise TypeError(f"expected an xarray.DataArray, got {type(da).__name__} "
                        "(select one variable of a Dataset: ds['pr'])")  # fmt: skip
    if dim not in da.dims:
        raise ValueError(f"the DataArray has no dimension {dim!r}; its dimensions are "
                         f"{', '.join(map(repr, da.dims)) or 'none'}")  # fmt: skip
    if da.sizes[dim] == 0:
        raise ValueError(f"the series dimension {dim!r} is empty: there are no values to fit")
    check_numbers(da.dtype)
    return da.transpose(*(d for d in da.dims if d != dim), dim)


def group_labels(da: Any, dim: str, key: str, groupby: str) -> tuple[np.ndarray, np.ndarray]:
    """The labels of coordinate `key` along `dim` (the user's `groupby` names it in
    messages) and where they are not missing (NaN, NaT)."""
    try:
        labels = da[key]
    except (KeyError, AttributeError) as err:
        raise ValueError(f"cannot group by {groupby!r}: {err}") from None
    if labels.dims != (dim,):
        raise ValueError(f"cannot group by {groupby!r}: its labels lie along {labels.dims}, "
                         f"not along {dim!r} alone")  # fmt: skip
    return np.asarray(labels.values), ~np.asarray(labels.isnull().values)
