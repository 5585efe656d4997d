"""Trace, content over time and tabulators as DataFrames."""
import quorin
from conftest import build_mm1


def test_trace_content_and_histogram_shapes():
    with build_mm1(quorin.Model(fields=["arrived"])) as model:
        waits = model.add("TTabulator", "Waits", LowerBound=0, Interval=1, IntervalCount=10)
        model["Door"].OnExit = lambda b, t: setattr(t, "arrived", quorin.now())
        model["Clerk"].OnEnter = lambda b, t: (waits.PutValue(quorin.now() - t.arrived),
                                               b.NextTime(model["Services"].Exponential(0.8)))
        with model.trace(10, 20) as trace, model.record_content("Line") as line:
            model.simulate(1000)
        frame = trace.frame()
        content = line.series()
        model.simulate(2000)  # detached: nothing more is recorded
        assert len(trace.frame()) == len(frame)
        histogram, counted = waits.histogram(), waits.Count()

    assert list(frame.columns) == ["time", "event", "block", "to", "transaction", "serial", "priority",
                                     "arrived"]
    assert frame["time"].between(10, 20).all() and set(frame["event"]) == {"event", "pass"}
    passes = frame[frame["event"] == "pass"]
    assert passes["transaction"].notna().all() and (passes["arrived"] <= passes["time"]).all()
    assert set(passes["to"]) == {"Line", "Clerk", "Exit"}
    assert content.index.is_monotonic_increasing and (content >= 0).all()
    assert content.diff().dropna().ne(0).all()  # one step per change
    assert list(histogram.columns) == ["lower", "upper", "hits"] and len(histogram) == 12
    assert histogram["hits"].sum() == counted > 1000  # every value in one bin
