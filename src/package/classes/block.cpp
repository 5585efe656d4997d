// The description of TBlock.
#include "describe.h"

namespace quorin::classes {

const TClassInfo& BlockClass() {
  static const TClassInfo Info{
      .Name = "TBlock",
      .Order = 20,
      .Is = &Is<TBlock>,
      .Base = &ComponentClass(),
      .Report = TReportKind::Other,
      .Properties = {Tag()},
      .Events = {OnRouting()},
      .Summary = "the base of every block: holds transactions and routes them on with PassTo",
  };
  return Info;
}

} // namespace quorin::classes
