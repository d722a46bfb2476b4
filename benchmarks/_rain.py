"""Seeded rain-like series: daily totals in mm, rounded to 0.1 mm, about 35 % dry days."""

import numpy as np

DRY_FRACTION = 0.35
LEFT = 0.0  # dry days sit on the left threshold and are censored there
RIGHT = np.inf


def rain_series(n, seed):
    """Return ``n`` daily totals: 0.0 on dry days, gamma-distributed wet amounts >= 0.1 mm.

    Examples
    --------
    >>> x = rain_series(1000, seed=1)
    >>> bool(np.all(x >= 0.0)), bool(np.all(np.round(x, 1) == x))
    (True, True)
    """
    rng = np.random.default_rng(seed)
    wet = rng.random(n) >= DRY_FRACTION
    # The smallest measurable wet amount is the gauge resolution, 0.1 mm.
    amounts = np.maximum(np.round(rng.gamma(0.7, 6.0, size=n), 1), 0.1)
    return np.where(wet, amounts, 0.0)
