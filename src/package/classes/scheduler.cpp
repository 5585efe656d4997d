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
  static const TClassInfo Info = [] {
    TClassInfo C;
    C.Name = "TScheduler";
    C.Create = &Create<TScheduler>;
    C.Is = &Is<TScheduler>;
    C.Base = &ComponentClass();
    C.Report = TReportKind::None;
    C.Properties = {Tag()};
    C.Events = {Event("OnBeforeTimeGoOn", &TScheduler::OnBeforeTimeGoOn),
                Event("OnPlanned", &TScheduler::OnPlanned)};
    C.Summary = "not a block: fires OnPlanned at the times it orders with NextTime, for timetables "
                "and timed actions";
    C.Image = Image;
    return C;
  }();
  return Info;
}

} // namespace quorin::classes
