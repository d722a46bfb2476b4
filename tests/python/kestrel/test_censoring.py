"""Which values count as censored: a value strictly between the thresholds never does.

Yeo-Johnson maps an infinite threshold to a finite value when the power is beyond the
identity's side (T(+inf) = -1/lambda for lambda < 0, T(-inf) = 1/(2 - lambda) for
lambda > 2), and the transforms of large finite values round onto it. Such values keep
their density term, so a fit cannot buy probability mass 1 by saturating the map.
"""

import math
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from conftest import FAMILIES

import ferrule.kestrel as kestrel

INF = float("inf")

# (lambda, value, left, right): the value's transform equals the transformed threshold.
ROUNDING_ONTO_A_THRESHOLD = [
    pytest.param(-50.0, 3.0, 0.0, INF, id="right"),
    pytest.param(52.0, -3.0, -INF, 0.0, id="left"),
]


@pytest.mark.parametrize(("lam", "x", "left", "right"), ROUNDING_ONTO_A_THRESHOLD)
def test_value_rounding_onto_a_transformed_threshold_keeps_its_density(lam, x, left, right):
    model = kestrel.PyYJT(lam)
    assert model.transform_one(x) in (model.transform_one(left), model.transform_one(right))
    q = np.array([lam, 0.01, -3.0])
    jacobian = model.log_jacobian(q, x, left, right, False)
    # log((x + 1)^(lambda - 1)) or log((1 - x)^(1 - lambda)) = log(4^-51), not the 0 of a
    # censored value.
    assert jacobian == math.log(4.0**-51.0)
    density = model.log_density(q, x, left, right, False)
    sigma = np.exp(-3.0)
    y = model.transform_one(x)
    normal = -0.5 * np.log(6.283185307179586 * (sigma * sigma)) - (y - 0.01) ** 2 / (2 * sigma**2)
    assert density == pytest.approx(normal + jacobian, rel=1e-15)


@pytest.mark.parametrize(
    ("lam", "x", "left", "right"),
    [
        pytest.param(-50.0, 0.0, 0.0, INF, id="at-left"),
        pytest.param(-50.0, -1.0, 0.0, INF, id="below-left"),
        pytest.param(52.0, 0.0, -INF, 0.0, id="at-right"),
        pytest.param(52.0, 3.0, -INF, 0.0, id="above-right"),
        pytest.param(-50.0, np.nan, 0.0, INF, id="nan"),
        pytest.param(-50.0, INF, 0.0, INF, id="at-infinite-right"),
    ],
)
def test_values_at_or_beyond_a_threshold_stay_censored(lam, x, left, right):
    q = np.array([lam, 0.01, -3.0])
    assert kestrel.PyYJT().log_jacobian(q, x, left, right, False) == 0.0


def readme_rain():
    rng = np.random.default_rng(42)
    return np.maximum(rng.gamma(0.8, 4.0, size=500) - 1.0, 0.0)


FIT_METHODS = ["optim_params", "optim_paramsDE", "optim_paramsSCE"]


@pytest.mark.parametrize("method", FIT_METHODS)
@pytest.mark.parametrize("family", FAMILIES, ids=lambda f: f.name)
def test_fits_of_the_readme_series_spread_the_wet_days(family, method):
    # The README's own example series, left-censored at 0: distinct wet days must keep
    # distinct transformed values (no saturation onto a transformed threshold).
    code = textwrap.dedent(
        f"""
        import numpy as np, os
        import ferrule.kestrel as k
        rng = np.random.default_rng(42)
        rain = np.maximum(rng.gamma(0.8, 4.0, size=500) - 1.0, 0.0)
        model = k.{family.name}()
        model.{method}(rain, 0.0, np.inf, False, False)
        print(repr(model.get_distribution_params()))
        """
    )
    result = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=600,
        env={**os.environ, "PYTHONHASHSEED": "0"},
    )
    assert result.returncode == 0, result.stderr
    natural = eval(result.stdout.strip().splitlines()[-1])  # a list of floats
    model = family.cls(*natural[: family.ntrans])
    wet = np.unique(readme_rain()[readme_rain() > 0])
    if family.name == "PyJPT":
        mu, sigma = natural[-2:]
        z = model.transform_many((wet - mu) / sigma)
    else:
        z = (model.transform_many(wet) - natural[-2]) / natural[-1]
    assert np.all(np.isfinite(z))
    assert len(np.unique(z)) == len(wet)
    assert np.std(z) > 0.1
