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

class PyYJT:
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
            Search vector; at least 3 values, else ValueError. It is decoded into the
            object's parameters, which stay there.
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
        """The 1 transformation parameter(s)."""
    def get_distribution_params(self) -> list[float]:
        """Transformation parameters, then mu and sigma (-9999.0 until set)."""

class PyLogSinh:
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
            Search vector; at least 4 values, else ValueError. It is decoded into the
            object's parameters, which stay there.
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
        """The 2 transformation parameter(s)."""
    def get_distribution_params(self) -> list[float]:
        """Transformation parameters, then mu and sigma (-9999.0 until set)."""

class PySinhAsinh:
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
            Search vector; at least 4 values, else ValueError. It is decoded into the
            object's parameters, which stay there.
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
        """The 2 transformation parameter(s)."""
    def get_distribution_params(self) -> list[float]:
        """Transformation parameters, then mu and sigma (-9999.0 until set)."""

class PyJPT:
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
            Search vector; at least 4 values, else ValueError. It is decoded into the
            object's parameters, which stay there.
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
        """The 2 transformation parameter(s)."""
    def get_distribution_params(self) -> list[float]:
        """Transformation parameters, then mu and sigma (-9999.0 until set)."""
