"""Ctrl-C during the location loop of a grid fit or series method.

The loop runs the pending signal handlers between two locations: an interrupt stops it
there, the locations finished before keep their results, no later location changes, and
the KeyboardInterrupt reaches the caller.
"""

import _thread
import functools
import json
import operator
import queue
import signal
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest
from grid_cases import GRIDS, series
from thread_support import LEFT, RIGHT, WAIT, ctrl_c_raises, is_busy

FITS = ["optim_params", "optim_paramsDE", "optim_paramsSCE"]
SERIES = ["transform_many", "inv_transform_many", "rescale_many", "inv_rescale_many"]

# ---- a real SIGINT to a child process ---------------------------------------------------

CHILD = """
    import json, signal
    import numpy as np
    import ferrule.kestrel as k

    # A child of a runner that ignores Ctrl-C would inherit that; restore Python's handler.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    n = {n}
    g = k.PyYJTvectorized(np.full((1, n), 0.5), np.ones((1, n)), np.zeros((1, n)))
    v = np.random.default_rng(0).gamma(2.0, 1.5, (1, n, {nvals}))
    try:
        g.{method}(v, 0.0, 1e9, False, False, False)
    except KeyboardInterrupt:
        opt = g.get_optimised_params()[0]
        fitted = np.isfinite(opt).all(axis=1).tolist()
        untouched = np.isnan(opt).all(axis=1).tolist()
        print("RESULT " + json.dumps([fitted, untouched]), flush=True)
        raise
    print("RESULT finished", flush=True)
"""

# Locations and values per location such that a location takes some 10 to 100 ms and
# the whole fit half a minute or more: the interrupt comes long before its end.
SIZES = {"optim_params": (2000, 400), "optim_paramsDE": (400, 30), "optim_paramsSCE": (1200, 100)}
STARTED = 3  # locations fitted (their "iterations: " lines seen) before the signal is sent


def read_lines(stream, lines, counted):
    """Collects the child's output; tells how many locations printed their count line."""
    for line in stream:
        lines.append(line)
        if line.startswith("iterations: "):
            counted.put(line)


@pytest.mark.parametrize("method", FITS)
def test_sigint_stops_a_grid_fit_between_locations(method, tmp_path):
    n, nvals = SIZES[method]
    code = textwrap.dedent(CHILD.format(n=n, nvals=nvals, method=method))
    lines, counted = [], queue.Queue()
    with subprocess.Popen(
        [sys.executable, "-c", code],
        cwd=tmp_path,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    ) as child:
        reader = threading.Thread(target=read_lines, args=(child.stdout, lines, counted))
        reader.start()
        try:
            for _ in range(STARTED):
                counted.get(timeout=WAIT)
            child.send_signal(signal.SIGINT)
            child.wait(timeout=WAIT)
        finally:
            child.kill()  # only if still running after a failure above
            reader.join(WAIT)
            err = child.stderr.read()
    # Python ends on an uncaught KeyboardInterrupt by the signal itself.
    assert child.returncode == -signal.SIGINT, err
    assert err.rstrip().endswith("KeyboardInterrupt")
    (result,) = [line for line in lines if line.startswith("RESULT ")]
    fitted, untouched = json.loads(result[len("RESULT ") :])
    k = sum(fitted)
    # A leading run of fitted locations, then locations never fitted.
    assert fitted == [True] * k + [False] * (n - k)
    assert untouched == [not f for f in fitted]
    assert STARTED <= k < n
    # Each fitted location printed its count; none after the interrupt started a fit.
    assert sum(line.startswith("iterations: ") for line in lines) == k


# ---- an interrupt already pending when the loop starts ----------------------------------


def call_with_ctrl_c_pending(call):
    """Calls `call` with a Ctrl-C pending. map calls both from C, so no Python code runs
    in between that would handle the interrupt first: only a check inside `call` can."""
    with ctrl_c_raises():
        list(map(operator.call, [_thread.interrupt_main, call]))


def raised_in_kestrel(error):
    """Whether `error` came out of the extension, rather than after a call of it."""
    tb = error.__traceback__
    while tb is not None:
        if tb.tb_frame.f_code.co_filename.endswith("kestrel.pyx"):
            return True
        tb = tb.tb_next
    return False


@pytest.mark.parametrize("grid", GRIDS, ids=lambda g: g.name)
@pytest.mark.parametrize("method", FITS + SERIES)
def test_a_pending_interrupt_stops_the_location_loop(grid, method):
    obj, args = grid.make(2, 3)
    v = series(2, 3, 30)
    extra = (LEFT, RIGHT, False, False, False) if method in FITS else ()
    before = obj.get_distribution_params()
    with pytest.raises(KeyboardInterrupt) as e:
        call_with_ctrl_c_pending(functools.partial(getattr(obj, method), v, *extra))
    if method in SERIES:
        # Raised by the loop, not by the interpreter after the call.
        assert raised_in_kestrel(e.value)
    else:
        # A fit asks which thread it runs on, in Python, and may see the interrupt there;
        # else the loop sees it before the first location. Nothing was fitted.
        assert np.isnan(obj.get_optimised_params()).all()
        np.testing.assert_array_equal(obj.get_distribution_params(), before)
    # The instance is free again, and the call runs to its end now.
    assert not is_busy(obj)
    result = getattr(obj, method)(v, *extra)
    fresh = grid.cls(*args)
    if method in SERIES:
        np.testing.assert_array_equal(result, getattr(fresh, method)(v))
    elif method == "optim_params":
        fresh.optim_params(v, *extra)
        np.testing.assert_array_equal(obj.get_optimised_params(), fresh.get_optimised_params())
    else:
        # A fresh seed (DE) or the next draws of the shared engine (SCE): not repeatable.
        assert np.isfinite(obj.get_optimised_params()).all()


def test_what_a_signal_handler_raises_stops_the_loop():
    obj, _ = GRIDS[0].make(2, 2)
    call = functools.partial(obj.transform_many, series(2, 2, 30))

    def handler(signum, frame):
        raise LookupError("stopped by the handler")

    previous = signal.signal(signal.SIGINT, handler)
    try:
        with pytest.raises(LookupError, match="stopped by the handler") as e:
            list(map(operator.call, [_thread.interrupt_main, call]))
    finally:
        signal.signal(signal.SIGINT, previous)
    assert raised_in_kestrel(e.value)
    assert not is_busy(obj)


def test_single_location_fits_are_not_interrupted():
    # They hold the interpreter lock throughout: the pending interrupt is handled only
    # after the fit has ended and stored its result.
    single = GRIDS[0].single(0.5, 1.0, 0.0)
    v = series(1, 1, 30)[0, 0]
    call = functools.partial(single.optim_params, v, LEFT, RIGHT, False, False)
    with pytest.raises(KeyboardInterrupt) as e:
        call_with_ctrl_c_pending(call)
    assert not raised_in_kestrel(e.value)
    assert len(single.get_optimised_params()) == 3
