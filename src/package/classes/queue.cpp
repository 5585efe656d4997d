// The description of TQueue.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: a line of transactions, first in first out.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777777777777", "700000000000000000000007", "777777777777777777777707",
    "777777777777777777777707", "777777777777777777777707", "777CCC77CCC77CCC77CCC707",
    "777CCC77CCC77CCC77CCC707", "777CCC77CCC77CCC77CCC707", "777777777777777777777707",
    "777777777777777777777707", "777777777777777777777707", "700000000000000000000007",
    "777777770777777777777777", "777777777077777777777777", "777000000007777777777777",
    "777777777077777777777777", "777777770777777777777777", "777777707777777777777777",
};

} // namespace

const TClassInfo& QueueClass() {
  static const TClassInfo Info{
      .Name = "TQueue",
      .Order = 130,
      .Create = &Create<TQueue>,
      .Is = &Is<TQueue>,
      .Base = &ProQueueClass(),
      .Report = TReportKind::Queue,
      .Statistics = Join<TStatisticInfo>(
          {ProQueueStatistics(),
           {Statistic(TReportColumn::TimeLimitExits, &TQueue::TimeLimitExits)}}),
      .Properties = {Tag(), Property<TQueueCustom, int32_t>("Capacity", 0, &TQueueCustom::Capacity,
                                                            &TQueueCustom::SetCapacity)},
      .Events =
          Join<TEventInfo>({EnterExit<TQueueCustom>(),
                            {Event("OnTimeFinish", &TQueue::OnTimeFinish, true), OnRouting()}}),
      .Traits = TClassTraits{.LimitsWait = true, .Schedule = TScheduleUse::Capacity, .FollowSchedule = &FollowCapacity<TQueueCustom>},
      .Summary =
          "waiting line, first in first out, optional Capacity and time limits (OnTimeFinish)",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
