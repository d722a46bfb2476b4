"""Standardised index arithmetic on blocks of cells (series along the last axis): rolling
sums, fits per group (one family, or the best of several by AIC per cell and group), and
scores, with the conventions for values at the left threshold. A cell and group without a
valid fit still scores its values at or below the threshold, from the share of such values
in its sample; those above it get no score. Everything here depends on a cell's own values
and its flat index in the whole grid only, so a block gives the numbers the whole grid
gives."""

from __future__ import annotations

import math

import numpy as np

from ferrule import _core
from ferrule._choice import candidates, choose, keeps_searching
from ferrule._goodness import anderson_darling_rows, normality_p_value
from ferrule._grid.cells import GridSettings
from ferrule._grid.fit import CellOptions, grid_settings, run_grid
from ferrule._grid.schema import FAMILY_KEYS, UNION_PARAMS
from ferrule._names import family_info

__all__ = [
    "FAMILY_CODES",
    "PARAM_NAMES",
    "ZEROS",
    "accumulated",
    "dry_share",
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
# Values per batch of groups fitted in one run of the cell loop: fewer calls for many
# small groups (days of the year), in threads across groups, in bounded memory.
_BATCH_VALUES = 1 << 18
# The fields of a cell's model besides its transformation parameters, in the kernel's order.
_MODEL_FIELDS = ("mu", "sigma", "scale", "shift", "left", "right")


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
    adequate: float | None = None,
) -> dict[str, np.ndarray]:
    """Each cell's fit per group, on the values at the group's `pools` positions: arrays of
    shape (groups, *cells) for ``family`` (codes), the parameters and FIELDS. With `family`
    "auto" the families are fitted in turn, each on the cells that still search
    (``keeps_searching`` with `adequate`; None: every family, the fit ``ferrule.fit(...,
    "auto")`` keeps), and each cell and group keeps the valid fit of lowest AIC among the
    families it was fitted in. Cell seeds come from `base_seed` and the flat index
    ``group * total + index``, the same in every family. Each family's run takes the rows
    of a batch of groups at once, every row fitted on its own."""
    shape = values.shape[:-1]
    ncells = math.prod(shape)
    out = {name: np.full((len(pools), ncells), np.nan) for name in (*PARAM_NAMES, *FIELDS)}
    out["family"] = np.full((len(pools), ncells), -1, dtype=np.int8)
    settings = grid_settings(family, method, prior, base_seed, 5, 100000, fast=fast)
    infos = [info for info in settings.infos
             if candidates(info, np.array(math.isfinite(left))).all()]  # fmt: skip
    cells = np.broadcast_to(index, shape).reshape(-1)
    flat = values.reshape(ncells, values.shape[-1])
    width = max((len(positions) for positions in pools), default=0)
    per_batch = max(1, _BATCH_VALUES // max(ncells * width, 1))
    for start in range(0, len(pools), per_batch):
        batch = range(start, min(start + per_batch, len(pools)))
        sample = _stacked(flat, [pools[g] for g in batch], width)
        seeds_at = np.concatenate([g * total + cells for g in batch])
        rows = sample.shape[0]
        searching = np.ones(rows, dtype=bool)
        fitted = []
        for info in infos:
            fit = _fit_family(sample, settings.of_family(info), searching, left, seeds_at,
                              n_jobs)  # fmt: skip
            fitted.append(fit)
            p = None if adequate is None else _p_values(sample, fit)
            searching = searching & keeps_searching(fit["valid"], p, adequate)
            if not searching.any():
                break
        pick = choose([f["aic"] for f in fitted], [f["valid"] for f in fitted])
        kept = np.stack([f["valid"] for f in fitted])[pick, np.arange(rows)]
        for name in out:
            chosen = np.stack([f[name] for f in fitted])[pick, np.arange(rows)]
            chosen = np.where(kept, chosen, -1 if name == "family" else np.nan)
            out[name][batch.start : batch.stop] = chosen.reshape(len(batch), ncells)
    out["valid"] = out["family"] >= 0
    out["n"], out["n_left"] = _counts(flat, pools, left)
    # The threshold the dry values were counted at, in cells without a fit too.
    out["left"] = np.where(out["valid"] | np.isnan(out["n"]), out["left"], left)
    return {name: value.reshape(len(pools), *shape) for name, value in out.items()}


def _counts(flat: np.ndarray, pools: list[np.ndarray], left: float) -> tuple[np.ndarray, ...]:
    """Per group and cell the values in the sample and those at or below the left threshold,
    with a fit or without (NaN where the sample has no value): a group without a model
    scores its dry values by their share."""
    n = np.full((len(pools), flat.shape[0]), np.nan)
    n_left = n.copy()
    for g, positions in enumerate(pools):
        sample = flat[:, positions]
        count = (~np.isnan(sample)).sum(axis=-1)
        n[g] = np.where(count > 0, count, np.nan)
        n_left[g] = np.where(count > 0, (sample <= left).sum(axis=-1), np.nan)
    return n, n_left


def dry_share(n_left: np.ndarray, n: np.ndarray) -> np.ndarray:
    """The probability that scores a value at or below the left threshold by the share of
    such values in the sample: k/n of the n values, kept within the plotting positions
    1/(n + 1) and n/(n + 1), so that a sample with none or only such values still gives a
    finite score (all dry: Phi^-1(n/(n + 1)) "upper", just below 0 "center" and "mean")."""
    n_left = np.asarray(n_left, dtype=np.float64)
    n = np.asarray(n, dtype=np.float64)
    return np.clip(n_left / n, 1.0 / (n + 1.0), n / (n + 1.0))


def _stacked(flat: np.ndarray, pools: list[np.ndarray], width: int) -> np.ndarray:
    """The samples of several groups as rows of one array (group after group, each the
    cells' rows), padded with NaN to `width`: missing values, which the fit leaves out. The
    width is that of the longest pool of all groups, so a row reads the same whichever
    groups share its batch."""
    sample = np.full((len(pools) * flat.shape[0], width), np.nan)
    for k, positions in enumerate(pools):
        sample[k * flat.shape[0] : (k + 1) * flat.shape[0], : len(positions)] = flat[:, positions]
    return sample


def _fit_family(
    sample: np.ndarray,
    settings: GridSettings,
    searching: np.ndarray,
    left: float,
    seeds_at: np.ndarray,
    n_jobs: int,
) -> dict[str, np.ndarray]:
    """One family's fits of the cells still `searching`: ``family`` (its code), the
    parameters by name and FIELDS; NaN (and not valid) in the other cells."""
    ncells = sample.shape[0]
    info = settings.info
    assert info is not None
    fit = {name: np.full(ncells, np.nan) for name in (*PARAM_NAMES, *FIELDS)}
    fit["valid"] = np.zeros(ncells, dtype=bool)
    fit["family"] = np.full(ncells, FAMILY_CODES.index(info.key), dtype=np.int8)
    rows = np.flatnonzero(searching)
    if rows.size:
        grid = run_grid(sample[rows], settings, CellOptions(left=left), seeds_at[rows],
                        n_jobs=n_jobs, progress=False).result  # fmt: skip
        for name, value in grid.params.items():
            fit[name][rows] = value
        for name in FIELDS:
            fit[name][rows] = getattr(grid, name)
    return fit


def _p_values(sample: np.ndarray, fit: dict[str, np.ndarray]) -> np.ndarray:
    """Per cell, the p-value of the Anderson-Darling normality test of the scores of its
    values above the left threshold, given that they are above it (NaN without a valid fit
    or such values)."""
    codes = np.where(fit["valid"], fit["family"], -1).astype(np.int8)
    model = (codes, *_models(codes, fit))
    left = np.asarray(fit["left"], dtype=np.float64)
    finite = np.isfinite(left)
    p0 = np.where(finite, _core.distribution_map_cells(
        *model, "cdf", np.where(finite, left, 0.0)[:, None])[:, 0], 0.0)  # fmt: skip
    with np.errstate(invalid="ignore", divide="ignore"):
        cdf = _core.distribution_map_cells(*model, "cdf", sample)
        u = np.where(sample > left[:, None], (cdf - p0[:, None]) / (1.0 - p0)[:, None], np.nan)
    return normality_p_value(*anderson_darling_rows(u))


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
    `empirical`) the share of such values in the fitted sample (``dry_share``). With an
    empirical p0 the values above keep their place in the model's distribution of values
    above the threshold: z = -Phi^-1((1 - p0) sf(x) / (1 - p0_model)). A cell and group
    without a valid fit scores the values at or below the threshold by ``dry_share`` and
    gives NaN above it; missing values, and groups without a value fitted, give NaN. One
    pass per group over every cell at once (each cell's row mapped by its own model in the
    kernel module)."""
    shape = values.shape[:-1]
    flat = values.reshape(-1, values.shape[-1])
    cells = {name: np.asarray(v).reshape(v.shape[0], -1) for name, v in params.items()}
    out = np.full(flat.shape, np.nan)
    draws = None
    if zeros == "random":
        flat_index = np.broadcast_to(index, shape).reshape(-1)
        # One generator per cell keeps the draws independent of the blocks (a short loop
        # next to the scoring: a generator's set-up is all it does per cell).
        draws = np.stack([_draws(base_seed, int(i), flat.shape[1]) for i in flat_index])
    for g in range(cells["family"].shape[0]):
        where = np.flatnonzero(of_value == g)
        codes = np.asarray(cells["family"][g], dtype=np.int8)
        if where.size == 0:
            continue
        fit = {name: v[g] for name, v in cells.items()}
        out[:, where] = _score_group(flat[:, where], codes, fit, zeros, empirical,
                                     None if draws is None else draws[:, where])  # fmt: skip
    if clip is not None:
        out = np.clip(out, -clip, clip)
    return out.reshape(values.shape)


def _models(codes: np.ndarray, fit: dict[str, np.ndarray]) -> tuple[np.ndarray, np.ndarray]:
    """Each cell's transformation parameters (n, 2) and model fields (n, 6), as the
    one-series model takes them (an unused second parameter 0)."""
    transformation = np.zeros((codes.size, 2))
    for code, key in enumerate(FAMILY_CODES):
        rows = codes == code
        for j, name in enumerate(family_info(key).transformation_names):
            transformation[rows, j] = fit[name][rows]
    fields = np.stack([np.asarray(fit[name], dtype=np.float64) for name in _MODEL_FIELDS],
                      axis=-1)  # fmt: skip
    return transformation, fields


def _score_group(
    x: np.ndarray,
    codes: np.ndarray,
    fit: dict[str, np.ndarray],
    zeros: str,
    empirical: bool,
    draws: np.ndarray | None,
) -> np.ndarray:
    """The scores of one group's values `x` (cells x values) by each cell's fit; cells
    without one score their dry values only."""
    fitted = codes >= 0
    left = np.asarray(fit["left"], dtype=np.float64)
    with np.errstate(divide="ignore", invalid="ignore"):
        share = dry_share(fit["n_left"], fit["n"])
    z = np.full(x.shape, np.nan)
    p0 = share
    if fitted.any():
        model = (codes, *_models(codes, fit))
        finite = np.isfinite(left)
        cdf_left = _core.distribution_map_cells(*model, "cdf",
                                                 np.where(finite, left, 0.0)[:, None])  # fmt: skip
        p0_model = np.where(finite, cdf_left[:, 0], 0.0)
        if empirical:
            raw = np.asarray(fit["n_left"], dtype=np.float64) / fit["n"]
            sf = _core.distribution_map_cells(*model, "sf", x)
            with np.errstate(divide="ignore", invalid="ignore"):
                tail = (1.0 - raw)[:, None] * sf / (1.0 - p0_model)[:, None]
                z = -_core.ndtri(np.minimum(tail, 1.0))
        else:
            p0 = np.where(fitted, p0_model, share)
            z = _core.distribution_map_cells(*model, "to_normal", x)
        z[~fitted] = np.nan
    dry = x <= left[:, None]
    if dry.any():
        at = np.broadcast_to(p0[:, None], x.shape)[dry]
        z[dry] = zero_scores(at, zeros, None if draws is None else draws[dry])
    z[np.isnan(x)] = np.nan
    return z


def _draws(base_seed: int, cell: int, size: int) -> np.ndarray:
    """Uniform draws in (0, 1], one per position of the cell's series, from the base seed
    and the cell's flat index (the same in any block)."""
    sequence = np.random.SeedSequence(base_seed, spawn_key=(cell,))
    return 1.0 - np.random.default_rng(sequence).random(size)
