"""Grid classes: value and series methods, log-density and log-Jacobian, thresholds."""

import numpy as np
import pytest
from grid_cases import GRIDS, cells, series

VALUES_SHAPE = "Shape of passed values do not match initialised object"
PARAMS_SHAPE = "Shape of passed params do not match initialised object"
VALUE_METHODS = ["transform_one", "rescale_one", "inv_rescale_one"]
SERIES_METHODS = ["transform_many", "inv_transform_many", "rescale_many", "inv_rescale_many"]
LOG_METHODS = ["log_density", "log_jacobian"]


@pytest.fixture(params=GRIDS, ids=lambda g: g.name)
def grid(request):
    return request.param


def values_2d(nrows=2, ncols=3):
    return np.linspace(0.3, 4.0, nrows * ncols).reshape(nrows, ncols)


@pytest.mark.parametrize("method", VALUE_METHODS)
def test_value_methods_agree_with_the_single_location_class(grid, method):
    obj, args = grid.make(2, 3)
    x = values_2d()
    got = getattr(obj, method)(x)
    assert got.shape == (2, 3) and got.dtype == np.float64 and got.flags.c_contiguous
    for r, c in cells(2, 3):
        assert got[r, c] == getattr(grid.single_at(args, r, c), method)(x[r, c])
    assert x.tolist() == values_2d().tolist()  # the input is only read


def test_transform_one_ignores_scale_and_shift(grid):
    # The same transformation parameters with and without rescaling constants.
    args = grid.args(2, 3)
    plain = list(args)
    names = [n for n, _, _ in grid.params]
    plain[names.index("scale")] = np.ones((2, 3))
    if "shift" in names:
        plain[names.index("shift")] = np.zeros((2, 3))
    x = values_2d()
    assert (grid.cls(*args).transform_one(x) == grid.cls(*plain).transform_one(x)).all()


def test_rescale_one_and_its_inverse(grid):
    obj, args = grid.make(2, 3)
    scale, shift = obj.get_scale_shift()[:, :, 0], obj.get_scale_shift()[:, :, 1]
    x = values_2d()
    y = obj.rescale_one(x)
    # (value + shift) * scale, evaluated by NumPy in the same order.
    assert (y == (x + shift) * scale).all()
    np.testing.assert_allclose(obj.inv_rescale_one(y), x, rtol=1e-14)


@pytest.mark.parametrize("method", SERIES_METHODS)
def test_series_methods_agree_with_the_single_location_class(grid, method):
    obj, args = grid.make(2, 3)
    v = series(2, 3, 5)
    before = v.copy()
    got = getattr(obj, method)(v)
    assert got.shape == (2, 3, 5) and got.dtype == np.float64 and got.flags.c_contiguous
    for r, c in cells(2, 3):
        single = getattr(grid.single_at(args, r, c), method)(v[r, c].copy())
        assert got[r, c].tolist() == single.tolist()
    assert (v == before).all()


@pytest.mark.parametrize("method", SERIES_METHODS)
def test_series_methods_read_strided_values_and_accept_empty_series(grid, method):
    obj, _ = grid.make(2, 3)
    v = series(4, 3, 10)
    view = v[::2, :, ::3]  # rows 0 and 2, every third value
    assert (getattr(obj, method)(view) == getattr(obj, method)(view.copy())).all()
    empty = getattr(obj, method)(np.empty((2, 3, 0)))
    assert empty.shape == (2, 3, 0) and empty.dtype == np.float64


def test_inverse_series_methods_undo_the_forward_ones(grid):
    obj, _ = grid.make(2, 3)
    v = series(2, 3, 6)
    np.testing.assert_allclose(obj.inv_transform_many(obj.transform_many(v)), v, rtol=1e-10)
    np.testing.assert_allclose(obj.inv_rescale_many(obj.rescale_many(v)), v, rtol=1e-13)


def test_non_finite_values_propagate_without_error(grid):
    obj, _ = grid.make(1, 2)
    x = np.array([[np.nan, 1.0]])
    got = obj.transform_one(x)
    assert np.isnan(got[0, 0]) and np.isfinite(got[0, 1])
    assert np.isnan(obj.rescale_many(np.full((1, 2, 3), np.nan))).all()


@pytest.mark.parametrize("method", VALUE_METHODS + SERIES_METHODS)
@pytest.mark.parametrize("shape", [(3, 2), (2, 2), (1, 3), (0, 0)])
def test_values_of_another_grid_shape_are_refused(grid, method, shape):
    obj, _ = grid.make(2, 3)
    ndim = 2 if method in VALUE_METHODS else 3
    with pytest.raises(ValueError) as e:
        getattr(obj, method)(np.ones(shape + (5,) * (ndim - 2)))
    assert str(e.value) == VALUES_SHAPE


@pytest.mark.parametrize(
    ("method", "arg", "message"),
    [
        ("transform_one", np.ones((2, 3, 1)), "(expected 2, got 3)"),
        ("transform_many", np.ones((2, 3)), "(expected 3, got 2)"),
        ("rescale_many", np.ones((2, 3, 1), dtype=np.float32), "Buffer dtype mismatch"),
    ],
)
def test_values_with_the_wrong_dimensions_or_type_are_refused(grid, method, arg, message):
    obj, _ = grid.make(2, 3)
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)")):
        getattr(obj, method)(arg)


@pytest.mark.parametrize("method", VALUE_METHODS + SERIES_METHODS)
def test_value_and_series_methods_take_exactly_one_argument(grid, method):
    obj, _ = grid.make(1, 1)
    with pytest.raises(TypeError) as e:
        getattr(obj, method)()
    assert str(e.value) == f"{method}() takes exactly 1 positional argument (0 given)"


# ---- log_density and log_jacobian ---------------------------------------------------


@pytest.mark.parametrize("method", LOG_METHODS)
@pytest.mark.parametrize("do_rescale", [False, True])
def test_log_methods_agree_with_the_single_location_class(grid, method, do_rescale):
    obj, args = grid.make(2, 3)
    q = grid.search_vectors(2, 3)
    x = values_2d()
    got = getattr(obj, method)(q, x, 0.5, 3.5, do_rescale)
    assert got.shape == (2, 3) and got.dtype == np.float64
    for r, c in cells(2, 3):
        single = grid.single_at(args, r, c)
        assert got[r, c] == getattr(single, method)(q[r, c].copy(), x[r, c], 0.5, 3.5, do_rescale)
    # Some cells lie beyond the thresholds, so the censored branches are compared too.
    assert (x < 0.5).any() and (x > 3.5).any()


@pytest.mark.parametrize("method", LOG_METHODS)
def test_log_methods_leave_the_decoded_params_in_every_location(grid, method):
    obj, args = grid.make(2, 3)
    q = grid.search_vectors(2, 3)
    getattr(obj, method)(q, values_2d(), 0.0, 10.0, False)
    dist = obj.get_distribution_params()
    trans_before = obj.get_scale_shift().copy()
    for r, c in cells(2, 3):
        single = grid.single_at(args, r, c)
        getattr(single, method)(q[r, c].copy(), 1.0, 0.0, 10.0, False)
        assert dist[r, c].tolist() == single.get_distribution_params()
    # Later calls see the decoded parameters; the fit record and rescaling stay.
    assert (obj.get_transformation_params() == dist[:, :, : grid.ntrans]).all()
    assert np.isnan(obj.get_optimised_params()).all()
    assert (obj.get_scale_shift() == trans_before).all()
    assert (q == grid.search_vectors(2, 3)).all()


def test_log_jacobian_is_zero_where_the_value_is_censored(grid):
    obj, _ = grid.make(1, 3)
    x = np.array([[0.1, 1.0, 9.0]])
    got = obj.log_jacobian(grid.search_vectors(1, 3), x, 0.5, 3.0, False)
    assert got[0, 0] == 0.0 and got[0, 2] == 0.0 and got[0, 1] != 0.0


@pytest.mark.parametrize("method", LOG_METHODS)
def test_log_methods_check_values_then_params_shape_then_count(grid, method):
    obj, _ = grid.make(2, 3)
    good_q, good_x = grid.search_vectors(2, 3), values_2d()
    bad_x = np.ones((3, 2))
    bad_q = np.ones((3, 2, grid.nparms))
    wrong_count = np.ones((2, 3, grid.nparms + 1))
    cases = [
        (bad_q, bad_x, VALUES_SHAPE),
        (bad_q, good_x, PARAMS_SHAPE),
        (wrong_count, bad_x, VALUES_SHAPE),
        (wrong_count, good_x, f"Expected {grid.nparms} params for each location"),
        (good_q[:, :, :-1], good_x, f"Expected {grid.nparms} params for each location"),
    ]
    for q, x, message in cases:
        with pytest.raises(ValueError) as e:
            getattr(obj, method)(q, x, 0.0, 1.0, False)
        assert str(e.value) == message


def test_yeo_johnson_count_message_names_three():
    # The count message is formatted with the family's search-vector length.
    obj, _ = GRIDS[0].make(1, 1)
    with pytest.raises(ValueError) as e:
        obj.log_density(np.ones((1, 1, 4)), np.ones((1, 1)), 0.0, 1.0, False)
    assert str(e.value) == "Expected 3 params for each location"


@pytest.mark.parametrize("method", LOG_METHODS)
def test_log_methods_take_exactly_five_arguments(grid, method):
    obj, _ = grid.make(1, 1)
    with pytest.raises(TypeError) as e:
        getattr(obj, method)(grid.search_vectors(1, 1), np.ones((1, 1)), 0.0, 1.0)
    assert str(e.value) == f"{method}() takes exactly 5 positional arguments (4 given)"


# ---- censoring thresholds -------------------------------------------------------------


def test_scalar_thresholds_apply_to_every_location(grid):
    obj, args = grid.make(2, 3)
    q, x = grid.search_vectors(2, 3), values_2d()
    got = obj.log_density(q, x, 1.0, 3.0, False)
    for r, c in cells(2, 3):
        single = grid.single_at(args, r, c)
        assert got[r, c] == single.log_density(q[r, c].copy(), x[r, c], 1.0, 3.0, False)


def test_threshold_arrays_give_each_location_its_own_pair(grid):
    obj, args = grid.make(2, 3)
    q = grid.search_vectors(2, 3)
    x = np.full((2, 3), 2.0)
    # Left above the value at (0, 0), right below it at (1, 2): both cells censored.
    left = np.array([[2.5, 0.1, 0.2], [0.3, 0.4, 0.5]])
    right = np.array([[6.0, 7.0, 8.0], [9.0, 10.0, 1.5]])
    got = obj.log_density(q, x, left, right, False)
    for r, c in cells(2, 3):
        single = grid.single_at(args, r, c)
        assert got[r, c] == single.log_density(q[r, c].copy(), 2.0, left[r, c], right[r, c], False)
    jac = obj.log_jacobian(q, x, left, right, False)
    assert jac[0, 0] == 0.0 and jac[1, 2] == 0.0 and (jac.ravel()[1:-1] != 0.0).all()


@pytest.mark.parametrize(
    ("given", "as_float"),
    [
        (0.5, 0.5),
        (0, 0.0),
        (True, 1.0),
        (np.float64(0.75), 0.75),
        (np.full((2, 3), 1, dtype=np.int32), 1.0),  # elements converted with float()
        (np.full((2, 3), True), 1.0),
        (np.full((2, 3), 0.25, dtype=np.float32), 0.25),
        (np.full((4, 6), 0.5, order="F")[::2, ::2], 0.5),
    ],
    ids=["float", "int", "bool", "float64", "int-array", "bool-array", "f32-array", "strided"],
)
def test_accepted_thresholds(grid, given, as_float):
    obj, _ = grid.make(2, 3)
    q, x = grid.search_vectors(2, 3), values_2d()
    expected = obj.log_density(q, x, as_float, 50.0, False)
    assert (obj.log_density(q, x, given, 50.0, False) == expected).all()
    expected = obj.log_density(q, x, -1.0, as_float, False)
    assert (obj.log_density(q, x, -1.0, given, False) == expected).all()


@pytest.mark.parametrize(
    ("given", "error"),
    [
        (np.float32(0.5), TypeError),
        (np.int64(1), TypeError),
        (None, TypeError),
        ("0.5", TypeError),
        ([[0.0] * 3] * 2, TypeError),
        (np.array(0.5), ValueError),
        (np.zeros(6), ValueError),
        (np.zeros((3, 2)), ValueError),
        (np.zeros((2, 3, 1)), ValueError),
    ],
    ids=["float32", "int64", "None", "str", "list", "0-D", "1-D", "transposed", "3-D"],
)
@pytest.mark.parametrize("side", ["left", "right"])
def test_refused_thresholds(grid, given, error, side):
    obj, _ = grid.make(2, 3)
    name = f"{side}_cens_thresh"
    message = {
        TypeError: f"{name} must be either a 2D array, an int or float",
        ValueError: f"Shape of passed {name} do not match initialised object",
    }[error]
    before = obj.get_distribution_params()
    kwargs = {"left_cens_thresh": 0.0, "right_cens_thresh": 9.0, name: given}
    for method in LOG_METHODS:
        with pytest.raises(error) as e:
            getattr(obj, method)(grid.search_vectors(2, 3), values_2d(), do_rescale=False, **kwargs)
        assert str(e.value) == message
    # Refused before any location decoded its params.
    assert (obj.get_distribution_params() == before).all()


def test_left_threshold_is_expanded_before_the_right_one(grid):
    obj, _ = grid.make(2, 3)
    with pytest.raises(ValueError, match="left_cens_thresh"):
        obj.log_density(grid.search_vectors(2, 3), values_2d(), np.zeros(3), None, False)
    with pytest.raises(TypeError, match="left_cens_thresh"):
        obj.log_density(grid.search_vectors(2, 3), values_2d(), None, np.zeros(3), False)


def test_threshold_elements_that_do_not_convert_raise_their_own_error(grid):
    obj, _ = grid.make(1, 2)
    left = np.array([[0.0, "x"]], dtype=object)
    with pytest.raises(ValueError, match="could not convert"):
        obj.log_density(grid.search_vectors(1, 2), np.ones((1, 2)), left, 9.0, False)
