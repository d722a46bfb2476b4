"""Type stub of the compiled extension module ``ferrule.kestrel``.

Four classes wrap one normalising transformation of one data series each:

* ``PyYJT`` -- Yeo-Johnson, search vector ``[lambda, mu, log sigma]``;
* ``PyLogSinh`` -- log-sinh, search vector ``[log lambda, log epsilon, mu/sigma, log sigma]``;
* ``PySinhAsinh`` -- sinh-arcsinh, the transformed values are normal;
* ``PyJPT`` -- Jones-Pewsey, the raw values follow the sinh-arcsinh distribution;

the last two with search vector
``[delta/(1+delta), eps/sqrt(1+eps^2), mu/sqrt(1+mu^2), sigma/(sigma+delta)]``.

Array arguments are one-dimensional, writable buffers of float64 of any stride (``None``
counts as empty); they are copied and never written. Array results are new float64 arrays.
"""

from collections.abc import Buffer

import numpy as np
import numpy.typing as npt

_Array = npt.NDArray[np.float64]
_Values = Buffer | None

class _SingleLocation:
    # Methods shared by the four single-location classes; not a class of the module.
    def transform_many(self, values: _Values) -> _Array:
        """Transform every value with the stored parameters, without rescaling."""
    def inv_transform_many(self, values: _Values) -> _Array:
        """Back-transform every value with the stored parameters."""
    def rescale_one(self, value: float) -> float:
        """Return ``(value + shift) * scale``."""
    def inv_rescale_one(self, value: float) -> float:
        """Return ``value / scale - shift``."""
    def rescale_many(self, values: _Values) -> _Array:
        """Rescale every value."""
    def inv_rescale_many(self, values: _Values) -> _Array:
        """Undo the rescaling of every value."""
    def log_density(
        self,
        params: _Values,
        value: float,
        left_cens_thresh: float,
        right_cens_thresh: float,
        do_rescale: bool,
    ) -> float:
        """Censored log-likelihood contribution of one value.

        Parameters
        ----------
        params : buffer of float64
            Search vector; at least 3 values (Yeo-Johnson) or 4 (the others), else
            ValueError. It is decoded into the object's parameters, which stay there.
        value, left_cens_thresh, right_cens_thresh : float
            Value and censoring thresholds in data units.
        do_rescale : bool
            Rescale the value and the thresholds first.

        Returns
        -------
        float
        """
    def log_jacobian(
        self,
        params: _Values,
        value: float,
        left_cens_thresh: float,
        right_cens_thresh: float,
        do_rescale: bool,
    ) -> float:
        """Log Jacobian of the transformation at one value, 0.0 when it is censored.

        Takes the same arguments as `log_density`, with the same side effect.
        """
    def get_optimised_params(self) -> list[float]:
        """Search vector of the last fit; empty before any fit."""
    def get_scale_shift(self) -> list[float]:
        """``[scale, shift]``."""
    def get_transformation_params(self) -> list[float]:
        """The transformation parameters: 1 (Yeo-Johnson) or 2 (the others)."""
    def get_distribution_params(self) -> list[float]:
        """Transformation parameters, then mu and sigma (-9999.0 until set)."""
    def optim_params(
        self,
        data: _Values,
        left_cens_thresh: float,
        right_cens_thresh: float,
        do_rescale: bool,
        is_map: bool,
    ) -> None:
        """Fit the transformation and the normal to one series, by the simplex optimiser.

        Parameters
        ----------
        data : buffer of float64
            The series, at least one value (else ValueError).
        left_cens_thresh, right_cens_thresh : float
            Censoring thresholds in data units: values at or below the left one, or at or
            above the right one, count as censored.
        do_rescale : bool
            Rescale the series and the thresholds first.
        is_map : bool
            Add the log prior of the transformation parameters (maximum a posteriori).

        Notes
        -----
        Progress and warnings go to the process's standard output. Read the results with
        `get_optimised_params` and `get_distribution_params`; the transform methods then
        use the fitted parameters.
        """
    def optim_paramsDE(
        self,
        data: _Values,
        left_cens_thresh: float,
        right_cens_thresh: float,
        do_rescale: bool,
        is_map: bool,
    ) -> None:
        """As `optim_params`, by differential evolution (seeded afresh on every call)."""
    def optim_paramsSCE(
        self,
        data: _Values,
        left_cens_thresh: float,
        right_cens_thresh: float,
        do_rescale: bool,
        is_map: bool,
        maxConverge: int = 5,
        maxEval: int = 100000,
    ) -> None:
        """As `optim_params`, by shuffled complex evolution: reproducible within a process.

        Stops after ``maxConverge`` shuffles without change or ``maxEval`` evaluations.
        """

class PyYJT(_SingleLocation):
    """Yeo-Johnson transformation of one data series.

    Forward map: ``((x + 1)**lambda - 1)/lambda`` for x >= 0 and
    ``-((1 - x)**(2 - lambda) - 1)/(2 - lambda)`` for x < 0 (logarithms within 1e-7 of
    lambda = 0 and lambda = 2). Values are rescaled as ``(x + shift) * scale``.

    Parameters
    ----------
    trans_lambda : float, default 1.0
    scale : float, default 1.0
    shift : float, default 0.0
    """

    def __init__(
        self, trans_lambda: float = 1.0, scale: float = 1.0, shift: float = 0.0
    ) -> None: ...
    def transform_one(self, value: float, trans_lambda: float | None = None) -> float:
        """Transform one value, without rescaling.

        Parameters
        ----------
        value : float
        trans_lambda : float or None
            Explicit transformation parameter.
            When ``trans_lambda`` is None the stored parameters are used.

        Returns
        -------
        float
        """

class PyLogSinh(_SingleLocation):
    """log-sinh transformation of one data series.

    Forward map: ``log(sinh(lambda*x + epsilon))/lambda``.
    Values are rescaled as ``(x + shift) * scale``.

    The rescaling shift is always 0.

    Parameters
    ----------
    trans_lambda : float, default 1.0
    trans_epsilon : float, default 0.0
    scale : float, default 1.0
    """

    def __init__(
        self, trans_lambda: float = 1.0, trans_epsilon: float = 0.0, scale: float = 1.0
    ) -> None: ...
    def transform_one(
        self, value: float, trans_lambda: float | None = None, trans_epsilon: float | None = None
    ) -> float:
        """Transform one value, without rescaling.

        Parameters
        ----------
        value : float
        trans_lambda : float or None
            Explicit transformation parameter.
        trans_epsilon : float or None
            Explicit transformation parameter.
            When ``trans_lambda`` is None the stored parameters are used.

        Returns
        -------
        float
        """

class _SinhAsinhForm(_SingleLocation):
    # Constructor and forward map shared by PySinhAsinh and PyJPT; not a class of the module.
    def __init__(
        self,
        trans_delta: float = 1.0,
        trans_epsilon: float = 0.0,
        scale: float = 1.0,
        shift: float = 0.0,
    ) -> None: ...
    def transform_one(
        self, value: float, trans_delta: float | None = None, trans_epsilon: float | None = None
    ) -> float:
        """Transform one value, without rescaling.

        Parameters
        ----------
        value : float
        trans_delta : float or None
            Explicit transformation parameter.
        trans_epsilon : float or None
            Explicit transformation parameter.
            When ``trans_delta`` is None the stored parameters are used.

        Returns
        -------
        float
        """

class PySinhAsinh(_SinhAsinhForm):
    """sinh-arcsinh transformation of one data series.

    Forward map: ``sinh(delta*asinh(x) + epsilon)``.
    Values are rescaled as ``(x + shift) * scale``.

    Parameters
    ----------
    trans_delta : float, default 1.0
    trans_epsilon : float, default 0.0
    scale : float, default 1.0
    shift : float, default 0.0
    """

class PyJPT(_SinhAsinhForm):
    """Jones-Pewsey transformation of one data series.

    Forward map: ``sinh(delta*asinh(x) + epsilon)``.
    Values are rescaled as ``(x + shift) * scale``.

    Parameters
    ----------
    trans_delta : float, default 1.0
    trans_epsilon : float, default 0.0
    scale : float, default 1.0
    shift : float, default 0.0
    """

# ---- multi-location classes ----------------------------------------------------------
#
# One transformation per cell of an ``nrows`` x ``ncols`` grid of locations. Every grid
# array has the row on axis 0 and the column on axis 1; axis 2, where present, holds one
# location's series (``values``) or search vector (``params``). Array arguments are
# writable float64 buffers of any stride with the stated number of dimensions. Location
# ``v = r * ncols + c`` is visited in increasing order by every method.
#
# ``left_cens_thresh`` / ``right_cens_thresh`` are a number (int or float) used at every
# location or a 2-D ``numpy.ndarray`` of shape (nrows, ncols). ``mask`` is ``False`` (skip
# nothing) or a 2-D ``numpy.ndarray`` whose true cells are skipped by a fit.
#
# Threads: the series methods and the fits release the interpreter lock while they work
# through the locations, so separate instances can work in different threads at once.
# They work on the OpenMP threads the runtime offers (``OMP_NUM_THREADS``; shuffled
# complex evolution, whose draws come from one process-wide stream, on one) and commit
# the locations in order: results and console lines are those of a serial loop, for any
# thread count.
# While such a call runs, its instance is busy: any method called on it from another
# thread raises RuntimeError "<class> instance is busy: another thread is running a call
# on it; an instance must not be used from two threads at once" and changes nothing. The
# instance is free again when the call ends, however it ends.
#
# Interrupts: Ctrl-C (SIGINT) stops a series method or a fit between two locations with
# KeyboardInterrupt; locations fitted before keep their fits, later ones are not touched.
# Python runs signal handlers in the main thread only, so a call running in another
# thread is not interrupted: it ends only with its last location.

_Threshold = float | np.ndarray
_Mask = bool | np.ndarray

class _Grid:
    # Methods shared by the three grid classes; not a class of the module.
    def transform_one(self, values: _Values) -> _Array:
        """Transform one value per location, without rescaling.

        Parameters
        ----------
        values : 2-D buffer of float64, shape (nrows, ncols)

        Returns
        -------
        ndarray, shape (nrows, ncols)

        Raises
        ------
        ValueError
            "Shape of passed values do not match initialised object".
        """
    def transform_many(self, values: _Values) -> _Array:
        """Transform each location's series; shape (nrows, ncols, nvals) in and out.

        Releases the interpreter lock while the locations are processed; Ctrl-C stops it
        between two locations (KeyboardInterrupt).
        """
    def inv_transform_many(self, values: _Values) -> _Array:
        """Back-transform each location's series; shape (nrows, ncols, nvals) in and out."""
    def rescale_one(self, values: _Values) -> _Array:
        """``(value + shift) * scale`` per location; shape (nrows, ncols) in and out."""
    def inv_rescale_one(self, values: _Values) -> _Array:
        """``value / scale - shift`` per location; shape (nrows, ncols) in and out."""
    def rescale_many(self, values: _Values) -> _Array:
        """Rescale each location's series; shape (nrows, ncols, nvals) in and out."""
    def inv_rescale_many(self, values: _Values) -> _Array:
        """Undo the rescaling of each location's series."""
    def optim_params(
        self,
        values: _Values,
        left_cens_thresh: _Threshold,
        right_cens_thresh: _Threshold,
        mask: _Mask,
        do_rescale: bool,
        is_map: bool,
    ) -> None:
        """Fit every location not masked out, by the default (simplex) optimiser.

        Parameters
        ----------
        values : 3-D buffer of float64, shape (nrows, ncols, nvals), nvals >= 1
        left_cens_thresh, right_cens_thresh : float or ndarray of shape (nrows, ncols)
        mask : False or ndarray of shape (nrows, ncols)
            Locations whose mask is true are skipped and keep their state.
        do_rescale : bool
            Rescale series and thresholds first.
        is_map : bool
            Add the log prior (maximum a posteriori).

        Raises
        ------
        ValueError
            Wrong shapes, no values per location, or a mask of True or 1.
        TypeError
            Thresholds or mask of another kind.
        RuntimeError
            The instance is busy with a call from another thread.
        KeyboardInterrupt
            Ctrl-C in the main thread: raised before the next location is fitted; the
            locations fitted so far keep their fits.

        Notes
        -----
        All checks happen before the first location is fitted. The interpreter lock is
        released while fitting, on the OpenMP threads; each fitted location prints its
        console lines in turn, in location order.
        Read the results with `get_optimised_params` and `get_distribution_params`.
        """
    def optim_paramsDE(
        self,
        values: _Values,
        left_cens_thresh: _Threshold,
        right_cens_thresh: _Threshold,
        mask: _Mask,
        do_rescale: bool,
        is_map: bool,
    ) -> None:
        """As `optim_params`, by differential evolution."""
    def optim_paramsSCE(
        self,
        values: _Values,
        left_cens_thresh: _Threshold,
        right_cens_thresh: _Threshold,
        mask: _Mask,
        do_rescale: bool,
        is_map: bool,
        maxConverge: int = 5,
        maxEval: int = 100000,
    ) -> None:
        """As `optim_params`, by shuffled complex evolution with the given limits."""
    def log_density(
        self,
        params: _Values,
        values: _Values,
        left_cens_thresh: _Threshold,
        right_cens_thresh: _Threshold,
        do_rescale: bool,
    ) -> _Array:
        """Censored log-likelihood contribution of one value per location.

        Parameters
        ----------
        params : 3-D buffer of float64, shape (nrows, ncols, nparms)
            One search vector per location, decoded into that location's parameters,
            which stay there.
        values : 2-D buffer of float64, shape (nrows, ncols)
        left_cens_thresh, right_cens_thresh : float or ndarray of shape (nrows, ncols)
        do_rescale : bool

        Returns
        -------
        ndarray, shape (nrows, ncols)

        Raises
        ------
        ValueError
            Wrong shape of values, then of params, then "Expected N params for each
            location".
        """
    def log_jacobian(
        self,
        params: _Values,
        values: _Values,
        left_cens_thresh: _Threshold,
        right_cens_thresh: _Threshold,
        do_rescale: bool,
    ) -> _Array:
        """Log Jacobian per location, 0.0 where the value is censored.

        Takes the same arguments as `log_density`, with the same side effect.
        """
    def get_optimised_params(self) -> _Array:
        """Search vectors of the last fits, shape (nrows, ncols, nparms); NaN where none."""
    def get_distribution_params(self) -> _Array:
        """Transformation parameters, mu, sigma per location; shape (nrows, ncols, nparms)."""
    def get_transformation_params(self) -> _Array:
        """Transformation parameters per location; shape (nrows, ncols, ntrans)."""
    def get_scale_shift(self) -> _Array:
        """``[scale, shift]`` per location; shape (nrows, ncols, 2)."""

class PyYJTvectorized(_Grid):
    """Yeo-Johnson transformations of a grid of locations (ntrans 1, nparms 3).

    Parameters
    ----------
    trans_lambda, scale, shift : 2-D buffers of float64, all of one shape (nrows, ncols)

    Raises
    ------
    ValueError
        "All arguments arrays should have same shape ".
    """

    def __init__(self, trans_lambda: _Values, scale: _Values, shift: _Values) -> None: ...

class PyLogSinhvectorized(_Grid):
    """log-sinh transformations of a grid of locations (ntrans 2, nparms 4); shift is 0.

    Parameters
    ----------
    trans_lambda, trans_epsilon, scale : 2-D buffers of float64, all of one shape
    """

    def __init__(self, trans_lambda: _Values, trans_epsilon: _Values, scale: _Values) -> None: ...

class PySinhAsinhvectorized(_Grid):
    """sinh-arcsinh transformations of a grid of locations (ntrans 2, nparms 4).

    Parameters
    ----------
    trans_delta, trans_epsilon, scale, shift : 2-D buffers of float64, all of one shape
    """

    def __init__(
        self, trans_delta: _Values, trans_epsilon: _Values, scale: _Values, shift: _Values
    ) -> None: ...
