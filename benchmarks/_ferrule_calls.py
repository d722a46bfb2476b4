"""Every call the suite makes into ferrule, in one place.

Today these go through the low-level classes of ``ferrule.kestrel``; the public API can be
added beside them (same signatures, same results) and timed by the same groups.
The kestrel fits write console lines to the process's native stdout (file descriptor 1),
so each call here runs with descriptor 1 sent to /dev/null.
"""

import contextlib
import os
import sys

import numpy as np

from ferrule import kestrel


@contextlib.contextmanager
def native_stdout_silenced():
    """Send file descriptor 1 to /dev/null for the duration, and restore it afterwards."""
    sys.stdout.flush()
    saved = os.dup(1)
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(devnull, 1)
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)
        os.close(devnull)


def _fit(method, x, left, right):
    model = kestrel.PyYJT()
    with native_stdout_silenced():
        getattr(model, method)(x, left, right, False, False)
    return np.asarray(model.get_optimised_params())


def fit_nelder_mead(x, left, right):
    """Nelder-Mead fit of one series; returns the search vector (lambda, mu, log sigma)."""
    return _fit("optim_params", x, left, right)


def fit_differential_evolution(x, left, right):
    """Differential evolution fit of one series (seeded afresh by the library on each call)."""
    return _fit("optim_paramsDE", x, left, right)


def fit_complex_evolution(x, left, right):
    """Shuffled complex evolution fit of one series, with the library's default limits."""
    return _fit("optim_paramsSCE", x, left, right)


SINGLE_FITS = {
    "nelder-mead": fit_nelder_mead,
    "differential-evolution": fit_differential_evolution,
    "complex-evolution": fit_complex_evolution,
}


def fit_grid_nelder_mead(values, left, right):
    """Nelder-Mead fit of every location of a (rows, cols, n) grid; returns the search vectors."""
    rows, cols = values.shape[:2]
    ones = np.ones((rows, cols))
    grid = kestrel.PyYJTvectorized(ones, ones, 0.0 * ones)  # lambda, scale, shift
    with native_stdout_silenced():
        grid.optim_params(values, left, right, False, False, False)
    return np.asarray(grid.get_optimised_params())
