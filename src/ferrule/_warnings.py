"""The library's warning classes; every one is a ``FerruleWarning``, hence a ``UserWarning``."""

__all__ = ["CensoringWarning", "ConvergenceWarning", "FerruleWarning", "InvalidFitWarning"]


class FerruleWarning(UserWarning):
    """Base class of every warning ferrule raises.

    Examples
    --------
    Silence all of them at once:

    >>> import warnings
    >>> import ferrule
    >>> warnings.simplefilter("ignore", ferrule.FerruleWarning)
    """


class CensoringWarning(FerruleWarning):
    """Values lie beyond a censoring threshold; the fit counts them as censored there.

    Examples
    --------
    >>> import warnings
    >>> import ferrule
    >>> with warnings.catch_warnings(record=True) as caught:
    ...     warnings.simplefilter("always")
    ...     fit = ferrule.fit([-1.0, 0.5, 1.2, 2.0, 3.5, 0.8, 5.0], left=0.0, seed=1)
    >>> any(issubclass(w.category, ferrule.CensoringWarning) for w in caught)
    True
    """


class ConvergenceWarning(FerruleWarning):
    """The optimiser stopped at its iteration, generation or evaluation limit.

    Examples
    --------
    >>> import warnings
    >>> import ferrule
    >>> warnings.simplefilter("error", ferrule.ConvergenceWarning)  # make it an exception
    """


class InvalidFitWarning(FerruleWarning):
    """The fit is not a usable model of the data; ``Fit.problems`` says why.

    Examples
    --------
    >>> import warnings
    >>> import ferrule
    >>> with warnings.catch_warnings(record=True) as caught:
    ...     warnings.simplefilter("always")
    ...     fit = ferrule.fit([1.0, 1.0, 2.0, 2.0, 3.0], seed=1)  # 3 distinct values
    >>> fit.valid, caught[-1].category.__name__
    (False, 'InvalidFitWarning')
    """
