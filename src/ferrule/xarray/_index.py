"""Standardised indices of DataArrays: the fits per cell and group as a Dataset, and the
scores they give, in memory or block by block through dask (the same numbers either way)."""

from __future__ import annotations

import math
import warnings
from dataclasses import dataclass
from typing import Any

import numpy as np

from ferrule._choice import AUTO, is_automatic
from ferrule._grid.dataset import require_xarray
from ferrule._grid.fit import n_threads
from ferrule._grid.schema import PREFIX
from ferrule._names import family_info
from ferrule._seeds import resolve_seed
from ferrule._validity import MIN_DISTINCT
from ferrule._warnings import InvalidFitWarning
from ferrule.xarray._index_cells import (
    FIELDS,
    PARAM_NAMES,
    ZEROS,
    accumulated,
    fit_groups,
    score_cells,
)
from ferrule.xarray._index_groups import (
    DEFAULT_GROUPBY,
    Groups,
    accumulation_steps,
    calibration_positions,
    group_name,
    groups_of,
)
from ferrule.xarray._index_meta import (
    INDEX_FORMAT,
    INDEX_FORMAT_VERSION,
    UNFITTED,
    index_name,
    param_attrs,
    score_attrs,
)
from ferrule.xarray._labels import at_cells
from ferrule.xarray._series import series_array

__all__ = [
    "ADEQUATE",
    "IndexSettings",
    "check_matching",
    "check_params",
    "index_params",
    "index_scores",
]

_VARIABLES = ("family", *PARAM_NAMES, *FIELDS)
# The default stopping level of "auto" (the public functions' default).
ADEQUATE = None


@dataclass(frozen=True)
class IndexSettings:
    """How the fits of an index are made; kept in the parameters' attributes."""

    family: str  # a family key or "auto"
    groupby: str | None
    window: int | None
    accumulate: Any
    calibration: Any
    left: float
    method: str | None
    prior: bool
    fast: bool = False  # one optimiser run per fit instead of the thorough default
    adequate: float | None = ADEQUATE  # "auto": the level at which the search stops early


def _family(family: str, left: float) -> str:
    """The family key, or "auto" (which leaves out, per cell, families the threshold
    cannot serve)."""
    if is_automatic(family):
        return AUTO
    info = family_info(family)
    if info.bounded_below and not math.isfinite(left):
        raise ValueError(f"{info.title} needs a finite left threshold: its map is undefined at "
                         "-inf")  # fmt: skip
    return info.key


def _series_index(da: Any, dim: str) -> Any:
    import pandas as pd

    return da.indexes[dim] if dim in da.indexes else pd.RangeIndex(da.sizes[dim])


def _cell_index(template: Any) -> Any:
    """Each cell's flat index in the whole grid, laid out (and chunked) as the cells."""
    xr = require_xarray()
    index = xr.DataArray(np.arange(template.size, dtype=np.int64).reshape(template.shape),
                         dims=template.dims, coords=template.coords)  # fmt: skip
    if template.chunks is not None:
        index = index.chunk(dict(zip(template.dims, template.chunks, strict=True)))
    return index


def index_params(da: Any, settings: IndexSettings, *, dim: str, seed: Any, n_jobs: Any) -> Any:
    xr = require_xarray()
    da = series_array(da, dim)
    left = float(settings.left)
    if math.isnan(left):
        raise ValueError("the left threshold is NaN")
    family = _family(settings.family, left)
    groups = groups_of(da, dim, settings.groupby, settings.window)
    series = _series_index(da, dim)
    steps = accumulation_steps(settings.accumulate, series)
    positions, period = calibration_positions(series, settings.calibration)
    pools = groups.pooled(positions)
    base_seed = resolve_seed(seed)
    template = da.isel({dim: 0}, drop=True)
    group_dim = groups.name or "group"
    kwargs = {
        "pools": pools, "family": family, "steps": steps, "method": settings.method,
        "prior": bool(settings.prior), "fast": bool(settings.fast), "base_seed": base_seed,
        "left": left, "total": template.size, "adequate": _level(settings.adequate, family),
    }  # fmt: skip
    if da.chunks is None:
        kwargs["n_jobs"] = n_threads(n_jobs)
        columns = _params_block(da.values, _cell_index(template).values, **kwargs)
        variables = {name: ((*template.dims, group_dim), column)
                     for name, column in zip(_VARIABLES, columns, strict=True)}  # fmt: skip
        dataset = xr.Dataset(variables, coords=template.coords)
    else:
        kwargs["n_jobs"] = 1 if n_jobs is None else n_threads(n_jobs)
        outputs = xr.apply_ufunc(
            _params_block, da.chunk({dim: -1}), _cell_index(template),
            input_core_dims=[[dim], []], output_core_dims=[[group_dim]] * len(_VARIABLES),
            dask="parallelized", keep_attrs=False,
            output_dtypes=[_dtype(name) for name in _VARIABLES],
            dask_gufunc_kwargs={"output_sizes": {group_dim: len(pools)}}, kwargs=kwargs,
        )  # fmt: skip
        dataset = xr.Dataset(dict(zip(_VARIABLES, outputs, strict=True)))
    dataset = dataset.transpose(group_dim, *template.dims)
    if groups.name is None:
        dataset = dataset.isel({group_dim: 0}, drop=True)
    else:
        dataset = dataset.assign_coords({group_dim: groups.labels})
    for name in _VARIABLES:
        dataset[name].attrs = param_attrs(name)
    dataset.attrs = {
        PREFIX + "format": INDEX_FORMAT,
        PREFIX + "version": INDEX_FORMAT_VERSION,
        PREFIX + "family": family,
        PREFIX + "groupby": groups.name or "",
        PREFIX + "window": groups.window,
        PREFIX + "accumulate": steps,
        PREFIX + "calibration": np.array(period, dtype=object).tolist(),
        PREFIX + "left": left,
        PREFIX + "method": settings.method or "",
        PREFIX + "prior": int(bool(settings.prior)),
        PREFIX + "fast": int(bool(settings.fast)),
        PREFIX + "adequate": "" if kwargs["adequate"] is None else kwargs["adequate"],
        PREFIX + "base_seed": base_seed,
        PREFIX + "dim": dim,
        PREFIX + "variable": "" if da.name is None else str(da.name),
    }  # fmt: skip
    return dataset


def _level(adequate: Any, family: str) -> float | None:
    """The stopping level of "auto" (None: every family); one family ignores it."""
    if adequate is not None and (
        isinstance(adequate, bool)
        or not isinstance(adequate, (int, float))
        or not (0.0 <= adequate <= 1.0)
    ):
        raise ValueError(f"adequate must be a p-value level in [0, 1] or None, got {adequate!r}")
    return None if adequate is None or family != AUTO else float(adequate)


def _params_block(
    values: np.ndarray, index: np.ndarray, *, steps: int, **kwargs: Any
) -> tuple[np.ndarray, ...]:
    """One block's fits: the per-cell variables with the group axis last."""
    values = accumulated(values, steps)
    fitted = fit_groups(values, index=index, **kwargs)
    _warn_unfitted(values, fitted, kwargs["pools"], kwargs["left"])
    return tuple(np.moveaxis(fitted[name], 0, -1) for name in _VARIABLES)


def _warn_unfitted(values: np.ndarray, fitted: dict[str, np.ndarray], pools: list[np.ndarray],
                   left: float) -> None:  # fmt: skip
    """Says how many cell-groups with values got no valid fit, and how many of them had too
    few distinct values above the left threshold to fit at all (counted in those cells
    only: a grid fitted everywhere sorts nothing)."""
    present = ~np.isnan(fitted["n"])  # (groups, *cells): the sample holds a value
    lacking = present & ~fitted["valid"]
    unfitted = int(lacking.sum())
    if not unfitted:
        return
    flat = values.reshape(-1, values.shape[-1])
    lacking = lacking.reshape(len(pools), -1)
    few = sum(int((_distinct_above(flat[np.flatnonzero(row)][:, positions], left)
                   < MIN_DISTINCT).sum())
              for row, positions in zip(lacking, pools, strict=True) if row.any())  # fmt: skip
    warnings.warn(
        f"{unfitted} of {int(present.sum())} cell-groups with values have no valid fit ({few} "
        f"with fewer than {MIN_DISTINCT} distinct values above the left threshold): {UNFITTED} "
        "Pool more values with a longer calibration period, a day-of-year window or coarser "
        "groups",
        InvalidFitWarning,
        stacklevel=2,
    )


def _distinct_above(sample: np.ndarray, left: float) -> np.ndarray:
    """Per cell, the distinct values of the sample above the threshold."""
    ordered = np.sort(np.where(sample > left, sample, np.nan), axis=-1)  # NaN last
    return (np.diff(ordered, axis=-1) > 0).sum(axis=-1) + ~np.isnan(ordered[..., 0])


def _warn_unscored(values: np.ndarray, scores: np.ndarray, of_value: np.ndarray) -> None:
    """Says how many values with data and a group got no score."""
    scorable = ~np.isnan(values) & (of_value >= 0)
    unscored = int((scorable & np.isnan(scores)).sum())
    if unscored:
        warnings.warn(
            f"{unscored} of {int(scorable.sum())} values have no score (NaN): their cell and "
            f"group has no valid fit in the parameters. {UNFITTED}",
            InvalidFitWarning,
            stacklevel=3,
        )


def _dtype(name: str) -> Any:
    return {"family": np.int8, "valid": bool}.get(name, np.float64)


def check_params(params: Any) -> None:
    xr = require_xarray()
    if not isinstance(params, xr.Dataset) or params.attrs.get(PREFIX + "format") != INDEX_FORMAT:
        raise ValueError("params must be the Dataset of ferrule.xarray.standardized_index_params "
                         "(or one read back from its NetCDF file)")  # fmt: skip


def check_matching(params: Any, settings: IndexSettings, da: Any, dim: str) -> None:
    """Refuses fit settings given beside `params` that differ from theirs (a setting left
    at its default takes the parameters' value)."""
    check_params(params)
    attrs = params.attrs
    given = []
    if settings.family != "auto" and family_info(settings.family).key != attrs[PREFIX + "family"]:
        given.append(f"family {settings.family!r}")
    if settings.accumulate is not None and accumulation_steps(
        settings.accumulate, _series_index(series_array(da, dim), dim)
    ) != int(attrs[PREFIX + "accumulate"]):
        given.append(f"accumulate {settings.accumulate!r}")
    if settings.groupby != DEFAULT_GROUPBY and (group_name(settings.groupby, dim) or "") != str(
        attrs[PREFIX + "groupby"]
    ):
        given.append(f"groupby {settings.groupby!r}")
    if settings.window is not None and settings.window != int(attrs[PREFIX + "window"]):
        given.append(f"window {settings.window!r}")
    if settings.calibration is not None:
        given.append("a calibration period")
    if settings.fast and not int(attrs.get(PREFIX + "fast", 1)):
        given.append("fast=True")
    stored = attrs.get(PREFIX + "adequate", "")
    if (
        settings.adequate != ADEQUATE
        and attrs[PREFIX + "family"] == AUTO
        and settings.adequate != (None if isinstance(stored, str) else float(stored))
    ):
        given.append(f"adequate {settings.adequate!r}")
    if settings.left != 0.0 and settings.left != float(attrs[PREFIX + "left"]):
        given.append(f"left {settings.left!r}")
    if given:
        raise ValueError(f"the parameters were fitted with their own settings; {', '.join(given)} "
                         "cannot change them (fit again, or leave these out)")  # fmt: skip


def index_scores(
    da: Any,
    params: Any,
    *,
    dim: str,
    zeros: str,
    p0: str,
    clip: float | None,
    seed: Any,
    warn: bool = False,
) -> Any:
    """The scores of `da` by `params`; with `warn`, an in-memory result says how many values
    with data got no score because their cell and group has no valid fit (a fit in the
    same call has said so of the cell-groups already)."""
    xr = require_xarray()
    check_params(params)
    if zeros not in ZEROS:
        raise ValueError(f"zeros must be one of {', '.join(map(repr, ZEROS))}, got {zeros!r}")
    if p0 not in ("model", "empirical"):
        raise ValueError(f"p0 must be 'model' or 'empirical', got {p0!r}")
    if clip is not None and not (isinstance(clip, (int, float)) and clip > 0):
        raise ValueError(f"clip must be a positive number or None, got {clip!r}")
    original = da
    da = series_array(da, dim)
    attrs = params.attrs
    groupby = str(attrs[PREFIX + "groupby"]) or None
    window = int(attrs[PREFIX + "window"]) or None
    groups = groups_of(da, dim, groupby, window)
    steps = int(attrs[PREFIX + "accumulate"])
    base_seed = int(attrs[PREFIX + "base_seed"]) if seed is None else resolve_seed(seed)
    template = da.isel({dim: 0}, drop=True)
    fits = at_cells(params[list(_VARIABLES)], template, "the parameters hold no fit")
    of_value = _param_groups(groups, fits)
    group_dim = groups.name or "group"
    if groups.name is None:
        fits = fits.expand_dims(group_dim)
    kwargs = {
        "steps": steps, "of_value": of_value, "zeros": zeros, "empirical": p0 == "empirical",
        "clip": None if clip is None else float(clip), "base_seed": base_seed,
    }  # fmt: skip
    names = list(_VARIABLES)
    if da.chunks is None:
        columns = (fits[n].broadcast_like(template).transpose(*template.dims, group_dim).values
                   for n in names)  # fmt: skip
        values = _scores_block(da.values, _cell_index(template).values, *columns, names=names,
                               **kwargs)  # fmt: skip
        if warn:
            _warn_unscored(accumulated(da.values, steps), values, of_value)
        out = xr.DataArray(values, dims=da.dims, coords=da.coords)
    else:
        out = xr.apply_ufunc(
            _scores_block, da.chunk({dim: -1}), _cell_index(template),
            *(fits[n] for n in names),
            input_core_dims=[[dim], [], *([[group_dim]] * len(names))],
            output_core_dims=[[dim]], dask="parallelized", keep_attrs=False,
            output_dtypes=[np.float64], kwargs={"names": names, **kwargs},
        )  # fmt: skip
    out = out.transpose(*original.dims)
    out.name = index_name(original)
    out.attrs = score_attrs(original, attrs, zeros=zeros, p0=p0, clip=clip, seed=base_seed)
    return out


def _param_groups(groups: Groups, fits: Any) -> np.ndarray:
    """The group of each value as a position along the parameters' group dimension."""
    if groups.name is None:
        return groups.of_value
    if groups.name not in fits.dims:
        raise ValueError(f"the parameters were fitted without groups, not by {groups.name!r}")
    known = list(np.asarray(fits[groups.name].values).tolist())
    where = []
    for label in groups.labels.tolist():
        if label not in known:
            raise ValueError(f"the parameters hold no fit for {groups.name} {label!r}")
        where.append(known.index(label))
    mapped = np.asarray(where, dtype=np.int64)[np.maximum(groups.of_value, 0)]
    return np.where(groups.of_value >= 0, mapped, -1)


def _scores_block(
    values: np.ndarray,
    index: np.ndarray,
    *columns: np.ndarray,
    names: list[str],
    steps: int,
    **kwargs: Any,
) -> np.ndarray:
    """One block's scores; the parameters arrive with the group axis last."""
    fits = {name: np.moveaxis(np.asarray(c), -1, 0) for name, c in zip(names, columns,
                                                                       strict=True)}  # fmt: skip
    return score_cells(accumulated(values, steps), fits, index=index, **kwargs)
