// The description of TCreator.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: a batch of transactions made at once.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777B77777777777777777",
    "777B77B77B77777777777777", "7777B7B7B777777777777777", "77777BBB7777777777777777",
    "77BBBB9BBBB7777777777777", "77777BBB7777777777777777", "7777B7B7B777777777777777",
    "777B77B77B77777777777777", "777777B77700000000000077", "777777777707777777777077",
    "777777777707CCC77CCC7077", "777777777707CCC77CCC7077", "777777777707CCC77CCC7077",
    "777777777707777777777077", "777777777707777777777077", "777777777707CCC77CCC7077",
    "777777777707CCC77CCC7077", "777777777707CCC77CCC7077", "777777777707777777777077",
    "777777777700000000000077", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& CreatorClass() {
  static const TClassInfo Info{
      .Name = "TCreator",
      .Order = 220,
      .Create = &Create<TCreator>,
      .Is = &Is<TCreator>,
      .Base = &BlockClass(),
      .Report = TReportKind::Batch,
      .Properties = {Tag()},
      .Events = {Event("OnAfterGeneration", &TCreator::OnAfterGeneration),
                 Event("OnExit", &TCreator::OnExit), OnRouting()},
      .Summary = "makes a batch on demand: Generate(N) from any handler, the batch leaves at once "
                 "in order; takes nothing in",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
