"""Applying fitted grids to DataArrays: each cell's series by its own fit, and with
groups, each value by its group's fit; in memory or block by block through dask."""

from __future__ import annotations

from typing import Any

import numpy as np

from ferrule._grid.dataset import fit_settings, require_xarray
from ferrule._grid.model import apply_cells, check_grid_model, model_fields
from ferrule._grid.schema import GRID_FORMAT, GRID_FORMAT_VERSION, PREFIX, param_names
from ferrule._model_check import check_fields, check_format
from ferrule.xarray._labels import at_cells

__all__ = ["apply_dataarray"]

_WHAT = "parameter Dataset"  # how messages about the parameters name them

# Maps whose results are in data units keep the data's attributes; the others are unitless.
_DATA_UNITS = ("from_normal", "ppf")
_TITLES = {
    "to_normal": "standard normal score",
    "from_normal": "value",
    "cdf": "non-exceedance probability",
    "ppf": "quantile",
}


def apply_dataarray(what: str, params: Any, da: Any, dim: str, **options: bool) -> Any:
    xr = require_xarray()
    fit_settings(params)  # refuses any other Dataset
    if not isinstance(da, xr.DataArray):
        raise TypeError(f"expected an xarray.DataArray, got {type(da).__name__}")
    if dim not in da.dims:
        raise ValueError(f"the DataArray has no dimension {dim!r}; its dimensions are "
                         f"{', '.join(map(repr, da.dims)) or 'none'}")  # fmt: skip
    check_format(_WHAT, GRID_FORMAT, params.attrs.get(PREFIX + "version"), GRID_FORMAT,
                 GRID_FORMAT_VERSION)  # fmt: skip
    family = params.attrs.get(PREFIX + "family")
    param_names(_WHAT, family)
    check_fields(_WHAT, params.data_vars, model_fields(family))
    models = at_cells(params[list(model_fields(family))], da, "the parameters hold no fit")
    groupby = params.attrs.get(PREFIX + "groupby", "")
    if not groupby:
        out = _apply(what, family, models, da, dim, options)
    else:
        out = _apply_groups(what, family, models, da, dim, groupby, options)
    out = out.transpose(*da.dims, ...)
    out.name = da.name
    if what in _DATA_UNITS:
        out.attrs = {k: v for k, v in params.attrs.items() if not k.startswith(PREFIX)}
    else:
        out.attrs = {"long_name": _TITLES[what], "units": "1"}
    return out


def _apply_groups(
    what: str, family: str, params: Any, da: Any, dim: str, groupby: str, options: dict[str, bool]
) -> Any:
    xr = require_xarray()
    from ferrule.xarray._fit import group_positions

    group_dim, groups = group_positions(da, dim, groupby)
    known = set(np.asarray(params[group_dim].values).tolist())
    pieces, order = [], []
    for label, positions in groups:
        key = label.item() if isinstance(label, np.generic) else label
        if key not in known:
            raise ValueError(f"the parameters hold no fit for {group_dim} {key!r}")
        part = params.sel({group_dim: label}, drop=True)
        pieces.append(_apply(what, family, part, da.isel({dim: positions}), dim, options))
        order.append(positions)
    unlabelled = np.setdiff1d(np.arange(da.sizes[dim]), np.concatenate(order))
    if unlabelled.size:
        # A value without a group label has no model: NaN, shaped like the others.
        part = params.isel({group_dim: 0}, drop=True)
        pieces.append(
            _apply(what, family, part, da.isel({dim: unlabelled}), dim, options).where(False)
        )
        order.append(unlabelled)
    joined = xr.concat(pieces, dim=dim, coords="minimal", compat="override")
    return joined.isel({dim: np.argsort(np.concatenate(order), kind="stable")})


def _apply(what: str, family: str, params: Any, da: Any, dim: str, options: dict[str, bool]) -> Any:
    xr = require_xarray()
    if da.chunks is not None:
        da = da.chunk({dim: -1})
    names = tuple(params.data_vars)
    return xr.apply_ufunc(
        apply_block, da, *(params[name] for name in names),
        input_core_dims=[[dim], *([[]] * len(names))],
        output_core_dims=[[dim]],
        dask="parallelized",
        keep_attrs=False,
        output_dtypes=[np.float64],
        kwargs={"what": what, "family": family, "names": names, "options": options},
    )  # fmt: skip


def apply_block(
    values: np.ndarray,
    *params: np.ndarray,
    what: str,
    family: str,
    names: tuple[str, ...],
    options: dict[str, bool] | None = None,
) -> np.ndarray:
    """One block: the cells' series along the last axis, their parameters besides (checked
    here, where their values are at hand, also when they are computed by dask)."""
    fields = dict(zip(names, params, strict=True))
    transformation = {name: fields[name] for name in param_names(_WHAT, family)}
    check_grid_model(_WHAT, family, transformation, fields)
    return apply_cells(what, family, fields, values, **(options or {}))
