"""Fitting one family to the series and measuring the result."""

import math
import re
from dataclasses import dataclass

import numpy as np

from ferrule.cli.capture import native_stdout_lines
from ferrule.cli.families import Family
from ferrule.cli.normality import conditional_anderson_darling, probability_plot_correlation

# key: (method, name, what the count on its "iterations: " line counts)
OPTIMISERS = {
    "simplex": ("optim_params", "Nelder-Mead simplex", "iterations"),
    "de": ("optim_paramsDE", "differential evolution", "generations"),
    "sce": ("optim_paramsSCE", "shuffled complex evolution", "likelihood evaluations"),
}
AUTO = "auto"  # each family's own default optimiser

_COUNT_LINE = re.compile(r"^iterations: (-?\d+)$")
_LIMIT_TEXT = "Reached maximum number of allowed iterations"


@dataclass(frozen=True)
class FitSettings:
    optimiser: str  # a key of OPTIMISERS, or AUTO
    left: float
    right: float
    rescale: bool
    scale: float
    shift: float
    prior: bool
    max_converge: int = 5
    max_eval: int = 100000


class NotFitted(Exception):
    """The family cannot be fitted to this series with these settings; the text says why."""


@dataclass
class FitOutcome:
    family: Family
    optimiser: str  # the key of OPTIMISERS that ran
    model: object  # the fitted ferrule.kestrel instance
    search: list[float]  # best search vector
    natural: list[float]  # transformation parameters, then mu and sigma
    log_lik: float  # censored log-likelihood at the optimum, without the prior
    aic: float
    count: int | None  # what the fit reported on its "iterations: " line
    hit_limit: bool
    problems: list[str]  # why the optimum is not a valid fit; empty when it is
    comparable: bool  # whether log-lik and AIC are on the footing of the normal-transform families
    console: list[str]  # the fit's own console lines
    fitted: np.ndarray  # the series as the likelihood sees it (shifted and scaled when rescaling)
    thresholds: tuple[float, float]  # on the same scale
    z: np.ndarray  # standardised uncensored values, sorted
    z_thresholds: tuple[float, float]
    n_left: int
    n_right: int
    ppcc: float
    anderson_darling: float


def fit_family(family: Family, values: np.ndarray, settings: FitSettings) -> FitOutcome:
    if family.key == "logsinh" and not math.isfinite(settings.left + settings.shift):
        # log(sinh(lambda * x + epsilon)) is undefined at -inf: every value would count as censored.
        raise NotFitted("log-sinh needs a finite left threshold (--left)")
    model = family.build(settings.scale, settings.shift)
    shift = settings.shift if settings.rescale else 0.0
    data = np.array(family.prepare(values, shift), dtype=np.float64)
    bounds = family.prepare(np.array([settings.left, settings.right]), shift)
    left, right = float(bounds[0]), float(bounds[1])

    optimiser = family.default_optimiser if settings.optimiser == AUTO else settings.optimiser
    method, _, _ = OPTIMISERS[optimiser]
    args = [data, left, right, settings.rescale, settings.prior]
    if optimiser == "sce":
        args += [settings.max_converge, settings.max_eval]
    with native_stdout_lines() as console:
        getattr(model, method)(*args)

    search = list(model.get_optimised_params())
    if len(search) != len(family.param_names) + 2:
        raise NotFitted("the optimiser found no point with a finite likelihood")
    params = np.array(search, dtype=np.float64)
    # Summed in index order, as the fit's own objective sums it.
    log_lik = 0.0
    for x in data:
        log_lik = model.log_density(params, float(x), left, right, settings.rescale) + log_lik
    natural = list(model.get_distribution_params())

    if settings.rescale:
        fitted = np.asarray(model.rescale_many(data))
        thresholds = np.asarray(model.rescale_many(np.array([left, right])))
    else:
        fitted, thresholds = data, np.array([left, right])
    # The likelihood's own test: uncensored when T(L) < T(x) < T(R), left-censored if T(x) <= T(L).
    y = np.asarray(model.transform_many(fitted))
    t_left, t_right = np.asarray(model.transform_many(thresholds))
    inside = (t_left < y) & (y < t_right)
    below = ~inside & (y <= t_left)
    n_left = int(below.sum())
    n_right = int(y.size - inside.sum() - n_left)
    # With an increasing transformation this is the same test on the values themselves.
    misplaced = int(np.sum(inside != ((fitted > thresholds[0]) & (fitted < thresholds[1]))))

    z = np.sort(family.standardise(model, fitted[inside]))
    z_left, z_right = (float(t) for t in family.standardise(model, thresholds))
    count, hit_limit = _read_console(console)
    # Jones-Pewsey's censored term is Phi((T(L) - mu) / sigma) rather than the mass its density
    # puts below L, Phi(T((L - mu) / sigma)): with censored values its likelihood is no longer
    # one of a probability model, and it cannot be ranked against the other families.
    comparable = not (family.models_raw_value and n_left + n_right > 0)
    return FitOutcome(
        family=family,
        optimiser=optimiser,
        model=model,
        search=search,
        natural=natural,
        log_lik=log_lik,
        aic=2.0 * len(search) - 2.0 * log_lik,
        count=count,
        hit_limit=hit_limit,
        problems=_problems(family, natural, log_lik, int(inside.sum()), misplaced),
        comparable=comparable,
        console=console,
        fitted=fitted,
        thresholds=(float(thresholds[0]), float(thresholds[1])),
        z=z,
        z_thresholds=(z_left, z_right),
        n_left=n_left,
        n_right=n_right,
        ppcc=probability_plot_correlation(z, n_left, n_right),
        anderson_darling=conditional_anderson_darling(z, z_left, z_right),
    )


def _problems(
    family: Family, natural: list[float], log_lik: float, n_inside: int, misplaced: int
) -> list[str]:
    """Ways in which an optimum lies outside the family's model.

    The simplex search is given only a start point, so it can leave the search box: a negative
    delta or sigma then decodes from the search vector, and the fit explains nothing. A fitted
    transformation can also saturate, mapping values strictly between the thresholds onto a
    transformed threshold, where the likelihood counts them as censored."""
    found = []
    sigma = natural[-1]
    if not sigma > 0.0 or not math.isfinite(sigma):
        found.append(f"sigma = {sigma:.4g} is not positive")
    if family.param_names[0] == "delta" and not natural[0] > 0.0:
        found.append(f"delta = {natural[0]:.4g} is not positive")
    if family.key == "logsinh" and not math.exp(-20.0) <= natural[1] <= 1.0:
        found.append(f"epsilon = {natural[1]:.4g} lies where the likelihood refuses it")
    if not math.isfinite(log_lik):
        found.append("the log-likelihood at the optimum is not finite")
    if n_inside == 0:
        found.append("no value lies strictly between the transformed thresholds")
    elif misplaced:
        found.append(
            f"{misplaced} values count as censored or uncensored against their place "
            "relative to the thresholds (the fitted transformation saturates or decreases)"
        )
    return found


def _read_console(lines: list[str]) -> tuple[int | None, bool]:
    count = None
    for line in lines:
        match = _COUNT_LINE.match(line.strip())
        if match:
            count = int(match.group(1))
    return count, any(_LIMIT_TEXT in line for line in lines)
