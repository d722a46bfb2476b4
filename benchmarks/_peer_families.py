"""Each family's negative log-likelihood of a series as a NumPy user writes it, for values
that no threshold censors (continuous series): the same search vectors as the library.

Yeo-Johnson is _peer_likelihood's (its censored form). The others, with the decoding of the
library's search vectors:

* log-sinh: q = (log lambda, log epsilon, mu/sigma, log sigma),
  y = log(sinh(lambda x + eps))/lambda, log T'(x) = -log(tanh(lambda x + eps));
* sinh-arcsinh: q = (d/(1+d), e/sqrt(1+e^2), m/sqrt(1+m^2), s/(s+d)),
  y = sinh(d asinh(x) + e), log T'(x) = log(d cosh(d asinh(x) + e) / sqrt(x^2 + 1));
* Jones-Pewsey: the same decoding, z = (x - mu)/sigma, the density of T(z) standard normal.
"""

import numpy as np
from _peer_likelihood import negative_log_likelihood as yeo_johnson_nll

HALF_LOG_TWO_PI = 0.5 * np.log(2.0 * np.pi)


def _normal_nll(y, log_jacobian, mu, sigma):
    z = (y - mu) / sigma
    return -np.sum(-HALF_LOG_TWO_PI - np.log(sigma) - 0.5 * z * z + log_jacobian)


def _sinh_asinh_params(q):
    delta = q[0] / (1.0 - q[0])
    return (
        delta,
        q[1] / np.sqrt(1.0 - q[1] ** 2),
        q[2] / np.sqrt(1.0 - q[2] ** 2),
        q[3] * delta / (1.0 - q[3]),
    )


def log_sinh_nll(q, x):
    lam, eps = np.exp(q[0]), np.exp(q[1])
    sigma = np.exp(q[3])
    with np.errstate(all="ignore"):
        u = lam * x + eps
        return _normal_nll(np.log(np.sinh(u)) / lam, -np.log(np.tanh(u)), q[2] * sigma, sigma)


def sinh_asinh_nll(q, x):
    delta, eps, mu, sigma = _sinh_asinh_params(q)
    with np.errstate(all="ignore"):
        a = delta * np.arcsinh(x) + eps
        log_jacobian = np.log(delta * np.cosh(a) / np.sqrt(x * x + 1.0))
        return _normal_nll(np.sinh(a), log_jacobian, mu, sigma)


def jones_pewsey_nll(q, x):
    delta, eps, mu, sigma = _sinh_asinh_params(q)
    with np.errstate(all="ignore"):
        z = (x - mu) / sigma
        a = delta * np.arcsinh(z) + eps
        s = np.sinh(a)
        log_density = (
            np.log(np.cosh(a))
            + np.log(delta)
            - 0.5 * np.log(z * z + 1.0)
            - np.log(sigma)
            - HALF_LOG_TWO_PI
            - 0.5 * s * s
        )
        return -np.sum(log_density)


PEER_LIKELIHOODS = {
    "yeo_johnson": lambda q, x: yeo_johnson_nll(q, x, 0.0, np.inf),
    "log_sinh": log_sinh_nll,
    "sinh_asinh": sinh_asinh_nll,
    "jones_pewsey": jones_pewsey_nll,
}
