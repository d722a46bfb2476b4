"""A grid fitted in every family: each cell keeps the fit the rule of ``family="auto"``
keeps for one series, chosen for all cells at once; its family is kept as a code."""

from __future__ import annotations

import numpy as np

from ferrule import _core
from ferrule._choice import choose
from ferrule._grid.cells import INTERRUPTED, Columns, empty_columns
from ferrule._grid.schema import FAMILY_CODE, FAMILY_KEYS, UNION_PARAMS

__all__ = ["chosen_columns", "chosen_scale"]


def chosen_columns(
    infos: tuple[_core.FamilyInfo, ...], judged: list[Columns], undone: np.ndarray
) -> Columns:
    """Per cell, the columns of the family the rule picks among the families `judged` (in
    the order of `infos`); every family's parameters by name, NaN where the cell's family
    lacks one, and the search vectors padded with NaN to the widest. Cells `undone` (an
    interrupt came before every family fitted them) are left empty."""
    ncells = undone.size
    width = max(len(info.search_start) for info in infos)
    columns = [_widened(c.arrays, width) for c in judged]
    pick = choose([c["aic"] for c in columns], [c["valid"] for c in columns])
    arrays, flags = _picked(columns, judged, pick)
    codes = np.array([FAMILY_KEYS.index(info.key) for info in infos], dtype=np.int8)
    arrays[FAMILY_CODE] = np.where(arrays["fitted"], codes[pick], np.int8(-1)).astype(np.int8)
    if undone.any():
        empty = _widened(empty_columns(infos[0], ncells), width)
        for name, value in empty.items():
            arrays[name][undone] = value[undone]
        arrays["reason"][undone] = INTERRUPTED
        arrays[FAMILY_CODE][undone] = -1
        for cells_flagged in flags.values():
            cells_flagged[undone] = False
    return Columns(arrays, flags)


def chosen_scale(judged: list[Columns]) -> Columns:
    """Per cell, the columns of one family's fit at the scale the rule of ``scale="auto"``
    keeps among `judged` (the power of ten first, then 1): as for a family, the valid fit of
    lowest AIC, so a valid fit before an invalid one and then the higher log-likelihood in
    data units (the parameters are as many); cells with no fit at a scale keep the first."""
    columns = [c.arrays for c in judged]
    pick = choose([c["aic"] for c in columns], [c["valid"] for c in columns])
    return Columns(*_picked(columns, judged, pick))


def _picked(
    columns: list[dict[str, np.ndarray]], judged: list[Columns], pick: np.ndarray
) -> tuple[dict[str, np.ndarray], dict[type[Warning], np.ndarray]]:
    """The arrays and warning flags of candidate `pick[i]` in each cell i."""
    cells = np.arange(pick.size)
    arrays = {name: np.stack([c[name] for c in columns])[pick, cells] for name in columns[0]}
    none = np.zeros(pick.size, dtype=bool)
    kinds = {kind for c in judged for kind in c.flags}
    flags = {kind: np.stack([c.flags.get(kind, none) for c in judged])[pick, cells]
             for kind in kinds}  # fmt: skip
    return arrays, flags


def _widened(arrays: dict[str, np.ndarray], width: int) -> dict[str, np.ndarray]:
    """One family's columns with every family's parameters and the widest search."""
    ncells = arrays["mu"].size
    out = {name: arrays.get(name, np.full(ncells, np.nan)) for name in UNION_PARAMS}
    out.update({name: value for name, value in arrays.items() if name not in UNION_PARAMS})
    search = np.full((ncells, width), np.nan)
    search[:, : arrays["search"].shape[1]] = arrays["search"]
    out["search"] = search
    return out
