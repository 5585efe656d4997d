// Components with an owner, the blocking message report, float formatting
// and the component palette: what a model's own code uses of the framework.
#pragma once

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

// The class name of X without the library's namespace: "TQueue" for a
// quorin::TQueue, "shop::TDesk" for a class of the application. The report,
// model files and messages all name classes through it.
std::string ClassNameOf(const TComponent& X);

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
