"""Refusals name the argument they concern, so that a client can point at its own option."""

import pickle

import numpy as np
import pytest

import ferrule

SERIES = np.random.default_rng(5).gamma(2.0, size=50)


@pytest.mark.parametrize(
    "call, argument, advice",
    [
        (lambda: ferrule.fit(SERIES, "log_sinh"), "left", "(pass {left})"),
        (lambda: ferrule.fit(SERIES * 1e10, scale=1e300), "scale", "a smaller {scale} or {shift}"),
        (lambda: ferrule.auto_scale([1e-320, 3e-320]), "scale", "pass {scale} (or {shift})"),
    ],
    ids=["log-sinh-without-left", "rescaling-overflows", "too-small-for-auto-scale"],
)
def test_a_refusal_names_its_argument_and_words_its_advice_for_the_client(call, argument, advice):
    with pytest.raises(ferrule.ArgumentError) as caught:
        call()
    error = caught.value
    assert error.argument == argument
    spelling = {"left": "--left", "scale": "--scale", "shift": "--shift"}
    assert advice.format(left="left=", scale="scale=", shift="shift=") in str(error)
    assert advice.format(**spelling) in error.worded(spelling)
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.argument, str(copy)) == (type(error), argument, str(error))
