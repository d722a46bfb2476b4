"""Progress of a long single fit (a callback or a bar) and Ctrl-C during one."""

import signal
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import ferrule

WAIT = 120  # seconds; only reached when something is broken


def series(n, seed=0):
    return np.random.default_rng(seed).gamma(2.0, 1.5, n)


def test_a_callback_hears_growing_counts_and_changes_nothing():
    x = series(50_000)
    heard = []
    fit = ferrule.fit(x, "sinh_asinh", seed=3, progress=lambda *a: heard.append(a))
    plain = ferrule.fit(x, "sinh_asinh", seed=3)
    assert {family for family, _ in heard} == {"sinh_asinh"}
    counts = [n for _, n in heard]
    # Both candidate scales of scale="auto" report on one growing count.
    assert len(counts) > 10 and counts == sorted(set(counts))
    assert np.array_equal(fit.search, plain.search) and fit.loglik == plain.loglik


def test_an_exception_of_the_callback_stops_the_fit():
    class Enough(Exception):
        pass

    def stop(family, evaluations):
        if evaluations >= 5:
            raise Enough(family)

    with pytest.raises(Enough, match="yeo_johnson"):
        ferrule.fit(series(100_000), progress=stop)


def test_a_bar_on_request_and_none_by_default_off_a_terminal(capsys):
    x = series(2000)
    ferrule.fit(x, "yeo_johnson", progress=True)
    assert "fitting Yeo-Johnson" in capsys.readouterr().err
    ferrule.fit(series(200_000), "yeo_johnson")  # long, but standard error is no terminal
    assert capsys.readouterr().err == ""


@pytest.mark.parametrize("progress", [1, "yes", [print]])
def test_progress_of_another_kind_is_refused(progress):
    with pytest.raises(TypeError, match="progress must be"):
        ferrule.fit(series(100), progress=progress)


CHILD = """
    import signal, sys
    import numpy as np
    import ferrule

    signal.signal(signal.SIGINT, signal.default_int_handler)
    x = np.random.default_rng(0).gamma(2.0, 1.5, 200_000)
    def started(family, evaluations):
        if evaluations >= 3:
            print("STARTED", flush=True)
    ferrule.fit(x, "log_sinh", left=0.0, seed=1, max_eval=10**7, progress=started)
    print("FINISHED", flush=True)
"""


def test_ctrl_c_stops_a_long_fit():
    with subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(CHILD)],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
    ) as child:  # fmt: skip
        try:
            assert child.stdout.readline().strip() == "STARTED"
            child.send_signal(signal.SIGINT)
            out, err = child.communicate(timeout=WAIT)
        finally:
            child.kill()
    assert "FINISHED" not in out
    assert err.rstrip().splitlines()[-1] == "KeyboardInterrupt"
