import os
import pathlib
import subprocess

import pytest

import quorin

SOURCE = pathlib.Path(os.environ.get("QUORIN_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
EXAMPLES = SOURCE / "examples"


@pytest.fixture(autouse=True)
def no_live_model_left():
    """Each test starts with no live model, whatever the one before left."""
    quorin._quorin._close_live()
    yield
    quorin._quorin._close_live()


@pytest.fixture
def cli():
    """Runs the quorin command and answers its standard output."""
    program = os.environ.get("QUORIN_CLI")
    if not program:
        pytest.skip("QUORIN_CLI names no quorin command")

    def run(*args):
        done = subprocess.run([program, *map(str, args)], capture_output=True, text=True,
                              check=True)
        return done.stdout

    return run


def build_mm1(model, routing=None):
    """The M/M/1 of examples/mm1.qm on model: standard handlers, or the
    routing given as {block name: handler}."""
    model.add("TMultiRand", "Arrivals")
    model.add("TMultiRand", "Services", Seed=1234567891)
    model.add("TGenerator", "Door", OnBeforeTimeGoOn="NextArrival(Arrivals.Exponential(1.0))",
              OnAfterGeneration="NextArrival(Arrivals.Exponential(1.0))", OnRouting="PassTo(Line)")
    model.add("TQueue", "Line", OnRouting="PassTo(Clerk)")
    model.add("TServer", "Clerk", OnEnter="Hold(Services.Exponential(0.8))",
              OnRouting="PassTo(Exit)")
    model.add("TTerminator", "Exit")
    for name, handler in (routing or {}).items():
        model[name].OnRouting = handler
    return model
