#!/usr/bin/python3
"""The M/M/1 model of mm1.h in SimPy 3, as the peer of the C++ programs.

Arrivals at rate 1, one server with exponential service of mean 0.8, first
come first served. One Lehmer stream (x <- 950706376 x mod 2^31-1, seed
1000000000) serves every draw, in the order documented in mm1.h: the first
interarrival time at the start; at each arrival the next interarrival time,
then the service time when the server is idle; at each departure the service
time of the next waiting customer. The run ends at the N-th departure.

Usage: /usr/bin/python3 mm1_simpy.py [N]   (default 200000)
Prints the rate in customers per second, the mean wait in queue and the
utilisation; the last line, "RATE simpy <customers/s>", is read by compare.sh.
"""
import math
import sys
import time

import simpy

MEAN_INTERARRIVAL = 1.0
MEAN_SERVICE = 0.8


class Lehmer:
    def __init__(self, seed=1000000000):
        self.state = seed

    def exponential(self, mean):
        self.state = (950706376 * self.state) % 2147483647
        return -mean * math.log(self.state / 2147483647.0)


def run(n):
    env = simpy.Environment()
    server = simpy.Resource(env, capacity=1)
    rand = Lehmer()
    done = env.event()
    stats = {"departed": 0, "served": 0, "sum_wait": 0.0, "busy": 0.0}

    def customer():
        arrived = env.now
        with server.request() as req:
            yield req
            stats["served"] += 1
            stats["sum_wait"] += env.now - arrived
            service = rand.exponential(MEAN_SERVICE)
            yield env.timeout(service)
            stats["busy"] += service
        stats["departed"] += 1
        if stats["departed"] == n:
            done.succeed()

    def arrivals():
        yield env.timeout(rand.exponential(MEAN_INTERARRIVAL))
        while True:
            next_gap = rand.exponential(MEAN_INTERARRIVAL)
            env.process(customer())
            yield env.timeout(next_gap)

    env.process(arrivals())
    start = time.perf_counter()
    env.run(until=done)
    seconds = time.perf_counter() - start
    served = stats["served"]
    wait = stats["sum_wait"] / served if served else 0.0
    # The run ends at a departure, so the services completed so far are
    # exactly the busy time.
    rho = stats["busy"] / env.now if env.now > 0 else 0.0
    return stats["departed"], seconds, wait, rho


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 200000
    if n <= 0:
        sys.exit("usage: mm1_simpy.py [customers > 0]")
    departed, seconds, wait, rho = run(n)
    print("simpy      customers %d  time %.3f s  rate %.0f customers/s  Wq %.4f  rho %.4f"
          % (departed, seconds, departed / seconds, wait, rho))
    print("RATE simpy %.0f" % (departed / seconds))


if __name__ == "__main__":
    main()
