// The description of TModel.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: the clock of the model.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777770000400077777777",
    "77777700FFFFFFFF00777777", "777770FFFFFF0FFFFF077777", "77770FFFFFFF0FFFFFF07777",
    "7770FFFFFFFF0FFFFFFF0777", "7770FFFFFFFF0FFFFFFF0777", "770FFFFFFFFF0FFFFFFFF077",
    "770FFFFFFFFF0FFFFFFFF077", "770FFFFFFFFF0FFFFFFFF077", "770FFFFFFFFF0FFFFFFFF077",
    "774FFFFFFFFF9FFFFFFFF477", "770FFFFFFFFFF99FFFFFF077", "770FFFFFFFFFFFF99FFFF077",
    "770FFFFFFFFFFFFFF9FFF077", "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777",
    "77770FFFFFFFFFFFFFF07777", "777770FFFFFFFFFFFF077777", "77777700FFFFFFFF00777777",
    "777777770000400077777777", "777777777777777777777777", "777777777777777777777777",
};

// A choice of the engine stored as a Boolean: true for the scalable choice.
template <class E>
TPropertyInfo EngineChoice(const char* Name, E Scalable, E (TModel::*Getter)() const,
                           void (TModel::*Setter)(E)) {
  TPropertyInfo P;
  P.Name = Name;
  P.Type = TPropertyType::Boolean;
  P.Min = 0;
  P.Max = 1;
  P.Default = 0; // the C++ default: the documented engine
  P.Get = [=](const TComponent& X) {
    return (dynamic_cast<const TModel&>(X).*Getter)() == Scalable ? 1.0 : 0.0;
  };
  P.Set = [=](TComponent& X, double Value) {
    auto& M = dynamic_cast<TModel&>(X);
    const E Wanted = Value != 0 ? Scalable : E{};
    (M.*Setter)(Wanted);
    return (M.*Getter)() == Wanted;
  };
  P.Format = [=](const TComponent& X) {
    return std::string((dynamic_cast<const TModel&>(X).*Getter)() == Scalable ? "true" : "false");
  };
  return P;
}

} // namespace

const TClassInfo& ModelClass() {
  static const TClassInfo Info{
      .Name = "TModel",
      .Order = 100,
      .Create = &Create<TModel>,
      .Is = &Is<TModel>,
      .Base = &ComponentClass(),
      .Report = TReportKind::None,
      .Properties =
          {Tag(),
           Property<TModel, int32_t>("PageSize", 1024, &TModel::PageSize, &TModel::SetPageSize),
           // Before HeapSize: a saved file sets the opt-in before the size it allows.
           Property<TModel, bool>("LargeHeap", 0, &TModel::LargeHeap, &TModel::SetLargeHeap),
           Property<TModel, int32_t>("HeapSize", 4, &TModel::HeapSize, &TModel::SetHeapSize),
           Property<TModel, bool>("CheckModel", 0, &TModel::CheckModel, &TModel::SetCheckModel),
           // The engine: a model file loads with both true (see the loader).
           EngineChoice("HeapEventList", TEventList::Heap, &TModel::EventList,
                        &TModel::SetEventList),
           EngineChoice("RetryOnChange", TRetry::OnChange, &TModel::Retry, &TModel::SetRetry),
           Ranged(Property<TModel, int64_t>("MoveLimit", TModel::DefaultMoveLimit,
                                            &TModel::MoveLimit, &TModel::SetMoveLimit),
                  0, 9007199254740992.0)},
      .Events = {Event("OnBeforeTimeGoOn", &TModel::OnBeforeTimeGoOn),
                 Event("OnNewTime", &TModel::OnNewTime), Event("OnAfterPass", &TModel::OnAfterPass),
                 Event("OnDeadlock", &TModel::OnDeadlock)},
      .Summary = "the run: the clock, the event lists and the pools; runs the blocks of every form "
                 "with Simulate",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
