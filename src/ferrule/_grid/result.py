"""``GridFit``: the fits of every cell of a grid as arrays of the cell shape."""

from __future__ import annotations

import math
import os
from collections.abc import Mapping
from dataclasses import dataclass
from types import MappingProxyType
from typing import Any

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._docs import filled
from ferrule._grid.files import write_grid
from ferrule._grid.model import apply_cells, check_grid_model, model_fields
from ferrule._grid.schema import (
    AUTO,
    DEFAULT_METHOD,
    FAMILY_CODE,
    FAMILY_KEYS,
    GRID_FORMAT,
    GRID_FORMAT_VERSION,
    LATER_ARRAYS,
    LATER_SETTINGS,
    SETTING_FIELDS,
    TEXT_FIELDS,
    array_fields,
    required_fields,
)
from ferrule._input import series_axis, unwrap_pandas
from ferrule._kinds import like
from ferrule._model_check import check_fields, check_format
from ferrule._names import COUNT_UNITS, family_info, method_key
from ferrule._result import Fit

__all__ = ["GridFit"]


@dataclass(frozen=True, eq=False)
class GridFit:
    """One fitted transformation per cell of a grid, as arrays of the cell shape.

    Returned by :func:`ferrule.fit_grid`; immutable (its arrays are read-only). Every
    per-cell field of :class:`ferrule.Fit` is an array here; ``cell(index)`` gives one
    cell's :class:`~ferrule.Fit`. It pickles, and :meth:`save` writes it to a file.

    Attributes
    ----------
    family, method : str
        Registry keys of the family and of the optimiser. A grid fitted with
        ``family="auto"`` has family ``"auto"`` (each cell's own is in ``family_code``) and,
        unless an optimiser was named, method ``"default"``: each family's default.
    params : mapping of str to ndarray
        The transformation parameters by name (``lambda``; ``lambda, epsilon``;
        ``delta, epsilon``); for an "auto" grid those of every family, NaN where a cell's
        family lacks one.
    mu, sigma, loglik, log_posterior, aic, bic : ndarray of float
        As in :class:`~ferrule.Fit`; NaN where a cell was not fitted (``log_posterior``
        NaN throughout unless ``prior``).
    search : ndarray of float
        The best search vectors: the cell shape plus one axis of search coordinates.
    n, n_left, n_right, n_dropped, count, evaluations : ndarray of int
        Values fitted, censored left and right, NaN values left out, the optimiser's
        count (-1 where not fitted) and its likelihood evaluations.
    runs, polish_evaluations : ndarray of int
        What each cell's fit ran, as :class:`~ferrule.Fit` records it (0 where not
        fitted; a grid saved before they were kept reads back 1 and 0).
    converged, limit_reached, valid : ndarray of bool
        As in :class:`~ferrule.Fit`; False where a cell was not fitted.
    fitted : ndarray of bool
        Whether the cell was fitted (not masked, not left out, not interrupted).
    reason : ndarray of str
        Why a cell is not valid: its fit's problems joined by ``"; "``, or why it was not
        fitted (``"masked"``, ``"all values are missing"``...); ``""`` for valid cells.
    warnings : ndarray of str
        The warning messages of each cell's fit, one per line.
    notes : ndarray of str
        Each cell's notes (``Fit.notes``), one per line: what is worth knowing about a valid
        fit, such as a constrained optimum on the search box's bound.
    seed : ndarray of uint32
        Each cell's seed, from ``base_seed`` and the cell's flat index in the grid.
    scale, shift, left, right : ndarray of float
        Each cell's rescaling and censoring thresholds, in data units.
    prior : bool
        Whether the fits maximised the posterior.
    base_seed : int
        The 32-bit seed the cell seeds derive from: ``seed=grid.base_seed`` repeats the fit.
    max_converge, max_eval : int
        The shuffled complex evolution limits the fits ran with.
    axis : int
        The series axis of the values fitted: the default of the maps' `axis`.
    family_code : ndarray of int8 or None
        An "auto" grid's family of each cell, its index in ``GridFit.FAMILY_KEYS`` (the
        registry's order), -1 where a cell was not fitted; None for one family.
        :attr:`families` gives the names.

    Examples
    --------
    >>> import numpy as np
    >>> import ferrule
    >>> values = np.random.default_rng(0).gamma(2.0, size=(2, 3, 200))
    >>> grid = ferrule.fit_grid(values, seed=1)
    >>> grid.shape, grid.params["lambda"].shape, bool(grid.valid.all())
    ((2, 3), (2, 3), True)
    >>> bool(grid.cell((1, 2)).sigma == grid.sigma[1, 2])
    True
    """

    family: str
    method: str
    params: Mapping[str, np.ndarray]
    mu: np.ndarray
    sigma: np.ndarray
    search: np.ndarray
    loglik: np.ndarray
    log_posterior: np.ndarray
    aic: np.ndarray
    bic: np.ndarray
    n: np.ndarray
    n_left: np.ndarray
    n_right: np.ndarray
    n_dropped: np.ndarray
    count: np.ndarray
    evaluations: np.ndarray
    runs: np.ndarray
    polish_evaluations: np.ndarray
    converged: np.ndarray
    limit_reached: np.ndarray
    valid: np.ndarray
    fitted: np.ndarray
    reason: np.ndarray
    warnings: np.ndarray
    notes: np.ndarray
    seed: np.ndarray
    scale: np.ndarray
    shift: np.ndarray
    left: np.ndarray
    right: np.ndarray
    prior: bool
    base_seed: int
    max_converge: int
    max_eval: int
    axis: int = -1
    family_code: np.ndarray | None = None

    FAMILY_KEYS = FAMILY_KEYS

    def __post_init__(self) -> None:
        if (self.family == AUTO) != (self.family_code is not None):
            raise ValueError(f"{FAMILY_CODE} goes with family {AUTO!r} and with it only")
        for name in array_fields(self.family):
            object.__setattr__(self, name, _frozen(getattr(self, name)))
        params = {name: _frozen(value) for name, value in self.params.items()}
        object.__setattr__(self, "params", MappingProxyType(params))

    @property
    def families(self) -> np.ndarray:
        """Each cell's family key, ``""`` where a cell was not fitted.

        Examples
        --------
        >>> import numpy as np
        >>> import ferrule
        >>> values = np.random.default_rng(0).gamma(2.0, size=(3, 200))
        >>> grid = ferrule.fit_grid(values, "auto", seed=1)
        >>> grid.families.shape, grid.family
        ((3,), 'auto')
        """
        if self.family_code is None:
            return np.where(self.fitted, self.family, "").astype(object)
        keys = np.array(("", *self.FAMILY_KEYS), dtype=object)
        return keys[self.family_code.astype(np.intp) + 1]

    def _info(self, at: tuple[int, ...]) -> _core.FamilyInfo:
        """The family of the cell at `at`."""
        if self.family_code is None:
            return family_info(self.family)
        return family_info(self.FAMILY_KEYS[int(self.family_code[at])])

    @property
    def shape(self) -> tuple[int, ...]:
        """The cell shape."""
        return tuple(self.mu.shape)

    @property
    def size(self) -> int:
        """The number of cells."""
        return int(self.mu.size)

    # ---- one cell ------------------------------------------------------------------------
    def cell(self, index: int | tuple[int, ...]) -> Fit:
        """The :class:`~ferrule.Fit` of one cell.

        Equal to ``ferrule.fit`` of the cell's series (its NaN values omitted) with the
        cell's seed, thresholds and rescaling, except that the optimiser's console lines
        are not kept (``console`` is empty).

        Parameters
        ----------
        index : int or tuple of int
            The cell's position in the cell shape, or its flat (C-order) index.

        Raises
        ------
        ValueError
            The cell was not fitted (``reason`` says why).

        Examples
        --------
        >>> import numpy as np
        >>> import ferrule
        >>> values = np.random.default_rng(0).gamma(2.0, size=(4, 200))
        >>> grid = ferrule.fit_grid(values, seed=1)
        >>> one = ferrule.fit(values[2], seed=int(grid.seed[2]))
        >>> grid.cell(2).params == one.params
        True
        """
        at = self._position(index)
        if not self.fitted[at]:
            raise ValueError(f"cell {at} was not fitted: {self.reason[at]}")
        info = self._info(at)
        method = method_key(None if self.method == DEFAULT_METHOD else self.method, info)
        reason, warned, notes = str(self.reason[at]), str(self.warnings[at]), str(self.notes[at])
        return Fit(
            family=info.key, method=method,
            params={name: float(self.params[name][at]) for name in info.transformation_names},
            mu=float(self.mu[at]), sigma=float(self.sigma[at]),
            search=self.search[at][: len(info.search_start)],
            loglik=float(self.loglik[at]),
            log_posterior=float(self.log_posterior[at]) if self.prior else None,
            aic=float(self.aic[at]), bic=float(self.bic[at]), n=int(self.n[at]),
            n_left=int(self.n_left[at]), n_right=int(self.n_right[at]),
            n_dropped=int(self.n_dropped[at]), count=int(self.count[at]),
            count_unit=COUNT_UNITS[method], evaluations=int(self.evaluations[at]),
            runs=int(self.runs[at]), polish_evaluations=int(self.polish_evaluations[at]),
            converged=bool(self.converged[at]), limit_reached=bool(self.limit_reached[at]),
            valid=bool(self.valid[at]), problems=tuple(reason.split("; ")) if reason else (),
            warnings=tuple(warned.split("\n")) if warned else (),
            notes=tuple(notes.split("\n")) if notes else (), seed=int(self.seed[at]),
            scale=float(self.scale[at]), shift=float(self.shift[at]),
            left=float(self.left[at]), right=float(self.right[at]), prior=self.prior,
        )  # fmt: skip

    def _position(self, index: int | tuple[int, ...]) -> tuple[int, ...]:
        if isinstance(index, (int, np.integer)) and not isinstance(index, bool):
            if not -self.size <= index < self.size:
                raise IndexError(f"cell {index} is out of range for {self.size} cells")
            return tuple(int(i) for i in np.unravel_index(int(index) % self.size, self.shape))
        at = tuple(index)
        if len(at) != len(self.shape):
            raise IndexError(f"a cell of a grid of shape {self.shape} has {len(self.shape)} "
                             f"indices, got {len(at)}")  # fmt: skip
        for i, n in zip(at, self.shape, strict=True):
            if not -n <= i < n:
                raise IndexError(f"cell {at} is out of range for the cell shape {self.shape}")
        return tuple(int(i) % n for i, n in zip(at, self.shape, strict=True))

    # ---- the fitted distributions --------------------------------------------------------
    @filled
    def to_normal(self, values: npt.ArrayLike, *, axis: int | None = None) -> Any:
        """Standard normal scores of new values, each cell's series by its own fit.

        Parameters
        ----------
        values : array_like
            The cell shape with one axis of series at `axis`, or one value per cell
            (an array of the cell shape, or a scalar for every cell).
        axis : int, optional
            The series axis of `values`; default the axis the grid was fitted along.

        Returns
        -------
        ndarray
            The shape of `values`; NaN in cells without a valid fit.

        Examples
        --------
        %(grid)s
        >>> z = grid.to_normal(values)
        >>> bool(abs(z.mean()) < 0.1), z.shape
        (True, (2, 3, 200))
        """
        return self._apply("to_normal", values, axis)

    @filled
    def from_normal(self, z: npt.ArrayLike, *, axis: int | None = None, censor: bool = True) -> Any:
        """Data values of standard normal scores, the inverse of :meth:`to_normal`.

        Parameters
        ----------
        z : array_like
            Scores, shaped as the `values` of :meth:`to_normal`.
        axis : int, optional
            The series axis of `z`; default the axis the grid was fitted along.
        %(censor)s

        Returns
        -------
        ndarray
            The shape of `z`; NaN in cells without a valid fit.

        Examples
        --------
        >>> import numpy as np
        >>> import ferrule
        >>> values = np.random.default_rng(0).gamma(2.0, size=(2, 200))
        >>> grid = ferrule.fit_grid(values, seed=1)
        >>> bool(np.allclose(grid.from_normal(grid.to_normal(values)), values))
        True
        """
        return self._apply("from_normal", z, axis, censor=censor)

    def cdf(self, values: npt.ArrayLike, *, axis: int | None = None) -> Any:
        """Each cell's distribution function of the observed (clipped) variable.

        Parameters
        ----------
        values : array_like
            Data values, shaped as for :meth:`to_normal`.
        axis : int, optional
            The series axis of `values`; default the axis the grid was fitted along.

        Returns
        -------
        ndarray
            Non-exceedance probabilities, the shape of `values`; NaN in cells without a
            valid fit.

        Examples
        --------
        >>> import numpy as np
        >>> import ferrule
        >>> rain = np.maximum(np.random.default_rng(2).gamma(0.8, 4.0, (3, 400)) - 1.0, 0.0)
        >>> grid = ferrule.fit_grid(rain, left=0.0, seed=2)
        >>> grid.cdf(0.0).shape  # the probability of a dry day in each cell
        (3,)
        """
        return self._apply("cdf", values, axis)

    @filled
    def ppf(self, p: npt.ArrayLike, *, axis: int | None = None, censor: bool = True) -> Any:
        """Each cell's quantile function, the inverse of :meth:`cdf`.

        Parameters
        ----------
        p : array_like
            Probabilities, shaped as the `values` of :meth:`to_normal`.
        axis : int, optional
            The series axis of `p`; default the axis the grid was fitted along.
        %(censor)s

        Returns
        -------
        ndarray
            Data values, the shape of `p`; NaN in cells without a valid fit.

        Examples
        --------
        %(grid)s
        >>> grid.ppf(0.99).shape  # the 99th percentile of each cell
        (2, 3)
        """
        return self._apply("ppf", p, axis, censor=censor)

    def _apply(self, what: str, values: npt.ArrayLike, axis: int | None, **options: Any) -> Any:
        axis = self.axis if axis is None else axis
        return like(values, self._applied(what, values, axis, **options))

    def _applied(self, what: str, values: npt.ArrayLike, axis: int, **options: Any) -> np.ndarray:
        array = np.asarray(unwrap_pandas(values), dtype=np.float64)
        columns = {name: self.params[name] if name in self.params else getattr(self, name)
                   for name in model_fields(self.family)}  # fmt: skip
        if array.ndim == len(self.shape) + 1:
            axis = series_axis(axis, array.shape)
            rows = np.moveaxis(array, axis, -1)
            if rows.shape[:-1] != self.shape:
                raise ValueError(f"values of shape {array.shape} do not hold the cell shape "
                                 f"{self.shape} besides axis {axis}")  # fmt: skip
            return np.moveaxis(apply_cells(what, self.family, columns, rows, **options), -1, axis)
        series_axis(axis, (*self.shape, 1))  # unused for one value per cell, but not wrong
        try:
            rows = np.broadcast_to(array, self.shape)[..., np.newaxis]
        except ValueError:
            raise ValueError(f"values of shape {array.shape} fit neither the cell shape "
                             f"{self.shape} nor it with a series axis") from None  # fmt: skip
        return apply_cells(what, self.family, columns, rows, **options)[..., 0]

    # ---- saving and loading -------------------------------------------------------------
    def to_dict(self) -> dict[str, Any]:
        """The grid as a dictionary of settings and NumPy arrays (copies).

        ``format`` and ``version`` name the layout; :meth:`from_dict` reads it back.

        Examples
        --------
        >>> import numpy as np
        >>> import ferrule
        >>> grid = ferrule.fit_grid(np.random.default_rng(0).gamma(2.0, size=(2, 200)), seed=1)
        >>> ferrule.GridFit.from_dict(grid.to_dict()) == grid
        True
        """
        out: dict[str, Any] = {"format": GRID_FORMAT, "version": GRID_FORMAT_VERSION}
        out.update({name: getattr(self, name) for name in (*SETTING_FIELDS, *LATER_SETTINGS)})
        out["params"] = {name: np.array(value) for name, value in self.params.items()}
        out.update({name: np.array(getattr(self, name)) for name in array_fields(self.family)})
        return out

    @classmethod
    def from_dict(cls, data: Mapping[str, Any]) -> GridFit:
        """Rebuild a grid written by :meth:`to_dict`.

        Parameters
        ----------
        data : mapping
            The dictionary :meth:`to_dict` returned (its arrays may be lists).

        Raises
        ------
        ValueError
            Not a grid dictionary, or of a newer format version.

        Examples
        --------
        >>> import numpy as np
        >>> import ferrule
        >>> grid = ferrule.fit_grid(np.random.default_rng(0).gamma(2.0, size=(2, 200)), seed=1)
        >>> ferrule.GridFit.from_dict(grid.to_dict()).family
        'yeo_johnson'
        """
        if not isinstance(data, Mapping):
            raise ValueError(f"not a saved ferrule grid: a {type(data).__name__}, not a mapping")
        check_format("saved grid", data.get("format"), data.get("version"), GRID_FORMAT,
                     GRID_FORMAT_VERSION)  # fmt: skip
        check_fields("saved grid", data, (*SETTING_FIELDS, "params"))
        check_fields("saved grid", data, required_fields(data["family"]))
        if not isinstance(data["params"], Mapping):
            raise ValueError("saved grid: params is not a mapping of parameter names to arrays")
        kwargs: dict[str, Any] = {name: data[name] for name in (*SETTING_FIELDS, "params")}
        kwargs.update({name: int(data.get(name, value)) for name, value in LATER_SETTINGS.items()})
        kwargs.update({name: np.asarray(data[name])
                       for name in array_fields(data["family"]) if name in data})  # fmt: skip
        shape = np.shape(kwargs["mu"])
        kwargs.update({name: np.full(shape, value)
                       for name, value in LATER_ARRAYS.items() if name not in data})  # fmt: skip
        for name in TEXT_FIELDS:
            kwargs[name] = np.asarray(kwargs[name], dtype=object).astype(str).astype(object)
        kwargs["prior"] = bool(kwargs["prior"])
        for name in ("base_seed", "max_converge", "max_eval"):
            kwargs[name] = int(kwargs[name])
        check_grid_model("saved grid", kwargs["family"], kwargs["params"], kwargs)
        return cls(**kwargs)

    def save(self, path: str | os.PathLike[str]) -> None:
        """Write the grid to a ``.npz`` file, or a NetCDF file (``.nc``, needs xarray).

        :func:`ferrule.load_grid` reads either back.

        Parameters
        ----------
        path : str or path-like
            The file; its suffix (``.npz``, ``.nc``, ``.nc4``, ``.netcdf``) tells the format.

        Raises
        ------
        ValueError
            A suffix that names neither format.

        Examples
        --------
        >>> import numpy as np
        >>> import ferrule
        >>> grid = ferrule.fit_grid(np.random.default_rng(0).gamma(2.0, size=(2, 200)), seed=1)
        >>> grid.save("grid.npz")
        >>> ferrule.load_grid("grid.npz") == grid
        True
        """
        write_grid(self.to_dict(), path)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, GridFit):
            return NotImplemented
        mine, theirs = self.to_dict(), other.to_dict()
        if mine.keys() != theirs.keys() or mine["params"].keys() != theirs["params"].keys():
            return False
        pairs = [(mine[k], theirs[k]) for k in mine if k != "params"]
        pairs += [(mine["params"][k], theirs["params"][k]) for k in mine["params"]]
        return all(_same(a, b) for a, b in pairs)

    __hash__ = None  # type: ignore[assignment]

    def __reduce__(self) -> tuple[Any, tuple[dict[str, Any]]]:
        # The read-only mapping of the parameters does not pickle; the saved layout does.
        return (type(self).from_dict, (self.to_dict(),))

    def __repr__(self) -> str:
        fitted = int(self.fitted.sum())
        return (
            f"GridFit(family={self.family!r}, method={self.method!r}, shape={self.shape}, "
            f"fitted={fitted}, valid={int(self.valid.sum())}, "
            f"not_valid={fitted - int(self.valid.sum())}, "
            f"limit_reached={int(self.limit_reached.sum())}, "
            f"not_fitted={self.size - fitted}, base_seed={self.base_seed})"
        )


def _frozen(value: npt.ArrayLike) -> np.ndarray:
    array = np.array(value)
    array.flags.writeable = False
    return array


def _same(a: Any, b: Any) -> bool:
    if isinstance(a, np.ndarray) or isinstance(b, np.ndarray):
        a, b = np.asarray(a), np.asarray(b)
        if a.shape != b.shape:
            return False
        if a.dtype.kind == "f" and b.dtype.kind == "f":
            return bool(np.array_equal(a, b, equal_nan=True))
        return bool(np.array_equal(a, b))
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    return bool(a == b)
