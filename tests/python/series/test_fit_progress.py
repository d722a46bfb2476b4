"""Progress of a long single fit (a callback or a bar) and Ctrl-C during one."""

import signal
import subprocess
import sys
import textwrap
import time

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


# A fit of 2 * 10**6 rain values that takes minutes; the child says when its optimiser has
# made its first evaluation (through the progress hook both entry points share), then is
# interrupted while it prepares start points, polishes or runs.
CHILD = """
    import contextlib, signal, sys
    import numpy as np
    import ferrule, ferrule._fitting
    from ferrule.cli import main

    @contextlib.contextmanager
    def announcing(*args):
        def heard(evaluations):
            if evaluations == 1:
                print("STARTED", flush=True)
        yield heard

    signal.signal(signal.SIGINT, signal.default_int_handler)
    ferrule._fitting.fit_progress = announcing
    rng = np.random.default_rng(0)
    x = np.maximum(rng.gamma(0.8, 4.0, 2_000_000) - 1.0, 0.0)
    if sys.argv[1] == "cli":
        np.save(sys.argv[2], x)
        sys.exit(main(["fit", sys.argv[2], "--family", "logsinh", "--left", "0", "--seed", "1"]))
    ferrule.fit(x, "log_sinh", left=0.0, seed=1)
    print("FINISHED", flush=True)
"""
STOPPED_WITHIN = 5.0  # seconds from Ctrl-C to the exit; the fit itself takes seconds more


@pytest.mark.parametrize(
    ("entry", "status", "last_line"),
    [("fit", -signal.SIGINT, "KeyboardInterrupt"), ("cli", 130, "ferrule: interrupted")],
)
def test_ctrl_c_stops_a_long_fit_within_seconds(entry, status, last_line, tmp_path):
    with subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(CHILD), entry, str(tmp_path / "x.npy")],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
    ) as child:  # fmt: skip
        try:
            assert child.stdout.readline().strip() == "STARTED"
            time.sleep(0.3)  # past the first evaluation, into the polish of the start points
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
            out, err = child.communicate(timeout=WAIT)
            took = time.monotonic() - sent
        finally:
            child.kill()
    assert "FINISHED" not in out
    assert (child.returncode, err.rstrip().splitlines()[-1]) == (status, last_line)
    assert took < STOPPED_WITHIN
