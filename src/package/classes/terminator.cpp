// The description of TTerminator.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: the way ends at a bar.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777770000777", "777777777777777770990777", "777777777777777770990777",
    "777777777777777770990777", "777777777777777770990777", "777777777777777770990777",
    "777777777777077770990777", "777777777777707770990777", "777777777777770770990777",
    "700000000000000070990777", "777777777777770770990777", "777777777777707770990777",
    "777777777777077770990777", "777777777777777770990777", "777777777777777770990777",
    "777777777777777770990777", "777777777777777770990777", "777777777777777770000777",
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& TerminatorClass() {
  static const TClassInfo Info = [] {
    TClassInfo C;
    C.Name = "TTerminator";
    C.Create = &Create<TTerminator>;
    C.Is = &Is<TTerminator>;
    C.Base = &BlockClass();
    C.Report = TReportKind::Terminator;
    C.Properties = {Tag()};
    C.Events = {Event("OnEnter", &TTerminator::OnEnter), OnRouting()};
    C.Summary = "destroys whatever enters and counts it";
    C.Image = Image;
    return C;
  }();
  return Info;
}

} // namespace quorin::classes
