"""Standardised index arithmetic on blocks of cells (series along the last axis): rolling
sums, fits per group (one family, or the best of several by AIC per cell and group), and
scores, with the conventions for values at the left threshold. Everything here depends on a
cell's own values and its flat index in the whole grid only, so a block gives the numbers
the whole grid gives."""

from __future__ import annotations

import math
from typing import Any

import numpy as np

from ferrule import _core
from ferrule._distribution import Model
from ferrule._grid.fit import CellOptions, grid_settings, run_grid
from ferrule._grid.schema import FAMILY_KEYS, UNION_PARAMS
from ferrule._names import family_info

__all__ = [
    "FAMILY_CODES",
    "PARAM_NAMES",
    "ZEROS",
    "accumulated",
    "fit_groups",
    "score_cells",
    "zero_scores",
]

# Families by their code in the parameters' ``family`` variable (-1: no valid fit), and the
# transformation parameters of every family by name: those of a grid fitted with "auto".
FAMILY_CODES = FAMILY_KEYS
PARAM_NAMES = UNION_PARAMS
# Per cell and group, besides the parameters.
FIELDS = ("mu", "sigma", "scale", "shift", "left", "right", "aic", "loglik", "n", "n_left",
          "valid")  # fmt: skip
ZEROS = ("upper", "center", "mean", "random")


def accumulated(values: np.ndarray, steps: int) -> np.ndarray:
    """Sums of `steps` consecutive values ending at each position, NaN where fewer than
    `steps` precede it or one of them is missing. Each window is summed on its own, so the
    result does not depend on where a block starts."""
    if steps == 1:
        return np.asarray(values, dtype=np.float64)
    out = np.full(values.shape, np.nan)
    if values.shape[-1] >= steps:
        windows = np.lib.stride_tricks.sliding_window_view(values, steps, axis=-1)
        out[..., steps - 1 :] = windows.sum(axis=-1)
    return out


def fit_groups(
    values: np.ndarray,
    pools: list[np.ndarray],
    family: str,
    *,
    method: str | None,
    prior: bool,
    fast: bool,
    base_seed: int,
    left: float,
    index: np.ndarray,
    total: int,
    n_jobs: int,
) -> dict[str, np.ndarray]:
    """Each cell's fit per group, on the values at the group's `pools` positions: arrays of
    shape (groups, *cells) for ``family`` (codes), the parameters and FIELDS. With `family`
    "auto", each cell and group keeps the fit ``ferrule.fit(..., "auto")`` keeps. Cell seeds
    come from `base_seed` and the flat index ``group * total + index``."""
    shape = values.shape[:-1]
    out = {name: np.full((len(pools), *shape), np.nan) for name in (*PARAM_NAMES, *FIELDS)}
    out["family"] = np.full((len(pools), *shape), -1, dtype=np.int8)
    settings = grid_settings(family, method, prior, base_seed, 5, 100000, fast=fast)
    for g, positions in enumerate(pools):
        sample = np.ascontiguousarray(values[..., positions])
        grid = run_grid(sample, settings, CellOptions(left=left), g * total + index,
                        n_jobs=n_jobs, progress=False).result  # fmt: skip
        kept = grid.valid
        codes = FAMILY_CODES.index(grid.family) if grid.family_code is None else grid.family_code
        out["family"][g] = np.where(kept, codes, -1)
        for name in PARAM_NAMES:
            out[name][g] = np.where(kept, grid.params.get(name, np.nan), np.nan)
        for name in FIELDS:
            out[name][g] = np.where(kept, getattr(grid, name), np.nan)
    out["valid"] = out["family"] >= 0
    return out


def zero_scores(p0: np.ndarray, zeros: str, draws: np.ndarray | None = None) -> np.ndarray:
    """Scores of values at or below the left threshold, whose probability is `p0`:
    "upper" the top of that mass, Phi^-1(p0); "center" its middle, Phi^-1(p0 / 2); "mean"
    the normal's mean below Phi^-1(p0), -phi(Phi^-1(p0)) / p0, so that scores average 0;
    "random" Phi^-1(u p0) with `draws` u uniform in (0, 1], so that scores are normal."""
    p0 = np.asarray(p0, dtype=np.float64)
    if zeros == "upper":
        return _core.ndtri(p0)
    if zeros == "center":
        return _core.ndtri(0.5 * p0)
    if zeros == "mean":
        with np.errstate(divide="ignore", invalid="ignore"):
            top = _core.ndtri(p0)
            density = np.exp(-0.5 * top * top) / math.sqrt(2.0 * math.pi)
            return np.where(p0 > 0.0, -density / p0, -np.inf)
    if zeros == "random":
        return _core.ndtri(np.asarray(draws) * p0)
    raise ValueError(f"zeros must be one of {', '.join(map(repr, ZEROS))}, got {zeros!r}")


def score_cells(
    values: np.ndarray,
    params: dict[str, np.ndarray],
    of_value: np.ndarray,
    *,
    zeros: str,
    empirical: bool,
    clip: float | None,
    base_seed: int,
    index: np.ndarray,
) -> np.ndarray:
    """Scores of `values` (cells x series) by their group's fit (`of_value`: the group of
    each position, -1 none): the model's normal score above the left threshold; at or
    below it the `zeros` convention on the zero probability p0, the model's or (with
    `empirical`) the share of such values in the fitted sample. With an empirical p0 the
    values above keep their place in the model's distribution of values above the
    threshold: z = -Phi^-1((1 - p0) sf(x) / (1 - p0_model)). Cells and groups without a valid
    fit, and missing values, give NaN."""
    shape = values.shape[:-1]
    flat = values.reshape(-1, values.shape[-1])
    cells = {name: np.asarray(v).reshape(v.shape[0], -1) for name, v in params.items()}
    flat_index = np.broadcast_to(index, shape).reshape(-1)
    out = np.full(flat.shape, np.nan)
    for c in range(flat.shape[0]):
        draws = _draws(base_seed, int(flat_index[c]), flat.shape[1]) if zeros == "random" else None
        for g in range(cells["family"].shape[0]):
            code = int(cells["family"][g, c])
            if code < 0:
                continue
            where = np.flatnonzero(of_value == g)
            out[c, where] = _score_group(flat[c, where], code, {k: v[g, c] for k, v in
                                                                  cells.items()},
                                         zeros, empirical,
                                         None if draws is None else draws[where])  # fmt: skip
    if clip is not None:
        out = np.clip(out, -clip, clip)
    return out.reshape(values.shape)


def _score_group(
    x: np.ndarray,
    code: int,
    fit: dict[str, Any],
    zeros: str,
    empirical: bool,
    draws: np.ndarray | None,
) -> np.ndarray:
    info = family_info(FAMILY_CODES[code])
    model = Model(
        info.key, tuple(float(fit[name]) for name in info.transformation_names),
        *(float(fit[name]) for name in ("mu", "sigma", "scale", "shift", "left", "right")),
        info.models_raw_value,
    )  # fmt: skip
    left = float(fit["left"])
    dry = x <= left
    p0_model = float(model.cdf(np.array([left]))[0]) if math.isfinite(left) else 0.0
    if empirical:
        p0 = float(fit["n_left"]) / float(fit["n"])
        with np.errstate(divide="ignore", invalid="ignore"):
            tail = (1.0 - p0) * model.sf(x) / (1.0 - p0_model)
            z = -_core.ndtri(np.minimum(tail, 1.0))
    else:
        p0 = p0_model
        z = model.to_normal(x)
    if dry.any():
        z[dry] = zero_scores(np.array(p0), zeros, None if draws is None else draws[dry])
    z[np.isnan(x)] = np.nan
    return z


def _draws(base_seed: int, cell: int, size: int) -> np.ndarray:
    """Uniform draws in (0, 1], one per position of the cell's series, from the base seed
    and the cell's flat index (the same in any block)."""
    sequence = np.random.SeedSequence(base_seed, spawn_key=(cell,))
    return 1.0 - np.random.default_rng(sequence).random(size)
