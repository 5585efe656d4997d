"""Schedules made in Python, and events that bind standard handlers and a
Python callable together."""
import pandas as pd
import pytest

import quorin
from conftest import EXAMPLES, build_mm1

RATES = EXAMPLES / "callcentre-rates.csv"
DUTY = [(0, 0), (480, 4), (660, 8), (840, 4), (1200, 0)]


def build_callcentre(model, rates, duty):
    """examples/callcentre.qm, with its schedules given as rates and duty
    (keyword arguments of add_schedule)."""
    model.until = 1440
    model.add_schedule("CallRate", period=1440, **rates)
    model.add_schedule("OnDuty", period=1440, **duty)
    model.add("TMultiRand", "Calls")
    model.add("TMultiRand", "Durations", Seed=1234567891)
    model.add("TGenerator", "Phone", OnBeforeTimeGoOn="NextArrivalAtRate(Calls, CallRate)",
              OnAfterGeneration="NextArrivalAtRate(Calls, CallRate)", OnRouting="PassTo(Waiting)")
    model.add("TQueue", "Waiting", OnRouting="PassTo(Agents)")
    model.add("TStorage", "Agents", Schedule="OnDuty", OnEnter="Hold(Durations.Erlang(3.9259, 2))",
              OnRouting="PassTo(Done)")
    model.add("TTerminator", "Done")
    return model


@pytest.fixture(scope="module")
def from_file():
    with quorin.load(EXAMPLES / "callcentre.qm") as model:
        return model.run()


@pytest.mark.parametrize("rates, duty", [
    ({"file": RATES}, {"steps": DUTY}),
    ({"steps": pd.read_csv(RATES, comment="#")}, {"steps": dict(DUTY)}),
    ({"steps": "0 0, 480 0.5, 600 0.8, 720 1.6, 840 0.8, 1020 0.4, 1200 0"},
     {"steps": pd.DataFrame(DUTY, columns=["time", "agents"])}),
])
def test_a_schedule_made_in_python_runs_as_the_model_files(rates, duty, from_file, tmp_path):
    with build_callcentre(quorin.Model(CheckModel=True), rates, duty) as model:
        assert model["Agents"].Schedule == "OnDuty" and model["Waiting"].Schedule is None
        assert model.schedule("OnDuty").value_at(1440 + 700) == 8
        text = model.save(tmp_path / "saved.qm")
        report = model.run()
    assert report.equals(from_file)
    assert "schedule OnDuty\n  Period = 1440\n" in text
    with quorin.load(tmp_path / "saved.qm") as model:
        assert model.run().equals(from_file)


@pytest.mark.parametrize("make, message", [
    (lambda m: m.add_schedule("S", steps=[(5, 1)]), "first step"),
    (lambda m: m.add_schedule("S", steps=[(0, -1)]), "0 or more"),
    (lambda m: m.add_schedule("S", steps=[("noon", 1)]), "pairs of numbers"),
    (lambda m: m.add_schedule("S"), "either steps or file"),
    (lambda m: m.add_schedule("OnDuty", steps="0 1"), "a second schedule"),
    (lambda m: m.add_schedule("S", file="no-such.csv"), "no-such.csv"),
    (lambda m: setattr(m["Waiting"], "Schedule", "Missing"), "no schedule section named"),
    (lambda m: setattr(m["Done"], "Schedule", "OnDuty"), "Done"),
    (lambda m: setattr(m["Agents"], "Schedule", "OnDuty"), "follows OnDuty already"),
])
def test_refused_schedules_say_why(make, message):
    with build_callcentre(quorin.Model(), {"file": RATES}, {"steps": DUTY}) as model:
        with pytest.raises(quorin.Error, match=message):
            make(model)
        assert list(model.schedules) == ["CallRate", "OnDuty"]


def test_standard_handlers_and_a_callable_on_one_event_run_handlers_first():
    with quorin.load(EXAMPLES / "mm1.qm") as model:
        plain = model.run()
    seen = []

    def stamp(block, t):
        seen.append((t.priority, t.entered, quorin.now()))

    with build_mm1(quorin.Model()) as model:
        model.warmup, model.until = 1000, 201000
        clerk = model["Clerk"]
        clerk.OnEnter = ("Hold(Services.Exponential(0.8)); SetPriority(3)", stamp)
        assert clerk.OnEnter == ("Hold(Services.Exponential(0.8)); SetPriority(3)", stamp)
        with pytest.raises(quorin.Error, match="Clerk.OnEnter"):
            model.save()
        both = model.run()
    assert both.drop(index="Exit").equals(plain.drop(index="Exit"))
    assert all(p == 3 and entered == now for p, entered, now in seen)
    assert len(seen) > plain.loc["Clerk", "Entries"]  # the warm-up's entries too


def test_a_routing_event_with_a_callable_beside_pass_to_routes_and_calls_it():
    calls = []
    with build_mm1(quorin.Model()) as model:
        model["Line"].OnRouting = ["PassTo(Clerk)", lambda block, t: calls.append(t.serial)]
        model.simulate(500)
        assert len(calls) >= model["Line"].Exits() > 0
        with pytest.raises(quorin.Error, match="text, callable"):
            model["Line"].OnRouting = ("PassTo(Clerk)", "PassTo(Exit)")
