"""Properties of the three grid classes over any doubles and grid shapes.

A grid location must behave exactly like a single-location object built from the same
arguments and given the same calls: every method is run on grids of any shape (empty ones
included) whose cells hold arbitrary doubles, with arrays of every layout, and compared
cell by cell, bit for bit, with single-location objects. Refused calls must raise before
the first location is touched: every getter reads the same afterwards.
"""

import numpy as np
import property_checks as pc
import pytest
from grid_cases import GRIDS, cells
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp
from hypothesis_profile import examples
from strategies import doubles, grid_arrays, thresholds

by_grid = pytest.mark.parametrize("grid", GRIDS, ids=lambda g: g.name)
VALUE_METHODS = ["transform_one", "rescale_one", "inv_rescale_one"]
SERIES_METHODS = ["transform_many", "inv_transform_many", "rescale_many", "inv_rescale_many"]
LOG_METHODS = ["log_density", "log_jacobian"]
FITS = ["optim_params", "optim_paramsDE", "optim_paramsSCE"]
METHODS = VALUE_METHODS + SERIES_METHODS + FITS + LOG_METHODS

shapes = st.tuples(st.integers(0, 3), st.integers(0, 3))
nonempty_shapes = st.tuples(st.integers(1, 3), st.integers(1, 3))
# Positive series that every family can fit, for instances in a fitted state.
SERIES = (0.5, 1.0, 2.5)


class Grid:
    """A grid instance and, per cell, a single-location object given the same calls."""

    def __init__(self, grid_kind, obj, singles, shape):
        self.grid_kind, self.obj, self.singles, self.shape = grid_kind, obj, singles, shape

    def cells(self):
        return cells(*self.shape)

    def assert_cells_match(self):
        """Every getter of the grid reads, at every cell, what the cell's object holds."""
        got = pc.state(self.obj)
        widths = {
            "get_optimised_params": self.grid_kind.nparms,
            "get_distribution_params": self.grid_kind.nparms,
            "get_transformation_params": self.grid_kind.ntrans,
            "get_scale_shift": 2,
        }
        for name, width in widths.items():
            array = got[name]
            assert type(array) is np.ndarray and array.dtype == np.float64
            assert array.shape == (*self.shape, width) and array.flags.c_contiguous
            for r, c in self.cells():
                expected = getattr(self.singles[r, c], name)()
                if name == "get_optimised_params" and not expected:
                    expected = [np.nan] * width  # never fitted
                pc.assert_same(array[r, c], expected, f"{name} at {(r, c)}")


@st.composite
def grid_instances(draw, grid_kind, shape=shapes, states=("fresh", "decoded")):
    """A grid built from any doubles in arrays of any layout, as constructed, holding the
    decoding of any search vectors, or fitted at some of its cells."""
    shape = draw(shape)
    args = [draw(grid_arrays(shape)) for _ in grid_kind.params]
    blocks = [a.base.copy() for a in args]
    obj = grid_kind.cls(*args)
    for a, block in zip(args, blocks, strict=True):
        pc.assert_same(a.base, block, "constructor argument")
    singles = {(r, c): grid_kind.single(*[float(a[r, c]) for a in args]) for r, c in cells(*shape)}
    how = draw(st.sampled_from(states))
    if how == "decoded":
        params = draw(grid_arrays((*shape, grid_kind.nparms)))
        values = draw(grid_arrays(shape))
        left, right, do_rescale = draw(thresholds), draw(thresholds), draw(st.booleans())
        obj.log_density(params, values, left, right, do_rescale)
        for (r, c), single in singles.items():
            single.log_density(np.array(params[r, c]), values[r, c], left, right, do_rescale)
    elif how == "fitted":
        mask = draw(hnp.arrays(np.bool_, shape))
        data = np.broadcast_to(SERIES, (*shape, len(SERIES))).copy()
        obj.optim_params(data, 0.0, 10.0, mask, False, False)
        for (r, c), single in singles.items():
            if not mask[r, c]:
                single.optim_params(np.array(SERIES), 0.0, 10.0, False, False)
    return Grid(grid_kind, obj, singles, shape)


@st.composite
def threshold_args(draw, shape):
    """(argument, per-cell values): a number used at every location, or a 2-D array of any
    element type that converts to float, of any layout, read-only too."""
    kind = draw(
        st.sampled_from(
            ["float", "int", "bool", "numpy float", "float64", "float32", "int64", "bool array"]
            + ["read-only"]
        )
    )
    if kind in ("float", "int", "bool", "numpy float"):
        value = {
            "float": thresholds,
            "int": st.integers(-(2**62), 2**62),
            "bool": st.booleans(),
            "numpy float": thresholds.map(np.float64),
        }[kind]
        value = draw(value)
        return value, np.full(shape, float(value))
    if kind in ("float64", "read-only"):
        arg = draw(grid_arrays(shape, thresholds))
        if kind == "read-only":
            arg.flags.writeable = False  # only read, through Python indexing
    else:
        dtype = {"float32": np.float32, "int64": np.int64, "bool array": np.bool_}[kind]
        elements = st.floats(width=32) if kind == "float32" else None
        arg = draw(grid_arrays(shape, elements, dtype))
    expanded = np.empty(shape)
    for r, c in cells(*shape):
        expanded[r, c] = float(arg[r, c])
    return arg, expanded


@st.composite
def mask_args(draw, shape):
    """(argument, per-cell flags): False, 0 or another integer but 1 (nothing skipped), or
    a 2-D array of any element type whose true cells are skipped."""
    kind = draw(st.sampled_from(["False", "0", "other int", "bool", "int64", "float64"]))
    if kind in ("False", "0", "other int"):
        value = {"False": False, "0": 0}.get(kind)
        if value is None:
            value = draw(st.one_of(st.integers(2, 2**70), st.integers(max_value=-1)))
        return value, np.zeros(shape, dtype=bool)
    # About half the cells skipped; NaN counts as true.
    dtype, elements = {
        "bool": (np.bool_, st.booleans()),
        "int64": (np.int64, st.sampled_from([0, 0, 1, -3])),
        "float64": (np.float64, st.sampled_from([0.0, -0.0, 0.5, np.nan])),
    }[kind]
    arg = draw(grid_arrays(shape, elements, dtype))
    flags = np.zeros(shape, dtype=bool)
    for r, c in cells(*shape):
        flags[r, c] = bool(arg[r, c])
    return arg, flags


# ---- construction, getters, per-cell methods -----------------------------------------


@by_grid
@given(data=st.data())
def test_cells_hold_what_single_location_objects_hold(grid, data):
    g = data.draw(grid_instances(grid, states=("fresh", "decoded", "fitted")))
    g.assert_cells_match()


@by_grid
@pytest.mark.parametrize("method", VALUE_METHODS)
@given(data=st.data())
def test_value_methods_equal_single_location_results(grid, method, data):
    g = data.draw(grid_instances(grid))
    values = data.draw(grid_arrays(g.shape))
    block = values.base.copy()
    out = getattr(g.obj, method)(values)
    assert type(out) is np.ndarray and out.dtype == np.float64 and out.flags.c_contiguous
    assert out.shape == g.shape
    for r, c in g.cells():
        pc.assert_same(out[r, c], getattr(g.singles[r, c], method)(values[r, c]), (r, c))
    pc.assert_same(values.base, block, "the caller's values")
    g.assert_cells_match()


@by_grid
@pytest.mark.parametrize("method", SERIES_METHODS)
@given(data=st.data(), nvals=st.integers(0, 4))
def test_series_methods_equal_single_location_results(grid, method, data, nvals):
    g = data.draw(grid_instances(grid))
    values = data.draw(grid_arrays((*g.shape, nvals)))
    block = values.base.copy()
    out = getattr(g.obj, method)(values)
    assert type(out) is np.ndarray and out.dtype == np.float64 and out.flags.c_contiguous
    assert out.shape == (*g.shape, nvals)
    for r, c in g.cells():
        expected = getattr(g.singles[r, c], method)(np.array(values[r, c]))
        pc.assert_same(out[r, c], expected, (r, c))
    pc.assert_same(values.base, block, "the caller's values")
    g.assert_cells_match()


@by_grid
@pytest.mark.parametrize("method", LOG_METHODS)
@given(data=st.data(), do_rescale=st.booleans())
def test_log_methods_equal_single_location_results(grid, method, data, do_rescale):
    g = data.draw(grid_instances(grid, states=("fresh", "decoded", "fitted")))
    tame = st.floats(-0.9, 0.9)  # search coordinates inside every family's box
    params = data.draw(grid_arrays((*g.shape, grid.nparms), st.one_of(doubles, tame)))
    values = data.draw(grid_arrays(g.shape, st.one_of(doubles, st.floats(0.0, 5.0))))
    left, lct = data.draw(threshold_args(g.shape))
    right, rct = data.draw(threshold_args(g.shape))
    blocks = [a.base.copy() for a in (params, values)]

    out = getattr(g.obj, method)(params, values, left, right, do_rescale)

    assert type(out) is np.ndarray and out.dtype == np.float64 and out.flags.c_contiguous
    assert out.shape == g.shape
    for r, c in g.cells():
        single = getattr(g.singles[r, c], method)
        expected = single(np.array(params[r, c]), values[r, c], lct[r, c], rct[r, c], do_rescale)
        pc.assert_same(out[r, c], expected, (r, c))
    for a, block in zip((params, values), blocks, strict=True):
        pc.assert_same(a.base, block, "the caller's arrays")
    # Every location keeps the decoding of its own search vector, its fit record stays.
    g.assert_cells_match()


# ---- fits -----------------------------------------------------------------------------

fit_values = st.one_of(doubles, st.floats(0.1, 10.0))


@st.composite
def fit_inputs(draw, shape, max_nvals=3, masks=True):
    values = draw(grid_arrays((*shape, draw(st.integers(1, max_nvals))), fit_values))
    left, lct = draw(threshold_args(shape))
    right, rct = draw(threshold_args(shape))
    mask, skip = draw(mask_args(shape)) if masks else (False, np.zeros(shape, dtype=bool))
    return values, left, lct, right, rct, mask, skip, draw(st.booleans()), draw(st.booleans())


@by_grid
@settings(max_examples=examples(20))
@given(data=st.data())
def test_default_fit_equals_single_location_fits(grid, data):
    g = data.draw(grid_instances(grid, st.tuples(st.integers(1, 2), st.integers(1, 3))))
    values, left, lct, right, rct, mask, skip, do_rescale, is_map = data.draw(fit_inputs(g.shape))
    block = values.base.copy()
    assert g.obj.optim_params(values, left, right, mask, do_rescale, is_map) is None
    for r, c in g.cells():
        if not skip[r, c]:
            single = g.singles[r, c]
            single.optim_params(np.array(values[r, c]), lct[r, c], rct[r, c], do_rescale, is_map)
    pc.assert_same(values.base, block, "the caller's values")
    # Fitted cells hold the single-location fits, skipped cells what they held before.
    g.assert_cells_match()


def assert_fitted_exactly_the_unmasked_cells(g, before, skip):
    after = pc.state(g.obj)
    pc.assert_same(after["get_scale_shift"], before["get_scale_shift"], "scale and shift")
    for r, c in g.cells():
        if skip[r, c]:
            for name in before:
                pc.assert_same(after[name][r, c], before[name][r, c], f"skipped {(r, c)}")
            continue
        natural = pc.decode(g.grid_kind.name, list(after["get_optimised_params"][r, c]))
        pc.assert_same(after["get_distribution_params"][r, c], natural, f"fitted {(r, c)}")
        pc.assert_same(
            after["get_transformation_params"][r, c], natural[: g.grid_kind.ntrans], f"{(r, c)}"
        )


@by_grid
@settings(max_examples=examples(15))
@given(data=st.data(), max_converge=st.integers(-1, 2), max_eval=st.integers(0, 300))
def test_shuffled_complex_evolution_fits_exactly_the_unmasked_cells(
    grid, data, max_converge, max_eval
):
    g = data.draw(grid_instances(grid, st.tuples(st.integers(1, 2), st.integers(1, 2))))
    values, left, _, right, _, mask, skip, do_rescale, is_map = data.draw(fit_inputs(g.shape))
    before = pc.state(g.obj)
    block = values.base.copy()
    g.obj.optim_paramsSCE(values, left, right, mask, do_rescale, is_map, max_converge, max_eval)
    pc.assert_same(values.base, block, "the caller's values")
    assert_fitted_exactly_the_unmasked_cells(g, before, skip)


@by_grid
@settings(max_examples=examples(2))
@given(data=st.data())
def test_differential_evolution_fits_every_cell(grid, data):
    g = data.draw(grid_instances(grid, st.just((1, 2))))
    values, left, _, right, _, mask, skip, do_rescale, is_map = data.draw(
        fit_inputs(g.shape, max_nvals=2, masks=False)
    )
    before = pc.state(g.obj)
    g.obj.optim_paramsDE(values, left, right, mask, do_rescale, is_map)
    assert_fitted_exactly_the_unmasked_cells(g, before, skip)


@by_grid
@settings(max_examples=examples(10), suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(data=st.data(), n=st.integers(0, 3), empty_rows=st.booleans())
def test_fits_of_grids_without_locations_do_nothing(grid, capfd, data, n, empty_rows):
    g = data.draw(grid_instances(grid, st.just((0, n) if empty_rows else (n, 0))))
    values, left, _, right, _, mask, _, do_rescale, is_map = data.draw(fit_inputs(g.shape))
    capfd.readouterr()
    for method in FITS:
        assert getattr(g.obj, method)(values, left, right, mask, do_rescale, is_map) is None
    assert capfd.readouterr().out == ""
    g.assert_cells_match()


# ---- refused calls --------------------------------------------------------------------

# Positions of the arguments, by method.
ARGUMENTS = {
    **{m: ("values",) for m in VALUE_METHODS + SERIES_METHODS},
    **{
        m: ("values", "left", "right", "mask", "do_rescale", "is_map")
        for m in ("optim_params", "optim_paramsDE")
    },
    "optim_paramsSCE": (
        "values",
        "left",
        "right",
        "mask",
        "do_rescale",
        "is_map",
        "maxConverge",
        "maxEval",
    ),
    **{m: ("params", "values", "left", "right", "do_rescale") for m in LOG_METHODS},
}


def valid_arguments(grid_kind, shape, method):
    """Arguments that the method accepts for a grid of `shape`."""
    values_ndim = 2 if method in VALUE_METHODS + LOG_METHODS else 3
    values = np.linspace(0.5, 3.0, int(np.prod(shape)) * 3).reshape(*shape, 3)
    given = {
        "values": values[..., 0] if values_ndim == 2 else values,
        "params": np.broadcast_to(grid_kind.search_vector, (*shape, grid_kind.nparms)).copy(),
        "left": 0.0,
        "right": 10.0,
        "mask": False,
        "do_rescale": False,
        "is_map": False,
        "maxConverge": 1,
        "maxEval": 100,
    }
    return [given[name] for name in ARGUMENTS[method]]


class Untruthful:
    """An object whose truth value cannot be decided."""

    def __bool__(self):
        raise ArithmeticError("no truth value")


def other_shape(shape, data):
    nrows, ncols = shape
    return data.draw(st.sampled_from([(nrows + 1, ncols), (nrows, ncols + 1), (0, 0)]))


def wrong_values(grid_kind, shape, method, data):
    ndim = good_values(grid_kind, shape, method).ndim
    return data.draw(grid_arrays((*other_shape(shape, data), 3)[:ndim]))


def good_values(grid_kind, shape, method):
    return valid_arguments(grid_kind, shape, method)[ARGUMENTS[method].index("values")]


def read_only(a):
    a.flags.writeable = False
    return a


def other_dimensions(values):
    """A 3-D array for a 2-D one, a 2-D one for a 3-D one."""
    return values[..., None] if values.ndim == 2 else values[..., 0]


def object_grid(shape, last):
    """An object array of the grid's shape: zeros, with `last` at the last cell."""
    a = np.zeros(shape, dtype=object)
    a[shape[0] - 1, shape[1] - 1] = last
    return a


# (label, methods, argument replaced, error, bad value for (grid_kind, shape, method, data)).
THRESHOLD_METHODS = FITS + LOG_METHODS
REFUSALS = [
    ("values of another shape", METHODS, "values", ValueError, wrong_values),
    ("values None", METHODS, "values", ValueError, lambda *_: None),
    (
        "values with other dimensions",
        METHODS,
        "values",
        ValueError,
        lambda s, sh, m, d: other_dimensions(good_values(s, sh, m)),
    ),
    (
        "values float32",
        METHODS,
        "values",
        ValueError,
        lambda s, sh, m, d: good_values(s, sh, m).astype(np.float32),
    ),
    (
        "values read-only",
        METHODS,
        "values",
        ValueError,
        lambda s, sh, m, d: read_only(good_values(s, sh, m)),
    ),
    ("values in a list", METHODS, "values", TypeError, lambda s, sh, m, d: [[0.5] * sh[1]]),
    (
        "no values per location",
        FITS,
        "values",
        ValueError,
        lambda s, sh, m, d: d.draw(grid_arrays((*sh, 0))),
    ),
    (
        "params of another shape",
        LOG_METHODS,
        "params",
        ValueError,
        lambda s, sh, m, d: d.draw(grid_arrays((*other_shape(sh, d), s.nparms))),
    ),
    (
        "params count",
        LOG_METHODS,
        "params",
        ValueError,
        lambda s, sh, m, d: d.draw(
            grid_arrays((*sh, d.draw(st.sampled_from([0, 1, s.nparms - 1, s.nparms + 1]))))
        ),
    ),
    ("params None", LOG_METHODS, "params", ValueError, lambda *_: None),
    *[
        (
            f"{side} threshold of another kind",
            THRESHOLD_METHODS,
            side,
            TypeError,
            lambda s, sh, m, d: d.draw(
                st.sampled_from([None, "1", np.float32(1.0), np.int64(1), 1j, [0.0]])
            ),
        )
        for side in ("left", "right")
    ],
    *[
        (
            f"{side} threshold array of another shape",
            THRESHOLD_METHODS,
            side,
            ValueError,
            lambda s, sh, m, d: d.draw(
                st.sampled_from(
                    [
                        np.array(1.0),
                        np.zeros(sh[1]),
                        np.zeros((*sh, 1)),
                        np.zeros(sh[::-1] if sh[0] != sh[1] else (sh[0] + 1, sh[1])),
                    ]
                )
            ),
        )
        for side in ("left", "right")
    ],
    (
        "threshold element that is no number",
        THRESHOLD_METHODS,
        "right",
        TypeError,
        lambda s, sh, m, d: object_grid(sh, None),
    ),
    ("threshold beyond the doubles", THRESHOLD_METHODS, "right", OverflowError, lambda *_: 10**400),
    (
        "mask True or 1",
        FITS,
        "mask",
        ValueError,
        lambda s, sh, m, d: d.draw(st.sampled_from([True, 1])),
    ),
    (
        "mask of another kind",
        FITS,
        "mask",
        TypeError,
        lambda s, sh, m, d: d.draw(
            st.sampled_from([None, 0.0, "x", np.bool_(False), np.int64(0), [False]])
        ),
    ),
    (
        "mask array of another shape",
        FITS,
        "mask",
        ValueError,
        lambda s, sh, m, d: np.zeros((sh[0] + 1, sh[1]), dtype=bool),
    ),
    (
        "mask element without a truth value",
        FITS,
        "mask",
        ArithmeticError,
        lambda s, sh, m, d: object_grid(sh, Untruthful()),
    ),
    ("undecidable flag", THRESHOLD_METHODS, "do_rescale", ArithmeticError, lambda *_: Untruthful()),
    ("maxConverge not an integer", ["optim_paramsSCE"], "maxConverge", TypeError, lambda *_: "5"),
    ("maxEval beyond 32 bits", ["optim_paramsSCE"], "maxEval", OverflowError, lambda *_: 2**31),
]

refusal_settings = settings(
    max_examples=examples(5),
    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow],
)


def assert_refused_without_effect(g, capfd, error, method, *args):
    capfd.readouterr()
    before = pc.state(g.obj)
    with pytest.raises(error) as e:
        getattr(g.obj, method)(*args)
    pc.assert_same_state(pc.state(g.obj), before)
    assert capfd.readouterr().out == ""  # no location was fitted, none warned
    return e


@by_grid
@pytest.mark.parametrize("label", [case[0] for case in REFUSALS])
@refusal_settings
@given(data=st.data())
def test_refused_calls_change_nothing(grid, label, capfd, data):
    _, methods, argument, error, make = next(case for case in REFUSALS if case[0] == label)
    g = data.draw(grid_instances(grid, nonempty_shapes, ("fresh", "decoded", "fitted")))
    for method in methods:
        args = valid_arguments(grid, g.shape, method)
        args[ARGUMENTS[method].index(argument)] = make(grid, g.shape, method, data)
        assert_refused_without_effect(g, capfd, error, method, *args)


@by_grid
@refusal_settings
@given(data=st.data())
def test_wrong_argument_counts_change_nothing(grid, capfd, data):
    g = data.draw(grid_instances(grid, nonempty_shapes, ("fresh", "decoded", "fitted")))
    for method in METHODS:
        args = valid_arguments(grid, g.shape, method)
        assert_refused_without_effect(g, capfd, TypeError, method, *args, 0.0, 0.0, 0.0)
        required = len(args) - 2 if method == "optim_paramsSCE" else len(args)
        assert_refused_without_effect(g, capfd, TypeError, method, *args[: required - 1])
    for getter in pc.GETTERS:
        assert_refused_without_effect(g, capfd, TypeError, getter, 0)


@by_grid
@refusal_settings
@given(data=st.data())
def test_values_are_checked_before_params(grid, capfd, data):
    g = data.draw(grid_instances(grid, nonempty_shapes, ("fresh", "decoded")))
    for method in LOG_METHODS:
        values = wrong_values(grid, g.shape, method, data)
        params = data.draw(grid_arrays((*other_shape(g.shape, data), grid.nparms + 1)))
        e = assert_refused_without_effect(g, capfd, ValueError, method, params, values, 0.0, 1.0, 0)
        assert str(e.value) == "Shape of passed values do not match initialised object"


@by_grid
def test_the_arguments_replaced_above_are_otherwise_accepted(grid, capfd):
    # So that each refusal above is due to the one argument it replaces.
    for method in METHODS:
        got = getattr(grid.cls(*grid.args(2, 3)), method)(*valid_arguments(grid, (2, 3), method))
        assert got is None if method in FITS else got.shape[:2] == (2, 3)
