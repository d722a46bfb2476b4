"""Quiet by default: warnings of the library's classes at the user's line, progress on request."""

import ast
import subprocess
import sys
import textwrap
import warnings

import numpy as np
import pytest
from api_support import flows, rain

import ferrule


def test_warning_classes_form_one_family():
    for cls in (ferrule.CensoringWarning, ferrule.ConvergenceWarning, ferrule.InvalidFitWarning):
        assert issubclass(cls, ferrule.FerruleWarning)
    assert issubclass(ferrule.FerruleWarning, UserWarning)


@pytest.mark.parametrize(
    ("data", "kwargs", "category", "phrase"),
    [
        (np.r_[rain(), -0.5, -0.2], {"left": 0.0}, ferrule.CensoringWarning,
         "2 values lie below the left threshold 0"),
        (np.r_[flows(), 50.0], {"right": 20.0, "scale": 0.1}, ferrule.CensoringWarning,
         "1 value lies above the right threshold 20"),
        (flows(), {"family": "log_sinh", "left": 0.0, "method": "sce", "max_eval": 40,
                   "fast": True},
         ferrule.ConvergenceWarning, "stopped at its limit"),
        ([1.0, 2.0, 2.0, 3.0, 3.0, 4.0], {}, ferrule.InvalidFitWarning, "4 distinct"),
    ],
    ids=["below left", "above right", "limit", "invalid"],
)  # fmt: skip
def test_warnings_point_at_the_callers_line(data, kwargs, category, phrase):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        fit = ferrule.fit(data, seed=1, **kwargs)
        line = sys._getframe().f_lineno - 1
    ours = [w for w in caught if issubclass(w.category, category)]
    assert len(ours) == 1 and phrase in str(ours[0].message)
    assert (ours[0].filename, ours[0].lineno) == (__file__, line)
    assert str(ours[0].message) in fit.warnings


def test_fit_keeps_its_warnings_when_they_are_ignored():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        fit = ferrule.fit(np.r_[rain(), -1.0], left=0.0, seed=1)
    assert fit.warnings == ("1 value lies below the left threshold 0; the fit counts it as "
                            "censored there",)  # fmt: skip


def test_auto_raises_the_data_level_warnings_once():
    with pytest.warns(ferrule.CensoringWarning) as caught:
        best = ferrule.fit(np.r_[rain(), -1.0], "auto", left=0.0, seed=3)
    censoring = [w for w in caught if w.category is ferrule.CensoringWarning]
    assert len(censoring) == 1
    assert all(f.warnings[0] == best.warnings[0] for f in best.alternatives)


def _run(code):
    script = textwrap.dedent(
        """
        import warnings
        import numpy as np
        import ferrule
        warnings.simplefilter("ignore")
        rng = np.random.default_rng(1)
        x = np.r_[np.maximum(rng.gamma(0.8, 4.0, 300) - 1.0, 0.0), -1.0]
        """
    ) + textwrap.dedent(code)
    return subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, check=True, timeout=300
    )


def test_nothing_reaches_standard_output_by_default():
    # The child's descriptor 1 is the pipe: native console lines would land in it too.
    out = _run(
        """
        for family in ("yeo_johnson", "log_sinh", "sinh_asinh", "jones_pewsey", "auto"):
            for method in ("nelder-mead", "de", "sce"):
                ferrule.fit(x, family, method=method, left=0.0, seed=1)
        ferrule.fit(x, left=0.0, max_eval=30, method="sce", seed=1)
        """
    )
    assert out.stdout == "" and out.stderr == ""


def test_verbose_prints_progress_lines_to_sys_stdout():
    out = _run(
        """
        import io, sys
        sys.stdout = io.StringIO()
        ferrule.fit(x, "sinh_asinh", method="de", left=0.0, seed=1, verbose=True, fast=True)
        text, sys.stdout = sys.stdout.getvalue(), sys.__stdout__
        print(repr(text))
        """
    )
    printed = ast.literal_eval(out.stdout)
    lines = printed.splitlines()
    assert lines and all(line.startswith("[sinh_asinh] ") for line in lines)
    assert "[sinh_asinh] iterations: " in printed and "DE converged" in printed
    assert "Warning" not in printed  # those became warnings
