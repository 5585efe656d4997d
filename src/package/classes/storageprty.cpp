// The description of TStoragePrty.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: a store whose units go by priority.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777000000000000000000777",
    "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFF999FFFFFFF0777", "7770FFFFFF999FFFFFFF0777",
    "7770FFFFFF999FFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777", "777000000000000000000777",
    "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFCCCFFFFFFF0777",
    "7770FFFFFFCCCFFFFFFF0777", "7770FFFFFFCCCFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777",
    "777000000000000000000777", "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFCCCFFFFFFF0777",
    "7770FFFFFFCCCFFFFFFF0777", "7770FFFFFFCCCFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777",
    "777000000000000000000777", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& StoragePrtyClass() {
  static const TClassInfo Info{
      .Name = "TStoragePrty",
      .Order = 170,
      .Create = &Create<TStoragePrty>,
      .Is = &Is<TStoragePrty>,
      .Base = &ProQueueClass(),
      .Report = TReportKind::Storage,
      .Statistics = Join<TStatisticInfo>(
          {ProQueueStatistics(), PriorityStatistics(),
           {Statistic(TReportColumn::Utilisation, &TStorageCustom<TQueuePrtyCustom>::Utilisation)}}),
      .Properties = PriorityProperties(),
      .Events =
          Join<TEventInfo>({EnterExit<TQueuePrtyCustom>(),
                            {Event("OnPreempt", &TQueuePrtyCustom::OnPreempt, true), OnRouting()}}),
      .Traits = TClassTraits{.HoldsForTime = true, .ByPriority = true},
      .Summary =
          "the storage with holding transactions kept by priority and push-out of the oldest "
          "lowest one, which keeps the holding time it had left (Remaining)",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
