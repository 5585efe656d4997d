// The description of TAssembler.
#include "describe.h"

#include <limits>

namespace quorin::classes {

namespace {

// The palette image: three paths join into one.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "7CCC77777777777777777777",
    "7CCC77777777777777777777", "7CCC77777777777777777777", "777700777777777777777777",
    "777777077777777777777777", "777777707777777777777777", "777777770777777777777777",
    "777777777077777777707777", "777777777700777744440777", "7CCC77777777077744447077",
    "7CCC00000000000044440007", "7CCC77777777077744447077", "777777777700777744440777",
    "777777777077777777707777", "777777770777777777777777", "777777707777777777777777",
    "777777077777777777777777", "777700777777777777777777", "7CCC77777777777777777777",
    "7CCC77777777777777777777", "7CCC77777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& AssemblerClass() {
  static const TClassInfo Info{
      .Name = "TAssembler",
      .Order = 210,
      .Create = &Create<TAssembler>,
      .Is = &Is<TAssembler>,
      .Base = &BlockClass(),
      .Report = TReportKind::Batch,
      .Statistics = {Statistic(TReportColumn::MeanTime, &TAssembler::AverageTime),
                     Statistic(TReportColumn::MaxTime, &TAssembler::MaxTime)},
      .Properties = {Tag(),
                     Ranged(Property<TSplitJoin, int32_t>("Capacity", 1, &TSplitJoin::Capacity,
                                                          &TSplitJoin::SetCapacity),
                            0, std::numeric_limits<int32_t>::max()),
                     Property<TAssembler, bool>("Match", 0, &TAssembler::Match,
                                                &TAssembler::SetMatch)},
      .Events = Join<TEventInfo>({EnterExit<TSplitJoin>(), {OnRouting()}}),
      .Traits = TClassTraits{.CapacityNote = "joins"},
      .Summary = "joins Capacity entering transactions into one (the last to arrive); with Match, "
                 "only the parts of one original a divider split",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
