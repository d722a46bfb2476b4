"""Matching the cells of a DataArray to fitted models by their coordinate labels."""

from __future__ import annotations

from typing import Any

__all__ = ["at_cells"]


def at_cells(source: Any, cells: Any, lacking: str) -> Any:
    """`source` at the labels of `cells`: along each dimension both index, the labels of
    `cells` in their order; where `cells` holds one label of a dimension of `source` as a
    scalar coordinate (a station chosen with ``sel``), that label. A label `source` lacks
    is an error ("`lacking` for lat 10.25"), never a NaN: a cell must not fall back on no
    model, or on a neighbour's."""
    wanted = {}
    for dim in source.dims:
        if dim not in source.indexes or dim not in cells.coords:
            continue
        labels = cells[dim]
        if dim in cells.dims and dim in cells.indexes:
            labels = cells.indexes[dim]
            if labels.equals(source.indexes[dim]):
                continue
            missing = labels[~labels.isin(source.indexes[dim])]
        elif labels.ndim == 0:
            labels = labels.values[()]
            missing = [] if labels in source.indexes[dim] else [labels]
        else:
            continue
        if len(missing):
            shown = ", ".join(f"{label}" for label in list(missing)[:5])
            more = " ..." if len(missing) > 5 else ""
            raise ValueError(f"{lacking} for {dim} {shown}{more}")
        wanted[dim] = labels
    return source.sel(wanted) if wanted else source
