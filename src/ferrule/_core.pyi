"""Private extension of the public layer: the C++ kernels without per-object state.

Everything here works on plain float64 NumPy arrays and explicit parameters; nothing
writes to the process's standard output (a fit's console lines come back as strings),
and every fit draws from its own engine when it is stochastic. The exact low-level
classes of ``ferrule.kestrel`` run the same kernels and keep their own behaviour.

Family keys are those of ``FAMILIES``: "yeo_johnson", "log_sinh", "sinh_asinh",
"jones_pewsey". Method keys: "nelder_mead", "differential_evolution",
"shuffled_complex_evolution".

Natural parameters are the transformation parameters followed by mu and sigma (the
order of ``FamilyInfo.natural_names``); search vectors are the box coordinates the
optimisers move in.
"""

from typing import Literal, NamedTuple, TypedDict

import numpy as np
import numpy.typing as npt

FamilyKey = Literal["yeo_johnson", "log_sinh", "sinh_asinh", "jones_pewsey"]
MethodKey = Literal["nelder_mead", "differential_evolution", "shuffled_complex_evolution"]
Array = npt.NDArray[np.float64]

class FamilyInfo(NamedTuple):
    key: FamilyKey
    title: str  # "Yeo-Johnson", "log-sinh", "sinh-arcsinh", "Jones-Pewsey"
    aliases: tuple[str, ...]  # command-line names: "yjt", "logsinh", "sinhasinh", "jpt"
    kestrel_class: str  # "PyYJT", ...
    grid_class: str | None  # "PyYJTvectorized", ...; None for Jones-Pewsey
    transformation_names: tuple[
        str, ...
    ]  # ("lambda",), ("lambda", "epsilon"), ("delta", "epsilon")
    positive_names: tuple[str, ...]  # transformation parameters that must be above zero
    natural_names: tuple[str, ...]  # transformation_names + ("mu", "sigma")
    search_start: tuple[float, ...]
    search_lower: tuple[float, ...]
    search_upper: tuple[float, ...]
    # Jones-Pewsey: T((x - mu) / sigma) is standard normal; the others: (T(x) - mu) / sigma.
    models_raw_value: bool
    # defined only above a point its parameters set (log-sinh): needs a finite left threshold
    bounded_below: bool
    # parameter -> (low, high) the likelihood accepts beyond the search box
    accepted_ranges: dict[str, tuple[float, float]]
    has_shift: bool  # whether the kestrel class takes a shift (log-sinh does not)
    # The optimiser a fit uses unless told otherwise: Nelder-Mead for Yeo-Johnson (its start
    # point is the identity and its parameters are unbounded), shuffled complex evolution for
    # the others (only the box searches keep their parameters inside the box).
    default_method: MethodKey

FAMILIES: tuple[FamilyInfo, ...]
METHODS: tuple[MethodKey, ...]

def decode(family: FamilyKey, search: npt.ArrayLike) -> Array:
    """Natural parameters of a search vector (the family's setParams)."""

def forward(
    family: FamilyKey, transformation: npt.ArrayLike, x: Array, n_threads: int = 0
) -> Array:
    """T(x) element by element, any shape; `transformation` holds the transformation
    parameters only. No rescaling. Vector kernels: within a few ulp of the kestrel classes'
    transform_many, the same bits for any `n_threads` (0: every core) and any shape."""

def inverse(
    family: FamilyKey, transformation: npt.ArrayLike, y: Array, n_threads: int = 0
) -> Array:
    """T^-1(y) element by element, any shape."""

def log_jacobian(
    family: FamilyKey, transformation: npt.ArrayLike, x: Array, n_threads: int = 0
) -> Array:
    """log T'(x) element by element (for Jones-Pewsey the sinh-arcsinh map itself; the
    public layer standardises first)."""

def log_likelihood(
    family: FamilyKey,
    search: npt.ArrayLike,
    data: Array,
    left: float,
    right: float,
    prior: bool = False,
    exact: bool = False,
) -> float:
    """The censored log-likelihood the optimisers maximise, at a search vector, on data
    already in the units the likelihood sees (rescaled if the fit rescales); the prior
    added when `prior`. Censored masses by the accurate log Phi; with `exact`, by the
    kestrel classes' short approximation, bit-identical to -negLogLik of the core."""

def censoring(
    family: FamilyKey, search: npt.ArrayLike, data: Array, left: float, right: float
) -> npt.NDArray[np.int8]:
    """How the likelihood treats each value at this search vector: -1 left-censored,
    0 uncensored, +1 right-censored (the one censoring decision of the core)."""

def ndtr(z: Array, n_threads: int = 0) -> Array:
    """The standard normal distribution function, accurate to a few ulp (erfc based);
    not the likelihood's own approximation."""

def log_ndtr(z: Array, n_threads: int = 0) -> Array:
    """log ndtr(z), accurate in the far left tail too."""

def ndtri(p: Array) -> Array:
    """The standard normal quantile function: ndtr(ndtri(p)) == p to a few ulp; -inf at 0,
    +inf at 1, NaN outside [0, 1]."""

class FitFacts(TypedDict):
    # The facts of optima (core/fit_facts.hpp), one entry per fit, in the units of the fit.
    loglik: Array  # without prior
    log_posterior: Array  # with the prior; NaN without
    n_left: npt.NDArray[np.int64]  # censored at the optimum
    n_right: npt.NDArray[np.int64]
    distinct_uncensored: npt.NDArray[np.int64]  # rounding duplicates (relative 1e-12) as one
    saturated_pairs: npt.NDArray[np.int64]  # neighbouring distinct values, one transform
    decreasing_steps: npt.NDArray[np.int64]
    undefined_values: npt.NDArray[np.int64]  # between the thresholds, T NaN
    misplaced_values: npt.NDArray[np.int64]  # censoring against the thresholds
    spread: Array  # sd of what sigma scales (uncensored); NaN for fewer than 2
    mass_beyond_range: Array  # normal mass beyond the scores of T(-inf), T(+inf)
    round_trip_error: Array  # relative, at the extreme uncensored values; inf: not finite
    at_lower: npt.NDArray[np.uint32]  # bit j: search coordinate j on its lower bound
    at_upper: npt.NDArray[np.uint32]
    outside_box: npt.NDArray[np.uint32]
    constrained: npt.NDArray[np.uint32]  # bit j: on a bound, the gradient pointing out
    degenerate_limit: npt.NDArray[np.bool_]  # the family's degenerate limit
    # log-lik of the family's nearest ridge limit (at the same point, or probed further on
    # with the other parameters settled), less the fit's
    limit_gain: Array
    limit: npt.NDArray[np.int8]  # which limit (the family's k >= 1), 0 none

FACT_DTYPES: dict[str, type]
LIMIT_GAP: float

def empty_facts(n: int) -> FitFacts: ...
def fit_facts(
    family: FamilyKey,
    search: Array,
    data: Array,
    left: float,
    right: float,
    *,
    prior: bool = False,
) -> FitFacts:
    """The facts of `search` as the optimum of a fit of `data` (in the units of the fit),
    with the accurate masses; one entry."""

class FitOutput(TypedDict):
    search: Array  # best search vector; all NaN when no finite objective value was found
    natural: Array  # its decoding
    count: int  # what the optimiser counts (iterations, generation index, evaluations)
    evaluations: int  # objective evaluations actually made
    limit_reached: bool  # iteration / generation / evaluation budget exhausted
    low_values: bool  # some value below the left threshold
    high_values: bool  # some value above the right threshold
    no_finite_value: bool  # the optimiser found no finite objective value
    runs: int  # runs of the optimiser (restarts included); 1 for a fast fit
    polish_evaluations: int  # value-and-gradient calls of the local polish (0 for a fast fit)
    polish_gain: float  # log-likelihood the polish added to the runs' best
    messages: list[str]  # the console lines the kestrel fit would print, in order
    facts: FitFacts  # of the optimum, one entry

def fit(
    family: FamilyKey,
    data: Array,
    left: float,
    right: float,
    *,
    method: MethodKey,
    rescale: bool = False,
    scale: float = 1.0,
    shift: float = 0.0,
    prior: bool = False,
    seed: int | None = None,
    max_converge: int = 5,
    max_eval: int = 100000,
    exact: bool = False,
    fast: bool = True,
    on_progress: object = None,  # callable(evaluations: int), called holding the GIL
) -> FitOutput:
    """Fits one series as the kestrel classes do (same warnings, rescaling, start point or
    box, optimiser settings), with the console lines returned instead of printed. The
    censored masses use the accurate log Phi; with `exact`, the kestrel arithmetic, so the
    results are theirs bit for bit. Without `fast`, runs the thorough fit instead (restarts,
    independent runs with seeds derived from `seed`, and a local polish with the analytic
    gradient). `seed` (0 <= seed < 2**32) seeds a Mersenne Twister of this call
    alone for differential evolution and shuffled complex evolution (required for them;
    ignored by Nelder-Mead). Raises ValueError for an empty series. Releases the GIL; every
    2**16 likelihood terms or so it takes it back to call `on_progress` with the number of
    likelihood evaluations made and to run signal handlers: an exception from either
    (KeyboardInterrupt at Ctrl-C) stops the fit and is raised."""

class GridFitOutput(TypedDict):
    search: Array  # (ncells, k), NaN rows for skipped cells
    natural: Array  # (ncells, k), their decoding
    count: npt.NDArray[np.int64]  # (ncells,), -1 for skipped cells
    evaluations: npt.NDArray[np.int64]
    limit_reached: npt.NDArray[np.bool_]
    low_values: npt.NDArray[np.bool_]
    high_values: npt.NDArray[np.bool_]
    no_finite_value: npt.NDArray[np.bool_]
    runs: npt.NDArray[np.int64]
    polish_evaluations: npt.NDArray[np.int64]
    polish_gain: npt.NDArray[np.float64]
    scale: Array  # (ncells,) the scale of the fit (NaN for cells not fitted)
    messages: list[list[str]]  # per cell
    facts: FitFacts  # per cell, computed on the cell's thread
    completed: int  # cells committed, in cell order (fewer than ncells after Ctrl-C)
    interrupted: bool  # Ctrl-C arrived: the cells from `completed` on were not fitted
    # The fits at other_scale, where one was given and differs (the rest NaN / -1); None
    # without other_scale. The public layer chooses per cell.
    other: GridFitOutput | None

def fit_cells(
    family: FamilyKey,
    values: Array,  # (ncells, n) C-contiguous
    left: Array,  # (ncells,)
    right: Array,  # (ncells,)
    skip: npt.NDArray[np.bool_],  # (ncells,) True: not fitted
    *,
    method: MethodKey,
    # (ncells,): cell i's series is values[i, :lengths[i]] (for cells with missing values
    # compacted to the front); None: every row whole
    lengths: npt.NDArray[np.int64] | None = None,
    rescale: bool = False,
    scale: Array | None = None,  # (ncells,) or None for 1
    shift: Array | None = None,
    prior: bool = False,
    seeds: npt.NDArray[np.uint32] | None = None,  # (ncells,), required for the stochastic methods
    max_converge: int = 5,
    max_eval: int = 100000,
    n_threads: int = 1,
    on_progress: object = None,  # callable(done: int) called holding the GIL between commits
    fast: bool = True,  # one run per cell as fit(); False: the thorough fit
    # (ncells,) a second scale per cell (NaN: none), each such cell also fitted at it into
    # the output's `other`
    other_scale: Array | None = None,
) -> GridFitOutput:
    """Fits every cell that is not skipped, on `n_threads` threads, the GIL released.
    Results are identical for any thread count. Cells are committed in cell order; Ctrl-C
    stops at a commit boundary: the call then returns with `interrupted` set and the
    committed prefix filled (the rest NaN / -1), and the public layer decides what to do.
    Other errors (MemoryError) are raised."""

# A fitted model for the distribution maps: (transformation parameters, mu, sigma, scale,
# shift, left, right); the family's conventions as in ferrule._distribution.
DistributionFields = tuple[npt.ArrayLike, float, float, float, float, float, float]

def score_range(family: FamilyKey, model: DistributionFields) -> tuple[float, float, float]:
    """The raw scores of T(-inf) and T(+inf) and log M, the normal mass between them."""

def distribution_map(
    family: FamilyKey,
    model: DistributionFields,
    which: Literal["to_normal", "from_normal", "cdf", "sf", "logsf", "logpdf", "ppf"],
    x: npt.ArrayLike,
    censor: bool = True,
    n_threads: int = 0,
) -> Array:
    """One map of the fitted distribution in data units, element by element, in one pass
    (the same bits on any thread count); `censor` clips from_normal and ppf to the
    thresholds."""

def distribution_map_cells(
    codes: npt.ArrayLike,  # (n,) int8: FAMILIES[code] per row, -1 none
    transformation: npt.ArrayLike,  # (n, 2) the transformation parameters (unused: any)
    fields: npt.ArrayLike,  # (n, 6) mu, sigma, scale, shift, left, right
    which: Literal["to_normal", "from_normal", "cdf", "sf", "logsf", "logpdf", "ppf"],
    x: npt.ArrayLike,  # (n, m)
    censor: bool = True,
) -> Array:
    """Row i of `x` by the model of row i, as distribution_map maps it (the same bits), in
    one pass over the rows without the GIL; NaN rows where the code is -1."""
