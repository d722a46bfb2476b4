"""Errors that name the argument they refuse, so that a caller (the command line) can point
at its own option without reading the message."""

__all__ = ["ArgumentError"]


class ArgumentError(ValueError):
    """A value of one argument of a public call cannot be used.

    A ``ValueError`` like any refused value; ``argument`` holds the keyword as the public
    call spells it (``"left"``, ``"scale"``, ``"seed"``...), so that a client can name its
    own option for it, and ``str(error)`` is the whole message.

    Examples
    --------
    >>> import ferrule
    >>> try:
    ...     ferrule.fit([1.0, 2.0, 3.0, 4.0, 5.0, 6.0], scale=-1.0)
    ... except ferrule.ArgumentError as error:
    ...     print(error.argument)
    scale
    """

    def __init__(self, argument: str, message: str) -> None:
        super().__init__(message)
        self.argument = argument
