#include "quorin/framework.h"

#include <cstdio>

namespace quorin {

namespace {
TMessageHandler& CurrentHandler() {
  static TMessageHandler Handler;
  return Handler;
}
} // namespace

void MessageDlg(const std::string& Text) {
  const TMessageHandler& Handler = CurrentHandler();
  if (Handler) {
    Handler(Text);
  } else {
    std::fprintf(stderr, "%s\n", Text.c_str());
  }
}

TMessageHandler SetMessageHandler(TMessageHandler Handler) {
  TMessageHandler Previous = std::move(CurrentHandler());
  CurrentHandler() = std::move(Handler);
  return Previous;
}

} // namespace quorin
