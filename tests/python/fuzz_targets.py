"""Fuzz targets of the public API and the command line: odd inputs may be refused with the
library's documented errors, never with anything else, never crash, and a refused call
changes nothing. Run briefly by test_fuzz.py, at length by scripts/fuzz.sh."""

import contextlib
import copy
import io
import math
import os
import tempfile
import warnings

import numpy as np
from hypothesis import strategies as st
from strategies import doubles

import ferrule
from ferrule.cli import main

# What a refusal may be; anything else escaping a call is a finding.
REFUSALS = (ValueError, TypeError)
FAMILIES = ("yeo_johnson", "log_sinh", "sinh_asinh", "jones_pewsey", "auto", "yjt", "nope")
METHODS = (None, "nelder_mead", "de", "sce", "simplex", "bogus")
MAPS = ("to_normal", "from_normal", "cdf", "sf", "logsf", "logpdf", "pdf", "ppf")


class Calls:
    """How many public calls the targets have made (the long run reports it)."""

    count = 0


def _call(function, *args, **kwargs):
    """One public call: its result, or None when refused as documented."""
    Calls.count += 1
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return function(*args, **kwargs)
    except REFUSALS:
        return None


small_series = st.lists(st.one_of(doubles, st.floats(-5.0, 50.0)), min_size=0, max_size=40)
fit_options = st.fixed_dictionaries(
    {},
    optional={
        "family": st.sampled_from(FAMILIES),
        "method": st.sampled_from(METHODS),
        "left": st.one_of(doubles, st.just(0.0)),
        "right": doubles,
        "scale": st.one_of(doubles, st.just("auto"), st.text(max_size=3)),
        "shift": doubles,
        "prior": st.booleans(),
        "seed": st.one_of(st.integers(-1, 2**33), st.none()),
        "nan_policy": st.sampled_from(["raise", "omit", "propagate", "x"]),
        "max_eval": st.integers(-1, 60),
        "max_converge": st.integers(-1, 3),
    },
)


def _apply_maps(model, x):
    for name in MAPS:
        out = _call(getattr(model, name), x)
        if out is not None:
            assert np.shape(out) == np.shape(x), (name, np.shape(out), np.shape(x))


def fit_target(data):
    """ferrule.fit on odd series and options, then every map of the fit on odd points,
    and its dictionary round trip."""
    values = data.draw(small_series)
    fit = _call(ferrule.fit, values, **{"max_eval": 40, **data.draw(fit_options)})
    if fit is None:
        return
    for _ in range(6):
        _apply_maps(fit, np.array(data.draw(st.lists(doubles, max_size=5))))
    assert ferrule.Fit.from_dict(fit.to_dict()) == fit


_SAVED = {}


def _saved_fit():
    if "fit" not in _SAVED:
        rng = np.random.default_rng(0)
        _SAVED["fit"] = ferrule.fit(rng.gamma(2.0, size=60), family="sinh_asinh", seed=1)
    return _SAVED["fit"]


saved_values = st.one_of(
    doubles, st.text(max_size=4), st.none(), st.booleans(), st.integers(), st.lists(doubles)
)


def from_dict_target(data):
    """Fit.from_dict of saved fits with fields changed or removed: refused as documented,
    or a fit whose maps all work."""
    for _ in range(8):
        _one_changed_fit(data)


def _one_changed_fit(data):
    saved = _saved_fit().to_dict()
    changed = copy.deepcopy(saved)
    for _ in range(data.draw(st.integers(1, 3))):
        name = data.draw(st.sampled_from(sorted(saved)))
        if data.draw(st.booleans()):
            changed.pop(name, None)
        elif name == "params" and data.draw(st.booleans()):
            key = data.draw(st.sampled_from(["delta", "epsilon", "lambda"]))
            changed["params"] = {**saved["params"], key: data.draw(saved_values)}
        else:
            changed[name] = data.draw(saved_values)
    fit = _call(ferrule.Fit.from_dict, changed)
    assert changed is not saved and saved == _saved_fit().to_dict()  # nothing shared changed
    if fit is not None:
        _apply_maps(fit, np.array([0.5, 2.0, math.nan]))


grid_shapes = st.tuples(st.integers(0, 3), st.integers(0, 12))


def fit_grid_target(data):
    """fit_grid on small grids of odd values and options, then its maps."""
    rows, length = data.draw(grid_shapes)
    values = data.draw(st.lists(st.one_of(doubles, st.floats(0.0, 30.0)),
                                min_size=rows * length, max_size=rows * length))  # fmt: skip
    grid_values = np.array(values, dtype=np.float64).reshape(rows, length)
    options = data.draw(fit_options)
    options.pop("nan_policy", None)
    options.pop("family", None)
    family = data.draw(st.sampled_from(FAMILIES))
    before = grid_values.copy()
    grid = _call(ferrule.fit_grid, grid_values, family=family, n_jobs=1,
                 **{"max_eval": 40, **options})  # fmt: skip
    assert np.array_equal(before, grid_values, equal_nan=True)  # the input is never changed
    if grid is None:
        return
    for name in ("to_normal", "cdf"):
        _call(getattr(grid, name), grid_values)


csv_cells = st.one_of(
    st.sampled_from(["", " ", "NA", "-999", "1,5", "2_5", "\uff11", "1e-400", "1e400", "nan",
                     "#", '"', "date", "0", "3.25"]),
    st.text(max_size=6),
    doubles.map(repr),
)  # fmt: skip


@st.composite
def csv_texts(draw):
    delimiter = draw(st.sampled_from([",", ";", "\t", " "]))
    rows = draw(st.lists(st.lists(csv_cells, min_size=1, max_size=4), max_size=12))
    return "\n".join(delimiter.join(row) for row in rows) + draw(st.sampled_from(["", "\n"]))


cli_options = st.lists(
    st.sampled_from([
        ["--decimal", ","], ["--decimal", "."], ["--comment", ""], ["--comment", ";"],
        ["--delimiter", ";"], ["--delimiter", '"'], ["--delimiter", "tab"], ["--header"],
        ["--no-header"], ["--column", "2"], ["--column", "x"], ["--left", "0"],
        ["--right", "-1"], ["--scale", "0"], ["--na-values", ""], ["--encoding", "latin-1"],
        ["--json"], ["--seed", "7"], ["--optimiser", "de"],
    ]),
    max_size=4,
)  # fmt: skip


def text_target(data):
    """The command line's CSV reading on odd text and options: a series of finite numbers,
    or one short refusal line."""
    from ferrule.cli.errors import CliError
    from ferrule.cli.readers import read_series

    text = data.draw(csv_texts())
    options = data.draw(st.fixed_dictionaries({}, optional={
        "decimal": st.sampled_from([".", ","]), "comment": st.sampled_from(["", "#", ";"]),
        "delimiter": st.sampled_from([",", ";", "\t", " ", '"', "."]),
        "header": st.booleans(), "column": st.sampled_from(["1", "2", "mm", "0", "\uff11"]),
    }))  # fmt: skip
    with tempfile.NamedTemporaryFile("w", suffix=".csv", encoding="utf-8") as file:
        file.write(text)
        file.flush()
        Calls.count += 1
        try:
            series = read_series(file.name, **options)
        except CliError as err:
            assert "\n" not in str(err) and len(str(err)) < 1000, str(err)
            return
    assert series.values.dtype == np.float64 and np.isfinite(series.values).all()


def cli_target(data):
    """`ferrule fit` on odd CSV text and options: status 0, 1 or 2, never an internal
    error or a traceback, and the input file is left as it was."""
    text = data.draw(csv_texts())
    options = [word for option in data.draw(cli_options) for word in option]
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "d.csv")
        with open(path, "w", encoding="utf-8", newline="") as file:
            file.write(text)
        out, err = io.StringIO(), io.StringIO()
        Calls.count += 1
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            try:
                status = main(["fit", path, "--family", "yjt", "--max-eval", "60", *options])
            except SystemExit as refused:  # the option parser's own refusals
                status = refused.code
        with open(path, encoding="utf-8", newline="") as file:
            assert file.read() == text
    said = err.getvalue()
    assert status in (0, 1, 2), (status, said)
    assert "internal error" not in said and "Traceback" not in said, said
    assert len(said) < 4000, len(said)


TARGETS = {
    "fit": fit_target,
    "from_dict": from_dict_target,
    "fit_grid": fit_grid_target,
    "text": text_target,
    "cli": cli_target,
}
# Examples per round of the long run: the costly targets less often.
ROUND = {"fit": 300, "from_dict": 300, "fit_grid": 150, "text": 400, "cli": 40}


def run(name, examples, *, derandomize=True):
    """Runs one target on `examples` inputs drawn by hypothesis; a finding raises."""
    from hypothesis import HealthCheck, given, settings

    @settings(max_examples=examples, derandomize=derandomize, database=None, deadline=None,
              suppress_health_check=list(HealthCheck))  # fmt: skip
    @given(st.data())
    def target(data):
        TARGETS[name](data)

    target()


if __name__ == "__main__":  # scripts/fuzz.sh: the long run, until the calls reach a count
    import sys
    import time

    wanted, started = int(sys.argv[1]), time.monotonic()
    while Calls.count < wanted:
        for name, examples in ROUND.items():
            run(name, examples, derandomize=False)
        print(f"{Calls.count} calls, {time.monotonic() - started:.0f} s", flush=True)
    print(f"done: {Calls.count} calls without a finding")
