"""The censored Yeo-Johnson negative log-likelihood as a NumPy user writes it today.

Search vector q = (lambda, mu, log sigma). A value is uncensored when T(L) < y < T(R), and a
value strictly between L and R is never censored; censored values contribute the normal mass
beyond their transformed threshold (``scipy.special.log_ndtr``). The log Jacobian is written
(lambda - 1) log1p(x), which is log((x + 1)^(lambda - 1)) wherever that power neither overflows
nor underflows: everywhere on the suite's series and search box.
"""

import numpy as np
from scipy.special import log_ndtr

POWER_TOLERANCE = 1e-7  # the logarithm branch is taken within this distance of 0 and 2
HALF_LOG_TWO_PI = 0.5 * np.log(2.0 * np.pi)


def yeo_johnson(x, lam):
    """Yeo-Johnson map of an array (or scalar) with power ``lam``, branch by branch."""
    x = np.asarray(x, dtype=float)
    y = np.empty_like(x)
    pos = x >= 0
    xp, xn = x[pos], x[~pos]
    if abs(lam) > POWER_TOLERANCE:
        y[pos] = ((xp + 1.0) ** lam - 1.0) / lam
    else:
        y[pos] = np.log1p(xp)
    if abs(lam - 2.0) > POWER_TOLERANCE:
        y[~pos] = -((1.0 - xn) ** (2.0 - lam) - 1.0) / (2.0 - lam)
    else:
        y[~pos] = -np.log1p(-xn)
    return y


def negative_log_likelihood(q, x, left, right):
    """Minus the censored log-likelihood of series ``x`` at search vector ``q``."""
    lam, mu, log_sigma = q
    with np.errstate(all="ignore"):
        sigma = np.exp(log_sigma)
        y = yeo_johnson(x, lam)
        t_left, t_right = yeo_johnson(np.array([left, right]), lam)
        inside = (left < x) & (x < right) & ~np.isnan(y)
        uncensored = ((t_left < y) & (y < t_right)) | inside
        below = ~uncensored & (y <= t_left)
        above = ~uncensored & ~below
        yu, xu = y[uncensored], x[uncensored]
        log_jacobian = np.where(xu >= 0, (lam - 1.0) * np.log1p(xu), (1.0 - lam) * np.log1p(-xu))
        z = (yu - mu) / sigma
        total = np.sum(-HALF_LOG_TWO_PI - log_sigma - 0.5 * z * z + log_jacobian)
        # Each side's censored mass is the same for all its values: count them once.
        n_below, n_above = np.count_nonzero(below), np.count_nonzero(above)
        if n_below:
            total += n_below * log_ndtr((t_left - mu) / sigma)
        if n_above:
            total += n_above * log_ndtr(-(t_right - mu) / sigma)
    return float(-total) if np.isfinite(total) else np.inf
