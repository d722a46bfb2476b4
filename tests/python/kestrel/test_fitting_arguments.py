"""Arguments of the fitting methods: binding, conversion, refusals that change nothing, and
the settings of shuffled complex evolution, observed through fits in fresh processes."""

import re

import numpy as np
import pytest
from fitting_support import FAMILY, MT19937, key, lit, log_lik, run_child

DATA = np.array([0.4, 1.3, 2.2, 0.9, 3.5, 1.8, 0.0, 5.1, 2.7, 1.1])
COUNT = "{}() takes {} {} positional arguments ({} given)"


def fitted(name):
    """An object holding a fit, so that any later change would show."""
    obj = FAMILY[name].cls(scale=2.0)
    obj.optim_params(DATA, 0.0, 10.0, False, False)
    return obj


def state(obj):
    return (
        obj.get_optimised_params(),
        obj.get_distribution_params(),
        obj.get_transformation_params(),
    )


# ---- binding ------------------------------------------------------------------------

D = DATA
POSITIONAL_COUNTS = [
    ("optim_params", (D, 0.0, 10.0, False), COUNT.format("optim_params", "exactly", 5, 4)),
    (
        "optim_params",
        (D, 0.0, 10.0, False, False, 5),
        COUNT.format("optim_params", "exactly", 5, 6),
    ),
    ("optim_params", (), COUNT.format("optim_params", "exactly", 5, 0)),
    ("optim_paramsDE", (D, 0.0, 10.0, False), COUNT.format("optim_paramsDE", "exactly", 5, 4)),
    (
        "optim_paramsDE",
        (D, 0.0, 10.0, False, False, 5),
        COUNT.format("optim_paramsDE", "exactly", 5, 6),
    ),
    ("optim_paramsSCE", (D, 0.0, 10.0, False), COUNT.format("optim_paramsSCE", "at least", 5, 4)),
    (
        "optim_paramsSCE",
        (D, 0.0, 10.0, False, False, 5, 100, 1),
        COUNT.format("optim_paramsSCE", "at most", 7, 8),
    ),
]


@pytest.mark.parametrize("name", list(FAMILY))
def test_positional_counts(name, capfd):
    obj = fitted(name)
    before = state(obj)
    capfd.readouterr()
    for method, args, message in POSITIONAL_COUNTS:
        with pytest.raises(TypeError) as e:
            getattr(obj, method)(*args)
        assert str(e.value) == message
    # Refused before the core is called: nothing printed, nothing changed.
    assert capfd.readouterr().out == ""
    assert state(obj) == before


KEYWORD_ERRORS = [
    # A required argument missing while keywords are used: counted up to the first gap.
    (
        "optim_params",
        (D, 0.0),
        {"right_cens_thresh": 10.0, "is_map": False},
        COUNT.format("optim_params", "exactly", 5, 3),
    ),
    (
        "optim_paramsSCE",
        (D,),
        {"left_cens_thresh": 0.0, "do_rescale": False, "is_map": False},
        COUNT.format("optim_paramsSCE", "at least", 5, 2),
    ),
    # The settings belong to shuffled complex evolution only.
    (
        "optim_params",
        (D, 0.0, 10.0, False, False),
        {"maxConverge": 5},
        "optim_params() got an unexpected keyword argument 'maxConverge'",
    ),
    (
        "optim_paramsDE",
        (D, 0.0, 10.0, False, False),
        {"maxEval": 5},
        "optim_paramsDE() got an unexpected keyword argument 'maxEval'",
    ),
    (
        "optim_paramsSCE",
        (D, 0.0, 10.0, False, False, 5),
        {"maxConverge": 5},
        "optim_paramsSCE() got multiple values for keyword argument 'maxConverge'",
    ),
    (
        "optim_paramsSCE",
        (D, 0.0, 10.0, False, False),
        {"max_eval": 5},
        "optim_paramsSCE() got an unexpected keyword argument 'max_eval'",
    ),
]


@pytest.mark.parametrize(("method", "args", "kwargs", "message"), KEYWORD_ERRORS)
def test_keyword_errors(method, args, kwargs, message, capfd):
    obj = fitted("PyYJT")
    before = state(obj)
    capfd.readouterr()
    with pytest.raises(TypeError) as e:
        getattr(obj, method)(*args, **kwargs)
    assert str(e.value) == message
    assert capfd.readouterr().out == ""
    assert state(obj) == before


@pytest.mark.parametrize("name", list(FAMILY))
def test_arguments_bind_by_keyword(name):
    # The default optimiser is deterministic: the same fit whichever way it is called.
    by_position = FAMILY[name].cls()
    assert by_position.optim_params(DATA, 0.0, 10.0, False, True) is None
    by_keyword = FAMILY[name].cls()
    result = by_keyword.optim_params(
        is_map=True, do_rescale=False, right_cens_thresh=10.0, left_cens_thresh=0.0, data=DATA
    )
    assert result is None
    assert by_keyword.get_optimised_params() == by_position.get_optimised_params()
    assert len(by_keyword.get_optimised_params()) == FAMILY[name].nparms


# ---- conversion ---------------------------------------------------------------------


class FloatLike:
    def __float__(self):
        return 10.0


class Truthy:
    def __bool__(self):
        return True


class BadTruth:
    def __bool__(self):
        raise ZeroDivisionError("no truth value")


def read_only(a):
    a = a.copy()
    a.flags.writeable = False
    return a


# (method, argument index or name, value, exception, message or None for Python's own)
REFUSED = [
    ("optim_paramsSCE", "maxConverge", "5", TypeError, "an integer is required"),
    ("optim_paramsSCE", "maxEval", "5", TypeError, "an integer is required"),
    ("optim_paramsSCE", "maxConverge", None, TypeError, "an integer is required"),
    ("optim_paramsSCE", "maxEval", 2**31, OverflowError, None),
    ("optim_params", 1, "0.0", TypeError, None),
    ("optim_paramsDE", 2, None, TypeError, None),
    ("optim_paramsSCE", 1, [0.0], TypeError, None),
    ("optim_params", 3, BadTruth(), ZeroDivisionError, "no truth value"),
    ("optim_paramsDE", 4, BadTruth(), ZeroDivisionError, "no truth value"),
    ("optim_params", 0, [0.5, 1.0], TypeError, None),
    ("optim_paramsDE", 0, np.array([1, 2, 3]), ValueError, "Buffer dtype mismatch"),
    ("optim_paramsSCE", 0, DATA.astype(np.float32), ValueError, "Buffer dtype mismatch"),
    (
        "optim_params",
        0,
        DATA.reshape(2, 5),
        ValueError,
        "Buffer has wrong number of dimensions (expected 1, got 2)",
    ),
    ("optim_paramsSCE", 0, read_only(DATA), ValueError, None),
]


@pytest.mark.parametrize("name", list(FAMILY))
def test_refused_arguments_change_nothing(name, capfd):
    obj = fitted(name)
    before = state(obj)
    capfd.readouterr()
    for method, where, value, error, message in REFUSED:
        args = [DATA, 0.0, 10.0, False, False]
        kwargs = {}
        if isinstance(where, int):
            args[where] = value
        else:
            kwargs[where] = value
        with pytest.raises(error) as e:
            getattr(obj, method)(*args, **kwargs)
        if message is not None:
            assert str(e.value).startswith(message), (method, where)
        assert state(obj) == before, (method, where)
    assert capfd.readouterr().out == ""


@pytest.mark.parametrize("name", list(FAMILY))
def test_accepted_conversions(name):
    # Thresholds through float(), flags by truth value, a strided view read with its stride.
    expected = FAMILY[name].cls()
    expected.optim_params(DATA[::2], 0.0, 10.0, False, True)
    obj = FAMILY[name].cls()
    assert obj.optim_params(DATA[::2], 0, FloatLike(), None, Truthy()) is None
    assert obj.get_optimised_params() == expected.get_optimised_params()


# ---- settings of shuffled complex evolution, in fresh processes ----------------------

# Each process starts the engine at its seed, so the first fit of two processes makes the
# same draws. The Yeo-Johnson fit comes first; the others follow in a fixed order.
ORDER = ["PyYJT", "PyLogSinh", "PySinhAsinh", "PyJPT"]
SCE_DATA = np.random.default_rng(11).lognormal(0.0, 1.0, 30)


@pytest.fixture(scope="module")
def fresh():
    cache = {}

    def run(settings):
        """{family: (optimised params, console lines)} of one fresh process; `settings` is
        appended to the positional arguments (data, 0.0, 100.0, False, False)."""
        if settings not in cache:
            code = []
            for name in ORDER:
                code.append(
                    f"mark({key(name)!r})\n"
                    f"obj = kestrel.{name}()\n"
                    f"obj.optim_paramsSCE({lit(SCE_DATA)}, 0.0, 100.0, False, False{settings})\n"
                    "report(optimised=obj.get_optimised_params())\n"
                )
            blocks = run_child("".join(code))
            cache[settings] = {
                n: (blocks[key(n)].values["optimised"], blocks[key(n)].lines) for n in ORDER
            }
        return cache[settings]

    return run


def count(lines):
    [line] = lines
    return int(re.fullmatch(r"iterations: (\d+)", line).group(1))


def test_fits_in_fresh_processes_are_identical(fresh):
    first = fresh("")
    second = fresh(", maxConverge=5, maxEval=100000")  # the defaults, spelt out
    assert first == second
    # Within one process the stream goes on: a second identical fit draws other numbers.
    again = run_child(
        f"kestrel.PyYJT().optim_paramsSCE({lit(SCE_DATA)}, 0.0, 100.0, False, False)\n"
        "obj = kestrel.PyYJT()\n"
        "mark('second')\n"
        f"obj.optim_paramsSCE({lit(SCE_DATA)}, 0.0, 100.0, False, False)\n"
        "report(optimised=obj.get_optimised_params())\n"
    )
    assert again["second"].values["optimised"] != first["PyYJT"][0]


def test_max_converge_is_truncated_to_an_integer(fresh):
    # 5.9 runs exactly as 5, in every fit of the sequence ...
    assert fresh(", 5.9") == fresh(", maxConverge=5")
    # ... which is observably not 6: the same search, one more unchanged loop required.
    assert count(fresh(", maxConverge=6")["PyYJT"][1]) > count(fresh(", maxConverge=5")["PyYJT"][1])


def test_max_eval_ends_the_search_after_the_loop_that_exceeds_it(fresh):
    n = FAMILY["PyYJT"].nparms
    sample = count(fresh(", maxConverge=0")["PyYJT"][1])  # the initial sample alone
    one_loop = count(fresh(", 5, 1")["PyYJT"][1])
    # The same initial sample, then exactly one loop: at most n m (n + 3) evaluations with
    # one step per sub-complex (m = 2n + 1 members per complex).
    assert sample < one_loop <= sample + n * (2 * n + 1) * (n + 3)
    assert count(fresh("")["PyYJT"][1]) > one_loop


def test_without_loops_the_first_sampled_point_is_returned(fresh):
    # Slot 0 of the initial sample: x_k = lower_k + (upper_k - lower_k) U_k with U_k the
    # canonical doubles of mt19937 seeded with 5489, drawn coordinate by coordinate.
    engine = MT19937(5489)
    point = [-100.0 + (100.0 - -100.0) * engine.canonical() for _ in range(3)]
    # It is kept only if its log-likelihood exceeds -1e30 (it is redrawn otherwise).
    assert log_lik("PyYJT", point, SCE_DATA, 0.0, 100.0) > -1e30
    assert fresh(", maxConverge=0")["PyYJT"][0] == point
