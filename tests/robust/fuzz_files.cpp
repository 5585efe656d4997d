// Random model files: written from a seed with the standard handlers,
// schedules across time scales and form places, loaded, saved, loaded
// again from the saved text, and both run: the two must flow alike.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <sstream>

#include "fuzzer.h"
#include "message_capture.h"
#include "quorin/modelfile.h"
#include "quorin/report.h"

namespace quorin::test {

namespace {

constexpr int64_t MaxFileEvents = 3000; // events per run of a model file

std::string Num(double V) {
  char Buffer[32];
  std::snprintf(Buffer, sizeof Buffer, "%.9g", V);
  return Buffer;
}

double Uniform(std::mt19937_64& R) {
  return double(R() >> 11) * 0x1p-53;
}

class TFileFuzz {
public:
  explicit TFileFuzz(uint64_t Seed) : R(Seed ^ 0x5eedf11e5ULL) {}
  std::string Text();

private:
  int Pick(int N) { return int(R() % uint64_t(N)); }
  bool Chance(double P) { return Uniform(R) < P; }
  std::string Mean() {
    static const char* const Means[] = {"0.001", "0.5", "1", "3", "100"};
    return Means[Pick(5)];
  }
  // A receiver for block From: a later block as a rule, now and then any.
  std::string Target(std::size_t From) {
    if (Chance(0.1)) return Names[std::size_t(Pick(int(Names.size())))];
    const std::size_t First = std::max(From + 1, Generators);
    return Names[First + std::size_t(Pick(int(Names.size() - First)))];
  }
  std::string Routing(std::size_t From);

  std::mt19937_64 R;
  std::vector<std::string> Names;
  std::size_t Generators = 0;
};

std::string TFileFuzz::Routing(std::size_t From) {
  const std::string A = Target(From), B = Target(From);
  switch (Pick(4)) {
  case 0:
    return "PassTo(" + A + ")";
  case 1:
    return "PassFirst(" + A + ", " + B + ")";
  case 2: {
    const double P = double(1 + Pick(9)) / 10;
    return "PassByChance(Routes, " + A + ", " + Num(P) + ", " + B + ", " + Num(1 - P) + ")";
  }
  default:
    return "PassInTurn(" + A + ", " + B + ")";
  }
}

std::string TFileFuzz::Text() {
  std::ostringstream Out;
  // Schedules: a rate for arrivals, a capacity, a duty of 0 and 1.
  const char* const Schedules[] = {"Rate", "Room", "Duty"};
  for (int s = 0; s < 3; ++s) {
    double Period = 0;
    const std::string Steps = DrawScheduleSteps(R, s > 0, s == 2 ? 1 : 4, Period);
    Out << "schedule " << Schedules[s] << "\n";
    if (Period > 0 || Chance(0.2)) Out << "  Period = " << Num(Period) << "\n";
    Out << "  Steps = \"" << Steps << "\"\nend\n\n";
  }
  Generators = std::size_t(1 + Pick(2));
  const std::size_t Middle = std::size_t(1 + Pick(5)), Ends = std::size_t(1 + Pick(2));
  std::vector<std::string> Classes;
  for (std::size_t i = 0; i < Generators; ++i)
    Classes.push_back("TGenerator");
  static const char* const MiddleClasses[] = {"TQueue", "TStack", "TServer", "TStorage",
                                              "TQueuePrty"};
  for (std::size_t i = 0; i < Middle; ++i)
    Classes.push_back(MiddleClasses[Pick(5)]);
  for (std::size_t i = 0; i < Ends; ++i)
    Classes.push_back("TTerminator");
  for (std::size_t i = 0; i < Classes.size(); ++i)
    Names.push_back(Classes[i].substr(1) + std::to_string(i));

  Out << "object Form: TComponent\n  object Model: TModel\n";
  if (Chance(0.5)) Out << "    RetryOnChange = " << (Chance(0.5) ? "true" : "false") << "\n";
  if (Chance(0.3)) Out << "    HeapEventList = " << (Chance(0.5) ? "true" : "false") << "\n";
  Out << "    MoveLimit = " << 1000 + Pick(5000) << "\n  end\n";
  Out << "  object Arrivals: TMultiRand\n    Seed = " << 1 + Pick(1000000) << "\n  end\n";
  Out << "  object Services: TMultiRand end\n  object Routes: TMultiRand end\n";
  const bool Placed = Chance(0.5);
  for (std::size_t i = 0; i < Classes.size(); ++i) {
    const std::string& C = Classes[i];
    Out << "  object " << Names[i] << ": " << C << "\n";
    if (Placed) Out << "    Left = " << 40 + 160 * i << "\n    Top = " << 40 + Pick(400) << "\n";
    if (C == "TGenerator") {
      const std::string Next = Chance(0.4) ? "NextArrivalAtRate(Arrivals, Rate)"
                                           : "NextArrival(Arrivals.Exponential(" + Mean() + "))";
      Out << "    OnBeforeTimeGoOn = " << Next << "\n    OnAfterGeneration = " << Next << "\n";
    } else if (C == "TQueue" || C == "TStack" || C == "TQueuePrty") {
      if (Chance(0.4)) Out << "    Capacity = " << 1 + Pick(4) << "\n";
      if (C != "TQueuePrty" && Chance(0.3)) Out << "    Schedule = Room\n";
      if (Chance(0.3))
        Out << "    OnEnter = TimeLimit(" << Mean() << ")\n    OnTimeFinish = " << Routing(i)
            << "\n";
    } else if (C == "TServer" || C == "TStorage") {
      if (C == "TStorage") Out << "    Capacity = " << 1 + Pick(3) << "\n";
      if (Chance(0.3)) Out << "    Schedule = " << (C == "TServer" ? "Duty" : "Room") << "\n";
      Out << "    OnEnter = Hold(Services.Exponential(" << Mean() << "))\n";
    }
    if (C != "TTerminator") Out << "    OnRouting = " << Routing(i) << "\n";
    Out << "  end\n";
  }
  Out << "end\n";
  return Out.str();
}

// The run of a loaded model: its flows (every pass with its time), its
// report as CSV and its messages.
struct TOutcome {
  std::vector<std::string> Flows;
  std::string Report;
  std::vector<std::string> Messages;
};

TOutcome RunFile(TModelFile& File, double Until, TFuzzFigures& Figures) {
  TOutcome O;
  TMessageCapture Capture;
  TModel& M = *File.Model();
  int64_t Events = 0;
  M.OnNewTime = [&](TAggregate*, TTransaction*) {
    if (++Events >= MaxFileEvents) M.Stop();
  };
  M.OnAfterPass = [&O](TBlock* From, TBlock* To, TTransaction*) {
    O.Flows.push_back(Num(ModelTime()) + " " + From->Name() + " " + To->Name());
  };
  M.SimulateTo(Until);
  Figures.Events += Events;
  ++Figures.Runs;
  std::ostringstream Csv;
  PrintReportCsv(M, Csv);
  O.Report = Csv.str();
  // Messages cite the handler's line in its own file, and a saved file
  // lays its objects out anew: compare them without line numbers.
  for (std::string Text : Capture.Messages) {
    const std::string Name = "fuzz.qm:";
    for (std::size_t At = Text.find(Name); At != std::string::npos; At = Text.find(Name, At)) {
      At += Name.size() - 1;
      std::size_t End = At + 1;
      while (End < Text.size() && std::isdigit(static_cast<unsigned char>(Text[End]))) ++End;
      Text.erase(At, End - At);
    }
    O.Messages.push_back(Text);
  }
  return O;
}

} // namespace

std::string DrawScheduleSteps(std::mt19937_64& R, bool WholeValues, int MaxValue,
                              double& Period) {
  // Time scales from 1e-3 to 1e6; one schedule in four from 1e-9 to 1e9,
  // with now and then a period too short to be told apart at the clock of
  // a long run (which the loader refuses, and TSchedule copes with).
  const bool Extreme = R() % 4 == 0;
  const double Scale = Extreme ? std::pow(10.0, 3.0 * double(R() % 7) - 9.0)
                               : std::pow(10.0, 3.0 * double(R() % 4) - 3.0);
  const int Count = 1 + int(R() % 5);
  Period = 0;
  const uint64_t Kind = R() % 10;
  if (Kind < 6) Period = Scale * double(1 + R() % 1000) / 10;
  if (Kind == 6 && Extreme) Period = 1e-8;
  std::string Text;
  double Time = 0;
  for (int i = 0; i < Count; ++i) {
    if (i > 0)
      Time = Period > 0 ? Period * (double(i) + 0.9 * Uniform(R)) / Count
                        : Time + Scale * (0.1 + 10 * Uniform(R));
    const double Value = WholeValues ? double(R() % uint64_t(MaxValue + 1))
                                     : double(R() % 4) * (0.5 + Uniform(R)) / Scale;
    Text += (i ? ", " : "") + Num(Time) + " " + Num(Value);
  }
  return Text;
}

std::vector<std::string> FuzzModelFile(uint64_t Seed, TFuzzFigures& Figures) {
  std::vector<std::string> Faults;
  const std::string Where = "file seed " + std::to_string(Seed) + ": ";
  TFileFuzz Fuzz(Seed);
  const std::string Text = Fuzz.Text();
  ++Figures.FileModels;
  try {
    TMessageCapture Quiet;
    std::vector<std::string> Errors;
    auto First = LoadModelText(Text, "fuzz.qm", {}, Errors);
    if (!First) {
      // A drawn schedule the loader refuses (a period too short for the
      // clock): refused with a reason, which is all that is asked.
      ++Figures.FilesRefused;
      if (Errors.empty()) Faults.push_back(Where + "refused without a reason");
      return Faults;
    }
    std::string Saved;
    if (!SaveModelText(*First, Saved, Errors)) {
      Faults.push_back(Where + "not saved: " + (Errors.empty() ? "" : Errors.front()));
      return Faults;
    }
    std::mt19937_64 R(Seed);
    static const double Ends[] = {1e-6, 1, 100, 1e4, 1e8};
    const double Until = Ends[R() % 5];
    const TOutcome A = RunFile(*First, Until, Figures);
    First.reset(); // one model holds the run memory at a time
    // Under the same name: messages cite the file, and they must agree.
    auto Second = LoadModelText(Saved, "fuzz.qm", {}, Errors);
    if (!Second) {
      Faults.push_back(Where + "the saved text does not load: " +
                       (Errors.empty() ? "" : Errors.front()) + "\n" + Saved);
      return Faults;
    }
    std::string Again;
    if (!SaveModelText(*Second, Again, Errors) || Again != Saved)
      Faults.push_back(Where + "saving the reloaded model gives another text");
    const TOutcome B = RunFile(*Second, Until, Figures);
    if (A.Flows != B.Flows)
      Faults.push_back(Where + "the reloaded model flows otherwise (" +
                       std::to_string(A.Flows.size()) + " and " + std::to_string(B.Flows.size()) +
                       " passes)");
    if (A.Report != B.Report) Faults.push_back(Where + "the reloaded model reports otherwise");
    if (A.Messages != B.Messages)
      Faults.push_back(Where + "the reloaded model reports other messages");
    ++Figures.FilesReloaded;
  } catch (const std::exception& E) {
    Faults.push_back(Where + "exception " + E.what());
  }
  if (!Faults.empty()) {
    ++Figures.Failures;
    Faults.push_back("  the model:\n" + Text);
  }
  return Faults;
}

} // namespace quorin::test
