#!/usr/bin/python3
"""The bank whose customers renege, the classic SimPy example, in Quorin.

Five customers arrive about every 10 minutes at a bank with one counter.
Each waits for the counter at most 1 to 3 minutes (drawn as it arrives) and
leaves unserved when its patience runs out; a service takes about 12
minutes. The waiting line, the patience and the service are standard
handlers that run in C++; one Python handler tells the story as the
original prints it, and the report counts what happened.

    PYTHONPATH=build/python /usr/bin/python3 examples/bank_renege.py
"""
import quorin

CUSTOMERS = 5

with quorin.Model(fields=["number", "arrived"]) as bank:
    bank.add("TMultiRand", "Arrivals", Seed=42)
    bank.add("TMultiRand", "Patience", Seed=1234567)
    bank.add("TMultiRand", "Service", Seed=7654321)
    bank.add("TGenerator", "Door", OnBeforeTimeGoOn="NextArrival(Arrivals.Exponential(10))",
             OnRouting="PassTo(Line)")
    bank.add("TQueue", "Line", OnEnter="TimeLimit(Patience.Uniform(1, 3))",
             OnRouting="PassTo(Counter)", OnTimeFinish="PassTo(Reneged)")
    bank.add("TServer", "Counter", OnEnter="Hold(Service.Exponential(12))",
             OnRouting="PassTo(Served)")
    bank.add("TTerminator", "Served")
    bank.add("TTerminator", "Reneged")

    def arrival(door, customer):
        customer.number, customer.arrived = door.Exits(), quorin.now()
        if door.Exits() + 1 < CUSTOMERS:
            door.NextTime(bank["Arrivals"].Exponential(10))

    def story(sender, receiver, customer):
        waited = quorin.now() - customer.arrived
        what = {"Line": "Here I am", "Counter": f"Waited {waited:6.3f}", "Served": "Finished",
                "Reneged": f"RENEGED after {waited:6.3f}"}[receiver.Name]
        print(f"{quorin.now():7.4f} Customer{int(customer.number):02d}: {what}")

    bank["Door"].OnAfterGeneration = arrival
    bank.model.OnAfterPass = story
    bank.simulate(1e9)  # until nothing is left to do
    print(bank.report()[["Entries", "Mean time", "Time limit"]].loc[["Line", "Counter"]])
