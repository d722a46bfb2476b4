"""The three grid classes beside their single-location classes, for the grid tests.

A grid location must behave exactly like a single-location object built from the same
constructor arguments, so most grid tests compare cell by cell with one.
"""

from dataclasses import dataclass

import numpy as np
from conftest import constructor_names

import ferrule.kestrel as kestrel
from ferrule import _core


@dataclass(frozen=True)
class Grid:
    # Classes and parameter names come from the registry entry; the ranges and the sample
    # search point are the tests' own.
    info: _core.FamilyInfo
    # The range each constructor argument's cells are drawn from: ranges where every family's
    # forward map is defined on positive values.
    ranges: dict[str, tuple[float, float]]
    search_vector: tuple[float, ...]  # an interior point of the family's search box

    @property
    def cls(self) -> type:
        return getattr(kestrel, self.info.grid_class)

    @property
    def single(self) -> type:
        return getattr(kestrel, self.info.kestrel_class)

    @property
    def params(self) -> tuple[tuple[str, float, float], ...]:
        """Constructor arguments in positional order, each with its range."""
        return tuple((name, *self.ranges[name]) for name in constructor_names(self.info))

    @property
    def ntrans(self) -> int:
        return len(self.info.transformation_names)

    @property
    def name(self):
        return self.cls.__name__

    @property
    def nparms(self):
        return self.ntrans + 2

    def args(self, nrows, ncols, seed=0):
        """Constructor arrays with a different value in every cell."""
        rng = np.random.default_rng(seed)
        return [rng.uniform(lo, hi, (nrows, ncols)) for _, lo, hi in self.params]

    def make(self, nrows=2, ncols=3, seed=0):
        args = self.args(nrows, ncols, seed)
        return self.cls(*args), args

    def single_at(self, args, r, c):
        """The single-location object that cell (r, c) should behave like."""
        return self.single(*[float(a[r, c]) for a in args])

    def search_vectors(self, nrows, ncols):
        """One interior search vector per cell, all different."""
        base = np.array(self.search_vector)
        step = np.linspace(-0.05, 0.05, nrows * ncols).reshape(nrows, ncols, 1)
        return base + step * np.linspace(1.0, 0.5, self.nparms)


_SCALE_SHIFT = {"scale": (0.5, 2.0), "shift": (0.0, 2.0)}
_TEST_DATA = {
    "yeo_johnson": ({"trans_lambda": (0.2, 1.8)}, (0.7, 0.2, -0.3)),
    "log_sinh": ({"trans_lambda": (0.3, 1.5), "trans_epsilon": (0.1, 1.0)}, (-0.2, -1.5, 0.4, 0.1)),
    "sinh_asinh": (
        {"trans_delta": (0.5, 2.0), "trans_epsilon": (-0.5, 0.5)}, (0.6, 0.2, -0.3, 0.4),
    ),
}  # fmt: skip
# Every family that has a grid class.
GRIDS = [
    Grid(info, {**ranges, **_SCALE_SHIFT}, vector)
    for info in _core.FAMILIES
    if info.grid_class is not None
    for ranges, vector in [_TEST_DATA[info.key]]
]


def cells(nrows, ncols):
    """All cells in location order: row by row, columns inner."""
    return [(r, c) for r in range(nrows) for c in range(ncols)]


def series(nrows, ncols, nvals, seed=1):
    """Positive skewed series, one per location."""
    return np.random.default_rng(seed).gamma(2.0, 1.5, (nrows, ncols, nvals))
