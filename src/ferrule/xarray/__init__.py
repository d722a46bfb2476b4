"""Fitting and applying normalising transformations on xarray DataArrays.

Needs xarray (``pip install 'ferrule[xarray]'``; NetCDF files through h5netcdf, which the
extra installs). A DataArray is fitted along one named dimension, one model per cell (and
per group, with ``groupby``); the result is a Dataset of parameters over the other
dimensions, with their coordinates, which :func:`transform`, :func:`inverse`, :func:`cdf`
and :func:`ppf` apply to new data. Chunked (dask-backed) arrays are fitted and transformed
block by block where they lie, on dask's threads or on a ``dask.distributed`` cluster,
with the same numbers as in memory (``pip install 'ferrule[dask]'``).

Examples
--------
>>> import numpy as np
>>> import xarray as xr
>>> import ferrule.xarray as fx
>>> rng = np.random.default_rng(0)
>>> da = xr.DataArray(rng.gamma(2.0, size=(2, 3, 300)), dims=("lat", "lon", "time"))
>>> params = fx.fit(da, dim="time", seed=1)
>>> z = fx.transform(params, da, dim="time")
>>> z.dims
('lat', 'lon', 'time')
"""

from __future__ import annotations

import math
from typing import Any

from ferrule._docs import filled
from ferrule._grid.dataset import fit_settings, open_netcdf, require_xarray, write_netcdf
from ferrule._seeds import SeedLike
from ferrule.xarray._index_groups import DEFAULT_GROUPBY

__all__ = [
    "cdf",
    "fit",
    "fit_settings",
    "inverse",
    "open_netcdf",
    "ppf",
    "standardized_index",
    "standardized_index_params",
    "transform",
    "write_netcdf",
]

require_xarray()


def fit(
    da: Any,
    family: str = "yeo_johnson",
    *,
    dim: str = "time",
    groupby: str | None = None,
    method: str | None = None,
    left: Any = -math.inf,
    right: Any = math.inf,
    scale: Any = "auto",
    shift: Any = 0.0,
    prior: bool = False,
    seed: SeedLike = None,
    mask: Any = None,
    n_jobs: int | None = None,
    progress: bool | None = None,
    max_converge: int = 5,
    max_eval: int = 100000,
    fast: bool = False,
) -> Any:
    """Fit one transformation per cell of a DataArray, along dimension `dim`.

    Each cell's series is fitted as :func:`ferrule.fit_grid` fits it (NaN values are
    missing days; all-NaN cells are left out and reported). With `groupby`, one model per
    cell and group: ``groupby="time.month"`` fits twelve models per cell.

    A chunked (dask-backed) DataArray is fitted block by block through
    ``xarray.apply_ufunc(..., dask="parallelized")`` and the result is lazy: nothing runs
    until it is computed or written, and no warnings are raised then (read ``valid``,
    ``limit_reached`` and ``reason``). The numbers do not depend on the chunking, the
    scheduler or `n_jobs`: every cell's seed comes from the base seed and its flat index
    in the whole grid. Each block runs on one thread unless `n_jobs` says otherwise (dask
    spreads the blocks). Models travel to workers as plain values, never as objects.

    Parameters
    ----------
    da : xarray.DataArray
        The data; `dim` is the series dimension, every other dimension a cell dimension.
    family : str, default "yeo_johnson"
        One family, as :func:`ferrule.fit` names it, or ``"auto"``: per cell (and group)
        the fit ``ferrule.fit(..., "auto")`` keeps, as :func:`ferrule.fit_grid` chooses it;
        ``family_code`` then holds each cell's family.
    dim : str, default "time"
        The dimension along which to fit.
    groupby : str, optional
        A coordinate along `dim` whose values group the series, or a part of its dates:
        ``"month"`` (also written ``"time.month"``), ``"season"``, ``"dayofyear"``...; the
        result gains a dimension named after it (``month``).
    method, prior, max_converge, max_eval, fast
        As in :func:`ferrule.fit`.
    left, right, scale, shift : scalar, array or DataArray
        As in :func:`ferrule.fit_grid`, per cell: a DataArray over (some of) the cell
        dimensions is broadcast against them.
    seed : None, int or numpy.random.Generator
        The base seed; stored as the ``ferrule_base_seed`` attribute.
    mask : bool array or DataArray, optional
        True for cells not to fit.
    n_jobs : int, optional
        Threads per fit (in memory: None uses every core; chunked: per block, default 1).
    progress : bool, optional
        Progress bar of an in-memory fit, as in :func:`ferrule.fit_grid`.

    Returns
    -------
    xarray.Dataset
        One variable per per-cell field of :class:`ferrule.GridFit` (the parameters by
        name, ``mu``, ``sigma``, ``loglik``, ``aic``, ``valid``, ``reason``, ``seed``...),
        over the cell dimensions (and the group dimension first) with the input's
        coordinates; the input's attributes, and the fit settings as ``ferrule_*``
        attributes. Write it with ``to_netcdf``; read it back with ``xarray.open_dataset``.

    Raises
    ------
    GridFitInterrupted
        Ctrl-C during an in-memory fit; its ``partial`` is the Dataset of the cells (and
        groups) finished before it.
    TypeError, ValueError
        `da` not a DataArray or without `dim`, a `groupby` that does not label `dim`,
        per-cell settings over other dimensions or without a value for some cell, and the
        refusals of :func:`ferrule.fit_grid`.

    Examples
    --------
    >>> import numpy as np
    >>> import pandas as pd
    >>> import xarray as xr
    >>> import ferrule.xarray as fx
    >>> time = pd.date_range("2001-01-01", periods=730, freq="D")
    >>> rain = np.random.default_rng(0).gamma(0.6, 5.0, size=(2, 730))
    >>> da = xr.DataArray(rain, dims=("station", "time"), coords={"time": time},
    ...                   attrs={"units": "mm/day"})
    >>> params = fx.fit(da, groupby="time.month", seed=1)
    >>> params["lambda"].dims, params.attrs["units"]
    (('month', 'station'), 'mm/day')

    On a cluster, chunk the data and connect a client first; the call is the same:

    >>> from dask.distributed import Client  # doctest: +SKIP
    >>> client = Client("tcp://scheduler-host:8786")  # doctest: +SKIP
    >>> data = xr.open_dataset("pr.nc", chunks={"lat": 50, "lon": 50})["pr"]  # doctest: +SKIP
    >>> fx.fit(data, seed=1).to_netcdf("params.nc")  # doctest: +SKIP
    """
    from ferrule.xarray._fit import fit_dataarray

    return fit_dataarray(
        da, dim=dim, family=family, groupby=groupby, method=method,
        options={"left": left, "right": right, "scale": scale, "shift": shift, "mask": mask},
        prior=prior, seed=seed, n_jobs=n_jobs, progress=progress,
        max_converge=max_converge, max_eval=max_eval, fast=bool(fast),
    )  # fmt: skip


def _map(what: str, params: Any, da: Any, dim: str, **options: bool) -> Any:
    from ferrule.xarray._apply import apply_dataarray

    return apply_dataarray(what, params, da, dim, **options)


@filled
def transform(params: Any, da: Any, dim: str = "time") -> Any:
    """Standard normal scores of `da`, each cell's series by its own fitted model.

    With a grouped fit each value is transformed by its group's model (a value without a
    group label gives NaN). Cells without a valid fit give NaN. Chunked input gives a lazy
    result, computed block by block.

    Parameters
    ----------
    %(fitted)s
    da : xarray.DataArray
        Data over the series dimension `dim` and cell dimensions of `params`: all of its
        cells or some (``da.sel(lat=slice(...))``), or one cell chosen with ``sel``. Each
        cell is matched to its parameters by its coordinate labels. A cell dimension that
        `da` lacks altogether is broadcast: every cell's model applied to the same values.
    dim : str, default "time"
        The series dimension of `da`.

    Returns
    -------
    xarray.DataArray
        The dimensions and coordinates of `da`.

    Raises
    ------
    TypeError, ValueError
        `params` not written by :func:`fit`, `da` not a DataArray or without `dim`, or
        cells (or groups) of `da` for which `params` hold no fit.

    Examples
    --------
    %(stations)s
    >>> z = fx.transform(fx.fit(da, seed=1), da)
    >>> bool(abs(float(z.mean())) < 0.1)
    True
    """
    return _map("to_normal", params, da, dim)


@filled
def inverse(params: Any, z: Any, dim: str = "time", *, censor: bool = True) -> Any:
    """Data values of standard normal scores, the inverse of :func:`transform`.

    Parameters
    ----------
    %(fitted)s
    z : xarray.DataArray
        Standard normal scores, laid out as the data of :func:`transform`.
    dim : str, default "time"
        The series dimension of `z`.
    %(censor)s

    Returns
    -------
    xarray.DataArray
        Values in the data's units (the attributes of the fitted data), the dimensions
        and coordinates of `z`.

    Examples
    --------
    %(stations)s
    >>> params = fx.fit(da, seed=1)
    >>> back = fx.inverse(params, fx.transform(params, da))
    >>> bool(np.allclose(back, da))
    True
    """
    return _map("from_normal", params, z, dim, censor=censor)


@filled
def cdf(params: Any, da: Any, dim: str = "time") -> Any:
    """Each cell's (and group's) fitted distribution function of the values in `da`.

    Parameters
    ----------
    %(fitted)s
    da : xarray.DataArray
        Data values, laid out as for :func:`transform`.
    dim : str, default "time"
        The series dimension of `da`.

    Returns
    -------
    xarray.DataArray
        Non-exceedance probabilities, the dimensions and coordinates of `da`.

    Examples
    --------
    %(stations)s
    >>> p = fx.cdf(fx.fit(da, seed=1), da)
    >>> bool(((p > 0) & (p < 1)).all())
    True
    """
    return _map("cdf", params, da, dim)


@filled
def ppf(params: Any, p: Any, dim: str = "time", *, censor: bool = True) -> Any:
    """Each cell's (and group's) fitted quantiles of the probabilities in `p`.

    Parameters
    ----------
    %(fitted)s
    p : xarray.DataArray
        Probabilities, laid out as the data of :func:`transform`; without the cell
        dimensions, the same probabilities for every cell.
    dim : str, default "time"
        The series dimension of `p`.
    %(censor)s

    Returns
    -------
    xarray.DataArray
        Quantiles in the data's units.

    Examples
    --------
    %(stations)s
    >>> params = fx.fit(da, seed=1)
    >>> q = fx.ppf(params, xr.DataArray([0.5, 0.99], dims="time"))
    >>> q.sizes["station"], q.sizes["time"]
    (3, 2)
    """
    return _map("ppf", params, p, dim, censor=censor)


def standardized_index_params(
    da: Any,
    family: str = "auto",
    *,
    dim: str = "time",
    groupby: str | None = DEFAULT_GROUPBY,
    window: int | None = None,
    accumulate: int | str | None = None,
    calibration: Any = None,
    left: float = 0.0,
    method: str | None = None,
    prior: bool = False,
    fast: bool = False,
    adequate: float | None = None,
    seed: SeedLike = None,
    n_jobs: int | None = None,
) -> Any:
    """Fit the models of a standardised index (such as the SPI), per cell and group.

    The values are summed over `accumulate` steps, and each cell's values of the
    `calibration` period are fitted per group (calendar month, season or day of year)
    by censored maximum likelihood, on all cores (chunked arrays: block by block through
    dask, with the same numbers). :func:`standardized_index` applies the result to any
    data of the same cells, such as a later year or a forecast.

    Parameters
    ----------
    da : xarray.DataArray
        The data; `dim` is the series dimension, every other dimension a cell dimension.
        NaN values are missing; all-NaN cells (the sea) get no fit.
    family : str, default "auto"
        One family, as :func:`ferrule.fit` names it, or "auto": for each cell and group the
        valid fit of lowest AIC among the families fitted (see `adequate`); the ``family``
        variable records which (CF flags).
    dim : str, default "time"
        The series dimension.
    groupby : str or None, default "time.month"
        "month", "season" or "dayofyear" (with or without the ``time.`` prefix), another
        coordinate along `dim`, or None for one fit per cell.
    window : int, optional
        With ``groupby="dayofyear"``: each day's fit pools the days within ±`window` days
        of it (around the year), so that 30 years give it 30 (2 `window` + 1) values.
    accumulate : int or str, optional
        Sum this many consecutive steps before fitting ("90D" or "3MS": the span in steps
        of the series); a sum with a missing or absent step is NaN.
    calibration : slice or pair, optional
        The period whose values are fitted, such as ``slice("1991", "2020")`` or
        ``("1991-01-01", "2020-12-31")`` of the `dim` labels; default the whole record.
    left : float, default 0.0
        Values at or below it (dry days) are censored there; -inf for none.
    method, prior, fast
        As in :func:`ferrule.fit`: by default each fit restarts and polishes until it
        reaches the optimum; ``fast=True`` runs the optimiser once (quicker, and on short
        calibration samples sometimes short of the optimum).
    adequate : float or None, default None
        With "auto", None fits every family and keeps the valid fit of lowest AIC, the
        choice of ``ferrule.fit(..., "auto")``. A level such as 0.25 trades some of that
        choice for speed: the families are fitted in turn, cheapest first (Yeo-Johnson,
        log-sinh, sinh-arcsinh, Jones-Pewsey), and a cell and group stops at the first
        valid fit whose scores above the left threshold pass the Anderson-Darling test of
        normality at this level (p-value >= `adequate`; a higher level asks more of a fit),
        keeping the valid fit of lowest AIC among the families fitted. On a 30-year monthly
        grid 0.25 does about a ninth of the work and leaves the index's calibration quality
        (Anderson-Darling failures, mean score, dry probability) as it is, at a mean AIC 0.6
        above the best family's. Stored as ``ferrule_adequate``.
    seed : None, int or numpy.random.Generator
        The base seed of the cell seeds; stored as the ``ferrule_base_seed`` attribute.
    n_jobs : int, optional
        Threads (in memory: None uses every core; chunked: per block, default 1).

    Returns
    -------
    xarray.Dataset
        Over the group dimension (``month``, ``season``, ``dayofyear``) and the cell
        dimensions: ``family``, the parameters of every family by name (NaN where the cell
        uses another), ``mu``, ``sigma``, ``scale``, ``shift``, ``left``, ``right``,
        ``aic``, ``loglik``, ``n``, ``n_left`` and ``valid``; the settings as ``ferrule_*``
        attributes. A cell and group without a valid fit keeps ``n``, ``n_left`` and
        ``left`` of its sample (its dry values are scored from their share). Write it with
        ``to_netcdf``.

    Raises
    ------
    TypeError, ValueError
        `da` not a DataArray or without `dim`, a grouping or span that does not fit the
        series, a calibration that selects nothing, unknown families.

    Warns
    -----
    InvalidFitWarning
        How many cell-groups with values got no valid fit, and how many of them have fewer
        than 5 distinct values above `left` (too few to fit any family).

    Examples
    --------
    >>> import numpy as np
    >>> import pandas as pd
    >>> import xarray as xr
    >>> import ferrule.xarray as fx
    >>> time = pd.date_range("1991-01-01", periods=360, freq="MS")
    >>> rain = np.random.default_rng(0).gamma(2.0, 30.0, size=(2, 360))
    >>> pr = xr.DataArray(rain, dims=("station", "time"), coords={"time": time}, name="pr")
    >>> params = fx.standardized_index_params(pr, "yeo_johnson", accumulate=3, seed=1)
    >>> params["mu"].dims, params.attrs["ferrule_accumulate"]
    (('month', 'station'), 3)
    """
    from ferrule.xarray._index import IndexSettings, index_params

    settings = IndexSettings(family, groupby, window, accumulate, calibration, left, method,
                             prior, fast, adequate)  # fmt: skip
    return index_params(da, settings, dim=dim, seed=seed, n_jobs=n_jobs)


def standardized_index(
    da: Any,
    family: str = "auto",
    *,
    dim: str = "time",
    groupby: str | None = DEFAULT_GROUPBY,
    window: int | None = None,
    accumulate: int | str | None = None,
    calibration: Any = None,
    zeros: str = "center",
    p0: str = "model",
    clip: float | None = 8.21,
    params: Any = None,
    left: float = 0.0,
    method: str | None = None,
    prior: bool = False,
    fast: bool = False,
    adequate: float | None = None,
    seed: SeedLike = None,
    n_jobs: int | None = None,
) -> Any:
    """Standardised index scores (such as the SPI) of every value of a DataArray.

    Each value (summed over `accumulate` steps) becomes the standard normal score of its
    cell's and group's fitted model: Phi^-1 of its non-exceedance probability. Values at or
    below `left` (dry spells) share the probability p0 of the censored mass and are scored
    by the `zeros` convention. Without `params` the models are fitted first, as
    :func:`standardized_index_params` fits them; with `params` those are applied (the fit
    settings are then theirs).

    Parameters
    ----------
    da : xarray.DataArray
        The data, as for :func:`standardized_index_params`.
    family, dim, groupby, window, accumulate, calibration, left, method, prior
        As in :func:`standardized_index_params`.
    fast, adequate, n_jobs
        As in :func:`standardized_index_params`.
    zeros : {"center", "upper", "mean", "random"}, default "center"
        The score of a value at or below `left`: "upper" Phi^-1(p0), the top of the dry
        mass; "center" Phi^-1(p0 / 2), its middle; "mean" -phi(Phi^-1(p0)) / p0, the
        normal's mean below Phi^-1(p0), so that scores average 0; "random" Phi^-1(u p0)
        with u drawn uniform in (0, 1] from the seed and the cell (the same in any chunking),
        so that the scores are standard normal.
    p0 : {"model", "empirical"}, default "model"
        The dry probability: the fitted model's censored mass, or the share k/n of values at
        or below `left` in the fitted sample (the scores above `left` then keep their place
        in the model's distribution of wet values). A cell and group without a valid fit
        (such as a dry-season day with fewer than 5 distinct wet values in its pool) takes
        the share whatever `p0` says: its dry values are scored by the `zeros` convention,
        its wet values are NaN. For scoring, the share is kept within the plotting positions
        1/(n+1) and n/(n+1), so that a sample with only dry values gives finite scores: its
        dry values score Phi^-1(n/(n+1)) "upper", just below 0 "center" and "mean".
    clip : float or None, default 8.21
        Scores are clipped to [-clip, clip]; None leaves them.
    params : xarray.Dataset, optional
        The result of :func:`standardized_index_params` (or read back from its file). The
        fit settings are then theirs: a setting left at its default takes their value, one
        given that differs (another `accumulate` or `groupby`, a `calibration`) is refused.
    seed : None, int or numpy.random.Generator
        The base seed of the fits and of the draws of ``zeros="random"``; with `params`,
        None takes theirs, so that fitting then scoring gives the one-step numbers.

    Returns
    -------
    xarray.DataArray
        The scores, with the dimensions and coordinates of `da`, named ``spi`` for
        precipitation (else ``standardized_index``); attributes ``long_name`` (what index:
        accumulation, groups, calibration), ``units = "1"`` and the settings as
        ``ferrule_*`` attributes.

    Raises
    ------
    TypeError, ValueError
        As :func:`standardized_index_params`; unknown conventions; `params` not written by
        it, without a fit for some cell or group, or fitted with other settings than given.

    Warns
    -----
    InvalidFitWarning
        As :func:`standardized_index_params` when it fits; with `params` (in memory), how
        many values with data get no score because their cell and group has no valid fit.
        The ``comment`` attribute of the scores says how such cells and groups are scored.

    Examples
    --------
    >>> import numpy as np
    >>> import pandas as pd
    >>> import xarray as xr
    >>> import ferrule.xarray as fx
    >>> time = pd.date_range("1991-01-01", periods=360, freq="MS")
    >>> rain = np.random.default_rng(0).gamma(2.0, 30.0, size=(2, 360))
    >>> pr = xr.DataArray(rain, dims=("station", "time"), coords={"time": time}, name="pr")
    >>> spi3 = fx.standardized_index(pr, "yeo_johnson", accumulate=3, seed=1)
    >>> print(spi3.attrs["long_name"])  # doctest: +NORMALIZE_WHITESPACE
    standardized precipitation index (3-month accumulation, calendar-month fits,
    1991–2020 calibration)
    >>> bool(abs(float(spi3.mean())) < 0.1)
    True
    """
    from ferrule.xarray._index import IndexSettings, check_matching, index_params, index_scores

    settings = IndexSettings(family, groupby, window, accumulate, calibration, left, method,
                             prior, fast, adequate)  # fmt: skip
    fitted = params is None
    if fitted:
        params = index_params(da, settings, dim=dim, seed=seed, n_jobs=n_jobs)
    else:
        check_matching(params, settings, da, dim)
    return index_scores(da, params, dim=dim, zeros=zeros, p0=p0, clip=clip, seed=seed,
                        warn=not fitted)  # fmt: skip
