// The description of TGate.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: two posts and a barrier across the way.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777777777777", "777000777777777777000777", "777000777777777777000777",
    "777000777777777777000777", "777000777777777777000777", "777000777777777777000777",
    "777000777777777777000777", "777000999FFF999FFF000777", "777000999FFF999FFF000777",
    "777000999FFF999FFF000777", "777000777777777777000777", "777000777777787777000777",
    "777000777777778777000777", "777000777777777877000777", "777000778888888887000777",
    "777000777777777877000777", "777000777777778777000777", "777000777777787777000777",
    "777000777777777777000777", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& GateClass() {
  static const TClassInfo Info{
      .Name = "TGate",
      .Order = 230,
      .Create = &Create<TGate>,
      .Is = &Is<TGate>,
      .Base = &BlockClass(),
      .Report = TReportKind::Gate,
      .Properties = {Tag()},
      .Events = Join<TEventInfo>({EnterExit<TGate>(), {OnRouting()}}),
      .Traits = TClassTraits{.Schedule = TScheduleUse::Opening, .FollowSchedule = &FollowOpening},
      .Summary = "a one-place passage that can be locked and unlocked",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
