"""Judging the cells of a grid fit: the verdicts of every fitted cell at once, from the
facts the core computed in each cell's fit (``ferrule._validity``), and the fields of a Fit
(data-unit log-likelihood, censoring counts, validity, warnings) as arrays of the cells."""

from __future__ import annotations

import math
from collections import Counter
from dataclasses import dataclass, field, replace

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._fitting import warning_notes
from ferrule._grid.input import Cells
from ferrule._grid.schema import AUTO, BOOL_FIELDS, DEFAULT_METHOD, FLOAT_FIELDS, INT_FIELDS
from ferrule._validity import LIMIT_PROBLEM, judge
from ferrule._warnings import CensoringWarning, ConvergenceWarning, InvalidFitWarning

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
    arrays["notes"] = np.full(ncells, "", dtype=object)
    return arrays


def judge_cells(
    settings: GridSettings,
    cells: Cells,
    out: _core.GridFitOutput,
    seeds: npt.NDArray[np.uint32],
) -> Columns:
    """The per-cell fields of every committed, fitted cell; the others stay empty with
    their reason (left out, or not reached before an interrupt). A cell's fields are those
    of its own ``ferrule.fit``."""
    info, method = settings.info, settings.method
    assert info is not None and method is not None  # one family's settings
    arrays = empty_columns(info, cells.size)
    arrays["reason"][:] = cells.reason
    arrays["n_dropped"][:] = cells.n_nan
    completed = out["completed"]
    arrays["reason"][completed:][~cells.skip[completed:]] = INTERRUPTED
    done = np.flatnonzero(~cells.skip[:completed])
    # The scale each fitted cell kept (the cell loop may compare two for scale="auto").
    arrays["scale"] = np.array(cells.scale, dtype=np.float64)
    arrays["scale"][done] = out["scale"][done]
    facts = {name: value[done] for name, value in out["facts"].items()}
    search, natural = out["search"][done], out["natural"][done]
    limit = out["limit_reached"][done]
    verdicts = judge(info, method, search, natural, facts, limit)

    n = cells.lengths[done]
    unit_change = (n - facts["n_left"] - facts["n_right"]) * _logs(arrays["scale"][done])
    loglik = facts["loglik"] + unit_change
    k = search.shape[1]
    ntrans = len(info.transformation_names)
    for j, name in enumerate(info.transformation_names):
        arrays[name][done] = natural[:, j]
    columns = {
        "mu": natural[:, ntrans], "sigma": natural[:, ntrans + 1], "loglik": loglik,
        "log_posterior": facts["log_posterior"] + unit_change if settings.prior
        else np.full(done.size, np.nan),
        "aic": 2.0 * k - 2.0 * loglik, "bic": k * _logs(n) - 2.0 * loglik,
        "n": n, "n_left": facts["n_left"], "n_right": facts["n_right"],
        "count": out["count"][done], "evaluations": out["evaluations"][done],
        "runs": out["runs"][done], "polish_evaluations": out["polish_evaluations"][done],
        "converged": ~(limit | out["no_finite_value"][done]), "limit_reached": limit,
        "valid": verdicts.valid, "search": search, "fitted": True,
    }  # fmt: skip
    for name, value in columns.items():
        arrays[name][done] = value
    arrays["reason"][done] = verdicts.joined(verdicts.problems, "; ")
    arrays["notes"][done] = verdicts.joined(verdicts.notes, "\n")

    # Warnings, worded for the cells that raise any.
    rows = cells.rows[done]
    inside = np.arange(rows.shape[1]) < n[:, np.newaxis]
    with np.errstate(invalid="ignore"):
        below = ((rows < cells.left[done, np.newaxis]) & inside).sum(axis=1)
        above = ((rows > cells.right[done, np.newaxis]) & inside).sum(axis=1)
    low, high = out["low_values"][done], out["high_values"][done]
    texts = np.full(done.size, "", dtype=object)
    invalid = np.zeros(done.size, dtype=bool)
    for i in np.flatnonzero(low | high | limit | ~verdicts.valid):
        problems = tuple(verdicts.problems.get(int(i), ()))
        notes = warning_notes(
            info, method, below=int(below[i]) if low[i] else None,
            above=int(above[i]) if high[i] else None, left=float(cells.left[done[i]]),
            right=float(cells.right[done[i]]), limit_reached=bool(limit[i]),
            count=int(out["count"][done[i]]), problems=problems,
        )  # fmt: skip
        texts[i] = "\n".join(message for _, message in notes)
        invalid[i] = any(p != LIMIT_PROBLEM for p in problems)
    arrays["warnings"][done] = texts
    flags = {}
    for category, raised in ((CensoringWarning, low | high), (ConvergenceWarning, limit),
                             (InvalidFitWarning, invalid)):  # fmt: skip
        if raised.any():
            flags[category] = np.zeros(cells.size, dtype=bool)
            flags[category][done] = raised
    return Columns(arrays, flags)


def _logs(values: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """math.log of each value, as a single fit takes it (a grid holds few distinct ones)."""
    distinct, where = np.unique(values, return_inverse=True)
    return np.array([math.log(v) for v in distinct], dtype=np.float64)[where].reshape(
        np.shape(values)
    )
