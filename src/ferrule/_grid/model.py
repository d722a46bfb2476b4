"""The fitted distributions of many cells applied to their own series.

Each cell is evaluated as the one-series model of ``ferrule.Fit`` evaluates it (the same
kernel calls, so a grid's numbers are those of its cells' fits, bit for bit), in one pass
over the cells in C++. Cells without a valid fit give NaN. A grid of family "auto" applies
each cell's own family."""

from __future__ import annotations

from collections.abc import Iterator, Mapping
from typing import Any

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._grid.schema import AUTO, FAMILY_CODE, FAMILY_KEYS, UNION_PARAMS
from ferrule._model_check import check_fields, check_model
from ferrule._names import family_info

__all__ = ["MAPS", "apply_cells", "check_grid_model", "model_fields"]

Array = npt.NDArray[np.float64]
# What can be applied: the maps of a fit by their names.
MAPS = ("to_normal", "from_normal", "cdf", "ppf")
# The per-cell fields a cell's model is built from, besides its transformation parameters,
# in the order the maps take them; then whether the cell has a model.
_MAP_FIELDS = ("mu", "sigma", "scale", "shift", "left", "right")
_MODEL_FIELDS = (*_MAP_FIELDS, "valid")


def model_fields(family: str) -> tuple[str, ...]:
    """The per-cell fields :func:`apply_cells` reads for `family`, parameters first."""
    if family == AUTO:
        return (*UNION_PARAMS, *_MODEL_FIELDS, FAMILY_CODE)
    return (*family_info(family).transformation_names, *_MODEL_FIELDS)


def check_grid_model(
    what: str, family: Any, params: Mapping[str, Any], fields: Mapping[str, Any]
) -> None:
    """``check_model`` for a grid; with "auto", each family's valid cells by their family's
    rules, and every family code known (a valid cell's not -1)."""
    if family != AUTO:
        check_model(what, family, params, fields)
        return
    check_fields(what, params, UNION_PARAMS)
    codes = np.asarray(fields[FAMILY_CODE])
    valid = np.asarray(fields["valid"]).astype(bool)
    bad = (codes < -1) | (codes >= len(FAMILY_KEYS)) | (valid & (codes < 0))
    if bad.any():
        first = np.unravel_index(int(np.argmax(bad)), bad.shape) if bad.ndim else ()
        raise ValueError(f"{what}: {FAMILY_CODE} is {int(codes[first])} at cell "
                         f"{tuple(map(int, first))}; it must name a family (0 to "
                         f"{len(FAMILY_KEYS) - 1}, or -1 where no fit is valid)")  # fmt: skip
    for code, key in enumerate(FAMILY_KEYS):
        names = family_info(key).transformation_names
        check_model(what, key, {name: params[name] for name in names},
                    {**fields, "valid": valid & (codes == code)})  # fmt: skip


def _families(
    family: str, columns: Mapping[str, np.ndarray], valid: np.ndarray
) -> Iterator[tuple[_core.FamilyInfo, np.ndarray]]:
    """Each family of the cells with the valid cells it applies to."""
    if family != AUTO:
        yield family_info(family), valid
        return
    codes = columns[FAMILY_CODE]
    for code in np.unique(codes[valid]):
        yield family_info(FAMILY_KEYS[code]), valid & (codes == code)


def apply_cells(
    what: str,
    family: str,
    params: Mapping[str, npt.ArrayLike],
    rows: npt.ArrayLike,
    **options: bool,
) -> Array:
    """`what` of every cell on its row of values.

    `params` holds per-cell arrays (all of one shape S) of the fields named by
    :func:`model_fields`;
    `rows` has shape S + (m,) (S broadcast with the parameters' shape). Returns an array
    of that shape. `options` go to the map (``censor`` of from_normal and ppf)."""
    if what not in MAPS:
        raise ValueError(f"unknown map {what!r}: one of {MAPS}")
    given = {name: np.asarray(params[name]) for name in model_fields(family)}
    values = np.asarray(rows, dtype=np.float64)
    shape = np.broadcast_shapes(values.shape[:-1], *(v.shape for v in given.values()))
    values = np.broadcast_to(values, (*shape, values.shape[-1]))
    flat = values.reshape(-1, values.shape[-1])
    columns = {name: np.broadcast_to(v, shape).reshape(-1) for name, v in given.items()}
    valid = columns["valid"].astype(bool)
    # Each cell's family code (-1: no valid fit), transformation parameters (an unused
    # second one 0) and fields, for one pass over the cells in C++.
    codes = np.full(flat.shape[0], -1, dtype=np.int8)
    transformation = np.zeros((flat.shape[0], 2))
    for info, cells in _families(family, columns, valid):
        codes[cells] = FAMILY_KEYS.index(info.key)
        for j, name in enumerate(info.transformation_names):
            transformation[cells, j] = columns[name][cells]
    fields = np.stack([np.asarray(columns[name], dtype=np.float64) for name in _MAP_FIELDS],
                      axis=-1)  # fmt: skip
    out = _core.distribution_map_cells(codes, transformation, fields, what, flat, **options)
    return out.reshape(values.shape)
