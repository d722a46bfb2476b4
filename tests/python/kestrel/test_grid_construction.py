"""Grid classes: construction, the four getters, location numbering and class properties."""

import copy
import gc
import pickle
import weakref

import numpy as np
import pytest
from grid_cases import GRIDS, cells

import ferrule.kestrel as kestrel

REFUSAL = "no default __reduce__ due to non-trivial __cinit__"
SAME_SHAPE = "All arguments arrays should have same shape "
METHODS = [
    "transform_one",
    "transform_many",
    "inv_transform_many",
    "rescale_one",
    "inv_rescale_one",
    "rescale_many",
    "inv_rescale_many",
    "optim_params",
    "optim_paramsDE",
    "optim_paramsSCE",
    "log_density",
    "log_jacobian",
    "get_optimised_params",
    "get_distribution_params",
    "get_transformation_params",
    "get_scale_shift",
]


@pytest.fixture(params=GRIDS, ids=lambda g: g.name)
def grid(request):
    return request.param


def test_class_identity_methods_and_docs(grid):
    cls = grid.cls
    assert cls.__module__ == "ferrule.kestrel"
    assert cls.__qualname__ == grid.name
    assert cls.__doc__ is None
    assert [n for n in vars(cls) if not n.startswith("__")] == METHODS
    assert all(getattr(cls, n).__doc__ is None for n in METHODS)
    assert "__reduce__" in vars(cls) and "__setstate__" in vars(cls)
    # Nothing C-level leaks into the class namespace (a C method would add a vtable).
    assert "__pyx_vtable__" not in vars(cls)


def test_str_is_the_class_name(grid):
    obj, _ = grid.make()
    assert str(obj) == grid.name


@pytest.mark.parametrize(
    "action",
    [pickle.dumps, copy.copy, copy.deepcopy, lambda o: o.__setstate__(None)],
    ids=["pickle", "copy", "deepcopy", "setstate"],
)
def test_pickling_and_copying_are_refused(grid, action):
    obj, _ = grid.make()
    with pytest.raises(TypeError) as e:
        action(obj)
    assert str(e.value) == REFUSAL


def test_instances_have_no_dict_no_weakrefs_and_are_untracked(grid):
    obj, _ = grid.make(1, 2)
    with pytest.raises(AttributeError):
        obj.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)
    assert not gc.is_tracked(obj)


def test_classes_can_be_subclassed(grid):
    class Sub(grid.cls):
        pass

    args = grid.args(1, 2)
    np.testing.assert_array_equal(Sub(*args).get_scale_shift(), grid.cls(*args).get_scale_shift())


def test_each_cell_holds_the_object_built_from_its_arguments(grid):
    obj, args = grid.make(2, 3)
    getters = {
        "get_distribution_params": grid.nparms,
        "get_transformation_params": grid.ntrans,
        "get_scale_shift": 2,
    }
    for name, width in getters.items():
        got = getattr(obj, name)()
        assert got.shape == (2, 3, width) and got.dtype == np.float64
        assert got.flags.c_contiguous
        for r, c in cells(2, 3):
            assert got[r, c].tolist() == getattr(grid.single_at(args, r, c), name)()
    # Fresh objects: no location is fitted yet, mu and sigma are unset.
    opt = obj.get_optimised_params()
    assert opt.shape == (2, 3, grid.nparms) and np.isnan(opt).all()
    assert (obj.get_distribution_params()[:, :, -2:] == -9999.0).all()


def test_scale_shift_and_transformation_params_come_from_the_named_arguments(grid):
    obj, args = grid.make(2, 3)
    named = dict(zip([n for n, _, _ in grid.params], args, strict=True))
    shift = named.get("shift", np.zeros((2, 3)))  # log-sinh has no shift: always 0
    np.testing.assert_array_equal(obj.get_scale_shift(), np.stack([named["scale"], shift], 2))
    trans = [a for n, a in named.items() if n.startswith("trans_")]
    np.testing.assert_array_equal(obj.get_transformation_params(), np.stack(trans, 2))


def test_locations_are_numbered_row_major(grid):
    # Scale v + 1 at location v = r * ncols + c shows where each location's object sits.
    args = grid.args(2, 3)
    i = [n for n, _, _ in grid.params].index("scale")
    args[i] = np.arange(1.0, 7.0).reshape(2, 3)
    obj = grid.cls(*args)
    scales = obj.get_scale_shift()[:, :, 0]
    assert scales[1, 1] == 5.0  # location 4
    assert scales.ravel().tolist() == [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]


def test_getters_return_new_arrays(grid):
    obj, _ = grid.make(1, 2)
    a = obj.get_scale_shift()
    a[:] = 0.0
    assert (obj.get_scale_shift()[:, :, 0] != 0.0).all()
    assert obj.get_optimised_params() is not obj.get_optimised_params()


def test_strided_arguments_are_read_with_their_strides(grid):
    big = [np.asfortranarray(np.tile(a, (2, 2))) for a in grid.args(2, 3)]
    obj = grid.cls(*[b[::2, ::2] for b in big])
    for r, c in cells(2, 3):
        single = grid.single(*[float(b[2 * r, 2 * c]) for b in big])
        assert obj.get_distribution_params()[r, c].tolist() == single.get_distribution_params()


@pytest.mark.parametrize(("bad_shape"), [(3, 2), (2, 4), (1, 3), (0, 3)])
def test_arguments_of_different_shapes_are_refused(grid, bad_shape):
    # Any one argument out of shape is enough, the first one included.
    for i in range(len(grid.params)):
        args = grid.args(2, 3)
        args[i] = np.ones(bad_shape)
        with pytest.raises(ValueError) as e:
            grid.cls(*args)
        assert str(e.value) == SAME_SHAPE


@pytest.mark.parametrize(
    ("arg", "error", "message"),
    [
        (np.ones((2, 3), dtype=np.float32), ValueError, "Buffer dtype mismatch"),
        (np.ones((2, 3), dtype=np.int64), ValueError, "Buffer dtype mismatch"),
        (np.ones(6), ValueError, "Buffer has wrong number of dimensions (expected 2, got 1)"),
        (np.ones((2, 3, 1)), ValueError, "Buffer has wrong number of dimensions (expected 2"),
        ([[1.0] * 3] * 2, TypeError, None),
        (1.0, TypeError, None),
    ],
    ids=["float32", "int64", "1-D", "3-D", "list", "float"],
)
def test_arguments_that_are_not_2d_double_buffers_are_refused(grid, arg, error, message):
    args = grid.args(2, 3)
    args[-1] = arg
    with pytest.raises(error) as e:
        grid.cls(*args)
    if message is not None:
        assert str(e.value).startswith(message)


def test_read_only_arguments_are_refused(grid):
    args = grid.args(2, 3)
    args[0].flags.writeable = False
    with pytest.raises(ValueError):
        grid.cls(*args)


def test_all_arguments_are_required(grid):
    n = len(grid.params)
    args = grid.args(1, 1)
    with pytest.raises(TypeError) as e:
        grid.cls(*args[:-1])
    assert str(e.value) == (f"__cinit__() takes exactly {n} positional arguments ({n - 1} given)")
    with pytest.raises(TypeError) as e:
        grid.cls(*args, args[0])
    assert str(e.value) == f"__cinit__() takes exactly {n} positional arguments ({n + 1} given)"
    # By keyword, in any order.
    names = [p for p, _, _ in grid.params]
    obj = grid.cls(**dict(zip(reversed(names), reversed(args), strict=True)))
    assert obj.get_scale_shift().shape == (1, 1, 2)
    with pytest.raises(TypeError) as e:
        grid.cls(*args, **{1: 2})
    assert str(e.value) == "__cinit__() keywords must be strings"


@pytest.mark.parametrize("shape", [(0, 0), (0, 4), (3, 0)])
def test_grids_without_locations(grid, shape):
    obj = grid.cls(*[np.ones(shape)] * len(grid.params))
    # The parameter count comes from the family, there being no first location.
    assert obj.get_optimised_params().shape == (*shape, grid.nparms)
    assert obj.get_distribution_params().shape == (*shape, grid.nparms)
    assert obj.get_transformation_params().shape == (*shape, grid.ntrans)
    assert obj.get_scale_shift().shape == (*shape, 2)
    assert obj.transform_many(np.ones((*shape, 5))).shape == (*shape, 5)
    assert obj.log_density(np.ones((*shape, grid.nparms)), np.ones(shape), 0, 1, False).shape == (
        shape
    )


def test_none_arguments_make_an_empty_grid(grid):
    obj = grid.cls(*[None] * len(grid.params))
    assert obj.get_scale_shift().shape == (0, 0, 2)
    # None in a method of a non-empty grid fails the shape check.
    full, _ = grid.make(2, 3)
    with pytest.raises(ValueError, match="Shape of passed values do not match"):
        full.transform_one(None)


@pytest.mark.parametrize("getter", METHODS[-4:])
def test_getters_take_no_arguments(grid, getter):
    obj, _ = grid.make(1, 1)
    with pytest.raises(TypeError) as e:
        getattr(obj, getter)(1)
    assert str(e.value) == f"{getter}() takes exactly 0 positional arguments (1 given)"
    with pytest.raises(TypeError) as e:
        getattr(obj, getter)(x=1)
    assert str(e.value) == f"{getter}() got an unexpected keyword argument 'x'"


def test_the_classes_are_distinct_module_attributes():
    names = ["PyYJTvectorized", "PyLogSinhvectorized", "PySinhAsinhvectorized"]
    assert [g.name for g in GRIDS] == names
    assert all(getattr(kestrel, n) is g.cls for n, g in zip(names, GRIDS, strict=True))
