"""ferrule.fit_grid: each cell fitted as ferrule.fit fits its series, on any number of
threads, with per-cell settings, seeds, left-out cells and one warning per kind."""

import dataclasses
import math
import warnings

import numpy as np
import pandas as pd
import pytest

import ferrule

# (family, method, left): every optimiser, and a family of each kind.
CASES = [
    ("yeo_johnson", "nelder_mead", 0.0),
    ("log_sinh", "shuffled_complex_evolution", 0.0),
    ("sinh_asinh", "differential_evolution", -math.inf),
    ("jones_pewsey", "shuffled_complex_evolution", -math.inf),
]


def rain(shape, seed=0):
    rng = np.random.default_rng(seed)
    return np.maximum(rng.gamma(0.8, 4.0, size=shape) - 1.0, 0.0)


def quiet_grid(values, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        return ferrule.fit_grid(values, **kwargs)


def quiet_fit(series, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        return ferrule.fit(series, nan_policy="omit", **kwargs)


def without_console(fit):
    """The fit as a grid keeps it: no console lines."""
    return dataclasses.replace(fit, console=())


@pytest.mark.parametrize(("family", "method", "left"), CASES)
def test_every_cell_equals_its_own_fit(family, method, left):
    values = rain((2, 3, 120), seed=1) + (0.0 if left == 0.0 else 0.5)
    values[0, 1, ::4] = np.nan  # a cell with missing days
    grid = quiet_grid(values, family=family, method=method, left=left, seed=7, n_jobs=2)
    for index in np.ndindex(grid.shape):
        single = quiet_fit(values[index], family=family, method=method, left=left,
                           seed=int(grid.seed[index]), scale=float(grid.scale[index]))  # fmt: skip
        assert grid.cell(index) == without_console(single), index
    assert grid.n_dropped[0, 1] == 30 and grid.n[0, 1] == 90


@pytest.mark.parametrize(("family", "method", "left"), CASES)
def test_results_do_not_depend_on_the_number_of_threads(family, method, left):
    values = rain((3, 2, 80), seed=2) + (0.0 if left == 0.0 else 0.5)
    grids = [quiet_grid(values, family=family, method=method, left=left, seed=3, n_jobs=n)
             for n in (1, 2, None)]  # fmt: skip
    assert grids[0] == grids[1] == grids[2]
    assert grids[0].fitted.all()


def test_per_cell_thresholds_scale_and_shift_broadcast_to_the_cells():
    values = rain((2, 3, 100), seed=3) + 1.0
    left = np.array([[1.0], [0.5]])  # broadcast along the second cell axis
    shift = np.array([0.0, 1.0, 2.0])
    grid = quiet_grid(values, left=left, right=50.0, shift=shift, scale=0.1, seed=1, n_jobs=2)
    np.testing.assert_array_equal(grid.left, np.broadcast_to(left, (2, 3)))
    np.testing.assert_array_equal(grid.shift, np.broadcast_to(shift, (2, 3)))
    assert (grid.scale == 0.1).all() and (grid.right == 50.0).all()
    single = quiet_fit(values[1, 2], left=0.5, right=50.0, shift=2.0, scale=0.1,
                       seed=int(grid.seed[1, 2]))  # fmt: skip
    assert grid.cell((1, 2)) == without_console(single)


def test_automatic_scale_is_chosen_per_cell():
    values = rain((3, 60), seed=4) * np.array([[0.01], [1.0], [100.0]])
    grid = quiet_grid(values, seed=1)
    # Each cell chooses between 1 and its power of ten by the likelihood in data units,
    # as its own fit does; with one run, the power of ten alone.
    singles = [quiet_fit(values[i], seed=int(grid.seed[i])) for i in range(3)]
    np.testing.assert_array_equal(grid.scale, [f.scale for f in singles])
    np.testing.assert_array_equal(grid.loglik, [f.loglik for f in singles])
    powers = quiet_grid(values, seed=1, fast=True).scale
    np.testing.assert_array_equal(powers, [10.0, 0.1, 0.001])
    assert (grid.scale != powers).any()


def test_the_series_axis_can_be_any_axis():
    values = rain((2, 100, 3), seed=5)
    moved = quiet_grid(values, axis=1, seed=2)
    last = quiet_grid(np.moveaxis(values, 1, -1), seed=2)
    assert moved.axis == 1 and moved.shape == (2, 3)
    assert dataclasses.replace(moved, axis=-1) == last


def test_cell_seeds_derive_from_the_base_seed_and_the_flat_index():
    values = rain((2, 3, 60), seed=6)
    grid = quiet_grid(values, method="sce", seed=11)
    expected = [np.random.SeedSequence(11, spawn_key=(i,)).generate_state(1)[0] for i in range(6)]
    np.testing.assert_array_equal(grid.seed.ravel(), expected)
    assert grid.base_seed == 11
    # A base seed drawn from a Generator (or fresh) is stored, and repeats the fit.
    drawn = quiet_grid(values, method="sce", seed=np.random.default_rng(1))
    assert quiet_grid(values, method="sce", seed=drawn.base_seed) == drawn
    assert drawn.base_seed != 11


def test_cells_that_cannot_be_fitted_are_left_out_with_their_reason():
    values = rain((5, 100), seed=7)
    values[1] = np.nan  # sea
    values[2, 3:] = np.nan  # three values
    values[3, 10] = np.inf  # an infinite value inside the thresholds
    with pytest.warns(ferrule.MaskedCellsWarning) as caught:
        grid = ferrule.fit_grid(values, seed=1, mask=[False, False, False, False, True])
    assert len(caught) == 1
    message = str(caught[0].message)
    # The mask is the caller's choice: only the three others are reported.
    assert message.startswith("3 of 5 cells were not fitted")
    assert "1 with all values missing" in message and "1 with too few values" in message
    assert caught[0].filename == __file__
    assert grid.fitted.tolist() == [True, False, False, False, False]
    assert grid.reason.tolist()[1:] == [
        "all values are missing",
        "only 3 values (at least 5 are needed)",
        "1 infinite value, accepted only beyond a finite censoring threshold",
        "masked",
    ]
    assert np.isnan(grid.mu[1:]).all() and (grid.count[1:] == -1).all()
    with pytest.raises(ValueError, match="cell \\(1,\\) was not fitted: all values"):
        grid.cell(1)


def test_a_grid_warns_once_per_kind_with_the_number_of_cells():
    values = rain((4, 200), seed=8) + 0.5
    values[0, :5] = -1.0  # below the left threshold
    values[3] = np.repeat([1.0, 2.0, 3.0, 4.0], 50)  # four distinct values: not valid
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        grid = ferrule.fit_grid(values, method="sce", left=0.0, max_eval=300, seed=1, fast=True)
    by_kind = {w.category: str(w.message) for w in caught}
    assert len(caught) == len(by_kind) == 3
    assert by_kind[ferrule.CensoringWarning].startswith(
        "values lie beyond a censoring threshold in 1 of 4 cells"
    )
    limited = int(grid.limit_reached.sum())
    assert limited > 0
    assert f"at their limit in {limited} of 4 cells" in by_kind[ferrule.ConvergenceWarning]
    # Cells with a problem besides the limit (which has its own warning).
    limit = "the optimiser stopped at its limit before converging"
    invalid = sum(any(p != limit for p in r.split("; ")) for r in grid.reason.ravel() if r)
    assert invalid > 0
    assert f"not valid in {invalid} of 4 cells" in by_kind[ferrule.InvalidFitWarning]
    assert "distinct uncensored values" in grid.reason[3]
    assert all(w.filename == __file__ for w in caught)


def test_a_grid_prints_nothing(capfd):
    quiet_grid(rain((3, 100), seed=9), seed=1, progress=False)
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize(
    ("kwargs", "error", "match"),
    [
        ({"values": "abc"}, TypeError, "string"),
        ({"values": np.array([["a", "b"]])}, TypeError, "dtype"),
        (
            {"values": pd.DataFrame({"day": ["2001-01-01"] * 9, "mm": 1.0}), "axis": 0},
            TypeError,
            "dtype object \\(text or dates among them\\? select the numeric columns",
        ),
        ({"values": 1.0}, ValueError, "at least one series"),
        ({"values": np.zeros((3, 0))}, ValueError, "empty"),
        ({"axis": 2}, ValueError, "out of range"),
        ({"family": "nope"}, ValueError, "unknown family"),
        ({"method": "nope"}, ValueError, "unknown method"),
        ({"left": 5.0, "right": 1.0}, ValueError, "must be below"),
        ({"left": np.nan}, ValueError, "NaN"),
        ({"left": np.zeros(4)}, ValueError, "does not broadcast"),
        ({"scale": -1.0}, ValueError, "positive"),
        ({"scale": "big"}, ValueError, "auto"),
        ({"shift": np.inf}, ValueError, "finite"),
        ({"family": "log_sinh"}, ValueError, "finite left threshold"),
        ({"n_jobs": 0}, ValueError, "n_jobs"),
        ({"seed": -1}, ValueError, "non-negative"),
        ({"max_eval": 0}, ValueError, "max_eval"),
    ],
)
def test_unusable_arguments_are_refused(kwargs, error, match):
    arguments = {"values": rain((3, 50))} | kwargs
    with pytest.raises(error, match=match):
        ferrule.fit_grid(**arguments)


def test_a_pandas_frame_with_nullable_gaps_is_a_grid_of_stations():
    frame = pd.DataFrame(rain((150, 3), seed=10), columns=["a", "b", "c"]).astype("Float64")
    frame.iloc[[4, 9], 1] = pd.NA
    grid = quiet_grid(frame, axis=0, left=0.0, seed=1)
    plain = quiet_grid(frame.to_numpy(float, na_value=np.nan), axis=0, left=0.0, seed=1)
    assert grid == plain
    assert grid.n_dropped.tolist() == [0, 2, 0]
    as_array = frame.to_numpy(float, na_value=np.nan)
    np.testing.assert_array_equal(grid.to_normal(frame, axis=0), grid.to_normal(as_array, axis=0))


def test_a_mask_of_the_wrong_shape_is_named_in_the_error():
    with pytest.raises(ValueError, match=r"mask of shape \(2,\) does not broadcast to the cell"):
        ferrule.fit_grid(rain((3, 50)), mask=[True, False], seed=1)


def test_settings_may_be_nan_where_there_is_nothing_to_fit():
    # A map of thresholds and scales read from a file is NaN over the sea, like the data.
    values = rain((4, 100), seed=11)
    values[1] = np.nan
    settings = {"left": [0.0, np.nan, np.nan, 0.0], "shift": [0.0, np.nan, np.nan, 0.0],
                "scale": [0.1, np.nan, np.nan, 0.1]}  # fmt: skip
    grid = quiet_grid(values, **settings, mask=[False, False, True, False], seed=1)
    assert grid.fitted.tolist() == [True, False, False, True]
    single = quiet_fit(values[3], left=0.0, scale=0.1, seed=int(grid.seed[3]))
    assert grid.cell(3) == without_console(single)
    # Where there are values to fit, a NaN setting is refused.
    for name, match in [("left", r"left threshold is NaN \(cell \(2,\)\)"),
                        ("shift", r"shift must be a finite number, got nan \(cell \(2,\)\)"),
                        ("scale", r"scale must be a positive .* \(cell \(2,\)\)")]:  # fmt: skip
        with pytest.raises(ValueError, match=match):
            ferrule.fit_grid(values, **{name: settings[name]}, seed=1)
