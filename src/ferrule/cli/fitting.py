"""Fitting one family to the series with ``ferrule.fit``, and measuring the result."""

import warnings
from dataclasses import dataclass
from typing import TYPE_CHECKING

import numpy as np

from ferrule.cli.errors import in_option_words
from ferrule.cli.families import Family, families

if TYPE_CHECKING:
    from ferrule import Fit, GoodnessOfFit

# command-line name: (the library's method key, what the report calls it)
OPTIMISERS = {
    "simplex": ("nelder_mead", "Nelder-Mead simplex"),
    "de": ("differential_evolution", "differential evolution"),
    "sce": ("shuffled_complex_evolution", "shuffled complex evolution"),
}
AUTO = "auto"  # each family's own default optimiser


def optimiser_name(method: str) -> str:
    """The command-line name of a library method key.

    Examples
    --------
    >>> optimiser_name("nelder_mead")
    'simplex'
    """
    return next(name for name, (key, _) in OPTIMISERS.items() if key == method)


def grouped(
    keys_by_value: dict[str, list[str]], template: str = "{value} for {keys}", last: str = ", "
) -> str:
    """One phrase per value, the value that most families share last, for "the rest".

    Examples
    --------
    >>> grouped({"sce": ["logsinh", "jpt"], "simplex": ["yjt"]})
    'simplex for yjt, sce for the rest'
    >>> grouped({"3": ["yjt"], "4": ["logsinh", "jpt"]}, "{value} ({keys})", " or ")
    '3 (yjt) or 4 (the rest)'
    """
    ordered = sorted(keys_by_value.items(), key=lambda item: len(item[1]))
    *few, (most, _) = ordered
    phrases = [template.format(value=value, keys=", ".join(keys)) for value, keys in few]
    rest = template.format(value=most, keys="the rest" if few else "every family")
    return ", ".join(phrases) + (last if phrases else "") + rest


def default_optimisers() -> str:
    """Which optimiser each family runs under "auto", from the registry: "simplex for yjt, ..."."""
    chosen: dict[str, list[str]] = {}
    for family in families().values():
        chosen.setdefault(optimiser_name(family.info.default_method), []).append(family.key)
    return grouped(chosen)


@dataclass(frozen=True)
class FitSettings:
    optimiser: str  # a key of OPTIMISERS, or AUTO
    left: float
    right: float
    rescale: bool
    # The rescaling every fit uses, (x + shift) * scale: 1 and 0 when rescale is off.
    scale: float
    shift: float
    prior: bool
    seed: int  # of the stochastic optimisers; every family is fitted with it
    max_converge: int = 5
    max_eval: int = 100000
    fast: bool = False  # one optimiser run instead of restarts and a polish


class NotFitted(Exception):
    """The family cannot be fitted to this series with these settings; the text says why."""


@dataclass(frozen=True)
class FitOutcome:
    family: Family
    fit: "Fit"
    goodness: "GoodnessOfFit"  # of the fit on the series it was fitted to

    @property
    def z(self) -> np.ndarray:
        """The standardised uncensored values, sorted."""
        return self.goodness.scores

    @property
    def ppcc(self) -> float:
        return self.goodness.ppcc

    @property
    def anderson_darling(self) -> float:
        return self.goodness.anderson_darling

    @property
    def optimiser(self) -> str:
        return optimiser_name(self.fit.method)

    @property
    def problems(self) -> tuple[str, ...]:
        return self.fit.problems


def fit_family(family: Family, values: np.ndarray, settings: FitSettings) -> FitOutcome:
    import ferrule

    method = None if settings.optimiser == AUTO else OPTIMISERS[settings.optimiser][0]
    with warnings.catch_warnings():
        # The report states what these warnings say: the flags, the problems, the censoring.
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        try:
            fit = ferrule.fit(
                values, family.info.key, method=method, left=settings.left,
                right=settings.right, scale=settings.scale, shift=settings.shift,
                prior=settings.prior, seed=settings.seed, max_converge=settings.max_converge,
                max_eval=settings.max_eval, fast=settings.fast,
            )  # fmt: skip
        except ValueError as err:
            # The library refuses the family for this series (log-sinh at left = -inf).
            raise NotFitted(in_option_words(err)) from None
    if np.isnan(fit.search).all():
        raise NotFitted(fit.problems[0])
    return FitOutcome(family=family, fit=fit, goodness=fit.goodness_of_fit(values))
