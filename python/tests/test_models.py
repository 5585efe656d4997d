"""Models loaded from files and built in Python: reports, handlers, saving."""
import csv
import io
import math

import pytest

import quorin
from conftest import EXAMPLES, build_mm1


def csv_report(text):
    """The block rows of the command's CSV report: its lines per priority
    class (a Priority value) are left out, as the DataFrame has one row per
    block, and so are the Priority and Model time columns."""
    rows = list(csv.reader(io.StringIO(text)))
    header = rows[0]
    blocks = [dict(zip(header, row)) for row in rows[1:]]
    return {b["Block"]: {k: v for k, v in b.items() if k not in ("Priority", "Model time")}
            for b in blocks if not b.get("Priority")}


def cell(value):
    """A report value as the CSV writes it: integers plain, the rest with 10
    decimals, missing ones empty."""
    if value is None or (isinstance(value, float) and math.isnan(value)) or value is quorin_na:
        return ""
    if isinstance(value, float):
        return f"{value:.10f}"
    return str(int(value))


quorin_na = __import__("pandas").NA


@pytest.mark.parametrize("name", ["mm1", "mm3", "barber", "priority"])
def test_report_is_the_commands_csv_to_the_last_digit(name, cli, tmp_path):
    out = tmp_path / "report.csv"
    cli("run", EXAMPLES / f"{name}.qm", "--csv", out)
    expected = csv_report(out.read_text())
    with quorin.load(EXAMPLES / f"{name}.qm") as model:
        report = model.run()
    report = report[report["priority"].isna()]
    assert list(report.index) == list(expected)
    for block, row in report.iterrows():
        for column, text in expected[block].items():
            if column == "Block":
                continue
            value = row[column]
            assert (value if column == "Class" else cell(value)) == text, (block, column)


def test_class_rows_and_the_times_and_serial_numbers_of_transactions():
    serials, records, ends = set(), set(), []

    def done(block, t):
        assert t.entered == quorin.now() and t.time_in_block == 0
        assert t.age == quorin.now() - t.made and t.priority == t.GetPrty()
        serials.add(t.serial)
        records.add(t.GetTransID())
        ends.append(t.age)

    with quorin.load(EXAMPLES / "cobham.qm") as model:
        model["Exit"].OnEnter = done
        model.simulate(3000)
        report = model.report()
    # Serial numbers are never reused; record numbers are, many times over.
    assert len(serials) == len(ends) > 1000 and len(records) < len(ends) / 50
    exit = report.loc["Exit"]
    assert list(exit["priority"].astype("float").fillna(-1)) == [-1, 1, 2]
    assert exit["Entries"].iloc[0] == len(ends) == exit["Entries"].iloc[1:].sum()
    assert exit["Mean time"].iloc[0] == pytest.approx(sum(ends) / len(ends), rel=1e-9)
    assert exit["Max time"].iloc[0] == pytest.approx(max(ends), rel=1e-12)
    clerk = report.loc["Clerk"]
    assert len(clerk) == 3 and clerk["Exits"].iloc[1:].sum() == clerk["Exits"].iloc[0]
    assert clerk["Utilisation"].iloc[0] == pytest.approx(clerk["Usage"].iloc[0])


def test_a_python_built_mm1_equals_the_model_file():
    with quorin.load(EXAMPLES / "mm1.qm") as model:
        from_file = model.run()
    with build_mm1(quorin.Model()) as model:
        model.simulate_to(1000)
        model.clear_statistics()
        model.simulate_to(201000)
        built = model.report()
    assert built.equals(from_file)


def test_engine_defaults_as_in_a_model_file():
    # Built or loaded: the heap list and retry on change; a routing written
    # in Python keeps retry at every scan, and a choice made is kept.
    def engine(model):
        model.simulate(1)
        return model.model.EventList(), model.model.Retry()

    with quorin.load(EXAMPLES / "mm1.qm") as model:
        assert engine(model) == ("Heap", "OnChange")
    with build_mm1(quorin.Model()) as model:
        assert engine(model) == ("Heap", "OnChange")
    with build_mm1(quorin.Model()) as model:
        model["Line"].OnRouting = lambda block, transaction: block.PassTo(model["Clerk"])
        assert engine(model) == ("Heap", "EveryScan")
    with build_mm1(quorin.Model()) as model:
        model.model.RetryOnChange = False
        model.model.SetEventList("Levels")
        assert engine(model) == ("Levels", "EveryScan")
    with build_mm1(quorin.Model()) as model:
        model["Line"].OnRouting = lambda block, transaction: block.PassTo(model["Clerk"])
        model.model.SetRetry("OnChange")
        assert engine(model) == ("Heap", "OnChange")


def test_python_routing_gives_the_same_flows_and_each_handler_runs_per_offer():
    with quorin.load(EXAMPLES / "mm1.qm") as model:
        model.simulate(20000)
        standard = model.report()
    calls = {"Door": 0, "Line": 0, "Clerk": 0}

    def route(to):
        def handler(block, transaction):
            calls[block.Name] += 1
            assert isinstance(transaction, quorin.Transaction)
            block.PassTo(model[to])
        return handler

    with build_mm1(quorin.Model()) as model:
        for name, to in [("Door", "Line"), ("Line", "Clerk"), ("Clerk", "Exit")]:
            model[name].OnRouting = route(to)
        model.simulate(20000)
        python = model.report()
        exits = {name: model[name].Exits() for name in calls}
    assert python.equals(standard)
    # An offer that is not taken at once is routed again at every later scan.
    assert calls["Door"] == exits["Door"] and calls["Clerk"] == exits["Clerk"]
    assert calls["Line"] > exits["Line"]


def test_every_block_class_is_built_with_its_properties_and_events():
    with quorin.Model() as model:
        for cls in quorin.classes():
            if cls != "TModel":
                model.add(cls, "A" + cls[1:])
        made = sorted(type(c).__name__ for c in model.components)
        assert made == sorted(quorin.classes() + ["TComponent"])  # and the form
        model["AQueue"].Capacity = 4
        model["AServer"].Preemptive = True
        model["ADivider"].Capacity = 3
        model["ATabulator"].Interval = 0.5
        model["AMultiRand"].Seed = 42
        assert (model["AQueue"].Capacity, model["AServer"].Preemptive) == (4, True)
        assert model["ATabulator"].Interval == 0.5 and model["AMultiRand"].Seed == 42
        model["AScheduler"].OnPlanned = "Generate(ACreator, 2)"
        assert model["AScheduler"].OnPlanned == "Generate(ACreator, 2)"
        for wrong in ("Capacity", "OnTimeFinish"):  # what its class does not have
            with pytest.raises(AttributeError):
                setattr(model["ATerminator"], wrong, 3)


def test_a_saved_model_loads_as_the_same_model(tmp_path):
    path = tmp_path / "mm1.qm"
    with build_mm1(quorin.Model(CheckModel=True)) as model:
        model.title, model.until = "M/M/1", 5000.0
        model.save(path)
        first = model.run()
    with quorin.load(path) as model:
        assert model.title == "M/M/1" and model.model.CheckModel
        assert model.run().equals(first)
    with build_mm1(quorin.Model(), {"Line": lambda b, t: None}) as model:
        with pytest.raises(quorin.Error, match="Line.OnRouting is bound to a Python function"):
            model.save()


def test_a_model_saved_in_another_folder_finds_its_data(tmp_path, monkeypatch):
    # The example names its rates and durations relative to its own folder.
    monkeypatch.chdir(tmp_path)
    (tmp_path / "mine").mkdir()
    with quorin.load(EXAMPLES / "callcentre.qm") as model:
        model.save("mine/cc.qm")
        first = model.run()
    with quorin.load("mine/cc.qm") as model:
        assert model.run().equals(first)


def test_standard_handler_errors_name_the_component_and_the_event():
    with quorin.Model() as model:
        model.add("TGenerator", "Door", OnRouting="PassTo(Nowhere)")
        with pytest.raises(quorin.ModelFileError, match="Door: OnRouting: PassTo: no component"):
            model.simulate(10)
        with pytest.raises(quorin.ModelFileError):
            model.add("TQueue", "Line", OnRouting="PassTo(")


def test_fields_start_at_zero_on_every_new_transaction():
    seen = []

    def count_visit(block, t):
        t.visits += 1
        seen.append(t.visits)

    with build_mm1(quorin.Model(fields=["visits", "arrived"])) as model:
        model["Line"].OnEnter = count_visit
        model["Clerk"].OnExit = lambda b, t: seen.append(-1) if t.arrived > quorin.now() else None
        model["Door"].OnExit = lambda b, t: setattr(t, "arrived", quorin.now())
        model.simulate(2000)
        with pytest.raises(AttributeError, match="no field 'colour'"):
            model["Door"].OnExit = lambda b, t: t.colour
            model.simulate(2100)
    # Records are reused many times over, yet each transaction starts at 0.
    assert len(seen) > 1000 and set(seen) == {1}


def test_a_dividers_copies_carry_the_fields_of_the_transaction_they_copy():
    parts = []
    with quorin.Model(fields=["order"]) as model:
        model.add("TGenerator", "Orders", OnBeforeTimeGoOn="NextArrival(1)",
                  OnAfterGeneration="NextArrival(1)", OnRouting="PassTo(Split)")
        model["Orders"].OnExit = lambda b, t: setattr(t, "order", b.Exits() + 1)
        model.add("TDivider", "Split", Capacity=3, OnRouting="PassTo(Done)")
        model.add("TTerminator", "Done", OnEnter=lambda b, t: parts.append(t.order))
        model.simulate(50.5)
    assert len(parts) > 100 and parts == [n for n in range(1, len(parts) // 3 + 1) for _ in range(3)]


def test_a_files_application_handlers_are_python_callables(tmp_path):
    text = (EXAMPLES / "mm1.qm").read_text().replace(
        "OnEnter = Hold(Services.Exponential(0.8))",
        "OnEnter = Hold(Services.Exponential(0.8)); CountService")
    path = tmp_path / "counted.qm"
    path.write_text(text)
    served = []
    with quorin.load(path, handlers={"CountService": lambda b, t: served.append(b.Name)}) as m:
        m.simulate(1000)
        assert served == ["Clerk"] * m["Clerk"].Entries() and served
    with pytest.raises(quorin.ModelFileError, match="CountService") as caught:
        quorin.load(path)
    assert all("counted.qm:" in message for message in caught.value.messages)


def test_ctrl_c_stops_a_long_simulate_after_the_event_under_way():
    import os
    import signal
    import threading

    with build_mm1(quorin.Model()) as model:
        timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
        timer.start()
        try:
            with pytest.raises(KeyboardInterrupt):
                model.simulate(9e9)  # hours of events
        finally:
            timer.cancel()
        stopped = quorin.now()
        assert 0 < stopped < 9e9
        model.simulate(stopped + 10)  # the model goes on from there
        assert quorin.now() >= stopped + 10


def test_version_and_the_names_a_notebook_completes():
    pyproject = (EXAMPLES.parent / "pyproject.toml").read_text()
    assert f'version = "{quorin.__version__}"' in pyproject
    with build_mm1(quorin.Model()) as model:
        assert model._ipython_key_completions_() == [
            "Form", "Model", "Arrivals", "Services", "Door", "Line", "Clerk", "Exit"]


STATISTICS = {"count": "Count", "entries": "Entries", "exits": "Exits",
              "mean_content": "Mean cont.", "max_content": "Max", "usage": "Usage",
              "mean_time": "Mean time", "s_mean_time": "S-mean time", "zero_entries": "Zero entr.",
              "preempt_exits": "Preempt", "time_limit_exits": "Time limit",
              "min_priority": "Min prty", "max_priority": "Max prty",
              "mean_interval": "Mean interval", "max_time": "Max time",
              "utilisation": "Utilisation"}


@pytest.mark.parametrize("name", ["priority", "forkjoin", "workshop"])
def test_statistics_are_properties_named_after_the_reports_columns(name):
    with quorin.load(EXAMPLES / f"{name}.qm") as model:
        report = model.run()
        report = report[report["priority"].isna()]
        for block, row in report.iterrows():
            component = model[block]
            for attribute, column in STATISTICS.items():
                kept = not (row[column] is quorin_na or (isinstance(row[column], float)
                                                         and math.isnan(row[column])))
                assert hasattr(component, attribute) == kept, (block, attribute)
                if kept:
                    assert getattr(component, attribute) == row[column], (block, attribute)
        rand = model.add(quorin.TMultiRand, "Extra")  # a class, not only its name
        assert 0 < rand.Gamma(mean=1.8, shape=9) and rand.Triangular(low=1, mode=2, high=3) < 3
