"""Comparisons and IEEE-faithful formulas for the property tests.

Results are compared exactly: NaN equals NaN (whatever its payload), every other value must
match bit for bit, so +0.0 and -0.0 differ. The formulas below evaluate the decoding of a
search vector and the censored likelihood terms for any doubles, with the same operations
in the same order as the library and IEEE results where Python would raise instead
(division by zero, overflow of exp, logarithm of zero or of a negative number).
"""

import math

import numpy as np
import reference as ref


def _bits_equal(actual, expected):
    a = np.asarray(actual, dtype=np.float64)
    e = np.asarray(expected, dtype=np.float64)
    if a.shape != e.shape:
        return False
    nan = np.isnan(a)
    if not np.array_equal(nan, np.isnan(e)):
        return False
    return bool(
        np.array_equal(a[~nan], e[~nan])
        and np.array_equal(np.signbit(a[~nan]), np.signbit(e[~nan]))
    )


def assert_same(actual, expected, what=""):
    """Equal shapes and equal values, NaN equal to NaN and the sign of zero significant."""
    assert _bits_equal(actual, expected), f"{what}: got {actual!r}, expected {expected!r}"


def assert_same_state(after, before):
    for name in before:
        assert_same(after[name], before[name], name)


GETTERS = (
    "get_optimised_params",
    "get_distribution_params",
    "get_transformation_params",
    "get_scale_shift",
)


def state(obj):
    """Everything an instance shows of itself, for before/after comparisons."""
    return {name: getattr(obj, name)() for name in GETTERS}


# ---- IEEE arithmetic where Python raises ---------------------------------------------


def div(a, b):
    with np.errstate(all="ignore"):
        return float(np.float64(a) / np.float64(b))


def exp(x):
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


def sqrt(x):
    return math.nan if x < 0 else math.sqrt(x)


def log(x):
    if x == 0:
        return -math.inf
    return math.nan if x < 0 else math.log(x)


# ---- the library's formulas for any doubles --------------------------------------------


def decode(name, q):
    """Natural parameters decoded from search vector q by the family of class `name`."""
    if name.startswith("PyYJT"):
        return [q[0], q[1], exp(q[2])]
    if name.startswith("PyLogSinh"):
        return [exp(q[0]), exp(q[1]), q[2] * exp(q[3]), exp(q[3])]
    delta = div(q[0], 1.0 - q[0])
    return [
        delta,
        div(q[1], sqrt(1.0 - q[1] * q[1])),
        div(q[2], sqrt(1.0 - q[2] * q[2])),
        div(q[3] * delta, 1.0 - q[3]),
    ]


def normal_log_density(y, mu, sigma):
    """-log(2 pi sigma^2)/2 - (y - mu)^2/(2 sigma^2)."""
    variance = sigma * sigma
    return -0.5 * log(ref.TWO_PI * variance) - div((y - mu) * (y - mu), 2.0 * variance)


def censoring_value(y, x, left, right, t_left, t_right):
    """The transform that the censoring test judges: y itself, except that a value whose
    transform is undefined (NaN) beyond a threshold is censored at that threshold."""
    if math.isnan(y):
        if x < left:
            return t_left
        if x > right:
            return t_right
    return y


# Log-sinh likelihood terms refuse offsets outside [exp(-20), exp(0)].
LOG_SINH_PENALTY = -1e20


def is_uncensored(y, x, left, right, t_left, t_right):
    """A value is uncensored when its transform lies strictly between the transformed
    thresholds, or when the value itself lies strictly between the thresholds and its
    transform is finite (it may round onto a transformed threshold)."""
    return t_left < y < t_right or (left < x < right and math.isfinite(y))


def censored_term(name, natural, y, t_left, t_right, uncensored, left, right):
    """The censored log-likelihood term of a censored value: log Phi(zL) when y is at or
    below the left transformed threshold, otherwise log(1 - Phi(zR)). The scores are
    (tL - mu)/sigma and (tR - mu)/sigma, except for Jones-Pewsey, whose own model puts
    Phi(T((L - mu)/sigma)) below L. None for an uncensored value."""
    mu, sigma = natural[-2], natural[-1]
    if name.startswith("PyLogSinh"):
        eps = natural[1]
        if math.exp(-20.0) > eps or eps > math.exp(0.0):
            return LOG_SINH_PENALTY
    if uncensored:
        return None
    if name == "PyJPT":
        delta, eps = natural[0], natural[1]
        with np.errstate(all="ignore"):  # sinh overflows to inf as the C library's does
            z_left, z_right = (
                float(np.sinh(np.float64(delta) * np.arcsinh(div(t - mu, sigma)) + eps))
                for t in (left, right)
            )
    else:
        z_left, z_right = div(t_left - mu, sigma), div(t_right - mu, sigma)
    if y <= t_left:
        return log(ref.normal_cdf(z_left))
    return log(1 - ref.normal_cdf(z_right))
