"""The censored likelihood of the public layer: each censored value counts the mass its
own model puts beyond the threshold, evaluated to full precision, so a fit's reported
log-likelihood is the sum of its distribution's log-probabilities; NaN parameters give NaN."""

import numpy as np
import pytest

import ferrule
from ferrule import _core, kestrel

FAMILIES = [info.key for info in _core.FAMILIES]


def rain(seed=4, n=800):
    rng = np.random.default_rng(seed)
    return np.round(np.maximum(rng.gamma(0.7, 6.0, n) - 1.5, 0.0), 1)


def test_jones_pewsey_censored_share_is_its_own_cdf_at_the_threshold():
    # Censored terms of Phi((T(L) - mu)/sigma) left P(dry) far from the data's share.
    x = rain(seed=11, n=1500)
    fit = ferrule.fit(x, "jones_pewsey", left=0.0, seed=5)
    dry = float(np.mean(x == 0.0))
    assert np.exp(fit.logpdf(0.0)) == pytest.approx(fit.cdf(0.0), rel=1e-12)
    assert fit.cdf(0.0) == pytest.approx(dry, abs=0.01)


@pytest.mark.parametrize("family", FAMILIES)
def test_a_nan_parameter_gives_nan_maps(family):
    info = next(i for i in _core.FAMILIES if i.key == family)
    x = np.array([0.0, 1.0, 3.5])
    good = [0.7, 0.3][: len(info.transformation_names)]
    for k in range(len(good)):
        t = list(good)
        t[k] = np.nan
        for kernel in (_core.forward, _core.inverse, _core.log_jacobian):
            assert np.isnan(kernel(family, t, x)).all(), (kernel.__name__, k)


def test_kestrel_yeo_johnson_of_nan_power_is_nan():
    assert np.isnan(kestrel.PyYJT(np.nan).transform_one(2.0))
    assert np.isnan(kestrel.PyYJT().transform_one(0.0, np.nan))
