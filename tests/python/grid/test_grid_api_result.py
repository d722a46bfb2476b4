"""GridFit: the cells' distributions applied to new arrays, one cell at a time, saving and
loading, equality and display."""

import copy
import inspect
import math
import pickle
import re
import warnings

import numpy as np
import pytest
from api_support import run_examples

import ferrule

MAPS = ["to_normal", "from_normal", "cdf", "ppf"]


def make_grid(family="yeo_johnson", left=0.0, shape=(2, 3), seed=0):
    rng = np.random.default_rng(seed)
    values = rng.gamma(0.8, 4.0, size=(*shape, 150)) - 1.0
    if left == 0.0:
        values = np.maximum(values, 0.0)  # rain: dry days at the threshold
    values[(0,) * len(shape)] = np.nan  # one cell left out
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        # One run per cell: these tests are about the maps of valid cells, and the best
        # Jones-Pewsey optima of these values lie on the box's edge, still called not valid.
        grid = ferrule.fit_grid(values, family=family, left=left, seed=1, fast=True)
    return grid, values


def new_values(what, shape, seed=5):
    rng = np.random.default_rng(seed)
    if what == "from_normal":
        return rng.standard_normal((*shape, 40))
    if what == "ppf":
        return rng.uniform(size=(*shape, 40))
    return rng.gamma(0.8, 4.0, size=(*shape, 40))


@pytest.mark.parametrize("what", MAPS)
@pytest.mark.parametrize(("family", "left"), [("yeo_johnson", 0.0), ("jones_pewsey", -math.inf)])
def test_maps_equal_each_cells_own_fit_bit_for_bit(what, family, left):
    grid, _ = make_grid(family, left)
    x = new_values(what, grid.shape)
    out = getattr(grid, what)(x)
    assert out.shape == x.shape
    for index in np.ndindex(grid.shape):
        if grid.valid[index]:
            np.testing.assert_array_equal(out[index], getattr(grid.cell(index), what)(x[index]))
        else:
            assert np.isnan(out[index]).all()
    valid = np.argwhere(grid.valid)
    assert len(valid) > 0 and np.isfinite(out[tuple(valid[-1])]).all()


@pytest.mark.parametrize("what", MAPS)
def test_maps_take_the_series_on_any_axis_or_one_value_per_cell(what):
    grid, _ = make_grid()
    x = new_values(what, grid.shape)
    full = getattr(grid, what)(x)
    np.testing.assert_array_equal(getattr(grid, what)(np.moveaxis(x, -1, 0), axis=0),
                                  np.moveaxis(full, -1, 0))  # fmt: skip
    np.testing.assert_array_equal(getattr(grid, what)(x[..., 3]), full[..., 3])
    scalar = getattr(grid, what)(0.5)
    assert scalar.shape == grid.shape
    np.testing.assert_array_equal(scalar[1, 2], getattr(grid.cell((1, 2)), what)(0.5))
    with pytest.raises(ValueError, match="cell shape"):
        getattr(grid, what)(np.zeros((3, 3, 4)))


@pytest.mark.parametrize("suffix", [".npz", ".nc"])
def test_a_grid_remembers_its_series_axis_and_keeps_it_in_files(suffix, tmp_path):
    values = np.moveaxis(make_grid()[1], -1, 0)  # days first
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        grid = ferrule.fit_grid(values, axis=0, left=0.0, seed=1)
    assert grid.axis == 0
    np.testing.assert_array_equal(grid.to_normal(values), grid.to_normal(values, axis=0))
    grid.save(tmp_path / f"grid{suffix}")
    assert ferrule.load_grid(tmp_path / f"grid{suffix}").axis == 0


def test_a_dataarray_in_gives_a_dataarray_with_its_coordinates():
    xr = pytest.importorskip("xarray")
    grid, values = make_grid()
    da = xr.DataArray(values, dims=("y", "x", "day"), coords={"x": [1.0, 2.0, 3.0]})
    z = grid.to_normal(da)
    assert isinstance(z, xr.DataArray) and z.dims == da.dims
    xr.testing.assert_identical(z["x"], da["x"])
    np.testing.assert_array_equal(z.values, grid.to_normal(values))


@pytest.mark.parametrize(
    ("axis", "error", "match"),
    [(1.5, TypeError, "axis must be an integer"), (True, TypeError, "axis must be an integer"),
     (3, ValueError, "axis 3 is out of range")],
)  # fmt: skip
def test_a_maps_series_axis_is_checked_like_fit_grids(axis, error, match):
    grid, _ = make_grid()
    with pytest.raises(error, match=match):
        grid.to_normal(new_values("to_normal", grid.shape), axis=axis)


def test_a_cell_is_addressed_by_its_position_or_flat_index():
    grid, _ = make_grid()
    assert grid.cell(5) == grid.cell((1, 2)) == grid.cell((-1, -1)) == grid.cell(-1)
    for bad in [6, -7, (2, 0), (0, 3), (1,)]:
        with pytest.raises(IndexError):
            grid.cell(bad)


@pytest.mark.parametrize("suffix", [".npz", ".nc"])
def test_save_and_load_give_the_same_grid(suffix, tmp_path):
    grid, _ = make_grid(shape=(2, 2, 2))
    path = tmp_path / f"grid{suffix}"
    grid.save(path)
    back = ferrule.load_grid(path)
    assert back == grid
    assert back.reason[0, 0, 0] == "all values are missing"
    assert back.cell((1, 0, 1)) == grid.cell((1, 0, 1))


def test_to_dict_round_trips_and_refuses_other_layouts():
    grid, _ = make_grid()
    data = grid.to_dict()
    assert ferrule.GridFit.from_dict(data) == grid
    with pytest.raises(ValueError, match="not a saved ferrule grid"):
        ferrule.GridFit.from_dict({**data, "format": "other"})
    with pytest.raises(ValueError, match="format version"):
        ferrule.GridFit.from_dict({**data, "version": 99})
    # A grid saved before the runs were recorded reads back one run and no polish.
    older = {k: v for k, v in data.items() if k not in ("runs", "polish_evaluations")}
    back = ferrule.GridFit.from_dict(older)
    assert (back.runs == 1).all() and (back.polish_evaluations == 0).all()
    assert (grid.runs[grid.fitted] >= 1).all()


def test_files_of_other_kinds_are_refused(tmp_path):
    grid, _ = make_grid()
    with pytest.raises(ValueError, match="name it .npz"):
        grid.save(tmp_path / "grid.txt")
    np.savez(tmp_path / "other.npz", a=np.zeros(3))
    with pytest.raises(ValueError, match="not a saved ferrule grid"):
        ferrule.load_grid(tmp_path / "other.npz")


def test_equality_sees_a_changed_cell():
    grid, _ = make_grid()
    data = grid.to_dict()
    data["params"]["lambda"][1, 1] += 1e-12
    assert ferrule.GridFit.from_dict(data) != grid
    data = grid.to_dict()
    data["reason"][1, 1] = "changed"
    assert ferrule.GridFit.from_dict(data) != grid


def test_a_grid_pickles_and_copies():
    grid, _ = make_grid()
    for again in (pickle.loads(pickle.dumps(grid)), copy.deepcopy(grid), copy.copy(grid)):
        assert again == grid and again.params["lambda"].flags.writeable is False


def test_arrays_are_read_only():
    grid, _ = make_grid()
    with pytest.raises(ValueError, match="read-only"):
        grid.mu[0, 0] = 1.0
    with pytest.raises(ValueError, match="read-only"):
        grid.params["lambda"][0, 0] = 1.0


def test_repr_counts_the_cells():
    grid, _ = make_grid()
    assert repr(grid) == (
        "GridFit(family='yeo_johnson', method='nelder_mead', shape=(2, 3), fitted=5, "
        f"valid={int(grid.valid.sum())}, not_valid={5 - int(grid.valid.sum())}, "
        "limit_reached=0, not_fitted=1, base_seed=1)"
    )


@pytest.mark.parametrize(
    "module",
    ["ferrule._grid.fit", "ferrule._grid.result", "ferrule._grid.io", "ferrule._grid.errors",
     "ferrule.xarray", "ferrule._grid.dataset"],
)  # fmt: skip
def test_docstring_examples_run(module, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    result = run_examples(module)
    assert result.attempted > 0 and result.failed == 0


@pytest.mark.parametrize(
    "name",
    ["fit_grid", "load_grid", "GridFit.cell", "GridFit.to_normal", "GridFit.from_normal",
     "GridFit.cdf", "GridFit.ppf", "GridFit.from_dict", "GridFit.save", "xarray.fit",
     "xarray.transform", "xarray.inverse", "xarray.cdf", "xarray.ppf",
     "xarray.standardized_index", "xarray.standardized_index_params"],
)  # fmt: skip
def test_every_parameter_is_documented(name):
    function = ferrule
    for part in name.split("."):
        function = getattr(function, part)
    doc = inspect.getdoc(function)
    section = doc.split("Parameters\n----------\n", 1)[1].split("\n\n", 1)[0]
    documented = set()
    for header in re.findall(r"^(\w[\w, ]*?)(?: :.*)?$", section, flags=re.M):
        documented.update(header.split(", "))
    wanted = set(inspect.signature(function).parameters) - {"self", "cls"}
    assert wanted <= documented, wanted - documented
    assert "Examples\n--------\n>>> " in doc
