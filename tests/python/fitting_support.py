"""Helpers for the fitting tests: child interpreters whose console output is read back,
samples drawn from known parameters, and the censored log-likelihood of a fit."""

import json
import math
import subprocess
import sys
from dataclasses import dataclass, field

import numpy as np
import reference as ref
from conftest import FAMILIES

FAMILY = {f.name: f for f in FAMILIES}
FIT_METHODS = ["optim_params", "optim_paramsDE", "optim_paramsSCE"]

# Fits write to the process's own stdout (C++ std::cout), not to Python's sys.stdout, so
# console lines are read from a child interpreter. The child brackets each case with a
# marker line and reports values as JSON lines; everything is flushed in write order.
PREAMBLE = """\
import json, math, sys
import numpy as np
import ferrule.kestrel as kestrel

def mark(label):
    print("@@", label, flush=True)

def report(**values):
    print("@=", json.dumps(values), flush=True)

def state(obj):
    return dict(
        optimised=obj.get_optimised_params(),
        distribution=obj.get_distribution_params(),
        transformation=obj.get_transformation_params(),
    )
"""


def lit(value):
    """Python source for a float or a sequence of floats: exact, and valid for inf and nan."""
    if isinstance(value, (list, tuple, np.ndarray)):
        return f"np.array(json.loads({json.dumps([float(v) for v in value])!r}))"
    return f"float({str(float(value))!r})"


def key(*parts):
    """Marker label of a case in a child's output."""
    return " | ".join(map(str, parts))


@dataclass
class Block:
    lines: list[str] = field(default_factory=list)  # console lines, in order
    values: dict = field(default_factory=dict)  # merged report(...) values


def run_child(code, timeout=300):
    """Runs PREAMBLE + code in a fresh interpreter; returns {marker label: Block}."""
    result = subprocess.run(
        [sys.executable, "-c", PREAMBLE + code],
        capture_output=True,
        text=True,
        timeout=timeout,
    )
    assert result.returncode == 0, result.stderr
    blocks = {}
    current = None  # anything before the first marker is not ours
    for line in result.stdout.splitlines():
        if line.startswith("@@ "):
            current = blocks.setdefault(line[3:], Block())
        elif current is None:
            continue
        elif line.startswith("@= "):
            current.values.update(json.loads(line[3:]))
        else:
            current.lines.append(line)
    return blocks


# ---- known parameters ---------------------------------------------------------------


def encode(name, natural):
    """Natural parameters -> search vector: the inverse of each family's decoding."""
    if name == "PyYJT":
        lam, mu, sigma = natural
        return [lam, mu, math.log(sigma)]
    if name == "PyLogSinh":
        lam, eps, mu, sigma = natural
        return [math.log(lam), math.log(eps), mu / sigma, math.log(sigma)]
    delta, eps, mu, sigma = natural
    return [
        delta / (1 + delta),
        eps / math.sqrt(1 + eps * eps),
        mu / math.sqrt(1 + mu * mu),
        sigma / (sigma + delta),
    ]


def draw_sample(name, natural, n, seed, left):
    """n values from the family's model with the given natural parameters, left-censored
    at `left` (values at or below it are recorded as `left`).

    The transformed value is normal: x = T^-1(mu + sigma z); for Jones-Pewsey the
    standardised raw value is the sinh-arcsinh variate: x = mu + sigma T^-1(z)."""
    family = FAMILY[name]
    *trans, mu, sigma = natural
    z = np.random.default_rng(seed).standard_normal(n)
    if name == "PyJPT":
        x = np.array([mu + sigma * family.inverse(v, *trans) for v in z])
    else:
        x = np.array([family.inverse(mu + sigma * v, *trans) for v in z])
    return np.where(x <= left, left, x)


def log_lik(name, q, data, left, right, do_rescale=False, obj=None):
    """Censored log-likelihood at search vector q: log_density summed in index order."""
    obj = FAMILY[name].cls() if obj is None else obj
    q = np.asarray(q, dtype=float)
    total = 0.0
    for x in data:
        total += obj.log_density(q, float(x), left, right, do_rescale)
    return total


def log_prior(name, natural):
    """Log prior density of the transformation parameters added when fitting with is_map."""
    if name == "PyYJT":
        # lambda ~ N(1, 0.4^2); constants 2 pi 0.4^2 and 2 0.4^2.
        return -0.5 * math.log(1.0053096491487339) - (natural[0] - 1) ** 2 / 0.32000000000000006
    if name == "PyLogSinh":
        # log lambda ~ N(0, 1).
        return -0.5 * math.log(ref.TWO_PI) - 0.5 * math.log(natural[0]) ** 2
    # delta/(1 + delta) ~ N(0.5, 0.05^2) and eps/sqrt(1 + eps^2) ~ N(0, 1).
    delta, eps = natural[:2]
    u = delta / (delta + 1) - 0.5
    w = eps / math.sqrt(eps * eps + 1)
    return (
        -0.5 * math.log(0.015707963267948967)
        - u * u / 0.005000000000000001
        + (-0.5 * math.log(ref.TWO_PI) - 0.5 * w * w)
    )


def standard_errors(name, q, data, left, right, step=1e-4):
    """Asymptotic standard errors of the natural parameters at search vector q.

    The covariance of the search vector is the inverse of the observed information
    (minus the Hessian of the log-likelihood, by central differences); the delta method
    with the Jacobian of the decoding carries it to the natural parameters."""
    q = np.asarray(q, dtype=float)
    n = len(q)
    obj = FAMILY[name].cls()

    def f(v):
        return log_lik(name, v, data, left, right, obj=obj)

    e = np.eye(n) * step
    f0 = f(q)
    hess = np.empty((n, n))
    for i in range(n):
        hess[i, i] = (f(q + e[i]) - 2 * f0 + f(q - e[i])) / step**2
        for j in range(i + 1, n):
            hess[i, j] = hess[j, i] = (
                f(q + e[i] + e[j]) - f(q + e[i] - e[j]) - f(q - e[i] + e[j]) + f(q - e[i] - e[j])
            ) / (4 * step**2)
    cov = np.linalg.inv(-hess)
    decode = FAMILY[name].decode
    h = 1e-7
    jac = np.column_stack(
        [
            (np.array(decode(list(q + d))) - np.array(decode(list(q - d)))) / (2 * h)
            for d in np.eye(n) * h
        ]
    )
    variances = np.diag(jac @ cov @ jac.T)
    assert np.all(variances > 0), "the information matrix at the truth is not positive definite"
    return np.sqrt(variances)


# ---- the process-wide engine of shuffled complex evolution ---------------------------


class MT19937:
    """The 32-bit Mersenne Twister as published (Matsumoto & Nishimura 1998)."""

    def __init__(self, seed=5489):
        self.state = [seed & 0xFFFFFFFF]
        for i in range(1, 624):
            prev = self.state[-1]
            self.state.append((1812433253 * (prev ^ (prev >> 30)) + i) & 0xFFFFFFFF)
        self.index = 624

    def _twist(self):
        mt = self.state
        for i in range(624):
            y = (mt[i] & 0x80000000) | (mt[(i + 1) % 624] & 0x7FFFFFFF)
            mt[i] = mt[(i + 397) % 624] ^ (y >> 1) ^ (0x9908B0DF if y & 1 else 0)
        self.index = 0

    def __call__(self):
        if self.index >= 624:
            self._twist()
        y = self.state[self.index]
        self.index += 1
        y ^= y >> 11
        y ^= (y << 7) & 0x9D2C5680
        y ^= (y << 15) & 0xEFC60000
        return y ^ (y >> 18)

    def canonical(self):
        """Double in [0, 1) from two outputs a, b: (b 2^21 + (a >> 11)) 2^-53."""
        a = self()
        b = self()
        return float(b * 2**21 + (a >> 11)) * 2.0**-53
