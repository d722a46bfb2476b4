"""Hypothesis strategies shared by the property tests: any doubles, arrays laid out in
memory every way a caller can hand them over, and the calls that build instances."""

import math

import hypothesis_profile  # noqa: F401  (loads the deterministic profile)
import numpy as np
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

# Values where the formulas switch branches or the arithmetic changes regime, added to
# hypothesis' own float distribution (which already favours 0, inf, NaN and the extremes).
SPECIAL = (
    0.0,
    -0.0,
    math.inf,
    -math.inf,
    math.nan,
    5e-324,  # smallest subnormal
    -5e-324,
    2.2250738585072014e-308,  # smallest normal
    1.7976931348623157e308,
    -1.7976931348623157e308,
    709.782712893384,  # log of the largest double: the log-sinh overflow branch
    1e-7,  # Yeo-Johnson's switch to the logarithm
    2.0 + 1e-7,
    1.0,
    -1.0,
    2.0,
    0.999,
    1e300,
    -1e300,
)

doubles = st.one_of(st.sampled_from(SPECIAL), st.floats())

# Thresholds mostly ordered and finite, so that both the censored and the uncensored
# branches are reached, but any doubles too.
thresholds = st.one_of(doubles, st.floats(-10.0, 10.0))

# Memory layouts of an array argument: the step of each axis in a larger block (negative
# steps read it backwards) and the block's order. The view's first and last elements are
# the block's first and last ones, so reading past either end leaves the allocation.
_STEPS = (1, 2, 3, -1, -2)


def _view(draw, shape, dtype=np.float64):
    steps = [draw(st.sampled_from(_STEPS)) for _ in shape]
    order = draw(st.sampled_from("CF"))
    block = [(n - 1) * abs(s) + 1 if n else 0 for n, s in zip(shape, steps, strict=True)]
    gap = {"f": -123456.75, "i": -77, "b": True}.get(np.dtype(dtype).kind, 0)
    base = np.full(block, gap, dtype=dtype, order=order)  # the gaps hold this
    view = base[tuple(slice(None, None, s) for s in steps)]
    assert view.shape == tuple(shape)
    return view


@st.composite
def laid_out(draw, values):
    """`values` (an array) copied into a view of some layout: strided, reversed, F-order."""
    view = _view(draw, values.shape, values.dtype)
    view[...] = values
    return view


@st.composite
def series(draw, elements=doubles, min_size=0, max_size=6, allow_none=True):
    """(argument, values): a 1-D float64 array argument of any layout and the values it
    holds; the argument is None (an empty array) when allowed and the series is empty."""
    values = draw(st.lists(elements, min_size=min_size, max_size=max_size))
    if allow_none and not values and draw(st.booleans()):
        return None, []
    view = draw(laid_out(np.array(values, dtype=np.float64)))
    return view, values


@st.composite
def grid_arrays(draw, shape, elements=doubles, dtype=np.float64):
    """An array of `shape`, of any layout, holding any doubles (or `elements`)."""
    values = draw(hnp.arrays(dtype, shape, elements=elements))
    return draw(laid_out(values))


@st.composite
def constructor_call(draw, params, values=doubles):
    """(args, kwargs, used) for a constructor with `params` = ((name, default), ...): some
    leading arguments by position, later ones by keyword or left to their defaults; `used`
    lists the value each parameter ends up with."""
    npos = draw(st.integers(0, len(params)))
    args, kwargs, used = [], {}, []
    for i, (name, default) in enumerate(params):
        if i < npos:
            value = draw(values)
            args.append(value)
        elif draw(st.booleans()):
            value = draw(values)
            kwargs[name] = value
        else:
            value = default
        used.append(value)
    return args, kwargs, used


def search_vectors(nparms, elements=doubles):
    """A search vector of any doubles, sometimes longer than the family needs."""
    return series(elements, min_size=nparms, max_size=nparms + 2, allow_none=False)
