"""Wall-clock medians under a repeat cap and a time budget, sides timed in turn."""

import statistics
import time
from dataclasses import dataclass
from typing import Any


@dataclass
class Timing:
    seconds: float  # median of the repeats
    repeats: int
    result: Any  # what the last call returned


def median_times(*sides):
    """Median time of each side's call; ``sides`` are ``(call, max_repeats, budget_seconds)``.

    The sides are called in turn (one call each per round), so a change of machine load
    during the measurement falls on all of them alike. A side stops after ``max_repeats``
    calls or once its own calls have taken ``budget_seconds``; each is called at least once.

    Examples
    --------
    >>> fast, slow = median_times((lambda: 1, 5, 1.0), (lambda: 2, 3, 1.0))
    >>> fast.result, slow.result, slow.repeats <= 3
    (1, 2, True)
    """
    times = [[] for _ in sides]
    results = [None] * len(sides)
    while True:
        called = False
        for i, (call, max_repeats, budget_seconds) in enumerate(sides):
            if len(times[i]) >= max_repeats or (times[i] and sum(times[i]) >= budget_seconds):
                continue
            before = time.perf_counter()
            results[i] = call()
            times[i].append(time.perf_counter() - before)
            called = True
        if not called:
            break
    return [
        Timing(statistics.median(t), len(t), result)
        for t, result in zip(times, results, strict=True)
    ]


def median_time(call, *, max_repeats, budget_seconds):
    """Median time of ``call()`` alone; see `median_times`.

    Examples
    --------
    >>> median_time(lambda: 42, max_repeats=3, budget_seconds=1.0).result
    42
    """
    return median_times((call, max_repeats, budget_seconds))[0]
