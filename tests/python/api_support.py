"""Series and helpers shared by the tests of the public layer."""

import numpy as np

from ferrule import _core

FAMILY_KEYS = [info.key for info in _core.FAMILIES]


def rain(n=400, seed=42):
    """Skewed series with dry days at exactly 0 (left-censored at 0)."""
    rng = np.random.default_rng(seed)
    return np.maximum(rng.gamma(0.8, 4.0, size=n) - 1.0, 0.0)


def flows(n=300, seed=7):
    """Skewed positive series without censoring."""
    return np.random.default_rng(seed).lognormal(1.0, 0.6, size=n)


def quiet_fit(data, family, **kwargs):
    """A fit whose warnings are not the point of the test."""
    import warnings

    import ferrule

    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        return ferrule.fit(data, family, **kwargs)


def run_examples(module_name):
    """The doctest results of a module's docstring examples (run in the current folder)."""
    import doctest
    import importlib
    import warnings

    with warnings.catch_warnings():  # the examples set warning filters of their own
        return doctest.testmod(
            importlib.import_module(module_name),
            optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE,
        )
