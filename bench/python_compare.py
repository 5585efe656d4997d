#!/usr/bin/python3
"""The M/M/1 model from Python against `quorin run` and SimPy, in one run.

Four ways to run the M/M/1 of examples/mm1.qm (arrival rate 1, service rate
1.25), measured in alternating rounds so that a load on the machine hits
them alike; each rate is the median of its rounds, in customers per second:

  standard  the model file loaded by the quorin module, standard handlers
            (no Python call per event)
  python    the same with its three routing handlers written in Python
            (block.PassTo(next)); the queue's is called again at each scan
            while the clerk is busy, as every blocked block's routing is
  command   `quorin run` of the same file, as a process (load included)
  simpy     bench/mm1_simpy.py, SimPy 3 (Debian's python3-simpy3)

Prints the rates and the ratios standard/command (goal: at least 1/1.2)
and python/simpy (goal: at least 10).

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python_compare.py \
           --cli build/tools/quorin [--customers N] [--rounds R]
"""
import argparse
import os
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
MODEL = HERE.parent / "examples" / "mm1.qm"
sys.path.insert(0, str(HERE))

import quorin  # noqa: E402
from mm1_simpy import run as simpy_run  # noqa: E402


def with_until(until):
    """mm1.qm without warm-up, running to `until`."""
    text = MODEL.read_text()
    text = re.sub(r"\n\s*Warmup = .*", "", text)
    return re.sub(r"Until = .*", f"Until = {until}", text)


def standard(path, until):
    with quorin.load(path) as model:
        start = time.perf_counter()
        model.simulate(until)
        seconds = time.perf_counter() - start
        return model["Exit"].Entries(), seconds


def python(path, until):
    with quorin.load(path) as model:
        for name, to in [("Door", "Line"), ("Line", "Clerk"), ("Clerk", "Exit")]:
            receiver = model[to]
            model[name].OnRouting = lambda block, transaction, receiver=receiver: \
                block.PassTo(receiver)
        start = time.perf_counter()
        model.simulate(until)
        seconds = time.perf_counter() - start
        return model["Exit"].Entries(), seconds


def command(cli, path, until):
    start = time.perf_counter()
    out = subprocess.run([cli, "run", path], capture_output=True, text=True, check=True).stdout
    seconds = time.perf_counter() - start
    entries = int(re.search(r"^Exit\s+TTerminator\s+(\d+)", out, re.M).group(1))
    return entries, seconds


def simpy(customers):
    departed, seconds, _, _ = simpy_run(customers)
    return departed, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True, help="the quorin command")
    parser.add_argument("--customers", type=int, default=400000,
                        help="customers per run of the C++ ways (Python handlers and SimPy run "
                             "a quarter of them)")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    rates = {"standard": [], "python": [], "command": [], "simpy": []}
    with tempfile.TemporaryDirectory() as work:
        long_run = os.path.join(work, "mm1-long.qm")
        short_run = os.path.join(work, "mm1-short.qm")
        pathlib.Path(long_run).write_text(with_until(args.customers))
        pathlib.Path(short_run).write_text(with_until(args.customers // 4))
        for _ in range(args.rounds):
            for name, measure in [("standard", lambda: standard(long_run, args.customers)),
                                  ("command", lambda: command(args.cli, long_run, args.customers)),
                                  ("python", lambda: python(short_run, args.customers // 4)),
                                  ("simpy", lambda: simpy(args.customers // 4))]:
                customers, seconds = measure()
                rates[name].append(customers / seconds)
    median = {name: statistics.median(values) for name, values in rates.items()}
    for name, rate in median.items():
        print(f"{name:9s} {rate:12.0f} customers/s  (median of {args.rounds} rounds)")
    print(f"ratio standard handlers / quorin run:  {median['standard'] / median['command']:.2f}")
    print(f"ratio Python handlers / SimPy:         {median['python'] / median['simpy']:.1f}")
    print(f"ratio Python handlers / standard:      {median['python'] / median['standard']:.2f}")


if __name__ == "__main__":
    main()
