// The description of TQueuePrty.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: a line ordered by priority, the most urgent in front.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777777777777777797777",
    "777777777777777777999777", "777777777777777777999777", "777777777777777777999777",
    "777777777777777777797777", "700000000000000000000007", "777777777777777777777707",
    "777777777777777777777707", "777777777777777777777707", "777CCC77CCC77DDD77999707",
    "777CCC77CCC77DDD77999707", "777CCC77CCC77DDD77999707", "777777777777777777777707",
    "777777777777777777777707", "777777777777777777777707", "700000000000000000000007",
    "777777770777777777777777", "777777777077777777777777", "777000000007777777777777",
    "777777777077777777777777", "777777770777777777777777", "777777707777777777777777",
};

} // namespace

const TClassInfo& QueuePrtyClass() {
  static const TClassInfo Info{
      .Name = "TQueuePrty",
      .Order = 140,
      .Create = &Create<TQueuePrty>,
      .Is = &Is<TQueuePrty>,
      .Base = &ProQueueClass(),
      .Report = TReportKind::Queue,
      .Statistics = Join<TStatisticInfo>(
          {ProQueueStatistics(),
           {Statistic(TReportColumn::TimeLimitExits, &TQueuePrty::TimeLimitExits)},
           PriorityStatistics()}),
      .Properties = PriorityProperties(),
      .Events =
          Join<TEventInfo>({EnterExit<TQueuePrtyCustom>(),
                            {Event("OnPreempt", &TQueuePrtyCustom::OnPreempt, true),
                             Event("OnTimeFinish", &TQueuePrty::OnTimeFinish, true), OnRouting()}}),
      .Traits = TClassTraits{.LimitsWait = true, .ByPriority = true},
      .Summary = "waiting line by priority (highest first, oldest first within), push-out of the "
                 "oldest lowest on overflow, Preemptive admission of marked higher-priority "
                 "transactions, time limits",
      .Image = Image,
  };
  return Info;
}

std::vector<TPropertyInfo> PriorityProperties() {
  return {Tag(),
          Property<TQueuePrtyCustom, int32_t>("Capacity", 0, &TQueuePrtyCustom::Capacity,
                                              &TQueuePrtyCustom::SetCapacity),
          Property<TQueuePrtyCustom, bool>("Preemptive", 0, &TQueuePrtyCustom::Preemptive,
                                           &TQueuePrtyCustom::SetPreemptive)};
}

std::vector<TStatisticInfo> PriorityStatistics() {
  return {Statistic(TReportColumn::MinPrty, &TQueuePrtyCustom::MinPrty),
          Statistic(TReportColumn::MaxPrty, &TQueuePrtyCustom::MaxPrty)};
}

} // namespace quorin::classes
