// One description per class that a model may hold: its name, how to make
// one, its report kind and statistics, its stored properties with typed
// getters and setters, its events and its palette image. The palette, the
// standard report, model files (loading and saving), the diagram and the
// front ends read these descriptions instead of keeping lists of their own.
//
// Enumerate with Classes(), find a class by name with FindClassInfo, and
// the description that applies to a component with ClassInfoOf:
//
//   for (const TClassInfo* C : Classes())
//     for (const TPropertyInfo& P : C->Properties)
//       std::cout << C->Name << '.' << P.Name << " = " << P.Default << '\n';
//
//   const TClassInfo& Info = *ClassInfoOf(*Clerk);             // TServer's
//   Info.FindProperty("Preemptive")->Set(*Clerk, 1);            // SetPreemptive(true)
//   Info.FindEvent("OnRouting")->Assign(*Clerk, [Exit](const TEventArgs& A) {
//     static_cast<TBlock*>(A.Sender)->PassTo(Exit);
//   });
//
// A new class of the library gets its description in a file of its own under
// src/package/classes/ (the others show the form), which the build finds
// and lists among the library's classes (docs/adding-a-block-class.md); a
// class of the application may describe itself with RegisterClassInfo.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quorin/framework.h"

namespace quorin {

class TAggregate;
class TBlock;
class TTransaction;

// A stored property: what a model file may set and a saved model writes.
// Values travel as double, which holds every value of the property types
// exactly (32-bit integers, seeds below 2^31, floats).
enum class TPropertyType : uint8_t { Integer, Boolean, Real };

struct TPropertyInfo {
  std::string Name;
  TPropertyType Type;
  double Min, Max; // the range of the setter's parameter type
  double Default;  // the value of a new component; left out when saved
  // The current value.
  std::function<double(const TComponent& X)> Get;
  // Hands Value, converted to the setter's type, to the setter (whose range
  // checks and messages apply); answers whether the component kept it.
  std::function<bool(TComponent& X, double Value)> Set;
  // The current value as a model file writes it: the shortest text that
  // reads back to the same value of the property's type, or true/false.
  std::function<std::string(const TComponent& X)> Format;
};

// The parameter lists of the events, by shape: a block event (sender and
// transaction: OnRouting, OnEnter, ...), an aggregate event (OnPlanned, a
// generator's OnBeforeTimeGoOn), a model event without parameters
// (OnBeforeTimeGoOn, OnDeadlock), OnNewTime (aggregate and transaction) and
// OnAfterPass (sender, receiver and transaction).
enum class TEventShape : uint8_t { Block, Aggregate, Model, NewTime, AfterPass };

// What a handler bound through a description gets: each of them nullptr
// where the event has none.
struct TEventArgs {
  TAggregate* Sender;
  TBlock* Receiver;
  TTransaction* Trans;
};
using TEventAction = std::function<void(const TEventArgs& Args)>;

struct TEventInfo {
  std::string Name;
  TEventShape Shape;
  bool Routing; // the block is routing while it runs: PassTo may move the transaction
  // Makes Action the event's handler; an empty Action clears the event.
  std::function<void(TComponent& X, TEventAction Action)> Assign;
  std::function<bool(const TComponent& X)> Assigned;
};

// The table of the standard report that a block belongs to.
enum class TReportKind : uint8_t {
  Generator,
  Queue, // queues, stacks and priority queues
  Server,
  Storage, // storages and priority storages
  Gate,
  Batch, // dividers, assemblers and creators
  Terminator,
  Other, // blocks of the application's own classes
  None,  // not a block: not in the report
};

// The statistics a class keeps beyond Count, Entries and Exits, which every
// block has. Each is one column of the standard report.
enum class TReportColumn : uint8_t {
  MeanContent,
  MaxContent,
  Usage,
  MeanTime,
  SMeanTime,
  ZeroEntries,
  PreemptExits,
  TimeLimitExits,
  MinPrty,
  MaxPrty,
  MeanInterval,
  MaxTime,
  Utilisation,
};

struct TStatisticInfo {
  TReportColumn Column;
  std::function<long double(const TComponent& X)> Get;
};

// How a block follows a schedule (a model file's Schedule = Name): what the
// schedule's value drives.
enum class TScheduleUse : uint8_t {
  None,     // it cannot follow one
  Capacity, // a whole number, its Capacity; 0 closes it
  Duty,     // 1 on duty, 0 off duty (closed)
  Opening,  // above 0 open, 0 locked
};

// What a class does that model files, the model check, the diagram and the
// schedules ask about, so that none of them names a class: a new class says
// here what it shares with the library's.
struct TClassTraits {
  // OnEnter orders how long the entering transaction stays (Hold, Resume):
  // a route through the block moves model time on.
  bool HoldsForTime = false;
  // OnEnter may limit the entering transaction's wait (TimeLimit), and
  // OnTimeFinish routes it when the limit runs out.
  bool LimitsWait = false;
  // Orders its own next activation (NextArrival, NextArrivalAtRate).
  bool PlansArrivals = false;
  // OnPreempt may keep the displaced transaction to resume it later (PostPone).
  bool KeepsDisplaced = false;
  // Keeps its transactions by priority.
  bool ByPriority = false;
  // What its Capacity counts, as the diagram notes it ("copies"); nullptr:
  // a limit on its content ("capacity"), 0 meaning none.
  const char* CapacityNote = nullptr;
  TScheduleUse Schedule = TScheduleUse::None;
  // Hands one value of the schedule, already checked to suit Schedule, to a
  // block of the class.
  void (*FollowSchedule)(TBlock& Block, double Value) = nullptr;
};

struct TClassInfo {
  std::string Name = {}; // as the palette and model files know it: "TQueue"
  // The place of a class of the library among the library's: they stand in
  // ascending Order, the palette's order (those that only describe what
  // descendants inherit first). The application's classes follow in
  // registration order, whatever their Order.
  int32_t Order = 0;
  // Makes one owned by AOwner; nullptr for a class that describes only
  // what its descendants inherit (TComponent, TBlock, TProQueue).
  TComponent* (*Create)(TComponent* AOwner) = nullptr;
  // Whether X is of this class or of a class derived from it.
  bool (*Is)(const TComponent& X) = nullptr;
  // The nearest described ancestor; nullptr for TComponent.
  const TClassInfo* Base = nullptr;
  TReportKind Report = TReportKind::None;
  std::vector<TStatisticInfo> Statistics = {};
  // Every stored property, inherited ones included, in the order a saved
  // model writes them (Tag first).
  std::vector<TPropertyInfo> Properties = {};
  // Every event, inherited ones included.
  std::vector<TEventInfo> Events = {};
  // Unset: as the Base's (at worst no trait at all).
  std::optional<TClassTraits> Traits = std::nullopt;
  std::string Summary = {}; // what the class does, in one line
  // The palette image: 24 rows of 24 hexadecimal digits, each an index into
  // the package's 16 colours (see PaletteBitmap); nullptr for none.
  const char* const* Image = nullptr;

  const TPropertyInfo* FindProperty(const std::string& Name) const;
  const TEventInfo* FindEvent(const std::string& Name) const;
  // The event names joined by ", ", or "none".
  std::string EventNames() const;
};

// Every described class: the library's (abstract ones first, then the
// palette's in palette order), then the application's in registration order.
std::vector<const TClassInfo*> Classes();
// The described class of that name, or nullptr.
const TClassInfo* FindClassInfo(const std::string& Name);
// The description of X's class, else of its nearest described ancestor
// (at worst TComponent's): never nullptr.
const TClassInfo* ClassInfoOf(const TComponent& X);
// The traits of the class, else of its nearest ancestor that states them.
const TClassTraits& TraitsOf(const TClassInfo& Info);
// The traits of X's class (ClassInfoOf).
const TClassTraits& TraitsOf(const TComponent& X);
// The library's palette classes whose traits answer true, for messages: "a
// TServer, TStorage or TStoragePrty".
std::string ClassesThat(bool (*Test)(const TClassTraits& Traits));
// Describes a class of the application and puts it on the palette Page
// (when it has a Create). Info must live as long as the program; a second
// description of a known name is ignored.
void RegisterClassInfo(const std::string& Page, const TClassInfo& Info);

} // namespace quorin
