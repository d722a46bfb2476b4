"""Judging the cells of a grid fit: each fitted cell goes through the same assembly as
``ferrule.fit`` (data-unit log-likelihood, censoring counts, validity, warnings), and its
fields are gathered into arrays of the cell shape."""

from __future__ import annotations

from collections import Counter
from dataclasses import dataclass, field, replace

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._fitting import _Settings, fit_from_output
from ferrule._grid.input import Cells
from ferrule._grid.schema import AUTO, BOOL_FIELDS, DEFAULT_METHOD, FLOAT_FIELDS, INT_FIELDS
from ferrule._input import Series

__all__ = ["INTERRUPTED", "Columns", "GridSettings", "judge_cells"]

INTERRUPTED = "not fitted: the grid fit was interrupted first"


@dataclass(frozen=True)
class GridSettings:
    info: _core.FamilyInfo | None  # None: family="auto", the best family per cell
    method: _core.MethodKey | None  # None only with "auto": each family's default
    prior: bool
    base_seed: int
    max_converge: int
    max_eval: int
    fast: bool = False  # one optimiser run per cell rather than the thorough fit

    @property
    def family(self) -> str:
        return AUTO if self.info is None else self.info.key

    @property
    def infos(self) -> tuple[_core.FamilyInfo, ...]:
        """The families fitted: one, or with "auto" every family."""
        return _core.FAMILIES if self.info is None else (self.info,)

    @property
    def method_name(self) -> str:
        """The method a GridFit records."""
        return DEFAULT_METHOD if self.method is None else self.method

    @property
    def search_width(self) -> int:
        return max(len(info.search_start) for info in self.infos)

    def of_family(self, info: _core.FamilyInfo) -> GridSettings:
        """The settings of one family's fits."""
        return replace(self, info=info, method=self.method or info.default_method)


@dataclass
class Columns:
    """Per-cell results, flat (ncells,) arrays, and which cells raised each warning."""

    arrays: dict[str, np.ndarray]
    flags: dict[type[Warning], np.ndarray] = field(default_factory=dict)

    @property
    def noted(self) -> Counter[type[Warning]]:
        """How many cells raised each warning."""
        return Counter({kind: int(cells.sum()) for kind, cells in self.flags.items()})


def empty_columns(info: _core.FamilyInfo, ncells: int) -> dict[str, np.ndarray]:
    arrays: dict[str, np.ndarray] = {
        name: np.full(ncells, np.nan) for name in (*info.transformation_names, *FLOAT_FIELDS)
    }
    arrays["search"] = np.full((ncells, len(info.search_start)), np.nan)
    arrays.update({name: np.zeros(ncells, dtype=np.int64) for name in INT_FIELDS})
    arrays["count"][:] = -1
    arrays.update({name: np.zeros(ncells, dtype=bool) for name in (*BOOL_FIELDS, "fitted")})
    arrays["reason"] = np.full(ncells, "", dtype=object)
    arrays["warnings"] = np.full(ncells, "", dtype=object)
    return arrays


def judge_cells(
    settings: GridSettings,
    cells: Cells,
    out: _core.GridFitOutput,
    seeds: npt.NDArray[np.uint32],
) -> Columns:
    """The per-cell fields of every committed, fitted cell; the others stay empty with
    their reason (left out, or not reached before an interrupt)."""
    info, method = settings.info, settings.method
    assert info is not None and method is not None  # one family's settings
    arrays = empty_columns(info, cells.size)
    arrays["reason"][:] = cells.reason
    arrays["n_dropped"][:] = cells.n_nan
    arrays["reason"][out["completed"] :][~cells.skip[out["completed"] :]] = INTERRUPTED
    # The scale each fitted cell kept (the cell loop may compare two for scale="auto").
    arrays["scale"] = np.array(cells.scale, dtype=np.float64)
    flags: dict[type[Warning], np.ndarray] = {}
    for i in np.flatnonzero(~cells.skip[: out["completed"]]):
        arrays["scale"][i] = out["scale"][i]
        fit, notes = fit_from_output(
            info, method,
            Series(cells.series(i), int(cells.n_nan[i]), int(cells.n_nan[i])),
            _Settings(float(cells.left[i]), float(cells.right[i]), float(arrays["scale"][i]),
                      float(cells.shift[i]), settings.prior, int(seeds[i]),
                      settings.max_converge, settings.max_eval, settings.fast),
            _cell_output(info, out, i),
        )  # fmt: skip
        for name, value in fit.params.items():
            arrays[name][i] = value
        for name in (*FLOAT_FIELDS, *INT_FIELDS, *BOOL_FIELDS):
            value = getattr(fit, name)
            arrays[name][i] = np.nan if value is None else value
        arrays["search"][i] = fit.search
        arrays["fitted"][i] = True
        arrays["reason"][i] = "; ".join(fit.problems)
        arrays["warnings"][i] = "\n".join(fit.warnings)
        for category, _ in notes:
            flags.setdefault(category, np.zeros(cells.size, dtype=bool))[i] = True
    return Columns(arrays, flags)


def _cell_output(info: _core.FamilyInfo, out: _core.GridFitOutput, i: int) -> _core.FitOutput:
    """One cell of the cell fitter's output in the form of a single fit's output."""
    search = out["search"][i]
    return {
        "search": search,
        "natural": _core.decode(info.key, search),
        "count": int(out["count"][i]),
        "evaluations": int(out["evaluations"][i]),
        "limit_reached": bool(out["limit_reached"][i]),
        "low_values": bool(out["low_values"][i]),
        "high_values": bool(out["high_values"][i]),
        "no_finite_value": bool(out["no_finite_value"][i]),
        "runs": int(out["runs"][i]),
        "polish_evaluations": int(out["polish_evaluations"][i]),
        "polish_gain": float(out["polish_gain"][i]),
        # A grid is quiet: the optimiser's console lines are not kept per cell.
        "messages": [],
    }
