"""``ferrule.fit_grid``: one fit per cell of a grid, on all cores, quietly."""

from __future__ import annotations

import math
import os
import warnings
from collections import Counter
from dataclasses import dataclass, replace
from typing import Any

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._choice import candidates, is_automatic, scale_free
from ferrule._grid.cells import Columns, GridSettings, judge_cells
from ferrule._grid.choice import chosen_columns, chosen_scale
from ferrule._grid.errors import GridFitInterrupted, MaskedCellsWarning
from ferrule._grid.input import Cells, cell_seeds, left_out_kind, prepare_cells
from ferrule._grid.progress import progress_bar
from ferrule._grid.result import GridFit
from ferrule._grid.schema import UNION_PARAMS
from ferrule._input import check_finite_left, finite_left, grid_array, positive_int
from ferrule._names import METHOD_TITLES, family_info, method_key
from ferrule._seeds import SeedLike, resolve_seed
from ferrule._warnings import CensoringWarning, ConvergenceWarning, InvalidFitWarning

__all__ = [
    "CellOptions",
    "GridRun",
    "fit_grid",
    "grid_settings",
    "n_threads",
    "run_grid",
    "warn_summary",
]

# Warnings point at the first frame outside the package (ferrule.xarray calls in here too).
_PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@dataclass(frozen=True)
class CellOptions:
    """The per-cell settings as the caller gave them (scalars or arrays)."""

    left: Any = -math.inf
    right: Any = math.inf
    scale: Any = "auto"
    shift: Any = 0.0
    mask: Any = None


@dataclass(frozen=True)
class GridRun:
    result: GridFit
    noted: Counter[type[Warning]]  # cells that raised each warning
    automatic: Counter[str]  # cells left out by this module, by reason
    interrupted: bool


def fit_grid(
    values: npt.ArrayLike,
    family: str = "yeo_johnson",
    *,
    axis: int = -1,
    method: str | None = None,
    left: npt.ArrayLike = -math.inf,
    right: npt.ArrayLike = math.inf,
    scale: npt.ArrayLike | str = "auto",
    shift: npt.ArrayLike = 0.0,
    prior: bool = False,
    seed: SeedLike = None,
    mask: npt.ArrayLike | None = None,
    n_jobs: int | None = None,
    progress: bool | None = None,
    max_converge: int = 5,
    max_eval: int = 100000,
    fast: bool = False,
) -> GridFit:
    """Fit one normalising transformation per cell of a grid of series.

    Every axis of `values` but `axis` is a cell dimension; each cell's series is fitted as
    :func:`ferrule.fit` fits it with ``nan_policy="omit"``: NaN values are missing days,
    left out, and the rest kept in their order. The cells run on `n_jobs` threads; the
    results do not depend on the number of threads. Nothing is printed: the warnings are
    summarised once per grid, with the count of cells behind each.

    Parameters
    ----------
    values : array_like
        Numbers of any shape; the series lie along `axis`.
    family : str, default "yeo_johnson"
        One family, as :func:`ferrule.fit` names it, or ``"auto"``: every family is fitted
        and each cell keeps the fit :func:`ferrule.fit` keeps with ``"auto"`` (the valid fit
        of lowest AIC; a family whose map needs a finite left threshold only where the
        cell has one). The grid's ``family`` is then ``"auto"``, ``family_code`` holds
        each cell's family and its ``params`` those of every family (NaN where the cell's
        family lacks one).
    axis : int, default -1
        The axis of the series.
    method : str, optional
        The optimiser, as :func:`ferrule.fit` names it; None: the family's default.
    left, right : float or array_like, default -inf, inf
        Censoring thresholds in data units: scalars, or arrays broadcastable to the cell
        shape (the shape of `values` without `axis`). Like `scale` and `shift`, they may
        be NaN in cells that are masked or hold no values (the sea of a map).
    scale : float, array_like or "auto", default "auto"
        Rescaling factor per cell; "auto" chooses it for each cell as :func:`ferrule.fit`
        does: the cell is fitted at 1 and at the power of ten that brings its largest
        finite ``|x + shift|`` into [1, 10), and keeps the valid fit of higher log-likelihood
        in data units (with ``fast=True``, and for Jones-Pewsey, the same model at every
        scale, the power of ten alone). ``GridFit.scale`` holds
        the scale each cell kept.
    shift : float or array_like, default 0.0
        Added to the values before scaling, per cell.
    prior : bool, default False
        Maximise the posterior with the family's prior.
    seed : None, int or numpy.random.Generator
        The base seed, as :func:`ferrule.fit` takes a seed. Cell i (its flat C-order index)
        runs with ``numpy.random.SeedSequence(base, spawn_key=(i,)).generate_state(1)[0]``;
        ``GridFit.seed`` holds them and ``GridFit.base_seed`` the base.
    mask : array_like of bool, optional
        True for cells not to fit (broadcastable to the cell shape). Cells whose values are
        all NaN, with fewer than 5 values, or with infinite values inside the thresholds
        are left out anyway (``GridFit.reason`` says why).
    n_jobs : int, optional
        Threads to fit on; None or -1: all the cores this process may use.
    progress : bool, optional
        Show a progress bar (needs tqdm). None: when standard error is a terminal and the
        grid is large (more than 1000 cells or 100000 values).
    max_converge, max_eval : int
        Shuffled complex evolution limits, as in :func:`ferrule.fit`.
    fast : bool, default False
        One optimiser run per cell; by default each cell gets the thorough fit of
        :func:`ferrule.fit` (restarts, independent runs with seeds derived from the cell's
        seed, and the analytic polish), inside the parallel cell loop.

    Returns
    -------
    GridFit
        Arrays of the cell shape for every per-cell field of a :class:`~ferrule.Fit`.

    Raises
    ------
    GridFitInterrupted
        Ctrl-C; its ``partial`` holds the cells finished before it.
    TypeError, ValueError
        Values that are not numbers, an axis out of range, unknown names, thresholds out
        of order or settings that do not broadcast to the cell shape.

    Warns
    -----
    MaskedCellsWarning
        Cells left out because they cannot be fitted (all NaN, too short, infinite values).
    CensoringWarning, ConvergenceWarning, InvalidFitWarning
        Once each, with the number of cells: values beyond a threshold, an optimiser at its
        limit, fits that are not valid.

    Examples
    --------
    >>> import numpy as np
    >>> import ferrule
    >>> rng = np.random.default_rng(0)
    >>> rain = np.maximum(rng.gamma(0.8, 4.0, size=(3, 4, 365)) - 1.0, 0.0)
    >>> rain[0, 0] = np.nan  # a sea cell
    >>> import warnings
    >>> with warnings.catch_warnings():
    ...     warnings.simplefilter("ignore", ferrule.MaskedCellsWarning)
    ...     grid = ferrule.fit_grid(rain, left=0.0, seed=1, n_jobs=2)
    >>> grid.shape, int(grid.valid.sum()), str(grid.reason[0, 0])
    ((3, 4), 11, 'all values are missing')
    >>> z = grid.to_normal(rain)  # each cell's series by its own fit
    """
    grid = grid_array(values, axis)
    settings = grid_settings(family, method, prior, seed, max_converge, max_eval, fast)
    run = run_grid(
        grid,
        settings,
        CellOptions(left, right, scale, shift, mask),
        np.arange(math.prod(grid.shape[:-1]), dtype=np.int64),
        n_jobs=n_threads(n_jobs),
        progress=progress,
    )
    result = replace(run.result, axis=int(axis))
    if run.interrupted:
        raise GridFitInterrupted(result)
    warn_summary(run, settings)
    return result


def grid_settings(
    family: str,
    method: str | None,
    prior: bool,
    seed: SeedLike,
    max_converge: int,
    max_eval: int,
    fast: bool = False,
) -> GridSettings:
    if is_automatic(family):
        # A named optimiser runs in every family; None: each family's own default.
        info, key = None, None if method is None else method_key(method, _core.FAMILIES[0])
    else:
        info = family_info(family)
        key = method_key(method, info)
    return GridSettings(
        info, key, bool(prior), resolve_seed(seed),
        positive_int(max_converge, "max_converge"), positive_int(max_eval, "max_eval"),
        bool(fast),
    )  # fmt: skip


def n_threads(n_jobs: int | None) -> int:
    """Threads for `n_jobs`: None or -1 means every core this process may use."""
    if n_jobs is None or (not isinstance(n_jobs, bool) and n_jobs == -1):
        return os.process_cpu_count() or 1
    return positive_int(n_jobs, "n_jobs")


def run_grid(
    grid: npt.NDArray[np.float64],
    settings: GridSettings,
    options: CellOptions,
    indices: npt.NDArray[np.int64],
    *,
    n_jobs: int,
    progress: bool | None,
) -> GridRun:
    """Fits the cells of `grid` (series along its last axis) whose flat indices in the
    whole grid are `indices` (they set the cell seeds), without raising warnings."""
    cells = prepare_cells(
        grid, left=options.left, right=options.right, scale=options.scale,
        shift=options.shift, mask=options.mask,
    )  # fmt: skip
    if settings.info is not None:
        check_finite_left(settings.info, cells.left, cells.scale, cells.shift, ~cells.skip)
    seeds = cell_seeds(settings.base_seed, indices.reshape(-1))
    # scale="auto": each cell is fitted at its power of ten and at 1 (the default fit) and
    # keeps the one the rule of choice prefers (valid first, then the higher log-likelihood
    # in data units), as ferrule.fit does.
    other = None
    if isinstance(options.scale, str) and not settings.fast:
        other = np.where(cells.scale != 1.0, 1.0, np.nan)
    columns, interrupted = _fit_families(settings, cells, seeds, n_jobs, progress, other)
    arrays = {name: value.reshape(cells.shape + value.shape[1:])
              for name, value in columns.arrays.items()}  # fmt: skip
    names = UNION_PARAMS if settings.info is None else settings.info.transformation_names
    scale = arrays.pop("scale")
    result = GridFit(
        family=settings.family, method=settings.method_name,
        params={name: arrays.pop(name) for name in names}, **arrays,
        seed=seeds.reshape(cells.shape), scale=scale,
        shift=cells.shift.reshape(cells.shape), left=cells.left.reshape(cells.shape),
        right=cells.right.reshape(cells.shape), prior=settings.prior,
        base_seed=settings.base_seed, max_converge=settings.max_converge,
        max_eval=settings.max_eval,
    )  # fmt: skip
    automatic = Counter(left_out_kind(r) for r in cells.reason[cells.automatic])
    return GridRun(result, columns.noted, automatic, interrupted)


def _fit_families(
    settings: GridSettings,
    cells: Cells,
    seeds: npt.NDArray[np.uint32],
    n_jobs: int,
    progress: bool | None,
    other_scale: npt.NDArray[np.float64] | None = None,
) -> tuple[Columns, bool]:
    """The judged cells of the family, or with "auto" of each family in turn (each in the
    cell loop on all cores) and then the one the rule picks per cell; `other_scale`: a
    second scale per cell (NaN: none) that the cell loop compares with its own."""
    infos = settings.infos
    finite = finite_left(cells.left, cells.scale, cells.shift)
    judged, completed = [], 0
    total = (cells.size * len(infos), int(cells.lengths.sum()) * len(infos))
    with progress_bar(progress, *total) as on_progress:
        for k, info in enumerate(infos):
            family_cells = _candidates_only(cells, candidates(info, finite))
            out = _core.fit_cells(
                info.key, family_cells.rows, family_cells.left, family_cells.right,
                family_cells.skip, method=settings.of_family(info).method,
                lengths=np.maximum(cells.lengths, 1), rescale=True, scale=cells.scale,
                shift=cells.shift, prior=settings.prior, seeds=seeds,
                max_converge=settings.max_converge, max_eval=settings.max_eval,
                n_threads=n_jobs, on_progress=_after(on_progress, k * cells.size),
                fast=settings.fast, other_scale=None if scale_free(info) else other_scale,
            )  # fmt: skip
            judged.append(_judged_scales(settings.of_family(info), family_cells, out, seeds))
            completed = int(out["completed"]) if k == len(infos) - 1 else 0
            if out["interrupted"]:
                break
    if settings.info is not None:
        return judged[0], bool(out["interrupted"])
    undone = ~cells.skip & (np.arange(cells.size) >= completed)
    return chosen_columns(infos, judged, undone), bool(out["interrupted"])


def _judged_scales(
    settings: GridSettings, cells: Cells, out: _core.GridFitOutput, seeds: npt.NDArray[np.uint32]
) -> Columns:
    """The judged cells of one family's run: with a second scale, per cell the fit that
    the rule of ``scale="auto"`` keeps (that of a single fit)."""
    judged = judge_cells(settings, cells, out, seeds)
    other = out["other"]
    if other is None:
        return judged
    fitted = ~np.isnan(other["scale"])
    at_other = replace(cells, skip=cells.skip | ~fitted,
                       scale=np.where(fitted, other["scale"], cells.scale))  # fmt: skip
    return chosen_scale([judged, judge_cells(settings, at_other, other, seeds)])


def _candidates_only(cells: Cells, allowed: npt.NDArray[np.bool_]) -> Cells:
    """`cells` with those where the family takes no part in the choice left out."""
    if allowed.all():
        return cells
    barred = ~allowed & ~cells.skip
    reason = np.where(barred, "the family needs a finite left threshold", cells.reason)
    return replace(cells, skip=cells.skip | barred, reason=reason)


def _after(on_progress: Any, offset: int) -> Any:
    """The progress callback of a family fitted after `offset` cells of others."""
    return None if on_progress is None else lambda done: on_progress(offset + done)


def warn_summary(run: GridRun, settings: GridSettings, total: int | None = None) -> None:
    """One warning per kind, with the number of cells behind it (of `total`, by default
    the result's); the warnings point at the user's line, outside this package."""
    total = run.result.size if total is None else total
    for message, category in summary_messages(run, settings, total):
        warnings.warn(message, category, stacklevel=2, skip_file_prefixes=(_PACKAGE_DIR,))


def summary_messages(
    run: GridRun, settings: GridSettings, total: int
) -> list[tuple[str, type[Warning]]]:
    messages = []
    if run.automatic:
        why = ", ".join(f"{count} with {kind}" for kind, count in sorted(run.automatic.items()))
        left_out = sum(run.automatic.values())
        messages.append((f"{left_out} of {total} cells were not fitted ({why}); "
                         "their reason field says why", MaskedCellsWarning))  # fmt: skip
    title = "Best-family" if settings.info is None else settings.info.title
    what = f"{title} fits" if settings.method is None else (
        f"{title} fits by {METHOD_TITLES[settings.method]}")  # fmt: skip
    if count := run.noted[CensoringWarning]:
        messages.append(
            (
                f"values lie beyond a censoring threshold in {count} of {total} "
                "cells; the fits count them as censored there",
                CensoringWarning,
            )
        )
    if count := run.noted[ConvergenceWarning]:
        messages.append((f"{what} stopped at their limit in {count} of {total} cells "
                         "(limit_reached); their results may not be optimal",
                         ConvergenceWarning))  # fmt: skip
    if count := run.noted[InvalidFitWarning]:
        messages.append(
            (
                f"{what} are not valid in {count} of {total} cells "
                "(valid; their reason field says why)",
                InvalidFitWarning,
            )
        )
    return messages
