"""Wall-clock medians under a repeat cap and a time budget."""

import statistics
import time
from dataclasses import dataclass
from typing import Any


@dataclass
class Timing:
    seconds: float  # median of the repeats
    repeats: int
    result: Any  # what the last call returned


def median_time(call, *, max_repeats, budget_seconds):
    """Median time of ``call()`` over at most ``max_repeats`` calls.

    Repeating stops early once ``budget_seconds`` are spent; at least one call is timed.

    Examples
    --------
    >>> median_time(lambda: 42, max_repeats=3, budget_seconds=1.0).result
    42
    """
    times = []
    result = None
    started = time.perf_counter()
    while len(times) < max_repeats:
        before = time.perf_counter()
        result = call()
        times.append(time.perf_counter() - before)
        if time.perf_counter() - started >= budget_seconds:
            break
    return Timing(statistics.median(times), len(times), result)
