"""Independent evaluations of the family formulas with Python's math module.

Each function follows the published formula of its family term by term, in the same
order of operations, so that results computed with the same C library agree exactly.
"""

import math

LOG_MAX = math.log(1.7976931348623157e308)  # 709.782712893384
TWO_PI = 6.283185307179586


# Yeo-Johnson: ((x+1)^l - 1)/l for x >= 0, -((1-x)^(2-l) - 1)/(2-l) for x < 0, with
# logarithms within 1e-7 of the singular powers.
def yj_forward(x, lam):
    if x >= 0:
        if abs(lam) > 1e-7:
            return ((x + 1) ** lam - 1) / lam
        return math.log(x + 1)
    if abs(lam - 2) > 1e-7:
        return -((1 - x) ** (2 - lam) - 1) / (2 - lam)
    return -math.log(1 - x)


def yj_inverse(y, lam):
    if y >= 0:
        if abs(lam) > 1e-7:
            return (lam * y + 1) ** (1 / lam) - 1
        return math.exp(y) - 1
    if abs(lam - 2) > 1e-7:
        return 1 - (1 - (2 - lam) * y) ** (1 / (2 - lam))
    return 1 - math.exp(-y)


def yj_log_jacobian(x, lam):
    if x >= 0:
        return math.log((x + 1) ** (lam - 1))
    return math.log((1 - x) ** (1 - lam))


# Log-sinh: (1/l) log(sinh(l x + e)), with log(sinh(u)) ~ u - log 2 where sinh overflows.
def ls_forward(x, lam, eps):
    u = lam * x + eps
    k = 1 / lam
    if u >= LOG_MAX:
        return k * (u - math.log(2))
    return k * math.log(math.sinh(u))


def ls_inverse(y, lam, eps):
    v = lam * y
    k = 1 / lam
    if v >= LOG_MAX:
        return k * (math.log(2) + (v - eps))
    return k * (math.asinh(math.exp(v)) - eps)


def ls_log_jacobian(x, lam, eps):
    return math.log(1 / math.tanh(lam * x + eps))


# Sinh-arcsinh: sinh(d asinh(x) + e).
def sa_forward(x, delta, eps):
    return math.sinh(math.asinh(x) * delta + eps)


def sa_inverse(y, delta, eps):
    return math.sinh((math.asinh(y) - eps) / delta)


def sa_log_jacobian(x, delta, eps):
    return math.log(delta * math.cosh(delta * math.asinh(x) + eps) / math.sqrt(x * x + 1))


# Search vector -> natural parameters.
def yj_decode(q):
    return [q[0], q[1], math.exp(q[2])]


def ls_decode(q):
    return [math.exp(q[0]), math.exp(q[1]), q[2] * math.exp(q[3]), math.exp(q[3])]


def sa_decode(q):
    delta = q[0] / (1 - q[0])
    return [
        delta,
        q[1] / math.sqrt(1 - q[1] ** 2),
        q[2] / math.sqrt(1 - q[2] ** 2),
        q[3] * delta / (1 - q[3]),
    ]


def normal_log_density(y, mu, sigma):
    return -0.5 * math.log(TWO_PI * sigma**2) - (y - mu) ** 2 / (2 * sigma**2)


# Normal distribution function through Abramowitz & Stegun 7.1.26 for erf.
def normal_cdf(z):
    s = -1.0 if z < 0 else 1.0
    a = abs(z) / math.sqrt(2.0)
    t = 1 / (1 + 0.3275911 * a)
    e = math.exp(-a * a)
    p = t * (
        0.254829592 + t * (-0.284496736 + t * (1.421413741 + t * (-1.453152027 + t * 1.061405429)))
    )
    return ((1 - p * e) * s + 1) * 0.5
