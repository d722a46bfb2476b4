"""The benchmark suite runs, reports every group, and measures what the library computes.

Timings are read by people from the suite's output; no test here asserts on one.
"""

import importlib.util
import os
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

from ferrule import kestrel

BENCHMARKS = Path(__file__).resolve().parents[2] / "benchmarks"
PEERS_MISSING = [
    name for name in ("scipy", "spotpy", "statsmodels") if importlib.util.find_spec(name) is None
]
needs_peers = pytest.mark.skipif(
    bool(PEERS_MISSING),
    reason=f"benchmark peers not installed ({', '.join(PEERS_MISSING)}): "
    "pip install -r benchmarks/requirements.txt, or run scripts/bench.sh",
)
# The quick run builds its C++ microbenchmark with meson and g++, which would run with the
# sanitizer runtimes preloaded too; the plain run of this suite covers it.
not_sanitized = pytest.mark.skipif(
    os.environ.get("FERRULE_SANITIZED") == "1",
    reason="the benchmark run builds C++ with meson; not under preloaded sanitizers",
)
# A table row with a ratio, its target and the mark: "12.3x  >=10x  PASS".
RATIO_ROW = re.compile(r"\s\d+(\.\d+)?x\s+(>=|>|<=)\d+(\.\d+)?x\s+(PASS|MISS)\b")


@pytest.fixture(scope="module")
def suite_modules():
    sys.path.insert(0, str(BENCHMARKS))
    yield
    sys.path.remove(str(BENCHMARKS))


@pytest.fixture(scope="module")
def quick_output(tmp_path_factory):
    result = subprocess.run(
        [sys.executable, str(BENCHMARKS / "run.py"), "--quick"],
        cwd=tmp_path_factory.mktemp("bench"),
        capture_output=True,
        text=True,
        timeout=900,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


def groups(output):
    """Group name -> its lines, split at the runner's "#### name" headings."""
    found = {}
    for chunk in output.split("\n#### ")[1:]:
        name, _, body = chunk.partition("\n")
        found[name] = body.splitlines()
    return found


@needs_peers
@not_sanitized
def test_quick_run_prints_ratio_rows_for_every_group(quick_output):
    found = groups(quick_output)
    assert list(found) == [
        "1. single fits",
        "2. grid fits",
        "3. maps of a long series",
        "4. C++ likelihood",
        "5. grid scaling",
        "6. standardised index",
        "7. continuous series",
        "8. reaching the optimum",
        "9. monthly grid",
    ]
    for name, lines in found.items():
        assert any(RATIO_ROW.search(line) for line in lines), name


@needs_peers
@not_sanitized
def test_quick_run_scales_the_public_grid_fit_with_the_same_numbers(quick_output):
    lines = groups(quick_output)["5. grid scaling"]
    assert "== grid scaling: 20 x 20 cells of 365 days, Nelder-Mead, left-censored at 0 ==" in lines
    rows = [line.strip().split("  ")[0] for line in lines if re.search(r"\d\.\d+x\s", line)]
    cluster = importlib.util.find_spec("distributed") is not None
    assert rows == ["fit 1 thread / fit 2 threads"] + (
        ["fit 1 thread / fit dask 2 workers"] if cluster else []
    )
    # The script stops with an error when a run's numbers differ from the serial fit's.
    assert any(line.startswith("   every run gave the serial run's numbers") for line in lines)


@needs_peers
@not_sanitized
def test_quick_run_reports_the_optimum_table_for_every_family_and_method(quick_output):
    lines = groups(quick_output)["8. reaching the optimum"]
    rows = [line.split()[:2] for line in lines if RATIO_ROW.search(line)]
    families = ["yeo_johnson", "log_sinh", "sinh_asinh", "jones_pewsey"]
    methods = ["nelder_mead", "shuffled_complex_evolution"]
    assert rows == [[f, m] for f in families for m in methods]
    assert any(line.strip().startswith("default misses: ") for line in lines)


@needs_peers
@not_sanitized
def test_quick_run_covers_every_optimiser_at_every_size(quick_output):
    lines = groups(quick_output)["1. single fits"]
    titles = [line for line in lines if line.startswith("== single fits")]
    assert len(titles) == 3
    assert ["Nelder-Mead", "differential evolution", "shuffled complex evolution"] == [
        re.match(r"== single fits: (.+), peer", title).group(1) for title in titles
    ]
    rows = [line.split()[0] for line in lines if RATIO_ROW.search(line)]
    assert rows == ["20", "100"] * 3


@needs_peers
@not_sanitized
def test_quick_run_header_and_silenced_console(quick_output):
    head = quick_output.splitlines()[:3]
    assert head[0].startswith("machine: ") and " cores " in head[0]
    assert re.search(r"numpy \d", head[2]) and re.search(r"scipy \d", head[2])
    # The fits' own console lines stay out of the tables.
    assert "iterations:" not in quick_output
    assert "DE converged" not in quick_output


@needs_peers
@pytest.mark.parametrize(
    ("q", "extra"),
    [
        ((1.0, 0.01, 0.01), 1e6),  # the optimisers' start point
        ((0.26, 0.68, 0.59), 1e6),  # near the optimum of a rain series
        ((5e-8, 1.0, 0.0), 1e6),  # logarithm branch at 0
        ((-0.7, 0.4, -0.2), 1e25),  # T(inf) finite: 1e25 rounds onto it yet stays uncensored
        ((-40.0, 0.02, -3.0), 1e6),  # strongly saturating power
        ((3.0, 50.0, 2.0), 1e6),
    ],
)
def test_peer_likelihood_is_the_library_likelihood(suite_modules, q, extra):
    from _peer_likelihood import negative_log_likelihood
    from _rain import LEFT, RIGHT, rain_series

    x = np.append(rain_series(500, seed=3), extra)
    model = kestrel.PyYJT()
    library = -sum(model.log_density(np.array(q), v, LEFT, RIGHT, False) for v in x)
    # The library's normal distribution function is accurate to about 1e-7.
    assert negative_log_likelihood(q, x, LEFT, RIGHT) == pytest.approx(library, rel=1e-6)


def test_peer_maps_are_the_fits_maps_on_both_branches(suite_modules):
    from _transform_map import fitted, peers

    fit = fitted(1.0)
    peer = peers(fit)
    x = np.linspace(-30.0, 300.0, 1201)
    z = np.linspace(-6.0, 6.0, 1201)
    for name, v in (("to_normal", x), ("from_normal", z), ("cdf", x)):
        np.testing.assert_allclose(peer[name](v), getattr(fit, name)(v), rtol=1e-13, atol=1e-14)


@pytest.mark.parametrize("family", ["log_sinh", "sinh_asinh", "jones_pewsey"])
def test_peer_family_likelihoods_are_the_librarys(suite_modules, family):
    from _continuous_fits import flows
    from _peer_families import PEER_LIKELIHOODS

    from ferrule import _core

    x = flows(500)
    info = next(i for i in _core.FAMILIES if i.key == family)
    rng = np.random.default_rng(4)
    for _ in range(5):
        q = np.array(info.search_start) + 0.05 * rng.standard_normal(4)
        library = _core.log_likelihood(family, q, x, 0.0, np.inf)
        assert -PEER_LIKELIHOODS[family](q, x) == pytest.approx(library, rel=1e-12)


def test_rain_series_is_seeded_censored_at_zero_and_rounded(suite_modules):
    from _rain import rain_series

    x = rain_series(20_000, seed=5)
    np.testing.assert_array_equal(x, rain_series(20_000, seed=5))
    assert not np.array_equal(x, rain_series(20_000, seed=6))
    assert np.mean(x == 0.0) == pytest.approx(0.35, abs=0.02)
    assert x[x > 0].min() == pytest.approx(0.1)
    np.testing.assert_allclose(x * 10, np.round(x * 10), atol=1e-9)


@pytest.mark.parametrize(
    ("ratio", "target", "mark"),
    [
        (30.0, (">=", 30), "PASS"),
        (29.99, (">=", 30), "MISS"),
        (1.0, (">", 1), "MISS"),
        (1.01, (">", 1), "PASS"),
        (1.0, ("<=", 1.0), "PASS"),
        (7.3, ("<=", 1.0), "MISS"),
        (5.0, None, "-"),
    ],
)
def test_marks_compare_the_ratio_with_its_target(suite_modules, ratio, target, mark):
    from _report import target_cells

    assert target_cells(ratio, target)[1] == mark


@needs_peers
@pytest.mark.parametrize(
    ("optimiser", "n", "target"),
    [
        ("nelder-mead", 100, (">=", 30)),
        ("nelder-mead", 300, (">", 1)),
        ("nelder-mead", 2000, (">=", 3)),
        ("differential-evolution", 20, (">=", 20)),
        ("differential-evolution", 10_000, (">=", 20)),
        ("complex-evolution", 300, (">=", 10)),
    ],
)
def test_single_fit_targets(suite_modules, optimiser, n, target):
    from _single_fits import target as single_fit_target

    assert single_fit_target(optimiser, n) == target


def test_timing_takes_turns_and_respects_caps_and_budgets(suite_modules):
    from _timing import median_times

    calls = []
    first, second, third = median_times(
        (lambda: calls.append("a") or "a", 3, 10.0),
        (lambda: calls.append("b") or "b", 1, 10.0),
        (lambda: calls.append("c") or "c", 5, 0.0),  # no budget: called once all the same
    )
    assert calls == ["a", "b", "c", "a", "a"]
    assert (first.repeats, second.repeats, third.repeats) == (3, 1, 1)
    assert (first.result, second.result, third.result) == ("a", "b", "c")


def test_index_quality_places_wet_scores_above_the_peers_own_p0(suite_modules):
    from scipy import special
    from standardized_index import quality

    # A model p0 of 0.5 pooled from more values than this group's (whose share of zeros
    # is 0.3): its wet scores are exact, its zeros at the centre of the mass.
    n_wet, n_dry = 1400, 600
    u = (np.arange(n_wet) + 0.5) / n_wet
    x = np.concatenate([1.0 + u, np.zeros(n_dry)])[None, :]
    z = np.concatenate([special.ndtri(0.5 + 0.5 * u), np.full(n_dry, special.ndtri(0.25))])
    p0 = np.full(x.shape, 0.5)
    ad_fail, unscored, _, gap = quality("ferrule yjt", x, z[None, :], p0,
                                        np.ones(x.shape[1]), np.arange(x.shape[1]), p0)  # fmt: skip
    assert (ad_fail, unscored) == (0.0, 0.0)
    assert gap == pytest.approx(0.0, abs=1e-12)
    shifted = quality("ferrule yjt", x, z[None, :], p0 - 0.2, np.ones(x.shape[1]),
                      np.arange(x.shape[1]), p0)  # fmt: skip
    assert shifted[0] == 1.0


def test_seasonal_dry_chance_follows_the_generators_season(suite_modules):
    from _index_data import daily_grid, seasonal_dry_chance, true_dry_chance

    rain = daily_grid(1, 30, seed=7, sea=False)
    error = np.abs(seasonal_dry_chance(rain) - true_dry_chance(rain, 7))
    assert error.mean() < 0.02
