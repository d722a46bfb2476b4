"""Argument binding and scalar conversion: which calls are refused, with which texts."""

import numpy as np
import pytest
from conftest import CTOR_ARGS

COUNT = "{}() takes {} {} positional argument{} ({} given)"


def count_message(name, kind, bound, given):
    return COUNT.format(name, kind, bound, "" if bound == 1 else "s", given)


ARRAY_METHODS = [
    "transform_many",
    "inv_transform_many",
    "rescale_many",
    "inv_rescale_many",
]
SCALAR_METHODS = ["rescale_one", "inv_rescale_one"]
GETTERS = [
    "get_optimised_params",
    "get_scale_shift",
    "get_transformation_params",
    "get_distribution_params",
]


def test_constructor_positional_limit(family):
    bound = len(family.params)
    with pytest.raises(TypeError) as e:
        family.cls(*[1.0] * (bound + 1))
    assert str(e.value) == count_message("__cinit__", "at most", bound, bound + 1)


def test_constructor_keywords(family):
    first = family.params[0][0]
    with pytest.raises(TypeError) as e:
        family.cls(shift_=1.0)
    assert str(e.value) == "__cinit__() got an unexpected keyword argument 'shift_'"
    with pytest.raises(TypeError) as e:
        family.cls(1.0, **{first: 2.0})
    assert str(e.value) == f"__cinit__() got multiple values for keyword argument '{first}'"


def test_positional_limits_of_methods(family):
    obj = family.cls()
    a = np.zeros(2)
    cases = [
        ("transform_one", (), count_message("transform_one", "at least", 1, 0)),
        (
            "transform_one",
            (1.0,) * (family.ntrans + 2),
            count_message("transform_one", "at most", family.ntrans + 1, family.ntrans + 2),
        ),
        ("log_density", (a, 1.0, 0.0, 2.0), count_message("log_density", "exactly", 5, 4)),
        (
            "log_jacobian",
            (a, 1.0, 0.0, 2.0, True, 1),
            count_message("log_jacobian", "exactly", 5, 6),
        ),
    ]
    for name in ARRAY_METHODS + SCALAR_METHODS:
        arg = a if name in ARRAY_METHODS else 1.0
        cases.append((name, (), count_message(name, "exactly", 1, 0)))
        cases.append((name, (arg, arg), count_message(name, "exactly", 1, 2)))
    for name in GETTERS:
        cases.append((name, (1,), count_message(name, "exactly", 0, 1)))
    for name, args, message in cases:
        with pytest.raises(TypeError) as e:
            getattr(obj, name)(*args)
        assert str(e.value) == message, name


def test_getters_refuse_any_keyword(family):
    obj = family.cls()
    for name in GETTERS:
        with pytest.raises(TypeError) as e:
            getattr(obj, name)(x=1)
        assert str(e.value) == f"{name}() got an unexpected keyword argument 'x'"


def test_keyword_errors(family):
    obj = family.cls()
    a = np.zeros(2)
    with pytest.raises(TypeError) as e:
        obj.transform_many(values=a, x=1)
    assert str(e.value) == "transform_many() got an unexpected keyword argument 'x'"
    with pytest.raises(TypeError) as e:
        obj.transform_one(1.0, value=2.0)
    assert str(e.value) == "transform_one() got multiple values for keyword argument 'value'"
    # Non-string keyword names never reach a parameter (Python refuses them itself for a
    # method; a constructor is refused by the module).
    with pytest.raises(TypeError):
        obj.rescale_one(1.0, **{1: 2})
    with pytest.raises(TypeError) as e:
        family.cls(scale=1.0, **{1: 2})
    assert str(e.value) == "__cinit__() keywords must be strings"


def test_missing_required_argument_counts_those_bound_before_it(family):
    obj = family.cls()
    p = np.array(family.search_vector)
    with pytest.raises(TypeError) as e:
        obj.log_density(p, 1.0, right_cens_thresh=5.0, do_rescale=False)
    assert str(e.value) == count_message("log_density", "exactly", 5, 2)
    with pytest.raises(TypeError) as e:
        obj.log_jacobian(params=p, value=1.0, left_cens_thresh=0.0)
    assert str(e.value) == count_message("log_jacobian", "exactly", 5, 3)


def test_all_arguments_bind_by_keyword(family):
    kwargs = dict(zip([n for n, _ in family.params], CTOR_ARGS[family.name], strict=True))
    by_keyword = family.cls(**kwargs)
    by_position = family.cls(*CTOR_ARGS[family.name])
    assert by_keyword.get_distribution_params() == by_position.get_distribution_params()
    assert by_keyword.get_scale_shift() == by_position.get_scale_shift()
    a = np.array([0.5, 1.5])
    np.testing.assert_array_equal(by_keyword.rescale_many(values=a), by_position.rescale_many(a))
    assert by_keyword.rescale_one(value=0.5) == by_position.rescale_one(0.5)
    explicit = dict(zip(family.explicit, [1.5, 0.25], strict=False))
    assert by_keyword.transform_one(value=0.5, **explicit) == by_position.transform_one(
        0.5, *explicit.values()
    )


class FloatLike:
    def __float__(self):
        return 0.75


class BadFloat:
    def __float__(self):
        raise ValueError("no float here")


@pytest.mark.parametrize(
    ("arg", "expected"),
    [
        (3, 3.0),
        (True, 1.0),
        (FloatLike(), 0.75),
        (np.float32(0.5), 0.5),
        (np.int64(-2), -2.0),
    ],
)
def test_float_conversion_accepts_numbers(family, arg, expected):
    obj = family.cls(*CTOR_ARGS[family.name])
    assert obj.rescale_one(arg) == obj.rescale_one(expected)
    assert family.cls(scale=arg).get_scale_shift()[0] == expected


@pytest.mark.parametrize(
    ("arg", "error"),
    [("1", TypeError), (None, TypeError), ([1.0], TypeError), (BadFloat(), ValueError)],
)
def test_float_conversion_refusals(family, arg, error):
    obj = family.cls()
    with pytest.raises(error):
        obj.transform_one(arg)
    with pytest.raises(error):
        family.cls(**{family.params[0][0]: arg})
    with pytest.raises(error):
        obj.log_density(np.array(family.search_vector), 1.0, arg, 2.0, False)


def test_second_explicit_parameter_is_required_with_the_first(family):
    if family.ntrans < 2:
        pytest.skip("one transformation parameter")
    with pytest.raises(TypeError):
        family.cls().transform_one(1.0, **{family.explicit[0]: 2.0})
    # The first one alone decides: a second one without the first is ignored.
    assert family.cls().transform_one(0.5, None, 3.0) == family.cls().transform_one(0.5)


class Truthy:
    def __bool__(self):
        return True


class BadBool:
    def __bool__(self):
        raise RuntimeError("undecidable")


def test_bool_conversion(family):
    obj = family.cls(*CTOR_ARGS[family.name])
    p = np.array(family.search_vector)

    def density(flag):
        return obj.log_density(p, 3.0, 0.0, 50.0, flag)

    on, off = density(True), density(False)
    assert on != off
    for flag in (None, 0, [], 0.0, np.bool_(False)):
        assert density(flag) == off
    for flag in (1, [0], "no", Truthy(), np.bool_(True)):
        assert density(flag) == on
    with pytest.raises(RuntimeError, match="undecidable"):
        density(BadBool())
