"""One rule set for a series and a grid: a series fitted alone and as the one cell of a grid
is refused for the same reason, naming the same argument, in the same words."""

import numpy as np
import pytest
from api_support import rain

import ferrule

SERIES = rain(80, seed=4)


@pytest.mark.parametrize(
    ("data", "kwargs", "argument", "words"),
    [
        (SERIES * 1e10, {"scale": 1e300}, "scale", "(x + shift) * scale overflows"),
        (SERIES, {"left": -1e308, "shift": -1e308}, "shift", "(x + shift) * scale overflows"),
        (SERIES, {"left": 5.0, "right": 1.0}, "left", "the left threshold (5) must be below"),
        (SERIES, {"right": np.nan}, "right", "the right threshold is NaN"),
        (SERIES, {"shift": np.inf}, "shift", "shift must be a finite number, got inf"),
        (SERIES, {"scale": 0.0}, "scale", "scale must be a positive finite number, got 0.0"),
        (SERIES, {"scale": "big"}, "scale", "scale must be a positive number or 'auto'"),
        (SERIES * 1e-320, {}, "scale", "the largest |x + shift| is 1.8"),
        (SERIES, {"family": "log_sinh"}, "left", "log-sinh needs a finite left threshold"),
        (SERIES, {"max_eval": 0}, "max_eval", "max_eval must be an integer from 1 to"),
    ],
    ids=lambda v: v if isinstance(v, str) else None,
)
def test_a_series_and_a_grid_of_it_are_refused_alike(data, kwargs, argument, words):
    errors = []
    for call in (
        lambda: ferrule.fit(data, **kwargs),
        lambda: ferrule.fit_grid(data[None], **kwargs),
    ):
        with pytest.raises(ferrule.ArgumentError) as caught:
            call()
        errors.append(caught.value)
    assert [e.argument for e in errors] == [argument, argument]
    assert all(str(e).startswith(words) for e in errors), errors
    # The grid names the cell; the rest of the message is the series'.
    assert str(errors[1]).removesuffix(" (cell (0,))") == str(errors[0])


def test_a_grid_fit_of_an_overflowing_rescaling_leaks_no_numpy_warning():
    with pytest.raises(ferrule.ArgumentError, match="overflows"):
        ferrule.fit_grid(np.stack([SERIES, SERIES * 1e10]), scale=1e300, seed=1)
