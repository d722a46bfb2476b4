"""Saving a GridFit to a ``.npz`` or NetCDF file, and ``ferrule.load_grid``."""

from __future__ import annotations

import json
import os
from typing import Any

import numpy as np

from ferrule._atomic import write_atomic
from ferrule._grid.result import (
    ARRAY_FIELDS,
    GRID_FORMAT,
    GRID_FORMAT_VERSION,
    SETTING_FIELDS,
    TEXT_FIELDS,
    GridFit,
)
from ferrule._model_check import check_fields, check_format, family_names

__all__ = ["load_grid", "save_grid"]

NETCDF_SUFFIXES = (".nc", ".nc4", ".netcdf")
_HEADER = "__ferrule__"  # the npz entry holding the settings and texts, as JSON


def _kind(path: str | os.PathLike[str]) -> str:
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix == ".npz":
        return "npz"
    if suffix in NETCDF_SUFFIXES:
        return "netcdf"
    raise ValueError(
        f"cannot tell the file format of {os.fspath(path)!r}: name it .npz, or .nc for NetCDF"
    )


def save_grid(grid: GridFit, path: str | os.PathLike[str]) -> None:
    if _kind(path) == "netcdf":
        from ferrule.xarray._dataset import grid_to_dataset, write_netcdf

        write_netcdf(grid_to_dataset(grid), path)
        return
    data = grid.to_dict()
    header = {key: data.pop(key) for key in ("format", "version", *SETTING_FIELDS)}
    # Texts are kept in the header so the file loads without pickle.
    header.update({name: data.pop(name).tolist() for name in TEXT_FIELDS})
    header["params"] = list(data["params"])
    arrays = {f"param_{name}": value for name, value in data.pop("params").items()}
    arrays.update(data)
    entries = {_HEADER: np.array(json.dumps(header)), **arrays}
    write_atomic(path, lambda file: np.savez_compressed(file, **entries))


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
    if _kind(path) == "netcdf":
        from ferrule.xarray._dataset import dataset_to_grid, open_netcdf

        with open_netcdf(path) as dataset:
            return dataset_to_grid(dataset.load())
    with np.load(path, allow_pickle=False) as stored:
        if _HEADER not in stored:
            raise ValueError(f"{os.fspath(path)!r} is not a saved ferrule grid")
        data: dict[str, Any] = json.loads(str(stored[_HEADER]))
        if not isinstance(data, dict):
            raise ValueError(f"{os.fspath(path)!r} is not a saved ferrule grid")
        check_format("saved grid", data.get("format"), data.get("version"), GRID_FORMAT,
                     GRID_FORMAT_VERSION)  # fmt: skip
        names = family_names("saved grid", data.get("family"))
        arrays = [f"param_{name}" for name in names]
        arrays += [name for name in ARRAY_FIELDS if name not in TEXT_FIELDS]
        check_fields("saved grid", stored, arrays)
        data["params"] = {name: stored[f"param_{name}"] for name in names}
        data.update({name: stored[name] for name in ARRAY_FIELDS if name not in TEXT_FIELDS})
    return GridFit.from_dict(data)
