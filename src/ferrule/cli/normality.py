"""Normality checks of standardised values when part of the sample is censored.

Both checks take the standardised uncensored values z (which the fit models as standard normal)
together with the number of values censored on each side, so that the uncensored values are
judged as the middle part of the whole sample rather than as a sample of their own. The normal
functions are the library's accurate ones."""

import math

import numpy as np


def _floats(values) -> np.ndarray:
    return np.ascontiguousarray(values, dtype=np.float64)


def normal_cdf(z: np.ndarray) -> np.ndarray:
    """Phi(z), accurate far into the lower tail."""
    from ferrule import _core

    return _core.ndtr(_floats(z))


def normal_sf(z: np.ndarray) -> np.ndarray:
    """1 - Phi(z) = Phi(-z), accurate far into the upper tail."""
    from ferrule import _core

    return _core.ndtr(-_floats(z))


def plotting_positions(n_left: int, n_inside: int, n_right: int) -> np.ndarray:
    """Blom's positions (i - 3/8) / (n + 1/4) of the uncensored order statistics.

    With n_left values censored below, the smallest uncensored value has rank n_left + 1 in the
    whole sample of n = n_left + n_inside + n_right values."""
    n = n_left + n_inside + n_right
    ranks = np.arange(n_left + 1, n_left + n_inside + 1, dtype=np.float64)
    return (ranks - 0.375) / (n + 0.25)


def normal_quantiles(probabilities: np.ndarray) -> np.ndarray:
    from ferrule import _core

    return _core.ndtri(_floats(probabilities))


def probability_plot_correlation(z: np.ndarray, n_left: int, n_right: int) -> float:
    """Correlation of the sorted z with the normal quantiles at their plotting positions.

    1 means the points of the normal Q-Q plot lie on a straight line; nan below 3 values."""
    z = np.sort(np.asarray(z, dtype=np.float64))
    if z.size < 3 or z[0] == z[-1]:
        return math.nan
    q = normal_quantiles(plotting_positions(n_left, z.size, n_right))
    return float(np.corrcoef(z, q)[0, 1])


def conditional_anderson_darling(z: np.ndarray, z_left: float, z_right: float) -> float:
    """Anderson-Darling statistic of z against the standard normal restricted to (z_left, z_right).

    Given that a value is uncensored, the fit says u = (Phi(z) - Phi(z_left)) / (Phi(z_right) -
    Phi(z_left)) is uniform on (0, 1); with the u sorted,
        A^2 = -n - (1/n) sum_{i=1..n} (2i - 1) [log u_(i) + log(1 - u_(n+1-i))].
    Small values mean a good fit; inf when a value lies where the fit puts no mass."""
    z = np.sort(np.asarray(z, dtype=np.float64))
    n = z.size
    if n == 0:
        return math.nan
    # Both tails computed from the side where they are small, to keep them accurate.
    low = normal_cdf(z) - normal_cdf([z_left])[0]
    high = normal_sf(z) - normal_sf([z_right])[0]
    inside = low + high
    weights = 2.0 * np.arange(1, n + 1, dtype=np.float64) - 1.0
    with np.errstate(divide="ignore", invalid="ignore"):
        u = low / inside
        v = high / inside
        terms = np.log(u) + np.log(v[::-1])
    total = float(np.sum(weights * terms))
    if math.isnan(total):
        return math.inf
    return -n - total / n
