"""Where a standardised index takes its values from along the series dimension: the groups
(calendar month, season, day of year with a pooling window), the accumulation length in
steps, and the calibration period's positions."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np

from ferrule.xarray._series import group_labels

__all__ = [
    "DEFAULT_GROUPBY",
    "GROUP_TITLES",
    "Groups",
    "accumulation_steps",
    "calibration_positions",
    "group_name",
    "groups_of",
]

# The grouping of an index when none is named: calendar months.
DEFAULT_GROUPBY = "time.month"
# The calendar groupings by the name of their date field; the length of the day-of-year
# cycle a window wraps around (leap years give day 366, which pools with days 1 and 365).
GROUP_TITLES = {"month": "calendar-month", "season": "seasonal", "dayofyear": "day-of-year"}
_ALIASES = {"doy": "dayofyear", "day_of_year": "dayofyear", "months": "month"}
_DAYS = 366


@dataclass(frozen=True)
class Groups:
    """The groups of one series dimension.

    ``name`` is the group dimension of the parameters (None: one group of everything);
    ``labels`` the group labels in sorted order; ``of_value`` the group index of each
    position (-1: no label, scored NaN); ``window`` the half-width in days of the pool of
    a day-of-year group (0 for the others)."""

    name: str | None
    labels: np.ndarray
    of_value: np.ndarray
    window: int

    def pooled(self, calibrated: np.ndarray) -> list[np.ndarray]:
        """For each group, the positions among `calibrated` whose values its fit pools: its
        own, or with a window every day within ±window days of it (around the year)."""
        if self.window == 0:
            return [calibrated[self.of_value[calibrated] == g] for g in range(len(self.labels))]
        days = np.asarray(self.labels, dtype=np.int64)
        own = self.of_value[calibrated]
        labelled = own >= 0
        positions, day = calibrated[labelled], days[own[labelled]]
        pools = []
        for label in days:
            gap = np.abs(day - label)
            pools.append(positions[np.minimum(gap, _DAYS - gap) <= self.window])
        return pools


def groups_of(da: Any, dim: str, groupby: str | None, window: int | None) -> Groups:
    """The groups of `da` along `dim`: ``groupby`` names a date field of `dim` ("month",
    "time.month", "season", "dayofyear") or a coordinate along it; `window` (days) pools
    neighbouring days and applies to day-of-year groups only."""
    size = da.sizes[dim]
    field = _field(groupby, dim)
    if window is not None:
        if isinstance(window, bool) or not isinstance(window, (int, np.integer)) or window < 0:
            raise ValueError(f"window must be a whole number of days, 0 or more, got {window!r}")
        if field != "dayofyear":
            raise ValueError("window pools neighbouring days: it applies with "
                             f"groupby='dayofyear' only, not {groupby!r}")  # fmt: skip
    if field is None:
        return Groups(None, np.array([0]), np.zeros(size, dtype=np.int64), 0)
    key = f"{dim}.{field}" if field in GROUP_TITLES else field
    values, labelled = group_labels(da, dim, key, str(groupby))
    if not labelled.any():
        raise ValueError(f"cannot group by {groupby!r}: every label is missing")
    unique, inverse = np.unique(values[labelled], return_inverse=True)
    of_value = np.full(size, -1, dtype=np.int64)
    of_value[labelled] = inverse
    return Groups(group_name(groupby, dim), unique, of_value, int(window or 0))


def group_name(groupby: str | None, dim: str) -> str | None:
    """The group dimension of the parameters that `groupby` gives (None: no groups)."""
    field = _field(groupby, dim)
    return None if field is None else field.split(".")[-1]


def _field(groupby: str | None, dim: str) -> str | None:
    if groupby is None:
        return None
    if not isinstance(groupby, str):
        raise TypeError(f"groupby must be a string such as 'month', got {type(groupby).__name__}")
    name = groupby.removeprefix(f"{dim}.")
    return _ALIASES.get(name, name)


def accumulation_steps(accumulate: Any, index: Any) -> int:
    """Steps summed per value: a whole number, or a span ("90D", "3MS") that a whole number
    of the series' steps makes up."""
    if accumulate is None:
        return 1
    if isinstance(accumulate, (int, np.integer)) and not isinstance(accumulate, bool):
        if accumulate < 1:
            raise ValueError(f"accumulate must be 1 step or more, got {accumulate}")
        return int(accumulate)
    if not isinstance(accumulate, str):
        raise TypeError("accumulate must be a number of steps or a span such as '90D', got "
                        f"{type(accumulate).__name__}")  # fmt: skip
    import pandas as pd

    try:
        span = pd.tseries.frequencies.to_offset(accumulate)
    except ValueError:
        raise ValueError(f"accumulate {accumulate!r} is neither a number of steps nor a span "
                         "such as '90D' or '3MS'") from None  # fmt: skip
    step = _step(index)
    steps, rest = _ratio(span, step)
    if rest or steps < 1:
        raise ValueError(f"accumulate {accumulate!r} is not a whole number of the series' "
                         f"steps ({getattr(step, 'freqstr', 'irregular')})")  # fmt: skip
    return int(steps)


def _ratio(span: Any, step: Any) -> tuple[int, int]:
    """Whole steps in `span` and what is left over (nonzero: not whole): spans of fixed
    length divide, spans of months count months."""
    import pandas as pd

    months = (pd.offsets.MonthBegin, pd.offsets.MonthEnd)
    if isinstance(span, months) and isinstance(step, months):
        return divmod(span.n, step.n)
    try:
        length, unit = pd.Timedelta(span), pd.Timedelta(step)
    except (TypeError, ValueError):
        return 0, 1
    steps, rest = divmod(length, unit)
    return int(steps), int(rest != pd.Timedelta(0))


def _step(index: Any) -> Any:
    import pandas as pd

    if not isinstance(index, pd.DatetimeIndex) or len(index) < 3:
        return None
    freq = index.freq or pd.infer_freq(index)
    return None if freq is None else pd.tseries.frequencies.to_offset(freq)


def calibration_positions(index: Any, calibration: Any) -> tuple[np.ndarray, tuple[str, str]]:
    """The positions of the calibration period along the series (all: None) and its first
    and last labels as text."""
    size = len(index)
    if calibration is None:
        positions = np.arange(size)
    else:
        if isinstance(calibration, slice):
            start, stop = calibration.start, calibration.stop
        elif isinstance(calibration, (tuple, list)) and len(calibration) == 2:
            start, stop = calibration
        else:
            raise TypeError("calibration must be a slice('1991', '2020') of the series' labels "
                            f"or a pair of them, got {calibration!r}")  # fmt: skip
        try:
            found = index.slice_indexer(start, stop)
        except (KeyError, TypeError, ValueError) as err:
            raise ValueError(f"calibration {calibration!r} does not select from the series' "
                             f"labels: {err}") from None  # fmt: skip
        positions = np.arange(size)[found]
        if positions.size == 0:
            raise ValueError(f"calibration {calibration!r} holds no values of the series "
                             f"({_label(index[0])} to {_label(index[-1])})")  # fmt: skip
    return positions, (_label(index[positions[0]]), _label(index[positions[-1]]))


def _label(value: Any) -> str:
    if hasattr(value, "isoformat"):
        return value.isoformat()[:10]
    return str(value)
