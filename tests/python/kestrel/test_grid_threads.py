"""Grid instances used from several Python threads.

The series methods and fits of a grid instance run their location loop without the
interpreter lock. Separate instances may therefore work side by side; one instance refuses
every call from a second thread while such a loop runs on it, and accepts calls again as
soon as the loop has ended, however it ended.
"""

import os
import threading

import numpy as np
import pytest
from grid_cases import GRIDS, series
from thread_support import (
    BUSY,
    LEFT,
    RIGHT,
    WAIT,
    Worker,
    fit_until_probed,
    fitted_run,
    is_busy,
    outcome,
    wait_busy,
)

FITS = ["optim_params", "optim_paramsDE", "optim_paramsSCE"]
# A simplex fit that keeps the main thread busy for a quarter of a minute or more (200
# values take about 10 ms per location); the probes end it much earlier.
LONG = (1, 2000, 200)


def state(obj):
    return obj.get_optimised_params(), obj.get_distribution_params()


def run_together(jobs):
    """Runs the callables in threads that start them at the same moment; their results."""
    barrier = threading.Barrier(len(jobs))

    def when_all_are_ready(job):
        barrier.wait(WAIT)
        return job()

    workers = [Worker(lambda job=job: when_all_are_ready(job)) for job in jobs]
    for w in workers:
        w.start()
    return [w.outcome() for w in workers]


# ---- separate instances at the same time -------------------------------------------------


@pytest.mark.parametrize(
    "families", [(0, 0), (1, 2)], ids=["PyYJTvectorized-twice", "PyLogSinh-PySinhAsinh"]
)
def test_simplex_fits_in_two_threads_equal_fits_one_after_the_other(families):
    jobs = []
    for i, f in enumerate(families):
        grid = GRIDS[f]
        args, v = grid.args(2, 3, seed=i), series(2, 3, 500, seed=10 + i)

        def fit(grid=grid, args=args, v=v):
            obj = grid.cls(*args)
            obj.optim_params(v, LEFT, RIGHT, False, False, False)
            return state(obj)

        jobs.append(fit)
    one_after_the_other = [job() for job in jobs]
    together = run_together(jobs)
    for a, b in zip(together, one_after_the_other, strict=True):
        for x, y in zip(a, b, strict=True):
            np.testing.assert_array_equal(x, y)
        assert np.isfinite(a[0]).all()


@pytest.mark.parametrize(
    "methods",
    [
        ("optim_paramsDE", "optim_paramsDE"),
        ("optim_paramsSCE", "optim_paramsSCE"),
        ("optim_paramsSCE", "optim_paramsDE"),
    ],
    ids=["DE-DE", "SCE-SCE", "SCE-DE"],
)
def test_stochastic_fits_in_two_threads_give_finite_full_results(methods):
    # Shuffled complex evolution draws from one engine shared by the whole process.
    objects = [GRIDS[0].make(2, 2, seed=1)[0], GRIDS[2].make(2, 2, seed=2)[0]]
    values = [series(2, 2, 60, seed=3), series(2, 2, 60, seed=4)]
    run_together(
        [
            lambda obj=obj, m=m, v=v: getattr(obj, m)(v, LEFT, RIGHT, False, False, False)
            for obj, m, v in zip(objects, methods, values, strict=True)
        ]
    )
    for obj, grid in zip(objects, (GRIDS[0], GRIDS[2]), strict=True):
        opt, dist = state(obj)
        assert opt.shape == dist.shape == (2, 2, grid.nparms)
        assert np.isfinite(opt).all() and np.isfinite(dist).all()


# ---- one instance, a second thread -------------------------------------------------------


def grid_calls(grid, nrows, ncols):
    """Every method of a grid instance, called with arguments it accepts."""
    one, many = np.ones((nrows, ncols)), series(nrows, ncols, 5)
    params = grid.search_vectors(nrows, ncols)
    calls = {
        name: (lambda o, name=name: getattr(o, name)(one))
        for name in ["transform_one", "rescale_one", "inv_rescale_one"]
    }
    calls |= {
        name: (lambda o, name=name: getattr(o, name)(many))
        for name in ["transform_many", "inv_transform_many", "rescale_many", "inv_rescale_many"]
    }
    calls |= {
        name: (lambda o, name=name: getattr(o, name)(many, LEFT, RIGHT, False, False, False))
        for name in FITS
    }
    calls |= {
        name: (lambda o, name=name: getattr(o, name)(params, one, LEFT, RIGHT, False))
        for name in ["log_density", "log_jacobian"]
    }
    calls |= {
        name: (lambda o, name=name: getattr(o, name)())
        for name in [
            "get_optimised_params",
            "get_distribution_params",
            "get_transformation_params",
            "get_scale_shift",
        ]
    }
    return calls


@pytest.mark.parametrize("grid", GRIDS, ids=lambda g: g.name)
def test_a_busy_instance_refuses_every_method_from_another_thread(grid):
    obj, _ = grid.make(*LONG[:2])
    other, _ = grid.make(*LONG[:2], seed=1)
    ones = np.ones(LONG[:2])
    expected = other.rescale_one(ones)
    calls = grid_calls(grid, *LONG[:2])
    assert len(calls) == 16

    def probe(ready):
        ready.set()
        wait_busy(obj)
        refused = {name: outcome(lambda call=call: call(obj)) for name, call in calls.items()}
        # Refused before its arguments are looked at.
        refused["wrong shape"] = outcome(lambda: obj.transform_one(np.ones((3, 3))))
        # Another instance is not held up.
        rescaled = other.rescale_one(ones)
        return refused, rescaled, is_busy(obj)

    refused, rescaled, still_busy = fit_until_probed(obj, series(*LONG), probe)
    assert refused == dict.fromkeys(refused, (RuntimeError, BUSY.format(grid.name)))
    np.testing.assert_array_equal(rescaled, expected)
    # The refused calls, fits among them, left the running loop's mark in place.
    assert still_busy
    # The interrupted fit kept the locations it had finished; the mark is gone.
    assert fitted_run(obj) < LONG[1]
    assert not is_busy(obj)


@pytest.mark.parametrize(
    "method", ["log_density", "log_jacobian", "optim_params", "optim_paramsDE", "optim_paramsSCE"]
)
def test_a_call_let_in_before_the_loop_started_is_refused_before_it_touches_a_location(method):
    # The call passes the entry check, then converts a threshold element that waits until
    # the loop of this thread's fit runs on the same instance. Converting the rest, it must
    # see the mark and leave the locations alone.
    grid = GRIDS[0]
    obj, _ = grid.make(*LONG[:2])
    before = obj.get_distribution_params()

    def probe(ready):
        class HoldsTheCall:
            def __float__(self):
                ready.set()
                wait_busy(obj)
                return LEFT

        left = np.full(LONG[:2], LEFT, dtype=object)
        left[0, 0] = HoldsTheCall()
        ones, params = np.ones(LONG[:2]), grid.search_vectors(*LONG[:2])
        if method.startswith("log_"):
            call = lambda: getattr(obj, method)(params, ones, left, RIGHT, False)  # noqa: E731
        else:
            v = series(*LONG[:2], 5)
            call = lambda: getattr(obj, method)(v, left, RIGHT, False, False, False)  # noqa: E731
        return outcome(call), is_busy(obj)

    (error, message), still_busy = fit_until_probed(obj, series(*LONG), probe)
    assert (error, message) == (RuntimeError, BUSY.format(grid.name))
    assert still_busy
    # Locations the fit did not reach kept their parameters: the refused call decoded none.
    k = fitted_run(obj)
    np.testing.assert_array_equal(obj.get_distribution_params()[0, k:], before[0, k:])


def test_calls_from_different_threads_one_after_the_other():
    grid = GRIDS[1]
    args, v = grid.args(2, 2), series(2, 2, 40)
    params, ones = grid.search_vectors(2, 2), np.ones((2, 2))
    steps = [
        lambda o: o.optim_params(v, LEFT, RIGHT, False, False, False),
        lambda o: o.get_optimised_params(),
        lambda o: o.transform_many(v),
        lambda o: o.log_density(params, ones, LEFT, RIGHT, False),
        lambda o: o.get_distribution_params(),
        lambda o: o.optim_params(v, 0.0, RIGHT, np.array([[0, 1], [1, 0]]), True, True),
        lambda o: o.get_optimised_params(),
    ]
    here, there = grid.cls(*args), grid.cls(*args)
    expected = [step(here) for step in steps]
    # Each step in a new thread, after the one before has ended.
    for step, want in zip(steps, expected, strict=True):
        worker = Worker(lambda step=step: step(there))
        worker.start()
        np.testing.assert_array_equal(worker.outcome(), want)
    assert np.isfinite(expected[-1]).all()


SANITIZED = pytest.mark.skipif(
    os.environ.get("FERRULE_SANITIZED") == "1",
    reason="AddressSanitizer aborts on a failed allocation instead of throwing",
)


@SANITIZED
@pytest.mark.parametrize("method", FITS)
def test_the_mark_is_cleared_when_a_call_fails(method):
    obj, _ = GRIDS[0].make(1, 2)
    # Refused before the loop, then failing inside it: 2**58 doubles per location seen
    # through zero strides cannot be copied.
    with pytest.raises(ValueError):
        getattr(obj, method)(series(1, 2, 20), LEFT, RIGHT, True, False, False)
    huge = np.lib.stride_tricks.as_strided(np.zeros(1), shape=(1, 2, 2**58), strides=(0, 0, 0))
    with pytest.raises(MemoryError):
        getattr(obj, method)(huge, LEFT, RIGHT, False, False, False)
    # The next call, from another thread, runs.
    v = series(1, 2, 20)
    worker = Worker(lambda: getattr(obj, method)(v, LEFT, RIGHT, False, False, False))
    worker.start()
    worker.outcome()
    assert np.isfinite(obj.get_optimised_params()).all()
