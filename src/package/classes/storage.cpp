// The description of TStorage.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: a store of three units.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777000000000000000000777",
    "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFCCCFFFFFFF0777", "7770FFFFFFCCCFFFFFFF0777",
    "7770FFFFFFCCCFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777", "777000000000000000000777",
    "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFCCCFFFFFFF0777",
    "7770FFFFFFCCCFFFFFFF0777", "7770FFFFFFCCCFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777",
    "777000000000000000000777", "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777",
    "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777",
    "777000000000000000000777", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& StorageClass() {
  static const TClassInfo Info{
      .Name = "TStorage",
      .Order = 160,
      .Create = &Create<TStorage>,
      .Is = &Is<TStorage>,
      .Base = &ProQueueClass(),
      .Report = TReportKind::Storage,
      .Statistics = Join<TStatisticInfo>(
          {ProQueueStatistics(),
           {Statistic(TReportColumn::Utilisation, &TStorageCustom<TQueueCustom>::Utilisation)}}),
      .Properties = {Tag(), Property<TQueueCustom, int32_t>("Capacity", 0, &TQueueCustom::Capacity,
                                                            &TQueueCustom::SetCapacity)},
      .Events = Join<TEventInfo>({EnterExit<TQueueCustom>(), {OnRouting()}}),
      .Traits = TClassTraits{.HoldsForTime = true, .Schedule = TScheduleUse::Capacity, .FollowSchedule = &FollowCapacity<TQueueCustom>},
      .Summary =
          "up to Capacity transactions at once, each for its own holding time; finished ones "
          "leave in order of finishing",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
