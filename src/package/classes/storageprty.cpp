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
  static const TClassInfo Info = [] {
    TClassInfo C;
    C.Name = "TStoragePrty";
    C.Create = &Create<TStoragePrty>;
    C.Is = &Is<TStoragePrty>;
    C.Base = &ProQueueClass();
    C.Report = TReportKind::Storage;
    C.Statistics = Join<TStatisticInfo>({ProQueueStatistics(), PriorityStatistics()});
    C.Properties = {Tag(),
                    Property<TQueuePrtyCustom, int32_t>("Capacity", 0, &TQueuePrtyCustom::Capacity,
                                                        &TQueuePrtyCustom::SetCapacity)};
    C.Events =
        Join<TEventInfo>({EnterExit<TQueuePrtyCustom>(),
                          {Event("OnPreempt", &TQueuePrtyCustom::OnPreempt, true), OnRouting()}});
    C.Summary = "the storage with holding transactions kept by priority and push-out of the oldest "
                "lowest one";
    C.Image = Image;
    return C;
  }();
  return Info;
}

} // namespace quorin::classes
