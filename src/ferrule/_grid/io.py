"""``ferrule.load_grid``, and a GridFit of a Dataset of ``ferrule.xarray.fit``."""

from __future__ import annotations

import os
from typing import Any

from ferrule._grid.files import read_grid
from ferrule._grid.result import GridFit

__all__ = ["dataset_to_grid", "load_grid"]


def load_grid(path: str | os.PathLike[str]) -> GridFit:
    """Read a grid written by :meth:`GridFit.save` (``.npz``, or NetCDF ``.nc``).

    Parameters
    ----------
    path : str or path-like
        The file; its suffix tells the format.

    Returns
    -------
    GridFit

    Raises
    ------
    ValueError
        Not a saved grid, or a format version this ferrule does not read.

    Examples
    --------
    >>> import numpy as np
    >>> import ferrule
    >>> grid = ferrule.fit_grid(np.random.default_rng(0).gamma(2.0, size=(2, 200)), seed=1)
    >>> grid.save("grid.nc")
    >>> ferrule.load_grid("grid.nc") == grid
    True
    """
    return GridFit.from_dict(read_grid(path))


def dataset_to_grid(dataset: Any) -> GridFit:
    """A GridFit of a Dataset written by ``ferrule.xarray.fit`` or :meth:`GridFit.save`."""
    from ferrule._grid.dataset import dataset_to_dict

    return GridFit.from_dict(dataset_to_dict(dataset))
