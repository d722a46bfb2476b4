"""Whether fitted optima are usable models of their data, why not, and what to note.

The one place where the library judges fits and words its verdicts. The facts come from
the core, computed where each fit ended (``_core.fit_facts``: the series in the units of
the fit, the core's censoring at the optimum); here they become problems (the fit is not
valid) and notes (it is, with something worth knowing). Every check runs on arrays of
facts, one entry per fit: a single fit is one cell of a grid.
"""

from __future__ import annotations

from collections import defaultdict
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field

import numpy as np
import numpy.typing as npt

from ferrule import _core

__all__ = [
    "LIMIT_GAP",
    "LIMIT_PROBLEM",
    "MAX_MASS_BEYOND_RANGE",
    "MAX_ROUND_TRIP_ERROR",
    "MIN_DISTINCT",
    "Verdicts",
    "counted",
    "judge",
]

LIMIT_PROBLEM = "the optimiser stopped at its limit before converging"
NO_FINITE_VALUE = "the optimiser found no parameters with a finite likelihood"
MIN_DISTINCT = 5  # fewer distinct uncensored values cannot pin down four parameters
# A share of the fitted normal beyond the transformation's range above this is noted: the
# fitted distribution is that normal cut to the range and renormalised (a proper
# distribution, often the better model of a heavy tail: Yeo-Johnson with lambda < 0 on
# lognormal data leaves a tenth or more there). Centred on the range's end, with half
# outside, it is Yeo-Johnson's degenerate limit, a problem.
MAX_MASS_BEYOND_RANGE = 1e-6
# The relative error within which the model must give its extreme values back: well above
# what T and its inverse lose near the end of a bounded range, far below a value not given
# back (inf, or another value).
MAX_ROUND_TRIP_ERROR = 1e-3
# sigma this many times smaller or larger than the spread of the values it scales is not a
# model of them.
_ABSURD = 1e6
# Log-likelihoods at or below this are the objective refusing the parameters outright.
_REFUSED = -1e10
# A fit whose likelihood the family's limit along a ridge (the core's FitFacts.limitGain:
# sinh-arcsinh's epsilon -> +-inf at the same parameters, or a point further along the ridge
# with the other parameters settled) reaches within this is that limit: the data cannot
# tell the two apart. The core's constant, which the default fit's choice
# among its end points applies too.
LIMIT_GAP = _core.LIMIT_GAP

# Each family's degenerate limit (the core's FitFacts.degenerateLimit), in words.
_LIMITS = {
    "yeo_johnson": "lambda = {lambda:.4g} is an extreme power: the fitted normal is centred "
    "on the end of the transformation's range, mu = {mu:.4g} undetermined by the data, "
    "sigma = {sigma:.4g} without bound",
    "log_sinh": "the fit is log-sinh's linear limit (lambda = {lambda:.4g}, epsilon = "
    "{epsilon:.4g}): the transformation is linear on the data and its parameters are not "
    "determined",
    "sinh_asinh": "the fit is sinh-arcsinh's limit delta -> {towards} (delta = {delta:.4g}): "
    "its parameters are not determined",
    "jones_pewsey": "the fit is Jones-Pewsey's limit delta -> {towards} (delta = {delta:.4g}): "
    "its parameters are not determined",
}


# The limits along the families' ridges (the core's FitFacts.limit; sinh-arcsinh: 1 delta ->
# 0, 2 and 3 epsilon -> -inf and inf, 4 delta -> inf along T's step; Yeo-Johnson: 1 and 2
# lambda -> -inf and inf), in words; epsilon's also where epsilon or mu sits on its box
# edge, which cuts those ridges.
_EPSILON_LIMIT = (
    "the fit is sinh-arcsinh's limit epsilon -> {side} (epsilon = {epsilon:.4g}, delta = "
    "{delta:.4g}): the transformation is one exponential of delta asinh(x) on the data and "
    "epsilon is not determined"
)
# Limits whose family keeps a parameter of its own (the core probes them: the shape moved
# further towards the limit, the other parameters settled, the likelihood no lower there; a
# point short of an optimum in that shape shows the same).
_PROBED_LIMIT = (
    "the fit lies on the way up towards {family}'s limit {name} -> {side} ({what}): the "
    "likelihood does not fall as {name} moves further with the other parameters settled, so "
    "the fit is no optimum in {name}, and where it stops is set by the optimiser, not by the "
    "data"
)
_RIDGE_LIMITS = {
    ("sinh_asinh", 1): _LIMITS["sinh_asinh"],
    ("sinh_asinh", 2): _EPSILON_LIMIT,
    ("sinh_asinh", 3): _EPSILON_LIMIT,
    ("sinh_asinh", 4): _PROBED_LIMIT.format(
        family="sinh-arcsinh", name="delta", side="inf",
        what="delta = {delta:.4g}, epsilon = {epsilon:.4g}",
    ),
    ("yeo_johnson", 1): _PROBED_LIMIT.format(
        family="Yeo-Johnson", name="lambda", side="-inf", what="lambda = {lambda:.4g}"
    ),
    ("yeo_johnson", 2): _PROBED_LIMIT.format(
        family="Yeo-Johnson", name="lambda", side="inf", what="lambda = {lambda:.4g}"
    ),
}  # fmt: skip
# A box edge that is not the first parameter's: the limit of the ridge that edge cuts.
_OTHER_EDGE_LIMITS = {"sinh_asinh": _EPSILON_LIMIT}


def counted(count: int, noun: str) -> str:
    """ "1 value", "3 values".

    Examples
    --------
    >>> counted(1, "value"), counted(0, "pair")
    ('1 value', '0 pairs')
    """
    return f"{count} {noun}" if count == 1 else f"{count} {noun}s"


@dataclass
class Verdicts:
    """Problems and notes of m fits, kept only for the fits that have any."""

    size: int
    problems: dict[int, list[str]] = field(default_factory=lambda: defaultdict(list))
    notes: dict[int, list[str]] = field(default_factory=lambda: defaultdict(list))

    def add(self, to: dict[int, list[str]], where: npt.ArrayLike,
            words: Callable[[int], str]) -> None:  # fmt: skip
        for i in np.flatnonzero(where):
            to[int(i)].append(words(int(i)))

    @property
    def valid(self) -> npt.NDArray[np.bool_]:
        out = np.ones(self.size, dtype=bool)
        out[list(self.problems)] = False
        return out

    def of(self, i: int) -> tuple[tuple[str, ...], tuple[str, ...]]:
        """The problems and notes of fit i."""
        return tuple(self.problems.get(i, ())), tuple(self.notes.get(i, ()))

    def joined(self, which: Mapping[int, list[str]], sep: str) -> npt.NDArray[np.object_]:
        out = np.full(self.size, "", dtype=object)
        for i, texts in which.items():
            out[i] = sep.join(texts)
        return out


def judge(
    info: _core.FamilyInfo,
    method: str,
    search: npt.NDArray[np.float64],
    natural: npt.NDArray[np.float64],
    facts: Mapping[str, np.ndarray],
    limit_reached: npt.NDArray[np.bool_],
) -> Verdicts:
    """The verdicts of m fits of one family by one method: search (m, k) and natural (m, k)
    their optima, facts the core's arrays (m,), limit_reached (m,)."""
    search = np.atleast_2d(search)
    natural = np.atleast_2d(natural)
    v = Verdicts(search.shape[0])
    none = np.isnan(search).all(axis=1)
    v.add(v.problems, none, lambda i: NO_FINITE_VALUE)
    found = ~none
    v.add(v.problems, found & limit_reached, lambda i: LIMIT_PROBLEM)
    _search_box(v, info, method, search, facts, found)
    _decoded(v, info, natural, found)
    _likelihood(v, natural, facts, found)
    _order(v, facts, found)
    distinct = facts["distinct_uncensored"]
    v.add(
        v.problems, found & (distinct < MIN_DISTINCT),
        lambda i: f"only {counted(int(distinct[i]), 'distinct uncensored value')} (at least "
        f"{MIN_DISTINCT} are needed)",
    )  # fmt: skip
    _model(v, info, natural, facts, found)
    return v


def _bits(mask: np.ndarray, j: int) -> npt.NDArray[np.bool_]:
    return (mask.astype(np.uint32) >> np.uint32(j)) & np.uint32(1) == 1


def _search_box(v: Verdicts, info: _core.FamilyInfo, method: str, search: np.ndarray,
                facts: Mapping[str, np.ndarray], found: np.ndarray) -> None:  # fmt: skip
    lower, upper = info.search_lower, info.search_upper
    if method == "nelder_mead":
        # The simplex is only given a start point: it may leave the box the decoding assumes.
        for j in range(search.shape[1]):
            v.add(
                v.problems, found & _bits(facts["outside_box"], j),
                lambda i, j=j: f"search coordinate {j} = {search[i, j]:.6g} lies outside its "
                f"box [{lower[j]:g}, {upper[j]:g}]",
            )  # fmt: skip
        return
    for side in ("lower", "upper"):
        for j in range(search.shape[1]):
            at = _bits(facts[f"at_{side}"], j)
            constrained = _bits(facts["constrained"], j)
            edge = f"search coordinate {j} = {{:.6g}} sits at its {side} bound"
            v.add(v.problems, found & at & ~constrained,
                  lambda i, e=edge, j=j: e.format(search[i, j]))  # fmt: skip
            v.add(
                v.notes, found & at & constrained,
                lambda i, e=edge, j=j: e.format(search[i, j]) + ", where the likelihood is "
                "highest within the search box: a constrained optimum, valid",
            )  # fmt: skip


def _decoded(v: Verdicts, info: _core.FamilyInfo, natural: np.ndarray,
             found: np.ndarray) -> None:  # fmt: skip
    named = dict(zip(info.natural_names, natural.T, strict=True))
    with np.errstate(invalid="ignore"):
        for name, value in named.items():
            v.add(v.problems, found & ~np.isfinite(value),
                  lambda i, n=name, x=value: f"{n} = {x[i]:.4g} is not finite")  # fmt: skip
        for name in ("sigma", *info.positive_names):
            value = named[name]
            v.add(v.problems, found & np.isfinite(value) & ~(value > 0.0),
                  lambda i, n=name, x=value: f"{n} = {x[i]:.4g} is not positive")  # fmt: skip
        for name, (low, high) in info.accepted_ranges.items():
            value = named[name]
            v.add(
                v.problems, found & ~((low <= value) & (value <= high)),
                lambda i, n=name, x=value: f"{n} = {x[i]:.4g} lies where the likelihood "
                "refuses it",
            )  # fmt: skip


def _likelihood(v: Verdicts, natural: np.ndarray, facts: Mapping[str, np.ndarray],
                found: np.ndarray) -> None:  # fmt: skip
    loglik, spread, sigma = facts["loglik"], facts["spread"], natural[:, -1]
    infinite = found & ~np.isfinite(loglik)
    v.add(v.problems, infinite, lambda i: "the log-likelihood at the optimum is not finite")
    refused = found & ~infinite & (loglik <= _REFUSED)
    v.add(
        v.problems, refused,
        lambda i: f"the log-likelihood at the optimum ({loglik[i]:.4g}) is one the objective "
        "uses to refuse parameters",
    )  # fmt: skip
    with np.errstate(invalid="ignore", divide="ignore"):
        ratio = sigma / spread
        absurd = (sigma > 0.0) & (spread > 0.0) & np.isfinite(spread)
        absurd &= ~((1 / _ABSURD <= ratio) & (ratio <= _ABSURD))
    v.add(
        v.problems, found & ~infinite & ~refused & absurd,
        lambda i: f"sigma = {sigma[i]:.4g} is absurd for the spread of the values it scales "
        f"(standard deviation {spread[i]:.4g})",
    )  # fmt: skip


def _order(v: Verdicts, facts: Mapping[str, np.ndarray], found: np.ndarray) -> None:
    """The transformation must keep distinct values apart, in order, on the data."""
    undefined, saturated = facts["undefined_values"], facts["saturated_pairs"]
    misplaced = facts["misplaced_values"]
    v.add(
        v.problems, found & (undefined > 0),
        lambda i: f"the transformation is undefined at {counted(int(undefined[i]), 'value')} "
        "between the thresholds",
    )  # fmt: skip
    v.add(
        v.problems, found & (saturated > 0),
        lambda i: f"the transformation saturates: {counted(int(saturated[i]), 'pair')} of "
        f"distinct uncensored values {'maps' if saturated[i] == 1 else 'map'} to one "
        "transformed value",
    )  # fmt: skip
    v.add(v.problems, found & (facts["decreasing_steps"] > 0),
          lambda i: "the transformation decreases on the data")  # fmt: skip
    v.add(
        v.problems, found & (misplaced > 0),
        lambda i: f"the censoring of {counted(int(misplaced[i]), 'value')} disagrees with the "
        "thresholds (censored between them, or uncensored beyond them)",
    )  # fmt: skip


def _model(v: Verdicts, info: _core.FamilyInfo, natural: np.ndarray,
           facts: Mapping[str, np.ndarray], found: np.ndarray) -> None:  # fmt: skip
    """The fitted distribution: its mass inside the map's range, its inverse on the data,
    and the family's degenerate limit."""
    beyond, error = facts["mass_beyond_range"], facts["round_trip_error"]
    with np.errstate(invalid="ignore"):
        v.add(
            v.notes, found & (beyond > MAX_MASS_BEYOND_RANGE),
            lambda i: f"the fitted normal leaves {beyond[i]:.3g} of its probability beyond "
            "the transformation's range; the distribution is that normal cut to the range "
            "and renormalised",
        )  # fmt: skip
        v.add(
            v.problems, found & ~(error <= MAX_ROUND_TRIP_ERROR) & ~np.isnan(error),
            lambda i: "the fitted model does not give its own data back: the inverse of an "
            f"extreme value is off by a relative {error[i]:.3g}",
        )  # fmt: skip
    names = info.natural_names
    with np.errstate(invalid="ignore"):
        ridge = facts["limit_gain"] >= -LIMIT_GAP
    delta_edge = _bits(facts["at_lower"] | facts["at_upper"], 0)
    limit = np.where(ridge, facts["limit"], 0)
    v.add(
        v.problems, found & (facts["degenerate_limit"] | ridge),
        lambda i: _limit_text(info.key, int(limit[i]), bool(delta_edge[i])).format(
            **_limit_words(names, natural[i], int(limit[i]))
        ),
    )  # fmt: skip


def _limit_text(family: str, limit: int, delta_edge: bool) -> str:
    """The words of a family's degenerate limit: the ridge limit the core names, else the
    box edge's (sinh-arcsinh's epsilon limit unless delta sits on its edge)."""
    if limit:
        return _RIDGE_LIMITS[family, limit]
    if not delta_edge and family in _OTHER_EDGE_LIMITS:
        return _OTHER_EDGE_LIMITS[family]
    return _LIMITS[family]


def _limit_words(names: tuple[str, ...], natural: np.ndarray, limit: int = 0) -> dict[str, object]:
    """The fields a limit's words name: the natural parameters, and the end of its range the
    limit's parameter tends to: for a tail weight delta (its box's ends are 1/999 and 999),
    for epsilon the side of the core's limit (2: -inf, 3: inf) or else epsilon's sign."""
    named: dict[str, object] = dict(zip(names, natural, strict=True))
    named["towards"] = "inf" if named.get("delta", 0.0) > 1.0 and limit != 1 else "0"
    low = limit == 2 or (limit == 0 and named.get("epsilon", 0.0) < 0)
    named["side"] = "-inf" if low else "inf"
    return named
