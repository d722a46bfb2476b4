"""The layout of a saved grid: its fields and their kinds, the format name and version, the
attribute prefix of NetCDF files and the header entry of ``.npz`` files; every writer and
reader of grids takes them from here."""

from __future__ import annotations

import numpy as np

from ferrule import _core
from ferrule._choice import AUTO
from ferrule._model_check import family_names

__all__ = [
    "ARRAY_FIELDS",
    "AUTO",
    "BOOL_FIELDS",
    "DEFAULT_METHOD",
    "FAMILY_CODE",
    "FAMILY_KEYS",
    "FLOAT_FIELDS",
    "GRID_FORMAT",
    "GRID_FORMAT_VERSION",
    "INT_FIELDS",
    "LATER_ARRAYS",
    "LATER_SETTINGS",
    "NETCDF_SUFFIXES",
    "NPZ_HEADER",
    "NPZ_PARAM_PREFIX",
    "PREFIX",
    "SEARCH_DIM",
    "SETTING_FIELDS",
    "TEXT_FIELDS",
    "UNION_PARAMS",
    "array_fields",
    "field_dtype",
    "param_names",
]

GRID_FORMAT = "ferrule.GridFit"
GRID_FORMAT_VERSION = 1
# Fields of a Fit kept per cell, by kind; the transformation parameters are kept by name
# besides, as floats.
FLOAT_FIELDS = ("mu", "sigma", "loglik", "log_posterior", "aic", "bic")
INT_FIELDS = (
    "n", "n_left", "n_right", "n_dropped", "count", "evaluations", "runs", "polish_evaluations",
)  # fmt: skip
BOOL_FIELDS = ("converged", "limit_reached", "valid")
TEXT_FIELDS = ("reason", "warnings", "notes")
# The per-cell arrays besides the parameters, in the order they are saved.
ARRAY_FIELDS = (
    "mu", "sigma", "search", "loglik", "log_posterior", "aic", "bic", "n", "n_left",
    "n_right", "n_dropped", "count", "evaluations", "runs", "polish_evaluations", "converged",
    "limit_reached", "valid", "fitted", "reason", "warnings", "notes", "seed", "scale", "shift",
    "left", "right",
)  # fmt: skip
# Per-cell arrays added since, with the value a file without them means (one run, no
# polish, no notes: what a fit recorded before).
LATER_ARRAYS = {"runs": 1, "polish_evaluations": 0, "notes": ""}
# A grid fitted with family="auto" holds each cell's family as a code, its index in the
# registry's order (new families come last, so codes stay), -1 for a cell not fitted; its
# parameters are those of every family by name, NaN where a cell's family lacks one. Its
# method is DEFAULT_METHOD when each family ran with its own default optimiser.
FAMILY_CODE = "family_code"
FAMILY_KEYS = tuple(info.key for info in _core.FAMILIES)
UNION_PARAMS = tuple(dict.fromkeys(n for i in _core.FAMILIES for n in i.transformation_names))
DEFAULT_METHOD = "default"
# The settings shared by every cell.
SETTING_FIELDS = ("family", "method", "prior", "base_seed", "max_converge", "max_eval")
# Integer settings added since, with the value a file without them means.
LATER_SETTINGS = {"axis": -1}

# NetCDF: the settings are attributes named with this prefix; the search vectors have a
# dimension of their own.
PREFIX = "ferrule_"
SEARCH_DIM = "search_coordinate"
NETCDF_SUFFIXES = (".nc", ".nc4", ".netcdf")
# npz: the entry holding the settings and texts as JSON, and the parameters' entry names.
NPZ_HEADER = "__ferrule__"
NPZ_PARAM_PREFIX = "param_"


def array_fields(family: str) -> tuple[str, ...]:
    """The per-cell arrays besides the parameters of a grid of `family` ("auto" too)."""
    return (*ARRAY_FIELDS, FAMILY_CODE) if family == AUTO else ARRAY_FIELDS


def required_fields(family: str) -> tuple[str, ...]:
    """The per-cell arrays every saved grid of `family` holds (not those added since)."""
    return tuple(name for name in array_fields(family) if name not in LATER_ARRAYS)


def param_names(what: str, family: object) -> tuple[str, ...]:
    """The transformation parameters a grid of `family` holds ("auto": every family's);
    an unknown family is refused, naming `what`."""
    return UNION_PARAMS if family == AUTO else family_names(what, family)


def field_dtype(name: str) -> type | np.dtype:
    """The dtype of a per-cell field (a transformation parameter is a float)."""
    if name in TEXT_FIELDS:
        return object
    if name in INT_FIELDS:
        return np.int64
    if name in (*BOOL_FIELDS, "fitted"):
        return bool
    if name == "seed":
        return np.uint32
    if name == FAMILY_CODE:
        return np.int8
    return np.float64
