"""Paragraphs that several public docstrings share, written once: a docstring line
``%(name)s`` is replaced, at import, by the piece of that name indented as the line, so
``help()`` and the doctests read each docstring whole."""

from __future__ import annotations

import re
from collections.abc import Callable

__all__ = ["PIECES", "filled"]

PIECES = {
    "censor": """\
censor : bool, default True
    Values in a censored region map to its threshold, as the data were recorded;
    False gives the continuous model's values beyond the thresholds too.""",
    "fitted": """\
params : xarray.Dataset
    The result of :func:`fit` (or read back from its NetCDF file).""",
    # Three stations of gamma values along "time", for the examples of ferrule.xarray.
    "stations": """\
>>> import numpy as np
>>> import xarray as xr
>>> import ferrule.xarray as fx
>>> da = xr.DataArray(np.random.default_rng(0).gamma(2.0, size=(3, 300)),
...                   dims=("station", "time"))""",
    # A grid of 2 x 3 cells, for the examples of GridFit.
    "grid": """\
>>> import numpy as np
>>> import ferrule
>>> values = np.random.default_rng(0).gamma(2.0, size=(2, 3, 200))
>>> grid = ferrule.fit_grid(values, seed=1)""",
}
_PLACE = re.compile(r"^( *)%\((\w+)\)s$", re.MULTILINE)


def filled[F: Callable[..., object]](function: F) -> F:
    """`function` with the pieces its docstring names put in place."""

    def piece(match: re.Match[str]) -> str:
        indent, name = match.groups()
        return "\n".join(indent + line for line in PIECES[name].splitlines())

    if function.__doc__:
        function.__doc__ = _PLACE.sub(piece, function.__doc__)
    return function
