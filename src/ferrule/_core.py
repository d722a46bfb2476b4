"""Pure-Python stand-in for the compiled kernel module, built on the ``ferrule.kestrel`` classes.

It implements the contract of ``_core.pyi`` as far as the kestrel classes allow: kernels
and fits give the kestrel classes' numbers, but the stochastic fits cannot take a seed
(differential evolution draws fresh entropy, shuffled complex evolution uses the
process-wide engine), and Nelder-Mead does not report its evaluations (-1). The compiled
module replaces this file; nothing may rely on it beyond the contract.
"""

import math
import os
import re
import statistics
import sys
import tempfile
from typing import NamedTuple

import numpy as np

STAND_IN = True


class FamilyInfo(NamedTuple):
    key: str
    title: str
    aliases: tuple[str, ...]
    kestrel_class: str
    grid_class: str | None
    transformation_names: tuple[str, ...]
    natural_names: tuple[str, ...]
    search_start: tuple[float, ...]
    search_lower: tuple[float, ...]
    search_upper: tuple[float, ...]
    models_raw_value: bool
    has_shift: bool
    default_method: str


_SINH_BOX = ((0.5, 0.5, 0.5, 0.5), (0.001, -0.999, -0.999, 0.001), (0.999, 0.999, 0.999, 0.999))
FAMILIES = (
    FamilyInfo(
        "yeo_johnson", "Yeo-Johnson", ("yjt",), "PyYJT", "PyYJTvectorized", ("lambda",),
        ("lambda", "mu", "sigma"), (1.0, 0.01, 0.01), (-100.0,) * 3, (100.0,) * 3,
        False, True, "nelder_mead",
    ),
    FamilyInfo(
        "log_sinh", "log-sinh", ("logsinh",), "PyLogSinh", "PyLogSinhvectorized",
        ("lambda", "epsilon"), ("lambda", "epsilon", "mu", "sigma"),
        (-0.01, -1.01, -1.01, 1.01), (-10.0,) * 4, (10.0,) * 4,
        False, False, "shuffled_complex_evolution",
    ),
    FamilyInfo(
        "sinh_asinh", "sinh-arcsinh", ("sinhasinh",), "PySinhAsinh", "PySinhAsinhvectorized",
        ("delta", "epsilon"), ("delta", "epsilon", "mu", "sigma"), *_SINH_BOX,
        False, True, "shuffled_complex_evolution",
    ),
    FamilyInfo(
        "jones_pewsey", "Jones-Pewsey", ("jpt",), "PyJPT", None,
        ("delta", "epsilon"), ("delta", "epsilon", "mu", "sigma"), *_SINH_BOX,
        True, True, "shuffled_complex_evolution",
    ),
)  # fmt: skip
METHODS = ("nelder_mead", "differential_evolution", "shuffled_complex_evolution")
_BY_KEY = {info.key: info for info in FAMILIES}
_FIT_METHOD = dict(zip(METHODS, ("optim_params", "optim_paramsDE", "optim_paramsSCE"), strict=True))


def _model(family, transformation=None, scale=1.0, shift=0.0):
    from ferrule import kestrel  # imported when first needed, as the compiled module is not

    info = _BY_KEY[family]
    cls = getattr(kestrel, info.kestrel_class)
    args = [float(t) for t in (transformation if transformation is not None else ())]
    if info.has_shift:
        return cls(*args, scale=scale, shift=shift) if args else cls(scale=scale, shift=shift)
    return cls(*args, scale=scale) if args else cls(scale=scale)


def _search(family, search):
    vector = np.array(search, dtype=np.float64).ravel()
    needed = len(_BY_KEY[family].search_start)
    if vector.size < needed:
        raise ValueError(f"Expected at least {needed} params, got {vector.size}")
    return vector


def decode(family, search):
    model = _model(family)
    model.log_density(_search(family, search), 0.0, -math.inf, math.inf, False)
    return np.array(model.get_distribution_params(), dtype=np.float64)


def _map(method, family, transformation, x):
    x = np.asarray(x, dtype=np.float64)
    flat = np.array(x, dtype=np.float64, order="C").ravel()
    return getattr(_model(family, transformation), method)(flat).reshape(x.shape)


def forward(family, transformation, x, n_threads=1):
    return _map("transform_many", family, transformation, x)


def inverse(family, transformation, y, n_threads=1):
    return _map("inv_transform_many", family, transformation, y)


def log_jacobian(family, transformation, x):
    t = [float(v) for v in transformation]
    x = np.asarray(x, dtype=np.float64)
    with np.errstate(all="ignore"):
        if family == "yeo_johnson":
            lam = t[0]
            return np.where(
                x >= 0, np.log(np.power(x + 1.0, lam - 1.0)), np.log(np.power(1.0 - x, 1.0 - lam))
            )
        if family == "log_sinh":
            return np.log(1.0 / np.tanh(t[0] * x + t[1]))
        delta, eps = t
        return np.log(delta * np.cosh(delta * np.arcsinh(x) + eps) / np.sqrt(x * x + 1.0))


def log_likelihood(family, search, data, left, right, prior=False):
    model = _model(family)
    vector = _search(family, search)
    total = 0.0
    for x in np.asarray(data, dtype=np.float64).ravel():
        total = model.log_density(vector, float(x), left, right, False) + total
    if prior:
        total = _log_prior(family, decode(family, vector)) + total
    return total


def _log_prior(family, natural):
    if family == "yeo_johnson":
        lam = natural[0]
        return -0.5 * math.log(1.0053096491487339) - (lam - 1.0) * (lam - 1.0) / 0.32000000000000006
    if family == "log_sinh":
        log_lambda = math.log(natural[0])
        return -0.5 * math.log(6.283185307179586) - 0.5 * ((log_lambda - 0.0) * (log_lambda - 0.0))
    delta, eps = natural[0], natural[1]
    u = delta / (delta + 1.0) - 0.5
    w = eps / math.sqrt(eps * eps + 1.0) - 0.0
    return (
        -0.5 * math.log(0.015707963267948967)
        - u * u / 0.005000000000000001
        + (-0.5 * math.log(6.283185307179586) - 0.5 * (w * w))
    )


def censoring(family, search, data, left, right):
    natural = decode(family, search)
    transformation = natural[: len(_BY_KEY[family].transformation_names)]
    data = np.asarray(data, dtype=np.float64)
    t_left, t_right = forward(family, transformation, np.array([left, right]))
    with np.errstate(invalid="ignore"):
        y = forward(family, transformation, data)
        undefined = np.isnan(y)
        y = np.where(undefined & (data < left), t_left, y)
        y = np.where(undefined & (data > right), t_right, y)
        inside = (t_left < y) & (y < t_right)
        between = (left < data) & (data < right) & ~np.isnan(y)
        codes = np.where(y <= t_left, -1, 1)
    return np.where(inside | between, 0, codes).astype(np.int8)


def _normal_cdf(z):
    return 0.5 * math.erfc(-z / math.sqrt(2.0)) if not math.isnan(z) else math.nan


def _log_normal_cdf(z):
    if math.isnan(z):
        return math.nan
    if z > 5.0:
        return math.log1p(-_normal_cdf(-z))
    if z > -30.0:
        return math.log(_normal_cdf(z))
    # Asymptotic series of the Mills ratio, accurate far in the left tail.
    r = 1.0 / (z * z)
    series = 1.0 - r * (1.0 - 3.0 * r * (1.0 - 5.0 * r))
    return -0.5 * z * z - math.log(-z) - 0.5 * math.log(2.0 * math.pi) + math.log(series)


def _normal_quantile(p):
    if not 0.0 <= p <= 1.0:
        return math.nan
    if p == 0.0:
        return -math.inf
    if p == 1.0:
        return math.inf
    return statistics.NormalDist().inv_cdf(p)


def _elementwise(function, z):
    z = np.asarray(z, dtype=np.float64)
    with np.errstate(invalid="ignore"):
        return np.asarray(np.frompyfunc(function, 1, 1)(z), dtype=np.float64).reshape(z.shape)


def ndtr(z):
    return _elementwise(_normal_cdf, z)


def log_ndtr(z):
    return _elementwise(_log_normal_cdf, z)


def ndtri(p):
    return _elementwise(_normal_quantile, p)


_COUNT = re.compile(r"^iterations: (-?\d+)$")
_MAX_GENERATIONS = 1000  # differential evolution's generation limit
_POPULATION = 25


def _native_stdout_lines(call):
    """Runs `call` with file descriptor 1 pointed at a temporary file; returns its lines."""
    sys.stdout.flush()
    saved = os.dup(1)
    try:
        with tempfile.TemporaryFile(mode="w+b") as sink:
            os.dup2(sink.fileno(), 1)
            try:
                call()
            finally:
                os.dup2(saved, 1)
            sink.seek(0)
            return sink.read().decode("utf-8", errors="replace").splitlines()
    finally:
        os.close(saved)


def fit(
    family,
    data,
    left,
    right,
    *,
    method,
    rescale=False,
    scale=1.0,
    shift=0.0,
    prior=False,
    seed=None,
    max_converge=5,
    max_eval=100000,
):
    info = _BY_KEY[family]
    if method not in METHODS:
        raise ValueError(f"unknown method {method!r}")
    if method != "nelder_mead" and seed is None:
        raise ValueError(f"{method} needs a seed")
    data = np.array(data, dtype=np.float64).ravel()
    if data.size == 0:
        raise ValueError("cannot fit an empty data series: it must hold at least one value")
    if rescale and not info.has_shift and shift != 0.0:
        # (x + shift) * scale is ((x + shift) + 0) * scale: the same number.
        data, left, right, shift = data + shift, left + shift, right + shift, 0.0
    model = _model(family, scale=scale, shift=shift)
    args = [data, left, right, rescale, prior]
    if method == "shuffled_complex_evolution":
        args += [max_converge, max_eval]
    messages = _native_stdout_lines(lambda: getattr(model, _FIT_METHOD[method])(*args))

    counts = [int(m.group(1)) for m in map(_COUNT.match, messages) if m]
    count = counts[-1] if counts else -1
    if method == "nelder_mead":
        limit, evaluations = any("Reached maximum number" in m for m in messages), -1
    elif method == "differential_evolution":
        limit = count >= _MAX_GENERATIONS
        generations = count if limit else count + 1
        evaluations = 3 * _POPULATION * generations + _POPULATION
    else:
        limit, evaluations = count > max_eval, count
    search = np.array(model.get_optimised_params(), dtype=np.float64)
    return {
        "search": search,
        "natural": decode(family, search),
        "count": count,
        "evaluations": evaluations,
        "limit_reached": bool(limit),
        "low_values": any("values below the specified" in m for m in messages),
        "high_values": any("values above the specified" in m for m in messages),
        "no_finite_value": any("no finite objective value" in m for m in messages),
        "messages": messages,
    }


def fit_cells(
    family,
    values,
    left,
    right,
    skip,
    *,
    method,
    rescale=False,
    scale=None,
    shift=None,
    prior=False,
    seeds=None,
    max_converge=5,
    max_eval=100000,
    n_threads=1,
    on_progress=None,
):
    ncells = values.shape[0]
    width = len(_BY_KEY[family].search_start)
    out = {
        "search": np.full((ncells, width), np.nan),
        "count": np.full(ncells, -1, dtype=np.int64),
        "evaluations": np.full(ncells, -1, dtype=np.int64),
        "limit_reached": np.zeros(ncells, dtype=bool),
        "low_values": np.zeros(ncells, dtype=bool),
        "high_values": np.zeros(ncells, dtype=bool),
        "no_finite_value": np.zeros(ncells, dtype=bool),
        "messages": [[] for _ in range(ncells)],
        "completed": 0,
        "interrupted": False,
    }
    try:
        for cell in range(ncells):
            if not skip[cell]:
                one = fit(
                    family, values[cell], float(left[cell]), float(right[cell]), method=method,
                    rescale=rescale, prior=prior, max_converge=max_converge, max_eval=max_eval,
                    scale=1.0 if scale is None else float(scale[cell]),
                    shift=0.0 if shift is None else float(shift[cell]),
                    seed=None if seeds is None else int(seeds[cell]),
                )  # fmt: skip
                for key in ("search", "count", "evaluations", "limit_reached", "low_values",
                            "high_values", "no_finite_value", "messages"):  # fmt: skip
                    out[key][cell] = one[key]
            out["completed"] = cell + 1
            if on_progress is not None:
                on_progress(cell + 1)
    except KeyboardInterrupt:
        out["interrupted"] = True
    return out
