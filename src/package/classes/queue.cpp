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
  static const TClassInfo Info = [] {
    TClassInfo C;
    C.Name = "TQueue";
    C.Create = &Create<TQueue>;
    C.Is = &Is<TQueue>;
    C.Base = &ProQueueClass();
    C.Report = TReportKind::Queue;
    C.Statistics =
        Join<TStatisticInfo>({ProQueueStatistics(),
                              {Statistic(TReportColumn::TimeLimitExits, &TQueue::TimeLimitExits)}});
    C.Properties = {Tag(), Property<TQueueCustom, int32_t>("Capacity", 0, &TQueueCustom::Capacity,
                                                           &TQueueCustom::SetCapacity)};
    C.Events =
        Join<TEventInfo>({EnterExit<TQueueCustom>(),
                          {Event("OnTimeFinish", &TQueue::OnTimeFinish, true), OnRouting()}});
    C.Summary =
        "waiting line, first in first out, optional Capacity and time limits (OnTimeFinish)";
    C.Image = Image;
    return C;
  }();
  return Info;
}

} // namespace quorin::classes
