#include "quorin/framework.h"

#include <cstdio>

namespace quorin {

namespace {
TMessageHandler& CurrentHandler() {
  static TMessageHandler Handler;
  return Handler;
}

const TMessagePlace* CurrentPlace = nullptr;
} // namespace

TMessageScope::TMessageScope(const TMessagePlace& Place) : FOuter(CurrentPlace) {
  CurrentPlace = &Place;
}

TMessageScope::~TMessageScope() {
  CurrentPlace = FOuter;
}

void MessageDlg(const std::string& Text) {
  const TMessageHandler& Handler = CurrentHandler();
  const std::string Placed =
      CurrentPlace ? Text + " (" + CurrentPlace->Describe() + ")" : std::string();
  const std::string& Shown = CurrentPlace ? Placed : Text;
  if (Handler) {
    Handler(Shown);
  } else {
    std::fprintf(stderr, "%s\n", Shown.c_str());
  }
}

TMessageHandler SetMessageHandler(TMessageHandler Handler) {
  TMessageHandler Previous = std::move(CurrentHandler());
  CurrentHandler() = std::move(Handler);
  return Previous;
}

} // namespace quorin
