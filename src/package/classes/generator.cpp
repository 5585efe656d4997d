// The description of TGenerator.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: a source and the arrow that leaves it.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777777777777", "777770000077777777777777", "77770AAAAA07777777777777",
    "7770AAAAAAA0777777077777", "770AAAAAAAAA077777707777", "770AAA222AAA077777770777",
    "770AAA222AAA000000000077", "770AAA222AAA077777770777", "770AAAAAAAAA077777707777",
    "7770AAAAAAA0777777077777", "77770AAAAA07777777777777", "777770000077777777777777",
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& GeneratorClass() {
  static const TClassInfo Info{
      .Name = "TGenerator",
      .Order = 120,
      .Create = &Create<TGenerator>,
      .Is = &Is<TGenerator>,
      .Base = &BlockClass(),
      .Report = TReportKind::Generator,
      .Statistics = {Statistic(TReportColumn::MeanInterval, &TGenerator::AverageTime)},
      .Properties = {Tag()},
      .Events = {Event("OnBeforeTimeGoOn", &TGenerator::OnBeforeTimeGoOn),
                 Event("OnAfterGeneration", &TGenerator::OnAfterGeneration),
                 Event("OnExit", &TGenerator::OnExit), OnRouting()},
      .Traits = TClassTraits{.PlansArrivals = true},
      .Summary = "makes one transaction per activation it orders with NextTime, and offers it",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
