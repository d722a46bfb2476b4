"""The fitted distributions of many cells applied to their own series.

Each cell is evaluated by the one-series model of ``ferrule.Fit`` (the same kernel calls,
so a grid's numbers are those of its cells' fits, bit for bit); only the loop over cells
is here. Cells without a valid fit give NaN."""

from __future__ import annotations

from collections.abc import Mapping

import numpy as np
import numpy.typing as npt

from ferrule._distribution import Model
from ferrule._names import family_info

__all__ = ["MAPS", "apply_cells", "model_fields"]

Array = npt.NDArray[np.float64]
# What can be applied, by the name of the Model method.
MAPS = ("to_normal", "from_normal", "cdf", "ppf")
# The per-cell fields a cell's model is built from, besides its transformation parameters.
_MODEL_FIELDS = ("mu", "sigma", "scale", "shift", "left", "right", "valid")


def model_fields(family: str) -> tuple[str, ...]:
    """The per-cell fields :func:`apply_cells` reads for `family`, parameters first."""
    return (*family_info(family).transformation_names, *_MODEL_FIELDS)


def apply_cells(
    what: str,
    family: str,
    params: Mapping[str, npt.ArrayLike],
    rows: npt.ArrayLike,
    **options: bool,
) -> Array:
    """`what` of every cell on its row of values.

    `params` holds per-cell arrays (all of one shape S) of the fields named by
    :func:`model_fields`;
    `rows` has shape S + (m,) (S broadcast with the parameters' shape). Returns an array
    of that shape. `options` go to the map (``censor`` of from_normal and ppf)."""
    if what not in MAPS:
        raise ValueError(f"unknown map {what!r}: one of {MAPS}")
    info = family_info(family)
    given = {name: np.asarray(params[name]) for name in model_fields(family)}
    values = np.asarray(rows, dtype=np.float64)
    shape = np.broadcast_shapes(values.shape[:-1], *(v.shape for v in given.values()))
    values = np.broadcast_to(values, (*shape, values.shape[-1]))
    flat = values.reshape(-1, values.shape[-1])
    columns = {name: np.broadcast_to(v, shape).reshape(-1) for name, v in given.items()}
    out = np.full(flat.shape, np.nan)
    for i in np.flatnonzero(columns["valid"].astype(bool)):
        model = Model(
            info.key,
            tuple(float(columns[name][i]) for name in info.transformation_names),
            *(float(columns[name][i]) for name in ("mu", "sigma", "scale", "shift",
                                                   "left", "right")),
            info.models_raw_value,
        )  # fmt: skip
        out[i] = getattr(model, what)(flat[i], **options)
    return out.reshape(values.shape)
