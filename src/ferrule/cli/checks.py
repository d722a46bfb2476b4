"""What is checked about a series before any fit runs."""

import numpy as np

from ferrule.cli.errors import CliError

# A family has up to four parameters; fewer distinct uncensored values than this leave the
# likelihood without a proper maximum (sigma runs off towards 0 or infinity).
MIN_DISTINCT_UNCENSORED = 5
# Values tied at the minimum that look like a censored floor: this share of the series, and
# at least this many.
FLOOR_SHARE = 0.1
FLOOR_COUNT = 3


def exact(value: float) -> str:
    """The shortest text that reads back as the same double, without a trailing '.0'.

    Examples
    --------
    >>> exact(0.0), exact(0.1), exact(-999.5)
    ('0', '0.1', '-999.5')
    """
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


def check_enough_values(values: np.ndarray, left: float, right: float, source: str) -> None:
    """Refuses a series with fewer than MIN_DISTINCT_UNCENSORED distinct uncensored values.

    Uncensored means strictly between the thresholds, as the likelihood counts them.

    Examples
    --------
    >>> try:
    ...     check_enough_values(np.array([1.0, 1.0, 1.0]), -np.inf, np.inf, "x.csv")
    ... except CliError as err:
    ...     print(str(err)[:40])
    cannot fit 'x.csv': all 3 values equal 1
    """
    n = values.size
    below = int(np.sum(values <= left))
    above = int(np.sum(values >= right))
    inside = values[(values > left) & (values < right)]
    distinct = int(np.unique(inside).size)
    if distinct >= MIN_DISTINCT_UNCENSORED:
        return
    if inside.size == 0:
        detail = (
            f"all {_values(n)} are censored ({below} at or below the left threshold "
            f"{exact(left)}, {above} at or above the right threshold {exact(right)})"
        )
    elif n < MIN_DISTINCT_UNCENSORED and below + above == 0 and distinct == n:
        detail = f"it holds only {_values(n)}"
    elif distinct == 1 and below + above == 0:
        detail = f"all {_values(n)} equal {exact(inside[0])}"
    else:
        censored = f" ({below + above} censored)" if below + above else ""
        detail = (
            f"of its {_values(n)}, {inside.size} are uncensored{censored} and only "
            f"{distinct} of those are distinct"
        )
    raise CliError(
        f"cannot fit '{source}': {detail}; a fit needs at least {MIN_DISTINCT_UNCENSORED} "
        "distinct uncensored values (strictly between the censoring thresholds)"
    )


def _values(count: int) -> str:
    return f"{count} value" if count == 1 else f"{count} values"


def floor_warning(values: np.ndarray, left: float) -> str | None:
    """A suggestion to censor at the minimum when many values sit on it and left is below it.

    Many values tied at the minimum (dry days, flows below the gauge's range) are a floor
    rather than measurements; fitted as they are, they become one spike in the density.

    Examples
    --------
    >>> floor_warning(np.array([0.0, 0.0, 0.0, 1.2, 3.4]), -np.inf)[:38]
    '3 of 5 values (60 %) equal the minimum'
    """
    lowest = float(values.min())
    if left >= lowest:
        return None
    tied = int(np.sum(values == lowest))
    if tied < FLOOR_COUNT or tied < FLOOR_SHARE * values.size:
        return None
    return (
        f"{tied} of {values.size} values ({100.0 * tied / values.size:.0f} %) equal the minimum "
        f"{exact(lowest)}; if they stand for a floor (e.g. dry days), pass --left "
        f"{exact(lowest)} to count them as left-censored"
    )
