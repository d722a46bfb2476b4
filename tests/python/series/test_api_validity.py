"""Every reason the library gives for an invalid fit, each from a case built to cause it."""

import math

import numpy as np
import pytest
from api_support import flows

import ferrule

SMOOTH = flows(40)
LINE = np.arange(1.0, 41.0)

# (family, method, search vector, data, thresholds, a phrase of the expected reason)
CASES = {
    "no finite likelihood": ("sinh_asinh", "sce", [np.nan] * 4, SMOOTH, {}, "no parameters"),
    "box edge": ("sinh_asinh", "sce", [0.999, 0.1, 0.1, 0.5], SMOOTH, {}, "upper bound"),
    "lower box edge": ("yeo_johnson", "de", [-100.0, 0.0, 0.0], SMOOTH, {}, "lower bound"),
    "outside the box": ("sinh_asinh", "simplex", [1.2, 0.1, 0.1, 0.3], SMOOTH, {}, "outside"),
    "delta not positive": ("sinh_asinh", "simplex", [1.2, 0.1, 0.1, 0.3], SMOOTH, {}, "delta = -6"),
    "decreasing": ("sinh_asinh", "simplex", [1.2, 0.1, 0.1, 0.3], SMOOTH, {}, "decreases"),
    "sigma not positive": ("sinh_asinh", "simplex", [0.5, 0.1, 0.1, 1.5], SMOOTH, {}, "sigma = -3"),
    "epsilon refused": ("log_sinh", "simplex", [0.0, 2.0, 0.0, 0.0], SMOOTH, {"left": 0.0},
                        "epsilon = 7.389"),
    "refused likelihood": ("log_sinh", "simplex", [0.0, 2.0, 0.0, 0.0], SMOOTH, {"left": 0.0},
                           "refuse parameters"),
    # T(1e200) overflows to inf at lambda 2: a value with no mass above it.
    "likelihood not finite": ("yeo_johnson", "simplex", [2.0, 0.0, 0.0], np.r_[LINE[:9], 1e200],
                              {}, "not finite"),
    "sigma absurd": ("yeo_johnson", "simplex", [1.0, 0.0, 30.0], SMOOTH, {}, "absurd"),
    "saturation": ("yeo_johnson", "simplex", [-60.0, 0.0, 0.0], LINE, {}, "saturates"),
    "undefined": ("log_sinh", "simplex", [0.0, math.log(0.5), 0.0, 0.0], np.r_[-1.0, LINE],
                  {"left": -5.0}, "undefined at 1 value between"),
    "misplaced": ("log_sinh", "simplex", [0.0, math.log(0.5), 0.0, 0.0], np.r_[-1.0, LINE],
                  {"left": -5.0}, "the censoring of 1 value disagrees"),
    "few distinct": ("yeo_johnson", "simplex", [1.0, 2.0, 0.0], [1.0, 2.0, 2.0, 3.0, 3.0, 4.0],
                     {}, "only 4 distinct"),
}  # fmt: skip


@pytest.mark.parametrize("case", CASES)
def test_each_reason_is_reported(case):
    family, method, search, data, thresholds, phrase = CASES[case]
    problems = ferrule.fit_problems(family, search, data, method=method, **thresholds)
    assert any(phrase in p for p in problems), problems


def test_a_good_optimum_has_no_problems():
    fit = ferrule.fit(SMOOTH, seed=1)
    assert fit.valid and fit.problems == ()
    again = ferrule.fit_problems(
        "yeo_johnson", fit.search, SMOOTH, method="nelder-mead", scale=fit.scale
    )
    assert again == ()


def test_limit_reached_is_a_problem_and_a_convergence_warning():
    with pytest.warns(ferrule.ConvergenceWarning, match="stopped at its limit after"):
        fit = ferrule.fit(SMOOTH, "sinh_asinh", method="sce", max_eval=50, seed=1, fast=True)
    assert fit.limit_reached and not fit.converged and not fit.valid
    assert "the optimiser stopped at its limit before converging" in fit.problems
    assert fit.count > 50


def test_an_invalid_fit_warns_with_its_reasons():
    with pytest.warns(ferrule.InvalidFitWarning, match="only 3 distinct uncensored values"):
        fit = ferrule.fit([1.0, 1.0, 2.0, 2.0, 3.0, 3.0], seed=1)
    assert not fit.valid and fit.warnings[-1].endswith(fit.problems[-1])


@pytest.mark.parametrize(
    ("search", "options", "words"),
    [([1.0, 0.0, 0.0, 0.0], {}, "have 3 entries, got 4"),
     ([1.0, 0.0, 0.0], {"left": 5.0, "right": 1.0}, "must be below the right one"),
     ([1.0, 0.0, 0.0], {"scale": -0.1}, "scale must be a positive finite number"),
     ([1.0, 0.0, 0.0], {"left": None}, "the left threshold must be a number")],
    ids=["search length", "thresholds", "scale", "threshold type"],
)  # fmt: skip
def test_unusable_arguments_are_refused(search, options, words):
    with pytest.raises((ValueError, TypeError), match=words):
        ferrule.fit_problems("yjt", search, SMOOTH, method="simplex", **options)
