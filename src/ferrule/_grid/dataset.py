"""GridFit and xarray Dataset, one into the other (one variable per per-cell field, the fit
settings in attributes), and NetCDF files through them; xarray is imported only here, and
only when called."""

from __future__ import annotations

import os
from typing import Any

import numpy as np

from ferrule._grid.schema import (
    ARRAY_FIELDS,
    BOOL_FIELDS,
    GRID_FORMAT,
    GRID_FORMAT_VERSION,
    LATER_SETTINGS,
    PREFIX,
    SEARCH_DIM,
    SETTING_FIELDS,
    TEXT_FIELDS,
)
from ferrule._names import family_info

__all__ = [
    "column_names",
    "columns_of",
    "dataset_to_dict",
    "dict_to_dataset",
    "netcdf_engine",
    "open_netcdf",
    "write_netcdf",
    "require_xarray",
    "settings_attrs",
]


def require_xarray() -> Any:
    try:
        import xarray
    except ImportError:
        raise ImportError(
            "ferrule.xarray needs the xarray package, which is not installed: "
            "pip install 'ferrule[xarray]'"
        ) from None
    return xarray


def netcdf_engine() -> str | None:
    """h5netcdf when installed (it comes as wheels with ferrule[xarray]); else xarray's
    choice."""
    try:
        import h5netcdf  # noqa: F401
    except ImportError:
        return None
    return "h5netcdf"


# Up to this size a NetCDF file is built in memory and then written by plain file writes:
# the HDF5 library, when a write of its own fails (a full disk, a file-size limit), leaves
# its objects broken and crashes the process as they are freed. A larger file is written
# by the library directly, to spare the memory.
IN_MEMORY_BYTES = 1 << 30


def write_netcdf(dataset: Any, path: str | os.PathLike[str]) -> None:
    """Writes `dataset` as NetCDF whole or not at all: a failed write leaves what `path`
    held before."""
    import io

    from ferrule._atomic import atomic_path, write_atomic

    engine = netcdf_engine()
    if engine == "h5netcdf" and dataset.nbytes <= IN_MEMORY_BYTES:
        image = io.BytesIO()
        dataset.to_netcdf(image, engine=engine)
        write_atomic(path, lambda file: file.write(image.getbuffer()))
        return
    with atomic_path(path) as temporary:
        dataset.to_netcdf(temporary, engine=engine)


def open_netcdf(path: str | os.PathLike[str]) -> Any:
    xr = require_xarray()
    return xr.open_dataset(path, engine=netcdf_engine())


def column_names(family: str) -> tuple[str, ...]:
    """The Dataset's per-cell variables of a family, in the order the fit writes them."""
    return (*family_info(family).transformation_names, *ARRAY_FIELDS)


def columns_of(data: dict[str, Any]) -> dict[str, np.ndarray]:
    """The per-cell arrays of a grid's dictionary (``GridFit.to_dict``), parameters first."""
    out = dict(data["params"])
    out.update({name: data[name] for name in ARRAY_FIELDS})
    return out


def settings_attrs(
    family: str, method: str, prior: bool, base_seed: int, max_converge: int, max_eval: int
) -> dict[str, Any]:
    # NetCDF attributes hold numbers and strings only: the flag is kept as 0 or 1.
    values = (family, method, int(prior), int(base_seed), max_converge, max_eval)
    attrs: dict[str, Any] = {
        PREFIX + "format": GRID_FORMAT,
        PREFIX + "version": GRID_FORMAT_VERSION,
    }
    attrs.update({PREFIX + name: value for name, value in zip(SETTING_FIELDS, values, strict=True)})
    return attrs


def dict_to_dataset(
    data: dict[str, Any],
    dims: tuple[str, ...] | None = None,
    coords: Any = None,
    attrs: dict[str, Any] | None = None,
) -> Any:
    """A grid's dictionary (``GridFit.to_dict``) as a Dataset over `dims` (default cell_0,
    cell_1, ...)."""
    xr = require_xarray()
    columns = columns_of(data)
    ndim = np.ndim(columns["mu"])
    dims = tuple(dims) if dims is not None else tuple(f"cell_{i}" for i in range(ndim))
    variables = {}
    for name, value in columns.items():
        value = np.asarray(value)
        if name == "search":
            variables[name] = ((*dims, SEARCH_DIM), value)
        else:
            variables[name] = (dims, value.astype(object) if name in TEXT_FIELDS else value)
    all_attrs = dict(attrs or {})
    all_attrs.update(settings_attrs(*(data[name] for name in SETTING_FIELDS)))
    all_attrs.update({PREFIX + name: int(data[name]) for name in LATER_SETTINGS if name in data})
    return xr.Dataset(variables, coords=coords, attrs=all_attrs)


def dataset_to_dict(dataset: Any) -> dict[str, Any]:
    """The grid's dictionary of a Dataset written by :func:`dict_to_dataset` or
    ``ferrule.xarray.fit``, for ``GridFit.from_dict``."""
    attrs = dataset.attrs
    if attrs.get(PREFIX + "format") != GRID_FORMAT:
        raise ValueError("not a ferrule grid: the dataset lacks its ferrule_format attribute")
    cell_dims = dataset["mu"].dims
    data: dict[str, Any] = {
        "format": GRID_FORMAT,
        "version": int(attrs[PREFIX + "version"]),
        **{name: attrs[PREFIX + name] for name in SETTING_FIELDS},
        **{name: int(attrs.get(PREFIX + name, value)) for name, value in LATER_SETTINGS.items()},
    }
    info = family_info(data["family"])
    data["params"] = {name: _values(dataset[name], cell_dims)
                      for name in info.transformation_names}  # fmt: skip
    for name in ARRAY_FIELDS:
        order = (*cell_dims, SEARCH_DIM) if name == "search" else cell_dims
        data[name] = _values(dataset[name], order)
    for name in (*BOOL_FIELDS, "fitted"):
        data[name] = data[name].astype(bool)
    return data


def _values(variable: Any, dims: tuple[str, ...]) -> np.ndarray:
    return np.asarray(variable.transpose(*dims).values)
