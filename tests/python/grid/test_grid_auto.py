"""``fit_grid(family="auto")``: each cell keeps the fit ``ferrule.fit(cell, "auto")`` keeps,
and a grid of mixed families maps, saves and loads as one of a single family does."""

import math
import pickle
import warnings

import numpy as np
import pytest
import xarray as xr

import ferrule
import ferrule.xarray as fx
from ferrule._choice import choose
from ferrule._grid.io import dataset_to_grid

NAN, INF = math.nan, math.inf


@pytest.mark.parametrize(
    ("aic", "valid", "expected"),
    [
        ([3.0, 1.0, 2.0], [True, True, True], 1),
        ([3.0, 1.0, 2.0], [True, False, True], 2),  # a valid fit beats a lower invalid one
        ([3.0, 1.0, 2.0], [False, False, False], 1),  # none valid: the lowest AIC
        ([NAN, 5.0, -INF], [True, True, True], 1),  # only finite AICs compete
        ([NAN, NAN], [False, False], 0),
        ([2.0, 2.0], [True, True], 0),  # a tie goes to the earlier family
    ],
)
def test_the_auto_rule(aic, valid, expected):
    assert choose(aic, valid) == expected
    # The same rule for many cells at once: the table's column repeated on its own.
    many = choose(
        np.repeat(np.array(aic)[:, None], 3, 1), np.repeat(np.array(valid)[:, None], 3, 1)
    )
    assert many.tolist() == [expected] * 3


def series():
    """Cells that prefer different families, each scaled so its largest value is in
    [1, 10) (the rescaling a single fit and a grid choose alike); the third cell has no
    finite left threshold (log-sinh takes no part there), the last is masked."""
    rng = np.random.default_rng(0)
    cells = np.stack([rng.gamma(2.0, 2.0, 300), np.maximum(rng.gamma(0.8, 4.0, 300) - 1.0, 0.0),
                      rng.normal(5.0, 1.0, 300), np.exp(rng.normal(0.0, 1.0, 300)),
                      rng.gamma(2.0, 1.0, 300)])  # fmt: skip
    cells /= 10.0 ** np.floor(np.log10(np.abs(cells).max(axis=1, keepdims=True)))
    left = np.array([0.0, 0.0, -INF, 0.0, 0.0])
    mask = np.array([False, False, False, False, True])
    return cells, left, mask


@pytest.fixture(scope="module")
def mixed():
    cells, left, mask = series()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        grid = ferrule.fit_grid(cells, "auto", left=left, mask=mask, seed=3, n_jobs=2)
        fits = [ferrule.fit(cells[i], "auto", left=left[i], seed=int(grid.seed[i]))
                for i in range(len(cells) - 1)]  # fmt: skip
    return cells, grid, fits


def test_each_cell_keeps_the_fit_of_its_own_auto_fit(mixed):
    cells, grid, fits = mixed
    assert len({f.family for f in fits}) >= 3  # the cells do prefer different families
    assert grid.families.tolist() == [f.family for f in fits] + [""]
    assert grid.family_code[-1] == -1 and grid.reason[-1] == "masked"
    for i, fit in enumerate(fits):
        cell = grid.cell(i)
        for name in ("family", "method", "params", "mu", "sigma", "loglik", "aic", "valid",
                     "problems", "n_left", "evaluations"):  # fmt: skip
            assert getattr(cell, name) == getattr(fit, name), (i, name)
        np.testing.assert_array_equal(cell.search, fit.search)
        # The parameters the cell's family lacks are NaN.
        lacking = set(grid.params) - set(fit.params)
        assert all(np.isnan(grid.params[name][i]) for name in lacking)


@pytest.mark.parametrize(
    ("what", "values"),
    [("to_normal", "cells"), ("cdf", "cells"), ("from_normal", [-1.5, 0.0, 2.0]),
     ("ppf", [0.05, 0.5, 0.99])],
)  # fmt: skip
def test_maps_are_those_of_each_cells_fit(mixed, what, values):
    cells, grid, fits = mixed
    values = cells if values == "cells" else np.broadcast_to(values, (len(cells), 3))
    out = getattr(grid, what)(values)
    for i, fit in enumerate(fits):
        np.testing.assert_array_equal(out[i], getattr(fit, what)(values[i]))
    assert np.isnan(out[-1]).all()


def test_a_mixed_grid_round_trips_through_files_pickle_and_datasets(mixed, tmp_path):
    cells, grid, _ = mixed
    for name in ("grid.npz", "grid.nc"):
        grid.save(tmp_path / name)
        assert ferrule.load_grid(tmp_path / name) == grid
    assert pickle.loads(pickle.dumps(grid)) == grid
    _, left, mask = series()
    da = xr.DataArray(cells, dims=("station", "time"))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        params = fx.fit(da, "auto", left=left, mask=mask, seed=3)
        chunked = fx.fit(da.chunk({"station": 2}), "auto", left=left, mask=mask, seed=3)
    assert dataset_to_grid(params) == grid
    assert dataset_to_grid(chunked.compute()) == grid
    np.testing.assert_array_equal(fx.transform(params, da).values, grid.to_normal(cells))


def test_a_family_code_that_names_no_family_is_refused(mixed):
    _, grid, _ = mixed
    data = grid.to_dict()
    data["family_code"] = np.where(data["valid"], -1, data["family_code"])
    with pytest.raises(ValueError, match="family_code is -1 at cell"):
        ferrule.GridFit.from_dict(data)


@pytest.mark.parametrize(("stopped_in", "fitted"), [(4, 2), (2, 0)])
def test_an_interrupt_keeps_only_the_cells_every_family_fitted(monkeypatch, stopped_in, fitted):
    from ferrule import _core

    real, calls = _core.fit_cells, []

    def interrupted_after_two_cells(*args, **kwargs):
        calls.append(1)
        out = real(*args, **kwargs)
        return {**out, "interrupted": True, "completed": 2} if len(calls) == stopped_in else out

    monkeypatch.setattr(_core, "fit_cells", interrupted_after_two_cells)
    values = np.random.default_rng(0).gamma(2.0, 1.0, (5, 200))
    with pytest.raises(ferrule.GridFitInterrupted) as stopped:
        ferrule.fit_grid(values, "auto", left=0.0, seed=1, n_jobs=1)
    partial = stopped.value.partial
    assert partial.fitted.tolist() == [True] * fitted + [False] * (5 - fitted)
    assert (partial.family_code[fitted:] == -1).all()
    assert all(
        r.startswith("not fitted: the grid fit was interrupted") for r in partial.reason[fitted:]
    )
