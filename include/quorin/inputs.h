// Inputs that change over model time or come from data: schedules
// (piecewise-constant functions of time), arrivals of a non-homogeneous
// Poisson process whose rate follows a schedule, block capacities and gate
// openings that follow a schedule (shifts, opening hours), and empirical
// distributions read from a CSV file.
//
// Everything here sits above the blocks and uses the standard library only.
// Failures answer an empty optional or false with the reason in a string;
// nothing is thrown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quorin/blocks.h"
#include "quorin/statsim.h"

namespace quorin {

// ------------------------------------------------------------------ CSV data

// One column of numbers read from a CSV file. Fields are separated by
// commas; blank lines and lines starting with '#' are skipped; the first
// other line is a header when its field in the column is not a number (a
// column may then be chosen by name). Every other line must hold a number
// in the column: the first that does not is refused with its line number.
struct TCsvColumn {
  std::string Name;            // the header's name, or "" without a header
  std::vector<double> Values;  // in file order
  std::vector<int32_t> Lines;  // the line of each value, from 1
};
// Column: a header name, or "" for the first column. Answers nullopt with
// Error as "file:line: reason" (or "file: reason").
std::optional<TCsvColumn> ReadCsvColumn(const std::string& Path, const std::string& Column,
                                        std::string& Error);
// The same for text already in memory; Path is named in messages only.
std::optional<TCsvColumn> ParseCsvColumn(const std::string& Text, const std::string& Path,
                                         const std::string& Column, std::string& Error);

// ----------------------------------------------------------------- schedules

// A piecewise-constant function of model time. Step i holds Value from its
// Time up to the next step's Time; the first step starts at 0 and the last
// holds for ever, or, with a Period above 0, until Period, after which the
// whole pattern repeats (step times then lie in [0, Period)). Values are 0
// or more and finite. Lookups are O(log steps); the integral over a span is
// O(log steps) plus the whole periods it spans in O(1).
class TSchedule {
public:
  struct TStep {
    double Time;
    double Value;
  };

  TSchedule() = default; // one step: 0 from time 0 on

  // Steps in increasing time, the first at 0. Answers nullopt with the
  // reason when a time is out of order, negative, not finite or not below
  // the period, or a value is negative or not finite.
  static std::optional<TSchedule> Make(std::vector<TStep> Steps, double Period,
                                       std::string& Error);
  // Steps written as text: "time value" pairs separated by commas, such as
  // "0 2, 480 5.5, 720 2".
  static std::optional<TSchedule> Parse(const std::string& Text, double Period,
                                        std::string& Error);
  // A CSV file of two columns, time and value (an optional header line).
  // Errors name the file and the line.
  static std::optional<TSchedule> ReadCsv(const std::string& Path, double Period,
                                          std::string& Error);

  const std::vector<TStep>& Steps() const { return FSteps; }
  double Period() const { return FPeriod; }
  // The steps as Parse reads them.
  std::string Text() const;

  // The value at model time T (T >= 0).
  double ValueAt(double T) const;
  // The first time after T at which the value may change (a step boundary);
  // infinity when there is none.
  double NextChange(double T) const;
  // The integral of the function from A to B (0 <= A <= B).
  double Integral(double A, double B) const;
  // The time t >= From at which Integral(From, t) reaches Amount (> 0), the
  // earliest such; infinity when the function stays 0 for ever before that.
  double TimeOfIntegral(double From, double Amount) const;

private:
  std::vector<TStep> FSteps{{0.0, 0.0}};
  double FPeriod = 0.0;
  double FPeriodIntegral = 0.0;          // over one period
  std::vector<double> FCumulative{0.0};  // integral from 0 to each step's time
  // Index of the step that holds at local time X (0 <= X, below the period).
  size_t StepAt(double X) const;
  // Integral from 0 to local time X within the first period (or for ever).
  double LocalIntegral(double X) const;
};

// The delay to the next arrival of a Poisson process whose rate (arrivals
// per time unit) is Rate, seen from model time Now: the integrated rate is
// inverted at a unit exponential variate drawn from Stream (one Uni01 per
// call). Exact for a piecewise-constant rate, and one draw per arrival keeps
// arrivals in step between designs that share the stream. Answers nullopt
// when the rate stays 0 for ever after Now (no further arrival) or the next
// arrival lies beyond the future events list's horizon (10^10).
std::optional<double> NextArrivalDelay(const TSchedule& Rate, TMultiRand& Stream, double Now);

// Makes Generator a Poisson source with the schedule as its rate: assigns
// its OnBeforeTimeGoOn and OnAfterGeneration to order each next arrival with
// NextArrivalDelay. Arrivals stop once the rate stays 0 for ever.
void SetArrivalRate(TGenerator& Generator, const TSchedule& Rate, TMultiRand& Stream);

// Keeps a block's capacity, or a gate's opening, at the value of a schedule
// as model time passes. It is a scheduler created on the block's owner
// (the model gathers it there), so it lives with that owner; a block
// destroyed before it is left alone (the driver finds it no more among the
// owner's components and stops). At the first Simulate (and
// after Reset) it applies the value at the clock and then acts at every
// step boundary.
//
// What a value means:
// - TQueue, TStack, TStorage (Capacity in their traits): the value, a whole number,
//   is the Capacity; 0 closes the block (its Capacity 0 would mean no
//   limit). A drop takes nobody out: the transactions inside stay and leave
//   as usual, and no new one enters until fewer than the new capacity are
//   inside. So storage units at the end of a shift finish their holders.
// - TServer: 1 (on duty) or 0 (off duty). At the end of a shift the holder
//   finishes its service and leaves as usual; the server then admits nobody
//   until its next shift starts. A preempting transaction is refused too
//   while the server is off duty.
// - TGate: above 0 unlocks the gate, 0 locks it.
// Closing uses TBlock::SetClosed, which refuses every entry.
class TScheduleDriver : public TScheduler {
public:
  // Answers nullptr with Error when the block is of another class or a
  // value does not suit it (not a whole number for a capacity, above 1 for
  // a server).
  static TScheduleDriver* Attach(TBlock& Block, const TSchedule& Schedule, std::string& Error);
  // Whether a block of Block's class can follow a schedule (its class's
  // traits say so: queues, stacks and storages by capacity, servers by
  // duty, gates by opening).
  static bool CanFollow(const TBlock& Block);

  TBlock* Block() const { return FBlock; }
  const TSchedule& Schedule() const { return FSchedule; }

  void FirstInit() override;
  void Activate(TTransaction* Trans) override;

private:
  TScheduleDriver(TComponent* AOwner, TBlock& Block, const TSchedule& Schedule,
                  void (*Follow)(TBlock& Block, double Value));
  void Apply();
  bool BlockAlive() const;
  TBlock* FBlock;
  TSchedule FSchedule;
  void (*FFollow)(TBlock& Block, double Value);
};

// ------------------------------------------------------ empirical distribution

// The distribution of observed values. Continuous: the observations sorted,
// x(1) <= ... <= x(n), and the distribution function that rises linearly
// from (i - 1) / (n - 1) at x(i) to i / (n - 1) at x(i + 1), so draws cover
// [x(1), x(n)] with the data's quantiles. Discrete: each distinct observed
// value with its observed frequency. One Uni01 per draw either way.
class TEmpirical {
public:
  // At least 2 values for a continuous distribution, 1 for a discrete one;
  // values must be finite.
  static std::optional<TEmpirical> Make(std::vector<double> Values, bool Discrete,
                                        std::string& Error);
  // A column of a CSV file (ReadCsvColumn).
  static std::optional<TEmpirical> ReadCsv(const std::string& Path, const std::string& Column,
                                           bool Discrete, std::string& Error);

  double Draw(TMultiRand& Stream) const;
  // The distribution's quantile at P in [0, 1], its mean.
  double Quantile(double P) const;
  double Mean() const;
  bool Discrete() const { return FDiscrete; }
  // The sorted observations (continuous) or the distinct values (discrete).
  const std::vector<double>& Values() const { return FValues; }

private:
  bool FDiscrete = false;
  std::vector<double> FValues;
  std::vector<double> FCumulative; // discrete: P(X <= value i)
};

} // namespace quorin
