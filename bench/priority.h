// The two-class preemptive-priority model shared by priority_compare.
//
// Two Poisson streams, urgent and normal customers, each with exponential
// interarrival times of mean 4, at one server with exponential service times
// of mean 1 for both classes (load 0.5). Each class waits in its own FIFO
// line. An urgent customer who finds a normal one in service displaces it;
// the displaced customer keeps the rest of its service time and resumes it
// as soon as no urgent customer is at the server, ahead of the normal line
// (preemptive resume). The run ends at the N-th departure, of either class.
//
// Three Lehmer streams (mm1.h), one for urgent arrivals, one for normal
// arrivals and one for service times, seeded alike in every implementation.
// Each arrival stream draws its first interarrival time at the start and
// the next one at each arrival of its class; the service stream draws one
// service time each time a customer begins service (not when a displaced
// one resumes). Both implementations thus follow the same sample path.
//
// Quorin offers the heads of the two lines to the freed server in the order
// the lines joined its current events chain, that is the order in which
// they last became non-empty. When an urgent customer leaves with nobody
// displaced and the normal line became non-empty before the urgent one, the
// normal head enters first, draws its service time and is displaced at the
// same instant by the urgent head. The hand loop follows the same rule,
// which changes nothing in the mean figures but keeps the sample paths equal.
#pragma once

#include <cstdint>

#include "mm1.h"

namespace quorin::bench {

constexpr double MeanUrgentInterarrival = 4.0;
constexpr double MeanNormalInterarrival = 4.0;
constexpr double MeanPriorityService = 1.0;
constexpr int64_t UrgentSeed = 1000000000;
constexpr int64_t NormalSeed = 1234567890;
constexpr int64_t ServiceSeed = 2023456789;

// Figures of one class of customers.
struct TClassResult {
  int64_t Departed = 0;  // customers of the class that left the system
  double MeanWait = 0.0; // mean over them of time in system minus own service time
  double MeanLine = 0.0; // mean time in the class's line over all who left it
};

struct TPriorityResult {
  int64_t Customers = 0; // customers that left the system
  double Seconds = 0.0;  // CPU time of the run
  TClassResult Urgent;
  TClassResult Normal;
  double Utilisation = 0.0; // share of model time the server was busy
  double EndTime = 0.0;     // model time at the end of the run
};

// The hand-written event loop: a binary heap of events, two FIFO lines and
// one server with preemptive resume; no library.
TPriorityResult RunPriorityHandLoop(int64_t N);

// The same model through Quorin blocks: two generators, two queues, one
// preemptive server, a terminator; with the given event list and retry mode.
TPriorityResult RunPriorityQuorin(int64_t N, TEventList Kind = TEventList::Levels,
                                  TRetry Retry = TRetry::EveryScan);
// The same on one of the engines, its blocks routed by fixed routes
// (TBlock::SetRoute).
TPriorityResult RunPriorityQuorin(int64_t N, TEngine Engine);

} // namespace quorin::bench
