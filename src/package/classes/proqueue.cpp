// The description of TProQueue.
#include "describe.h"

namespace quorin::classes {

const TClassInfo& ProQueueClass() {
  static const TClassInfo Info{
      .Name = "TProQueue",
      .Order = 30,
      .Is = &Is<TProQueue>,
      .Base = &BlockClass(),
      .Report = TReportKind::Other,
      .Statistics = ProQueueStatistics(),
      .Properties = {Tag()},
      .Events = {OnRouting()},
      .Summary =
          "the base of the blocks that keep time-weighted statistics (queues, servers, storages)",
  };
  return Info;
}

std::vector<TStatisticInfo> ProQueueStatistics() {
  return {Statistic(TReportColumn::MeanContent, &TProQueue::AverageCount),
          Statistic(TReportColumn::MaxContent, &TProQueue::MaxCount),
          Statistic(TReportColumn::Usage, &TProQueue::Usage),
          Statistic(TReportColumn::MeanTime, &TProQueue::AverageTime),
          Statistic(TReportColumn::SMeanTime, &TProQueue::SAverageTime),
          Statistic(TReportColumn::ZeroEntries, &TProQueue::ZeroEntries),
          Statistic(TReportColumn::PreemptExits, &TProQueue::PreemptExits)};
}

} // namespace quorin::classes
