"""Every reason the library gives for an invalid fit, each from a case built to cause it."""

import math
import warnings
from importlib import resources

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


# Each family's degenerate limit, and a model that cannot give its own data back.
LIMITS = {
    "log-sinh linear": ("log_sinh", "sce", [9.9, -0.01, 0.5, 0.0], LINE, {"left": 0.0},
                        "linear limit"),
    "sinh-arcsinh delta -> 0": ("sinh_asinh", "sce", [0.001, 0.1, 0.1, 0.5], SMOOTH, {},
                                "limit delta -> 0"),
    "Jones-Pewsey delta -> 0": ("jones_pewsey", "sce", [0.001, 0.1, 0.1, 0.5], SMOOTH, {},
                                "limit delta -> 0"),
    "sinh-arcsinh delta -> inf": ("sinh_asinh", "sce", [0.999, 0.1, 0.1, 0.5], SMOOTH, {},
                                  "limit delta -> inf"),
    # The normal centred below T(-inf) = -1/(lambda - 2), sigma enormous.
    "Yeo-Johnson extreme power": ("yeo_johnson", "simplex", [4.3, -6.0, 28.0], SMOOTH * 100, {},
                                  "extreme power"),
    # T of the largest values rounds onto T(+inf) = 1/51: their inverse is inf.
    "no round trip": ("yeo_johnson", "simplex", [-51.0, 0.01, -3.0], LINE * 10, {},
                      "does not give its own data back"),
}  # fmt: skip


# Degenerate models are problems as any other reason.
@pytest.mark.parametrize("case", [*CASES, *LIMITS])
def test_each_reason_is_reported(case):
    family, method, search, data, thresholds, phrase = {**CASES, **LIMITS}[case]
    problems = ferrule.fit_problems(family, search, data, method=method, **thresholds)
    assert any(phrase in p for p in problems), problems


def test_rounding_duplicates_are_one_value_and_do_not_saturate():
    # Four values, each also as a sum in another order (0.1 + 0.2 is 0.30000000000000004).
    data = np.array([0.3, 0.1 + 0.2, 0.6, 0.1 + 0.2 + 0.3, 0.7, 0.3 + 0.4, 1.1, 0.4 + 0.7])
    problems = ferrule.fit_problems("yeo_johnson", [1.0, 0.5, -1.0], data, method="simplex")
    assert problems == ("only 4 distinct uncensored values (at least 5 are needed)",)


def real(name, column):
    datasets = pytest.importorskip("statsmodels.datasets")
    return getattr(datasets, name).load_pandas().data[column].to_numpy(float)


def test_a_constrained_optimum_on_the_box_edge_is_valid_with_a_note():
    # Strike durations (statsmodels strikes.csv), no censoring: log-sinh's best epsilon is
    # the smallest its box allows, the likelihood falling inward.
    fit = ferrule.fit(real("strikes", "duration"), "log_sinh", left=0.0, seed=1)
    assert fit.search[1] == pytest.approx(-10.0)
    assert fit.valid and fit.problems == ()
    assert any("sits at its lower bound" in n and "constrained optimum" in n for n in fit.notes)
    assert any(
        line.split() == ["note", *fit.notes[0].split()] for line in fit.summary().splitlines()
    )


def seattle():
    text = (resources.files("ferrule") / "data" / "seattle_precipitation.csv").read_text()
    return np.array([float(line.split(",")[1]) for line in text.splitlines()[1:]])


# One-run fits of real series that end at a degenerate limit: the Nile's annual flows
# unscaled (lambda 4.34, sigma 2.8e12), and the bundled Seattle rain with the seed that
# took log-sinh to lambda 2.2e4, 119 log-lik units below the optimum.
ONE_RUN_LIMITS = {
    "nile": (lambda: real("nile", "volume"), "yeo_johnson", {"scale": 1.0}, "extreme power"),
    "seattle": (seattle, "log_sinh", {"left": 0.0, "seed": 2894933353}, "linear limit"),
}


@pytest.mark.parametrize("case", ONE_RUN_LIMITS)
def test_one_run_fits_at_a_degenerate_limit_are_flagged(case):
    data, family, options, phrase = ONE_RUN_LIMITS[case]
    with pytest.warns(ferrule.InvalidFitWarning, match=phrase):
        fit = ferrule.fit(data(), family, fast=True, **options)
    assert not fit.valid
    assert ferrule.fit(data(), family, **options).valid  # the thorough fit escapes it


def test_grid_verdicts_and_notes_are_those_of_single_fits():
    strikes = real("strikes", "duration")
    rng = np.random.default_rng(4)
    few = np.resize([1.0, 2.0, 3.0, 4.0], strikes.size)  # four distinct values: invalid
    values = np.stack([strikes, rng.gamma(2.0, 3.0, strikes.size), few])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        grid = ferrule.fit_grid(values, family="log_sinh", left=0.0, seed=2)
        ones = [
            ferrule.fit(row, "log_sinh", left=0.0, seed=int(seed), scale=float(scale))
            for row, seed, scale in zip(values, grid.seed, grid.scale, strict=True)
        ]
    assert [(grid.valid[i], grid.reason[i], grid.notes[i]) for i in range(3)] == [
        (one.valid, "; ".join(one.problems), "\n".join(one.notes)) for one in ones
    ]
    assert grid.notes[0] and grid.valid[0] and not grid.valid[2]


def test_mass_beyond_a_bounded_range_is_a_note_of_a_valid_fit():
    # Lognormal flows: Yeo-Johnson's lambda < 0 bounds the range above; the renormalised
    # distribution is a proper model and the share cut off is noted.
    fit = ferrule.fit(np.random.default_rng(1).lognormal(0.0, 1.0, 150), seed=1)
    assert fit.valid and fit.params["lambda"] < 0.0
    assert any("of its probability beyond the transformation's range" in n for n in fit.notes)
