"""Normalising transformations for skewed, censored data series.

``ferrule.fit(data, family, ...)`` fits a Yeo-Johnson, log-sinh, sinh-arcsinh or
Jones-Pewsey transformation and a normal distribution to one series, and returns a
:class:`Fit`: the parameters, the log-likelihood in data units, whether the fit is valid,
and the fitted distribution in data units (``to_normal``, ``cdf``, ``ppf``, ``sample``...).
The exact low-level classes are in ``ferrule.kestrel``.

Examples
--------
>>> import numpy as np
>>> import ferrule
>>> fit = ferrule.fit(np.random.default_rng(0).gamma(2.0, size=300), seed=0)
>>> round(float(fit.cdf(fit.ppf(0.9))), 6)
0.9
"""

import importlib
from typing import TYPE_CHECKING, Any

# The public names load on first use, so that importing the package (and with it
# ferrule.kestrel or the command line) does not load the fitting layer.
_PUBLIC = {
    "ArgumentError": "ferrule._errors",
    "CensoringWarning": "ferrule._warnings",
    "ConvergenceWarning": "ferrule._warnings",
    "FerruleWarning": "ferrule._warnings",
    "Fit": "ferrule._result",
    "GoodnessOfFit": "ferrule._goodness",
    "GridFit": "ferrule._grid.result",
    "GridFitInterrupted": "ferrule._grid.errors",
    "InvalidFitWarning": "ferrule._warnings",
    "MaskedCellsWarning": "ferrule._grid.errors",
    "atomic_path": "ferrule._atomic",
    "auto_scale": "ferrule._input",
    "families": "ferrule._names",
    "fit": "ferrule._fitting",
    "fit_grid": "ferrule._grid.fit",
    "fit_problems": "ferrule._validity_api",
    "load_grid": "ferrule._grid.io",
}
# Submodules reachable as attributes (ferrule.xarray needs the xarray package).
_SUBMODULES = ("xarray",)
__all__ = [
    "ArgumentError",
    "CensoringWarning",
    "ConvergenceWarning",
    "FerruleWarning",
    "Fit",
    "GridFit",
    "GoodnessOfFit",
    "GridFitInterrupted",
    "InvalidFitWarning",
    "MaskedCellsWarning",
    "atomic_path",
    "auto_scale",
    "families",
    "fit",
    "fit_grid",
    "fit_problems",
    "load_grid",
]

if TYPE_CHECKING:
    from ferrule._atomic import atomic_path
    from ferrule._errors import ArgumentError
    from ferrule._fitting import fit
    from ferrule._goodness import GoodnessOfFit
    from ferrule._grid.errors import GridFitInterrupted, MaskedCellsWarning
    from ferrule._grid.fit import fit_grid
    from ferrule._grid.io import load_grid
    from ferrule._grid.result import GridFit
    from ferrule._input import auto_scale
    from ferrule._names import families
    from ferrule._result import Fit
    from ferrule._validity_api import fit_problems
    from ferrule._warnings import (
        CensoringWarning,
        ConvergenceWarning,
        FerruleWarning,
        InvalidFitWarning,
    )


def __getattr__(name: str) -> Any:
    if name == "__version__":
        # One version, the build's: the installed package's metadata holds it.
        from importlib.metadata import version

        return version("ferrule")
    if name in _SUBMODULES:
        return importlib.import_module(f"ferrule.{name}")
    if name not in _PUBLIC:
        raise AttributeError(f"module 'ferrule' has no attribute {name!r}")
    value = getattr(importlib.import_module(_PUBLIC[name]), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    # The public names only, loaded or not (the helpers of this module are not among them).
    return sorted({*__all__, *_SUBMODULES, "__version__"})
