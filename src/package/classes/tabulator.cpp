// The description of TTabulator.
#include "describe.h"
#include "quorin/statsim.h"

namespace quorin::classes {

namespace {

// The palette image: a histogram.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "770777777777777777777777",
    "770777777777777777777777", "770777777777777777777777", "770777777777777777777777",
    "7707777777CC777777777777", "7707777777CC777777777777", "7707777777CC777777777777",
    "7707777777CC7CC777777777", "7707777777CC7CC777777777", "7707777777CC7CC777777777",
    "7707777CC7CC7CC777777777", "7707777CC7CC7CC777777777", "7707777CC7CC7CC7CC777777",
    "7707777CC7CC7CC7CC777777", "7707777CC7CC7CC7CC777777", "7707CC7CC7CC7CC7CC777777",
    "7707CC7CC7CC7CC7CC7CC777", "7707CC7CC7CC7CC7CC7CC777", "7707CC7CC7CC7CC7CC7CC777",
    "770000000000000000000077", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& TabulatorClass() {
  static const TClassInfo Info{
      .Name = "TTabulator",
      .Order = 910,
      .Create = &Create<TTabulator>,
      .Is = &Is<TTabulator>,
      .Base = &ComponentClass(),
      .Report = TReportKind::None,
      .Properties = {Tag(),
                     Property<TTabulator, float>("LowerBound", 0, &TTabulator::LowerBound,
                                                 &TTabulator::SetLowerBound),
                     Property<TTabulator, float>("Interval", 0, &TTabulator::Interval,
                                                 &TTabulator::SetInterval),
                     Property<TTabulator, uint8_t>("IntervalCount", 1, &TTabulator::IntervalCount,
                                                   &TTabulator::SetIntervalCount),
                     Property<TTabulator, bool>("KeepOnClear", 0, &TTabulator::KeepOnClear,
                                                &TTabulator::SetKeepOnClear)},
      .Summary =
          "a histogram: values put in with PutValue, their mean and deviation, counts per interval",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
