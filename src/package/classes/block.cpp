// The description of TBlock.
#include "describe.h"

namespace quorin::classes {

const TClassInfo& BlockClass() {
  static const TClassInfo Info = [] {
    TClassInfo C;
    C.Name = "TBlock";
    C.Is = &Is<TBlock>;
    C.Base = &ComponentClass();
    C.Report = TReportKind::Other;
    C.Properties = {Tag()};
    C.Events = {OnRouting()};
    C.Summary = "the base of every block: holds transactions and routes them on with PassTo";
    return C;
  }();
  return Info;
}

} // namespace quorin::classes
