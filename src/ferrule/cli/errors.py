"""The exception the command line turns into an error message, and its exit statuses."""

import sys

import ferrule

# The library's keywords as the command line's options, for the messages of the library's
# ArgumentError that advise on them.
OPTION_OF = {
    "left": "--left",
    "right": "--right",
    "scale": "--scale",
    "shift": "--shift",
    "prior": "--prior",
    "seed": "--seed",
    "method": "--optimiser",
    "family": "--family",
    "max_converge": "--max-converge",
    "max_eval": "--max-eval",
    "dim": "--dim",
    "groupby": "--groupby",
    "n_jobs": "--jobs",
    "progress": "--progress",
}

FAILED = 1  # a fit failed, or the installation lacks something the run needs
USAGE = 2  # the user's options or input cannot be used
INTERRUPTED = 130  # Ctrl-C, as a shell reports a process ended by SIGINT
BROKEN_PIPE = 141  # the reader of standard output went away, as for SIGPIPE


class CliError(Exception):
    """A problem with the user's input or request, reported as "ferrule: error: <message>".

    Examples
    --------
    >>> CliError("no such file: 'rain.csv'").status
    2
    """

    def __init__(self, message: str, status: int = USAGE):
        super().__init__(message)
        self.status = status


def warn(message: str) -> None:
    """Writes one warning line on standard error; the run goes on.

    Examples
    --------
    >>> warn("the figure shows the data only")  # doctest: +SKIP
    """
    print(f"ferrule: warning: {message}", file=sys.stderr)


def in_option_words(error: Exception) -> str:
    """A library refusal as the command line says it: the keywords it advises on become
    options ("pass left=" is "pass --left").

    Examples
    --------
    >>> import ferrule
    >>> in_option_words(ferrule.ArgumentError("left", "pass {left}", ("left",)))
    'pass --left'
    >>> in_option_words(ValueError("no values to fit"))
    'no values to fit'
    """
    if isinstance(error, ferrule.ArgumentError):
        return error.worded(OPTION_OF)
    return str(error)
