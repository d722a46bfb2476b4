"""Fitting a DataArray along a named dimension, optionally per group, in memory or chunk by
chunk through dask."""

from __future__ import annotations

from collections import Counter
from dataclasses import asdict, dataclass
from typing import Any

import numpy as np

from ferrule._grid.cells import GridSettings
from ferrule._grid.dataset import (
    column_names,
    columns_of,
    dict_to_dataset,
    require_xarray,
    settings_attrs,
)
from ferrule._grid.errors import GridFitInterrupted
from ferrule._grid.fit import (
    CellOptions,
    GridRun,
    grid_settings,
    n_threads,
    run_grid,
    warn_summary,
)
from ferrule._grid.schema import AUTO, PREFIX, SEARCH_DIM, field_dtype
from ferrule._input import grid_array
from ferrule._names import family_info
from ferrule.xarray._labels import at_cells
from ferrule.xarray._series import group_labels, series_array

__all__ = ["fit_dataarray", "group_positions"]

_OPTIONS = ("left", "right", "scale", "shift", "mask")


@dataclass(frozen=True)
class _BlockSettings:
    """What a block needs to fit its cells, in plain values: it travels to dask workers."""

    family: str
    method: str | None  # None: with "auto", each family's default
    prior: bool
    base_seed: int
    max_converge: int
    max_eval: int
    fast: bool = False

    def grid_settings(self) -> GridSettings:
        info = None if self.family == AUTO else family_info(self.family)
        return GridSettings(info, self.method, self.prior, self.base_seed,  # type: ignore[arg-type]
                            self.max_converge, self.max_eval, self.fast)  # fmt: skip


def fit_dataarray(
    da: Any,
    *,
    dim: str,
    family: str,
    groupby: str | None,
    method: str | None,
    options: dict[str, Any],
    prior: bool,
    seed: Any,
    n_jobs: int | None,
    progress: bool | None,
    max_converge: int,
    max_eval: int,
    fast: bool = False,
) -> Any:
    xr = require_xarray()
    da = series_array(da, dim)
    settings = grid_settings(family, method, prior, seed, max_converge, max_eval, fast)
    cell_dims = da.dims[:-1]
    template = da.isel({dim: 0}, drop=True)
    cell_options = {name: _cell_option(options[name], template, name) for name in _OPTIONS}
    groupby = group_name(da, dim, groupby)
    group_dim, groups = group_positions(da, dim, groupby)
    chunked = da.chunks is not None
    pieces, runs = [], []
    for position, (_, indices) in enumerate(groups):
        part = da if indices is None else da.isel({dim: indices})
        offset = position * template.size
        if chunked:
            pieces.append(_fit_chunked(part, template, settings, cell_options, offset, n_jobs))
            continue
        run = _fit_in_memory(part, settings, cell_options, offset, n_jobs, progress)
        runs.append(run)
        pieces.append(dict_to_dataset(run.result.to_dict(), cell_dims, template.coords))
        if run.interrupted:
            break
    dataset = pieces[0] if group_dim is None else _stack(xr, pieces, group_dim, groups)
    dataset.attrs = {
        **da.attrs,
        **settings_attrs(settings.family, settings.method_name, settings.prior,
                         settings.base_seed, settings.max_converge, settings.max_eval),
        PREFIX + "dim": dim,
        PREFIX + "groupby": groupby or "",
        PREFIX + "variable": "" if da.name is None else str(da.name),
    }  # fmt: skip
    total = template.size * len(groups)
    if runs and runs[-1].interrupted:
        raise GridFitInterrupted(dataset, cells=total)
    if runs:
        warn_summary(_combined(runs), settings, total)
    return dataset


def group_name(da: Any, dim: str, groupby: str | None) -> str | None:
    """The coordinate `groupby` names: a date part of the series dimension's labels
    ("month" is "time.month") unless a coordinate carries that name itself."""
    if groupby is None or "." in groupby or groupby in da.coords:
        return groupby
    return f"{dim}.{groupby}"


def group_positions(
    da: Any, dim: str, groupby: str | None
) -> tuple[str | None, list[tuple[Any, np.ndarray | None]]]:
    """The group dimension's name and, for each group label in sorted order, the positions
    along `dim` of its values; without grouping one group of everything. A value whose
    label is missing (NaN, NaT) belongs to no group, as in xarray's own groupby."""
    if groupby is None:
        return None, [(None, None)]
    groupby = group_name(da, dim, groupby)
    values, labelled = group_labels(da, dim, groupby, groupby)
    if not labelled.any():
        raise ValueError(f"cannot group by {groupby!r}: every value of {groupby!r} is missing")
    groups = [(u, np.flatnonzero(labelled & (values == u))) for u in np.unique(values[labelled])]
    return groupby.split(".")[-1], groups


def _cell_option(value: Any, template: Any, name: str) -> Any:
    """Scalars as they are; arrays as DataArrays over the cell dimensions."""
    xr = require_xarray()
    if isinstance(value, str) or np.ndim(value) == 0 and not isinstance(value, xr.DataArray):
        return value
    if value is None:
        return None
    if not isinstance(value, xr.DataArray):
        array = np.asarray(value)
        try:
            array = np.broadcast_to(array, template.shape)
        except ValueError:
            raise ValueError(f"{name} of shape {array.shape} does not broadcast to the cells "
                             f"{dict(template.sizes)}") from None  # fmt: skip
        value = xr.DataArray(array, dims=template.dims, coords=template.coords)
    extra = set(value.dims) - set(template.dims)
    if extra:
        raise ValueError(f"{name} has dimensions the cells lack: {sorted(map(str, extra))}")
    value = at_cells(value, template, f"{name} has no value")
    return value.broadcast_like(template).transpose(*template.dims)


def _fit_in_memory(
    part: Any,
    settings: GridSettings,
    options: dict[str, Any],
    offset: int,
    n_jobs: int | None,
    progress: bool | None,
) -> GridRun:
    values = {name: getattr(v, "values", v) for name, v in options.items()}
    shape = part.shape[:-1]
    indices = offset + np.arange(int(np.prod(shape)), dtype=np.int64)
    return run_grid(
        grid_array(part.values, -1), settings, CellOptions(**values),
        indices.reshape(shape), n_jobs=n_threads(n_jobs), progress=progress,
    )  # fmt: skip


def _fit_chunked(
    part: Any,
    template: Any,
    settings: GridSettings,
    options: dict[str, Any],
    offset: int,
    n_jobs: int | None,
) -> Any:
    """Each block fitted where it lies, by `xarray.apply_ufunc(dask="parallelized")`; a
    block's cells take their seeds from their flat indices in the whole grid, which travel
    alongside the values as a chunked array of their own."""
    xr = require_xarray()
    dim = part.dims[-1]
    part = part.chunk({dim: -1})
    chunks = {d: part.chunksizes[d] for d in template.dims}
    index = xr.DataArray(
        offset + np.arange(template.size, dtype=np.int64).reshape(template.shape),
        dims=template.dims, coords=template.coords,
    ).chunk(chunks)  # fmt: skip
    arrays = {name: v.chunk(chunks) for name, v in options.items() if isinstance(v, xr.DataArray)}
    scalars = {name: v for name, v in options.items() if name not in arrays}
    names = column_names(settings.family)
    block = _BlockSettings(settings.family, settings.method, settings.prior,
                           settings.base_seed, settings.max_converge,
                           settings.max_eval, settings.fast)  # fmt: skip
    outputs = xr.apply_ufunc(
        fit_block, part, index, *arrays.values(),
        input_core_dims=[[dim], *([[]] * (1 + len(arrays)))],
        output_core_dims=[[SEARCH_DIM] if name == "search" else [] for name in names],
        dask="parallelized",
        keep_attrs=False,
        output_dtypes=[field_dtype(name) for name in names],
        dask_gufunc_kwargs={"output_sizes": {SEARCH_DIM: settings.search_width}},
        kwargs={"settings": asdict(block), "array_names": tuple(arrays), "scalars": scalars,
                "n_jobs": 1 if n_jobs is None else n_threads(n_jobs)},
    )  # fmt: skip
    return xr.Dataset(dict(zip(names, outputs, strict=True)))


def fit_block(
    values: np.ndarray,
    index: np.ndarray,
    *arrays: np.ndarray,
    settings: dict[str, Any],
    array_names: tuple[str, ...],
    scalars: dict[str, Any],
    n_jobs: int,
) -> tuple[np.ndarray, ...]:
    """Fits one block of cells (series along the last axis) quietly; the per-cell columns
    in the order of ``column_names``."""
    block = _BlockSettings(**settings).grid_settings()
    shape = values.shape[:-1]
    options = {**scalars, **{n: np.broadcast_to(a, shape) for n, a in zip(array_names, arrays,
                                                                       strict=True)}}  # fmt: skip
    run = run_grid(
        grid_array(values, -1), block, CellOptions(**options),
        np.broadcast_to(index, shape).astype(np.int64), n_jobs=n_jobs, progress=False,
    )  # fmt: skip
    if run.interrupted:
        # The cell loop took Ctrl-C as its signal to stop; the scheduler must stop too, as
        # an in-memory fit does, rather than return a block of unfitted cells.
        raise KeyboardInterrupt("grid fit interrupted")
    columns = columns_of(run.result.to_dict())
    return tuple(np.asarray(columns[name]) for name in column_names(block.family))


def _stack(xr: Any, pieces: list[Any], group_dim: str, groups: list[Any]) -> Any:
    import pandas as pd

    labels = pd.Index([label for label, _ in groups[: len(pieces)]], name=group_dim)
    return xr.concat(pieces, dim=labels, combine_attrs="drop_conflicts")


def _combined(runs: list[GridRun]) -> GridRun:
    noted: Counter[type[Warning]] = Counter()
    automatic: Counter[str] = Counter()
    for run in runs:
        noted += run.noted
        automatic += run.automatic
    return GridRun(runs[-1].result, noted, automatic, runs[-1].interrupted)
