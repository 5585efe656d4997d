#!/usr/bin/python3
"""What replicate() costs beside a hand loop, for a short model.

Twenty replications of the M/M/1 of examples/mm1.qm over a short window,
three ways, in alternating rounds (medians of the rounds, in seconds):

  loop      a hand loop in one process: reset(), simulate_to(until),
            report(), twenty times
  jobs=1    quorin.replicate(model, 20, jobs=1): in this process
  jobs=2    quorin.replicate(model, 20, jobs=2): two forked workers at a time

Prints the times and the ratio replicate(jobs=1) / loop (goal: at most 1.3)
and jobs=2 / jobs=1 (below 1 where the workers pay).

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python_replicate.py \
           [--until T] [--replications N] [--rounds R]
"""
import argparse
import pathlib
import statistics
import time

import quorin

MODEL = pathlib.Path(__file__).resolve().parent.parent / "examples" / "mm1.qm"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--until", type=float, default=2000)
    parser.add_argument("--replications", type=int, default=20)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    n, until = args.replications, args.until

    def loop(model):
        for _ in range(n):
            model.reset()
            model.simulate_to(until)
            model.report()

    ways = {
        "loop": loop,
        "jobs=1": lambda m: quorin.replicate(m, replications=n, jobs=1, warmup=0, until=until),
        "jobs=2": lambda m: quorin.replicate(m, replications=n, jobs=2, warmup=0, until=until),
    }
    times = {name: [] for name in ways}
    with quorin.load(MODEL) as model:
        for _ in range(args.rounds):
            for name, way in ways.items():
                start = time.perf_counter()
                way(model)
                times[name].append(time.perf_counter() - start)
    median = {name: statistics.median(t) for name, t in times.items()}
    print(f"{n} replications of the M/M/1 up to {until:g}, medians of {args.rounds} rounds:")
    for name, seconds in median.items():
        print(f"  {name:7s} {seconds:8.4f} s")
    print(f"ratio replicate(jobs=1) / hand loop: {median['jobs=1'] / median['loop']:.2f}")
    print(f"ratio replicate(jobs=2) / replicate(jobs=1): {median['jobs=2'] / median['jobs=1']:.2f}")


if __name__ == "__main__":
    main()
