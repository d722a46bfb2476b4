# What the classes of ferrule.kestrel share: conversions of arguments and results, and
# the argument checks, expansions, busy mark and interrupt handling of the grid classes.
# Included by the generated kestrel.pyx.

from cpython.exc cimport PyErr_CheckSignals
from libcpp cimport bool as cbool
from libcpp.vector cimport vector
from openmp cimport omp_get_max_threads

from ferrule.core cimport (
    FitSettings,
    Method,
    StridedCube,
    Vector,
)


# ---- conversions -------------------------------------------------------------------

# Copies a 1-D buffer (any stride; None counts as empty) into `out`, which it clears.
# The helpers fill a vector passed in rather than return one: growing it is guarded
# against exhausted memory (MemoryError), the copy of a vector returned by value is not.
cdef int _as_vector(double[:] values, Vector& out) except -1:
    cdef Py_ssize_t i, n = values.shape[0]
    out.clear()
    out.reserve(n)
    for i in range(n):
        out.push_back(values[i])
    return 0


# A search vector for log_density/log_jacobian: the core decodes its first nparms
# entries, so a shorter one is refused before the object is touched.
cdef int _as_search_vector(double[:] params, int nparms, Vector& out) except -1:
    if params.shape[0] < nparms:
        raise ValueError(
            "Expected at least {:} params, got {:}".format(nparms, params.shape[0])
        )
    return _as_vector(params, out)


# A result vector as a list of Python floats handed to `np.fromiter`; `np` is looked up
# in the module at call time, so it can be replaced there.
cdef object _as_array(const Vector& values):
    cdef list items = values
    return np.fromiter(items, dtype=float)


# ---- grid classes: arguments -------------------------------------------------------

# Row-major location numbering: v_i = r_i * ncols + c_i.
cdef inline (Py_ssize_t, Py_ssize_t) _cell_index(Py_ssize_t v_i, Py_ssize_t ncols) noexcept nogil:
    return v_i // ncols, v_i % ncols


cdef int _check_grid_shape(const Py_ssize_t* shape, Py_ssize_t nrows, Py_ssize_t ncols,
                           str what) except -1:
    if shape[0] != nrows or shape[1] != ncols:
        raise ValueError("Shape of passed " + what + " do not match initialised object")
    return 0


cdef bint _is_grid_array(object a, Py_ssize_t nrows, Py_ssize_t ncols) except -1:
    cdef Py_ssize_t ndim = a.ndim
    if ndim != 2:
        return False
    shape = a.shape
    return shape[0] == nrows and shape[1] == ncols


# One threshold for every location, or a 2-D array holding one per location; any array
# element that converts to float will do. The expansions fill an empty vector passed in:
# growing it is guarded against exhausted memory, a vector returned by value is copied
# unguarded.
cdef int _expand_threshold(object thresh, str name, Py_ssize_t nrows, Py_ssize_t ncols,
                           vector[double]& out) except -1:
    cdef Py_ssize_t v_i, niter = nrows * ncols
    if isinstance(thresh, np.ndarray):
        if not _is_grid_array(thresh, nrows, ncols):
            raise ValueError("Shape of passed " + name + " do not match initialised object")
        out.reserve(niter)
        for v_i in range(niter):
            out.push_back(float(thresh[_cell_index(v_i, ncols)]))
    elif isinstance(thresh, (int, float)):
        out.resize(niter, float(thresh))
    else:
        raise TypeError(name + " must be either a 2D array, an int or float")
    return 0


# A true flag skips the location. A scalar mask can only say "skip nothing": True (and
# so 1, which equals it) is refused rather than taken as "skip everything".
cdef int _expand_mask(object mask, Py_ssize_t nrows, Py_ssize_t ncols,
                      vector[cbool]& out) except -1:
    cdef Py_ssize_t v_i, niter = nrows * ncols
    if isinstance(mask, np.ndarray):
        if not _is_grid_array(mask, nrows, ncols):
            raise ValueError("Shape of passed mask do not match initialised object")
        out.reserve(niter)
        for v_i in range(niter):
            out.push_back(True if mask[_cell_index(v_i, ncols)] else False)
    elif isinstance(mask, int):
        if mask == True:  # noqa: E712
            raise ValueError("The argument mask must be a 2D array of boolean or False")
        out.resize(niter, False)
    else:
        raise TypeError("mask must be either a 2D array of boolean or False")
    return 0


# The values of a grid call as the core's loops read them, with their strides.
cdef StridedCube _cube(const double[:, :, :] values) noexcept:
    cdef StridedCube cube
    cdef int d
    cube.data = NULL
    for d in range(3):
        cube.strides[d] = values.strides[d]
        cube.shape[d] = values.shape[d]
    if values.shape[0] > 0 and values.shape[1] > 0 and values.shape[2] > 0:
        cube.data = <const char*>&values[0, 0, 0]
    return cube


# Writes a location's vector along axis 2 of its cell.
cdef void _store_cell(double[:, :, ::1] out, Py_ssize_t r_i, Py_ssize_t c_i,
                      const Vector& v) noexcept:
    cdef Py_ssize_t k, n = min(<Py_ssize_t>v.size(), out.shape[2])
    for k in range(n):
        out[r_i, c_i, k] = v[k]


# What a fit hands unchanged to every location.
cdef FitSettings _fit_settings(Method method, bint do_rescale, bint is_map, int max_converge,
                               int max_eval) noexcept:
    cdef FitSettings s
    s.method = method
    s.rescale = do_rescale
    s.isMap = is_map
    s.maxConverge = max_converge
    s.maxEval = max_eval
    return s


# ---- grid classes: busy mark and interrupts ----------------------------------------

cdef int _check_idle(bint busy, str cls) except -1:
    if busy:
        raise RuntimeError(
            cls + " instance is busy: another thread is running a call on it; an instance"
            " must not be used from two threads at once"
        )
    return 0


# Tested and set with no Python code in between, so no other thread can slip in. The
# flag helpers are module functions: a C method would give each class a visible vtable.
cdef int _claim(bint* busy, str cls) except -1:
    _check_idle(busy[0], cls)
    busy[0] = True
    return 0


# Signal handlers run in the main thread only; elsewhere the check would just take the
# lock for nothing, waiting for it while other threads run Python code.
cdef bint _on_main_thread() except -1:
    import threading
    return threading.get_ident() == threading.main_thread().ident


# Between two locations the loop takes the lock and runs the pending signal handlers; what
# a handler raises (KeyboardInterrupt for Ctrl-C) stops the loop and is raised after it.
cdef class _Interrupts:
    cdef object raised

    cdef int raise_if_stopped(self) except -1:
        if self.raised is not None:
            raised, self.raised = self.raised, None
            raise raised
        return 0


cdef cbool _stop_before_location(void* context) noexcept with gil:
    try:
        PyErr_CheckSignals()
    except BaseException as exc:
        (<_Interrupts>context).raised = exc
        return True
    return False


cdef int _grid_threads() noexcept nogil:
    return omp_get_max_threads()
