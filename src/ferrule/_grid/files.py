"""A grid's dictionary (``GridFit.to_dict``) written to a ``.npz`` or NetCDF file whole or
not at all, and read back; the suffix tells the format."""

from __future__ import annotations

import json
import os
from typing import Any

import numpy as np

from ferrule._atomic import write_atomic
from ferrule._grid.schema import (
    GRID_FORMAT,
    GRID_FORMAT_VERSION,
    LATER_SETTINGS,
    NETCDF_SUFFIXES,
    NPZ_HEADER,
    NPZ_PARAM_PREFIX,
    SETTING_FIELDS,
    TEXT_FIELDS,
    array_fields,
    param_names,
    required_fields,
)
from ferrule._model_check import check_fields, check_format

__all__ = ["read_grid", "write_grid"]


def _kind(path: str | os.PathLike[str]) -> str:
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix == ".npz":
        return "npz"
    if suffix in NETCDF_SUFFIXES:
        return "netcdf"
    raise ValueError(
        f"cannot tell the file format of {os.fspath(path)!r}: name it .npz, or .nc for NetCDF"
    )


def write_grid(data: dict[str, Any], path: str | os.PathLike[str]) -> None:
    if _kind(path) == "netcdf":
        from ferrule._grid.dataset import dict_to_dataset, write_netcdf

        write_netcdf(dict_to_dataset(data), path)
        return
    data = dict(data)
    header = {key: data.pop(key) for key in ("format", "version", *SETTING_FIELDS)}
    header.update({key: data.pop(key) for key in LATER_SETTINGS if key in data})
    # Texts are kept in the header so the file loads without pickle.
    header.update({name: np.asarray(data.pop(name)).tolist() for name in TEXT_FIELDS})
    header["params"] = list(data["params"])
    arrays = {NPZ_PARAM_PREFIX + name: value for name, value in data.pop("params").items()}
    arrays.update(data)
    entries = {NPZ_HEADER: np.array(json.dumps(header)), **arrays}
    write_atomic(path, lambda file: np.savez_compressed(file, **entries))


def read_grid(path: str | os.PathLike[str]) -> dict[str, Any]:
    if _kind(path) == "netcdf":
        from ferrule._grid.dataset import dataset_to_dict, open_netcdf

        with open_netcdf(path) as dataset:
            return dataset_to_dict(dataset.load())
    with np.load(path, allow_pickle=False) as stored:
        if NPZ_HEADER not in stored:
            raise ValueError(f"{os.fspath(path)!r} is not a saved ferrule grid")
        data: dict[str, Any] = json.loads(str(stored[NPZ_HEADER]))
        if not isinstance(data, dict):
            raise ValueError(f"{os.fspath(path)!r} is not a saved ferrule grid")
        check_format("saved grid", data.get("format"), data.get("version"), GRID_FORMAT,
                     GRID_FORMAT_VERSION)  # fmt: skip
        names = param_names("saved grid", data.get("family"))
        fields = [name for name in array_fields(data["family"]) if name not in TEXT_FIELDS]
        required = [name for name in required_fields(data["family"]) if name in fields]
        check_fields("saved grid", stored, [NPZ_PARAM_PREFIX + name for name in names] + required)
        data.pop("params", None)
        data["params"] = {name: stored[NPZ_PARAM_PREFIX + name] for name in names}
        data.update({name: stored[name] for name in fields if name in stored})
    return data
