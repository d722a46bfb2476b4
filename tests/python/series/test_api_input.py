"""What ferrule.fit accepts as a series, and how it refuses the rest."""

import numpy as np
import pandas as pd
import pytest
from api_support import flows, quiet_fit

import ferrule

BASE = flows(60)


def _read_only():
    a = BASE.copy()
    a.flags.writeable = False
    return a


def _strided():
    a = np.empty(2 * BASE.size)
    a[::2] = BASE
    return a[::2]


INPUT_KINDS = {
    "list": (lambda: list(BASE), BASE),
    "tuple": (lambda: tuple(BASE), BASE),
    "float32": (lambda: BASE.astype(np.float32), BASE.astype(np.float32).astype(np.float64)),
    "int": (lambda: np.round(BASE * 100).astype(np.int64), np.round(BASE * 100)),
    "read-only": (_read_only, BASE),
    "non-contiguous": (_strided, BASE),
    "series": (lambda: pd.Series(BASE), BASE),
    "series Float64": (lambda: pd.Series(BASE, dtype="Float64"), BASE),
    "series Int64": (
        lambda: pd.Series(np.round(BASE * 100).astype(np.int64), dtype="Int64"),
        np.round(BASE * 100),
    ),
}


@pytest.mark.parametrize("kind", INPUT_KINDS)
def test_every_input_kind_fits_as_its_float64_values(kind):
    make, expected = INPUT_KINDS[kind]
    data = make()
    reference = ferrule.fit(expected, scale=1.0, seed=1)
    result = ferrule.fit(data, scale=1.0, seed=1)
    assert np.array_equal(result.search, reference.search)
    assert result.n == expected.size
    if isinstance(data, np.ndarray) and not data.flags.writeable:
        assert not data.flags.writeable  # left as it was


def test_nullable_missing_values_count_as_nan():
    data = pd.Series([*BASE[:20], None], dtype="Float64")
    with pytest.raises(ValueError, match="1 NaN value"):
        ferrule.fit(data)
    result = ferrule.fit(data, nan_policy="omit", scale=1.0, seed=1)
    assert (result.n, result.n_dropped) == (20, 1)
    assert np.array_equal(result.search, ferrule.fit(BASE[:20], scale=1.0, seed=1).search)


@pytest.mark.parametrize(
    ("data", "error", "words"),
    [
        (3.5, ValueError, "single"),
        (np.ones((4, 5)), ValueError, r"shape \(4, 5\)"),
        ("1 2 3", TypeError, "string"),
        (np.array(["1", "2"]), TypeError, "strings"),
        (np.array([1 + 2j, 3j]), TypeError, "complex"),
        (np.array([True, False]), TypeError, "bool"),
        ([1.0, "a", 2.0], TypeError, "numbers"),
        ({"a": 1}, ValueError, "single"),
        ([], ValueError, "no values"),
        # pandas converts these to numbers when asked for floats: days since 1970, nanoseconds,
        # 0 and 1, parsed text.
        (pd.Series(pd.date_range("2000-01-01", periods=9)), TypeError, "datetime64"),
        (pd.Series(pd.to_timedelta(np.arange(9), unit="D")), TypeError, "timedelta64"),
        (pd.Series([True, False] * 5), TypeError, "bool"),
        (pd.Series([True, None] * 5, dtype="boolean"), TypeError, "boolean"),
        (pd.Series([f"{v:.2f}" for v in BASE]), TypeError, "strings"),
        (pd.Series([f"{v:.2f}" for v in BASE], dtype="string"), TypeError, "strings"),
        ([1.0, "2.5", None], TypeError, "strings"),
    ],
    ids=["0-d", "2-d", "str", "strings", "complex", "bool", "mixed", "dict", "empty",
         "pandas dates", "pandas time spans", "pandas bool", "pandas boolean", "pandas text",
         "pandas string", "text among objects"],
)  # fmt: skip
def test_what_is_not_a_series_is_refused_in_the_librarys_words(data, error, words):
    with pytest.raises(error, match=words):
        ferrule.fit(data)


def test_masked_entries_are_missing_values():
    # netCDF4 reads a variable's fill values as masked entries of the stored sentinel.
    data = np.ma.masked_array(np.r_[BASE, -999.0, -999.0], mask=[False] * BASE.size + [True] * 2)
    with pytest.raises(ValueError, match="2 NaN values"):
        ferrule.fit(data)
    omitted = ferrule.fit(data, nan_policy="omit", seed=3)
    assert (omitted.n, omitted.n_dropped) == (BASE.size, 2)
    assert np.array_equal(omitted.search, ferrule.fit(BASE, seed=3).search)
    assert data.data[-1] == -999.0 and data.mask[-1]  # left as it was


def test_nan_policy():
    data = np.r_[BASE, np.nan, np.nan]
    with pytest.raises(ValueError, match=r'2 NaN values.*nan_policy="omit"'):
        ferrule.fit(data)
    omitted = ferrule.fit(data, nan_policy="omit", seed=3)
    assert (omitted.n, omitted.n_dropped) == (BASE.size, 2)
    assert np.array_equal(omitted.search, ferrule.fit(BASE, seed=3).search)
    propagated = ferrule.fit(data, nan_policy="propagate")
    assert not propagated.valid and "2 NaN values" in propagated.problems[0]
    assert np.isnan(propagated.search).all() and np.isnan(propagated.loglik)
    assert np.isnan(propagated.cdf(1.0))
    one = ferrule.fit(np.r_[BASE, np.nan], nan_policy="propagate")
    assert one.problems == ("the data hold 1 NaN value (nan_policy='propagate')",)
    with pytest.raises(ValueError, match="nan_policy"):
        ferrule.fit(BASE, nan_policy="drop")


def test_infinite_values_only_beyond_a_threshold():
    with pytest.raises(ValueError, match="1 infinite value"):
        ferrule.fit(np.r_[BASE, np.inf])
    with pytest.raises(ValueError, match="infinite"):
        ferrule.fit(np.r_[BASE, -np.inf], right=100.0)
    with pytest.warns(ferrule.CensoringWarning, match="1 value lies above the right threshold"):
        result = ferrule.fit(np.r_[BASE[BASE < 8.0], np.inf], right=8.0, seed=1)
    assert result.n_right == 1 and result.valid


@pytest.mark.parametrize(
    ("kwargs", "words"),
    [
        ({"family": "box-cox"}, "unknown family 'box-cox'"),
        ({"family": 3}, "family must be a string"),
        ({"method": "bfgs"}, "unknown method 'bfgs'"),
        ({"left": 5.0, "right": 1.0}, "must be below"),
        ({"left": np.nan}, "left threshold is NaN"),
        ({"scale": 0.0}, "positive"),
        ({"scale": "big"}, "'auto'"),
        ({"shift": np.inf}, "shift"),
        ({"max_eval": 0}, "max_eval"),
        ({"max_eval": 2**31}, "max_eval must be an integer from 1 to 2147483647"),
        ({"max_converge": 2**40}, "max_converge must be an integer from 1 to 2147483647"),
        ({"left": None}, "the left threshold must be a number, got NoneType"),
        ({"right": "10"}, "the right threshold must be a number, got the text '10'"),
        ({"shift": [1.0]}, "shift must be a number, got list"),
        ({"scale": None}, "scale must be a number"),
        ({"scale": 1e308}, "overflows"),
        ({"left": -1e308, "shift": -1e308}, "overflows"),
        ({"seed": -1}, "non-negative"),
        ({"seed": 1.5}, "seed must be"),
        ({"family": "log_sinh"}, "finite left threshold"),
    ],
    ids=lambda v: str(v) if isinstance(v, str) else None,
)
def test_bad_options_are_refused(kwargs, words):
    with pytest.raises((ValueError, TypeError), match=words):
        ferrule.fit(BASE, **kwargs)


@pytest.mark.parametrize(
    ("name", "key"),
    [("YJT", "yeo_johnson"), ("Yeo-Johnson", "yeo_johnson"), ("log-sinh", "log_sinh"),
     ("SinhAsinh", "sinh_asinh"), ("sinh-arcsinh", "sinh_asinh"), ("JPT", "jones_pewsey"),
     ("jones_pewsey", "jones_pewsey")],
)  # fmt: skip
def test_family_names_and_aliases(name, key):
    assert ferrule.fit(BASE, name, left=0.0, seed=1).family == key


@pytest.mark.parametrize(
    ("name", "key"),
    [(None, "shuffled_complex_evolution"), ("Nelder-Mead", "nelder_mead"),
     ("simplex", "nelder_mead"), ("DE", "differential_evolution"),
     ("differential_evolution", "differential_evolution"), ("sce", "shuffled_complex_evolution"),
     ("Shuffled-Complex-Evolution", "shuffled_complex_evolution")],
)  # fmt: skip
def test_method_names(name, key):
    result = ferrule.fit(BASE, "sinh_asinh", method=name, seed=1)
    assert result.method == key


def test_auto_scale_is_the_power_of_ten_of_the_largest_shifted_value():
    # One run (fast) takes the power of ten; the default fit compares it with 1.
    assert ferrule.fit(BASE * 1000, seed=1, fast=True).scale == 10.0 ** -int(
        np.log10(BASE.max() * 1000)
    )
    assert ferrule.fit([0.02, 0.05, 0.031, 0.07, 0.011], seed=1, fast=True).scale == 100.0
    assert ferrule.fit(BASE - 100.0, shift=100.0, seed=1, fast=True).scale == 10.0 ** -int(
        np.log10(BASE.max())
    )


def test_values_too_small_for_a_power_of_ten_ask_for_a_scale():
    tiny = BASE * 1e-320  # subnormal: 10**320 is beyond a double
    with pytest.raises(ValueError, match="too small to be brought to 1.*pass scale="):
        ferrule.fit(tiny)
    assert quiet_fit(tiny, "yeo_johnson", scale=1e308, seed=1).n == BASE.size


def test_a_shift_that_overflows_is_refused_naming_it():
    with pytest.raises(
        ferrule.ArgumentError, match="overflows to infinity.*pass a smaller shift="
    ) as raised:
        ferrule.fit(BASE * 1e307, shift=1.7e308)
    assert raised.value.argument == "shift"
