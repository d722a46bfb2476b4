"""Properties of the four single-location classes over any doubles.

Every public method is called with arbitrary doubles (signed zeros, subnormals, infinities,
NaN, the largest values) for values, parameters and thresholds, and with array arguments
of every layout (strided, reversed, empty, None). The calls must not fail or read outside
their arrays (the sanitized run checks the latter), must follow the family formulas where
those can be evaluated independently, must leave the caller's arrays and the instance's
state as documented, and refused calls must raise and change nothing.
"""

import math

import numpy as np
import property_checks as pc
import pytest
from conftest import FAMILIES
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st
from hypothesis_profile import examples
from strategies import (
    constructor_call,
    doubles,
    laid_out,
    search_vectors,
    series,
    thresholds,
)

by_family = pytest.mark.parametrize("family", FAMILIES, ids=lambda f: f.name)
SERIES_METHODS = ["transform_many", "inv_transform_many", "rescale_many", "inv_rescale_many"]
LOG_METHODS = ["log_density", "log_jacobian"]
FITS = ["optim_params", "optim_paramsDE", "optim_paramsSCE"]
EPS = np.finfo(float).eps


@st.composite
def instances(draw, family, states=("fresh", "decoded")):
    """An instance built from any constructor arguments, then left as constructed, holding
    parameters decoded from any search vector, or fitted."""
    _, _, used = draw(constructor_call(family.params))
    obj = family.cls(*used)
    how = draw(st.sampled_from(states))
    if how == "decoded":
        q, _ = draw(search_vectors(family.nparms))
        obj.log_density(q, draw(doubles), draw(thresholds), draw(thresholds), draw(st.booleans()))
    elif how == "fitted":
        data = np.array([0.5, 1.0, 2.5, 4.0])
        obj.optim_params(data, 0.0, 10.0, draw(st.booleans()), draw(st.booleans()))
    return obj


def rescaling_twin(family, obj):
    """A fresh instance with the same scale and shift as obj."""
    scale, shift = obj.get_scale_shift()
    names = [n for n, _ in family.params]
    return family.cls(**{"scale": scale, **({"shift": shift} if "shift" in names else {})})


# ---- construction and getters ---------------------------------------------------------


@by_family
@given(data=st.data())
def test_construction_keeps_every_argument_exactly(family, data):
    args, kwargs, used = data.draw(constructor_call(family.params))
    obj = family.cls(*args, **kwargs)
    trans, scale, shift = family.split(used)
    got = pc.state(obj)
    pc.assert_same(got["get_transformation_params"], trans, "transformation")
    pc.assert_same(got["get_distribution_params"], trans + [-9999.0, -9999.0], "distribution")
    pc.assert_same(got["get_scale_shift"], [scale, shift], "scale and shift")
    assert got["get_optimised_params"] == []
    assert all(type(v) is float for values in got.values() for v in values)


# ---- transformations and rescaling ----------------------------------------------------


@by_family
@given(data=st.data())
def test_transform_one_stored_explicit_and_batch_agree(family, data):
    obj = data.draw(instances(family))
    x = data.draw(doubles)
    other = [data.draw(doubles) for _ in range(family.ntrans)]
    before = pc.state(obj)
    stored = obj.transform_one(x)
    assert type(stored) is float
    # The explicit formula with the stored parameters is the stored transformation.
    pc.assert_same(obj.transform_one(x, *before["get_transformation_params"]), stored)
    pc.assert_same(obj.transform_many(np.array([x])), [stored])
    # Explicit parameters are those of an instance built with them, whatever is stored;
    # the first one alone decides whether they are used.
    pc.assert_same(obj.transform_one(x, *other), family.cls(*other).transform_one(x))
    pc.assert_same(obj.transform_one(x, None, *other[1:]), stored)
    pc.assert_same_state(pc.state(obj), before)


@by_family
@given(data=st.data())
def test_single_value_rescaling_follows_its_formula(family, data):
    obj = data.draw(instances(family))
    x = data.draw(doubles)
    scale, shift = obj.get_scale_shift()
    # (x + shift) * scale and x / scale - shift, in IEEE doubles.
    pc.assert_same(obj.rescale_one(x), (x + shift) * scale)
    pc.assert_same(obj.inv_rescale_one(x), pc.div(x, scale) - shift)


def one_at_a_time(obj, method, x):
    """What a series method must give for the single value x."""
    scale, shift = obj.get_scale_shift()
    if method == "transform_many":
        return obj.transform_one(x)
    if method == "inv_transform_many":
        return obj.inv_transform_many(np.array([x]))[0]
    if method == "rescale_many":
        return (x + shift) * scale
    return pc.div(x, scale) - shift


@by_family
@pytest.mark.parametrize("method", SERIES_METHODS)
@given(data=st.data())
def test_series_methods_read_any_layout_value_by_value(family, method, data):
    obj = data.draw(instances(family))
    arg, values = data.draw(series())
    block = None if arg is None else arg.base.copy()
    before = pc.state(obj)
    out = getattr(obj, method)(arg)
    assert type(out) is np.ndarray and out.dtype == np.float64 and out.shape == (len(values),)
    pc.assert_same(out, [one_at_a_time(obj, method, x) for x in values])
    if arg is not None:
        assert not np.shares_memory(out, arg.base)
        pc.assert_same(arg.base, block, "the caller's array")
    pc.assert_same_state(pc.state(obj), before)


finite = st.floats(-1e6, 1e6)
scales = st.one_of(st.floats(1e-3, 1e3), st.floats(-1e3, -1e-3))


@by_family
@given(scale=scales, shift=st.floats(-1e3, 1e3), xs=st.lists(finite, max_size=5))
def test_rescaling_round_trip(family, scale, shift, xs):
    names = [n for n, _ in family.params]
    obj = family.cls(scale=scale, **({"shift": shift} if "shift" in names else {}))
    shift = obj.get_scale_shift()[1]
    back = obj.inv_rescale_many(obj.rescale_many(np.array(xs)))
    for x, b in zip(xs, back, strict=True):
        # Four roundings, each at most half an ulp of a value bounded by |x| + |shift|
        # (divided back by scale), so the error is below 2 eps (|x| + |shift|).
        assert abs(b - x) <= 2 * EPS * (abs(x) + abs(shift)) + 1e-300
        assert (
            abs(obj.inv_rescale_one(obj.rescale_one(x)) - x)
            <= 2 * EPS * (abs(x) + abs(shift)) + 1e-300
        )


# Yeo-Johnson: values of either sign, powers around both switches to the logarithm.
yj_lambdas = st.one_of(
    st.floats(-2.0, 4.0),
    st.sampled_from([0.0, 1e-7, -1e-7, 1.5e-7, 2.0, 2.0 + 1e-7, 2.0 - 1.5e-7, 1.0]),
)


@given(lam=yj_lambdas, xs=st.lists(st.floats(-10.0, 10.0), min_size=1, max_size=5))
def test_yeo_johnson_forward_then_inverse(lam, xs):
    obj = FAMILIES[0].cls(lam)
    back = obj.inv_transform_many(obj.transform_many(np.array(xs)))
    # The power forms lose accuracy to cancellation: relative to x + 1 about eps/|lambda|
    # just outside the 1e-7 switch (2e-9), and (x + 1)^|lambda|/|lambda| eps (60 eps) at
    # the ends of the range; a wrong branch or formula errs by order one.
    np.testing.assert_allclose(back, xs, rtol=1e-7, atol=1e-7)


@given(
    lam=st.floats(0.05, 5.0),
    eps=st.floats(-5.0, 5.0),
    # lambda x + epsilon, from near 0 to beyond the overflow switch at 709.78.
    us=st.lists(st.floats(1e-3, 2000.0), min_size=1, max_size=5),
)
def test_log_sinh_forward_then_inverse(lam, eps, us):
    obj = FAMILIES[1].cls(lam, eps)
    xs = np.array([(u - eps) / lam for u in us])
    back = obj.inv_transform_many(obj.transform_many(xs))
    # The inverse's slope tanh(lambda x + epsilon) is at most 1: errors stay a few eps of
    # (|u| + |epsilon|)/lambda.
    np.testing.assert_allclose(back, xs, rtol=1e-9, atol=1e-9)


@pytest.mark.parametrize("family", FAMILIES[2:], ids=lambda f: f.name)
@given(
    delta=st.floats(0.1, 10.0),
    eps=st.floats(-3.0, 3.0),
    xs=st.lists(st.floats(-1e3, 1e3), min_size=1, max_size=5),
    ys=st.lists(st.floats(-1e6, 1e6), min_size=1, max_size=5),
)
def test_sinh_arcsinh_round_trips_both_ways(family, delta, eps, xs, ys):
    obj = family.cls(delta, eps)
    # The range is the whole line, so both orders must come back. asinh keeps relative
    # errors of a few eps; dividing by delta >= 0.1 amplifies them at most tenfold.
    back = obj.inv_transform_many(obj.transform_many(np.array(xs)))
    np.testing.assert_allclose(back, xs, rtol=1e-9, atol=1e-12)
    again = obj.transform_many(obj.inv_transform_many(np.array(ys)))
    np.testing.assert_allclose(again, ys, rtol=1e-9, atol=1e-12)


# ---- log-density and log-Jacobian -----------------------------------------------------


@st.composite
def log_inputs(draw, family):
    """(params argument, search vector, value, left, right): any doubles, or in half the
    examples inputs that often give an uncensored value (a search vector near an interior
    point of the family's box, a positive value between a low and a high threshold)."""
    if draw(st.booleans()):
        arg, q = draw(search_vectors(family.nparms))
        return arg, q, draw(doubles), draw(thresholds), draw(thresholds)
    q = [draw(st.floats(v - 0.1, v + 0.1)) for v in family.search_vector]
    arg = draw(laid_out(np.array(q)))
    return (
        arg,
        q,
        draw(st.floats(0.1, 5.0)),
        draw(st.floats(0.0, 0.05)),
        draw(st.floats(5.0, 100.0)),
    )


@by_family
@pytest.mark.parametrize("method", LOG_METHODS)
@given(data=st.data())
def test_log_methods_on_any_doubles(family, method, data):
    obj = data.draw(instances(family, ("fresh", "decoded", "fitted")))
    arg, q, x, left, right = data.draw(log_inputs(family))
    do_rescale = data.draw(st.booleans())
    block = arg.base.copy()
    before = pc.state(obj)

    got = getattr(obj, method)(arg, x, left, right, do_rescale)

    assert type(got) is float
    pc.assert_same(arg.base, block, "the caller's params")
    # The object keeps the decoding of the leading entries; nothing else changes.
    after = pc.state(obj)
    natural = pc.decode(family.name, q)
    pc.assert_same(after["get_distribution_params"], natural, "decoded")
    pc.assert_same(after["get_transformation_params"], natural[: family.ntrans], "decoded")
    for name in ("get_optimised_params", "get_scale_shift"):
        pc.assert_same(after[name], before[name], name)

    # Rescaling inside is rescaling the value and both thresholds outside.
    rescale = obj.rescale_one if do_rescale else float
    x, left, right = rescale(x), rescale(left), rescale(right)
    if do_rescale:
        twin = rescaling_twin(family, obj)
        pc.assert_same(got, getattr(twin, method)(arg, x, left, right, False), "rescaled")
    # Censoring is judged on the transforms with the decoded parameters (a value beyond a
    # threshold where the map is undefined counts as at that threshold; a value strictly
    # between the thresholds with a defined transform never counts as censored): a censored
    # value has no Jacobian and contributes the normal mass beyond its threshold.
    y, t_left, t_right = (obj.transform_one(v) for v in (x, left, right))
    y = pc.censoring_value(y, x, left, right, t_left, t_right)
    uncensored = pc.is_uncensored(y, x, left, right, t_left, t_right)
    event("uncensored" if uncensored else "censored")
    if method == "log_jacobian":
        if not uncensored:
            pc.assert_same(got, 0.0, "censored Jacobian")
    else:
        expected = pc.censored_term(
            family.name, natural, y, t_left, t_right, uncensored, left, right
        )
        if expected is not None:
            pc.assert_same(got, expected, "censored term")
        elif family.name != "PyJPT":
            # Uncensored: the normal density of y plus the log-Jacobian at x. The two
            # evaluations may round 2 pi sigma^2 and the sum differently.
            jac = family.cls().log_jacobian(arg, x, left, right, False)
            normal = pc.normal_log_density(y, *natural[-2:])
            if math.isfinite(jac) and math.isfinite(normal):
                tolerance = 1e-12 * (abs(jac) + abs(normal))
                assert got == pytest.approx(jac + normal, rel=0, abs=tolerance)


# ---- fits -----------------------------------------------------------------------------


def assert_fitted(family, got, scale_shift):
    """After a fit: a full search vector, the object holding its decoding."""
    q = got["get_optimised_params"]
    assert len(q) == family.nparms
    natural = pc.decode(family.name, q)
    pc.assert_same(got["get_distribution_params"], natural, "decoded fit")
    pc.assert_same(got["get_transformation_params"], natural[: family.ntrans], "decoded fit")
    pc.assert_same(got["get_scale_shift"], scale_shift, "scale and shift")


@st.composite
def fit_inputs(draw, max_size=5):
    arg, values = draw(series(min_size=1, max_size=max_size, allow_none=False))
    return arg, values, draw(thresholds), draw(thresholds), draw(st.booleans()), draw(st.booleans())


@by_family
@settings(max_examples=examples(25))
@given(data=st.data())
def test_default_fit_of_any_short_series(family, data):
    _, _, used = data.draw(constructor_call(family.params))
    arg, values, left, right, do_rescale, is_map = data.draw(fit_inputs())
    block = arg.base.copy()
    fresh, used_before = family.cls(*used), family.cls(*used)
    q, _ = data.draw(search_vectors(family.nparms))
    used_before.log_density(q, 1.0, 0.0, 2.0, False)

    assert fresh.optim_params(arg, left, right, do_rescale, is_map) is None
    used_before.optim_params(np.array(values), left, right, do_rescale, is_map)

    pc.assert_same(arg.base, block, "the caller's data")
    got = pc.state(fresh)
    assert_fitted(family, got, family.cls(*used).get_scale_shift())
    # The simplex search is deterministic, and neither the array's layout nor the
    # parameters held before the fit enter it.
    pc.assert_same_state(pc.state(used_before), got)


@by_family
@settings(max_examples=examples(25))
@given(
    data=st.data(),
    max_converge=st.integers(-1, 2),
    max_eval=st.integers(0, 400),
)
def test_shuffled_complex_evolution_fit_of_any_short_series(family, data, max_converge, max_eval):
    obj = data.draw(instances(family, ("fresh", "decoded")))
    arg, _, left, right, do_rescale, is_map = data.draw(fit_inputs(4))
    block = arg.base.copy()
    scale_shift = obj.get_scale_shift()
    assert obj.optim_paramsSCE(arg, left, right, do_rescale, is_map, max_converge, max_eval) is None
    pc.assert_same(arg.base, block, "the caller's data")
    assert_fitted(family, pc.state(obj), scale_shift)


@by_family
@settings(max_examples=examples(3))
@given(data=st.data())
def test_differential_evolution_fit_of_any_short_series(family, data):
    obj = data.draw(instances(family, ("fresh", "decoded")))
    arg, _, left, right, do_rescale, is_map = data.draw(fit_inputs(3))
    block = arg.base.copy()
    scale_shift = obj.get_scale_shift()
    assert obj.optim_paramsDE(arg, left, right, do_rescale, is_map) is None
    pc.assert_same(arg.base, block, "the caller's data")
    assert_fitted(family, pc.state(obj), scale_shift)


# ---- refused calls --------------------------------------------------------------------


def read_only(a):
    a.flags.writeable = False
    return a


# Array arguments that are not one-dimensional writable float64 buffers, by length n.
BAD_ARRAYS = {
    "float32": (ValueError, lambda n: np.zeros(n, dtype=np.float32)),
    "int64": (ValueError, lambda n: np.arange(n)),
    "complex": (ValueError, lambda n: np.zeros(n, dtype=np.complex128)),
    "2-D": (ValueError, lambda n: np.zeros((n, 2))),
    "0-D": (ValueError, lambda n: np.array(1.5)),
    "read-only": (ValueError, lambda n: read_only(np.linspace(0.5, 4.0, n))),
    "big-endian": (ValueError, lambda n: np.linspace(0.5, 4.0, n).astype(">f8")),
    "bytes": (ValueError, lambda n: bytearray(8 * n)),
    "list": (TypeError, lambda n: [1.0] * n),
    "float": (TypeError, lambda n: 1.5),
}

# Where each method takes its array, with valid other arguments.
ARRAY_CALLS = {
    **{m: lambda a: (a,) for m in SERIES_METHODS},
    **{m: lambda a: (a, 1.0, 0.0, 2.0, False) for m in LOG_METHODS},
    "optim_params": lambda a: (a, 0.0, 10.0, False, False),
    "optim_paramsDE": lambda a: (a, 0.0, 10.0, False, False),
    "optim_paramsSCE": lambda a: (a, 0.0, 10.0, False, False, 1, 100),
}

refusal_settings = settings(
    max_examples=examples(6),
    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow],
)


def assert_refused_without_effect(obj, capfd, error, method, *args, **kwargs):
    capfd.readouterr()
    before = pc.state(obj)
    with pytest.raises(error):
        getattr(obj, method)(*args, **kwargs)
    pc.assert_same_state(pc.state(obj), before)
    assert capfd.readouterr().out == ""  # a refused fit does not even warn


@by_family
@pytest.mark.parametrize("method", list(ARRAY_CALLS))
@refusal_settings
@given(data=st.data(), n=st.integers(0, 5))
def test_refused_arrays_change_nothing(family, method, capfd, data, n):
    obj = data.draw(instances(family, ("fresh", "decoded", "fitted")))
    for error, make in BAD_ARRAYS.values():
        assert_refused_without_effect(obj, capfd, error, method, *ARRAY_CALLS[method](make(n)))


class Untruthful:
    """A flag whose truth value cannot be decided."""

    def __bool__(self):
        raise ArithmeticError("no truth value")


def short_params(method):
    """A search vector shorter than the family's, None and empty ones included."""

    def build(family, data):
        arg, _ = data.draw(series(max_size=family.nparms - 1))
        return ValueError, method, (arg, 1.0, 0.0, 2.0, False), {}

    return build


def refusal(error, method, *args, **kwargs):
    return lambda family, data: (error, method, args, kwargs)


# Other refused calls: (label, builder of (error, method, args, kwargs)).
REFUSALS = [
    *[(f"short params, {m}", short_params(m)) for m in LOG_METHODS],
    *[
        (
            f"empty series, {m}",
            lambda f, d, m=m: (
                ValueError,
                m,
                ARRAY_CALLS[m](d.draw(st.sampled_from([None, np.empty(0), np.empty(6)[::-3][:0]]))),
                {},
            ),
        )
        for m in FITS
    ],
    ("value not a float", refusal(TypeError, "transform_one", "1.5")),
    ("explicit parameter not a float", refusal(TypeError, "transform_one", 1.5, "0.5")),
    ("rescaled value None", refusal(TypeError, "rescale_one", None)),
    ("inverse rescaled value None", refusal(TypeError, "inv_rescale_one", None)),
    ("threshold None", refusal(TypeError, "log_density", np.full(4, 0.5), 1.0, None, 2.0, False)),
    ("fit threshold str", refusal(TypeError, "optim_params", np.ones(3), 0.0, "10", False, False)),
    (
        "undecidable flag",
        refusal(ArithmeticError, "log_jacobian", np.full(4, 0.5), 1.0, 0.0, 2.0, Untruthful()),
    ),
    (
        "undecidable fit flag",
        refusal(ArithmeticError, "optim_paramsDE", np.ones(3), 0.0, 10.0, False, Untruthful()),
    ),
    (
        "maxConverge str",
        refusal(TypeError, "optim_paramsSCE", np.ones(3), 0.0, 10.0, False, False, "5"),
    ),
    (
        "maxEval too large",
        refusal(OverflowError, "optim_paramsSCE", np.ones(3), 0.0, 10.0, False, False, 5, 2**31),
    ),
    ("too few arguments", refusal(TypeError, "log_density", np.full(4, 0.5), 1.0, 0.0, 2.0)),
    (
        "too many arguments",
        refusal(TypeError, "optim_paramsSCE", np.ones(3), 0.0, 10.0, False, False, 1, 100, 0),
    ),
    ("getter with an argument", refusal(TypeError, "get_distribution_params", 0)),
    (
        "unexpected keyword",
        refusal(TypeError, "optim_params", np.ones(3), 0.0, 10.0, False, False, mask=False),
    ),
    ("repeated argument", refusal(TypeError, "transform_many", np.ones(3), values=np.ones(3))),
]


@by_family
@pytest.mark.parametrize("label", [label for label, _ in REFUSALS])
@refusal_settings
@given(data=st.data())
def test_refused_calls_change_nothing(family, label, capfd, data):
    error, method, args, kwargs = dict(REFUSALS)[label](family, data)
    obj = data.draw(instances(family, ("fresh", "decoded", "fitted")))
    assert_refused_without_effect(obj, capfd, error, method, *args, **kwargs)


@pytest.mark.parametrize("family", [f for f in FAMILIES if f.ntrans == 2], ids=lambda f: f.name)
@refusal_settings
@given(data=st.data())
def test_first_explicit_parameter_alone_is_refused(family, capfd, data):
    obj = data.draw(instances(family, ("fresh", "decoded", "fitted")))
    first = {family.explicit[0]: data.draw(doubles)}
    assert_refused_without_effect(obj, capfd, TypeError, "transform_one", 1.0, **first)


@by_family
@pytest.mark.parametrize("method", list(ARRAY_CALLS))
def test_the_calls_refused_above_are_accepted_with_a_valid_array(family, method, capfd):
    # So that each refusal above is due to the array alone.
    got = getattr(family.cls(), method)(*ARRAY_CALLS[method](np.array([0.5, 1.0, 2.0, 4.0])))
    assert got is None if method in FITS else type(got) in (float, np.ndarray)
