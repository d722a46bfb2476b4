"""Family and optimiser names as users write them, resolved to the kernel module's keys."""

from __future__ import annotations

from typing import cast

from ferrule import _core

__all__ = [
    "COUNT_UNITS",
    "METHOD_NAMES",
    "METHOD_TITLES",
    "families",
    "family_info",
    "method_key",
]

# Plain names of the optimisers; the keys of _core.METHODS and short forms are accepted too.
METHOD_NAMES = {
    "nelder_mead": ("nelder-mead", "simplex"),
    "differential_evolution": ("differential-evolution", "de"),
    "shuffled_complex_evolution": ("shuffled-complex-evolution", "sce"),
}
METHOD_TITLES = {
    "nelder_mead": "Nelder-Mead",
    "differential_evolution": "differential evolution",
    "shuffled_complex_evolution": "shuffled complex evolution",
}
# What each optimiser's count counts.
COUNT_UNITS = {
    "nelder_mead": "iterations",
    "differential_evolution": "generations",
    "shuffled_complex_evolution": "likelihood evaluations",
}


def _normal_form(name: str) -> str:
    return name.strip().lower().replace("-", "_").replace(" ", "_")


def families() -> tuple[_core.FamilyInfo, ...]:
    """Every transformation family ferrule fits, in the order of its registry.

    Returns
    -------
    tuple of FamilyInfo
        Named tuples: ``key`` (what :attr:`Fit.family` holds), ``title``, ``aliases`` (the
        short names, first the command line's), ``transformation_names`` and
        ``natural_names`` (the parameters, then with ``mu`` and ``sigma``), the search box
        (``search_start``, ``search_lower``, ``search_upper``), ``models_raw_value`` (True
        when ``T((x - mu) / sigma)`` rather than ``(T(x) - mu) / sigma`` is standard normal)
        and ``default_method``, the optimiser a fit runs unless told otherwise.

    Raises
    ------
    ImportError
        The kernel module of the installation cannot be loaded.

    Examples
    --------
    >>> import ferrule
    >>> [(f.key, f.aliases[0]) for f in ferrule.families()][:2]
    [('yeo_johnson', 'yjt'), ('log_sinh', 'logsinh')]
    >>> ferrule.families()[0].natural_names
    ('lambda', 'mu', 'sigma')
    """
    # Looked up at each call: a kernel module gone since this module was loaded (a broken
    # installation) is reported where the table is asked for.
    from ferrule import _core as kernels

    return kernels.FAMILIES


def family_info(name: str) -> _core.FamilyInfo:
    """The family registered under `name`: its key, alias or title, in any case."""
    if not isinstance(name, str):
        raise TypeError(f"family must be a string such as 'yeo_johnson', got {type(name).__name__}")
    wanted = _normal_form(name)
    for info in _core.FAMILIES:
        if wanted in {info.key, _normal_form(info.title), *map(_normal_form, info.aliases)}:
            return info
    known = ", ".join(f"{info.key!r}" for info in _core.FAMILIES)
    raise ValueError(f"unknown family {name!r}: choose one of {known} or 'auto'")


def method_key(name: str | None, info: _core.FamilyInfo) -> _core.MethodKey:
    """The optimiser key for `name`; None means the family's default optimiser."""
    if name is None:
        return info.default_method
    if not isinstance(name, str):
        raise TypeError(f"method must be a string or None, got {type(name).__name__}")
    wanted = _normal_form(name)
    for key, names in METHOD_NAMES.items():
        if wanted == key or wanted in map(_normal_form, names):
            return cast("_core.MethodKey", key)
    known = ", ".join(repr(names[0]) for names in METHOD_NAMES.values())
    raise ValueError(f"unknown method {name!r}: choose one of {known} (or None)")
