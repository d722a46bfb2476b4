"""``ferrule.fit_problems``: the validity checks of ``ferrule.fit`` for fits made elsewhere."""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

from ferrule import _core
from ferrule._input import as_series, checked_scale, checked_thresholds
from ferrule._names import family_info, method_key
from ferrule._validity import judge

__all__ = ["fit_problems"]


def fit_problems(
    family: str,
    search: npt.ArrayLike,
    data: npt.ArrayLike,
    *,
    method: str,
    left: float = -math.inf,
    right: float = math.inf,
    scale: float = 1.0,
    shift: float = 0.0,
    limit_reached: bool = False,
) -> tuple[str, ...]:
    """Why an optimum is not a valid fit of a series; empty when it is.

    The checks behind ``Fit.valid`` and ``Fit.problems``, for a search vector found some
    other way (for example by a ``ferrule.kestrel`` class: ``get_optimised_params()``).
    A fit is flagged when no finite likelihood was found (all-NaN search vector), the
    optimiser hit its limit, a search coordinate sits at the edge of its box where a point
    inside would be better (box methods; an edge where the likelihood is highest within the
    box is a constrained optimum, valid) or outside the box (Nelder-Mead), a decoded
    parameter lies outside the family's meaningful range (``sigma <= 0``, ``delta <= 0``,
    log-sinh's epsilon outside ``[exp(-20), 1]``), the log-likelihood is not finite or is
    one the objective uses to refuse parameters, sigma is absurd for the spread of the
    values it scales, the transformation saturates, decreases or is undefined on the
    uncensored values, the censoring of values disagrees with the thresholds, fewer than 5
    distinct uncensored values remain (values apart by a relative 1e-12 or less count as
    one), the model does not give its extreme values back (relative error above 1e-3),
    or the optimum is the family's degenerate limit (Yeo-Johnson's normal centred on the
    end of its range, log-sinh's linear limit, sinh-arcsinh's and Jones-Pewsey's
    delta -> 0, sinh-arcsinh's epsilon -> -inf or inf: epsilon or mu on its box edge, or a
    likelihood within 0.1 of the limit's, whose map is one exponential of delta asinh(x)).

    Parameters
    ----------
    family, method : str
        Family and optimiser names as :func:`ferrule.fit` takes them.
    search : array_like
        The search vector of the optimum.
    data : array_like
        The series in data units (NaN values are left out).
    left, right, scale, shift : float
        Thresholds and rescaling as the fit used them (``do_rescale=False`` is
        ``scale=1, shift=0``); ``left < right``, scale positive.
    limit_reached : bool
        Whether the optimiser reported reaching its limit.

    Returns
    -------
    tuple of str

    Raises
    ------
    ValueError
        Unknown names, thresholds out of order, a scale that is not positive, a search
        vector of the wrong length.

    Examples
    --------
    >>> import numpy as np
    >>> import ferrule
    >>> from ferrule.kestrel import PyYJT
    >>> x = np.random.default_rng(0).gamma(2.0, size=200)
    >>> model = PyYJT()
    >>> model.optim_params(x, -np.inf, np.inf, False, False)  # prints its console lines
    >>> ferrule.fit_problems("yeo_johnson", model.get_optimised_params(), x, method="simplex")
    ()
    >>> ferrule.fit_problems("yeo_johnson", [1.0, 0.0, 30.0], x, method="simplex")
    ('sigma = 1.069e+13 is absurd for the spread of the values it scales ...',)
    """
    info = family_info(family)
    key = method_key(method, info)
    left, right, shift = checked_thresholds(left, right, shift)
    values = as_series(data, "omit", left, right).values
    scale = checked_scale(scale, values, shift)
    vector = np.array(search, dtype=np.float64).ravel()
    if vector.size != len(info.search_start):
        raise ValueError(
            f"{info.title} search vectors have {len(info.search_start)} entries, got {vector.size}"
        )
    u = (values + shift) * scale
    u_left, u_right = (left + shift) * scale, (right + shift) * scale
    facts = _core.fit_facts(info.key, vector, u, u_left, u_right)
    natural = _core.decode(info.key, vector)
    return judge(info, key, vector, natural, facts, np.array([bool(limit_reached)])).of(0)[0]
