// The class descriptions: one contract over every class, a model built and
// run through descriptions alone (as the front ends build one), and classes
// of the application.
#include <gtest/gtest.h>

#include <charconv>
#include <sstream>

#include "message_capture.h"
#include "quorin/quorin.h"

using namespace quorin;

namespace {

double Parse(const TPropertyInfo& P, const std::string& Text) {
  if (P.Type == TPropertyType::Boolean) return Text == "true";
  double V = 0;
  std::from_chars(Text.data(), Text.data() + Text.size(), V);
  return V;
}

// Every class on the palette is described, and every description keeps its
// word on a fresh component: it makes one of its class, each property reads
// its default, writes it back as text that reads back, and takes it again;
// each event can be bound and cleared.
TEST(ClassInfo, EveryDescriptionKeepsItsWordOnAFreshComponent) {
  Blocks::Register();
  Statsim::Register();
  const auto Palette = PaletteClasses("Quorin");
  // Which classes, in which order: the palette test (package_test.cpp).
  ASSERT_FALSE(Palette.empty());
  for (const TComponentClass& Entry : Palette) {
    const TClassInfo* C = FindClassInfo(Entry.ClassName);
    ASSERT_NE(C, nullptr) << Entry.ClassName;
    EXPECT_EQ(C->Create, Entry.Create) << C->Name;
    EXPECT_FALSE(C->Summary.empty()) << C->Name;
    EXPECT_NE(C->Image, nullptr) << C->Name;
    TComponent App(nullptr);
    TComponent* X = C->Create(&App);
    EXPECT_EQ(ClassInfoOf(*X), C) << C->Name;
    EXPECT_EQ(ClassNameOf(*X), C->Name);
    EXPECT_EQ((dynamic_cast<TBlock*>(X) != nullptr), C->Report != TReportKind::None) << C->Name;
    ASSERT_FALSE(C->Properties.empty()) << C->Name;
    EXPECT_EQ(C->Properties.front().Name, "Tag") << C->Name;
    for (const TPropertyInfo& P : C->Properties) {
      EXPECT_EQ(P.Get(*X), P.Default) << C->Name << '.' << P.Name;
      EXPECT_EQ(Parse(P, P.Format(*X)), P.Default) << C->Name << '.' << P.Name;
      EXPECT_TRUE(P.Set(*X, P.Default)) << C->Name << '.' << P.Name;
      EXPECT_LE(P.Min, P.Default);
      EXPECT_GE(P.Max, P.Default);
    }
    for (const TEventInfo& E : C->Events) {
      EXPECT_FALSE(E.Assigned(*X)) << C->Name << '.' << E.Name;
      E.Assign(*X, [](const TEventArgs&) {});
      EXPECT_TRUE(E.Assigned(*X)) << C->Name << '.' << E.Name;
      E.Assign(*X, nullptr);
      EXPECT_FALSE(E.Assigned(*X)) << C->Name << '.' << E.Name;
    }
    EXPECT_EQ(C->FindProperty("NoSuchProperty"), nullptr);
    EXPECT_EQ(C->FindEvent("OnNoSuchEvent"), nullptr);
  }
}

// A setter's refusal comes back as false, with the setter's own message.
TEST(ClassInfo, SettersKeepTheirChecks) {
  test::TMessageCapture Capture;
  TComponent App(nullptr);
  struct TCase {
    const char* Class;
    const char* Property;
    double Refused;
  };
  for (const TCase& Case :
       {TCase{"TQueue", "Capacity", -1}, TCase{"TTabulator", "IntervalCount", 0},
        TCase{"TMultiRand", "Seed", 0}, TCase{"TModel", "HeapSize", 0}}) {
    const TClassInfo* C = FindClassInfo(Case.Class);
    TComponent* X = C->Create(&App);
    const TPropertyInfo* P = C->FindProperty(Case.Property);
    ASSERT_NE(P, nullptr) << Case.Class << '.' << Case.Property;
    EXPECT_FALSE(P->Set(*X, Case.Refused)) << Case.Class << '.' << Case.Property;
    EXPECT_EQ(P->Get(*X), P->Default) << Case.Class << '.' << Case.Property;
  }
}

// Door -> Clerk -> Exit made, set and wired through the descriptions only;
// the run and its report are those of the same model written in C++.
TEST(ClassInfo, AModelBuiltThroughDescriptionsRuns) {
  TComponent App(nullptr);
  auto* Form = new TComponent(&App);
  auto Make = [Form](const char* Class, const char* Name) {
    TComponent* X = FindClassInfo(Class)->Create(Form);
    X->SetName(Name);
    return X;
  };
  auto* Model = dynamic_cast<TModel*>(Make("TModel", "Model"));
  TComponent* Door = Make("TGenerator", "Door");
  TComponent* Clerk = Make("TServer", "Clerk");
  TComponent* Exit = Make("TTerminator", "Exit");
  auto Bind = [](TComponent* X, const char* Event, TEventAction Action) {
    ClassInfoOf(*X)->FindEvent(Event)->Assign(*X, std::move(Action));
  };
  auto Next = [](double Delay) {
    return [Delay](const TEventArgs& A) { A.Sender->NextTime(Delay); };
  };
  auto PassTo = [](TComponent* To) {
    return [To](const TEventArgs& A) {
      static_cast<TBlock*>(A.Sender)->PassTo(dynamic_cast<TBlock*>(To));
    };
  };
  Bind(Door, "OnBeforeTimeGoOn", Next(1));
  Bind(Door, "OnAfterGeneration", Next(1));
  Bind(Door, "OnRouting", PassTo(Clerk));
  int Entered = 0;
  Bind(Clerk, "OnEnter", [&Entered, Clerk](const TEventArgs& A) {
    ++Entered;
    EXPECT_EQ(A.Sender, Clerk);
    EXPECT_NE(A.Trans, nullptr);
    dynamic_cast<TServer*>(Clerk)->NextTime(0.5);
  });
  Bind(Clerk, "OnRouting", PassTo(Exit));
  Model->Simulate(10.25);
  EXPECT_EQ(Entered, 10);
  EXPECT_EQ(dynamic_cast<TBlock*>(Exit)->Entries(), 10);
  const auto Rows = CollectReport(*Model);
  ASSERT_EQ(Rows.size(), 3u);
  EXPECT_EQ(Rows[1].Kind, TReportKind::Server);
  EXPECT_DOUBLE_EQ(double(*Rows[1].Usage), 5.0 / ModelTime()); // ten services of 0.5
  Model->Reset();
}

// A class of the application that describes nothing goes by its nearest
// described ancestor; one that registers a description is found by name,
// stands on the palette and is reported by its own description.
class TDesk : public TQueue {
public:
  using TQueue::TQueue;
};

class TBell : public TBlock {
public:
  using TBlock::TBlock;
  int32_t Rings() const { return 3; }
};

TEST(ClassInfo, ClassesOfTheApplication) {
  TComponent App(nullptr);
  auto* Desk = new TDesk(&App);
  EXPECT_EQ(ClassInfoOf(*Desk), FindClassInfo("TQueue"));
  EXPECT_EQ(ClassInfoOf(App)->Name, "TComponent");

  static const TClassInfo Bell = [] {
    TClassInfo C = *FindClassInfo("TBlock");
    C.Name = "TBell";
    C.Create = [](TComponent* Owner) -> TComponent* { return new TBell(Owner); };
    C.Is = [](const TComponent& X) { return dynamic_cast<const TBell*>(&X) != nullptr; };
    C.Base = FindClassInfo("TBlock");
    C.Report = TReportKind::Gate;
    C.Statistics = {{TReportColumn::MaxContent, [](const TComponent& X) -> long double {
                       return dynamic_cast<const TBell&>(X).Rings();
                     }}};
    return C;
  }();
  RegisterClassInfo("Bells", Bell);
  RegisterClassInfo("Bells", Bell); // again: nothing changes
  EXPECT_EQ(FindClassInfo("TBell"), &Bell);
  ASSERT_EQ(PaletteClasses("Bells").size(), 1u);
  auto* Form = new TComponent(&App);
  auto* Model = new TModel(Form);
  TComponent* Made = PaletteClasses("Bells")[0].Create(Form);
  EXPECT_EQ(ClassInfoOf(*Made), &Bell);
  Model->Simulate(1);
  const auto Rows = CollectReport(*Model);
  ASSERT_EQ(Rows.size(), 1u);
  EXPECT_EQ(Rows[0].Kind, TReportKind::Gate);
  EXPECT_EQ(Rows[0].MaxContent, 3);
  Model->Reset();
}

} // namespace
