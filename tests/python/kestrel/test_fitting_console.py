"""What fits write to the process's standard output, read back from child interpreters:
threshold warnings, the optimisers' own lines, the count line, and fits that find nothing."""

import math
import re

import pytest
from fitting_support import FAMILY, FIT_METHODS, draw_sample, key, lit, log_lik, run_child

LOW_LEFT = (
    "Warning: in C++ optimParams() values below the specified left censor threshold have been "
    "detected and are being treated as equal to the censor threshold"
)
LOW_PLAIN = (
    "Warning: in C++ optimParams() values below the specified censor threshold have been "
    "detected and are being treated as equal to the censor threshold"
)
HIGH = (
    "Warning: in C++ optimParams() values above the specified right censor threshold have been "
    "detected and are being treated as equal to the censor threshold"
)
NO_FINITE = (
    "Warning: in C++ optimParams() no finite objective value was found; the fitted parameters "
    "are NaN"
)
NM_LIMIT = ": Reached maximum number of allowed iterations. The result may not be optimal"
# The first lower bound of each family's box, as the stream's default format (%g) prints it.
FIRST_LOWER_BOUND = {name: f"{f.info.search_lower[0]:g}" for name, f in FAMILY.items()}
NPARMS = {name: f.nparms for name, f in FAMILY.items()}


def low_warning(method):
    # The default optimiser's entry point names the left threshold; the other two do not.
    return LOW_LEFT if method == "optim_params" else LOW_PLAIN


def count_of(line):
    match = re.fullmatch(r"iterations: (\d+)", line)
    assert match, line
    return int(match.group(1))


# ---- threshold warnings -------------------------------------------------------------

# (case, constructor arguments, data, left, right, do_rescale, low warns, high warns)
WARNING_CASES = [
    ("inside", "", [1.0, 2.0, 3.0], 0.0, 4.0, False, False, False),
    ("equal to both thresholds", "", [1.0, 2.0, 3.0], 1.0, 3.0, False, False, False),
    ("below only", "", [1.0, 2.0, 3.0], 1.5, 3.0, False, True, False),
    ("above only", "", [1.0, 2.0, 3.0], 1.0, 2.5, False, False, True),
    ("both, several values each", "", [0.5, 2.0, 0.1, 5.0, 1.0, 6.0], 1.5, 2.5, False, True, True),
    ("NaN thresholds", "", [1.0, 2.0, 3.0], math.nan, math.nan, False, False, False),
    # Rescaled (x + shift) scale = 10 x: compared with the raw thresholds the rescaled values
    # would all lie above 3; raw against raw, none is beyond.
    ("rescaled, raw values equal", "scale=10.0", [1.0, 2.0, 3.0], 1.0, 3.0, True, False, False),
    # scale -1 reverses the order: rescaled values against rescaled thresholds would warn
    # on both sides; raw against raw only 3 > 2.5 warns.
    ("rescaled, order reversed", "scale=-1.0", [1.0, 2.0, 3.0], 0.5, 2.5, True, False, True),
]


@pytest.fixture(scope="module")
def warning_runs():
    code = []
    for name in FAMILY:
        for method in FIT_METHODS:
            for case, ctor, data, left, right, rescale, _, _ in WARNING_CASES:
                code.append(
                    f"mark({key(name, method, case)!r})\n"
                    f"kestrel.{name}({ctor}).{method}("
                    f"{lit(data)}, {lit(left)}, {lit(right)}, {rescale}, False)\n"
                )
    return run_child("".join(code))


@pytest.mark.parametrize("method", FIT_METHODS)
@pytest.mark.parametrize("name", list(FAMILY))
def test_threshold_warnings(warning_runs, name, method):
    for case, _, _, _, _, _, low, high in WARNING_CASES:
        lines = warning_runs[key(name, method, case)].lines
        expected = [low_warning(method)] * low + [HIGH] * high
        # The warnings come first, each at most once, before any line of the optimiser.
        assert lines[: len(expected)] == expected, case
        rest = lines[len(expected) :]
        assert not [line for line in rest if "censor threshold" in line], case
        # Then the optimiser's first line: the box's first lower bound for differential
        # evolution, otherwise the limit message or the count line.
        if method == "optim_paramsDE":
            assert rest[0] == FIRST_LOWER_BOUND[name], case
        else:
            assert rest[0].startswith("iterations: ") or rest[0].endswith(NM_LIMIT), case


# ---- the optimisers' own lines ------------------------------------------------------

# Models of the recovery tests, with smaller samples.
SAMPLES = {
    "PyYJT": ([0.5, 0.0, 0.2], -0.15),
    "PyLogSinh": ([1.0, 0.1, 0.5, 1.5], 0.2),
    "PySinhAsinh": ([1.3, 0.4, 0.5, 2.0], -1.2),
    "PyJPT": ([0.8, 0.3, 0.5, 1.2], -math.inf),
}


def sample(name):
    natural, left = SAMPLES[name]
    return draw_sample(name, natural, 120, 7, left).tolist(), left


@pytest.fixture(scope="module")
def optimiser_runs():
    code = []
    for name in FAMILY:
        data, left = sample(name)
        for method in FIT_METHODS:
            code.append(
                f"mark({key(name, method)!r})\n"
                f"obj = kestrel.{name}()\n"
                f"obj.{method}({lit(data)}, {lit(left)}, math.inf, False, False)\n"
                "report(**state(obj))\n"
            )
        # Shuffled complex evolution without loops evaluates the initial sample only.
        code.append(
            f"mark({key(name, 'sample only')!r})\n"
            f"kestrel.{name}().optim_paramsSCE(np.array([1.0, 2.0, 3.0]), 0.0, 10.0, False, False,"
            " maxConverge=0)\n"
        )
    # Two equal uncensored values: the likelihood grows without bound as sigma -> 0, so the
    # simplex keeps moving and runs into its iteration limit.
    code.append("mark('limit')\n")
    code.append("kestrel.PyYJT().optim_params(np.array([2.0, 2.0]), 0.0, 10.0, False, False)\n")
    return run_child("".join(code))


def test_nelder_mead_iteration_limit(optimiser_runs):
    assert optimiser_runs["limit"].lines == ["1000" + NM_LIMIT, "iterations: 1000"]


@pytest.mark.parametrize("name", list(FAMILY))
def test_nelder_mead_that_converges_writes_its_count_only(optimiser_runs, name):
    [line] = optimiser_runs[key(name, "optim_params")].lines
    assert 0 < count_of(line) < 1000


@pytest.mark.parametrize("name", list(FAMILY))
def test_differential_evolution_lines(optimiser_runs, name):
    run = optimiser_runs[key(name, "optim_paramsDE")]
    lines = run.lines
    # First the first lower bound of the family's box, in the stream's default format.
    assert lines[0] == FIRST_LOWER_BOUND[name]
    assert lines[1].startswith("Iteration 0: best objective = ")
    progress = []
    i = 1
    while lines[i].startswith("Iteration "):
        match = re.fullmatch(r"Iteration (\d+): best objective = (\S+)", lines[i])
        progress.append((int(match.group(1)), float(match.group(2))))
        i += 1
    # One progress line every 100 generations from 0, and the best value never worsens
    # (a member is only ever replaced by a trial at least as good).
    assert [g for g, _ in progress] == list(range(0, 100 * len(progress), 100))
    values = [v for _, v in progress]
    assert values == sorted(values, reverse=True)
    tail = lines[i:]
    if len(tail) == 1:  # ran all 1000 generations
        assert tail == ["iterations: 1000"]
        assert len(progress) == 10
        return
    generation = re.fullmatch(r"DE converged after (\d+) iterations", tail[0]).group(1)
    assert tail[2] == f"iterations: {generation}"
    # Progress lines stop before the converged generation: 100 (k - 1) < g <= 100 k.
    assert 100 * (len(progress) - 1) < int(generation) <= 100 * len(progress)
    # The smallest objective printed is the negative log-likelihood of the stored fit
    # (summed the same way, so equal to the printed 6 significant digits).
    data, left = sample(name)
    best = -log_lik(name, run.values["optimised"], data, left, math.inf)
    assert tail[1] == f"Best objective = {best:g}"
    assert len(tail) == 3
    assert float(f"{best:g}") <= values[-1]


@pytest.mark.parametrize("name", list(FAMILY))
def test_shuffled_complex_evolution_writes_its_count_only(optimiser_runs, name):
    # Population n(2n + 1) for n search parameters; each slot of the initial sample costs
    # at least one evaluation, and with maxConverge=0 nothing else is evaluated.
    n = NPARMS[name]
    [line] = optimiser_runs[key(name, "sample only")].lines
    assert count_of(line) >= n * (2 * n + 1)
    [line] = optimiser_runs[key(name, "optim_paramsSCE")].lines
    assert count_of(line) > n * (2 * n + 1)


# ---- series that cannot be fitted ---------------------------------------------------

EMPTY_MESSAGE = "cannot fit an empty data series: it must hold at least one value"


@pytest.fixture(scope="module")
def failure_runs():
    code = []
    for name in FAMILY:
        for method in FIT_METHODS:
            for label, data in (("empty", "np.empty(0)"), ("None", "None")):
                # A fitted object first, so that any change would show.
                code.append(
                    "mark('set-up')\n"
                    f"obj = kestrel.{name}(scale=2.0)\n"
                    f"obj.optim_params(np.array([0.5, 1.0, 2.0, 4.0]), 0.0, 10.0, False, False)\n"
                    f"mark({key(name, method, label)!r})\n"
                    "report(before=state(obj))\n"
                    "try:\n"
                    f"    obj.{method}({data}, 0.0, 10.0, True, True)\n"
                    "    report(error=None)\n"
                    "except Exception as e:\n"
                    "    report(error=type(e).__name__, message=str(e))\n"
                    "report(after=state(obj))\n"
                )
        # No finite objective anywhere: NaN thresholds make every term NaN.
        code.append(
            "mark('set-up')\n"
            f"obj = kestrel.{name}()\n"
            "obj.optim_params(np.array([0.5, 1.0, 2.0, 4.0]), 0.0, 10.0, False, False)\n"
            f"mark({key(name, 'DE without a finite value')!r})\n"
            "returned = obj.optim_paramsDE(np.array([1.0]), math.nan, math.nan, False, False)\n"
            "report(returned=returned, **state(obj))\n"
        )
    # Shuffled complex evolution gives up when the log-likelihood is -inf over the whole box:
    # an infinite value beyond every transformed threshold has no probability mass. For
    # Yeo-Johnson with lambda < 0 the transform of +inf is finite (1/|lambda|), so both
    # infinities are needed there.
    for name, data, left in (
        ("PyYJT", [math.inf, -math.inf], -math.inf),
        ("PySinhAsinh", [math.inf], 0.0),
        ("PyJPT", [math.inf], 0.0),
    ):
        code.append(
            f"obj = kestrel.{name}()\n"
            f"mark({key(name, 'SCE without a finite value')!r})\n"
            f"returned = obj.optim_paramsSCE({lit(data)}, {lit(left)}, math.inf, False, False)\n"
            "report(returned=returned, **state(obj))\n"
        )
    return run_child("".join(code))


@pytest.mark.parametrize("method", FIT_METHODS)
@pytest.mark.parametrize("name", list(FAMILY))
@pytest.mark.parametrize("data", ["empty", "None"])
def test_empty_series_is_refused_before_anything_happens(failure_runs, name, method, data):
    run = failure_runs[key(name, method, data)]
    assert run.values["error"] == "ValueError"
    assert run.values["message"] == EMPTY_MESSAGE
    assert run.lines == []  # not even a warning line
    assert run.values["after"] == run.values["before"]
    assert len(run.values["before"]["optimised"]) == NPARMS[name]


def assert_all_nan(values, length):
    assert len(values) == length
    assert all(math.isnan(v) for v in values), values


@pytest.mark.parametrize("name", list(FAMILY))
def test_differential_evolution_without_a_finite_value(failure_runs, name):
    run = failure_runs[key(name, "DE without a finite value")]
    # NaN everywhere keeps the mean NaN, so all 1000 generations run with ten progress
    # lines; the warning follows the count line.
    assert run.lines[0] == FIRST_LOWER_BOUND[name]
    progress = [line.split(":")[0] for line in run.lines[1:11]]
    assert progress == [f"Iteration {g}" for g in range(0, 1000, 100)]
    assert run.lines[11:] == ["iterations: 1000", NO_FINITE]
    assert run.values["returned"] is None
    # The earlier fit's parameters are replaced, not left stale.
    assert_all_nan(run.values["optimised"], NPARMS[name])
    assert_all_nan(run.values["distribution"], NPARMS[name])
    assert_all_nan(run.values["transformation"], NPARMS[name] - 2)


@pytest.mark.parametrize("name", ["PyYJT", "PySinhAsinh", "PyJPT"])
def test_shuffled_complex_evolution_giving_up(failure_runs, name):
    run = failure_runs[key(name, "SCE without a finite value")]
    assert len(run.lines) == 2
    assert count_of(run.lines[0]) > 0
    assert run.lines[1] == NO_FINITE
    assert run.values["returned"] is None
    assert_all_nan(run.values["optimised"], NPARMS[name])
    assert_all_nan(run.values["distribution"], NPARMS[name])
