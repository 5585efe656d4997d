// The description of TComponent.
#include "describe.h"

namespace quorin::classes {

const TClassInfo& ComponentClass() {
  static const TClassInfo Info{
      .Name = "TComponent",
      .Order = 10,
      .Is = &Is<TComponent>,
      .Report = TReportKind::None,
      .Properties = {Tag()},
      .Summary = "a form or the application: owns the components made on it",
  };
  return Info;
}

} // namespace quorin::classes
