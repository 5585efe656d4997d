// The pieces the descriptions of the library's classes are made of: a
// property from its getter and setter, an event from its member, a
// statistic from its getter, and the parts that whole families share.
#pragma once

#include <algorithm>
#include <charconv>
#include <limits>
#include <type_traits>

#include "quorin/blocks.h"
#include "quorin/classinfo.h"

namespace quorin::classes {

template <class C> bool Is(const TComponent& X) {
  if constexpr (std::is_same_v<C, TComponent>)
    return true;
  else
    return dynamic_cast<const C*>(&X) != nullptr;
}

template <class C> TComponent* Create(TComponent* AOwner) {
  return new C(AOwner);
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
    P.Type = TPropertyType::Boolean;
    P.Min = 0;
    P.Max = 1;
  } else if constexpr (std::is_integral_v<V>) {
    // Whole numbers beyond 2^53 have no exact double; no setter takes them.
    constexpr double Exact = 9007199254740992.0;
    P.Type = TPropertyType::Integer;
    P.Min = std::max(static_cast<double>(std::numeric_limits<V>::min()), -Exact);
    P.Max = std::min(static_cast<double>(std::numeric_limits<V>::max()), Exact);
  } else {
    P.Type = TPropertyType::Real;
    P.Min = static_cast<double>(std::numeric_limits<V>::lowest());
    P.Max = static_cast<double>(std::numeric_limits<V>::max());
  }
  P.Default = Default;
  P.Get = [Getter](const TComponent& X) {
    return static_cast<double>((dynamic_cast<const C&>(X).*Getter)());
  };
  P.Set = [Getter, Setter](TComponent& X, double Value) {
    auto& Object = dynamic_cast<C&>(X);
    const V Typed = static_cast<V>(Value);
    (Object.*Setter)(Typed);
    return (Object.*Getter)() == Typed;
  };
  P.Format = [Getter](const TComponent& X) {
    return FormatValue((dynamic_cast<const C&>(X).*Getter)());
  };
  return P;
}

// P with a narrower range than its type's: a model file refuses a value
// outside it with the loader's own message, before the setter sees it.
inline TPropertyInfo Ranged(TPropertyInfo P, double Min, double Max) {
  P.Min = Min;
  P.Max = Max;
  return P;
}

inline TPropertyInfo Tag() {
  return Property<TComponent, int32_t>("Tag", 0, &TComponent::Tag, &TComponent::SetTag);
}

template <class E> constexpr TEventShape ShapeOf() {
  if constexpr (std::is_same_v<E, std::function<void(TBlock*, TTransaction*)>>)
    return TEventShape::Block;
  else if constexpr (std::is_same_v<E, std::function<void(TAggregate*)>>)
    return TEventShape::Aggregate;
  else if constexpr (std::is_same_v<E, std::function<void()>>)
    return TEventShape::Model;
  else if constexpr (std::is_same_v<E, TNewTimeEvent>)
    return TEventShape::NewTime;
  else {
    static_assert(std::is_same_v<E, TAfterPassEvent>, "an event type of the library");
    return TEventShape::AfterPass;
  }
}

// The event handler of type E that runs Action with the event's arguments.
template <class E> E Adapt(TEventAction Action) {
  constexpr TEventShape Shape = ShapeOf<E>();
  if (!Action) return nullptr;
  if constexpr (Shape == TEventShape::Block)
    return [Action](TBlock* Sender, TTransaction* Trans) { Action({Sender, nullptr, Trans}); };
  else if constexpr (Shape == TEventShape::Aggregate)
    return [Action](TAggregate* Sender) { Action({Sender, nullptr, nullptr}); };
  else if constexpr (Shape == TEventShape::Model)
    return [Action]() { Action({nullptr, nullptr, nullptr}); };
  else if constexpr (Shape == TEventShape::NewTime)
    return [Action](TAggregate* Sender, TTransaction* Trans) { Action({Sender, nullptr, Trans}); };
  else
    return [Action](TBlock* Sender, TBlock* Receiver, TTransaction* Trans) {
      Action({Sender, Receiver, Trans});
    };
}

// Routing tells whether the block is routing while the event runs, so that
// a handler of it may move the transaction.
template <class C, class E> TEventInfo Event(const char* Name, E C::*Member, bool Routing = false) {
  TEventInfo Info;
  Info.Name = Name;
  Info.Shape = ShapeOf<E>();
  Info.Routing = Routing;
  Info.Assign = [Member](TComponent& X, TEventAction Action) {
    dynamic_cast<C&>(X).*Member = Adapt<E>(std::move(Action));
  };
  Info.Assigned = [Member](const TComponent& X) {
    return static_cast<bool>(dynamic_cast<const C&>(X).*Member);
  };
  return Info;
}

inline TEventInfo OnRouting() {
  return Event("OnRouting", &TBlock::OnRouting, true);
}

// OnEnter and OnExit of a block class that has both.
template <class C> std::vector<TEventInfo> EnterExit() {
  return {Event("OnEnter", &C::OnEnter), Event("OnExit", &C::OnExit)};
}

template <class C, class V> TStatisticInfo Statistic(TReportColumn Column, V (C::*Getter)() const) {
  return {Column, [Getter](const TComponent& X) {
            return static_cast<long double>((dynamic_cast<const C&>(X).*Getter)());
          }};
}

// Some statistics getters of the library are not const, though they only
// read the block.
template <class C, class V> TStatisticInfo Statistic(TReportColumn Column, V (C::*Getter)()) {
  return {Column, [Getter](const TComponent& X) {
            return static_cast<long double>((const_cast<C&>(dynamic_cast<const C&>(X)).*Getter)());
          }};
}

// How the blocks of a class follow a schedule (TClassTraits::FollowSchedule).
// Closing refuses every entry; those inside stay and leave as usual.
template <class C> void FollowCapacity(TBlock& Block, double Value) {
  if (Value > 0) static_cast<C&>(Block).SetCapacity(static_cast<int32_t>(Value));
  Block.SetClosed(Value == 0);
}
inline void FollowDuty(TBlock& Block, double Value) {
  Block.SetClosed(Value == 0);
}
inline void FollowOpening(TBlock& Block, double Value) {
  if (Value > 0)
    static_cast<TGate&>(Block).Unlock();
  else
    static_cast<TGate&>(Block).Lock();
}

// What every queue, server and storage keeps (TProQueue).
std::vector<TStatisticInfo> ProQueueStatistics();
// The classes present in a priority queue or storage.
std::vector<TStatisticInfo> PriorityStatistics();
// The stored properties of a priority queue or storage.
std::vector<TPropertyInfo> PriorityProperties();

// Joins lists in order.
template <class T> std::vector<T> Join(std::initializer_list<std::vector<T>> Parts) {
  std::vector<T> All;
  for (const auto& P : Parts)
    All.insert(All.end(), P.begin(), P.end());
  return All;
}

// The library's classes in ascending Order.
const std::vector<const TClassInfo*>& LibraryClasses();

// The descriptions of the library, one function per class, each in the
// file of its class's name; the build lists them in library_classes.inc
// (see src/package/CMakeLists.txt).
#define QUORIN_CLASS(Describe) const TClassInfo& Describe();
#include "library_classes.inc"
#undef QUORIN_CLASS

} // namespace quorin::classes
