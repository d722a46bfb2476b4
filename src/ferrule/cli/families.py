"""The transformation families as the command line names them, read from the library's registry."""

from dataclasses import dataclass
from functools import cache
from typing import Any

from ferrule.cli.errors import FAILED, CliError


@dataclass(frozen=True)
class Family:
    """One registry entry under its command-line name (the registry's first alias).

    Examples
    --------
    >>> families()["yjt"].title
    'Yeo-Johnson'
    """

    key: str  # name on the command line
    info: Any  # the library's entry: one of ferrule.families()

    @property
    def title(self) -> str:
        return self.info.title

    @property
    def models_raw_value(self) -> bool:
        """Jones-Pewsey: the value itself, standardised, follows the sinh-arcsinh law."""
        return self.info.models_raw_value


def registry() -> tuple[Any, ...]:
    """The library's table of families; a broken installation is one error line."""
    import ferrule

    try:
        return ferrule.families()
    except ImportError as err:
        message = f"the extension module ferrule._core cannot be loaded: {err}"
        raise CliError(message, FAILED) from None


@cache
def families() -> dict[str, Family]:
    """Every family by its command-line name, in the registry's order.

    Examples
    --------
    >>> list(families())
    ['yjt', 'logsinh', 'sinhasinh', 'jpt']
    """
    return {info.aliases[0]: Family(info.aliases[0], info) for info in registry()}


def family_named(name: str) -> Family | None:
    """The family any of whose registry aliases is `name` (any case); None if none is.

    Examples
    --------
    >>> family_named("JPT").key
    'jpt'
    """
    wanted = name.strip().lower()
    for family in families().values():
        if wanted in (alias.lower() for alias in family.info.aliases):
            return family
    return None
