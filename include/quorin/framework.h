// The small component framework the library runs on: components with an owner,
// a blocking message report, float formatting and a bounded private heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace quorin {

// A named object with one owner. The owner deletes what it owns, in reverse
// creation order; a component deleted first leaves its owner's list, so a
// component on the stack declared after its owner is safe as well.
class TComponent {
public:
  explicit TComponent(TComponent* AOwner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return FName; }
  // Name, or for a component without one its class and its number among the
  // components of that class of its owner ("TMultiRand#2"), so that a
  // message never names an empty string.
  std::string DisplayName() const;
  void SetName(const std::string& Value) { FName = Value; }
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t Value) { FTag = Value; }
  TComponent* Owner() const { return FOwner; }
  int32_t ComponentCount() const { return static_cast<int32_t>(FComponents.size()); }
  // Owned component at Index in creation order; nullptr outside the range.
  TComponent* Components(int32_t Index) const;

private:
  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
  std::string FName;
  int32_t FTag = 0;
};

// Message box. MessageDlg hands the text to the current handler and returns
// when it returns; the default handler writes the text and a newline to
// standard error. SetMessageHandler installs a handler (an empty one restores
// the default) and returns the previous one.
using TMessageHandler = std::function<void(const std::string& Text)>;
void MessageDlg(const std::string& Text);
TMessageHandler SetMessageHandler(TMessageHandler Handler);

// Where a message comes from, for the code that runs handlers on a user's
// behalf (a model file's standard handlers): while a TMessageScope of a
// place lives, MessageDlg ends every text with " (" + Describe() + ")" of
// the innermost place, so that a message names the handler, its file and
// line and the model time. Without a scope the texts are as documented.
class TMessagePlace {
public:
  virtual ~TMessagePlace() = default;
  virtual std::string Describe() const = 0;
};
class TMessageScope {
public:
  explicit TMessageScope(const TMessagePlace& Place);
  ~TMessageScope();
  TMessageScope(const TMessageScope&) = delete;
  TMessageScope& operator=(const TMessageScope&) = delete;

private:
  const TMessagePlace* FOuter;
};

// Formats Value with as many decimals as Pattern has zeros after its point
// ("0.000" gives three decimals, "0.0000000" seven), rounding half away from zero.
std::string FormatFloat(const std::string& Pattern, double Value);

// Private heap: a set of blocks taken from the general heap and accounted
// against a maximum. HeapAlloc answers nullptr once the live bytes would pass
// MaximumSize; HeapDestroy gives every block back at once.
struct TPrivateHeap;
using THeap = TPrivateHeap*;
inline constexpr uint32_t HEAP_NO_SERIALIZE = 0x1;
inline constexpr uint32_t HEAP_ZERO_MEMORY = 0x8;

THeap HeapCreate(uint32_t Options, std::size_t InitialSize, std::size_t MaximumSize);
void* HeapAlloc(THeap Heap, uint32_t Flags, std::size_t Bytes);
bool HeapFree(THeap Heap, uint32_t Flags, void* Memory);
bool HeapDestroy(THeap Heap);
// Bytes currently allocated from Heap (0 for nullptr); for reports and tests.
std::size_t HeapUsed(THeap Heap);

// Fault injection, for tests: after this call HeapAlloc refuses the requests
// numbered First to First + Count - 1 (counting from 1, over all heaps), as
// a full heap would. The default Count refuses every request from First on.
// First 0 turns refusals off. HeapRequests() answers the requests made
// since the last call. While off, HeapAlloc pays one test of a flag.
void HeapInjectFault(std::size_t First, std::size_t Count = SIZE_MAX);
std::size_t HeapRequests();

// Component palette: classes known by name, grouped in pages. A page and the
// classes of a page are answered in registration order; a class already on
// a page is not added to it again, so registering twice changes nothing.
struct TComponentClass {
  std::string ClassName;
  TComponent* (*Create)(TComponent* AOwner);
};
void RegisterComponents(const std::string& Page, std::initializer_list<TComponentClass> Classes);
std::vector<std::string> PalettePages();
// The classes of Page; empty for a page never registered.
std::vector<TComponentClass> PaletteClasses(const std::string& Page);

} // namespace quorin
