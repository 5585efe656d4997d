// The example models of the showcase. Each builds its model, runs it,
// prints the standard report and a table of key figures with the values
// queueing theory gives where a closed form exists, and answers the figures.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace quorin::examples {

struct TFigure {
  std::string Name;
  double Simulated;
  std::optional<double> Theory;
  // What the theory cell says when there is no value.
  std::string NoTheory = "no closed form";
  // A count: printed as an integer.
  bool Count = false;
};

// Prints figures as an aligned table with a theory column ("no closed form"
// where there is none).
void PrintFigures(const std::vector<TFigure>& Figures, std::ostream& Out);
// Prints how the figures below were obtained: the warm-up removed, the
// length measured, and how many runs stand behind each figure.
void PrintRunLength(std::ostream& Out, double WarmUp, double Measured, const char* Unit);

// M/M/1: arrival rate 1, service rate 1.25, over EndTime time units.
std::vector<TFigure> RunMM1(std::ostream& Out, double EndTime = 200000);
// M/M/3 built on a storage of three units: arrival rate 1, service mean 2.4.
std::vector<TFigure> RunMM3(std::ostream& Out, double EndTime = 200000);
// A one-barber shop: arrivals every 18 +- 6 minutes, haircuts of 16 +- 4;
// one 480-minute day, then Days more for the long-run figures.
std::vector<TFigure> RunBarber(std::ostream& Out, int32_t Days = 1000);
// Preemptive-resume priority M/M/1: two classes at rate 0.25 each, service
// rate 1, urgent customers interrupting regular ones.
std::vector<TFigure> RunPriority(std::ostream& Out, double EndTime = 200000);
// Fork and join: jobs at rate 0.3, each split into three tasks served in
// parallel (rate 1 each) and joined again; one job in the workshop at a time.
std::vector<TFigure> RunForkJoin(std::ostream& Out, double EndTime = 200000);
// Batch arrivals: a bus with 1 to 9 passengers every 15 minutes, one ticket
// clerk with a mean of 2.4 minutes per ticket.
std::vector<TFigure> RunBus(std::ostream& Out, double EndTime = 200000);

} // namespace quorin::examples
