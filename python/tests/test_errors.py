"""Library messages as exceptions, handler exceptions, one live model."""
import gc

import pytest

import quorin
from conftest import EXAMPLES, build_mm1


def test_library_messages_raise_errors_naming_the_block_and_print_nothing(capfd):
    with build_mm1(quorin.Model()) as model:
        with pytest.raises(quorin.Error) as caught:
            model["Services"].Uniform(5, 1)
        assert caught.value.message == "Incorrect parameters of Services.Uniform"
        assert caught.value.block == "Services"
        with pytest.raises(quorin.Error, match="PageSize = 100 is refused: .*less than 1024"):
            model.model.PageSize = 100
        with pytest.raises(quorin.Error, match="must be a whole number"):
            model["Line"].Capacity = 2.5
        # A heap too small for the queue stops the run: raised when it returns.
        model.model.HeapSize = 1
        model["Clerk"].OnEnter = "Hold(Services.Exponential(100))"
        with pytest.raises(quorin.Error, match="Not enough memory in private heap"):
            model.simulate(1e6)
        assert model.report().loc["Line", "Count"] > 1000  # readable after it
    with build_mm1(quorin.Model(CheckModel=True)) as model:
        model["Line"].OnRouting = None
        with pytest.raises(quorin.CheckError) as caught:
            model.simulate(100)
        assert caught.value.block == "Line" and "no OnRouting" in caught.value.message
    assert capfd.readouterr().err == ""


def test_an_exception_in_a_python_handler_leaves_simulate_and_the_model_consistent():
    def fail_on_the_100th(block, transaction):
        if block.Entries() == 100:
            raise KeyError("out of paper")

    with quorin.load(EXAMPLES / "mm1.qm") as model:
        model.simulate(3000)
        expected = model.report()
    with build_mm1(quorin.Model()) as model:
        model["Exit"].OnEnter = fail_on_the_100th
        with pytest.raises(KeyError, match="out of paper"):
            model.simulate(3000)
        report = model.report()
        # Every transaction is counted where it is: none lost, none twice.
        inside = report.loc[["Line", "Clerk"], "Count"].sum()
        assert report.loc["Door", "Exits"] == inside + report.loc["Exit", "Entries"]
        model["Exit"].OnEnter = lambda block, transaction: model.close()
        with pytest.raises(quorin.Error, match="cannot be closed while it runs"):
            model.simulate(3500)
        model["Exit"].OnEnter = None
        model.reset()  # the blocks start afresh; the streams are set back by hand
        model["Arrivals"].Seed, model["Services"].Seed = 1000000000, 1234567891
        model.simulate(3000)
        assert model.report().equals(expected)


def test_one_model_is_live_at_a_time():
    first = quorin.load(EXAMPLES / "mm1.qm")
    line = first["Line"]
    with pytest.raises(quorin.Error, match="only one model may be live"):
        quorin.Model()
    first.close()
    with pytest.raises(quorin.Error, match="closed"):
        line.Count()
    with pytest.raises(quorin.Error, match="the model was closed"):
        first["Line"]  # a name, as a kept block object does
    with quorin.Model() as second:
        assert "0 blocks" in repr(second)
    assert second.closed
    third = quorin.Model()
    del third
    gc.collect()
    quorin.Model().close()  # dropping the last reference freed the slot
