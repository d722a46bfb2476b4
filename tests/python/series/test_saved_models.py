"""Saved models are checked before use: the same refusals, naming the field, for a fit read
from a dictionary, a grid read from a file and the parameter Dataset a transform reads."""

import re

import numpy as np
import pytest

import ferrule

RAIN = np.random.default_rng(11).gamma(2.0, size=120)
FIT = ferrule.fit(RAIN, family="sinh_asinh", seed=1)

# A change to a saved model, and the words of its refusal.
BROKEN = [
    ({"sigma": -1.0}, "sigma is -1.0; it must be a finite number above 0"),
    ({"sigma": float("nan")}, "sigma is nan; it must be a finite number above 0"),
    ({"scale": 0.0}, "scale is 0.0; it must be a finite number above 0"),
    ({"mu": float("inf")}, "mu is inf; it must be a finite number"),
    ({"delta": -1.0}, "delta is -1.0; it must be a finite number above 0"),
    ({"left": 5.0, "right": 1.0}, "left is 5.0; it must be below right (1.0)"),
    ({"family": "yeo_johnson"}, "a Yeo-Johnson model has the parameter(s) lambda, not delta"),
    ({"family": "gamma"}, "unknown family 'gamma'"),
]
IDS = ["sigma", "sigma-nan", "scale", "mu", "delta", "thresholds", "family-fields", "family"]


def _changed_fit(change):
    data = FIT.to_dict()
    for name, value in change.items():
        if name in data["params"]:
            data["params"] = {**data["params"], name: value}
        else:
            data[name] = value
    return data


@pytest.mark.parametrize("change, words", BROKEN, ids=IDS)
def test_from_dict_refuses_a_model_outside_its_domain(change, words):
    with pytest.raises(ValueError, match="^saved fit: " + re.escape(words)):
        ferrule.Fit.from_dict(_changed_fit(change))


def test_a_fit_that_is_not_valid_keeps_its_numbers():
    data = _changed_fit({"sigma": float("nan"), "valid": False})
    assert ferrule.Fit.from_dict(data).valid is False
