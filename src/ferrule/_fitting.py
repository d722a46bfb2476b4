"""``ferrule.fit``: one series, one family (or the best of all four), quietly."""

from __future__ import annotations

import math
import os
import sys
import warnings
from collections.abc import Callable
from dataclasses import dataclass, replace

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._choice import candidates, choose, is_automatic, scale_free
from ferrule._fit_progress import FitProgress, checked_progress, fit_progress
from ferrule._input import (
    Series,
    as_series,
    check_finite_left,
    check_rescaled,
    checked_scale,
    checked_thresholds,
    extremes,
    finite_left,
    positive_int,
)
from ferrule._names import COUNT_UNITS, METHOD_TITLES, family_info, method_key
from ferrule._result import Fit
from ferrule._seeds import SeedLike, resolve_seed
from ferrule._validity import LIMIT_PROBLEM, counted, judge
from ferrule._warnings import CensoringWarning, ConvergenceWarning, InvalidFitWarning

__all__ = ["fit", "fit_from_output", "warning_notes"]

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
# Console lines that become warnings rather than progress.
_WARNING_LINES = ("Warning:", "Reached maximum number")


@dataclass(frozen=True)
class _Settings:
    left: float
    right: float
    scale: float
    shift: float
    prior: bool
    seed: int
    max_converge: int
    max_eval: int
    fast: bool = False
    # scale="auto": the other candidate (1.0) when the power of ten is not 1; the fit keeps
    # whichever the rule of choice prefers (valid first, then the higher likelihood).
    other_scale: float | None = None


Note = tuple[type[Warning], str]


def fit(
    data: npt.ArrayLike,
    family: str = "yeo_johnson",
    *,
    method: str | None = None,
    left: float = -math.inf,
    right: float = math.inf,
    scale: float | str = "auto",
    shift: float = 0.0,
    prior: bool = False,
    seed: SeedLike = None,
    nan_policy: str = "raise",
    max_converge: int = 5,
    max_eval: int = 100000,
    fast: bool = False,
    verbose: bool = False,
    progress: FitProgress = None,
) -> Fit:
    """Fit a normalising transformation and a normal distribution to one series.

    The series is rescaled to ``u = (x + shift) * scale``; values at or below `left`, or
    at or above `right`, count as censored (their likelihood is the normal mass beyond
    the threshold). Nothing is printed: the optimiser's messages become warnings.

    Parameters
    ----------
    data : array_like
        One-dimensional series of numbers: a list, tuple, NumPy array (any numeric dtype,
        any strides), masked array (masked entries count as NaN), pandas Series (nullable
        dtypes too). Converted once to float64. Dates, time spans, booleans and text are
        refused rather than read as numbers.
    family : str, default "yeo_johnson"
        ``"yeo_johnson"``, ``"log_sinh"``, ``"sinh_asinh"`` or ``"jones_pewsey"``, or an
        alias (``"yjt"``, ``"logsinh"``, ``"sinhasinh"``, ``"jpt"``, ``"Yeo-Johnson"``...),
        in any case. ``"auto"`` fits every family and returns the one with the lowest AIC
        among the valid fits (log-sinh only with a finite left threshold). The other fits
        are in ``Fit.alternatives``. When no fit is valid, the lowest finite AIC is
        returned.
    method : str, optional
        ``"nelder-mead"`` (``"simplex"``), ``"differential-evolution"`` (``"de"``) or
        ``"shuffled-complex-evolution"`` (``"sce"``); hyphens or underscores, any case.
        None: the family's default (Nelder-Mead for Yeo-Johnson, shuffled complex
        evolution for the others).
    left, right : float, default -inf, inf
        Censoring thresholds in data units (``left < right``).
    scale : float or "auto", default "auto"
        Positive rescaling factor. "auto" fits at two scales, 1 and the power of ten that
        brings the largest finite ``|x + shift|`` into [1, 10), and keeps the valid fit of
        higher log-likelihood in data units (the transformations are not scale-equivariant,
        so the scale is part of the model): a valid fit before an invalid one, then never
        worse than ``scale=1``. ``Fit.scale`` is the one kept. With ``fast=True``, and for
        Jones-Pewsey (which models the raw value standardised by its own mu and sigma: one
        model at every scale), "auto" is the power of ten alone.
    shift : float, default 0.0
        Added to the values before scaling.
    prior : bool, default False
        Maximise the posterior with the family's prior on its transformation parameters.
    seed : None, int or numpy.random.Generator
        Seed of the stochastic optimisers. None draws fresh entropy; a Generator gives one
        32-bit draw; an int below 2**32 is used as it is, a larger one is reduced to 32 bits
        through ``numpy.random.SeedSequence``. ``Fit.seed`` holds the 32-bit seed used, so
        ``seed=fit.seed`` repeats any fit.
    nan_policy : {"raise", "omit", "propagate"}, default "raise"
        What NaN values do: raise ValueError; be left out (``Fit.n_dropped``); or give an
        invalid fit with NaN parameters.
    max_converge, max_eval : int
        Shuffled complex evolution: stop after `max_converge` shuffling loops without
        change, or after `max_eval` likelihood evaluations (per run).
    fast : bool, default False
        Run the optimiser once, as the exact layer does (and let ``scale="auto"`` be the
        power of ten without comparing it with 1). By default the fit does what it
        takes to reach the optimum: the best four of a few start points (moment
        estimates, or with censored values a normal quantile line through the uncensored
        ones) are polished by Newton steps with the analytic gradient of the censored
        likelihood within the search box. When two of them converge to one point, the
        best, inside the box and away from the family's degenerate limits, and none to
        another optimum, that point is the fit and no optimiser runs. Otherwise the single
        run follows, its end polished in turn, and more runs only until two end points
        agree on the best optimum (Nelder-Mead restarted from the best point while a
        restart gains more than 0.001; the stochastic searches with seeds derived from
        `seed`, at most four runs, each end whose polish did not converge followed by
        Nelder-Mead restarts along its valley). ``Fit.runs`` (0 when the starts settled it)
        and ``Fit.polish_evaluations`` say what ran.
    verbose : bool, default False
        Print the optimiser's progress lines to ``sys.stdout``.
    progress : None, bool or callable, default None
        Tell how a long fit goes. A callable is called now and then as
        ``progress(family, evaluations)`` with the family's key and the number of
        likelihood evaluations made so far (an exception it raises stops the fit and is
        raised). True shows a tqdm bar on standard error (``pip install 'ferrule[progress]'``),
        False nothing; None a bar when the series holds more than 100 000 values, standard
        error is a terminal and tqdm is installed. Either way, Ctrl-C stops a fit of any
        length within a fraction of a second (``KeyboardInterrupt``).

    Returns
    -------
    Fit
        Parameters, log-likelihood in data units, validity, and the fitted distribution
        (``cdf``, ``ppf``, ``to_normal``...).

    Raises
    ------
    TypeError
        Data that are not numbers; thresholds, shift or scale that are not numbers; a seed
        or `progress` of another kind.
    ValueError
        Data of another shape than one-dimensional, NaN values under
        ``nan_policy="raise"``, infinite values not beyond a threshold, unknown names,
        thresholds out of order, a scale that is not positive, counts outside 1 to 2**31 - 1.

    Warns
    -----
    CensoringWarning
        Values lie below `left` or above `right`.
    ConvergenceWarning
        The optimiser stopped at its limit.
    InvalidFitWarning
        No finite likelihood was found, or the optimum is not a valid fit
        (``Fit.problems``).

    Examples
    --------
    >>> import numpy as np
    >>> import ferrule
    >>> rng = np.random.default_rng(42)
    >>> rain = np.maximum(rng.gamma(0.8, 4.0, size=500) - 1.0, 0.0)
    >>> fit = ferrule.fit(rain, left=0.0, seed=1)
    >>> fit.family, fit.n_left > 100, fit.valid
    ('yeo_johnson', True, True)
    >>> best = ferrule.fit(rain, "auto", left=0.0, seed=1)
    >>> sorted(f.family for f in (best, *best.alternatives))
    ['jones_pewsey', 'log_sinh', 'sinh_asinh', 'yeo_johnson']
    """
    left, right, shift = checked_thresholds(left, right, shift)
    progress = checked_progress(progress)
    series = as_series(data, nan_policy, left, right)
    chosen_scale = checked_scale(scale, series.values, shift)
    other = 1.0 if isinstance(scale, str) and chosen_scale != 1.0 and not fast else None
    settings = _Settings(
        left, right, chosen_scale, shift, bool(prior), resolve_seed(seed),
        positive_int(max_converge, "max_converge"), positive_int(max_eval, "max_eval"),
        bool(fast), other,
    )  # fmt: skip
    low, high = extremes(series.values[np.newaxis])
    left_, right_, scale_, shift_ = _one_cell(settings)
    check_rescaled(low, high, left_, right_, scale_, shift_, np.array([True]))
    automatic = is_automatic(family)
    if automatic:
        finite = finite_left(left_, scale_, shift_)
        infos = tuple(i for i in _core.FAMILIES if candidates(i, finite)[0])
    else:
        infos = (family_info(family),)
        check_finite_left(infos[0], left_, scale_, shift_, np.array([True]))

    fits, notes = [], []
    for info in infos:
        with fit_progress(progress, series.values.size, info.key, info.title) as on_progress:
            one, one_notes, lines = _fit_one(
                info, method_key(method, info), series, settings, on_progress
            )
        fits.append(one)
        notes.append(one_notes)
        if verbose:
            _print_progress(info.key, lines)
    chosen = _choose(fits) if automatic else 0
    # Data-level notes (censoring) are the same for every family: raise them once.
    for category, message in notes[chosen]:
        warnings.warn(message, category, stacklevel=2, skip_file_prefixes=(_PACKAGE_DIR,))
    if automatic:
        return fits[chosen].with_alternatives(tuple(f for i, f in enumerate(fits) if i != chosen))
    return fits[chosen]


def _one_cell(s: _Settings) -> tuple[np.ndarray, ...]:
    """The settings of a series as the rules of a grid's cells take them."""
    return tuple(np.array([value]) for value in (s.left, s.right, s.scale, s.shift))


def _print_progress(key: str, lines: list[str]) -> None:
    for line in lines:
        if not any(marker in line for marker in _WARNING_LINES):
            print(f"[{key}] {line}", file=sys.stdout)
    sys.stdout.flush()


def _choose(fits: list[Fit]) -> int:
    """Index of the fit the "auto" rules (of family and of scale) pick: the lowest AIC
    among valid fits, so between scales a valid fit first, then the higher log-likelihood."""
    return int(choose([f.aic for f in fits], [f.valid for f in fits]))


def _fit_one(
    info: _core.FamilyInfo,
    method: _core.MethodKey,
    series: Series,
    s: _Settings,
    on_progress: Callable[[int], None] | None = None,
) -> tuple[Fit, list[Note], list[str]]:
    if series.n_nan and series.n_dropped == 0:
        return _propagated(info, method, series, s), [], []
    fitted = _fit_at_scale(info, method, series, s, on_progress)
    if s.other_scale is None or scale_free(info):
        return fitted
    unit_settings = replace(s, scale=s.other_scale, other_scale=None)
    # The second scale's count goes on from the first's, so that progress only grows.
    done = fitted[0].evaluations
    later = None if on_progress is None else lambda n: on_progress(done + n)
    unit = _fit_at_scale(info, method, series, unit_settings, later)
    return (fitted, unit)[_choose([fitted[0], unit[0]])]


def _fit_at_scale(
    info: _core.FamilyInfo,
    method: _core.MethodKey,
    series: Series,
    s: _Settings,
    on_progress: Callable[[int], None] | None,
) -> tuple[Fit, list[Note], list[str]]:
    values = series.values
    out = _core.fit(
        info.key, values, s.left, s.right, method=method, rescale=True,
        scale=s.scale, shift=s.shift, prior=s.prior, seed=s.seed,
        max_converge=s.max_converge, max_eval=s.max_eval, on_progress=on_progress,
        fast=s.fast,
    )  # fmt: skip
    result, notes = fit_from_output(info, method, series, s, out)
    return result, notes, list(out["messages"])


def fit_from_output(
    info: _core.FamilyInfo,
    method: _core.MethodKey,
    series: Series,
    s: _Settings,
    out: _core.FitOutput,
) -> tuple[Fit, list[Note]]:
    """The Fit and the warnings of one optimiser run on `series`, from the facts the core
    computed at its optimum."""
    values = series.values
    facts = out["facts"]
    search = np.asarray(out["search"], dtype=np.float64)
    natural = np.asarray(out["natural"], dtype=np.float64)
    verdicts = judge(info, method, search, natural, facts, np.array([out["limit_reached"]]))
    problems, fit_notes = verdicts.of(0)
    n = values.size
    n_left, n_right = int(facts["n_left"][0]), int(facts["n_right"][0])
    unit_change = (n - n_left - n_right) * math.log(s.scale)
    loglik = float(facts["loglik"][0]) + unit_change
    log_posterior = float(facts["log_posterior"][0]) + unit_change if s.prior else None
    notes = warning_notes(
        info, method, below=int(np.sum(values < s.left)) if out["low_values"] else None,
        above=int(np.sum(values > s.right)) if out["high_values"] else None, left=s.left,
        right=s.right, limit_reached=bool(out["limit_reached"]), count=int(out["count"]),
        problems=problems,
    )  # fmt: skip
    k = search.size
    ntrans = len(info.transformation_names)
    result = Fit(
        family=info.key,
        method=method,
        params=dict(zip(info.transformation_names, map(float, natural[:ntrans]), strict=True)),
        mu=float(natural[ntrans]),
        sigma=float(natural[ntrans + 1]),
        search=search,
        loglik=loglik,
        log_posterior=log_posterior,
        aic=2.0 * k - 2.0 * loglik,
        bic=k * math.log(n) - 2.0 * loglik,
        n=n,
        n_left=n_left,
        n_right=n_right,
        n_dropped=series.n_dropped,
        count=int(out["count"]),
        count_unit=COUNT_UNITS[method],
        evaluations=int(out["evaluations"]),
        runs=int(out.get("runs", 1)),
        polish_evaluations=int(out.get("polish_evaluations", 0)),
        converged=not (out["limit_reached"] or out["no_finite_value"]),
        limit_reached=bool(out["limit_reached"]),
        valid=not problems,
        problems=problems,
        notes=fit_notes,
        warnings=tuple(message for _, message in notes),
        seed=s.seed,
        scale=s.scale,
        shift=s.shift,
        left=s.left,
        right=s.right,
        prior=s.prior,
        console=tuple(out["messages"]),
    )
    return result, notes


def warning_notes(
    info: _core.FamilyInfo,
    method: str,
    *,
    below: int | None,
    above: int | None,
    left: float,
    right: float,
    limit_reached: bool,
    count: int,
    problems: tuple[str, ...],
) -> list[Note]:
    """The warnings a fit raises, in the library's words: `below` / `above` the values
    beyond a threshold (None when the core found none)."""
    notes: list[Note] = []
    if below is not None:
        notes.append((CensoringWarning, _beyond(below, f"below the left threshold {left:g}")))
    if above is not None:
        notes.append((CensoringWarning, _beyond(above, f"above the right threshold {right:g}")))
    what = f"{info.title} fit by {METHOD_TITLES[method]}"
    if limit_reached:
        notes.append((ConvergenceWarning, f"{what} stopped at its limit after {count} "
                      f"{COUNT_UNITS[method]}; the result may not be optimal"))  # fmt: skip
    # A limit reached has its own warning above.
    reasons = [problem for problem in problems if problem != LIMIT_PROBLEM]
    if reasons:
        notes.append((InvalidFitWarning, f"{what} is not valid: " + "; ".join(reasons)))
    return notes


def _beyond(count: int, where: str) -> str:
    lie, them = ("lies", "it") if count == 1 else ("lie", "them")
    return f"{counted(count, 'value')} {lie} {where}; the fit counts {them} as censored there"


def _propagated(info: _core.FamilyInfo, method: str, series: Series, s: _Settings) -> Fit:
    """nan_policy="propagate" with NaN values: no fit, NaN parameters, and why."""
    nan = math.nan
    width = len(info.search_start)
    return Fit(
        family=info.key, method=method, params=dict.fromkeys(info.transformation_names, nan),
        mu=nan, sigma=nan, search=np.full(width, nan), loglik=nan,
        log_posterior=nan if s.prior else None, aic=nan, bic=nan, n=series.values.size,
        n_left=0, n_right=0, n_dropped=0, count=0, count_unit=COUNT_UNITS[method],
        evaluations=0, converged=False, limit_reached=False, valid=False,
        problems=(f"the data hold {counted(series.n_nan, 'NaN value')} (nan_policy='propagate')",),
        warnings=(), seed=s.seed, scale=s.scale, shift=s.shift, left=s.left, right=s.right,
        prior=s.prior,
    )  # fmt: skip
