"""The exception the command line turns into an error message, and its exit statuses."""

import sys

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
