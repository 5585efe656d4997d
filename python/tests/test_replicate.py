"""Replications through the experiment runner."""
import json

import pytest

import quorin
from conftest import EXAMPLES, build_mm1

SETTINGS = dict(replications=5, jobs=2, seed=12345, warmup=100, until=3000)


def command_json(cli, tmp_path, path):
    out = tmp_path / "reps.json"
    cli("run", path, "--replications", 5, "--jobs", 2, "--seed", 12345, "--warmup", 100,
        "--until", 3000, "--json", out)
    return json.loads(out.read_text())


def same_table(frame, expected):
    assert len(frame) == len(expected["statistics"])
    for (_, row), stat in zip(frame.iterrows(), expected["statistics"]):
        assert (row["block"], row["statistic"]) == (stat["block"], stat["statistic"])
        for column, key in [("mean", "mean"), ("half_width", "half_width"), ("sd", "std_dev"),
                            ("min", "min"), ("max", "max"), ("n", "n"), ("missing", "missing")]:
            assert row[column] == stat[key], (stat["block"], stat["statistic"], column)


@pytest.mark.parametrize("name, jobs", [("mm1", 1), ("mm1", 2), ("priority", 1), ("priority", 2)])
def test_replications_equal_the_commands_json(name, jobs, cli, tmp_path):
    settings = dict(SETTINGS, jobs=jobs)  # one job runs in this process
    expected = command_json(cli, tmp_path, EXAMPLES / f"{name}.qm")
    same_table(quorin.replicate(EXAMPLES / f"{name}.qm", **settings), expected)
    with quorin.load(EXAMPLES / f"{name}.qm") as model:
        model.simulate(500)  # a model that ran already is reset for each replication
        same_table(quorin.replicate(model, **settings), expected)
        # and a live model's run memory does not keep a file from replicating
        same_table(quorin.replicate(EXAMPLES / f"{name}.qm", **settings), expected)


def test_models_with_python_handlers_replicate_here_or_in_workers_alike():
    routed = []

    def route(block, transaction):
        routed.append(1)  # with jobs=2, lands in the worker's copy of the list
        block.PassTo(model["Clerk"])

    with build_mm1(quorin.Model(), {"Line": route}) as model:
        seeds = model["Arrivals"].Seed, model["Services"].Seed
        one = quorin.replicate(model, replications=4, jobs=1, until=2000)
        here = len(routed)
        two = quorin.replicate(model, replications=4, jobs=2, until=2000)
        assert one.equals(two) and one.attrs["values"].equals(two.attrs["values"])
        # One job runs in this process, then leaves the model as it stood.
        assert here > 4000 and len(routed) == here
        assert model.time == 0 and (model["Arrivals"].Seed, model["Services"].Seed) == seeds
    values = one.attrs["values"]
    assert values.shape == (4, len(one))
    assert values[("Exit", "Entries")].nunique() == 4  # streams of their own


def test_failed_replications_are_reported():
    def explode(block, transaction):
        if quorin.now() > 500:
            raise RuntimeError("no more")

    with build_mm1(quorin.Model(), {"Clerk": explode}) as model:
        with pytest.warns(RuntimeWarning, match="3 of 3 replications failed"):
            result = quorin.replicate(model, replications=3, until=1000)
    failures = result.attrs["failures"]
    assert list(failures["replication"]) == [0, 1, 2]
    assert failures["error"].str.contains("no more").all()
    with pytest.raises(quorin.Error, match="replications must be 2 or more"):
        quorin.replicate(EXAMPLES / "mm1.qm", replications=1)


@pytest.mark.parametrize("warmup", [0, 300])
def test_run_repeats_a_replication_from_its_seeds(warmup):
    # A day model: shifts and a rate schedule leave events planned past
    # Until, and the run must end at Until all the same.
    path = EXAMPLES / "callcentre.qm"
    table = quorin.replicate(path, replications=2, jobs=1, seed=777, warmup=warmup)
    values, seeds = table.attrs["values"], table.attrs["seeds"]
    assert list(seeds.columns) == ["Calls", "Durations"]
    with quorin.load(path) as model:
        for stream, seed in seeds.loc[1].items():
            model[stream].Seed = int(seed)
        model.warmup = warmup
        report = model.run()
        assert model.time == 1440 and report.attrs["time"] == 1440
    for block, column in [("Phone", "Exits"), ("Waiting", "Entries"), ("Waiting", "Exits"),
                          ("Agents", "Entries"), ("Agents", "Exits"), ("Done", "Entries")]:
        assert report.loc[block, column] == values[(block, column)].loc[1], (block, column)
    for block in ["Waiting", "Agents"]:
        for column in ["Mean cont.", "Usage"]:
            assert report.loc[block, column] == pytest.approx(values[(block, column)].loc[1],
                                                              rel=1e-12)


def test_tabulators_and_collected_values_come_back_with_intervals():
    # The waits in line of an M/M/1 (arrival rate 1, service mean 0.8) feed
    # a tabulator: Wq = rho * S / (1 - rho) = 3.2.
    with build_mm1(quorin.Model(fields=["arrived"])) as model:
        waits = model.add("TTabulator", "Waits", LowerBound=0, Interval=2, IntervalCount=5)
        model["Door"].OnExit = lambda b, t: setattr(t, "arrived", quorin.now())
        model["Clerk"].OnEnter = lambda b, t: (waits.PutValue(quorin.now() - t.arrived),
                                               b.NextTime(model["Services"].Exponential(0.8)))

        def collect(m):
            return {"wait": m["Waits"].Mean(), "served": m["Exit"].Entries(), "none": float("nan")}

        frame = quorin.replicate(model, replications=8, jobs=2, warmup=500, until=8500,
                                 collect=collect)
    rows = frame.set_index(["block", "statistic"])
    mean = rows.loc[("Waits", "Mean")]
    assert mean["n"] == 8 and abs(mean["mean"] - 3.2) < max(3 * mean["half_width"], 0.1 * 3.2)
    fractions = [s for s in rows.loc["Waits"].index if s.startswith("Fraction ")]
    assert fractions == ["Fraction < 0", "Fraction [0, 2)", "Fraction [2, 4)", "Fraction [4, 6)",
                         "Fraction [6, 8)", "Fraction [8, 10)", "Fraction >= 10"]
    values = frame.attrs["values"]
    # Each replication's fractions add up to 1; the collected wait is the
    # tabulator's mean of the same replication, with the same interval.
    assert (values[[("Waits", f) for f in fractions]].sum(axis=1) - 1).abs().max() < 1e-12
    assert values[("", "wait")].equals(values[("Waits", "Mean")])
    wait = rows.loc[("", "wait")]
    assert wait["half_width"] == mean["half_width"] > 0
    served = rows.loc[("", "served")]
    assert served["n"] == 8 and abs(served["mean"] - 8000) < 400
    assert rows.loc[("", "none")]["n"] == 0 and rows.loc[("", "none")]["missing"] == 8


def test_collect_must_answer_names_and_numbers():
    with build_mm1(quorin.Model()) as model:
        for collect, reason in [(lambda m: 3, "a dict of names and numbers, not int"),
                                (lambda m: {1: 2.0}, "a name must be a string"),
                                (lambda m: {"x": "y"}, "the value of x must be a number"),
                                (lambda m: 1 / 0, "division by zero")]:
            with pytest.warns(RuntimeWarning, match="2 of 2 replications failed"):
                result = quorin.replicate(model, replications=2, jobs=2, until=100,
                                          collect=collect)
            assert result.attrs["failures"]["error"].str.contains(reason).all(), reason
    with pytest.raises(quorin.Error, match="collect= needs a model"):
        quorin.replicate(EXAMPLES / "mm1.qm", replications=2, collect=lambda m: {})
