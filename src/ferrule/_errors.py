"""Errors that name the argument they refuse, so that a caller (the command line) can point
at its own option without reading the message."""

from collections.abc import Mapping

__all__ = ["ArgumentError"]


class ArgumentError(ValueError):
    """A value of one argument of a public call cannot be used.

    A ``ValueError`` like any refused value; ``argument`` holds the keyword as the public
    call spells it (``"left"``, ``"scale"``, ``"seed"``...), so that a client can name its
    own option for it, and ``str(error)`` is the whole message. Arguments the message
    advises on (``mentions``) are written ``{name}`` in `message`; ``str(error)`` spells them
    ``name=``, and :meth:`worded` as the client spells them.

    Examples
    --------
    >>> import ferrule
    >>> try:
    ...     ferrule.fit([1.0, 2.0, 3.0, 4.0, 5.0, 6.0], scale=-1.0)
    ... except ferrule.ArgumentError as error:
    ...     print(error.argument)
    scale
    >>> error = ferrule.ArgumentError("left", "a threshold is needed (pass {left})", ("left",))
    >>> str(error), error.worded({"left": "--left"})
    ('a threshold is needed (pass left=)', 'a threshold is needed (pass --left)')
    """

    def __init__(self, argument: str, message: str, mentions: tuple[str, ...] = ()) -> None:
        self.argument = argument
        self.template = message
        self.mentions = tuple(mentions)
        super().__init__(self.worded({}))

    def worded(self, spelling: Mapping[str, str]) -> str:
        """The message with each argument it mentions spelled as `spelling` spells it.

        Parameters
        ----------
        spelling : mapping of str to str
            The client's name for a keyword (``{"left": "--left"}``); a keyword it lacks is
            written ``keyword=``.

        Examples
        --------
        >>> import ferrule
        >>> error = ferrule.ArgumentError("scale", "pass a smaller {scale}", ("scale",))
        >>> error.worded({"scale": "--scale"})
        'pass a smaller --scale'
        """
        if not self.mentions:
            return self.template
        return self.template.format_map({k: spelling.get(k, f"{k}=") for k in self.mentions})

    def __reduce__(self) -> tuple[type["ArgumentError"], tuple[str, str, tuple[str, ...]]]:
        # Rebuilt from its parts, not from the message alone (errors cross process pools).
        return (type(self), (self.argument, self.template, self.mentions))
