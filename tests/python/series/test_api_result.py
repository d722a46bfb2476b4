"""Fit as a value: save and load (dict, JSON, pickle), repr, summary, plot."""

import json
import pickle
import subprocess
import sys

import numpy as np
import pytest
from api_support import flows, quiet_fit, rain

import ferrule


def _examples():
    propagated = ferrule.fit(np.r_[flows(), np.nan], nan_policy="propagate", seed=4)
    return {
        "plain": ferrule.fit(flows(), seed=4),
        "censored with prior": quiet_fit(rain(), "sinh_asinh", left=0.0, prior=True, seed=4),
        "auto": quiet_fit(rain(), "auto", left=0.0, seed=4),
        "propagated NaN": propagated,
    }


EXAMPLES = _examples()


@pytest.mark.parametrize("name", EXAMPLES)
def test_dict_json_and_pickle_round_trips(name):
    fit = EXAMPLES[name]
    text = json.dumps(fit.to_dict(), allow_nan=False)  # plain JSON: no NaN or Infinity
    for back in (
        ferrule.Fit.from_dict(json.loads(text)),
        pickle.loads(pickle.dumps(fit)),
    ):
        assert back == fit
        assert back.search.tobytes() == fit.search.tobytes()
        assert dict(back.params) == pytest.approx(dict(fit.params), nan_ok=True)
        assert len(back.alternatives) == len(fit.alternatives)
        x = np.linspace(0.0, 10.0, 9)
        assert np.array_equal(back.cdf(x), fit.cdf(x), equal_nan=True)


def test_saved_layout():
    data = EXAMPLES["plain"].to_dict()
    assert data["format"] == "ferrule.Fit" and data["version"] == 1
    assert data["left"] == "-inf" and data["right"] == "inf"
    assert isinstance(data["search"], list) and isinstance(data["params"], dict)
    nan = EXAMPLES["propagated NaN"].to_dict()
    assert nan["mu"] == "nan" and nan["problems"]


@pytest.mark.parametrize(
    ("change", "words"),
    [({"format": "other"}, "not a saved ferrule fit"), ({"version": 2}, "format version 2"),
     ({"mu": "lots"}, "not a number")],
)  # fmt: skip
def test_from_dict_refuses_other_layouts(change, words):
    data = {**EXAMPLES["plain"].to_dict(), **change}
    with pytest.raises(ValueError, match=words):
        ferrule.Fit.from_dict(data)


def test_from_dict_refuses_what_is_not_a_whole_fit():
    text = json.dumps(EXAMPLES["plain"].to_dict())
    with pytest.raises(ValueError, match="a str, not a mapping"):
        ferrule.Fit.from_dict(text)  # the JSON text itself rather than what it holds
    data = EXAMPLES["plain"].to_dict()
    del data["mu"], data["seed"]
    with pytest.raises(ValueError, match="lacks the field.s. mu, seed"):
        ferrule.Fit.from_dict(data)


def test_fits_are_immutable_and_unhashable():
    fit = EXAMPLES["plain"]
    with pytest.raises(AttributeError):
        fit.mu = 0.0
    with pytest.raises(TypeError):
        fit.params["lambda"] = 0.0
    with pytest.raises(ValueError):
        fit.search[0] = 0.0
    with pytest.raises(TypeError):
        hash(fit)
    assert fit != EXAMPLES["auto"]


def test_repr_and_summary_show_the_fit():
    fit = EXAMPLES["censored with prior"]
    text = repr(fit)
    assert text.startswith("Fit(family='sinh_asinh', method='shuffled_complex_evolution', delta=")
    assert f"n_left={fit.n_left}" in text and f"valid={fit.valid}" in text
    summary = fit.summary()
    assert summary.splitlines()[0].startswith("sinh-arcsinh fit by shuffled complex evolution (")
    for label in ("values", "thresholds", "delta", "epsilon", "mu", "sigma", "loglik",
                  "log posterior", "AIC / BIC", "seed", "valid"):  # fmt: skip
        assert any(line.strip().startswith(label) for line in summary.splitlines()), label
    assert f"{fit.n_left} left-censored" in summary


def test_plot_draws_density_qq_and_log_exceedance():
    pytest.importorskip("matplotlib")
    x = rain()
    figure = EXAMPLES["censored with prior"].plot(x)
    density, qq, exceedance = figure.axes
    assert exceedance.get_yscale() == "log"
    uncensored = int(np.sum(x > 0.0))
    assert len(qq.lines[0].get_xdata()) == uncensored
    assert density.lines and density.patches


@pytest.mark.parametrize(
    ("data", "left", "uncensored"),
    [(np.r_[rain(), -np.inf], 0.0, int(np.sum(rain() > 0.0))),  # -inf lies below the threshold
     (np.zeros(10), 0.0, 0)],  # censored throughout
    ids=["infinite value", "all censored"],
)  # fmt: skip
def test_plot_draws_series_at_the_edges_without_warnings(data, left, uncensored):
    pytest.importorskip("matplotlib")
    fit = quiet_fit(data, "yeo_johnson", left=left, seed=1)
    density, qq, exceedance = fit.plot(data).axes  # warnings are errors here
    assert len(qq.lines[0].get_xdata()) == uncensored
    assert exceedance.get_yscale() == "log"


@pytest.mark.parametrize("data", [[], [np.nan, np.nan]], ids=["empty", "all NaN"])
def test_plot_without_values_says_so(data):
    pytest.importorskip("matplotlib")
    with pytest.raises(ValueError, match="no values to plot"):
        EXAMPLES["plain"].plot(data)


def test_plot_without_matplotlib_says_how_to_get_it():
    code = (
        "import sys; sys.modules['matplotlib'] = None\n"
        "import numpy as np, ferrule\n"
        "x = np.random.default_rng(0).gamma(2.0, size=100)\n"
        "try:\n    ferrule.fit(x, seed=1).plot(x)\n"
        "except ImportError as e:\n    print(e)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert "pip install 'ferrule[plot]'" in out.stdout
