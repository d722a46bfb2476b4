"""GridFit and xarray Dataset, one into the other (one variable per per-cell field, the fit
settings in attributes), and NetCDF files through them; xarray is imported only here, and
only when called."""

from __future__ import annotations

import os
from typing import Any

import numpy as np

from ferrule._docs import filled
from ferrule._errors import ArgumentError
from ferrule._grid.schema import (
    BOOL_FIELDS,
    GRID_FORMAT,
    GRID_FORMAT_VERSION,
    LATER_SETTINGS,
    PREFIX,
    SEARCH_DIM,
    SETTING_FIELDS,
    TEXT_FIELDS,
    array_fields,
    param_names,
    required_fields,
)
from ferrule._model_check import check_fields, check_format

__all__ = [
    "column_names",
    "columns_of",
    "dataset_to_dict",
    "dict_to_dataset",
    "fit_settings",
    "netcdf_engine",
    "open_netcdf",
    "require_xarray",
    "settings_attrs",
    "write_netcdf",
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


@filled
def write_netcdf(dataset: Any, path: str | os.PathLike[str]) -> None:
    """Write a Dataset (parameters or scores) to a NetCDF file, whole or not at all.

    A failed write (a full disk) leaves what `path` held before. The engine is the one
    :func:`open_netcdf` reads with: h5netcdf when installed, else xarray's choice.

    Parameters
    ----------
    dataset : xarray.Dataset
        What to write.
    path : str or path-like
        The file to write.

    Examples
    --------
    %(stations)s
    >>> fx.write_netcdf(fx.fit(da, seed=1), "params.nc")
    """
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


# The first bytes of each NetCDF format, and the engines that read it, preferred first.
_FORMATS = (
    (b"\x89HDF\r\n\x1a\n", "NetCDF4", ("h5netcdf", "netcdf4"), "h5netcdf"),
    (b"CDF", "NetCDF3", ("scipy", "netcdf4"), "scipy"),
)
_ENGINE_MODULES = {"h5netcdf": "h5netcdf", "netcdf4": "netCDF4", "scipy": "scipy"}


@filled
def open_netcdf(path: str | os.PathLike[str]) -> Any:
    """Open a NetCDF file as a Dataset (lazily), through an installed engine that reads its
    format: NetCDF4 by h5netcdf or netCDF4, NetCDF3 by scipy or netCDF4.

    Parameters
    ----------
    path : str or path-like
        The file: data, or parameters written by :func:`write_netcdf`.

    Returns
    -------
    xarray.Dataset
        Close it (or use it in a ``with`` block) when done.

    Raises
    ------
    ValueError
        The file is not NetCDF.
    ImportError
        No installed engine reads its format.

    Examples
    --------
    %(stations)s
    >>> fx.write_netcdf(fx.fit(da, seed=1), "params.nc")
    >>> with fx.open_netcdf("params.nc") as params:
    ...     z = fx.transform(params.load(), da)
    """
    import importlib.util

    xr = require_xarray()
    with open(path, "rb") as file:
        start = file.read(8)
    for signature, kind, engines, package in _FORMATS:
        if start.startswith(signature):
            for engine in engines:
                if importlib.util.find_spec(_ENGINE_MODULES[engine]) is not None:
                    return xr.open_dataset(path, engine=engine)
            raise ImportError(f"reading a {kind} file needs the {package} package, which is not "
                              f"installed: pip install {package}")  # fmt: skip
    raise ValueError("not a NetCDF file: it starts with neither the NetCDF4 (HDF5) nor the "
                     "NetCDF3 signature")  # fmt: skip


@filled
def fit_settings(params: Any) -> dict[str, Any]:
    """The settings a parameter Dataset of :func:`ferrule.xarray.fit` was fitted with.

    Parameters
    ----------
    params : xarray.Dataset
        The result of :func:`ferrule.xarray.fit`, or one read back from its NetCDF file.

    Returns
    -------
    dict
        The fit's settings by name (``family``, ``method``, ``dim``, ``groupby``, ``left``,
        ``right``, ``base_seed``...), as the Dataset's attributes hold them.

    Raises
    ------
    ArgumentError
        `params` is not such a Dataset (``argument`` is ``"params"``).

    Examples
    --------
    %(stations)s
    >>> settings = fx.fit_settings(fx.fit(da, seed=1))
    >>> settings["family"], settings["dim"], int(settings["base_seed"])
    ('yeo_johnson', 'time', 1)
    """
    xr = require_xarray()
    attrs = params.attrs if isinstance(params, xr.Dataset) else {}
    if attrs.get(PREFIX + "format") != GRID_FORMAT:
        raise ArgumentError("params", "params must be the Dataset of ferrule.xarray.fit (or one "
                            "read back from its NetCDF file)")  # fmt: skip
    return {name[len(PREFIX) :]: value for name, value in attrs.items() if name.startswith(PREFIX)}


def column_names(family: str) -> tuple[str, ...]:
    """The Dataset's per-cell variables of a family ("auto" too), in the order the fit
    writes them."""
    return (*param_names("grid", family), *array_fields(family))


def columns_of(data: dict[str, Any]) -> dict[str, np.ndarray]:
    """The per-cell arrays of a grid's dictionary (``GridFit.to_dict``), parameters first."""
    out = dict(data["params"])
    out.update({name: data[name] for name in array_fields(data["family"])})
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
    fit_settings(dataset)  # refuses any other Dataset
    attrs = dataset.attrs
    check_format("saved grid", GRID_FORMAT, attrs.get(PREFIX + "version"), GRID_FORMAT,
                 GRID_FORMAT_VERSION)  # fmt: skip
    check_fields("saved grid attribute", attrs, [PREFIX + name for name in SETTING_FIELDS])
    data: dict[str, Any] = {
        "format": GRID_FORMAT,
        "version": GRID_FORMAT_VERSION,
        **{name: attrs[PREFIX + name] for name in SETTING_FIELDS},
        **{name: int(attrs.get(PREFIX + name, value)) for name, value in LATER_SETTINGS.items()},
    }
    names = param_names("saved grid", data["family"])
    check_fields("saved grid", dataset.data_vars, (*names, *required_fields(data["family"])))
    cell_dims = dataset["mu"].dims
    data["params"] = {name: _values(dataset[name], cell_dims) for name in names}
    for name in (n for n in array_fields(data["family"]) if n in dataset.data_vars):
        order = (*cell_dims, SEARCH_DIM) if name == "search" else cell_dims
        data[name] = _values(dataset[name], order)
    for name in (*BOOL_FIELDS, "fitted"):
        data[name] = data[name].astype(bool)
    return data


def _values(variable: Any, dims: tuple[str, ...]) -> np.ndarray:
    return np.asarray(variable.transpose(*dims).values)
