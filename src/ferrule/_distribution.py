"""The fitted distribution in data units: the maps of the kernel module, one pass per value.

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
renormalised distribution function, computed in log space (log Phi and its inverse, and
near the finite end of the range the distance to it from u itself), so every finite value
has a finite score, every finite probability a finite quantile, and ``from_normal``
inverts ``to_normal``. Log-sinh is defined only for lambda u + epsilon > 0; below that r
is -inf. The formulas live in api/distribution_maps.cpp.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from ferrule import _core

__all__ = ["Model"]

Array = npt.NDArray[np.float64]


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
    models_raw_value: bool  # the kernel module knows it from the family; kept for callers

    @property
    def _fields(self) -> tuple:
        return (
            self.transformation,
            self.mu,
            self.sigma,
            self.scale,
            self.shift,
            self.left,
            self.right,
        )

    def _map(self, which: str, values: npt.ArrayLike, censor: bool = True) -> Array:
        return _core.distribution_map(self.family, self._fields, which, values, censor=censor)

    @property
    def log_inside(self) -> float:
        """log M: the log of the normal mass inside the transformation's range (0 when the
        range is the whole line)."""
        return _core.score_range(self.family, self._fields)[2]

    def _u(self, x: Array) -> Array:
        return (x + self.shift) * self.scale

    # ---- public maps ------------------------------------------------------------------------
    def to_normal(self, x: npt.ArrayLike) -> Array:
        return self._map("to_normal", x)

    def from_normal(self, z: npt.ArrayLike, *, censor: bool = True) -> Array:
        return self._map("from_normal", z, censor)

    # ---- the observed (clipped) variable ------------------------------------------------
    def cdf(self, x: npt.ArrayLike) -> Array:
        return self._map("cdf", x)

    def sf(self, x: npt.ArrayLike) -> Array:
        return self._map("sf", x)

    def logsf(self, x: npt.ArrayLike) -> Array:
        return self._map("logsf", x)

    def logpdf(self, x: npt.ArrayLike) -> Array:
        return self._map("logpdf", x)

    def pdf(self, x: npt.ArrayLike) -> Array:
        return np.exp(self.logpdf(x))

    def ppf(self, p: npt.ArrayLike, *, censor: bool = True) -> Array:
        return self._map("ppf", p, censor)

    def sample(
        self, size: int | tuple[int, ...], rng: np.random.Generator | int | None = None
    ) -> Array:
        generator = np.random.default_rng(rng)
        return self.from_normal(generator.standard_normal(size))
