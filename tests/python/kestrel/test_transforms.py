"""Transforms, inverses, rescaling and getters of the four classes against the formulas."""

import math

import numpy as np
import pytest
import reference as ref
from conftest import CTOR_ARGS

import ferrule.kestrel as kestrel

VALUES = [0.3, 1.0, 2.5, 4.0]
# Yeo-Johnson and sinh-arcsinh are defined on the whole line.
SIGNED_VALUES = [-7.5, -1.0, -0.25, 0.0, 0.25, 1.0, 7.5]


def test_fresh_instance_getters(family):
    args = CTOR_ARGS[family.name]
    trans, scale, shift = family.split(args)
    obj = family.cls(*args)
    assert obj.get_transformation_params() == trans
    assert obj.get_distribution_params() == trans + [-9999.0, -9999.0]
    assert obj.get_scale_shift() == [scale, shift]
    assert obj.get_optimised_params() == []


def test_defaults(family):
    defaults = [d for _, d in family.params]
    obj = family.cls()
    trans, scale, shift = family.split(defaults)
    assert obj.get_transformation_params() == trans
    assert obj.get_scale_shift() == [scale, shift]


def test_getters_return_new_lists(family):
    obj = family.cls(*CTOR_ARGS[family.name])
    first = obj.get_distribution_params()
    expected = list(first)
    first.append(1.0)
    first[0] = 123.0
    assert obj.get_distribution_params() == expected
    assert all(type(v) is float for v in obj.get_scale_shift())


def test_transform_one_uses_stored_parameters(family):
    args = CTOR_ARGS[family.name]
    trans, _, _ = family.split(args)
    obj = family.cls(*args)
    for x in VALUES:
        # Formula evaluated with Python's math module, same operations in the same order.
        assert obj.transform_one(x) == family.forward(x, *trans)


# Published values of the forward maps, and the switch points of their branches.
EXPLICIT_CASES = [
    ("PyYJT", 2.0, (0.0,), math.log(3.0)),
    ("PyYJT", 2.0, (1e-7,), math.log(3.0)),  # |lambda| = 1e-7 is still the log branch
    ("PyYJT", 2.0, (2e-7,), (3.0**2e-7 - 1) / 2e-7),
    ("PyYJT", -3.0, (2.0,), -math.log(4.0)),
    ("PyYJT", -3.0, (0.0,), -((4.0**2 - 1) / 2)),
    ("PyYJT", 3.0, (2.0,), (4.0**2 - 1) / 2),
    ("PyYJT", 0.0, (3.7,), 0.0),
    ("PyLogSinh", 1.0, (1.0, 0.0), 0.16143936157119557),
    ("PyLogSinh", 3.0, (2.0, 0.5), 2.9034252795540465),
    ("PyLogSinh", 1000.0, (1.0, 0.0), 1000.0 - math.log(2.0)),  # sinh would overflow
    ("PyLogSinh", 710.0, (1.0, 0.0), 709.3068528194401),
    ("PyLogSinh", ref.LOG_MAX, (1.0, 0.0), ref.LOG_MAX - math.log(2.0)),
    ("PySinhAsinh", 1.0, (2.0, 0.5), 4.752693783039074),
    ("PyJPT", 1.0, (2.0, 0.5), 4.752693783039074),
]


@pytest.mark.parametrize(("name", "x", "params", "expected"), EXPLICIT_CASES)
def test_transform_one_with_explicit_parameters(name, x, params, expected):
    # Stored parameters far from the explicit ones, and no effect of scale and shift.
    obj = getattr(kestrel, name)(*CTOR_ARGS[name])
    before = obj.get_distribution_params()
    assert obj.transform_one(x, *params) == pytest.approx(expected, rel=1e-15, abs=0)
    assert obj.get_distribution_params() == before


def test_explicit_parameters_follow_the_family_formula(family):
    obj = family.cls(*CTOR_ARGS[family.name])
    for trans in ([0.6, 0.2], [1.3, 0.4], [2.2, 0.1]):
        trans = trans[: family.ntrans]
        for x in VALUES:
            named = dict(zip(family.explicit, trans, strict=True))
            assert obj.transform_one(x, *trans) == family.forward(x, *trans)
            assert obj.transform_one(value=x, **named) == family.forward(x, *trans)


@pytest.mark.parametrize("cls", [kestrel.PyYJT, kestrel.PySinhAsinh, kestrel.PyJPT])
def test_default_instances_are_the_identity(cls):
    obj = cls()
    for x in SIGNED_VALUES:
        assert obj.transform_one(x) == pytest.approx(x, rel=1e-14, abs=1e-15)
    np.testing.assert_allclose(obj.transform_many(np.array(SIGNED_VALUES)), SIGNED_VALUES)


def test_transform_many_is_transform_one_per_element(family):
    obj = family.cls(*CTOR_ARGS[family.name])
    result = obj.transform_many(np.array(VALUES))
    assert result.tolist() == [obj.transform_one(x) for x in VALUES]


def test_inv_transform_many(family):
    args = CTOR_ARGS[family.name]
    trans, _, _ = family.split(args)
    obj = family.cls(*args)
    ys = [obj.transform_one(x) for x in VALUES]
    back = obj.inv_transform_many(np.array(ys))
    np.testing.assert_allclose(back, VALUES, rtol=1e-12)
    expected = [family.inverse(y, *trans) for y in ys]
    np.testing.assert_allclose(back, expected, rtol=1e-15, atol=0)


def test_inverse_branches_of_log_sinh():
    # lambda y at or above log(DBL_MAX) takes the linear branch: 710 comes back.
    y = 709.3068528194401
    back = kestrel.PyLogSinh().inv_transform_many(np.array([y]))
    assert back[0] == pytest.approx(710.0, rel=1e-15)


def test_yeo_johnson_inverse_on_both_signs():
    for lam in (-2.0, 0.0, 0.5, 2.0, 4.0):
        obj = kestrel.PyYJT(lam)
        back = obj.inv_transform_many(obj.transform_many(np.array(SIGNED_VALUES)))
        np.testing.assert_allclose(back, SIGNED_VALUES, rtol=1e-12, atol=1e-12)


def test_sinh_asinh_inverse_published_value():
    # T^-1(2) for delta = 2, epsilon = 0.5 is 0.489518998818118.
    for cls in (kestrel.PySinhAsinh, kestrel.PyJPT):
        back = cls(2.0, 0.5).inv_transform_many(np.array([2.0]))
        assert back[0] == pytest.approx(0.489518998818118, rel=1e-14)


def test_rescaling(family):
    args = CTOR_ARGS[family.name]
    _, scale, shift = family.split(args)
    obj = family.cls(*args)
    xs = np.array(SIGNED_VALUES)
    expected = [(x + shift) * scale for x in SIGNED_VALUES]
    assert [obj.rescale_one(x) for x in SIGNED_VALUES] == expected
    assert obj.rescale_many(xs).tolist() == expected
    inverse = [y / scale - shift for y in SIGNED_VALUES]
    assert [obj.inv_rescale_one(y) for y in SIGNED_VALUES] == inverse
    assert obj.inv_rescale_many(xs).tolist() == inverse
    np.testing.assert_allclose(obj.inv_rescale_many(obj.rescale_many(xs)), xs, atol=1e-14)


def test_rescaling_published_values():
    obj = kestrel.PyYJT(scale=2.0, shift=1.0)
    assert obj.rescale_one(0.0) == 2.0
    assert obj.inv_rescale_one(2.0) == 0.0
    assert obj.get_scale_shift() == [2.0, 1.0]
    assert kestrel.PyLogSinh(scale=3.0).get_scale_shift() == [3.0, 0.0]
    fresh = kestrel.PyYJT(0.5)
    assert fresh.get_optimised_params() == []
    assert fresh.get_transformation_params() == [0.5]
    assert fresh.get_distribution_params() == [0.5, -9999.0, -9999.0]


def test_transforms_do_not_rescale(family):
    # Same transformation parameters, different scale and shift: same transform.
    trans = [0.7, 0.3][: family.ntrans]
    plain = family.cls(*trans)
    rescaled = family.cls(*trans, 5.0)
    values = np.array(VALUES)
    assert plain.transform_many(values).tolist() == rescaled.transform_many(values).tolist()
    assert plain.transform_one(1.5) == rescaled.transform_one(1.5)


def test_non_finite_values_pass_through():
    obj = kestrel.PyYJT(scale=0.0)
    assert math.isinf(obj.inv_rescale_one(1.0))
    assert math.isnan(kestrel.PyLogSinh().transform_one(-1.0))
    assert kestrel.PyYJT().transform_many(np.array([math.inf])).tolist() == [math.inf]
