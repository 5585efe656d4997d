// The description of TDivider.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: one path splits into three.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "7777777777777777777CCC77",
    "7777777777777777777CCC77", "7777777777777777777CCC77", "777777777777777770077777",
    "777777777777777707777777", "777777777777777077777777", "777777777777770777777777",
    "777777777777707777077777", "777777777770077777707777", "777CCC7777077777777CCC77",
    "700CCC0000000000000CCC77", "777CCC7777077777777CCC77", "777777777770077777707777",
    "777777777777707777077777", "777777777777770777777777", "777777777777777077777777",
    "777777777777777707777777", "777777777777777770077777", "7777777777777777777CCC77",
    "7777777777777777777CCC77", "7777777777777777777CCC77", "777777777777777777777777",
};

} // namespace

const TClassInfo& DividerClass() {
  static const TClassInfo Info{
      .Name = "TDivider",
      .Order = 200,
      .Create = &Create<TDivider>,
      .Is = &Is<TDivider>,
      .Base = &BlockClass(),
      .Report = TReportKind::Batch,
      .Properties = {Tag(), Ranged(Property<TSplitJoin, int32_t>("Capacity", 1, &TSplitJoin::Capacity,
                                                          &TSplitJoin::SetCapacity),
                                    0, std::numeric_limits<int32_t>::max())},
      .Events = Join<TEventInfo>({EnterExit<TSplitJoin>(), {OnRouting()}}),
      .Traits = TClassTraits{.CapacityNote = "copies"},
      .Summary =
          "splits each entering transaction into Capacity (copies with its priority, mark and "
          "fields, and its number as their family)",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
