"""The exceptions of the quorin module."""


class Error(Exception):
    """A message of the library: a refused parameter, an exhausted heap, a
    model that cannot run. ``message`` is the library's text, ``block`` the
    name of the component it names (or None), ``messages`` every message of
    the call, in order."""

    def __init__(self, message, block=None, messages=None):
        super().__init__(message)
        self.message = message
        self.block = block
        self.messages = list(messages) if messages else [message]

    def __str__(self):
        more = len(self.messages) - 1
        return self.message + (f" (and {more} more)" if more > 0 else "")


class CheckError(Error):
    """Findings of the model check (TModel.CheckModel) after a run; the run
    itself completed and its results can be read."""


class ModelFileError(Error):
    """A model file (or standard handlers given as text) with errors; each
    of ``messages`` names the file, the line and the component, or the
    component and the event."""
