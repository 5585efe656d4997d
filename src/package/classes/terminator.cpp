// The description of TTerminator.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: the way ends at a bar.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777770000777", "777777777777777770990777", "777777777777777770990777",
    "777777777777777770990777", "777777777777777770990777", "777777777777777770990777",
    "777777777777077770990777", "777777777777707770990777", "777777777777770770990777",
    "700000000000000070990777", "777777777777770770990777", "777777777777707770990777",
    "777777777777077770990777", "777777777777777770990777", "777777777777777770990777",
    "777777777777777770990777", "777777777777777770990777", "777777777777777770000777",
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& TerminatorClass() {
  static const TClassInfo Info{
      .Name = "TTerminator",
      .Order = 190,
      .Create = &Create<TTerminator>,
      .Is = &Is<TTerminator>,
      .Base = &BlockClass(),
      .Report = TReportKind::Terminator,
      .Statistics = {Statistic(TReportColumn::MeanTime, &TTerminator::AverageTime),
                     Statistic(TReportColumn::MaxTime, &TTerminator::MaxTime)},
      .Properties = {Tag()},
      .Events = {Event("OnEnter", &TTerminator::OnEnter), OnRouting()},
      .Summary = "destroys whatever enters, counts it and keeps its time in system",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
