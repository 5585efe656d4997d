// The M/M/1 model shared by the whole-model comparison programs.
//
// Arrivals at rate 1 (exponential interarrival times of mean 1), one server
// with exponential service times of mean 0.8, first come first served. All
// times come from one Lehmer stream, x <- 950706376 * x mod (2^31 - 1) from
// the seed 1000000000, u = x / (2^31 - 1), exponential = -mean * ln(u).
//
// Order of draws, the same in every implementation so that they follow the
// same sample path:
//   1. at the start, the first interarrival time;
//   2. at each arrival, first the next interarrival time, then, when the
//      server is idle, the service time of the customer who just arrived;
//   3. at each departure, the service time of the next waiting customer, if
//      one waits.
// The run ends at the departure of the N-th customer.
#pragma once

#include <cmath>
#include <cstdint>
#include <ctime>

#include "quorin/kernel/engine.h"
#include "timing.h"

namespace quorin::bench {

constexpr double MeanInterarrival = 1.0;
constexpr double MeanService = 0.8;

class TLehmer {
public:
  TLehmer() = default;
  // Seed in 1 .. 2^31 - 2.
  explicit TLehmer(int64_t Seed) : FState(Seed) {}
  double Uniform() {
    FState = (950706376LL * FState) % 2147483647LL;
    return double(FState) / 2147483647.0;
  }
  double Exponential(double Mean) { return -Mean * std::log(Uniform()); }

private:
  int64_t FState = 1000000000;
};

struct TRunResult {
  int64_t Customers = 0;    // customers that left the system
  double Seconds = 0.0;     // CPU time of the run
  double MeanWait = 0.0;    // mean wait in queue of the customers who began service
  double Utilisation = 0.0; // share of model time the server was busy
  double EndTime = 0.0;     // model time at the end of the run
};

// The hand-written event loop: a binary heap of events and a FIFO of waiting
// customers, no library. With Servers > 1 it is the M/M/c model: a customer
// who arrives while a server is free draws its service time at once, and at
// a departure the next waiting customer (if any) draws its own. Utilisation
// is then the mean share of servers busy.
TRunResult RunHandLoop(int64_t N, int32_t Servers = 1, double Service = MeanService);

// The same model through Quorin blocks (generator, queue, server, terminator).
// Kind chooses the future events list: the default levels, or the heap.
// Blocked adds that many blocked blocks beside the model: generators that
// each made one transaction at time 0 and offer it to a locked gate for the
// whole run. With Retry EveryScan they stay in the current events chain and
// are retried at every scan; with OnChange they wait on the gate. They draw
// no numbers, so the sample path stays the same.
TRunResult RunQuorin(int64_t N, TEventList Kind = TEventList::Levels, int32_t Blocked = 0,
                     TRetry Retry = TRetry::EveryScan);

// The M/M/c model through Quorin blocks: generator, queue, a storage of
// capacity Servers, terminator; the same draws in the same order as the
// hand loop with Servers.
TRunResult RunQuorinStorage(int64_t N, int32_t Servers, double Service);

// The M/M/c model (a server for c = 1, else a storage of capacity c) on one
// of the engines, its blocks routed by fixed routes (TBlock::SetRoute).
TRunResult RunQuorinEngine(int64_t N, int32_t Servers, double Service, TEngine Engine);

} // namespace quorin::bench
