"""Degenerate limits on real series from statsmodels' packaged data files
(datasets/elnino/elnino.csv, each month's first 40 years; datasets/engel/engel.csv;
datasets/nile/nile.csv): sinh-arcsinh's ridges towards epsilon -> -inf and inf, where a fit
is that limit, not valid, while a proper optimum stays valid; the ridges the likelihood is
probed along (Yeo-Johnson's lambda -> -inf, sinh-arcsinh's delta -> inf); Yeo-Johnson's
normal with no mass inside its range, refused."""

import warnings

import numpy as np
import pytest

import ferrule

datasets = pytest.importorskip("statsmodels.datasets")

LIMIT = "the fit is sinh-arcsinh's limit epsilon -> -inf"
PROBED = "the fit lies on the way up towards"


def elnino(month):
    return datasets.elnino.load_pandas().data[month].to_numpy(float)[:40]


@pytest.mark.parametrize(
    ("series", "seed", "limit"),
    [(lambda: elnino("FEB"), 1, True),  # ends part-way up the ridge, 0.0001 from its limit
     (lambda: elnino("NOV"), 2, True),
     (lambda: elnino("MAR"), 1, True),  # epsilon on its box edge
     (lambda: datasets.engel.load_pandas().data["income"].to_numpy(float), 1, False),
     (lambda: datasets.nile.load_pandas().data["volume"].to_numpy(float), 1, False)],
)  # fmt: skip
def test_a_fit_on_the_epsilon_ridge_is_its_limit_and_a_proper_optimum_is_valid(series, seed, limit):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        fit = ferrule.fit(series(), "sinh_asinh", seed=seed)
    assert fit.valid is not limit
    assert any(problem.startswith(LIMIT) for problem in fit.problems) is limit


@pytest.mark.parametrize(
    ("family", "month", "search", "method", "on_ridge"),
    [  # where the default fits ended: the likelihood still rises as the shape moves further
     ("yeo_johnson", "AUG", [-13.46157009, 0.07428552, -18.52911007], "nelder_mead", True),
     ("sinh_asinh", "SEP", [0.8773392, -0.9963613, -0.853351, 0.0688989], "sce", True),
     ("sinh_asinh", "SEP", [0.9373929, -0.9989944, -0.4243433, 0.0449119], "sce", True),
     # a proper optimum, however flat: lambda doubled, mu and sigma settled, loses 1.03
     ("yeo_johnson", "JAN", [-11.42870817, 0.08749888, -17.83049715], "nelder_mead", False)],
)  # fmt: skip
def test_a_point_is_on_a_probed_ridge_where_the_likelihood_does_not_fall_beyond_it(
    family, month, search, method, on_ridge
):
    problems = ferrule.fit_problems(family, search, elnino(month), method=method, scale=0.1)
    assert any(p.startswith(PROBED) for p in problems) is on_ridge, problems


def test_the_default_fit_prefers_a_proper_optimum_to_a_probed_ridge():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ferrule.FerruleWarning)
        august = ferrule.fit(elnino("AUG"), "yeo_johnson", seed=1)
        september = [ferrule.fit(elnino("SEP"), "sinh_asinh", seed=s) for s in (1, 2)]
    # August: the proper optimum at lambda = 0.876 (log-lik -60.30), not lambda = -13.5 on
    # the ridge (-55.27, called valid before).
    assert august.valid and august.params["lambda"] > 0.0, august.problems
    # September: no proper optimum found; every run ends on the ridge at a place set by its
    # seed.
    for fit in september:
        assert not fit.valid and any(p.startswith(PROBED) for p in fit.problems), fit.problems


def test_epsilon_on_its_box_edge_is_no_constrained_optimum():
    # El Nino's March optimum within the box: epsilon = -22.3 at the edge, the likelihood
    # still rising out of it.
    problems = ferrule.fit_problems(
        "sinh_asinh", [0.9255, -0.999, -0.8965, 0.0574], elnino("MAR"),
        method="sce", scale=0.1,
    )  # fmt: skip
    assert [p for p in problems if p.startswith(LIMIT)], problems


def test_the_limit_gain_is_the_likelihood_of_the_limit_matched_on_the_data():
    # On a ridge point the matched limit is as good as the fit; at a proper optimum it is
    # well below.
    from ferrule import _core

    x = elnino("FEB") * 0.1
    on_ridge = _core.fit_facts("sinh_asinh", [0.8913, -0.9983, -0.9971, 0.2517], x, -np.inf,
                               np.inf)  # fmt: skip
    assert on_ridge["limit_gain"][0] > -0.01 and on_ridge["limit"][0] == 2
    proper = _core.fit_facts("sinh_asinh", [0.651, -0.8612, -0.1711, 0.113],
                             datasets.nile.load_pandas().data["volume"].to_numpy(float) * 1e-3,
                             -np.inf, np.inf)  # fmt: skip
    assert proper["limit_gain"][0] < -0.5


def test_yeo_johnson_refuses_a_normal_with_no_mass_inside_its_range():
    # Where shuffled complex evolution ended on the Nile's flows at scale 0.001: lambda =
    # -77.6, mu = 99.2 far beyond the range's end 1/77.6, sigma = 4e-44. Renormalised, the
    # likelihood there was rounding of squared scores of 1e45: a log-likelihood of 9e76.
    x = datasets.nile.load_pandas().data["volume"].to_numpy(float)
    problems = ferrule.fit_problems(
        "yeo_johnson", [-77.57219745, 99.21470482, -99.84060187], x, method="sce",
        scale=0.001,
    )  # fmt: skip
    assert any("uses to refuse parameters" in p for p in problems), problems
