"""The kernel module and the kestrel classes run the same core: the same fits bit for bit,
the same console lines; and a grid fit on any number of threads writes exactly what a
serial one writes."""

import json
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

from ferrule import _core, kestrel

FAMILIES = {info.key: info for info in _core.FAMILIES}


def series(kind, seed, n=120):
    rng = np.random.default_rng(seed)
    if kind == "rain":
        return np.round(np.maximum(rng.gamma(0.8, 4.0, size=n) - 1.0, 0.0), 1)
    if kind == "flow":
        return rng.lognormal(1.0, 0.7, size=n)
    return rng.standard_normal(n) ** 3


CASES = [
    pytest.param(key, kind, seed, rescale, prior, id=f"{key}-{kind}-{seed}-{rescale:d}{prior:d}")
    for key in FAMILIES
    for kind in ("rain", "flow", "signed")
    for seed in (1, 2)
    for rescale, prior in ((False, False), (True, True))
    if not (key == "log_sinh" and kind == "signed")
]


def thresholds(kind):
    return (0.0, np.inf) if kind != "signed" else (-1.0, 4.0)


@pytest.mark.parametrize(("key", "kind", "seed", "rescale", "prior"), CASES)
def test_nelder_mead_fits_and_lines_equal_the_kestrel_classes(
    key, kind, seed, rescale, prior, capfd
):
    info = FAMILIES[key]
    x = series(kind, seed)
    left, right = thresholds(kind)
    scale, shift = (0.5, 0.25 if info.has_shift else 0.0) if rescale else (1.0, 0.0)
    kwargs = {"scale": scale} | ({"shift": shift} if info.has_shift else {})
    model = getattr(kestrel, info.kestrel_class)(**kwargs)
    capfd.readouterr()
    model.optim_params(x, left, right, rescale, prior)
    printed = capfd.readouterr().out.splitlines()
    got = _core.fit(
        key,
        x,
        left,
        right,
        method="nelder_mead",
        rescale=rescale,
        scale=scale,
        shift=shift,
        prior=prior,
        exact=True,
    )
    assert got["search"].tolist() == model.get_optimised_params()
    assert got["natural"].tolist() == model.get_distribution_params()
    assert got["messages"] == printed


@pytest.mark.parametrize("key", FAMILIES)
def test_log_likelihood_is_the_sum_of_the_kestrel_terms(key):
    # Each term as log_density gives it, added in index order, is the kernel's likelihood.
    info = FAMILIES[key]
    x = series("rain", 5, n=60)
    model = getattr(kestrel, info.kestrel_class)()
    rng = np.random.default_rng(3)
    for _ in range(5):
        q = np.array(info.search_lower) + rng.random(len(info.search_lower)) * (
            np.array(info.search_upper) - np.array(info.search_lower)
        )
        total = 0.0
        for value in x:
            total = model.log_density(q, value, 0.0, np.inf, False) + total
        assert _core.log_likelihood(key, q, x, 0.0, np.inf, exact=True) == total


GRID_SCRIPT = """
import json, os, sys
import numpy as np
import ferrule.kestrel as k
rng = np.random.default_rng(11)
values = np.round(np.maximum(rng.gamma(0.8, 4.0, size=(5, 7, 60)) - 1.0, 0.0), 1)
values[1, 2, 5] = -1.0  # a value below the left threshold: a warning line for that cell
mask = np.zeros((5, 7), dtype=bool)
mask[0, 3] = mask[4, 6] = True
ones = np.ones((5, 7))
grid = k.PyYJTvectorized(ones, 0.5 * ones, 0.0 * ones)
getattr(grid, sys.argv[1])(values, 0.0, np.inf, mask, True, False)
maps = grid.transform_many(values)
sys.stdout.flush()
os.write(1, (json.dumps({"params": grid.get_optimised_params().tolist(),
                         "maps": maps.tolist()}, allow_nan=True) + "\\n").encode())
"""


@pytest.mark.parametrize("method", ["optim_params", "optim_paramsSCE"])
def test_grid_fits_on_two_threads_write_and_store_what_one_thread_does(method, tmp_path):
    runs = []
    for threads in ("1", "2"):
        result = subprocess.run(
            [sys.executable, "-c", textwrap.dedent(GRID_SCRIPT), method],
            capture_output=True,
            timeout=600,
            env={**os.environ, "OMP_NUM_THREADS": threads},
        )
        assert result.returncode == 0, result.stderr.decode()
        runs.append(result.stdout)
    assert runs[0] == runs[1]
    lines = runs[0].decode().splitlines()
    assert sum(line.startswith("iterations: ") for line in lines) == 33
    assert any("values below" in line for line in lines)
    stored = json.loads(lines[-1])
    assert np.isnan(np.array(stored["params"])[[0, 4], [3, 6]]).all()
