"""The fitted distribution in data units, computed with the kernel module's array kernels.

The continuous model: u = (x + shift) * scale is the value the transformation sees, and its
raw score is r = (T(u) - mu) / sigma for the normal families, r = T((u - mu) / sigma) for
Jones-Pewsey. The observed variable is the continuous one clipped to [left, right], so the
thresholds carry point masses: the mass below left sits at left, the mass above right at
right (``censor=False`` in ``from_normal`` and ``ppf`` gives the unclipped values).

r is modelled as standard normal restricted to the raw scores the transformation reaches,
(r_bottom, r_top) = the scores of T(-inf) and T(+inf), and renormalised by the normal mass
M inside them, as the public layer's likelihood is (core/likelihood_policy.hpp). Only
Yeo-Johnson with lambda < 0 or > 2 has a bounded range; for every other fit M = 1 and the
standard normal score z of a value is r itself. Otherwise z = Phi^-1(F(x)) with F the
renormalised distribution function, so every finite probability has a finite quantile
and ``from_normal`` inverts ``to_normal``. Log-sinh is defined only for
lambda u + epsilon > 0; below that r is -inf.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from functools import cached_property

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._names import family_info

__all__ = ["Model", "log_mass_between"]

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

    # ---- the range of the transformation and the renormalised scores --------------------
    @cached_property
    def _range(self) -> tuple[float, float, float]:
        """Raw scores of both ends of the line, and log M, the normal mass between them."""
        bottom, top = self._z_of_u(np.array([-np.inf, np.inf]))
        # A negative sigma (an invalid fit) turns the range around, as in the likelihood.
        return (
            float(bottom),
            float(top),
            float(log_mass_between(min(bottom, top), max(bottom, top))),
        )

    @property
    def log_inside(self) -> float:
        """log M: the log of the normal mass inside the transformation's range (0 when the
        range is the whole line)."""
        return self._range[2]

    def _score(self, r: Array) -> Array:
        """Standard normal score of raw scores: Phi^-1 of the renormalised distribution
        function, taken in the tail that keeps its precision."""
        bottom, top, inside = self._range
        if inside == 0.0:
            return r
        with np.errstate(invalid="ignore", over="ignore", divide="ignore"):
            low = np.exp(log_mass_between(bottom, r) - inside)
            high = np.exp(log_mass_between(r, top) - inside)
            return np.where(low <= 0.5, _core.ndtri(low), -_core.ndtri(high))

    def _raw(self, z: Array) -> Array:
        """Raw scores of standard normal scores, the inverse of :meth:`_score`:
        F(r) = Phi(z), solved in the tail of z."""
        bottom, top, inside = self._range
        if inside == 0.0:
            return z
        mass = math.exp(inside)
        with np.errstate(invalid="ignore", over="ignore"):
            low = _core.ndtri(_core.ndtr(np.array(bottom)) + _core.ndtr(z) * mass)
            high = -_core.ndtri(_core.ndtr(np.array(-top)) + _core.ndtr(-z) * mass)
            # The ends of the line are the ends of the range exactly, not by a round trip.
            return np.where(
                np.isinf(z), np.where(z > 0.0, top, bottom), np.where(z <= 0.0, low, high)
            )

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

    def _r(self, x: Array) -> Array:
        return self._z_of_u(self._u(x))

    def _z(self, x: Array) -> Array:
        return self._score(self._r(x))

    def _continuous_logpdf(self, x: Array) -> Array:
        u = self._u(x)
        r = self._z_of_u(u)
        with np.errstate(invalid="ignore", over="ignore", divide="ignore"):
            jacobian = _core.log_jacobian(self.family, self.transformation, self._mapped(u))
            return (
                (-0.5 * r * r - _HALF_LOG_TWO_PI + jacobian - math.log(self.sigma))
                + math.log(self.scale)
            ) - self.log_inside

    def _threshold_z(self) -> tuple[float, float]:
        z_left, z_right = self._z(np.array([self.left, self.right]))
        return float(z_left), float(z_right)

    def _threshold_masses(self) -> tuple[float, float]:
        """log masses below `left` and above `right`, as the likelihood counts them."""
        bottom, top, inside = self._range
        r_left, r_right = self._r(np.array([self.left, self.right]))
        return (
            float(log_mass_between(bottom, r_left) - inside),
            float(log_mass_between(r_right, top) - inside),
        )

    def _continuous_x(self, z: Array) -> Array:
        return self._x(self._u_of_z(self._raw(z), strict=True))

    def _clipped(self, x: Array, censor: bool) -> Array:
        return np.clip(x, self.left, self.right) if censor else x

    # ---- public maps ------------------------------------------------------------------------
    def to_normal(self, x: npt.ArrayLike) -> Array:
        return self._z(_floats(x))

    def from_normal(self, z: npt.ArrayLike, *, censor: bool = True) -> Array:
        return self._clipped(self._continuous_x(_floats(z)), censor)

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
        masses = self._threshold_masses()
        inside = (self.left < x) & (x < self.right)
        value = np.where(inside, self._continuous_logpdf(np.where(inside, x, np.nan)), -np.inf)
        value = np.where((x == self.left) & math.isfinite(self.left), masses[0], value)
        value = np.where((x == self.right) & math.isfinite(self.right), masses[1], value)
        return np.where(np.isnan(x), np.nan, value)

    def pdf(self, x: npt.ArrayLike) -> Array:
        return np.exp(self.logpdf(x))

    def ppf(self, p: npt.ArrayLike, *, censor: bool = True) -> Array:
        p = _floats(p)
        x = self._continuous_x(_core.ndtri(p))
        if censor:
            z_left, _ = self._threshold_z()
            below_left = _core.ndtr(np.array([z_left]))[0] if math.isfinite(self.left) else -1.0
            x = np.where(p <= below_left, self.left, np.clip(x, self.left, self.right))
        return np.where((p >= 0.0) & (p <= 1.0), x, np.nan)

    def sample(
        self, size: int | tuple[int, ...], rng: np.random.Generator | int | None = None
    ) -> Array:
        generator = np.random.default_rng(rng)
        return self.from_normal(generator.standard_normal(size))


def log_mass_between(a: npt.ArrayLike, b: npt.ArrayLike) -> Array:
    """log(Phi(b) - Phi(a)) without cancellation, as the likelihood's accurate policy takes
    it: in the lower tails where b <= 0, the upper ones where a >= 0, else 1 minus both
    tails; -inf where a >= b."""
    a, b = np.broadcast_arrays(_floats(a), _floats(b))
    with np.errstate(invalid="ignore", over="ignore", divide="ignore"):
        lower = _core.log_ndtr(b) + np.log1p(-np.exp(_core.log_ndtr(a) - _core.log_ndtr(b)))
        upper = _core.log_ndtr(-a) + np.log1p(-np.exp(_core.log_ndtr(-b) - _core.log_ndtr(-a)))
        middle = np.log1p(-(_core.ndtr(a) + _core.ndtr(-b)))
        out = np.where(b <= 0.0, lower, np.where(a >= 0.0, upper, middle))
    out = np.where(a < b, out, -np.inf)
    return np.where(np.isnan(a) | np.isnan(b), np.nan, out)
