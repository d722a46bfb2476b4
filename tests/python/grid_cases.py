"""The three grid classes beside their single-location classes, for the grid tests.

A grid location must behave exactly like a single-location object built from the same
constructor arguments, so most grid tests compare cell by cell with one.
"""

from dataclasses import dataclass

import numpy as np

import ferrule.kestrel as kestrel


@dataclass(frozen=True)
class Grid:
    cls: type
    single: type
    # Constructor arguments in positional order, each with the range its cells are drawn
    # from: ranges where every family's forward map is defined on positive values.
    params: tuple[tuple[str, float, float], ...]
    ntrans: int
    search_vector: tuple[float, ...]  # an interior point of the family's search box

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


GRIDS = [
    Grid(
        kestrel.PyYJTvectorized,
        kestrel.PyYJT,
        (("trans_lambda", 0.2, 1.8), ("scale", 0.5, 2.0), ("shift", 0.0, 2.0)),
        1,
        (0.7, 0.2, -0.3),
    ),
    Grid(
        kestrel.PyLogSinhvectorized,
        kestrel.PyLogSinh,
        (("trans_lambda", 0.3, 1.5), ("trans_epsilon", 0.1, 1.0), ("scale", 0.5, 2.0)),
        2,
        (-0.2, -1.5, 0.4, 0.1),
    ),
    Grid(
        kestrel.PySinhAsinhvectorized,
        kestrel.PySinhAsinh,
        (
            ("trans_delta", 0.5, 2.0),
            ("trans_epsilon", -0.5, 0.5),
            ("scale", 0.5, 2.0),
            ("shift", 0.0, 2.0),
        ),
        2,
        (0.6, 0.2, -0.3, 0.4),
    ),
]


def cells(nrows, ncols):
    """All cells in location order: row by row, columns inner."""
    return [(r, c) for r in range(nrows) for c in range(ncols)]


def series(nrows, ncols, nvals, seed=1):
    """Positive skewed series, one per location."""
    return np.random.default_rng(seed).gamma(2.0, 1.5, (nrows, ncols, nvals))
