#include <gtest/gtest.h>

#include "message_capture.h"
#include "quorin/detail/heap.h"
#include "quorin/framework.h"

using namespace quorin;

namespace {

// Counts its destructions, to show who deletes what.
struct TCounted : TComponent {
  explicit TCounted(TComponent* Owner, int& Deleted) : TComponent(Owner), FDeleted(Deleted) {}
  ~TCounted() override { ++FDeleted; }
  int& FDeleted;
};

TEST(Component, OwnerKeepsChildrenInCreationOrderAndDeletesThem) {
  int Deleted = 0;
  auto* App = new TComponent(nullptr);
  auto* A = new TCounted(App, Deleted);
  auto* B = new TCounted(App, Deleted);
  auto* Grandchild = new TCounted(B, Deleted);
  A->SetName("A");
  A->SetTag(7);
  ASSERT_EQ(App->ComponentCount(), 2);
  EXPECT_EQ(App->Components(0), A);
  EXPECT_EQ(App->Components(1), B);
  EXPECT_EQ(App->Components(2), nullptr);
  EXPECT_EQ(App->Components(-1), nullptr);
  EXPECT_EQ(Grandchild->Owner(), B);
  EXPECT_EQ(A->Name(), "A");
  EXPECT_EQ(A->Tag(), 7);
  delete App;
  EXPECT_EQ(Deleted, 3);
}

TEST(Component, ComponentDeletedFirstLeavesItsOwner) {
  TComponent App(nullptr);
  int Deleted = 0;
  auto* A = new TCounted(&App, Deleted);
  auto* B = new TCounted(&App, Deleted);
  delete A;
  ASSERT_EQ(App.ComponentCount(), 1);
  EXPECT_EQ(App.Components(0), B);
  {
    // A component on the stack, destroyed before its owner.
    TCounted OnStack(&App, Deleted);
    EXPECT_EQ(App.ComponentCount(), 2);
  }
  EXPECT_EQ(App.ComponentCount(), 1);
  EXPECT_EQ(Deleted, 2);
}

TEST(Message, HandlerCapturesAndPreviousIsRestored) {
  std::vector<std::string> Outer;
  TMessageHandler Before =
      SetMessageHandler([&Outer](const std::string& T) { Outer.push_back(T); });
  {
    test::TMessageCapture Capture;
    MessageDlg("Quorin Error: first");
    EXPECT_EQ(Capture.Messages, std::vector<std::string>{"Quorin Error: first"});
  }
  MessageDlg("second");
  EXPECT_EQ(Outer, std::vector<std::string>{"second"});
  SetMessageHandler(std::move(Before));
}

TEST(Message, EmptyHandlerRestoresTheDefaultOnStandardError) {
  TMessageHandler Before = SetMessageHandler(nullptr);
  testing::internal::CaptureStderr();
  MessageDlg("Quorin Error: to stderr");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Quorin Error: to stderr\n");
  SetMessageHandler(std::move(Before));
}

TEST(FormatFloat, PatternsGiveTheirDecimals) {
  struct Case {
    const char* Pattern;
    double Value;
    const char* Text;
  } Cases[] = {
      {"0.000", 12.5, "12.500"},
      {"0.000", 0.0, "0.000"},
      {"0.000", 2.0005, "2.001"},
      {"0.000", -0.0001, "0.000"},
      {"0.0000000", 2.0, "2.0000000"},
      {"0.0000000", 1.23456789, "1.2345679"},
      {"0.0000000", 1e9, "1000000000.0000000"},
      {"0", 3.6, "4"},
  };
  for (const Case& C : Cases)
    EXPECT_EQ(FormatFloat(C.Pattern, C.Value), C.Text) << C.Value;
}

TEST(PrivateHeap, RefusesPastItsMaximumAndFreesBlocks) {
  THeap Heap = HeapCreate(0, 2048, 4096);
  void* A = HeapAlloc(Heap, HEAP_NO_SERIALIZE, 3000);
  ASSERT_NE(A, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(A) % 16, 0u);
  EXPECT_EQ(HeapAlloc(Heap, 0, 1097), nullptr);
  void* B = HeapAlloc(Heap, HEAP_ZERO_MEMORY, 1096);
  ASSERT_NE(B, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(B)[1095], 0);
  EXPECT_EQ(HeapUsed(Heap), 4096u);
  EXPECT_TRUE(HeapFree(Heap, 0, A));
  EXPECT_EQ(HeapUsed(Heap), 1096u);
  EXPECT_NE(HeapAlloc(Heap, 0, 3000), nullptr);
  // Destroy gives back the remaining blocks at once (the sanitizer build checks for leaks).
  EXPECT_TRUE(HeapDestroy(Heap));
  EXPECT_EQ(HeapAlloc(nullptr, 0, 16), nullptr);
}

} // namespace
