// The description of TComponent.
#include "describe.h"

namespace quorin::classes {

const TClassInfo& ComponentClass() {
  static const TClassInfo Info = [] {
    TClassInfo C;
    C.Name = "TComponent";
    C.Is = &Is<TComponent>;
    C.Report = TReportKind::None;
    C.Properties = {Tag()};
    C.Summary = "a form or the application: owns the components made on it";
    return C;
  }();
  return Info;
}

} // namespace quorin::classes
