#include <cxxabi.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <memory>
#include <type_traits>
#include <typeinfo>

#include "quorin/statsim.h"
#include "tables.h"

namespace quorin::modelfile {

namespace {

template <class C> bool Is(const TComponent* X) {
  return dynamic_cast<const C*>(X) != nullptr;
}

template <class V> std::string FormatValue(V Value) {
  if constexpr (std::is_same_v<V, bool>) {
    return Value ? "true" : "false";
  } else {
    // Shortest text that reads back to the same value.
    char Buffer[64];
    const auto Result = std::to_chars(Buffer, Buffer + sizeof Buffer, Value);
    return std::string(Buffer, Result.ptr);
  }
}

template <class C, class V>
TPropertyInfo Property(const char* Name, double Default, V (C::*Getter)() const,
                       void (C::*Setter)(V)) {
  TPropertyInfo P;
  P.Name = Name;
  if constexpr (std::is_same_v<V, bool>) {
    P.Kind = TPropertyKind::Boolean;
    P.Min = 0;
    P.Max = 1;
  } else if constexpr (std::is_integral_v<V>) {
    // Whole numbers beyond 2^53 have no exact double; no setter takes them.
    constexpr double Exact = 9007199254740992.0;
    P.Kind = TPropertyKind::Integer;
    P.Min = std::max(static_cast<double>(std::numeric_limits<V>::min()), -Exact);
    P.Max = std::min(static_cast<double>(std::numeric_limits<V>::max()), Exact);
  } else {
    P.Kind = TPropertyKind::Real;
    P.Min = static_cast<double>(std::numeric_limits<V>::lowest());
    P.Max = static_cast<double>(std::numeric_limits<V>::max());
  }
  P.Default = Default;
  P.Applies = &Is<C>;
  P.Set = [Getter, Setter](TComponent* X, double Value) {
    auto* Object = dynamic_cast<C*>(X);
    const V Typed = static_cast<V>(Value);
    (Object->*Setter)(Typed);
    return (Object->*Getter)() == Typed;
  };
  P.Format = [Getter](const TComponent* X) {
    return FormatValue((dynamic_cast<const C*>(X)->*Getter)());
  };
  P.Get = [Getter](const TComponent* X) {
    return static_cast<double>((dynamic_cast<const C*>(X)->*Getter)());
  };
  return P;
}

TPropertyInfo Ranged(TPropertyInfo P, double Min, double Max) {
  P.Min = Min;
  P.Max = Max;
  return P;
}

template <class E> constexpr TShape ShapeOf() {
  if constexpr (std::is_same_v<E, std::function<void(TBlock*, TTransaction*)>>)
    return TShape::Block;
  else if constexpr (std::is_same_v<E, std::function<void(TAggregate*)>>)
    return TShape::Aggregate;
  else if constexpr (std::is_same_v<E, std::function<void()>>)
    return TShape::Model;
  else if constexpr (std::is_same_v<E, TNewTimeEvent>)
    return TShape::NewTime;
  else {
    static_assert(std::is_same_v<E, TAfterPassEvent>, "an event type of the library");
    return TShape::AfterPass;
  }
}

// The event handler of type E that runs Action with the event's arguments.
template <class E> E Adapt(TAction Action) {
  constexpr TShape Shape = ShapeOf<E>();
  if constexpr (Shape == TShape::Block)
    return [Action](TBlock* Sender, TTransaction* Trans) { Action({Sender, nullptr, Trans}); };
  else if constexpr (Shape == TShape::Aggregate)
    return [Action](TAggregate* Sender) { Action({Sender, nullptr, nullptr}); };
  else if constexpr (Shape == TShape::Model)
    return [Action]() { Action({nullptr, nullptr, nullptr}); };
  else if constexpr (Shape == TShape::NewTime)
    return [Action](TAggregate* Sender, TTransaction* Trans) { Action({Sender, nullptr, Trans}); };
  else
    return [Action](TBlock* Sender, TBlock* Receiver, TTransaction* Trans) {
      Action({Sender, Receiver, Trans});
    };
}

template <class C, class E> TEventInfo Event(const char* Name, bool Routing, E C::*Member) {
  return {Name, ShapeOf<E>(), Routing, &Is<C>, [Member](TComponent* X, TAction Action) {
            dynamic_cast<C*>(X)->*Member = Adapt<E>(std::move(Action));
          }};
}

const std::vector<TPropertyInfo>& Properties() {
  static const std::vector<TPropertyInfo> All = {
      Property<TComponent, int32_t>("Tag", 0, &TComponent::Tag, &TComponent::SetTag),
      Property<TModel, int32_t>("PageSize", 1024, &TModel::PageSize, &TModel::SetPageSize),
      Property<TModel, int32_t>("HeapSize", 4, &TModel::HeapSize, &TModel::SetHeapSize),
      Property<TModel, bool>("CheckModel", 0, &TModel::CheckModel, &TModel::SetCheckModel),
      Ranged(Property<TModel, int64_t>("MoveLimit", TModel::DefaultMoveLimit, &TModel::MoveLimit,
                                       &TModel::SetMoveLimit),
             0, 9007199254740992.0),
      // The streams' ranges are checked here, so that a file gets the
      // loader's message for a value out of range, as for every property.
      Ranged(Property<TMultiRand, int64_t>("Seed", TMultiRand::DefaultSeed, &TMultiRand::GetSeed,
                                           &TMultiRand::SetSeed),
             1, TMultiRand::Modulus - 1),
      Ranged(Property<TMultiRand, int64_t>("Multiplier", TMultiRand::DefaultMultiplier,
                                           &TMultiRand::GetMultiplier, &TMultiRand::SetMultiplier),
             2, TMultiRand::Modulus - 1),
      Property<TTabulator, float>("LowerBound", 0, &TTabulator::LowerBound,
                                  &TTabulator::SetLowerBound),
      Property<TTabulator, float>("Interval", 0, &TTabulator::Interval, &TTabulator::SetInterval),
      Property<TTabulator, uint8_t>("IntervalCount", 1, &TTabulator::IntervalCount,
                                    &TTabulator::SetIntervalCount),
      Property<TQueueCustom, int32_t>("Capacity", 0, &TQueueCustom::Capacity,
                                      &TQueueCustom::SetCapacity),
      Property<TQueuePrtyCustom, int32_t>("Capacity", 0, &TQueuePrtyCustom::Capacity,
                                          &TQueuePrtyCustom::SetCapacity),
      // The library stores any capacity of a divider or assembler (1 or less
      // all mean one at a time); a file gives a number of transactions.
      Ranged(Property<TSplitJoin, int32_t>("Capacity", 1, &TSplitJoin::Capacity,
                                           &TSplitJoin::SetCapacity),
             0, std::numeric_limits<int32_t>::max()),
      Property<TServer, bool>("Preemptive", 0, &TServer::Preemptive, &TServer::SetPreemptive),
  };
  return All;
}

const std::vector<TEventInfo>& Events() {
  static const std::vector<TEventInfo> All = {
      Event("OnBeforeTimeGoOn", false, &TModel::OnBeforeTimeGoOn),
      Event("OnNewTime", false, &TModel::OnNewTime),
      Event("OnAfterPass", false, &TModel::OnAfterPass),
      Event("OnDeadlock", false, &TModel::OnDeadlock),
      Event("OnBeforeTimeGoOn", false, &TScheduler::OnBeforeTimeGoOn),
      Event("OnPlanned", false, &TScheduler::OnPlanned),
      Event("OnBeforeTimeGoOn", false, &TGenerator::OnBeforeTimeGoOn),
      Event("OnAfterGeneration", false, &TGenerator::OnAfterGeneration),
      Event("OnExit", false, &TGenerator::OnExit),
      Event("OnEnter", false, &TTerminator::OnEnter),
      Event("OnEnter", false, &TGate::OnEnter),
      Event("OnExit", false, &TGate::OnExit),
      Event("OnEnter", false, &TQueueCustom::OnEnter),
      Event("OnExit", false, &TQueueCustom::OnExit),
      Event("OnTimeFinish", true, &TQueue::OnTimeFinish),
      Event("OnEnter", false, &TServer::OnEnter),
      Event("OnExit", false, &TServer::OnExit),
      Event("OnPreempt", true, &TServer::OnPreempt),
      Event("OnRelease", true, &TServer::OnRelease),
      Event("OnEnter", false, &TQueuePrtyCustom::OnEnter),
      Event("OnExit", false, &TQueuePrtyCustom::OnExit),
      Event("OnPreempt", true, &TQueuePrtyCustom::OnPreempt),
      Event("OnTimeFinish", true, &TQueuePrty::OnTimeFinish),
      Event("OnEnter", false, &TSplitJoin::OnEnter),
      Event("OnExit", false, &TSplitJoin::OnExit),
      Event("OnAfterGeneration", false, &TCreator::OnAfterGeneration),
      Event("OnExit", false, &TCreator::OnExit),
      Event("OnRouting", true, &TBlock::OnRouting),
  };
  return All;
}

} // namespace

std::string ClassNameOf(const TComponent* X) {
  const char* Mangled = typeid(*X).name();
  int Status = 0;
  std::unique_ptr<char, void (*)(void*)> Plain(
      abi::__cxa_demangle(Mangled, nullptr, nullptr, &Status), std::free);
  std::string Name = Status == 0 && Plain ? Plain.get() : Mangled;
  const std::string Prefix = "quorin::";
  if (Name.rfind(Prefix, 0) == 0) Name.erase(0, Prefix.size());
  return Name;
}

std::vector<const TPropertyInfo*> PropertiesOf(const TComponent* Component) {
  std::vector<const TPropertyInfo*> Found;
  for (const TPropertyInfo& P : Properties())
    if (P.Applies(Component)) Found.push_back(&P);
  return Found;
}

const TEventInfo* FindEvent(const TComponent* Component, const std::string& Name) {
  for (const TEventInfo& E : Events())
    if (Name == E.Name && E.Applies(Component)) return &E;
  return nullptr;
}

std::string EventNamesOf(const TComponent* Component) {
  std::string Names;
  for (const TEventInfo& E : Events())
    if (E.Applies(Component)) {
      if (!Names.empty()) Names += ", ";
      Names += E.Name;
    }
  return Names.empty() ? "none" : Names;
}

} // namespace quorin::modelfile
