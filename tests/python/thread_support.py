"""Helpers for the tests that use a grid instance from several Python threads."""

import _thread
import contextlib
import signal
import threading
import time

import numpy as np

# Seconds; generous, so that a loaded two-core machine never trips them.
WAIT = 60.0
LEFT, RIGHT = 0.5, 1e6

BUSY = (
    "{} instance is busy: another thread is running a call on it; an instance must not be "
    "used from two threads at once"
)


@contextlib.contextmanager
def ctrl_c_raises():
    """Ctrl-C raises KeyboardInterrupt here even when the test run was started with it
    ignored (Python then installs no handler of its own)."""
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


class Worker(threading.Thread):
    """Runs `target` and keeps its result or exception for the test to look at."""

    def __init__(self, target):
        super().__init__(daemon=True)
        self.target = target
        self.result = None
        self.error = None

    def run(self):
        try:
            self.result = self.target()
        except BaseException as e:  # handed to the test thread
            self.error = e

    def outcome(self):
        self.join(WAIT)
        assert not self.is_alive(), "the thread did not finish"
        if self.error is not None:
            raise self.error
        return self.result


def is_busy(obj):
    """True when `obj` refuses calls because a location loop runs on it."""
    try:
        obj.get_scale_shift()
    except RuntimeError as e:
        assert str(e) == BUSY.format(type(obj).__name__)
        return True
    return False


def wait_busy(obj):
    deadline = time.monotonic() + WAIT
    while not is_busy(obj):
        assert time.monotonic() < deadline, "the location loop never started"
        time.sleep(0.001)


def outcome(call):
    """(exception type, message) of `call`, or (None, its result)."""
    try:
        return None, call()
    except Exception as e:
        return type(e), str(e)


def fitted_run(obj):
    """Number of fitted locations, checking that they come first in location order."""
    opt = obj.get_optimised_params()
    done = (~np.isnan(opt).any(axis=2)).ravel().tolist()
    k = sum(done)
    assert done == [True] * k + [False] * (len(done) - k), done
    return k


def fit_until_probed(obj, values, probe):
    """Fits `obj` with the simplex optimiser in this, the main, thread while `probe(ready)`
    runs in another thread: the fit starts when the probe sets `ready`, and is stopped as
    by Ctrl-C when the probe returns. Returns what the probe returned.

    `values` must keep the fit busy far longer than the probe takes.
    """
    ready = threading.Event()
    lock = threading.Lock()
    fitting = [True]

    def helper():
        try:
            result = probe(ready)
        finally:
            ready.set()
        with lock:
            if fitting[0]:
                _thread.interrupt_main()
        return result

    with ctrl_c_raises():
        worker = Worker(helper)
        worker.start()
        try:
            assert ready.wait(WAIT)
            obj.optim_params(values, LEFT, RIGHT, False, False, False)
        except KeyboardInterrupt:
            interrupted = True
        else:
            interrupted = False
        finally:
            with lock:
                fitting[0] = False
    result = worker.outcome()
    assert interrupted, "the fit ended before the probe was done"
    return result
