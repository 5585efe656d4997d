// Collects the texts shown through MessageDlg while it lives.
#pragma once

#include <string>
#include <vector>

#include "quorin/framework.h"

namespace quorin::testing {

class MessageCapture {
public:
  MessageCapture()
      : FPrevious(SetMessageHandler([this](const std::string& Text) { Messages.push_back(Text); })) {}
  ~MessageCapture() { SetMessageHandler(std::move(FPrevious)); }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  std::vector<std::string> Messages;

private:
  TMessageHandler FPrevious;
};

} // namespace quorin::testing
