"""How well a fit's normal describes the transformed series: plotting positions, the
probability-plot correlation and the Anderson-Darling statistic, censored values counted.

The uncensored values are judged as the middle part of the whole sample: with n_left values
censored below, the smallest uncensored value has rank n_left + 1 among all n values, and given
that a value is uncensored the fit puts it between the standardised thresholds. The normal
functions are the kernel module's accurate ones."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._input import as_float_array

if TYPE_CHECKING:
    from ferrule._result import Fit

__all__ = [
    "GoodnessOfFit",
    "anderson_darling_rows",
    "conditional_anderson_darling",
    "normality_p_value",
    "goodness_of_fit",
    "plotting_positions",
    "probability_plot_correlation",
]

Array = npt.NDArray[np.float64]


@dataclass(frozen=True, eq=False)
class GoodnessOfFit:
    """How closely the standardised uncensored values of a series follow the fitted normal.

    Returned by :meth:`Fit.goodness_of_fit`. ``quantiles`` and ``scores`` are the two axes
    of the normal Q-Q plot (as ``scipy.stats.probplot`` returns them, censored values
    ranked in).

    Attributes
    ----------
    ppcc : float
        Probability-plot correlation: the correlation of `scores` with `quantiles`. 1 when
        the Q-Q points lie on a straight line; NaN below 3 uncensored values or when they
        are all equal.
    anderson_darling : float
        Anderson-Darling statistic of the uncensored values against the fitted normal
        restricted to the interval between the standardised thresholds (smaller is better);
        inf when a value lies where the fit puts no mass, NaN without uncensored values.
    quantiles : ndarray
        Standard normal quantiles of the Blom plotting positions ``(i - 3/8) / (n + 1/4)``
        of the uncensored values, ranked within the whole sample of ``n`` values.
    scores : ndarray
        The standardised uncensored values (:meth:`Fit.to_normal`), sorted.
    n_left, n_right : int
        Values censored below and above, as the fit's likelihood counts them.

    Examples
    --------
    >>> import numpy as np, ferrule
    >>> x = np.random.default_rng(0).gamma(2.0, size=300)
    >>> result = ferrule.fit(x, seed=0).goodness_of_fit(x)
    >>> bool(result.ppcc > 0.99), result.quantiles.shape == result.scores.shape
    (True, True)
    """

    ppcc: float
    anderson_darling: float
    quantiles: Array
    scores: Array
    n_left: int
    n_right: int


def plotting_positions(n_left: int, n_inside: int, n_right: int) -> Array:
    """Blom's positions (i - 3/8) / (n + 1/4) of the uncensored order statistics: close to
    unbiased for normal ones. Ranks n_left + 1 ... n_left + n_inside of n values in all."""
    n = n_left + n_inside + n_right
    ranks = np.arange(n_left + 1, n_left + n_inside + 1, dtype=np.float64)
    return (ranks - 0.375) / (n + 0.25)


def normal_quantiles(probabilities: npt.ArrayLike) -> Array:
    return _core.ndtri(np.ascontiguousarray(probabilities, dtype=np.float64))


def probability_plot_correlation(z: npt.ArrayLike, n_left: int, n_right: int) -> float:
    """Correlation of the sorted z with the normal quantiles at their plotting positions;
    NaN below 3 values or for equal ones."""
    z = np.sort(np.asarray(z, dtype=np.float64))
    if z.size < 3 or z[0] == z[-1]:
        return math.nan
    q = normal_quantiles(plotting_positions(n_left, z.size, n_right))
    # Scores near the largest double overflow the products: the correlation is then NaN,
    # said by the result rather than by NumPy's warnings.
    with np.errstate(over="ignore", invalid="ignore"):
        return float(np.corrcoef(z, q)[0, 1])


def conditional_anderson_darling(z: npt.ArrayLike, z_left: float, z_right: float) -> float:
    """Anderson-Darling statistic of z against the standard normal restricted to (z_left, z_right).

    Given that a value is uncensored, u = (Phi(z) - Phi(z_left)) / (Phi(z_right) -
    Phi(z_left)) is uniform on (0, 1); with the u sorted,
        A^2 = -n - (1/n) sum_{i=1..n} (2i - 1) [log u_(i) + log(1 - u_(n+1-i))].
    inf when a value lies where the fit puts no mass."""
    z = np.sort(np.asarray(z, dtype=np.float64))
    n = z.size
    if n == 0:
        return math.nan
    # Both tails from the side where they are small, to keep them accurate: 1 - Phi(z) is
    # Phi(-z).
    low = _core.ndtr(z) - _core.ndtr(np.array([z_left]))[0]
    high = _core.ndtr(-z) - _core.ndtr(np.array([-z_right]))[0]
    inside = low + high
    weights = 2.0 * np.arange(1, n + 1, dtype=np.float64) - 1.0
    with np.errstate(divide="ignore", invalid="ignore"):
        terms = np.log(low / inside) + np.log((high / inside)[::-1])
    total = float(np.sum(weights * terms))
    if math.isnan(total):
        return math.inf
    return -n - total / n


def anderson_darling_rows(u: npt.ArrayLike) -> tuple[Array, Array]:
    """The Anderson-Darling statistic A^2 of each row of probabilities `u` against the
    uniform (NaN entries left out), and each row's count n; A^2 NaN for an empty row, inf
    where a probability is 0 or 1. The formula of :func:`conditional_anderson_darling`."""
    u = np.sort(np.asarray(u, dtype=np.float64), axis=-1)  # NaN last
    n = np.sum(~np.isnan(u), axis=-1)
    i = np.arange(1, u.shape[-1] + 1, dtype=np.float64)
    # Row r's mirror of position i is n_r + 1 - i, gathered from the sorted row.
    mirror = np.clip(n[..., np.newaxis] - i.astype(np.int64), 0, None)
    upper = np.take_along_axis(u, mirror, axis=-1)
    inside = i <= n[..., np.newaxis]
    with np.errstate(divide="ignore", invalid="ignore"):
        terms = np.where(inside, (2.0 * i - 1.0) * (np.log(u) + np.log1p(-upper)), 0.0)
        a2 = -n - np.sum(terms, axis=-1) / n
    a2 = np.where(np.isnan(a2) & (n > 0), np.inf, a2)
    return a2, n


def normality_p_value(a2: npt.ArrayLike, n: npt.ArrayLike) -> Array:
    """The p-value of the Anderson-Darling test of normality with the mean and variance
    estimated (D'Agostino and Stephens 1986): A* = A^2 (1 + 0.75/n + 2.25/n^2)
    in four pieces. Scores of a fit with more parameters pass it a little more easily."""
    n = np.asarray(n, dtype=np.float64)
    with np.errstate(divide="ignore", invalid="ignore", over="ignore"):
        a = np.asarray(a2, dtype=np.float64) * (1.0 + 0.75 / n + 2.25 / (n * n))
        p = np.select(
            [a < 0.2, a < 0.34, a < 0.6],
            [1.0 - np.exp(-13.436 + 101.14 * a - 223.73 * a * a),
             1.0 - np.exp(-8.318 + 42.796 * a - 59.938 * a * a),
             np.exp(0.9177 - 4.279 * a - 1.38 * a * a)],
            np.exp(1.2937 - 5.709 * a + 0.0186 * a * a),
        )  # fmt: skip
    return np.where(np.isfinite(a), np.clip(p, 0.0, 1.0), np.where(np.isnan(a), np.nan, 0.0))


def goodness_of_fit(fit: Fit, data: npt.ArrayLike) -> GoodnessOfFit:
    """The measures of `fit` on `data` (NaN values left out), censored as its likelihood
    censors them: the kernel decides at the fitted parameters."""
    x = as_float_array(data)
    x = x[~np.isnan(x)]
    search = np.asarray(fit.search, dtype=np.float64)
    if np.isnan(search).any():  # no optimum (NaN propagated): nothing to judge
        empty = np.empty(0)
        return GoodnessOfFit(math.nan, math.nan, empty, empty, 0, 0)
    model = fit._model  # its rescaling (x + shift) * scale, the one the fit used
    u = model._u(x)
    u_left, u_right = (float(t) for t in model._u(np.array([fit.left, fit.right])))
    codes = _core.censoring(fit.family, search, u, u_left, u_right)
    n_left, n_right = int(np.sum(codes < 0)), int(np.sum(codes > 0))
    z = np.sort(np.asarray(fit.to_normal(x[codes == 0]), dtype=np.float64))
    z_left, z_right = (float(v) for v in fit.to_normal([fit.left, fit.right]))
    return GoodnessOfFit(
        ppcc=probability_plot_correlation(z, n_left, n_right),
        anderson_darling=conditional_anderson_darling(z, z_left, z_right),
        quantiles=normal_quantiles(plotting_positions(n_left, z.size, n_right)),
        scores=z,
        n_left=n_left,
        n_right=n_right,
    )
