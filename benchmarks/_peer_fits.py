"""The peers: the NumPy likelihood minimised by SciPy and spotpy, set up like the library.

Settings that mirror the library's own optimisers:

* Nelder-Mead from the library's start point (1.0, 0.01, 0.01), SciPy's default tolerances;
* differential evolution, rand/1/bin with weight 0.9 and crossover 0.8, 25 members (a seeded
  Latin-hypercube start of exactly 25 points, since SciPy's ``popsize`` is a multiple of the 3
  parameters), the same relative spread for convergence (1e-6) and 1000 generations at most,
  no polishing, box +-100 per coordinate;
* spotpy's shuffled complex evolution over the same box: 3 complexes, stop after 5 loops whose
  best value moved by less than a relative 1e-5 (spotpy states it in percent: 1e-3), at most
  100000 evaluations.
"""

import contextlib
import io

import numpy as np
from _peer_likelihood import negative_log_likelihood
from scipy.optimize import differential_evolution, minimize
from scipy.stats import qmc

START = np.array([1.0, 0.01, 0.01])
BOUNDS = [(-100.0, 100.0)] * 3
POPULATION = 25
RELATIVE_SPREAD = 1e-6
MAX_GENERATIONS = 1000
COMPLEXES = 3
CONVERGENCE_LOOPS = 5
RELATIVE_CHANGE_PERCENT = 1e-3  # a relative change of 1e-5
MAX_EVALUATIONS = 100000


def fit_nelder_mead(x, left, right, seed):
    """SciPy Nelder-Mead from the library's start point; returns the search vector."""
    result = minimize(negative_log_likelihood, START, args=(x, left, right), method="Nelder-Mead")
    return result.x


def fit_differential_evolution(x, left, right, seed):
    """SciPy differential evolution with the library's settings; returns the search vector."""
    low, high = np.array(BOUNDS).T
    start = qmc.scale(qmc.LatinHypercube(d=3, rng=seed).random(POPULATION), low, high)
    # Far corners of the box give objective values near 1e300, whose spread overflows in
    # SciPy's convergence test; that test then fails, as it should.
    with np.errstate(over="ignore", invalid="ignore"):
        result = differential_evolution(
            negative_log_likelihood,
            BOUNDS,
            args=(x, left, right),
            strategy="rand1bin",
            mutation=0.9,
            recombination=0.8,
            init=start,
            tol=RELATIVE_SPREAD,
            maxiter=MAX_GENERATIONS,
            polish=False,
            rng=seed,
        )
    return result.x


class SpotpySetup:
    """spotpy setup: three uniform parameters over the box, the NumPy objective."""

    def __init__(self, x, left, right):
        from spotpy.parameter import Uniform

        self.params = [
            Uniform(name, low, high)
            for name, (low, high) in zip(("lam", "mu", "log_sigma"), BOUNDS, strict=True)
        ]
        self.x, self.left, self.right = x, left, right

    def parameters(self):
        from spotpy.parameter import generate

        return generate(self.params)

    def simulation(self, vector):
        return [negative_log_likelihood(np.asarray(vector), self.x, self.left, self.right)]

    def evaluation(self):
        return [0.0]

    def objectivefunction(self, simulation, evaluation, params=None):
        return simulation[0]


def fit_complex_evolution(x, left, right, seed):
    """spotpy SCE-UA with the library's settings; returns the best search vector found."""
    import spotpy

    sampler = spotpy.algorithms.sceua(
        SpotpySetup(x, left, right),
        dbformat="ram",
        save_sim=False,
        db_precision=np.float64,
        random_state=seed,
    )
    # spotpy reports its progress with print(); it is no part of the fit.
    with contextlib.redirect_stdout(io.StringIO()):
        sampler.sample(
            MAX_EVALUATIONS,
            ngs=COMPLEXES,
            kstop=CONVERGENCE_LOOPS,
            pcento=RELATIVE_CHANGE_PERCENT,
        )
    results = sampler.getdata()
    best = np.argmin(results["like1"])
    return np.array([results[f"par{name}"][best] for name in ("lam", "mu", "log_sigma")])


PEER_FITS = {
    "nelder-mead": ("SciPy Nelder-Mead", fit_nelder_mead),
    "differential-evolution": ("SciPy differential_evolution", fit_differential_evolution),
    "complex-evolution": ("spotpy sceua", fit_complex_evolution),
}
