"""Quorin from Python: discrete-event models of transactions and blocks.

Load a model file or build a model, run it, and read its results as pandas
DataFrames. The blocks, the event loop and the standard handlers run in
C++; handlers written in Python are called with (block, transaction).

    import quorin
    m = quorin.load("examples/mm1.qm")
    m.run()
    print(m.report())

See docs/python.md for the whole module.
"""

__version__ = "0.1.0"  # the project's version (pyproject.toml)

import math as _math
import os as _os

from .errors import CheckError, Error, ModelFileError

try:
    from . import _quorin
except ImportError as _problem:  # built for another interpreter
    import sys as _sys

    raise ImportError(
        "the quorin module was not built for this interpreter "
        f"({_sys.executable}, Python {_sys.version.split()[0]}): build it for this one, or use "
        "Debian's /usr/bin/python3 (or a venv made from it with --system-site-packages)"
    ) from _problem

from ._quorin import Model, Transaction, classes, now, standard_handlers  # noqa: F401

for _name in _quorin.classes() + ["TComponent", "TAggregate", "TBlock", "TProQueue",
                                  "TQueueCustom", "TQueuePrtyCustom", "TSplitJoin"]:
    globals()[_name] = getattr(_quorin, _name)

__all__ = ["Model", "load", "replicate", "Error", "CheckError", "ModelFileError",
           "Transaction", "classes", "standard_handlers", "now"] + _quorin.classes()

# The report's columns and the types of their values, from the library's table.
_REPORT_TYPES = dict(_quorin._report_columns())
REPORT_COLUMNS = [c for c in _REPORT_TYPES if c != "Block"] + ["priority"]


def load(path, handlers=None, fields=()):
    """Loads a model file. ``handlers`` maps the application handler names
    that the file binds to Python callables; ``fields`` declares transaction
    fields for them. Raises ModelFileError with every error of the file."""
    return _quorin._load(_os.fspath(path), handlers or {}, list(fields))


def _pandas():
    import pandas

    return pandas


def _report(self):
    """The standard report: one row per block (index: block name), the
    report's columns under their names; a statistic that a block's class
    does not keep is missing (NaN). A block that saw more than one priority
    class is followed by one row per class, under the same index, with the
    class in the column ``priority`` (missing in a block's own row)."""
    pd = _pandas()
    rows = self._report_rows()
    frame = pd.DataFrame(rows, columns=["Block"] + REPORT_COLUMNS)
    frame = frame.set_index("Block")
    types = {"count": "int64", "whole": "Int64", "real": "float64"}
    for column, kind in _REPORT_TYPES.items():
        if kind in types:
            frame[column] = frame[column].astype(types[kind])
    frame["priority"] = frame["priority"].astype("Int64")
    frame.attrs["time"] = now()
    return frame


def _run(self):
    """Runs the model as ``quorin run`` runs its file: up to the warm-up,
    clears the statistics (a warm-up of 0 clears nothing), then up to
    ``until``; answers the report, which covers exactly that window."""
    if self.until is None:
        raise Error("no end time: set the model's until (the run section's Until)")
    if self.warmup:
        self.simulate_to(self.warmup)
        self.clear_statistics()
    self.simulate_to(self.until)
    return self.report()


def _save(self, path=None):
    """The model as model-file text; written to ``path`` when one is given.
    Data files that the model names relative to its own folder are named so
    that the file at ``path`` finds the same data. Only standard handlers
    can be saved."""
    text = self._save_text("" if path is None else _os.fspath(path))
    if path is not None:
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)
    return text


def _number_text(value):
    """A number as a model file writes it: the shortest text that reads back
    as the same double ("480", not "480.0")."""
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


class Schedule:
    """A piecewise-constant function of model time, named in its model: blocks
    follow it (``Schedule=`` on a queue, stack, storage, server or gate) and
    ``NextArrivalAtRate(Stream, Name)`` draws arrivals at its rate. Made by
    Model.add_schedule(); ``steps`` are (time, value) pairs, ``period`` is 0
    for no repetition."""

    def __init__(self, name, period, steps):
        self.name, self.period, self.steps = name, period, steps

    def value_at(self, time):
        """The value at model time ``time``."""
        if self.period:
            time = _math.fmod(time, self.period)
        value = self.steps[0][1]
        for start, step_value in self.steps:
            if start > time:
                break
            value = step_value
        return value

    def __repr__(self):
        shown = ", ".join(f"{_number_text(t)} {_number_text(v)}" for t, v in self.steps[:6])
        more = ", ..." if len(self.steps) > 6 else ""
        period = f" period {_number_text(self.period)}" if self.period else ""
        return f"<quorin.Schedule {self.name}{period}: {shown}{more}>"


def _add_schedule(self, name, steps=None, period=0, file=None):
    """Adds a schedule named ``name``, as a model file's ``schedule`` section
    does, and answers it. ``steps`` is text as in a file ("0 2, 480 5.5"), a
    list of (time, value) pairs, a dict of time: value, or a DataFrame whose
    first two columns are time and value; ``file`` instead names a CSV of
    time,value lines. The first step starts at 0; with a ``period`` above 0
    the pattern repeats. ``save()`` writes it as a schedule section."""
    if (steps is None) == (file is None):
        raise Error(f"schedule {name}: give either steps or file (a CSV of time,value)")
    text = ""
    if isinstance(steps, str):
        text = steps
    elif steps is not None:
        if hasattr(steps, "iloc"):
            pairs = steps.iloc[:, :2].itertuples(index=False, name=None)
        elif isinstance(steps, dict):
            pairs = steps.items()
        else:
            pairs = steps
        try:
            text = ", ".join(f"{_number_text(t)} {_number_text(v)}" for t, v in pairs)
        except (TypeError, ValueError):
            raise Error(f"schedule {name}: steps are (time, value) pairs of numbers") from None
        if not text:
            raise Error(f"schedule {name}: no steps")
    self._add_schedule(name, float(period), text, "" if file is None else _os.fspath(file))
    return self.schedule(name)


def _schedule(self, name):
    """The schedule named ``name`` (KeyError when there is none)."""
    found = self._schedule_steps(name)
    if found is None:
        raise KeyError(f"no schedule named '{name}'")
    return Schedule(name, found[0], found[1])


def _schedules(self):
    """The model's schedules by name, in the order they were made."""
    return {name: _schedule(self, name) for name in self._schedule_names()}


class Trace:
    """Every event and pass of a model while attached, within a window of
    model time: see Model.trace()."""

    def __init__(self, model, start, end):
        self._fields = list(model.fields)
        self._trace = _quorin._trace(model, float(start), float(end))

    def close(self):
        """Stops recording; what was recorded stays readable."""
        self._trace.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __len__(self):
        return len(self._trace)

    def frame(self):
        """The trace as a DataFrame: time, event ("event": the run loop took
        an activation of block; "pass": a transaction went from block to
        to), block, to, transaction (its number, a pool record's, which
        later transactions reuse; missing where none), serial (its serial
        number, never reused in a run), priority, then one column per
        declared transaction field."""
        pd = _pandas()
        columns = self._trace._columns()
        frame = pd.DataFrame({
            "time": columns["time"],
            "event": columns["event"],
            "block": columns["block"],
            "to": columns["to"],
            "transaction": pd.array(columns["transaction"], dtype="Int64"),
            "serial": pd.array(columns["serial"], dtype="Int64"),
            "priority": pd.array(columns["priority"], dtype="Int64"),
        })
        for name, values in zip(self._fields, self._trace._field_columns()):
            frame[name] = values
        return frame


class Content:
    """A block's content over time while attached: see Model.record_content()."""

    def __init__(self, model, block):
        name = block if isinstance(block, str) else block.Name
        self._content = _quorin._content(model, name)

    def close(self):
        """Stops recording; what was recorded stays readable."""
        self._content.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def series(self):
        """The content as a step series: index model time, value the number
        of transactions in the block from that time on."""
        pd = _pandas()
        steps = self._content._steps()
        return pd.Series([c for _, c in steps], index=pd.Index([t for t, _ in steps], name="time"),
                         name=self._content.block)


def _trace(self, start=0.0, end=None):
    """Attaches a Trace that records every event and pass from ``start``
    to ``end`` (model time); read it with .frame()."""
    return Trace(self, start, 1e300 if end is None else end)


def _record_content(self, block):
    """Attaches a Content recorder to a block (object or name); read it
    with .series()."""
    return Content(self, block)


def _histogram(self):
    """The tabulator's bins as a DataFrame: lower, upper, hits; the first
    bin is the underflow (lower -inf), the last the overflow (upper inf)."""
    pd = _pandas()
    return pd.DataFrame(self._bins(), columns=["lower", "upper", "hits"])


def _repr_html_(self):
    """In a notebook: what the model holds and its diagram."""
    import html

    text = "<pre>" + html.escape(repr(self)) + "</pre>"
    if self.closed or not any(isinstance(c, TBlock) for c in self.components):
        return text
    return text + self._diagram_svg()


class Page:
    """The model's HTML report page (its tables, its diagram, the run's
    settings), self-contained: Model.page(). Shown inline in a notebook;
    save() writes it to a file for a browser."""

    def __init__(self, html):
        self.html = html

    def save(self, path):
        """Writes the page to ``path``."""
        with open(path, "w", encoding="utf-8") as out:
            out.write(self.html)

    def _repr_html_(self):
        import html

        # In a frame of its own, so that the page's styles and scripts keep
        # to themselves.
        return (f'<iframe srcdoc="{html.escape(self.html, quote=True)}" '
                'style="width: 100%; height: 600px; border: none"></iframe>')

    def __repr__(self):
        return f"<quorin.Page: {len(self.html)} characters of HTML>"


def _page(self):
    """The HTML report page of the model as it stands (what `quorin run
    --html` writes, with no content plots): a Page."""
    return Page(self._page())


def _key_completions(self):
    return [component.Name for component in self.components]


Model._ipython_key_completions_ = _key_completions
Model.add_schedule = _add_schedule
Model.schedule = _schedule
Model.schedules = property(_schedules)
Model.report = _report
Model.run = _run
Model.save = _save
Model.trace = _trace
Model.record_content = _record_content
Model._repr_html_ = _repr_html_
Model.page = _page
_quorin.TTabulator.histogram = _histogram


def replicate(model_or_path, replications=20, jobs=1, seed=None, warmup=None, until=None,
              level=0.95, collect=None):
    """Runs independent replications in forked worker processes through
    the experiment runner and answers one row per statistic of every block:
    block, priority (the class of a priority block's line per class, else
    missing), statistic, mean, half_width (of the Student-t interval at
    ``level``), sd, min, max, n, missing. A path runs the file as
    ``quorin run FILE --replications N --jobs J --seed S`` does, with the
    same numbers; a model runs as it stands, reset, Python handlers
    included. ``warmup`` and ``until`` default to the run section.

    Every tabulator adds rows of its own (block: its name; statistic: Mean,
    Deviation, Count, and "Fraction [a, b)" for each bin). ``collect``, a
    function of the model, is called in the worker at the end of every
    replication; the dict of names and numbers it answers comes back as rows
    with an empty block and the name as the statistic, with intervals like
    every other row (a model only, not a path).

    The frame's attrs hold "values" (one row per replication, a column per
    (block, statistic); a class's figure is named "statistic [priority P]"), "failures"
    (replication, seeds, error) and "seeds" (one row per replication, the first state of
    each stream by name: set them as the streams' Seed, and ``run()`` repeats that
    replication's counts)."""
    pd = _pandas()
    source = model_or_path if isinstance(model_or_path, Model) else _os.fspath(model_or_path)
    result = _quorin._replicate(source, int(replications), int(jobs), seed,
                                None if warmup is None else float(warmup),
                                None if until is None else float(until), float(level),
                                collect)
    rows = result["summary"]
    frame = pd.DataFrame(rows, columns=["block", "priority", "class", "statistic", "mean",
                                        "half_width", "sd", "min", "max", "n", "missing"])
    frame = frame.drop(columns="class")
    frame["priority"] = frame["priority"].astype("Int64")
    keys = pd.MultiIndex.from_tuples(
        [(r[0], r[3] if r[1] is None else f"{r[3]} [priority {r[1]}]") for r in rows],
        names=["block", "statistic"])
    values = pd.DataFrame([v for _, _, v in result["values"]], columns=keys,
                          index=pd.Index([n for n, _, _ in result["values"]], name="replication"))
    failures = pd.DataFrame(result["failures"], columns=["replication", "seeds", "error"])
    seeds = pd.DataFrame([s for _, s in result["seeds"]], columns=result["streams"],
                         index=pd.Index([n for n, _ in result["seeds"]], name="replication"))
    frame.attrs.update(values=values, failures=failures, seeds=seeds, level=result["level"],
                       warmup=result["warmup"], until=result["until"])
    if result["interrupted"]:
        # Ctrl-C: the runner answered at once with what had finished. The
        # interpreter raises KeyboardInterrupt by now unless the program's
        # own handler keeps it from doing so.
        import warnings

        warnings.warn(f"interrupted: {result['interrupted']} replications did not finish",
                      RuntimeWarning, stacklevel=2)
    if len(failures):
        import warnings

        warnings.warn(f"{len(failures)} of {len(values)} replications failed: "
                      + "; ".join(f"{n}: {e}" for n, _, e in result["failures"][:3]),
                      RuntimeWarning, stacklevel=2)
    return frame
