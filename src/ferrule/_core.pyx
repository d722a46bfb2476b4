# cython: language_level=3
# cython: boundscheck=False
# cython: wraparound=False
# cython: cdivision=True
#
# ferrule._core: the stateless kernels of the C++ core on float64 NumPy arrays, for the
# public layer. The signatures and their meaning are documented in _core.pyi.
from typing import NamedTuple

import numpy as np

from cpython.exc cimport PyErr_CheckSignals
from libc.math cimport isnan
from libc.stdint cimport int8_t, int64_t, uint8_t, uint32_t
from libcpp cimport bool as cbool
from libcpp.string cimport string
from libcpp.utility cimport move
from libcpp.vector cimport vector

from ferrule._kernels cimport (
    CellFits,
    DistributionMap,
    DistributionModel,
    FamilyBinding,
    FamilyId,
    FamilyInfo as CppFamilyInfo,
    FitFacts,
    FitReport,
    FitSettings,
    Masses,
    Method,
    ScoreRange,
    SeriesFit,
    censoring as cpp_censoring,
    decode as cpp_decode,
    defaultMethod,
    distributionMap,
    familyBinding,
    familyByKey,
    factsAt,
    familyInfo,
    fit as cpp_fit,
    fitCells,
    forward as cpp_forward,
    inverse as cpp_inverse,
    kFamilies,
    kLimitGap,
    logJacobian as cpp_log_jacobian,
    logLikelihood as cpp_log_likelihood,
    parameterCount,
    scoreRange,
    standardNormalCdf,
    standardNormalLogCdf,
    standardNormalQuantile,
)


METHODS = ("nelder_mead", "differential_evolution", "shuffled_complex_evolution")
_METHODS = {
    "nelder_mead": Method.NelderMead,
    "differential_evolution": Method.DifferentialEvolution,
    "shuffled_complex_evolution": Method.ShuffledComplexEvolution,
}
_METHOD_KEYS = {method: key for key, method in _METHODS.items()}


class FamilyInfo(NamedTuple):
    key: str
    title: str
    aliases: tuple
    kestrel_class: str
    grid_class: object
    transformation_names: tuple
    positive_names: tuple
    natural_names: tuple
    search_start: tuple
    search_lower: tuple
    search_upper: tuple
    models_raw_value: bool
    bounded_below: bool
    accepted_ranges: dict
    has_shift: bool
    default_method: str


cdef object _info(FamilyId family):
    cdef CppFamilyInfo info = familyInfo(family)
    cdef FamilyBinding binding = familyBinding(family)
    names = tuple(name.decode() for name in info.transformationNames)
    return FamilyInfo(
        key=info.key.decode(),
        title=info.title.decode(),
        aliases=(binding.alias.decode(),),
        kestrel_class=binding.kestrelClass.decode(),
        grid_class=binding.gridClass.decode() or None,
        transformation_names=names,
        positive_names=tuple(name.decode() for name in info.positiveNames),
        natural_names=names + ("mu", "sigma"),
        search_start=tuple(info.start),
        search_lower=tuple(info.lower),
        search_upper=tuple(info.upper),
        models_raw_value=info.modelsRawValue,
        bounded_below=info.boundedBelow,
        accepted_ranges=(
            {info.acceptedName.decode(): (info.acceptedLow, info.acceptedHigh)}
            if info.acceptedName.size() else {}
        ),
        has_shift=binding.hasShift,
        default_method=_METHOD_KEYS[defaultMethod(family)],
    )


FAMILIES = tuple(_info(kFamilies[i]) for i in range(4))

cdef FamilyId _family(str key) except *:
    try:
        return familyByKey(key.encode())
    except ValueError:
        raise ValueError(
            f"unknown family {key!r}; expected one of "
            + ", ".join(repr(f.key) for f in FAMILIES)
        ) from None


cdef Method _method(str key) except *:
    try:
        return _METHODS[key]
    except KeyError:
        raise ValueError(
            f"unknown method {key!r}; expected one of " + ", ".join(map(repr, METHODS))
        ) from None


# Parameters as a contiguous float64 vector of at least `count` entries.
cdef const double[::1] _parameters(object values, size_t count, str what):
    cdef const double[::1] out = np.ascontiguousarray(values, dtype=np.float64).reshape(-1)
    if <size_t>out.shape[0] < count:
        raise ValueError(f"{what} needs {count} values, got {out.shape[0]}")
    return out


# Any shape, 0-d included, as a C-contiguous float64 array (a copy only when needed).
cdef object _contiguous(object values):
    values = np.asarray(values, dtype=np.float64)
    if not values.flags.c_contiguous:
        values = values.copy(order="C")
    return values


def decode(str family, search):
    cdef FamilyId f = _family(family)
    cdef size_t k = parameterCount(f)
    cdef const double[::1] q = _parameters(search, k, "a search vector")
    out = np.empty(k, dtype=np.float64)
    cdef double[::1] o = out
    cpp_decode(f, &q[0], &o[0])
    return out


# The element maps of the family kernels and of the standard normal distribution.
cdef enum _ElementMap:
    _FORWARD
    _INVERSE
    _LOG_JACOBIAN
    _NORMAL_CDF
    _NORMAL_LOG_CDF
    _NORMAL_QUANTILE


cdef object _map_elements(str family, transformation, x, int n_threads, _ElementMap which):
    cdef FamilyId f = _family(family)
    cdef size_t k = parameterCount(f) - 2
    cdef const double[::1] t = _parameters(transformation, k, "the transformation parameters")
    values = _contiguous(x)
    out = np.empty_like(values)
    cdef const double[::1] xin = values.reshape(-1)
    cdef double[::1] o = out.reshape(-1)
    cdef size_t n = xin.shape[0]
    if n == 0:
        return out
    with nogil:
        if which == _FORWARD:
            cpp_forward(f, &t[0], &xin[0], &o[0], n, n_threads)
        elif which == _INVERSE:
            cpp_inverse(f, &t[0], &xin[0], &o[0], n, n_threads)
        else:
            cpp_log_jacobian(f, &t[0], &xin[0], &o[0], n, n_threads)
    return out


def forward(str family, transformation, x, int n_threads=0):
    return _map_elements(family, transformation, x, n_threads, _FORWARD)


def inverse(str family, transformation, y, int n_threads=0):
    return _map_elements(family, transformation, y, n_threads, _INVERSE)


def log_jacobian(str family, transformation, x, int n_threads=0):
    return _map_elements(family, transformation, x, n_threads, _LOG_JACOBIAN)


cdef const double[::1] _series(object data):
    return np.ascontiguousarray(data, dtype=np.float64).reshape(-1)


cdef Masses _masses(bint exact):
    return Masses.Exact if exact else Masses.Accurate


def log_likelihood(str family, search, data, double left, double right, bint prior=False,
                   bint exact=False):
    cdef FamilyId f = _family(family)
    cdef const double[::1] q = _parameters(search, parameterCount(f), "a search vector")
    cdef const double[::1] x = _series(data)
    cdef double dummy = 0.0
    cdef const double* start = &x[0] if x.shape[0] > 0 else &dummy
    return cpp_log_likelihood(f, &q[0], start, x.shape[0], left, right, prior, _masses(exact))


def censoring(str family, search, data, double left, double right):
    cdef FamilyId f = _family(family)
    cdef const double[::1] q = _parameters(search, parameterCount(f), "a search vector")
    cdef const double[::1] x = _series(data)
    out = np.empty(x.shape[0], dtype=np.int8)
    cdef int8_t[::1] o = out
    if x.shape[0] > 0:
        cpp_censoring(f, &q[0], &x[0], x.shape[0], left, right, &o[0])
    return out


cdef object _normal(z, _ElementMap which, int n_threads):
    values = _contiguous(z)
    out = np.empty_like(values)
    cdef const double[::1] v = values.reshape(-1)
    cdef double[::1] o = out.reshape(-1)
    cdef size_t n = v.shape[0]
    if n == 0:
        return out
    with nogil:
        if which == _NORMAL_CDF:
            standardNormalCdf(&v[0], &o[0], n, n_threads)
        elif which == _NORMAL_LOG_CDF:
            standardNormalLogCdf(&v[0], &o[0], n, n_threads)
        else:
            standardNormalQuantile(&v[0], &o[0], n)
    return out


def ndtr(z, int n_threads=0):
    return _normal(z, _NORMAL_CDF, n_threads)


def log_ndtr(z, int n_threads=0):
    return _normal(z, _NORMAL_LOG_CDF, n_threads)


def ndtri(p):
    return _normal(p, _NORMAL_QUANTILE, 1)


# A fitted distribution's maps in data units, one pass per value (api/distribution_maps.hpp).
# In the order of the enum DistributionMap.
_DISTRIBUTION_MAPS = ("to_normal", "from_normal", "cdf", "sf", "logsf", "logpdf", "ppf")

cdef DistributionModel _distribution(str family, tuple model) except *:
    cdef DistributionModel d
    d.family = _family(family)
    cdef size_t k = parameterCount(d.family) - 2
    cdef const double[::1] t = _parameters(model[0], k, "the transformation parameters")
    d.t[0] = t[0]
    d.t[1] = t[1] if k > 1 else 0.0
    d.mu, d.sigma, d.scale, d.shift, d.left, d.right = (float(v) for v in model[1:])
    return d


def score_range(str family, tuple model):
    cdef ScoreRange r = scoreRange(_distribution(family, model))
    return r.bottom, r.top, r.logInside


def distribution_map(str family, tuple model, str which, x, bint censor=True, int n_threads=0):
    cdef DistributionModel d = _distribution(family, model)
    cdef DistributionMap m = <DistributionMap>(<int>_DISTRIBUTION_MAPS.index(which))
    values = _contiguous(x)
    out = np.empty_like(values)
    cdef const double[::1] v = values.reshape(-1)
    cdef double[::1] o = out.reshape(-1)
    cdef size_t n = v.shape[0]
    if n > 0:
        with nogil:
            distributionMap(d, m, censor, &v[0], &o[0], n, n_threads)
    return out


def distribution_map_cells(codes, transformation, fields, str which, x, bint censor=True):
    # Row i of `x` by the model of row i: its family FAMILIES[codes[i]] (-1: none, NaN out),
    # transformation parameters transformation[i] and fields[i] (mu, sigma, scale, shift,
    # left, right). One pass over the rows without the GIL, each row as distribution_map
    # maps it (the same bits).
    cdef const int8_t[::1] c = np.ascontiguousarray(codes, dtype=np.int8)
    cdef const double[:, ::1] t = np.ascontiguousarray(transformation, dtype=np.float64)
    cdef const double[:, ::1] f = np.ascontiguousarray(fields, dtype=np.float64)
    values = _contiguous(x)
    cdef size_t rows = c.shape[0]
    if values.ndim != 2 or <size_t>values.shape[0] != rows or t.shape[0] != <Py_ssize_t>rows \
            or t.shape[1] != 2 or f.shape[0] != <Py_ssize_t>rows or f.shape[1] != 6:
        raise ValueError("distribution_map_cells: codes (n,), transformation (n, 2), "
                         "fields (n, 6) and x (n, m) must agree")
    cdef DistributionMap m = <DistributionMap>(<int>_DISTRIBUTION_MAPS.index(which))
    cdef vector[FamilyId] ids
    for info in FAMILIES:
        ids.push_back(_family(info.key))
    cdef int8_t known = <int8_t>len(FAMILIES)
    out = np.full(values.shape, np.nan)
    cdef const double[:, ::1] v = values
    cdef double[:, ::1] o = out
    cdef size_t n = values.shape[1]
    cdef size_t i
    cdef DistributionModel d
    if n == 0:
        return out
    for i in range(rows):
        if c[i] >= known:
            raise ValueError(f"distribution_map_cells: unknown family code {c[i]}")
    with nogil:
        for i in range(rows):
            if c[i] < 0:
                continue
            d.family = ids[c[i]]
            d.t[0], d.t[1] = t[i, 0], t[i, 1]
            d.mu, d.sigma, d.scale, d.shift = f[i, 0], f[i, 1], f[i, 2], f[i, 3]
            d.left, d.right = f[i, 4], f[i, 5]
            distributionMap(d, m, censor, &v[i, 0], &o[i, 0], n, 1)
    return out


cdef FitSettings _settings(str method, bint rescale, bint prior, int max_converge,
                           int max_eval, bint fast) except *:
    cdef FitSettings s
    s.method = _method(method)
    s.thorough = not fast
    s.rescale = rescale
    s.isMap = prior
    s.maxConverge = max_converge
    s.maxEval = max_eval
    s.facts = True
    return s


# The facts of an optimum (core/fit_facts.hpp) as arrays with one entry per fit, and their
# dtypes; bit masks over the search coordinates as unsigned integers.
FACT_DTYPES = {
    "loglik": np.float64, "log_posterior": np.float64, "n_left": np.int64,
    "n_right": np.int64, "distinct_uncensored": np.int64, "saturated_pairs": np.int64,
    "decreasing_steps": np.int64, "undefined_values": np.int64, "misplaced_values": np.int64,
    "spread": np.float64, "mass_beyond_range": np.float64, "round_trip_error": np.float64,
    "at_lower": np.uint32, "at_upper": np.uint32, "outside_box": np.uint32,
    "constrained": np.uint32, "degenerate_limit": np.bool_, "limit_gain": np.float64,
    "limit": np.int8,
}
# A limit_gain at least -LIMIT_GAP: the fit is its ridge's limit (core/ridge_limit.hpp).
LIMIT_GAP = kLimitGap


def empty_facts(size_t n):
    return {name: np.full(n, np.nan) if dtype == np.float64 else np.zeros(n, dtype=dtype)
            for name, dtype in FACT_DTYPES.items()}


cdef void _put_facts(dict out, Py_ssize_t i, const FitFacts& f) except *:
    out["loglik"][i] = f.logLik
    out["log_posterior"][i] = f.logPosterior
    out["n_left"][i] = f.nLeft
    out["n_right"][i] = f.nRight
    out["distinct_uncensored"][i] = f.distinctUncensored
    out["saturated_pairs"][i] = f.saturatedPairs
    out["decreasing_steps"][i] = f.decreasingSteps
    out["undefined_values"][i] = f.undefinedValues
    out["misplaced_values"][i] = f.misplacedValues
    out["spread"][i] = f.spread
    out["mass_beyond_range"][i] = f.massBeyondRange
    out["round_trip_error"][i] = f.roundTripError
    out["at_lower"][i] = f.atLower
    out["at_upper"][i] = f.atUpper
    out["outside_box"][i] = f.outsideBox
    out["constrained"][i] = f.constrained
    out["degenerate_limit"][i] = f.degenerateLimit
    out["limit_gain"][i] = f.limitGain
    out["limit"][i] = f.limit


def fit_facts(str family, search, data, double left, double right, *, bint prior=False):
    cdef FamilyId f = _family(family)
    cdef const double[::1] q = np.ascontiguousarray(search, dtype=np.float64).reshape(-1)
    if <size_t>q.shape[0] != parameterCount(f):
        raise ValueError(f"{family} search vectors have {parameterCount(f)} entries")
    cdef const double[::1] x = _series(data)
    cdef FitFacts result
    with nogil:
        result = factsAt(f, &q[0], &x[0] if x.shape[0] else NULL, x.shape[0], left, right,
                         prior)
    out = empty_facts(1)
    _put_facts(out, 0, result)
    return out


cdef uint32_t _seed(object seed) except? 0:
    if not 0 <= seed < 2**32:
        raise ValueError(f"a seed must lie in [0, 2**32), got {seed}")
    return <uint32_t>seed


cdef dict _report(const FitReport& report, size_t k, vector[string]& lines, str family):
    search = np.array(report.result.params, dtype=np.float64)
    facts = empty_facts(1)
    _put_facts(facts, 0, report.facts)
    return {
        "search": search,
        "natural": decode(family, search),
        "count": report.result.count,
        "evaluations": report.result.evaluations,
        "limit_reached": report.result.limitReached,
        "low_values": report.lowValues,
        "high_values": report.highValues,
        "no_finite_value": report.noFiniteValue,
        "runs": report.strategy.runs,
        "polish_evaluations": report.strategy.polishEvaluations,
        "polish_gain": report.strategy.polishGain,
        "messages": [line.decode() for line in lines],
        "facts": facts,
    }


# What a single fit reports between evaluations and within its long loops, holding the
# GIL: progress (each count of evaluations once, from the first), and whether a signal
# handler (Ctrl-C) raised, which stops the fit.
cdef class _FitControl:
    cdef object on_progress
    cdef object raised
    cdef int64_t reported

    def __init__(self, on_progress):
        self.on_progress = on_progress
        self.raised = None
        self.reported = 0


cdef cbool _poll_fit(void* context, int64_t evaluations) noexcept with gil:
    cdef _FitControl control = <_FitControl>context
    try:
        if control.on_progress is not None and evaluations > control.reported:
            control.reported = evaluations
            control.on_progress(evaluations)
        PyErr_CheckSignals()
    except BaseException as exc:
        control.raised = exc
        return True
    return False


# A fit is polled after about this many likelihood terms: often enough that Ctrl-C and a
# progress bar answer within milliseconds, rarely enough to cost nothing.
cdef int64_t _TERMS_PER_POLL = 1 << 16


def fit(str family, data, double left, double right, *, str method, bint rescale=False,
        double scale=1.0, double shift=0.0, bint prior=False, seed=None, int max_converge=5,
        int max_eval=100000, bint exact=False, on_progress=None, bint fast=True):
    cdef FamilyId f = _family(family)
    cdef Masses masses = _masses(exact)
    cdef FitSettings s = _settings(method, rescale, prior, max_converge, max_eval, fast)
    s.left = left
    s.right = right
    s.scale = scale
    s.shift = shift
    cdef uint32_t seed32
    if seed is not None:
        seed32 = _seed(seed)
        s.seed = seed32
    elif s.method != Method.NelderMead:
        raise ValueError(f"{method} needs a seed")
    cdef const double[::1] x = _series(data)
    if x.shape[0] == 0:
        raise ValueError("cannot fit an empty data series: it must hold at least one value")
    cdef vector[double] values
    values.assign(&x[0], &x[0] + x.shape[0])
    control = _FitControl(on_progress)
    s.monitor.poll = _poll_fit
    s.monitor.context = <void*>control
    s.monitor.every = max(1, _TERMS_PER_POLL // x.shape[0])
    cdef SeriesFit result
    with nogil:
        result = cpp_fit(f, move(values), s, masses)
    if result.stopped:
        raise control.raised
    return _report(result.report, parameterCount(f), result.lines, family)


# What the loop over cells reports between two commits, holding the GIL: progress, and
# whether a signal handler (Ctrl-C) raised, which stops the loop.
cdef class _LoopControl:
    cdef object on_progress
    cdef Py_ssize_t next_cell
    cdef object raised

    def __init__(self, on_progress):
        self.on_progress = on_progress
        self.next_cell = 0
        self.raised = None


cdef cbool _stop_before_commit(void* context) noexcept with gil:
    cdef _LoopControl control = <_LoopControl>context
    try:
        if control.on_progress is not None:
            control.on_progress(control.next_cell)
        PyErr_CheckSignals()
    except BaseException as exc:
        control.raised = exc
        return True
    control.next_cell += 1
    return False


def fit_cells(str family, values, left, right, skip, *, str method, lengths=None,
              bint rescale=False, scale=None, shift=None, bint prior=False, seeds=None,
              int max_converge=5, int max_eval=100000, int n_threads=1, on_progress=None,
              bint fast=True, other_scale=None):
    cdef FamilyId f = _family(family)
    cdef size_t k = parameterCount(f)
    cdef FitSettings s = _settings(method, rescale, prior, max_converge, max_eval, fast)
    cdef const double[:, ::1] v = np.ascontiguousarray(values, dtype=np.float64)
    cdef size_t ncells = v.shape[0], n = v.shape[1]
    if n == 0 and ncells > 0:
        raise ValueError("cannot fit an empty data series: it must hold at least one value")
    cdef double[::1] lo = _cell_values(left, ncells, "left")
    cdef double[::1] hi = _cell_values(right, ncells, "right")
    cdef const uint8_t[::1] sk = np.ascontiguousarray(skip, dtype=np.uint8).reshape(-1)
    if <size_t>sk.shape[0] != ncells:
        raise ValueError(f"skip needs {ncells} values, got {sk.shape[0]}")
    cdef double[::1] sc, sh
    cdef const double* scale_ptr = NULL
    cdef const double* shift_ptr = NULL
    if scale is not None:
        sc = _cell_values(scale, ncells, "scale")
        scale_ptr = &sc[0] if ncells else NULL
    if shift is not None:
        sh = _cell_values(shift, ncells, "shift")
        shift_ptr = &sh[0] if ncells else NULL
    cdef double[::1] osc
    cdef const double* other_ptr = NULL
    if other_scale is not None:
        osc = _cell_values(other_scale, ncells, "other_scale")
        other_ptr = &osc[0] if ncells else NULL
    cdef const uint32_t[::1] sd
    cdef const uint32_t* seed_ptr = NULL
    if seeds is not None:
        sd = np.ascontiguousarray(seeds, dtype=np.uint32).reshape(-1)
        if <size_t>sd.shape[0] != ncells:
            raise ValueError(f"seeds needs {ncells} values, got {sd.shape[0]}")
        seed_ptr = &sd[0] if ncells else NULL
    elif s.method != Method.NelderMead:
        raise ValueError(f"{method} needs seeds")
    cdef const int64_t[::1] ln
    cdef const int64_t* lengths_ptr = NULL
    if lengths is not None:
        ln = np.ascontiguousarray(lengths, dtype=np.int64).reshape(-1)
        if <size_t>ln.shape[0] != ncells:
            raise ValueError(f"lengths needs {ncells} values, got {ln.shape[0]}")
        if ncells and (np.min(ln) < 1 or np.max(ln) > <int64_t>n):
            raise ValueError(f"every length must lie in [1, {n}]")
        lengths_ptr = &ln[0] if ncells else NULL

    out = _cell_outputs(ncells, k)
    out["completed"] = 0
    out["interrupted"] = False
    # The fits at the other scale, where one was offered: the caller chooses per cell.
    other = _cell_outputs(ncells, k) if other_scale is not None else None
    out["other"] = other
    if ncells == 0:
        return out
    control = _LoopControl(on_progress)
    cdef CellFits fits
    with nogil:
        fits = fitCells(f, &v[0, 0], ncells, n, lengths_ptr, &lo[0], &hi[0], &sk[0], scale_ptr,
                        shift_ptr, seed_ptr, s, n_threads, _stop_before_commit, <void*>control,
                        other_ptr)
    cdef size_t i
    for i in range(fits.committed):
        if fits.cells[i].skipped:
            continue
        _put_cell(out, i, fits.cells[i].fit, fits.cells[i].scale, f, k)
        if other is not None and not isnan(fits.cells[i].otherScale):
            _put_cell(other, i, fits.cells[i].other, fits.cells[i].otherScale, f, k)
    out["completed"] = fits.committed
    if other is not None:
        other["completed"] = fits.committed
        other["interrupted"] = bool(fits.stopped)
    if fits.stopped:
        # Ctrl-C: the committed prefix is returned and the caller decides what it means;
        # anything else a handler raised propagates.
        if not isinstance(control.raised, KeyboardInterrupt):
            raise control.raised
        out["interrupted"] = True
    elif on_progress is not None:
        on_progress(fits.committed)
    return out


def _cell_outputs(size_t ncells, size_t k):
    """The arrays of ncells fits, empty (NaN, -1, zero) until a fit fills its row."""
    return {
        "search": np.full((ncells, k), np.nan),
        "natural": np.full((ncells, k), np.nan),
        "count": np.full(ncells, -1, dtype=np.int64),
        "evaluations": np.zeros(ncells, dtype=np.int64),
        "limit_reached": np.zeros(ncells, dtype=bool),
        "low_values": np.zeros(ncells, dtype=bool),
        "high_values": np.zeros(ncells, dtype=bool),
        "no_finite_value": np.zeros(ncells, dtype=bool),
        "runs": np.zeros(ncells, dtype=np.int64),
        "polish_evaluations": np.zeros(ncells, dtype=np.int64),
        "polish_gain": np.zeros(ncells),
        "scale": np.full(ncells, np.nan),
        "messages": [[] for _ in range(ncells)],
        "facts": empty_facts(ncells),
    }


cdef void _put_cell(dict out, size_t i, SeriesFit& fit, double scale, FamilyId f,
                    size_t k) except *:
    """Row i of the arrays `out`: the fit of a cell at `scale`."""
    cdef FitReport* report = &fit.report
    cdef double[:, ::1] search = out["search"]
    cdef double[:, ::1] natural = out["natural"]
    cdef size_t j
    for j in range(min(k, report.result.params.size())):
        search[i, j] = report.result.params[j]
    if <size_t>report.result.params.size() == k:
        cpp_decode(f, &search[i, 0], &natural[i, 0])
    out["count"][i] = report.result.count
    out["evaluations"][i] = report.result.evaluations
    out["limit_reached"][i] = report.result.limitReached
    out["low_values"][i] = report.lowValues
    out["high_values"][i] = report.highValues
    out["no_finite_value"][i] = report.noFiniteValue
    out["runs"][i] = report.strategy.runs
    out["polish_evaluations"][i] = report.strategy.polishEvaluations
    out["polish_gain"][i] = report.strategy.polishGain
    out["scale"][i] = scale
    out["messages"][i] = [line.decode() for line in fit.lines]
    _put_facts(out["facts"], i, report.facts)


cdef double[::1] _cell_values(object values, size_t ncells, str what):
    cdef double[::1] out = np.broadcast_to(
        np.asarray(values, dtype=np.float64), (ncells,)
    ).copy()
    return out
