"""The result of a fit: plain fields, the fitted distribution in data units, save and load."""

import math
import warnings
from collections.abc import Mapping
from dataclasses import MISSING, Field, dataclass, field, fields, replace
from types import MappingProxyType
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from ferrule._distribution import Model
from ferrule._kinds import like
from ferrule._model_check import check_fields, check_format, check_model
from ferrule._names import family_info

if TYPE_CHECKING:
    from ferrule._goodness import GoodnessOfFit

__all__ = ["FORMAT", "FORMAT_VERSION", "Fit"]

FORMAT = "ferrule.Fit"
FORMAT_VERSION = 1
Array = npt.NDArray[np.float64]
# What the distribution methods return: an array, or a NumPy float for a scalar argument.
Values = npt.NDArray[np.float64] | np.float64
_NON_FINITE = {"nan": math.nan, "inf": math.inf, "-inf": -math.inf}


def _has_default(f: Field[Any]) -> bool:
    return f.default is not MISSING or f.default_factory is not MISSING


def _encode(value: float) -> float | str:
    value = float(value)
    if math.isfinite(value):
        return value
    return "nan" if math.isnan(value) else ("inf" if value > 0 else "-inf")


def _decode(value: float | str) -> float:
    if isinstance(value, str):
        try:
            return _NON_FINITE[value]
        except KeyError:
            raise ValueError(f"not a number: {value!r}") from None
    return float(value)


@dataclass(frozen=True, eq=False)
class Fit:
    """A fitted normalising transformation of one series, and the distribution it implies.

    Returned by :func:`ferrule.fit`; immutable. Values are in data units throughout:
    ``u = (x + shift) * scale`` is what the transformation sees, and the thresholds
    ``left``/``right`` are those the fit was given.

    Attributes
    ----------
    family, method : str
        Registry key of the family (``"yeo_johnson"``, ``"log_sinh"``, ``"sinh_asinh"``,
        ``"jones_pewsey"``) and of the optimiser that ran.
    params : mapping of str to float
        The transformation parameters by name (``lambda``; ``lambda, epsilon``;
        ``delta, epsilon``).
    mu, sigma : float
        Location and scale of the normal (for Jones-Pewsey: of the standardisation of u).
    search : ndarray
        The optimiser's best search vector (read-only).
    loglik : float
        Censored log-likelihood at the optimum in data units, without the prior: fits at
        different scales, and of different normal families, compare.
    log_posterior : float or None
        ``loglik`` plus the log prior, when the fit maximised the posterior.
    aic, bic : float
        ``2k - 2 loglik`` and ``k log(n) - 2 loglik``, k the number of fitted parameters.
    n, n_left, n_right, n_dropped : int
        Values fitted, of which left- and right-censored at the optimum; NaN values omitted.
    count, count_unit : int, str
        What the optimiser counted (``"iterations"``, ``"generations"`` or
        ``"likelihood evaluations"``).
    evaluations : int
        Likelihood evaluations made (-1 where the optimiser cannot tell), the polish's
        value-and-gradient calls included.
    runs, polish_evaluations : int
        Runs of the optimisers (Nelder-Mead restarts, independent stochastic runs and
        the Nelder-Mead runs that follow their ends included; 1 for a ``fast`` fit, 0
        where the polished start points agreed on the optimum) and value-and-gradient
        calls of the local polish (0 for a ``fast`` fit).
    converged, limit_reached : bool
        Whether the optimiser stopped by its convergence test, or at its limit.
    valid : bool
        Whether the optimum is a usable model; ``problems`` gives the reasons if not.
    problems, warnings : tuple of str
        Why the fit is not valid; the warning messages the fit raised.
    notes : tuple of str
        What is worth knowing about a fit that does not make it invalid: a search
        coordinate on its box's bound where the likelihood is highest within the box (a
        constrained optimum, such as log-sinh's epsilon at its smallest on data without
        censoring), or a share above 1e-6 of the fitted normal lying beyond the
        transformation's range (the distribution renormalises the rest).
    seed : int
        The 32-bit seed the fit ran with: ``seed=fit.seed`` repeats it.
    scale, shift, left, right : float
        Rescaling and censoring thresholds, in data units.
    prior : bool
        Whether the fit maximised the posterior (log prior added).
    console : tuple of str
        The optimiser's console lines.
    alternatives : tuple of Fit
        With ``family="auto"``: the fits of the other families.

    Examples
    --------
    >>> import numpy as np
    >>> import ferrule
    >>> rng = np.random.default_rng(1)
    >>> fit = ferrule.fit(rng.lognormal(size=300), seed=1)
    >>> fit.family, fit.valid
    ('yeo_johnson', True)
    >>> z = fit.to_normal([1.0, 2.0])  # standard normal scores
    >>> bool(np.allclose(fit.from_normal(z), [1.0, 2.0]))
    True
    """

    family: str
    method: str
    params: Mapping[str, float]
    mu: float
    sigma: float
    search: Array
    loglik: float
    log_posterior: float | None
    aic: float
    bic: float
    n: int
    n_left: int
    n_right: int
    n_dropped: int
    count: int
    count_unit: str
    evaluations: int
    converged: bool
    limit_reached: bool
    valid: bool
    problems: tuple[str, ...]
    warnings: tuple[str, ...]
    seed: int
    scale: float
    shift: float
    left: float
    right: float
    prior: bool = False
    console: tuple[str, ...] = ()
    runs: int = 1
    polish_evaluations: int = 0
    notes: tuple[str, ...] = ()
    alternatives: tuple["Fit", ...] = field(default=())

    def __post_init__(self) -> None:
        search = np.array(self.search, dtype=np.float64)
        search.flags.writeable = False
        object.__setattr__(self, "search", search)
        object.__setattr__(self, "params", MappingProxyType(dict(self.params)))

    # ---- the fitted distribution -----------------------------------------------------
    @property
    def n_uncensored(self) -> int:
        """Values the likelihood counted as uncensored at the optimum: ``n - n_left - n_right``.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> rain = np.maximum(np.random.default_rng(2).gamma(0.8, 4.0, 400) - 1.0, 0.0)
        >>> fit = ferrule.fit(rain, left=0.0, seed=2)
        >>> fit.n_uncensored == int(np.sum(rain > 0.0))
        True
        """
        return self.n - self.n_left - self.n_right

    @property
    def _model(self) -> Model:
        info = family_info(self.family)
        return Model(
            info.key,
            tuple(self.params[name] for name in info.transformation_names),
            self.mu,
            self.sigma,
            self.scale,
            self.shift,
            self.left,
            self.right,
            info.models_raw_value,
        )

    def to_normal(self, x: npt.ArrayLike) -> Values:
        """Standard normal scores of data values.

        Normal families: ``z = (T(u) - mu) / sigma``; Jones-Pewsey:
        ``z = T((u - mu) / sigma)``, with ``u = (x + shift) * scale``. Censoring plays no
        part: every value is mapped.

        Parameters
        ----------
        x : array_like
            Values in data units.

        Returns
        -------
        ndarray
            Same shape as `x`; a pandas Series with the index of a Series, a DataArray with
            the coordinates of a DataArray.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> fit.to_normal([0.5, 2.0, 8.0]).shape
        (3,)
        """
        return like(x, self._model.to_normal(x))

    def from_normal(self, z: npt.ArrayLike, *, censor: bool = True) -> Values:
        """Data values of standard normal scores: the inverse of :meth:`to_normal`.

        ``from_normal(z) == ppf(Phi(z))``: every finite score within double precision of
        a probability below 1 has a finite value.

        Parameters
        ----------
        z : array_like
            Standard normal scores.
        censor : bool, default True
            Values in a censored region map to its threshold, as the data were recorded
            (a score below ``to_normal(left)`` gives `left`); False gives the continuous
            model's values beyond the thresholds too.

        Returns
        -------
        ndarray or numpy.float64
            Values in data units, same shape as `z`.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> bool(np.allclose(fit.to_normal(fit.from_normal([-1.0, 0.0, 1.5])), [-1, 0, 1.5]))
        True
        """
        return like(z, self._model.from_normal(z, censor=censor))

    def cdf(self, x: npt.ArrayLike) -> Values:
        """Distribution function of the observed (clipped) variable.

        The continuous model clipped to ``[left, right]``: 0 below `left`, the mass of
        the left threshold at it, 1 at and above `right`.

        Parameters
        ----------
        x : array_like
            Values in data units.

        Returns
        -------
        ndarray or numpy.float64
            Same shape as `x`; a scalar for a scalar.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> rain = np.maximum(np.random.default_rng(2).gamma(0.8, 4.0, 400) - 1.0, 0.0)
        >>> fit = ferrule.fit(rain, left=0.0, seed=2)
        >>> p_dry = float(fit.cdf(0.0))  # probability of a dry day
        >>> 0.3 < p_dry < 0.6
        True
        """
        return like(x, self._model.cdf(x))

    def sf(self, x: npt.ArrayLike) -> Values:
        """Survival function ``1 - cdf(x)``, accurate where it is small (exceedances).

        Parameters
        ----------
        x : array_like
            Values in data units.

        Returns
        -------
        ndarray or numpy.float64
            Same shape as `x`; a scalar for a scalar.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> bool(fit.sf(10.0) < 0.01)
        True
        """
        return like(x, self._model.sf(x))

    def logsf(self, x: npt.ArrayLike) -> Values:
        """Logarithm of :meth:`sf`, accurate far in the upper tail.

        Parameters
        ----------
        x : array_like
            Values in data units.

        Returns
        -------
        ndarray or numpy.float64
            Same shape as `x`; a scalar for a scalar.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> bool(np.isfinite(fit.logsf(1e3)))
        True
        """
        return like(x, self._model.logsf(x))

    def logpdf(self, x: npt.ArrayLike) -> Values:
        """Log density in data units, with the censored point masses at the thresholds.

        Strictly between the thresholds: the log density of the continuous model in data
        units (it includes ``log(scale)``). At a finite threshold: the log of the mass
        censored there, as the censored likelihood counts it. Beyond a threshold: -inf
        (the observed variable never lies there). So ``logpdf(data).sum()`` is the
        data-unit log-likelihood of a series without values beyond the thresholds:
        ``logpdf(data).sum() == loglik`` to rounding.

        Parameters
        ----------
        x : array_like
            Values in data units.

        Returns
        -------
        ndarray or numpy.float64
            Same shape as `x`; a scalar for a scalar.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> fit.logpdf([1.0, 2.0]).shape
        (2,)
        """
        return like(x, self._model.logpdf(x))

    def pdf(self, x: npt.ArrayLike) -> Values:
        """``exp(logpdf(x))``: density inside the thresholds, point mass at them.

        Parameters
        ----------
        x : array_like
            Values in data units.

        Returns
        -------
        ndarray or numpy.float64
            Same shape as `x`; a scalar for a scalar.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> bool(fit.pdf(1.0) > 0)
        True
        """
        return like(x, self._model.pdf(x))

    def ppf(self, p: npt.ArrayLike, *, censor: bool = True) -> Values:
        """Quantile function of the observed variable, the inverse of :meth:`cdf`.

        ``ppf(p)`` is `left` for ``p <= cdf(left)`` and `right` above ``cdf(right-)``;
        NaN for p outside [0, 1].

        Parameters
        ----------
        p : array_like
            Probabilities.
        censor : bool, default True
            Values in a censored region map to its threshold, as the data were recorded
            (``p <= cdf(left)`` gives `left`); False gives the continuous
            model's values beyond the thresholds too.

        Returns
        -------
        ndarray or numpy.float64
            Values in data units, same shape as `p`.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> median, q99 = fit.ppf([0.5, 0.99])
        >>> bool(median < q99)
        True
        """
        return like(p, self._model.ppf(p, censor=censor))

    def sample(
        self,
        size: int | tuple[int, ...],
        seed: np.random.Generator | int | None = None,
        *,
        rng: np.random.Generator | int | None = None,
    ) -> Array:
        """Random values of the observed variable (clipped to the thresholds).

        Parameters
        ----------
        size : int or tuple of int
            Output shape.
        seed : numpy.random.Generator, int or None
            Source of randomness, as for the fits; an int seeds a new Generator.
        rng : numpy.random.Generator, int or None
            Former name of ``seed``, still accepted with a ``DeprecationWarning``.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> fit.sample(5, seed=1).shape
        (5,)
        """
        if rng is not None:
            if seed is not None:
                raise TypeError("sample() takes seed or its former name rng, not both")
            message = "sample(rng=...) is now sample(seed=...)"
            warnings.warn(message, DeprecationWarning, stacklevel=2)
            seed = rng
        return self._model.sample(size, seed)

    # ---- saving and loading ------------------------------------------------------------
    def to_dict(self) -> dict[str, Any]:
        """A JSON-safe dictionary of the fit: plain floats, strings and lists.

        Non-finite floats are written as ``"nan"``, ``"inf"``, ``"-inf"``; ``format`` and
        ``version`` name the layout. :meth:`from_dict` reads it back.

        Examples
        --------
        >>> import json
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> text = json.dumps(fit.to_dict())
        >>> ferrule.Fit.from_dict(json.loads(text)) == fit
        True
        """
        out: dict[str, Any] = {"format": FORMAT, "version": FORMAT_VERSION}
        for f in fields(self):
            value = getattr(self, f.name)
            if f.name == "params":
                value = {name: _encode(v) for name, v in value.items()}
            elif f.name == "search":
                value = [_encode(v) for v in value]
            elif f.name == "alternatives":
                value = [alternative.to_dict() for alternative in value]
            elif isinstance(value, tuple):
                value = list(value)
            elif isinstance(value, float):
                value = _encode(value)
            out[f.name] = value
        return out

    @classmethod
    def from_dict(cls, data: Mapping[str, Any]) -> "Fit":
        """Rebuild a fit written by :meth:`to_dict`.

        Parameters
        ----------
        data : mapping
            What :meth:`to_dict` wrote (after a JSON round trip, too).

        Raises
        ------
        ValueError
            Not a fit dictionary, of another format version, or lacking a field.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> ferrule.Fit.from_dict(fit.to_dict()).params == fit.params
        True
        """
        if not isinstance(data, Mapping):
            raise ValueError(f"not a saved ferrule fit: a {type(data).__name__}, not a mapping")
        check_format("saved fit", data.get("format"), data.get("version"), FORMAT, FORMAT_VERSION)
        # Fields with defaults came later; a fit saved before them reads with the defaults.
        check_fields("saved fit", data, (f.name for f in fields(cls) if not _has_default(f)))
        if not isinstance(data["params"], Mapping):
            raise ValueError("saved fit: params is not a mapping of parameter names to values")
        kwargs: dict[str, Any] = {}
        for f in fields(cls):
            if f.name not in data:
                continue
            value = data[f.name]
            if f.name == "params":
                value = {name: _decode(v) for name, v in value.items()}
            elif f.name == "search":
                value = [_decode(v) for v in value]
            elif f.name == "alternatives":
                value = tuple(cls.from_dict(alternative) for alternative in value)
            elif isinstance(value, list):
                value = tuple(value)
            elif f.type in ("float", float) or f.name == "log_posterior" and value is not None:
                value = _decode(value)
            kwargs[f.name] = value
        check_model("saved fit", kwargs["family"], kwargs["params"], kwargs)
        return cls(**kwargs)

    def __reduce__(self) -> tuple[Any, ...]:
        return (type(self).from_dict, (self.to_dict(),))

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Fit):
            return NotImplemented
        return self.to_dict() == other.to_dict()

    __hash__ = None  # type: ignore[assignment]

    def with_alternatives(self, alternatives: tuple["Fit", ...]) -> "Fit":
        """This fit with `alternatives` attached (used by ``family="auto"``).

        Parameters
        ----------
        alternatives : sequence of Fit
            The fits of the other families.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> fit.with_alternatives(()).alternatives
        ()
        """
        return replace(self, alternatives=tuple(alternatives))

    # ---- display -----------------------------------------------------------------------
    def __repr__(self) -> str:
        params = ", ".join(f"{name}={value:.6g}" for name, value in self.params.items())
        return (
            f"Fit(family={self.family!r}, method={self.method!r}, {params}, mu={self.mu:.6g}, "
            f"sigma={self.sigma:.6g}, loglik={self.loglik:.6g}, n={self.n}, "
            f"n_left={self.n_left}, n_right={self.n_right}, valid={self.valid})"
        )

    def summary(self) -> str:
        """A small text table of the fit.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=200), seed=0)
        >>> print(fit.summary())  # doctest: +ELLIPSIS
        Yeo-Johnson fit by Nelder-Mead...
        """
        from ferrule._summary import summary_table

        return summary_table(self)

    def goodness_of_fit(self, data: npt.ArrayLike) -> "GoodnessOfFit":
        """How closely the fitted normal describes the transformed series.

        The uncensored values (as the fit's likelihood counts them) are standardised with
        :meth:`to_normal` and judged as the middle part of the whole sample: the values
        censored below and above take the lowest and highest ranks of the Q-Q plot, and the
        Anderson-Darling statistic compares the values with the fitted normal restricted to
        the interval between the thresholds.

        Parameters
        ----------
        data : array_like
            The series that was fitted, as :func:`ferrule.fit` takes it; NaN values are
            left out.

        Returns
        -------
        GoodnessOfFit
            ``ppcc`` (probability-plot correlation, 1 for a straight Q-Q line),
            ``anderson_darling``, and the Q-Q plot's ``quantiles`` and ``scores``.

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> rain = np.maximum(np.random.default_rng(2).gamma(0.8, 4.0, 400) - 1.0, 0.0)
        >>> result = ferrule.fit(rain, left=0.0, seed=2).goodness_of_fit(rain)
        >>> result.n_left == int(np.sum(rain == 0.0)), bool(result.ppcc > 0.99)
        (True, True)
        """
        from ferrule._goodness import goodness_of_fit

        return goodness_of_fit(self, data)

    def plot(self, data: npt.ArrayLike, *, figure: Any = None) -> Any:
        """Diagnostic figure: density with a histogram, normal Q-Q plot, exceedances.

        Needs matplotlib (``pip install 'ferrule[plot]'``). The Q-Q panel shows the
        standardised uncensored values against the normal quantiles of their ranks
        among all values; the exceedance panel compares the empirical and fitted
        probabilities of exceeding each value on a log scale.

        Parameters
        ----------
        data : array_like
            The series that was fitted, as :func:`ferrule.fit` takes it. NaN values are left
            out; infinite values (beyond a threshold) keep their ranks but are not drawn.
        figure : matplotlib.figure.Figure, optional
            Figure to draw into; a new one by default.

        Returns
        -------
        matplotlib.figure.Figure

        Raises
        ------
        ImportError
            matplotlib is not installed.
        ValueError
            No values to plot (empty or all NaN).

        Examples
        --------
        >>> import numpy as np, ferrule
        >>> x = np.random.default_rng(0).gamma(2.0, size=200)
        >>> figure = ferrule.fit(x, seed=0).plot(x)
        >>> figure.savefig("fit.png")  # doctest: +SKIP
        """
        from ferrule._plot import plot_fit

        return plot_fit(self, data, figure=figure)
