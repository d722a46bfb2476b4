"""Ctrl-C during a threaded grid fit, and the progress bar of a long one."""

import json
import re
import signal
import subprocess
import sys
import textwrap
import threading
import warnings

import numpy as np
import pytest

import ferrule

WAIT = 120  # seconds; only reached when something is broken

CHILD = """
    import json, signal
    import numpy as np
    import ferrule

    signal.signal(signal.SIGINT, signal.default_int_handler)
    values = np.random.default_rng(0).gamma(2.0, 1.5, (3000, 400))
    try:
        ferrule.fit_grid(values, seed=5, n_jobs=2, progress=True)
    except ferrule.GridFitInterrupted as stopped:
        partial = stopped.partial
        k = int(partial.fitted.sum())
        again = ferrule.fit_grid(values[:k], seed=5, n_jobs=1, progress=False)
        same = all(
            np.array_equal(getattr(partial, name)[:k], getattr(again, name), equal_nan=True)
            for name in ("mu", "sigma", "search", "loglik", "count", "seed", "valid")
        )
        print("RESULT " + json.dumps({
            "fitted": partial.fitted.tolist(), "same": same,
            "reasons": sorted(set(partial.reason[k:].tolist())),
            "nan": bool(np.isnan(partial.mu[k:]).all()),
            "is_keyboard_interrupt": isinstance(stopped, KeyboardInterrupt),
        }), flush=True)
        raise
    print("RESULT finished", flush=True)
"""


def watch_bar(stream, seen, done_cells):
    """Reads the child's standard error (a tqdm bar); flags when cells are done."""
    text = ""
    while chunk := stream.read(1):
        text += chunk
        counts = re.findall(r"(\d+)/3000", text[-200:])
        if counts and int(counts[-1]) >= 3:
            done_cells.set()
    seen.append(text)


def test_sigint_keeps_the_finished_cells(tmp_path):
    seen, done_cells = [], threading.Event()
    with subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(CHILD)],
        cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
    ) as child:  # fmt: skip
        reader = threading.Thread(target=watch_bar, args=(child.stderr, seen, done_cells))
        reader.start()
        try:
            assert done_cells.wait(WAIT), "the child never reported finished cells"
            child.send_signal(signal.SIGINT)
            # Standard error belongs to the reader thread alone: wait, then read stdout.
            child.wait(timeout=WAIT)
            out = child.stdout.read()
        finally:
            child.kill()
            reader.join(WAIT)
    # The interrupt still ends the script (Python exits by the signal itself only for a
    # KeyboardInterrupt of the exact class; a subclass exits with status 1).
    assert child.returncode == 1, seen
    assert (
        seen[0]
        .rstrip()
        .splitlines()[-1]
        .startswith("ferrule._grid.errors.GridFitInterrupted: grid fit interrupted after")
    )
    (line,) = [line for line in out.splitlines() if line.startswith("RESULT ")]
    result = json.loads(line[len("RESULT ") :])
    fitted = result["fitted"]
    k = sum(fitted)
    assert 3 <= k < 3000
    assert fitted == [True] * k + [False] * (3000 - k)
    assert result["same"] and result["nan"] and result["is_keyboard_interrupt"]
    assert result["reasons"] == ["not fitted: the grid fit was interrupted first"]


def test_a_progress_bar_is_shown_when_asked(capsys):
    values = np.random.default_rng(0).gamma(2.0, size=(4, 100))
    ferrule.fit_grid(values, seed=1, progress=True)
    assert "4/4" in capsys.readouterr().err
    ferrule.fit_grid(values, seed=1, progress=False)
    ferrule.fit_grid(values, seed=1)  # small, and not on a terminal
    assert capsys.readouterr().err == ""


def test_progress_without_tqdm_says_what_to_install(monkeypatch):
    monkeypatch.setitem(sys.modules, "tqdm", None)
    monkeypatch.setitem(sys.modules, "tqdm.auto", None)
    values = np.random.default_rng(0).gamma(2.0, size=(2, 100))
    with pytest.raises(ImportError, match=r"ferrule\[progress\]"):
        ferrule.fit_grid(values, seed=1, progress=True)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert ferrule.fit_grid(values, seed=1).fitted.all()
