"""The one exception type the command line turns into an error message and exit status."""


class CliError(Exception):
    """A problem with the user's input or request, reported as "ferrule: error: <message>"."""

    def __init__(self, message: str, status: int = 1):
        super().__init__(message)
        self.status = status
