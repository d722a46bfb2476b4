"""Whether a fitted optimum is a usable model of the data, and if not, why not.

The one place where the library judges a fit. Every check reads the optimum as the
likelihood saw it: the series and thresholds in the units of the fit (rescaled) and the
censoring decision of the core at the best search vector.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from ferrule import _core

__all__ = ["Evidence", "MIN_DISTINCT", "LIMIT_PROBLEM", "counted", "find_problems"]

LIMIT_PROBLEM = "the optimiser stopped at its limit before converging"
MIN_DISTINCT = 5  # fewer distinct uncensored values cannot pin down four parameters
# A box search parameter within this fraction of the box's width of a bound sits on it.
_EDGE_FRACTION = 1e-6
# sigma this many times smaller or larger than the spread of the values it scales is not a
# model of them.
_ABSURD = 1e6
# Log-likelihoods at or below this are the objective refusing the parameters outright.
_REFUSED = -1e10
# Distinct values closer than this (relative) are rounding apart, such as sums of decimal
# amounts in another order: a map that merges them loses nothing the data say.
_ROUNDING_APART = 1e-12


def counted(count: int, noun: str) -> str:
    """ "1 value", "3 values".

    Examples
    --------
    >>> counted(1, "value"), counted(0, "pair")
    ('1 value', '0 pairs')
    """
    return f"{count} {noun}" if count == 1 else f"{count} {noun}s"


@dataclass(frozen=True)
class Evidence:
    info: _core.FamilyInfo
    method: str
    search: npt.NDArray[np.float64]
    natural: npt.NDArray[np.float64]
    data: npt.NDArray[np.float64]  # in the units of the fit
    left: float
    right: float
    codes: npt.NDArray[np.int8]  # the core's censoring decision per value
    loglik: float  # the core's log-likelihood without prior, in the units of the fit
    limit_reached: bool = False
    no_finite_value: bool = False


def find_problems(e: Evidence) -> tuple[str, ...]:
    """Reasons why the optimum is not a valid fit; empty when it is."""
    if e.no_finite_value or np.isnan(e.search).all():
        return ("the optimiser found no parameters with a finite likelihood",)
    found = []
    if e.limit_reached:
        found.append(LIMIT_PROBLEM)
    found += _search_box(e)
    found += _decoded(e)
    found += _likelihood(e)
    found += _order(e)
    distinct = np.unique(e.data[e.codes == 0]).size
    if distinct < MIN_DISTINCT:
        found.append(
            f"only {counted(distinct, 'distinct uncensored value')} (at least {MIN_DISTINCT} "
            "are needed)"
        )
    return tuple(found)


def _search_box(e: Evidence) -> list[str]:
    lower = np.array(e.info.search_lower)
    upper = np.array(e.info.search_upper)
    found = []
    if e.method == "nelder_mead":
        # The simplex is only given a start point: it may leave the box the decoding assumes.
        for i in np.flatnonzero(~((lower <= e.search) & (e.search <= upper))):
            found.append(
                f"search coordinate {i} = {e.search[i]:.6g} lies outside its box "
                f"[{lower[i]:g}, {upper[i]:g}]"
            )
        return found
    tolerance = _EDGE_FRACTION * (upper - lower)
    for i in np.flatnonzero(np.abs(e.search - lower) <= tolerance):
        found.append(f"search coordinate {i} = {e.search[i]:.6g} sits at its lower bound")
    for i in np.flatnonzero(np.abs(e.search - upper) <= tolerance):
        found.append(f"search coordinate {i} = {e.search[i]:.6g} sits at its upper bound")
    return found


def _decoded(e: Evidence) -> list[str]:
    named = dict(zip(e.info.natural_names, (float(v) for v in e.natural), strict=True))
    found = [f"{name} = {value:.4g} is not finite" for name, value in named.items()
             if not math.isfinite(value)]  # fmt: skip
    if math.isfinite(named["sigma"]) and not named["sigma"] > 0.0:
        found.append(f"sigma = {named['sigma']:.4g} is not positive")
    for name in e.info.positive_names:
        if math.isfinite(named[name]) and not named[name] > 0.0:
            found.append(f"{name} = {named[name]:.4g} is not positive")
    for name, (low, high) in e.info.accepted_ranges.items():
        if not low <= named[name] <= high:
            found.append(f"{name} = {named[name]:.4g} lies where the likelihood refuses it")
    return found


def _likelihood(e: Evidence) -> list[str]:
    if not math.isfinite(e.loglik):
        return ["the log-likelihood at the optimum is not finite"]
    if e.loglik <= _REFUSED:
        return [f"the log-likelihood at the optimum ({e.loglik:.4g}) is one the objective "
                "uses to refuse parameters"]  # fmt: skip
    uncensored = e.data[e.codes == 0]
    sigma = float(e.natural[-1])
    if uncensored.size < 2 or not sigma > 0.0:
        return []
    # sigma scales T(u) for the normal families, u itself for Jones-Pewsey.
    scaled = uncensored if e.info.models_raw_value else _transformed(e, uncensored)
    spread = float(np.std(scaled))
    if spread > 0.0 and math.isfinite(spread) and not 1 / _ABSURD <= sigma / spread <= _ABSURD:
        return [
            f"sigma = {sigma:.4g} is absurd for the spread of the values it scales "
            f"(standard deviation {spread:.4g})"
        ]
    return []


def _transformed(e: Evidence, u: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """What the fitted model makes standard normal, before standardising: T(u), or for
    Jones-Pewsey T((u - mu) / sigma)."""
    transformation = e.natural[: len(e.info.transformation_names)]
    if e.info.models_raw_value:
        u = (u - e.natural[-2]) / e.natural[-1]
    with np.errstate(all="ignore"):
        return _core.forward(e.info.key, transformation, u)


def _order(e: Evidence) -> list[str]:
    """The transformation must keep distinct values apart, in order, on the data."""
    found = []
    with np.errstate(invalid="ignore"):
        between = (e.left < e.data) & (e.data < e.right)
    undefined = int(np.isnan(_transformed(e, e.data[between])).sum())
    if undefined:
        found.append(
            f"the transformation is undefined at {counted(undefined, 'value')} between the "
            "thresholds"
        )
    distinct = np.unique(e.data[e.codes == 0])
    with np.errstate(invalid="ignore"):
        apart = np.diff(distinct) > _ROUNDING_APART * np.abs(distinct[1:])
    y = _transformed(e, distinct[np.r_[True, apart]] if distinct.size else distinct)
    with np.errstate(invalid="ignore"):
        step = np.diff(y[~np.isnan(y)])
    saturated = int((step == 0.0).sum())
    if saturated:
        found.append(
            f"the transformation saturates: {counted(saturated, 'pair')} of distinct "
            f"uncensored values {'maps' if saturated == 1 else 'map'} to one transformed value"
        )
    if (step < 0.0).any():
        found.append("the transformation decreases on the data")
    misplaced = int(np.sum(between != (e.codes == 0)))
    if misplaced:
        found.append(
            f"the censoring of {counted(misplaced, 'value')} disagrees with the thresholds "
            "(censored between them, or uncensored beyond them)"
        )
    return found
