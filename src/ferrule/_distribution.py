"""The fitted distribution in data units, computed with the kernel module's array kernels.

The continuous model: u = (x + shift) * scale is the value the transformation sees. For the
normal families z = (T(u) - mu) / sigma is standard normal; for Jones-Pewsey
z = T((u - mu) / sigma) is. The observed variable is that one clipped to [left, right], so
the thresholds carry point masses: the mass below left sits at left, the mass above right
at right.

A transformation whose range is bounded (Yeo-Johnson with lambda <= 0 or >= 2) leaves part
of the normal's mass beyond its range; that part lies at -inf or +inf (or at the threshold
that clips it). Log-sinh is defined only for lambda u + epsilon > 0; below that z is -inf.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._names import family_info

__all__ = ["Model"]

Array = npt.NDArray[np.float64]
_HALF_LOG_TWO_PI = 0.5 * math.log(2.0 * math.pi)


def _floats(values: npt.ArrayLike) -> Array:
    return np.asarray(values, dtype=np.float64)


@dataclass(frozen=True)
class Model:
    family: _core.FamilyKey
    transformation: tuple[float, ...]
    mu: float
    sigma: float
    scale: float
    shift: float
    left: float
    right: float
    models_raw_value: bool

    # ---- the continuous variable --------------------------------------------------------
    def _forward(self, values: Array) -> Array:
        return _core.forward(self.family, self.transformation, values)

    def _inverse(self, values: Array) -> Array:
        return _core.inverse(self.family, self.transformation, values)

    def _mapped(self, u: Array) -> Array:
        """The argument of T: u itself, or the standardised u for Jones-Pewsey."""
        return (u - self.mu) / self.sigma if self.models_raw_value else u

    def _z_of_u(self, u: Array) -> Array:
        with np.errstate(invalid="ignore", over="ignore"):
            t = self._forward(self._mapped(u))
            z = t if self.models_raw_value else (t - self.mu) / self.sigma
        if family_info(self.family).bounded_below and np.isfinite(self.transformation).all():
            # Below its domain (log-sinh: lambda u + epsilon < 0) the map is undefined (NaN):
            # no mass lies there.
            z = np.where(np.isnan(t) & ~np.isnan(u), -np.inf, z)
        return z

    def _u_of_z(self, z: Array, *, strict: bool = False) -> Array:
        """The inverse map. Where the range of T is bounded, the scores at or beyond its ends
        give -inf or +inf (the normal's mass there lies at the ends of the line); `strict`
        leaves the scores strictly beyond them without a value (NaN)."""
        with np.errstate(invalid="ignore", over="ignore"):
            if self.models_raw_value:
                return self.mu + self.sigma * self._inverse(z)
            y = self.mu + self.sigma * z
            bottom, top = self._forward(np.array([-np.inf, np.inf]))
            # Decided here rather than by the inverse map, which is not defined beyond the
            # range (Yeo-Johnson with lambda < 0 maps y = +inf to u = -1).
            u = np.where(y >= top, np.inf, np.where(y <= bottom, -np.inf, self._inverse(y)))
            if strict:
                u = np.where((y > top) | (y < bottom), np.nan, u)
        return u

    def _u(self, x: Array) -> Array:
        return (x + self.shift) * self.scale

    def _x(self, u: Array) -> Array:
        return u / self.scale - self.shift

    def _z(self, x: Array) -> Array:
        return self._z_of_u(self._u(x))

    def _continuous_logpdf(self, x: Array) -> Array:
        u = self._u(x)
        z = self._z_of_u(u)
        with np.errstate(invalid="ignore", over="ignore", divide="ignore"):
            jacobian = _core.log_jacobian(self.family, self.transformation, self._mapped(u))
            return (-0.5 * z * z - _HALF_LOG_TWO_PI + jacobian - math.log(self.sigma)) + math.log(
                self.scale
            )

    def _threshold_z(self) -> tuple[float, float]:
        z_left, z_right = self._z(np.array([self.left, self.right]))
        return float(z_left), float(z_right)

    # ---- public maps ------------------------------------------------------------------------
    def to_normal(self, x: npt.ArrayLike) -> Array:
        return self._z(_floats(x))

    def from_normal(self, z: npt.ArrayLike) -> Array:
        return self._x(self._u_of_z(_floats(z), strict=True))

    # ---- the observed (clipped) variable ------------------------------------------------
    def cdf(self, x: npt.ArrayLike) -> Array:
        x = _floats(x)
        p = _core.ndtr(self._z(x))
        p = np.where(x < self.left, 0.0, p)
        return np.where(x >= self.right, 1.0, p)

    def sf(self, x: npt.ArrayLike) -> Array:
        x = _floats(x)
        q = _core.ndtr(-self._z(x))
        q = np.where(x < self.left, 1.0, q)
        return np.where(x >= self.right, 0.0, q)

    def logsf(self, x: npt.ArrayLike) -> Array:
        x = _floats(x)
        q = _core.log_ndtr(-self._z(x))
        q = np.where(x < self.left, 0.0, q)
        return np.where(x >= self.right, -np.inf, q)

    def logpdf(self, x: npt.ArrayLike) -> Array:
        x = _floats(x)
        z_left, z_right = self._threshold_z()
        masses = _core.log_ndtr(np.array([z_left, -z_right]))
        inside = (self.left < x) & (x < self.right)
        value = np.where(inside, self._continuous_logpdf(np.where(inside, x, np.nan)), -np.inf)
        value = np.where((x == self.left) & math.isfinite(self.left), masses[0], value)
        value = np.where((x == self.right) & math.isfinite(self.right), masses[1], value)
        return np.where(np.isnan(x), np.nan, value)

    def pdf(self, x: npt.ArrayLike) -> Array:
        return np.exp(self.logpdf(x))

    def ppf(self, p: npt.ArrayLike) -> Array:
        p = _floats(p)
        z_left, _ = self._threshold_z()
        below_left = _core.ndtr(np.array([z_left]))[0] if math.isfinite(self.left) else -1.0
        x = np.clip(self._x(self._u_of_z(_core.ndtri(p))), self.left, self.right)
        x = np.where(p <= below_left, self.left, x)
        return np.where((p >= 0.0) & (p <= 1.0), x, np.nan)

    def sample(
        self, size: int | tuple[int, ...], rng: np.random.Generator | int | None = None
    ) -> Array:
        generator = np.random.default_rng(rng)
        z = generator.standard_normal(size)
        return np.clip(self._x(self._u_of_z(z)), self.left, self.right)
