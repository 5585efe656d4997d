// The description of TScheduler.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: a calendar of planned events.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777887777777778877777", "777777887777777778877777",
    "770000880000000008800077", "770999889999999998899077", "770999889999999998899077",
    "770999999999999999999077", "770999999999999999999077", "770FFFFFFFFFFFFFFFFFF077",
    "770FFFFFFFFFFFFFFFFFF077", "770FF44FF44FF44FF44FF077", "770FF44FF44FF44FF44FF077",
    "770FFFFFFFFFFFFFFFFFF077", "770FFFFFFFFFFFFFFFFFF077", "770FF44FF44FF99FF44FF077",
    "770FF44FF44FF99FF44FF077", "770FFFFFFFFFFFFFFFFFF077", "770FFFFFFFFFFFFFFFFFF077",
    "770FF44FF44FF44FF44FF077", "770FF44FF44FF44FF44FF077", "770FFFFFFFFFFFFFFFFFF077",
    "770000000000000000000077", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& SchedulerClass() {
  static const TClassInfo Info{
      .Name = "TScheduler",
      .Order = 110,
      .Create = &Create<TScheduler>,
      .Is = &Is<TScheduler>,
      .Base = &ComponentClass(),
      .Report = TReportKind::None,
      .Properties = {Tag()},
      .Events = {Event("OnBeforeTimeGoOn", &TScheduler::OnBeforeTimeGoOn),
                 Event("OnPlanned", &TScheduler::OnPlanned)},
      .Traits = TClassTraits{.PlansArrivals = true},
      .Summary =
          "not a block: fires OnPlanned at the times it orders with NextTime, for timetables "
          "and timed actions",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
