"""log_density and log_jacobian: argument order, values, and the parameters they leave behind."""

import math

import numpy as np
import pytest
import reference as ref
from conftest import CTOR_ARGS

import ferrule.kestrel as kestrel

METHODS = ["log_density", "log_jacobian"]
LEFT, RIGHT = 0.0, 50.0


def jones_pewsey_log_jacobian(x, delta, eps, mu, sigma):
    # Jacobian of x -> T((x - mu)/sigma): log cosh(a) + log delta - log(z^2 + 1)/2 - log sigma.
    z = (x - mu) / sigma
    a = delta * math.asinh(z) + eps
    return math.log(math.cosh(a)) + math.log(delta) - 0.5 * math.log(z * z + 1) - math.log(sigma)


def expected_uncensored(family, method, x, natural):
    """Uncensored terms evaluated with Python's math module from the family formulas."""
    trans, mu, sigma = natural[:-2], natural[-2], natural[-1]
    if family.name == "PyJPT":
        jac = jones_pewsey_log_jacobian(x, *natural)
        a = trans[0] * math.asinh((x - mu) / sigma) + trans[1]
        dens = jac + (-0.5 * math.log(ref.TWO_PI) - 0.5 * math.sinh(a) ** 2)
    else:
        jac = {
            "PyYJT": ref.yj_log_jacobian,
            "PyLogSinh": ref.ls_log_jacobian,
            "PySinhAsinh": ref.sa_log_jacobian,
        }[family.name](x, *trans)
        dens = jac + ref.normal_log_density(family.forward(x, *trans), mu, sigma)
    return dens if method == "log_density" else jac


@pytest.mark.parametrize("method", METHODS)
def test_decodes_params_into_the_object(family, method):
    obj = family.cls(*CTOR_ARGS[family.name])
    q = np.array(family.search_vector)
    getattr(obj, method)(q, 2.0, LEFT, RIGHT, False)
    natural = family.decode(list(family.search_vector))
    np.testing.assert_allclose(obj.get_distribution_params(), natural, rtol=1e-15)
    assert obj.get_transformation_params() == obj.get_distribution_params()[: family.ntrans]
    # The stored transformation now uses the decoded parameters ...
    trans = obj.get_transformation_params()
    assert obj.transform_one(1.5) == family.forward(1.5, *trans)
    # ... while the fit record, the rescaling and the caller's array stay as they were.
    assert obj.get_optimised_params() == []
    assert obj.get_scale_shift() == list(family.split(CTOR_ARGS[family.name])[1:])
    assert q.tolist() == list(family.search_vector)


@pytest.mark.parametrize("method", METHODS)
def test_uncensored_values(family, method):
    obj = family.cls()
    natural = family.decode(list(family.search_vector))
    for x in (0.5, 2.0, 7.0):
        got = getattr(obj, method)(np.array(family.search_vector), x, LEFT, RIGHT, False)
        assert got == pytest.approx(expected_uncensored(family, method, x, natural), rel=1e-12)


def test_censored_values(family):
    obj = family.cls()
    q = np.array(family.search_vector)
    trans_mu_sigma = family.decode(list(family.search_vector))
    trans, mu, sigma = trans_mu_sigma[:-2], trans_mu_sigma[-2], trans_mu_sigma[-1]
    left, right = 0.5, 1.2
    # Mass below and above the thresholds in the model: Phi((T(L) - mu)/sigma) when T(x) is
    # normal, Phi(T((L - mu)/sigma)) for Jones-Pewsey, which models the value itself.
    if family.name == "PyJPT":
        z_left, z_right = (family.forward((v - mu) / sigma, *trans) for v in (left, right))
    else:
        z_left, z_right = ((family.forward(v, *trans) - mu) / sigma for v in (left, right))
    below = math.log(ref.normal_cdf(z_left))
    above = math.log(1 - ref.normal_cdf(z_right))
    assert obj.log_density(q, 0.3, left, right, False) == pytest.approx(below, rel=1e-12)
    assert obj.log_density(q, left, left, right, False) == pytest.approx(below, rel=1e-12)
    assert obj.log_density(q, 9.0, left, right, False) == pytest.approx(above, rel=1e-12)


def test_log_jacobian_is_zero_for_censored_values(family):
    obj = family.cls()
    q = np.array(family.search_vector)
    assert obj.log_jacobian(q, 2.0, LEFT, RIGHT, False) != 0.0
    # At or below the left threshold, at or above the right one, and with the two
    # thresholds exchanged (nothing lies strictly between them then).
    assert obj.log_jacobian(q, 0.2, 0.5, RIGHT, False) == 0.0
    assert obj.log_jacobian(q, 0.5, 0.5, RIGHT, False) == 0.0
    assert obj.log_jacobian(q, 60.0, LEFT, RIGHT, False) == 0.0
    assert obj.log_jacobian(q, 2.0, RIGHT, LEFT, False) == 0.0


@pytest.mark.parametrize("method", METHODS)
def test_do_rescale_rescales_value_and_both_thresholds(family, method):
    obj = family.cls(*CTOR_ARGS[family.name])
    q = np.array(family.search_vector)
    call = getattr(obj, method)
    x, left, right = 3.0, 1.0, 20.0
    r = obj.rescale_one
    assert call(q, x, left, right, True) == call(q, r(x), r(left), r(right), False)


@pytest.mark.parametrize("method", METHODS)
def test_short_params_are_refused_before_anything_changes(family, method):
    obj = family.cls(*CTOR_ARGS[family.name])
    call = getattr(obj, method)
    call(np.array(family.search_vector), 2.0, LEFT, RIGHT, False)
    state = obj.get_distribution_params()
    n = family.nparms
    for params in [None, np.empty(0)] + [np.full(k, 0.3) for k in range(1, n)]:
        length = 0 if params is None else len(params)
        with pytest.raises(ValueError) as e:
            call(params, 2.0, LEFT, RIGHT, False)
        assert str(e.value) == f"Expected at least {n} params, got {length}"
        assert obj.get_distribution_params() == state


@pytest.mark.parametrize("method", METHODS)
def test_longer_params_use_the_leading_search_vector(family, method):
    exact = family.cls()
    longer = family.cls()
    q = list(family.search_vector)
    a = getattr(exact, method)(np.array(q), 2.0, LEFT, RIGHT, False)
    b = getattr(longer, method)(np.array(q + [0.9, -0.9]), 2.0, LEFT, RIGHT, False)
    assert a == b
    assert exact.get_distribution_params() == longer.get_distribution_params()


def test_params_may_be_strided(family):
    q = np.array(family.search_vector)
    spaced = np.zeros(2 * len(q))
    spaced[::2] = q
    a, b = family.cls(), family.cls()
    assert a.log_density(q, 2.0, LEFT, RIGHT, False) == b.log_density(
        spaced[::2], 2.0, LEFT, RIGHT, False
    )


def test_published_decodings():
    # setParams examples: Yeo-Johnson sigma = exp(q2); log-sinh {0,0,0,0} -> {1,1,0,1};
    # sinh-arcsinh {0.5,0.5,0.5,0.5} -> {1, 1/sqrt 3, 1/sqrt 3, 1}, {0.75,0,0,0.75} -> sigma 9.
    cases = [
        (kestrel.PyYJT, [1.0, 0.01, 0.01], [1.0, 0.01, 1.010050167084168]),
        (kestrel.PyLogSinh, [0.0, 0.0, 0.0, 0.0], [1.0, 1.0, 0.0, 1.0]),
        (kestrel.PySinhAsinh, [0.5] * 4, [1.0, 0.5773502691896258, 0.5773502691896258, 1.0]),
        (kestrel.PyJPT, [0.75, 0.0, 0.0, 0.75], [3.0, 0.0, 0.0, 9.0]),
    ]
    for cls, q, natural in cases:
        obj = cls()
        obj.log_jacobian(np.array(q), 0.5, -10.0, 10.0, False)
        np.testing.assert_allclose(obj.get_distribution_params(), natural, rtol=1e-15)
